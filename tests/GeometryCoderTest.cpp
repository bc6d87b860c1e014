// GeometryCoder on hand-made layerings: the worked reconstruction examples, the
// degenerate-frame fallback, the temporal prediction rules, and the closed
// loop (encoding then decoding the chosen residuals gives the encoder's
// reconstruction bit for bit).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <type_traits>

#include "Common/Check.h"
#include "Encoder/GeometryCoder.h"
#include "SequenceEncoder/GeometryEncoder.h"
#include "SequenceEncoder/RateDistortion.h"

using namespace orv;

namespace {

Predictor equalTerms(std::initializer_list<int> ids) {
    Predictor p;
    for (int id : ids) p.emplace_back(id, 1.0 / static_cast<double>(ids.size()));
    return p;
}

void setR(DecoderContext& c, int v, int f, int x, int y, int z) { c.GQuant.setPosition(v, f, {x, y, z}); }

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Three base vertices (no predictors) placed at (0,0,0), (1,0,0), (0,1,0) by
// q = 0.5, then vertex 3 predicted from them.
DecoderContext workedExample(int F) {
    DecoderContext c(4, F, 1);
    c.allLayerVertexOrders = {{0, 1, 2, 3}};
    c.allLayerPredictors = {{{}, {}, {}, equalTerms({0, 1, 2})}};
    setR(c, 1, 0, 2, 0, 0);
    setR(c, 2, 0, 0, 2, 0);
    setR(c, 3, 0, 2, -1, 4);
    return c;
}

}  // namespace

TEST(GeometryCoder, WorkedFirstFrameExample) {
    Settings s;
    s.nSL = 1;
    DecoderContext c = workedExample(1);
    GeometryCoder coder(s, c);
    coder.decodeFirstFrame(0, 0.5);
    EXPECT_EQ(c.GDec.position(1, 0), (Vector3d{1, 0, 0}));
    const Vector3d S = coder.spatialPrediction(0, 3, 0);
    EXPECT_NEAR(S.x, 1.0 / 3, 1e-15);
    EXPECT_EQ(c.GDetail.position(3, 0), (Vector3d{1, -0.5, 2}));
    const Vector3d p = c.GDec.position(3, 0);
    EXPECT_NEAR(p.x, -0.72733, 5e-6);
    EXPECT_NEAR(p.y, -0.02022, 5e-6);
    EXPECT_NEAR(p.z, 2.0, 1e-12);
    const Vector3d t1 = c.GFrames.position(3, 0), n = c.GFrames.position(3, 2);
    EXPECT_NEAR(t1.x, -0.70711, 5e-6);
    EXPECT_NEAR(t1.y, -0.70711, 5e-6);
    EXPECT_EQ(n, (Vector3d{0, 0, 1}));
    EXPECT_EQ(coder.fallbackFrames(), 0u);
}

TEST(GeometryCoder, LocalFrameOfFourPointRing) {
    Settings s;
    s.nSL = 1;
    DecoderContext c(5, 1, 1);
    c.allLayerVertexOrders = {{0, 1, 2, 3, 4}};
    c.allLayerPredictors = {{{}, {}, {}, {}, equalTerms({0, 1, 2, 3})}};
    c.GDec.setPosition(0, 0, {1, 0, 0});
    c.GDec.setPosition(1, 0, {0, 1, 0});
    c.GDec.setPosition(2, 0, {-1, 0, 0});
    c.GDec.setPosition(3, 0, {0, -1, 0});
    GeometryCoder coder(s, c);
    const LocalFrame fr = coder.localFrame(0, 4, 0);
    ASSERT_TRUE(fr.ok);
    EXPECT_NEAR(fr.t1.x, 1, 1e-15);
    EXPECT_NEAR(fr.t1.y, 0, 1e-15);
    EXPECT_NEAR(fr.t2.x, 0, 1e-15);
    EXPECT_NEAR(fr.t2.y, 1, 1e-15);
    EXPECT_NEAR(fr.n.z, 1, 1e-15);
    EXPECT_THROW(coder.localFrame(0, 0, 0), CheckFailure);  // no terms: "!predictor.empty()"
}

