// The AVX2 geometry sweeps against the portable path: streams, encoder
// reconstructions, decoded positions, details and local frames must agree bit
// for bit on generated meshes (boundaries, odd layer sizes, collapsed and
// zero frames that fall back to the world axes) and on the real sequences.
// Also the reuse of the predictions summed by computeLayerFrames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Encoder/GeometryCoder.h"
#include "SequenceEncoder/GeometryEncoder.h"
#include "Encoder/RedundancyMinCoder.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "TestSupport.h"

using namespace orv;

namespace {

// Selects a path for one scope and restores the default afterwards.
class SimdPath {
public:
    explicit SimdPath(bool _on) : before_(geometrySimd()) { setGeometrySimd(_on); }
    ~SimdPath() { setGeometrySimd(before_); }
    SimdPath(const SimdPath&) = delete;
    SimdPath& operator=(const SimdPath&) = delete;

private:
    bool before_;
};

#define ORV_REQUIRE_SIMD()                                                                  \
    do {                                                                                    \
        SimdPath probe(true);                                                               \
        if (!geometrySimd()) GTEST_SKIP() << "this processor has no AVX2: one path only";   \
    } while (0)

template <typename T>
int64_t firstDifference(const GeometryT<T>& a, const GeometryT<T>& b) {
    if (a.V != b.V || a.F != b.F) return 0;
    for (int f = 0; f < a.F; ++f)
        for (int i = 0; i < 3 * a.V; ++i)
            if (std::memcmp(&a.frame(f)[i], &b.frame(f)[i], sizeof(T)) != 0) return static_cast<int64_t>(f) * 3 * a.V + i;
    return -1;
}

// A W x H grid (a boundary all round) waving in time; frame 3 collapses the
// left third of the grid to one point and frame 5 puts everything at the
// origin, so many local frames are degenerate there.
struct Wave {
    FaceList faces;
    GeometryT<double> positions;
    Wave(int W, int H, int F) : positions(W * H, F) {
        for (int j = 0; j + 1 < H; ++j)
            for (int i = 0; i + 1 < W; ++i) {
                const int a = j * W + i;
                faces.push_back({a, a + 1, a + W + 1});
                faces.push_back({a, a + W + 1, a + W});
            }
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> jitter(-0.003, 0.003);
        for (int f = 0; f < F; ++f)
            for (int v = 0; v < W * H; ++v) {
                const double x = (v % W) / double(W), y = (v / W) / double(H);
                Vector3d p{x + jitter(rng), y + jitter(rng), 0.1 * std::sin(6 * x + 0.3 * f) * std::cos(5 * y)};
                if (f == 3 && v % W < W / 3) p = {0.25, 0.5, 0.0};
                if (f == 5) p = {0.0, 0.0, 0.0};
                positions.setPosition(v, f, p);
            }
    }
};

struct DecodedStream {
    std::unique_ptr<DecoderContext> context;
};

DecodedStream decode(const std::vector<uint8_t>& file, const FaceList& faces) {
    BitBuffer buffer(std::vector<uint8_t>(file.begin() + 4, file.end()));
    Settings settings;
    DecodedStream d;
    d.context = RedundancyMinCoder::readStreamHeader(buffer, settings);
    LODConnectivity lod(settings.nSL, faces, d.context->GDec.V);
    d.context->allLayerVertexOrders = lod.vertexOrder_;
    d.context->allLayerPredictors = lod.vertexPredictor_;
    decodeAllFrames(buffer, *d.context, settings, settings.nSL, settings.nTL, false);
    return d;
}

// Encodes and decodes on each path; everything observable must agree.
void expectPathsAgree(const GeometryT<double>& positions, const FaceList& faces, const Settings& s,
                      const double q[3], const RdOptions* rd = nullptr) {
    auto encode = [&] {
        return rd ? encodeSequence(positions, faces, s, q[2], *rd) : encodeSequence(positions, faces, s, q);
    };
    std::unique_ptr<EncodedSequence> encoded[2];
    std::unique_ptr<DecoderContext> decoded[2];
    for (int simd = 0; simd < 2; ++simd) {
        SimdPath path(simd != 0);
        encoded[simd] = std::make_unique<EncodedSequence>(encode());
        decoded[simd] = decode(encoded[simd]->streamFile, faces).context;
    }
    ASSERT_TRUE(encoded[0]->streamFile == encoded[1]->streamFile) << "the encoders chose different residuals";
    EXPECT_EQ(firstDifference(encoded[0]->reconstruction, encoded[1]->reconstruction), -1);
    EXPECT_EQ(firstDifference(decoded[0]->GDec, decoded[1]->GDec), -1);
    EXPECT_EQ(firstDifference(decoded[0]->GDetail, decoded[1]->GDetail), -1);
    EXPECT_EQ(firstDifference(decoded[0]->GFrames, decoded[1]->GFrames), -1);
    EXPECT_EQ(firstDifference(decoded[1]->GDec, encoded[1]->reconstruction), -1);
}

}  // namespace

