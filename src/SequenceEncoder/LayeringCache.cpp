// Builds layerings on demand for LayeringCache (LayeringCache.h).
#include "SequenceEncoder/LayeringCache.h"

#include <system_error>

#include "Common/StreamRules.h"
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

void LayeringCache::add(int _nSL, std::shared_ptr<const Layering> _layering) {
    if (!_layering) return;
    std::lock_guard<std::mutex> lock(mutex_);
    layerings_.emplace(_nSL, std::move(_layering));
}

LayeringInBackground::LayeringInBackground(const FaceList& _faces, int _V, int _nSL)
    : faces_(_faces), V_(_V), nSL_(_nSL) {
    if (_V < 1 || _nSL < 1 || _nSL > stream_rules::kMaxSpatialLayers) return;
    for (const Face& face : faces_) {
        if (face.size() != 3) return;
        for (int v : face)
            if (v < 0 || v >= _V) return;
    }
    try {
        thread_ = std::thread([this] {
        try {
            LODConnectivity lod(nSL_, faces_, V_);
            auto layering = std::make_shared<Layering>();
            layering->vertexOrders = std::move(lod.vertexOrder_);
            layering->predictors = std::move(lod.vertexPredictor_);
            built_ = std::move(layering);
        } catch (...) {
            built_.reset();
        }
        });
    } catch (const std::system_error&) {
        // No thread to spare: the encoder builds it when it is needed.
    }
}

LayeringInBackground::~LayeringInBackground() {
    if (thread_.joinable()) thread_.join();
}

void LayeringInBackground::handTo(LayeringCache& _cache) {
    if (thread_.joinable()) thread_.join();
    _cache.add(nSL_, built_);
}

int LayeringCache::built() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return built_;
}

}  // namespace orv
