// LayeringCache: the spatial layerings of one mesh, built once per layer count
// and handed to every encode of that mesh. The effort trials encode the same
// faces a dozen times, and decimating the mesh is the costliest part of a
// short encode; the layering depends on the faces, the vertex count and nSL
// alone, so sharing it changes no bit of any stream.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <thread>
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

    // Takes a layering of _nSL layers built elsewhere from faces equal to
    // these (LayeringInBackground); one already held is kept.
    void add(int _nSL, std::shared_ptr<const Layering> _layering);

private:
    const FaceList& faces_;
    int V_;
    mutable std::mutex mutex_;
    std::map<int, std::shared_ptr<const Layering>> layerings_;
    int built_ = 0;
};

// The layering of one layer count built on a thread of its own from a copy of
// the faces, so that it is ready when the encoder asks: an encoder program
// starts it once the first frame is read, beside the reading of the others.
// Faces that are not triangles of vertices 0.._V-1 start nothing (the
// encoder reports them); a failed build hands on nothing, and the encoder's
// own build then reports the failure.
class LayeringInBackground {
public:
    LayeringInBackground(const FaceList& _faces, int _V, int _nSL);
    ~LayeringInBackground();
    LayeringInBackground(const LayeringInBackground&) = delete;
    LayeringInBackground& operator=(const LayeringInBackground&) = delete;

    // Waits for the build and gives the layering to _cache, which must serve
    // faces equal to those given here.
    void handTo(LayeringCache& _cache);

private:
    FaceList faces_;
    int V_, nSL_;
    std::shared_ptr<const Layering> built_;
    std::thread thread_;
};

}  // namespace orv