TEST(GeometrySimd, GeneratedMeshesCodeIdenticallyOnBothPaths) {
    ORV_REQUIRE_SIMD();
    const double q[3] = {0.001, 0.002, 0.004};
    // Sizes chosen so the layers' vertex counts leave every remainder by 4.
    // 41 x 33: layers of several hundred vertices, which the sweeps take in
    // blocks, the last one short.
    for (const auto& [W, H] : {std::pair{9, 7}, std::pair{12, 11}, std::pair{5, 4}, std::pair{41, 33}}) {
        SCOPED_TRACE(std::to_string(W) + " x " + std::to_string(H));
        const Wave wave(W, H, 8);
        for (int blp = 0; blp < 2; ++blp) {
            Settings s;
            s.nSL = 4;
            s.nTL = 3;
            s.baseLayerPred = blp;
            expectPathsAgree(wave.positions, wave.faces, s, q);
        }
    }
}

TEST(GeometrySimd, RateDistortionEncoderAgreesOnBothPaths) {
    // Two enhancement passes per layer (recording, then the decisions) on
    // the predictions parked by computeLayerFrames.
    ORV_REQUIRE_SIMD();
    const Wave wave(10, 9, 6);
    Settings s;
    s.nSL = 3;
    RdOptions rd;
    rd.rdoq = true;
    rd.emptyChunks = true;
    rd.deadZone = true;
    const double q[3] = {0.002, 0.002, 0.002};
    expectPathsAgree(wave.positions, wave.faces, s, q, &rd);
}

// The dead zone in the AVX2 enhancement pass: the zone's zeros only or all
// its values, thetas at both ends of [0, 1] (1 turns every zero quotient into
// a residual of one), with and without the vertex guard, and at steps coarse
// enough that the zone and the guard decide many vertices.
TEST(GeometrySimd, DeadZonesAgreeOnBothPaths) {
    ORV_REQUIRE_SIMD();
    const Wave wave(23, 19, 6);
    Settings s;
    s.nSL = 4;
    s.nTL = 2;
    for (double step : {0.004, 0.012, 0.03}) {
        const double q[3] = {step, step, step};
        std::vector<uint8_t> unguarded;
        for (double guard : {0.0, 0.3, 0.6}) {
            for (double theta : {0.0, 0.25, 1.0})
                for (bool zeroOnly : {false, true}) {
                    SCOPED_TRACE("step " + std::to_string(step) + " guard " + std::to_string(guard) + " theta " +
                                 std::to_string(theta) + (zeroOnly ? " zeros only" : ""));
                    RdOptions rd;
                    rd.deadZone = true;
                    rd.deadZoneTheta = theta;
                    rd.deadZoneZeroOnly = zeroOnly;
                    rd.maxVertexError = guard;
                    expectPathsAgree(wave.positions, wave.faces, s, q, &rd);
                    if (theta == 0.25 && zeroOnly) {
                        // The guard has to change decisions for the case to
                        // test it.
                        const std::vector<uint8_t> stream = encodeSequence(wave.positions, wave.faces, s, q[2], rd).streamFile;
                        if (guard == 0.0)
                            unguarded = stream;
                        else
                            EXPECT_NE(stream, unguarded);
                    }
                }
        }
    }
}