TEST(GeometryCoder, DegenerateFrameFallsBackToWorldAxes) {
    Settings s;
    s.nSL = 2;
    DecoderContext c(4, 2, 2);
    c.allLayerVertexOrders = {{0, 1, 2}, {3}};
    c.allLayerPredictors = {{{}, {}, {}}, {equalTerms({0, 1, 2})}};
    setR(c, 3, 0, 2, -1, 4);  // predictors all at the origin
    GeometryCoder coder(s, c);
    EXPECT_FALSE(coder.localFrame(1, 0, 0).ok);
    coder.decodeFirstFrame(0, 0.5);
    EXPECT_EQ(c.GDec.position(3, 0), (Vector3d{1, -0.5, 2}));
    EXPECT_EQ(c.GFrames.position(3, 0), (Vector3d{1, 0, 0}));
    EXPECT_EQ(c.GFrames.position(3, 1), (Vector3d{0, 1, 0}));
    EXPECT_EQ(c.GFrames.position(3, 2), (Vector3d{0, 0, 1}));
    // An undecoded enhancement layer of a later frame predicting from zeros.
    c.filterDec[1][1] = {1.0};
    coder.computeLayerFrames(1, 1);
    coder.decodeEnhancementLayer(1, 1, {0}, -1.0);
    EXPECT_EQ(c.GDec.position(3, 1), (Vector3d{1, -0.5, 2}));
    EXPECT_EQ(coder.fallbackFrames(), 2u);
}

TEST(GeometryCoder, TemporalPredictionRules) {
    Settings s;
    s.nSL = 1;
    DecoderContext c(1, 4, 1);
    c.allLayerVertexOrders = {{0}};
    c.allLayerPredictors = {{{}}};
    c.GDetail.setPosition(0, 0, {1.0, 3.0, -0.1});
    c.GDetail.setPosition(0, 1, {2.0, 0.2, 0.7});
    setR(c, 0, 2, 1, 0, -2);
    GeometryCoder coder(s, c);

    coder.decodeBaseLayerGlobal(2, {0, 1}, 0.25);  // each reference divided by 2 before adding
    const Vector3d d = c.GDetail.position(0, 2);
    EXPECT_TRUE(sameBits(d.x, 1.0 / 2 + 2.0 / 2 + 0.25));
    EXPECT_TRUE(sameBits(d.y, 3.0 / 2 + 0.2 / 2 + 0.0));
    EXPECT_TRUE(sameBits(d.z, -0.1 / 2 + 0.7 / 2 + -0.5));
    EXPECT_EQ(c.GDec.position(0, 2), d);  // no predictor terms: position = detail

    coder.decodeBaseLayerLocal(2, {0, 1}, -1.0);  // not decoded: prediction alone
    EXPECT_TRUE(sameBits(c.GDetail.position(0, 2).x, 1.5));
    coder.decodeBaseLayerGlobal(2, {1}, 0.0);  // a zero step ignores the residual too
    EXPECT_EQ(c.GDetail.position(0, 2), (Vector3d{2.0, 0.2, 0.7}));
    coder.decodeBaseLayerGlobal(3, {}, 0.5);  // no reference: residual alone (zero here)
    EXPECT_EQ(c.GDec.position(0, 3), (Vector3d{0, 0, 0}));
    EXPECT_THROW(coder.decodeBaseLayerGlobal(3, {0, 1, 2}, 0.5), CheckFailure);
}

