// Builds layerings on demand for LayeringCache (LayeringCache.h).
#include "SequenceEncoder/LayeringCache.h"

#include "Decoder/LODConnectivity.h"

namespace orv {

std::shared_ptr<const Layering> LayeringCache::get(int _nSL) {
    // Held while building: two trials asking for the same layer count at
    // once wait for one decimation instead of doing it twice.
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = layerings_.find(_nSL);
    if (it != layerings_.end()) return it->second;
    LODConnectivity lod(_nSL, faces_, V_);
    auto layering = std::make_shared<Layering>();
    layering->vertexOrders = std::move(lod.vertexOrder_);
    layering->predictors = std::move(lod.vertexPredictor_);
    ++built_;
    return layerings_.emplace(_nSL, std::move(layering)).first->second;
}

int LayeringCache::built() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return built_;
}

}  // namespace orv