TEST(GeometrySimd, LayerFramesAgreeForEveryGroupRemainder) {
    // One enhancement layer of n = 1..9 vertices over random base points,
    // some rings all at one point (world axes), the last vertex a predictor
    // in the last frame (its coordinates end the frame storage).
    ORV_REQUIRE_SIMD();
    for (int n = 1; n <= 9; ++n) {
        SCOPED_TRACE("layer of " + std::to_string(n));
        const int nBase = 12, V = nBase + n, F = 2;
        std::mt19937 rng(100 + n);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        std::vector<int> base, enh;
        std::vector<Predictor> basePreds, enhPreds;
        for (int v = n; v < V; ++v) {
            base.push_back(v);
            basePreds.push_back({});
        }
        for (int k = 0; k < n; ++k) {
            enh.push_back(n - 1 - k);  // reversed: the frame stores scatter
            Predictor p;
            const int m = 3 + static_cast<int>(rng() % 5);
            const int first = static_cast<int>(rng() % nBase);
            for (int i = 0; i < m; ++i) p.emplace_back(k % 3 == 2 ? V - 1 : n + (first + 5 * i) % nBase, 1.0 / m);
            enhPreds.push_back(p);
        }
        GeometryT<double> frames[2] = {GeometryT<double>(V, 3 * F), GeometryT<double>(V, 3 * F)};
        std::vector<double> positions[2];
        uint64_t fallbacks[2];
        for (int simd = 0; simd < 2; ++simd) {
            SimdPath path(simd != 0);
            DecoderContext c(V, F, 2);
            c.allLayerVertexOrders = {base, enh};
            c.allLayerPredictors = {basePreds, enhPreds};
            std::mt19937 pos(7);
            for (int f = 0; f < F; ++f)
                for (int v = n; v < V; ++v) c.GDec.setPosition(v, f, {u(pos), u(pos), f == 0 ? 0.0 : u(pos)});
            c.GDec.setPosition(V - 1, F - 1, {0.0, 0.0, 0.0});
            Settings s;
            s.nSL = 2;
            GeometryCoder coder(s, c);
            for (int f = 0; f < F; ++f) {
                c.filterDec[f][1] = {1.0};
                coder.decodeEnhancementLayerWithFrames(1, f, {0}, 0.25);
            }
            frames[simd] = c.GFrames;
            positions[simd].assign(c.GDec.frame(0), c.GDec.frame(0) + 3 * V * F);
            fallbacks[simd] = coder.fallbackFrames();
        }
        EXPECT_EQ(firstDifference(frames[0], frames[1]), -1);
        EXPECT_TRUE(std::memcmp(positions[0].data(), positions[1].data(), positions[0].size() * sizeof(double)) == 0);
        EXPECT_EQ(fallbacks[0], fallbacks[1]);
        EXPECT_GE(fallbacks[1], static_cast<uint64_t>(n / 3));  // the rings all at the origin
    }
}

TEST(GeometrySimd, ZeroRingsFallBackToWorldAxesOnBothPaths) {
    Settings s;
    s.nSL = 2;
    for (int simd = 0; simd < 2; ++simd) {
        SimdPath path(simd != 0);
        DecoderContext c(9, 1, 2);
        c.allLayerVertexOrders = {{0, 1, 2, 3}, {4, 5, 6, 7, 8}};
        const Predictor ring{{0, 0.25}, {1, 0.25}, {2, 0.25}, {3, 0.25}};
        c.allLayerPredictors = {{{}, {}, {}, {}}, {ring, ring, ring, ring, ring}};
        GeometryCoder coder(s, c);
        coder.computeLayerFrames(1, 0);  // every predictor at the origin
        for (int v = 4; v < 9; ++v) {
            EXPECT_EQ(c.GFrames.position(v, 0), (Vector3d{1, 0, 0}));
            EXPECT_EQ(c.GFrames.position(v, 1), (Vector3d{0, 1, 0}));
            EXPECT_EQ(c.GFrames.position(v, 2), (Vector3d{0, 0, 1}));
        }
        EXPECT_EQ(coder.fallbackFrames(), 5u);
    }
}