TEST(GeometryCoder, EnhancementLayerNeedsOneWeightPerReference) {
    Settings s;
    s.nSL = 2;
    DecoderContext c(4, 2, 2);
    c.allLayerVertexOrders = {{0, 1, 2}, {3}};
    c.allLayerPredictors = {{{}, {}, {}}, {equalTerms({0, 1, 2})}};
    GeometryCoder coder(s, c);
    coder.computeLayerFrames(1, 1);
    try {
        coder.decodeEnhancementLayer(1, 1, {0}, 0.5);
        FAIL() << "missing filter weights accepted";
    } catch (const CheckFailure& e) {
        EXPECT_NE(std::string(e.what()).find("_rf.size() == context_.filterDec[_f][_l].size()"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("Encoder/GeometryCoder"), std::string::npos);
    }
    EXPECT_THROW(coder.computeLayerFrames(0, 1), CheckFailure);
    EXPECT_THROW(coder.computeLayerFrames(2, 1), CheckFailure);
}

namespace {

// A small two-layer layering over a random point cloud: base vertices with
// 0..4 earlier predictors, enhancement vertices with 3..6 base predictors.
struct RandomScene {
    static constexpr int V = 40, F = 5, nBase = 16;
    GeometryT<double> original{V, F};
    std::vector<std::vector<int>> orders{std::vector<int>{}, std::vector<int>{}};
    std::vector<std::vector<Predictor>> preds{std::vector<Predictor>{}, std::vector<Predictor>{}};

    explicit RandomScene(unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int v = 0; v < V; ++v) {
            const Vector3d base{u(rng), u(rng), u(rng)};
            for (int f = 0; f < F; ++f)
                original.setPosition(v, f, {base.x + 0.1 * f * u(rng), base.y + 0.05 * f, base.z + 0.01 * u(rng)});
        }
        for (int v = 0; v < nBase; ++v) {
            orders[0].push_back(v);
            Predictor p;
            const int m = std::min(v, static_cast<int>(rng() % 5));
            for (int i = 0; i < m; ++i) p.emplace_back(v - 1 - i, 1.0 / m);
            preds[0].push_back(p);
        }
        for (int v = nBase; v < V; ++v) {
            orders[1].push_back(v);
            Predictor p;
            const int m = 3 + static_cast<int>(rng() % 4);
            // Distinct predictors, as a real layering gives; a ring that
            // repeats a vertex yields a frame that is not orthonormal.
            const int first = static_cast<int>(rng() % nBase);
            for (int i = 0; i < m; ++i) p.emplace_back((first + 3 * i) % nBase, 1.0 / m);
            preds[1].push_back(p);
        }
    }

    DecoderContext context(DecoderContext::Keep keep = DecoderContext::Keep::AllFrames) const {
        DecoderContext c(V, F, 2, keep);
        c.allLayerVertexOrders = orders;
        c.allLayerPredictors = preds;
        c.qStep[0] = 0.01;
        c.qStep[1] = 0.02;
        c.qStep[2] = 0.04;
        return c;
    }
};

// Runs frame 0 then frames 1..F-1 (references: the previous frame, and frame
// 0 as a second one for odd frames) through encoder (with the original) or
// decoder.
template <class Coder>
void run(Coder& coder, DecoderContext& c, const GeometryT<double>* original, int baseLayerPred) {
    constexpr bool encoding = std::is_same_v<Coder, GeometryEncoder>;
    if constexpr (encoding)
        coder.encodeFirstFrame(0, c.qStep[0], *original);
    else
        coder.decodeFirstFrame(0, c.qStep[0]);
    for (int f = 1; f < c.GDec.F; ++f) {
        std::vector<int> rf = {f - 1};
        if (f % 2) rf.push_back(0);
        if constexpr (encoding) {
            if (baseLayerPred)
                coder.encodeBaseLayerLocal(f, rf, c.qStep[1], *original);
            else
                coder.encodeBaseLayerGlobal(f, rf, c.qStep[1], *original);
        } else if (baseLayerPred) {
            coder.decodeBaseLayerLocal(f, rf, c.qStep[1]);
        } else {
            coder.decodeBaseLayerGlobal(f, rf, c.qStep[1]);
        }
        coder.computeLayerFrames(1, f);
        c.filterDec[f][1].assign(rf.size(), 1.0 / rf.size());
        if constexpr (encoding)
            coder.encodeEnhancementLayer(1, f, rf, c.qStep[2], *original);
        else
            coder.decodeEnhancementLayer(1, f, rf, c.qStep[2]);
    }
}

}  // namespace

TEST(GeometryCoder, ClosedLoopReconstructionIsTheDecodersBitForBit) {
    for (int baseLayerPred = 0; baseLayerPred < 2; ++baseLayerPred) {
        Settings s;
        s.nSL = 2;
        s.baseLayerPred = baseLayerPred;
        RandomScene scene(7u + baseLayerPred);
        DecoderContext enc = scene.context();
        GeometryEncoder encoder(s, enc);
        run(encoder, enc, &scene.original, baseLayerPred);

        DecoderContext dec = scene.context();
        dec.GQuant = enc.GQuant;
        GeometryCoder decoder(s, dec);
        run(decoder, dec, nullptr, baseLayerPred);

        for (int f = 0; f < RandomScene::F; ++f)
            for (int i = 0; i < 3 * RandomScene::V; ++i) {
                ASSERT_TRUE(sameBits(enc.GDec.frame(f)[i], dec.GDec.frame(f)[i])) << "frame " << f << " value " << i;
                // Closed loop: the error stays within the step of the layer.
                const double q = f == 0 ? 0.01 : (i / 3 < RandomScene::nBase ? 0.02 : 0.04);
                EXPECT_LE(std::fabs(enc.GDec.frame(f)[i] - scene.original.frame(f)[i]), q * 0.8661)
                    << "frame " << f << " value " << i;
            }
    }
}

