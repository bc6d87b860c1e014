// Encoding on several threads: the frame scheduler's ordering and error
// rules, and streams and reconstructions that are the same bytes for every
// thread count, at every effort and coding-order setting, failures included.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Common/Check.h"
#include "SequenceEncoder/FrameScheduler.h"
#include "SequenceEncoder/RateControl.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "GeneratedMeshes.h"

using namespace orv;

namespace {

// Random dependencies on earlier positions, at most two each, as coding
// orders have.
std::vector<std::vector<int>> randomDeps(int _n, uint32_t _seed) {
    std::mt19937 rng(_seed);
    std::vector<std::vector<int>> deps(static_cast<size_t>(_n));
    for (int p = 1; p < _n; ++p) {
        const int k = static_cast<int>(rng() % 3);
        for (int j = 0; j < k; ++j) deps[static_cast<size_t>(p)].push_back(static_cast<int>(rng() % p));
    }
    return deps;
}

struct Wave {
    GeometryT<double> positions{0, 0};
    FaceList faces;
};

// A rippling torus: every frame differs, so every record has residuals.
Wave makeWave(int _F) {
    const int n = 12, m = 10;
    const orvtest::GeneratedMesh mesh = orvtest::torusMesh(n, m);
    Wave w;
    for (size_t i = 0; i < mesh.indices.size(); i += 3)
        w.faces.push_back({mesh.indices[i], mesh.indices[i + 1], mesh.indices[i + 2]});
    w.positions = GeometryT<double>(mesh.vertexCount, _F);
    for (int f = 0; f < _F; ++f)
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < m; ++j) {
                const double u = 6.283185307179586 * i / n, v = 6.283185307179586 * j / m;
                const double r = 0.3 + 0.05 * std::sin(3 * u + 0.4 * f);
                double* p = w.positions.frame(f) + 3 * (i * m + j);
                p[0] = (1 + r * std::cos(v)) * std::cos(u + 0.02 * f);
                p[1] = (1 + r * std::cos(v)) * std::sin(u);
                p[2] = r * std::sin(v) + 0.01 * f;
            }
    return w;
}

bool sameReconstruction(const GeometryT<double>& _a, const GeometryT<double>& _b) {
    return _a.V == _b.V && _a.F == _b.F &&
           std::memcmp(_a.frame(0), _b.frame(0), sizeof(double) * 3 * static_cast<size_t>(_a.V) * _a.F) == 0;
}

std::string messageOf(const std::function<void()>& _run) {
    try {
        _run();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(FrameScheduler, StartsAfterDependenciesAndDeliversInOrder) {
    for (int threads : {1, 2, 3, 8})
        for (uint32_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + " seed " + std::to_string(seed));
            const int n = 300;
            const auto deps = randomDeps(n, seed);
            std::vector<std::atomic<int>> done(static_cast<size_t>(n));
            std::atomic<int> lateStarts{0}, badWorker{0};
            std::vector<int> delivered;
            const std::thread::id caller = std::this_thread::get_id();
            bool deliveredElsewhere = false;
            runFramesInOrder(
                deps, threads,
                [&](int p, int w) {
                    if (w < 0 || w >= std::max(1, threads)) ++badWorker;
                    for (int d : deps[static_cast<size_t>(p)])
                        if (!done[static_cast<size_t>(d)].load()) ++lateStarts;
                    done[static_cast<size_t>(p)].store(1);
                },
                [&](int p) {
                    deliveredElsewhere = deliveredElsewhere || std::this_thread::get_id() != caller;
                    EXPECT_TRUE(done[static_cast<size_t>(p)].load());
                    delivered.push_back(p);
                });
            EXPECT_EQ(lateStarts.load(), 0);
            EXPECT_EQ(badWorker.load(), 0);
            EXPECT_FALSE(deliveredElsewhere);
            ASSERT_EQ(delivered.size(), static_cast<size_t>(n));
            for (int p = 0; p < n; ++p) EXPECT_EQ(delivered[static_cast<size_t>(p)], p);
        }
}

// One thread in order reports the earliest failure, coding or handing on,
// with everything before it handed on; so must every thread count.
TEST(FrameScheduler, EarliestFailureWinsWhateverTheThreads) {
    const int n = 200;
    const auto deps = randomDeps(n, 9);
    struct Case {
        std::vector<int> codeFails, deliverFails;
        int expected;
    };
    for (const Case& c : {Case{{150, 40, 90}, {}, 40}, Case{{120}, {60}, 60}, Case{{30}, {30}, 30},
                          Case{{0}, {}, 0}, Case{{}, {199}, 199}})
        for (int threads : {1, 2, 4}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + " expected " + std::to_string(c.expected));
            std::vector<int> delivered;
            const auto fails = [](const std::vector<int>& _list, int _p) {
                for (int q : _list)
                    if (q == _p) return true;
                return false;
            };
            const std::string message = messageOf([&] {
                runFramesInOrder(
                    deps, threads,
                    [&](int p, int) {
                        if (fails(c.codeFails, p)) throw Error("code " + std::to_string(p));
                    },
                    [&](int p) {
                        if (fails(c.deliverFails, p)) throw Error("deliver " + std::to_string(p));
                        delivered.push_back(p);
                    });
            });
            const bool codeFirst = fails(c.codeFails, c.expected);
            EXPECT_EQ(message, (codeFirst ? "code " : "deliver ") + std::to_string(c.expected));
            ASSERT_EQ(delivered.size(), static_cast<size_t>(c.expected));
            for (int p = 0; p < c.expected; ++p) EXPECT_EQ(delivered[static_cast<size_t>(p)], p);
        }
}