TEST(GeometrySimd, SameLayerTermsReadTheVerticesReconstructedBefore) {
    // A layering never gives an enhancement vertex a term of its own layer,
    // but if one does, the fused pass must still read that vertex as it
    // stands once reconstructed, as computeLayerFrames followed by
    // decodeEnhancementLayer does.
    Settings s;
    s.nSL = 2;
    const Predictor ring{{0, 0.25}, {1, 0.25}, {2, 0.25}, {3, 0.25}};
    const Predictor mixed{{0, 0.25}, {4, 0.25}, {2, 0.25}, {3, 0.25}};  // vertex 4 is coded just before
    std::vector<double> positions[2][2];
    for (int simd = 0; simd < 2; ++simd) {
        SimdPath path(simd != 0);
        for (int fused = 0; fused < 2; ++fused) {
            DecoderContext c(6, 1, 2);
            c.allLayerVertexOrders = {{0, 1, 2, 3}, {4, 5}};
            c.allLayerPredictors = {{{}, {}, {}, {}}, {ring, mixed}};
            const Vector3d at[4] = {{1, 0, 0}, {0, 1, 0.1}, {-1, 0, 0}, {0, -1, -0.1}};
            for (int v = 0; v < 4; ++v) c.GDec.setPosition(v, 0, at[v]);
            c.GQuant.setPosition(4, 0, {3, -2, 5});
            c.GQuant.setPosition(5, 0, {1, 1, 1});
            c.filterDec[0][1] = {};
            GeometryCoder coder(s, c);
            if (fused) {
                coder.decodeEnhancementLayerWithFrames(1, 0, {}, 0.5);
            } else {
                coder.computeLayerFrames(1, 0);
                coder.decodeEnhancementLayer(1, 0, {}, 0.5);
            }
            positions[simd][fused].assign(c.GDec.frame(0), c.GDec.frame(0) + 18);
        }
        EXPECT_EQ(positions[simd][0], positions[simd][1]);
    }
    EXPECT_EQ(positions[0][1], positions[1][1]);
}

TEST(GeometrySimd, ParkedPredictionsFollowTheLowerLayers) {
    // Recoding the base layer after computeLayerFrames must not leave the
    // enhancement pass on predictions from the old base positions.
    Settings s;
    s.nSL = 2;
    DecoderContext c(5, 2, 2);
    c.allLayerVertexOrders = {{0, 1, 2, 3}, {4}};
    c.allLayerPredictors = {{{}, {}, {}, {}}, {{{0, 0.25}, {1, 0.25}, {2, 0.25}, {3, 0.25}}}};
    GeometryT<double> original(5, 2);
    const Vector3d at[5] = {{1, 0, 0}, {0, 1, 0.1}, {-1, 0, 0}, {0, -1, -0.1}, {0.1, 0.2, 0.3}};
    for (int f = 0; f < 2; ++f)
        for (int v = 0; v < 5; ++v) original.setPosition(v, f, {at[v].x * (1 + f), at[v].y, at[v].z + 0.05 * f});
    GeometryEncoder coder(s, c);
    coder.encodeFirstFrame(0, 0.01, original);
    c.filterDec[1][1] = {1.0};
    coder.setQuantizer([](double, double, const ResidualSite&) { return 0.0; });
    coder.encodeBaseLayerGlobal(1, {0}, 0.01, original);
    coder.computeLayerFrames(1, 1);
    coder.setQuantizer({});
    coder.encodeBaseLayerGlobal(1, {0}, 0.01, original);  // the base moves
    coder.encodeEnhancementLayer(1, 1, {0}, 0.01, original);
    const Vector3d S = coder.spatialPrediction(1, 0, 1), d = c.GDetail.position(4, 1);
    const Vector3d t1 = c.GFrames.position(4, 3), t2 = c.GFrames.position(4, 4), n = c.GFrames.position(4, 5);
    const Vector3d p = c.GDec.position(4, 1);
    EXPECT_EQ(p.x, S.x + ((d.x * t1.x + d.y * t2.x) + d.z * n.x));
    EXPECT_EQ(p.y, S.y + ((d.x * t1.y + d.y * t2.y) + d.z * n.y));
    EXPECT_EQ(p.z, S.z + ((d.x * t1.z + d.y * t2.z) + d.z * n.z));
    EXPECT_LE(std::fabs(p.x - original.position(4, 1).x), 0.01);
}

TEST(GeometrySimd, RealSequencesCodeIdenticallyOnBothPaths) {
    ORV_REQUIRE_SIMD();
    for (const char* name : {"horse-gallop", "pcow"}) {
        SCOPED_TRACE(name);
        ORV_REQUIRE_SEQUENCE(dir, name);
        FaceList faces;
        const auto loaded = orvtest::loadSequence(dir, 12, faces);
        ASSERT_TRUE(loaded);
        const GeometryT<double>& positions = *loaded;
        const double q[3] = {0.0005, 0.0005, 0.001};
        expectPathsAgree(positions, faces, Settings{}, q);
    }
}