TEST(GeometryCoder, EncoderContextWithOneWorkingFrameCodesAsTheFullOne) {
    // Residuals and local frames are kept for the coded frame only; positions
    // and details (which later frames predict from) stay whole.
    Settings s;
    s.nSL = 2;
    s.baseLayerPred = 1;
    RandomScene scene(21u);
    DecoderContext full = scene.context();
    DecoderContext slim = scene.context(DecoderContext::Keep::CodedFrameOnly);
    EXPECT_EQ(slim.GQuant.F, 1);
    EXPECT_EQ(slim.GFrames.F, 3);
    EXPECT_EQ(slim.GDetail.F, RandomScene::F);
    EXPECT_EQ(slim.quantFrame(3), slim.GQuant.frame(0));
    EXPECT_EQ(slim.axisFrame(4, 2), slim.GFrames.frame(2));
    EXPECT_EQ(full.axisFrame(4, 2), full.GFrames.frame(14));
    EXPECT_THROW(slim.quantFrame(RandomScene::F), CheckFailure);
    EXPECT_THROW(slim.axisFrame(-1, 0), CheckFailure);
    GeometryEncoder a(s, full), b(s, slim);
    run(a, full, &scene.original, 1);
    run(b, slim, &scene.original, 1);
    const int last = RandomScene::F - 1;
    for (int f = 0; f < RandomScene::F; ++f)
        for (int i = 0; i < 3 * RandomScene::V; ++i) {
            ASSERT_TRUE(sameBits(full.GDec.frame(f)[i], slim.GDec.frame(f)[i])) << "frame " << f << " value " << i;
            ASSERT_TRUE(sameBits(full.GDetail.frame(f)[i], slim.GDetail.frame(f)[i])) << "frame " << f;
        }
    for (int i = 0; i < 3 * RandomScene::V; ++i) {
        EXPECT_EQ(full.GQuant.frame(last)[i], slim.GQuant.frame(0)[i]);
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_TRUE(sameBits(full.axisFrame(last, axis)[i], slim.axisFrame(last, axis)[i]));
    }
}

// Residuals decided before the pass (a rate-distortion encoder's second
// pass) are coded as a Quantizer handing them out in turn codes them: the
// same GQuant, details and positions bit for bit, on the parked predictions
// of the recording pass as without them, and on both geometry paths.
TEST(GeometryCoder, GivenResidualsCodeAsAQuantizerHandingThemOut) {
    for (bool simd : {false, true})
        for (bool recorded : {true, false}) {
            SCOPED_TRACE(testing::Message() << "simd " << simd << ", recorded first " << recorded);
            const bool before = geometrySimd();
            setGeometrySimd(simd);
            Settings s;
            s.nSL = 2;
            const RandomScene scene(33u);
            DecoderContext a = scene.context(), b = scene.context();
            GeometryEncoder given(s, a), handed(s, b);
            given.encodeFirstFrame(0, a.qStep[0], scene.original);
            handed.encodeFirstFrame(0, b.qStep[0], scene.original);
            std::mt19937 rng(4);
            for (int f = 1; f < RandomScene::F; ++f) {
                const std::vector<int> rf = {f - 1};
                for (GeometryEncoder* e : {&given, &handed}) {
                    e->encodeBaseLayerGlobal(f, rf, a.qStep[1], scene.original);
                    e->computeLayerFrames(1, f);
                }
                a.filterDec[f][1].assign(1, 1.0);
                b.filterDec[f][1].assign(1, 1.0);
                if (recorded) {
                    // The recording pass leaves the parked predictions in use.
                    given.encodeEnhancementLayer(1, f, rf, a.qStep[2], scene.original);
                    handed.encodeEnhancementLayer(1, f, rf, b.qStep[2], scene.original);
                }
                std::vector<int> residuals(3 * scene.orders[1].size());
                for (int& r : residuals) r = static_cast<int>(rng() % 7) - 3;
                given.encodeEnhancementLayerGiven(1, f, rf, a.qStep[2], residuals);
                size_t next = 0;
                handed.setQuantizer([&](double, double, const ResidualSite&) {
                    return static_cast<double>(residuals[next++]);
                });
                handed.encodeEnhancementLayer(1, f, rf, b.qStep[2], scene.original);
                handed.setQuantizer({});
                ASSERT_EQ(next, residuals.size());
                for (int i = 0; i < 3 * RandomScene::V; ++i) {
                    ASSERT_EQ(a.GQuant.frame(f)[i], b.GQuant.frame(f)[i]) << "frame " << f << " value " << i;
                    ASSERT_TRUE(sameBits(a.GDec.frame(f)[i], b.GDec.frame(f)[i])) << "frame " << f << " value " << i;
                    ASSERT_TRUE(sameBits(a.GDetail.frame(f)[i], b.GDetail.frame(f)[i])) << "frame " << f;
                }
            }
            // One residual short of the layer is refused.
            std::vector<int> shortList(3 * scene.orders[1].size() - 1, 0);
            EXPECT_THROW(given.encodeEnhancementLayerGiven(1, 1, {0}, a.qStep[2], shortList), CheckFailure);
            setGeometrySimd(before);
        }
}