TEST(FrameScheduler, RefusesDependenciesThatAreNotEarlier) {
    const auto ignore = [](int) {};
    EXPECT_THROW(runFramesInOrder({{}, {1}}, 2, [](int, int) {}, ignore), CheckFailure);
    EXPECT_THROW(runFramesInOrder({{}, {}, {5}}, 1, [](int, int) {}, ignore), CheckFailure);
}

// Every coding-order shape and effort: the same bytes on 1, 2, 3 and 7
// threads, and progress on the calling thread, in order.
TEST(ParallelEncode, StreamsAndReconstructionsAreTheSameForEveryThreadCount) {
    const Wave w = makeWave(37);
    const double steps[3] = {0.002, 0.004, 0.006};
    for (int nTL : {1, 3, 5})
        for (int refFirst = 0; refFirst < 2; ++refFirst)
            for (int blp = 0; blp < 2; ++blp)
                for (int effort = -1; effort <= 2; ++effort) {
                    SCOPED_TRACE("nTL " + std::to_string(nTL) + " refFirstFrame " + std::to_string(refFirst) +
                                 " baseLayerPred " + std::to_string(blp) + " effort " + std::to_string(effort));
                    Settings s;
                    s.nSL = 4;
                    s.nTL = nTL;
                    s.refFirstFrame = refFirst != 0;
                    s.baseLayerPred = blp;
                    const auto encode = [&](int threads, const EncodeProgress& progress) {
                        return effort < 0 ? encodeSequence(w.positions, w.faces, s, steps, progress, threads)
                                          : encodeSequence(w.positions, w.faces, s, 0.004,
                                                           RdOptions::forEffort(effort), progress, threads);
                    };
                    const EncodedSequence one = encode(1, {});
                    for (int threads : {2, 3, 7}) {
                        int calls = 0;
                        bool inOrder = true, onCaller = true;
                        const std::thread::id caller = std::this_thread::get_id();
                        const EncodedSequence many = encode(threads, [&](int done, int total) {
                            inOrder = inOrder && done == calls + 1 && total == w.positions.F;
                            onCaller = onCaller && std::this_thread::get_id() == caller;
                            ++calls;
                        });
                        EXPECT_EQ(calls, w.positions.F);
                        EXPECT_TRUE(inOrder);
                        EXPECT_TRUE(onCaller);
                        EXPECT_TRUE(many.streamFile == one.streamFile) << threads << " threads";
                        EXPECT_TRUE(sameReconstruction(many.reconstruction, one.reconstruction)) << threads;
                    }
                }
}

// A residual that does not fit 32 bits in two frames: every thread count
// names the frame coded first, as one thread does.
TEST(ParallelEncode, FailuresNameTheFrameOneThreadWouldName) {
    Wave w = makeWave(24);
    // Coded late (frame 5, in the first group) and early (frame 16, a group's key frame).
    w.positions.frame(5)[0] = 1e12;
    w.positions.frame(16)[3] = -1e12;
    const double steps[3] = {1e-3, 1e-3, 1e-3};
    Settings s;
    s.nSL = 3;
    s.nTL = 4;
    const std::string one = messageOf([&] { encodeSequence(w.positions, w.faces, s, steps, {}, 1); });
    ASSERT_NE(one.find("of frame 5 does not fit"), std::string::npos) << one;
    for (int threads : {2, 4, 8})
        EXPECT_EQ(messageOf([&] { encodeSequence(w.positions, w.faces, s, steps, {}, threads); }), one) << threads;
}

TEST(ParallelEncode, RateControlFindsTheSameStreamOnAnyThreadCount) {
    const Wave w = makeWave(20);
    EncodingTarget t;
    t.value = 0.05;
    const TargetedEncoding one = encodeToTarget(w.positions, w.faces, Settings{}, RdOptions::forEffort(1), t, {}, 1);
    const TargetedEncoding two = encodeToTarget(w.positions, w.faces, Settings{}, RdOptions::forEffort(1), t, {}, 2);
    EXPECT_EQ(one.q, two.q);
    EXPECT_EQ(one.encodes, two.encodes);
    EXPECT_TRUE(one.encoded.streamFile == two.encoded.streamFile);
}