namespace {

// An enhancement layer of 11 vertices over 6 base points: rings that repeat a
// vertex (frames that are not orthonormal, solved on the portable path) mixed
// with ordinary ones, so groups of four go either way and the last group is
// short.
struct MixedLayer {
    static constexpr int nBase = 6, n = 11, V = nBase + n, F = 2;
    GeometryT<double> original{V, F};
    std::vector<std::vector<int>> orders{std::vector<int>{}, std::vector<int>{}};
    std::vector<std::vector<Predictor>> preds{std::vector<Predictor>{}, std::vector<Predictor>{}};

    MixedLayer() {
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int f = 0; f < F; ++f)
            for (int v = 0; v < V; ++v) original.setPosition(v, f, {u(rng), u(rng), 0.3 * u(rng)});
        for (int v = 0; v < nBase; ++v) {
            orders[0].push_back(v);
            preds[0].push_back({});
        }
        for (int k = 0; k < n; ++k) {
            orders[1].push_back(V - 1 - k);
            const int a = k % nBase, b = (k + 1) % nBase, c = (k + 3) % nBase, d = (k + 4) % nBase;
            if (k == 5 || k == 9)
                preds[1].push_back({{a, 1.0 / 3}, {b, 1.0 / 3}, {a, 1.0 / 3}});
            else
                preds[1].push_back({{a, 0.25}, {b, 0.25}, {c, 0.25}, {d, 0.25}});
        }
    }

    // Frame 0 then the enhancement layer of frame 1 on the encoder.
    DecoderContext encode(double _q) const {
        Settings s;
        s.nSL = 2;
        DecoderContext c(V, F, 2);
        c.allLayerVertexOrders = orders;
        c.allLayerPredictors = preds;
        GeometryEncoder coder(s, c);
        coder.encodeFirstFrame(0, 0.001, original);
        coder.encodeBaseLayerGlobal(1, {0}, 0.001, original);
        coder.computeLayerFrames(1, 1);
        c.filterDec[1][1] = {1.0};
        coder.encodeEnhancementLayer(1, 1, {0}, _q, original);
        return c;
    }
};

}  // namespace

TEST(GeometrySimd, EncoderGroupsLeftToThePortablePathAgree) {
    ORV_REQUIRE_SIMD();
    const MixedLayer layer;
    std::unique_ptr<DecoderContext> coded[2];
    for (int simd = 0; simd < 2; ++simd) {
        SimdPath path(simd != 0);
        coded[simd] = std::make_unique<DecoderContext>(layer.encode(0.002));
    }
    EXPECT_EQ(firstDifference(coded[0]->GQuant, coded[1]->GQuant), -1);
    EXPECT_EQ(firstDifference(coded[0]->GDec, coded[1]->GDec), -1);
    EXPECT_EQ(firstDifference(coded[0]->GDetail, coded[1]->GDetail), -1);
    // The repeated-vertex rings reach their targets through the solve.
    for (int k : {5, 9}) {
        const int v = MixedLayer::V - 1 - k;
        const Vector3d p = coded[1]->GDec.position(v, 1), x = layer.original.position(v, 1);
        EXPECT_LE(std::fabs(p.x - x.x) + std::fabs(p.y - x.y) + std::fabs(p.z - x.z), 3 * 0.003) << "vertex " << v;
    }
    // A step too small for 32-bit residuals is refused on both paths.
    for (int simd = 0; simd < 2; ++simd) {
        SimdPath path(simd != 0);
        EXPECT_THROW(layer.encode(1e-12), Error);
    }
}

// Eight vertices over five or more spatial layers leave layers empty; the
// parked enhancement pass of plain rounding (effort 0) once took an empty
// layer for parked and stopped on its internal check, on the AVX2 path only.
TEST(GeometrySimd, EmptyLayersOfASmallMeshAtPlainRounding) {
    ORV_REQUIRE_SIMD();
    const FaceList faces = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                            {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    GeometryT<double> positions(8, 4);
    for (int f = 0; f < 4; ++f)
        for (int v = 0; v < 8; ++v)
            positions.setPosition(v, f, {(v >> 2 & 1) + 0.1 * f * std::sin(v), (v >> 1 & 1) + 0.05 * f,
                                         (v & 1) + 0.02 * v * f});
    const double q[3] = {0.001, 0.002, 0.004};
    const RdOptions plain = RdOptions::forEffort(0);
    for (int nSL : {5, 8, 12}) {
        SCOPED_TRACE("nSL " + std::to_string(nSL));
        Settings s;
        s.nSL = nSL;
        s.nTL = 2;
        expectPathsAgree(positions, faces, s, q);
        expectPathsAgree(positions, faces, s, q, &plain);
    }
}