TEST(GeometryCoder, QuantizerHookAndResidualRange) {
    Settings s;
    s.nSL = 2;
    RandomScene scene(3);
    {
        DecoderContext c = scene.context();
        GeometryEncoder coder(s, c);
        int calls = 0;
        // A dead zone that sends everything to zero: positions become predictions.
        coder.setQuantizer([&](double, double, const ResidualSite&) {
            ++calls;
            return 0.0;
        });
        coder.encodeFirstFrame(0, 0.01, scene.original);
        EXPECT_EQ(calls, 3 * RandomScene::V);
        EXPECT_EQ(c.GDec.position(0, 0), (Vector3d{0, 0, 0}));
        coder.setQuantizer([](double, double, const ResidualSite&) { return 0.5; });
        EXPECT_THROW(coder.encodeFirstFrame(0, 0.01, scene.original), Error);
    }
    DecoderContext c = scene.context();
    GeometryEncoder coder(s, c);
    EXPECT_THROW(coder.encodeFirstFrame(0, 1e-12, scene.original), Error);  // |R| > 2^31 - 1
    EXPECT_THROW(coder.encodeFirstFrame(0, 0.0, scene.original), Error);
    EXPECT_THROW(coder.encodeFirstFrame(0, -1.0, scene.original), Error);
    GeometryT<double> wrong(RandomScene::V, 1);
    EXPECT_THROW(coder.encodeFirstFrame(0, 0.01, wrong), Error);
}

TEST(GeometryCoder, DefaultRoundingIsHalfAwayFromZero) {
    for (double x : {0.0, 0.49999999999999994, 0.5, -0.5, 1.5, -1.5, 2.5, -2.4, 1e15 + 0.5, -7.0, 2147483647.4})
        EXPECT_EQ(roundToNearest(x, 1.0), std::round(x)) << x;
    EXPECT_EQ(roundToNearest(1.0, 0.4), 3.0);  // 2.5
    EXPECT_FALSE(std::isfinite(roundToNearest(1.0, 0.0)));
}

TEST(GeometryCoder, RefusesLayeringWithVerticesOutOfRange) {
    Settings s;
    DecoderContext c(2, 1, 1);
    c.allLayerVertexOrders = {{0, 2}};
    c.allLayerPredictors = {{{}, {}}};
    EXPECT_THROW(GeometryCoder(s, c), CheckFailure);
    c.allLayerVertexOrders = {{0, 1}};
    c.allLayerPredictors = {{{}, {{5, 1.0}}}};
    EXPECT_THROW(GeometryCoder(s, c), CheckFailure);
}

TEST(GeometryCoder, EncoderInvertsFramesThatAreNotOrthonormal) {
    // A ring that repeats a vertex makes t1 and t2 parallel: n is rounding
    // noise and not orthogonal to t1. The encoder must still hit the target.
    Settings s;
    s.nSL = 1;
    DecoderContext c(3, 1, 1);
    c.allLayerVertexOrders = {{0, 1, 2}};
    c.allLayerPredictors = {{{}, {}, equalTerms({0, 1, 0})}};
    GeometryT<double> original(3, 1);
    original.setPosition(0, 0, {0.3, 0.7, -0.2});
    original.setPosition(1, 0, {-0.4, 0.1, 0.5});
    original.setPosition(2, 0, {0.25, -0.6, 0.9});
    GeometryEncoder coder(s, c);
    coder.encodeFirstFrame(0, 0.001, original);
    const LocalFrame fr = coder.localFrame(0, 2, 0);
    ASSERT_TRUE(fr.ok);
    const Vector3d p = c.GDec.position(2, 0), x = original.position(2, 0);
    EXPECT_LE(std::fabs(p.x - x.x) + std::fabs(p.y - x.y) + std::fabs(p.z - x.z), 3 * 0.0015);
}

