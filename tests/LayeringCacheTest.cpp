// The shared layerings: an encode handed a cache writes the stream it writes
// without one, each layer count is decimated once however many encodes and
// threads ask for it, and a cache built for other faces is not used.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>
#include <utility>

#include "Decoder/LODConnectivity.h"
#include "SequenceEncoder/EffortTrials.h"
#include "SequenceEncoder/LayeringCache.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "PosedSheet.h"

using namespace orv;

namespace {

orvtest::PosedSheet wave(int W, int H, int F) {
    return orvtest::posedSheet(W, H, F, [](int f, double x, double y) {
        return Vector3d{x, y, 0.05 * std::sin(4 * x + 0.3 * f) * std::cos(3 * y)};
    });
}

}  // namespace

TEST(LayeringCache, SameLayeringAsBuiltDirectlyAndBuiltOncePerLayerCount) {
    const orvtest::PosedSheet s = wave(12, 10, 2);
    LayeringCache cache(s.faces, s.positions.V);
    const auto a = cache.get(3);
    const auto b = cache.get(3);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(cache.built(), 1);
    LODConnectivity lod(3, s.faces, s.positions.V);
    EXPECT_EQ(a->vertexOrders, lod.vertexOrder_);
    EXPECT_EQ(a->predictors, lod.vertexPredictor_);
    cache.get(5);
    EXPECT_EQ(cache.built(), 2);
}

TEST(LayeringCache, ConcurrentRequestsDecimateOnce) {
    const orvtest::PosedSheet s = wave(16, 14, 2);
    LayeringCache cache(s.faces, s.positions.V);
    std::shared_ptr<const Layering> got[4];
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { got[t] = cache.get(4); });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(cache.built(), 1);
    for (int t = 1; t < 4; ++t) EXPECT_EQ(got[t].get(), got[0].get());
}

TEST(LayeringCache, EncodesWithTheCacheWriteTheSameStreams) {
    const orvtest::PosedSheet s = wave(14, 12, 9);
    Settings settings;
    settings.nSL = 4;
    const double steps[3] = {1e-3, 1e-3, 1e-3};
    LayeringCache cache(s.faces, s.positions.V);
    const EncodedSequence plain = encodeSequence(s.positions, s.faces, settings, steps);
    const EncodedSequence cached = encodeSequence(s.positions, s.faces, settings, steps, {}, 2, &cache);
    EXPECT_EQ(plain.streamFile, cached.streamFile);
    EXPECT_EQ(cache.built(), 1);
    // Through the effort trials, which encode many times: still one
    // decimation per layer count, and the stream of an encode without a cache.
    const RdOptions effort = RdOptions::forEffort(2);
    const EncodedSequence tried = encodeSequence(s.positions, s.faces, settings, 1e-3, effort, {}, 1);
    LayeringCache shared(s.faces, s.positions.V);
    const EncodedSequence triedShared = encodeSequence(s.positions, s.faces, settings, 1e-3, effort, {}, 2, &shared);
    EXPECT_EQ(tried.streamFile, triedShared.streamFile);
    // One per layer count the candidates try, far fewer than the encodes.
    LayeringCache planned(s.faces, s.positions.V);
    const EncodingPlan plan = planByTrial(s.positions, s.faces, settings, 1e-3, effort, 1, &planned);
    EXPECT_GE(plan.trialEncodes, 8);
    EXPECT_LE(planned.built(), 4);
    EXPECT_EQ(shared.built(), planned.built());
}

TEST(LayeringCache, CacheOfOtherFacesIsIgnored) {
    const orvtest::PosedSheet s = wave(10, 10, 3);
    const orvtest::PosedSheet other = wave(10, 10, 3);  // equal, but not the same faces
    LayeringCache cache(other.faces, other.positions.V);
    EXPECT_FALSE(cache.serves(s.faces, s.positions.V));
    EXPECT_FALSE(cache.serves(other.faces, other.positions.V + 1));
    Settings settings;
    settings.nSL = 3;
    const double steps[3] = {1e-3, 1e-3, 1e-3};
    const EncodedSequence a = encodeSequence(s.positions, s.faces, settings, steps, {}, 1, &cache);
    EXPECT_EQ(cache.built(), 0);
    EXPECT_EQ(a.streamFile, encodeSequence(s.positions, s.faces, settings, steps).streamFile);
}

// A layering built in the background from a copy of the faces (which may be
// gone by then) is the one the cache would build, is served without a build
// of the cache's own, and the encode with it writes the same stream.
TEST(LayeringCache, BackgroundLayeringIsTheCachesOwn) {
    const orvtest::PosedSheet s = wave(15, 11, 7);
    Settings settings;
    settings.nSL = 4;
    auto facesCopy = std::make_unique<FaceList>(s.faces);
    LayeringInBackground ahead(*facesCopy, s.positions.V, settings.nSL);
    facesCopy.reset();
    LayeringCache cache(s.faces, s.positions.V);
    ahead.handTo(cache);
    const auto got = cache.get(settings.nSL);
    EXPECT_EQ(cache.built(), 0);
    LODConnectivity lod(settings.nSL, s.faces, s.positions.V);
    EXPECT_EQ(got->vertexOrders, lod.vertexOrder_);
    EXPECT_EQ(got->predictors, lod.vertexPredictor_);
    const RdOptions effort = RdOptions::forEffort(1);
    EXPECT_EQ(encodeSequence(s.positions, s.faces, settings, 1e-3, effort, {}, 2, &cache).streamFile,
              encodeSequence(s.positions, s.faces, settings, 1e-3, effort, {}, 1).streamFile);
    // A layering the cache holds already is kept.
    LayeringInBackground again(s.faces, s.positions.V, settings.nSL);
    again.handTo(cache);
    EXPECT_EQ(cache.get(settings.nSL).get(), got.get());
}

// Faces that are not triangles of the mesh's vertices, and layer counts out
// of range, start no build: the cache builds (and the encoder reports) as
// without one.
TEST(LayeringCache, BackgroundLayeringOfBadFacesHandsOnNothing) {
    const orvtest::PosedSheet s = wave(8, 8, 2);
    const int V = s.positions.V;
    FaceList outside = s.faces, quad = s.faces;
    outside.back()[2] = V;
    quad.back().push_back(0);
    for (const auto& [faces, nSL] : {std::pair{outside, 3}, std::pair{quad, 3}, std::pair{s.faces, 0},
                                     std::pair{s.faces, 1000}}) {
        LayeringInBackground ahead(faces, V, nSL);
        LayeringCache cache(s.faces, V);
        ahead.handTo(cache);
        if (nSL >= 1 && nSL <= 20) {
            cache.get(nSL);
            EXPECT_EQ(cache.built(), 1);
        }
    }
    // Destroyed without being handed on: the build is waited for.
    { LayeringInBackground unused(s.faces, V, 3); }
}
