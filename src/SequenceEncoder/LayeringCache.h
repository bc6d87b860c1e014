// LayeringCache: the spatial layerings of one mesh, built once per layer count
// and handed to every encode of that mesh. The effort trials encode the same
// faces a dozen times, and decimating the mesh is the costliest part of a
// short encode; the layering depends on the faces, the vertex count and nSL
// alone, so sharing it changes no bit of any stream.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "Common/Types.h"

namespace orv {

struct Layering {
    std::vector<std::vector<int>> vertexOrders;
    std::vector<std::vector<Predictor>> predictors;
};

class LayeringCache {
public:
    // The faces must outlive the cache and stay unchanged.
    LayeringCache(const FaceList& _faces, int _V) : faces_(_faces), V_(_V) {}

    // Whether this cache may serve an encode of (_faces, _V).
    bool serves(const FaceList& _faces, int _V) const { return &_faces == &faces_ && _V == V_; }

    // The layering with _nSL layers; faces are checked by the caller first.
    // Safe to call from several threads; builds each layering once.
    std::shared_ptr<const Layering> get(int _nSL);

    int built() const;

private:
    const FaceList& faces_;
    int V_;
    mutable std::mutex mutex_;
    std::map<int, std::shared_ptr<const Layering>> layerings_;
    int built_ = 0;
};

}  // namespace orv