// The in-pass dead zone against what it stands for: a per-residual
// quantizer in the base layer, and recording the enhancement layer with
// plain rounding, deciding every vertex from the recorded errors and coding
// the decisions. Large steps make both guards fire.
TEST(GeometryCoder, InPassDeadZoneDecidesAsQuantizersAndTwoPassesDo) {
    for (int baseLayerPred = 0; baseLayerPred < 2; ++baseLayerPred)
        for (double scale : {1.0, 6.0}) {
            SCOPED_TRACE("baseLayerPred " + std::to_string(baseLayerPred) + " scale " + std::to_string(scale));
            Settings s;
            s.nSL = 2;
            s.baseLayerPred = baseLayerPred;
            const RandomScene scene(21u + baseLayerPred);
            DecoderContext a = scene.context(), b = scene.context();
            for (DecoderContext* c : {&a, &b})
                for (double& q : c->qStep) q *= scale;
            GeometryEncoder inPass(s, a), reference(s, b);
            EXPECT_FALSE(inPass.predictsFromBelow(0));
            EXPECT_TRUE(inPass.predictsFromBelow(1));
            RdOptions o;
            o.deadZone = true;
            o.deadZoneTheta = 0.25;
            const double q1 = a.qStep[1], q2 = a.qStep[2];
            const double componentLimit = 0.3 * q1;
            inPass.encodeFirstFrame(0, a.qStep[0], scene.original);
            reference.encodeFirstFrame(0, b.qStep[0], scene.original);
            int guarded = 0;
            for (int f = 1; f < RandomScene::F; ++f) {
                std::vector<int> rf = {f - 1};
                inPass.setDeadZone(GeometryEncoder::DeadZone{o.deadZoneTheta, componentLimit, INFINITY});
                reference.setQuantizer([&](double _e, double _step, const ResidualSite&) {
                    const double r = deadZoneRound(_e, _step, o.deadZoneTheta);
                    if (std::fabs(_e - _step * r) <= componentLimit) return r;
                    ++guarded;
                    return roundToNearest(_e, _step);
                });
                for (GeometryEncoder* e : {&inPass, &reference}) {
                    if (baseLayerPred)
                        e->encodeBaseLayerLocal(f, rf, q1, scene.original);
                    else
                        e->encodeBaseLayerGlobal(f, rf, q1, scene.original);
                    e->computeLayerFrames(1, f);
                }
                a.filterDec[f][1].assign(1, 1.0);
                b.filterDec[f][1].assign(1, 1.0);

                inPass.setDeadZone(GeometryEncoder::DeadZone{o.deadZoneTheta, INFINITY, o.maxVertexError * q2});
                inPass.encodeEnhancementLayer(1, f, rf, q2, scene.original);
                std::vector<double> errors;
                reference.setQuantizer([&](double _e, double _step, const ResidualSite&) {
                    errors.push_back(_e);
                    return roundToNearest(_e, _step);
                });
                reference.encodeEnhancementLayer(1, f, rf, q2, scene.original);
                const LayerDecision d = decideLayer(errors, q2, o, false);
                for (size_t i = 0; i < d.residuals.size(); ++i)
                    guarded += d.residuals[i] != static_cast<int>(roundToNearest(errors[i], q2)) &&
                                d.residuals[i] != static_cast<int>(deadZoneRound(errors[i], q2, o.deadZoneTheta));
                size_t next = 0;
                reference.setQuantizer([&](double, double, const ResidualSite&) {
                    return static_cast<double>(d.residuals[next++]);
                });
                reference.encodeEnhancementLayer(1, f, rf, q2, scene.original);
                reference.setQuantizer({});
            }
            if (scale > 1) {
                EXPECT_GT(guarded, 0);
            }
            ASSERT_EQ(std::memcmp(a.GQuant.frame(0), b.GQuant.frame(0), sizeof(int) * 3 * RandomScene::V * RandomScene::F),
                      0);
            for (int f = 0; f < RandomScene::F; ++f)
                for (int i = 0; i < 3 * RandomScene::V; ++i)
                    ASSERT_TRUE(sameBits(a.GDec.frame(f)[i], b.GDec.frame(f)[i])) << "frame " << f << " value " << i;
        }
}
