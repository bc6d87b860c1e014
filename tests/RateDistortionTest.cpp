// The optimising encoder: every effort level must still give streams that the
// ordinary decoder turns into the encoder's own reconstruction, bit for bit;
// the residual decisions (dead zone, cheapest candidate, empty chunks) must do
// what they claim on hand-made cases; the step search must meet its targets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "SequenceEncoder/CabacVx3Encoder.h"
#include "EncoderApp/FrameSource.h"
#include "SequenceEncoder/RateControl.h"
#include "SequenceEncoder/RateDistortion.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "TestSupport.h"
#include "InProcessDecode.h"
#include "PosedSheet.h"

using namespace orv;

namespace {

using Sheet = orvtest::PosedSheet;

// A wavy W x H sheet (with a boundary) whose waves travel and grow over the
// frames, so every layer has residuals of several sizes.
Sheet makeSheet(int W, int H, int F) {
    return orvtest::posedSheet(W, H, F, [](int f, double x, double y) {
        const double t = 0.3 * f;
        return Vector3d{x + 0.01 * std::sin(t + 5 * y), y + 0.02 * f,
                        (0.1 + 0.01 * f) * std::sin(4 * x + t) * std::cos(3 * y - 0.5 * t)};
    });
}

GeometryT<double> decode(const std::vector<uint8_t>& _file, const FaceList& _faces) {
    int64_t left = -1;
    GeometryT<double> g = orvtest::decodeStreamFile(_file, _faces, &left);
    EXPECT_EQ(left, 0);
    return g;
}

bool bitIdentical(const GeometryT<double>& _a, const GeometryT<double>& _b) {
    if (_a.V != _b.V || _a.F != _b.F) return false;
    for (int f = 0; f < _a.F; ++f)
        if (std::memcmp(_a.frame(f), _b.frame(f), 3 * sizeof(double) * static_cast<size_t>(_a.V)) != 0) return false;
    return true;
}

double diagonalOf(const GeometryT<double>& _g) { return sequenceBoundingBox(_g).diagonal(); }

}  // namespace

TEST(RateDistortionRoundTrip, EveryEffortDecodesToTheEncodersReconstruction) {
    const Sheet s = makeSheet(14, 11, 19);
    const double q = diagonalOf(s.positions) / 512;
    for (int effort = 0; effort <= kMaxEffort; ++effort)
        for (int blp = 0; blp <= 1; ++blp)
            for (bool refFirst : {false, true})
                for (int nTL : {1, 3, 4}) {
                    Settings st;
                    st.baseLayerPred = blp;
                    st.refFirstFrame = refFirst;
                    st.nTL = nTL;
                  for (bool trial : {false, true}) {
                    // The trials choose among the candidates, on this layout.
                    RdOptions o = trial ? RdOptions::forEffort(effort) : RdOptions::fixedForEffort(effort);
                    o.fixedTemporal = o.fixedBasePred = o.fixedSpatial = true;
                    if (effort == 2) o.spatialLayers = nTL == 1 ? 5 : 10;  // layer counts beyond the mesh's too
                    const EncodedSequence enc = encodeSequence(s.positions, s.faces, st, q, o);
                    EXPECT_TRUE(bitIdentical(decode(enc.streamFile, s.faces), enc.reconstruction))
                        << "effort " << effort << " baseLayerPred " << blp << " refFirstFrame " << refFirst
                        << " nTL " << nTL << " trial " << trial;
                    EXPECT_EQ(enc.settings.nTL, nTL);
                    EXPECT_EQ(enc.settings.baseLayerPred, blp);
                    EXPECT_EQ(enc.settings.refFirstFrame, refFirst);
                  }
                }
}

TEST(RateDistortionRoundTrip, RealSequenceAtEveryEffort) {
    ORV_REQUIRE_SEQUENCE(dir, "pcow");
    std::vector<std::string> files;
    for (const auto& p : orvtest::sequenceFrames(dir)) {
        files.push_back(p.string());
        if (files.size() == 12) break;
    }
    const LoadedAnimation anim = loadAnimation(files);
    const double diag = diagonalOf(anim.positions);
    for (int effort = 0; effort <= kMaxEffort; ++effort) {
        const EncodedSequence enc =
            encodeSequence(anim.positions, anim.faces, Settings{}, diag / 2048, RdOptions::forEffort(effort));
        EXPECT_TRUE(bitIdentical(decode(enc.streamFile, anim.faces), enc.reconstruction)) << "effort " << effort;
        // Every guarded decision keeps the vertex within the plain rounding bound.
        EXPECT_LE(measureQuality(anim.positions, enc.reconstruction).maxError, 0.8660254037844386 * diag / 2048 * (1 + 1e-9))
            << "effort " << effort;
    }
}

TEST(RateDistortionRoundTrip, PlainOptionsGiveTheClassicStream) {
    const Sheet s = makeSheet(9, 8, 7);
    const double q = 0.003;
    const double steps[3] = {q, q, q};
    const EncodedSequence classic = encodeSequence(s.positions, s.faces, Settings{}, steps);
    const EncodedSequence plain = encodeSequence(s.positions, s.faces, Settings{}, q, RdOptions::forEffort(0));
    EXPECT_EQ(classic.streamFile, plain.streamFile);

    double roles[3];
    stepsForOptions(q, RdOptions::forEffort(2), roles);
    EXPECT_DOUBLE_EQ(roles[0], q / 8);
    EXPECT_DOUBLE_EQ(roles[1], q / 2);
    EXPECT_DOUBLE_EQ(roles[2], q);
    stepsForOptions(q, RdOptions::forEffort(1), roles);
    EXPECT_DOUBLE_EQ(roles[0], 0.6 * q);
    EXPECT_DOUBLE_EQ(roles[1], q);
}

TEST(RateDistortionRoundTrip, DeadZoneAndRdoqSendFewerBitsAtTheSameSteps) {
    const Sheet s = makeSheet(20, 16, 33);
    const double q = diagonalOf(s.positions) / 1024;
    RdOptions dz;  // same steps for every role, so only the rounding differs
    dz.deadZone = true;
    dz.deadZoneTheta = 0.33;
    RdOptions rd = dz;
    rd.rdoq = true;
    const EncodedSequence e0 = encodeSequence(s.positions, s.faces, Settings{}, q, RdOptions{});
    const EncodedSequence e1 = encodeSequence(s.positions, s.faces, Settings{}, q, dz);
    const EncodedSequence e2 = encodeSequence(s.positions, s.faces, Settings{}, q, rd);
    EXPECT_LT(e1.streamFile.size(), e0.streamFile.size());
    EXPECT_LT(e2.streamFile.size(), e0.streamFile.size());
    // Rounding toward zero costs some error, but stays within a step.
    const double limit = 2 * q;
    EXPECT_LT(measureQuality(s.positions, e1.reconstruction).maxError, limit);
    EXPECT_LT(measureQuality(s.positions, e2.reconstruction).maxError, limit);
}

TEST(DeadZone, RoundsTowardZeroBelowTheThreshold) {
    const double q = 0.5;
    EXPECT_EQ(deadZoneRound(0.66 * q, q, 0.33), 0.0);
    EXPECT_EQ(deadZoneRound(0.68 * q, q, 0.33), 1.0);
    EXPECT_EQ(deadZoneRound(-1.66 * q, q, 0.33), -1.0);
    EXPECT_EQ(deadZoneRound(-1.68 * q, q, 0.33), -2.0);
    EXPECT_EQ(deadZoneRound(0.0, q, 0.33), 0.0);
    // Zero-only: the same zeros, every other value rounded to nearest.
    EXPECT_EQ(deadZoneRound(0.66 * q, q, 0.33, true), 0.0);
    EXPECT_EQ(deadZoneRound(0.68 * q, q, 0.33, true), 1.0);
    EXPECT_EQ(deadZoneRound(-1.66 * q, q, 0.33, true), -2.0);
    EXPECT_EQ(deadZoneRound(2.4 * q, q, 0.33, true), 2.0);
    // theta 0.5 is rounding to nearest away from the ties.
    for (double a : {-2.7, -1.2, -0.4, 0.3, 0.8, 1.6, 3.49})
        EXPECT_EQ(deadZoneRound(a * q, q, 0.5), roundToNearest(a * q, q)) << a;
}

TEST(ResidualCostModel, FollowsTheChunkStatistics) {
    std::vector<int> mostlyZero(300, 0);
    for (int i = 0; i < 300; i += 10) mostlyZero[i] = (i % 20) ? 1 : -3;
    const ResidualCostModel m(mostlyZero);
    EXPECT_EQ(m.planes(), 2);  // |-3| - 1 = 2 needs two bit planes
    EXPECT_LT(m.bits(0), 0.5);
    EXPECT_GT(m.bits(1), 3.0);
    EXPECT_GT(m.bits(-3), m.bits(1));
    EXPECT_DOUBLE_EQ(m.bits(2), m.bits(-2));

    // The model's total tracks the real payload of a typical chunk.
    std::mt19937 rng(7);
    std::geometric_distribution<int> mag(0.45);
    std::bernoulli_distribution sig(0.35), neg(0.5);
    std::vector<int> values(3000);
    for (int& v : values) v = sig(rng) ? (mag(rng) + 1) * (neg(rng) ? -1 : 1) : 0;
    const double real = 8.0 * static_cast<double>(CabacVx3Encoder::encodeValues(values).size());
    const double modelled = ResidualCostModel(values).totalBits(values);
    EXPECT_NEAR(modelled / real, 1.0, 0.1);
}

TEST(RdChoose, TakesTheCheapestOfRoundingLoweringAndZero) {
    std::vector<int> sparse(1000, 0);
    for (int i = 0; i < 1000; i += 50) sparse[i] = 2;
    const ResidualCostModel model(sparse);
    const double q = 1.0;
    // Without a price on bits the nearest value wins.
    EXPECT_EQ(rdChoose(0.6, q, 0.0, model), 1);
    EXPECT_EQ(rdChoose(-2.4, q, 0.0, model), -2);
    EXPECT_EQ(rdChoose(0.2, q, 0.0, model), 0);
    // With lambda 0.1 q^2, a lone 1 (about 12 bits in this sparse chunk)
    // costs more than the distortion it saves at 0.6 (0.36 - 0.16 = 0.2).
    EXPECT_EQ(rdChoose(0.6, q, 0.1, model), 0);
    // Zero is always a candidate: at a prohibitive price on bits it wins even
    // far from zero (the empty-chunk limit, not RDOQ, bounds vertex errors).
    EXPECT_EQ(rdChoose(5.0, q, 1e9, model), 0);
    EXPECT_EQ(rdChoose(-5.0, q, 1e9, model), 0);
    // Lowering only when the saving in bits outweighs the added distortion.
    EXPECT_EQ(rdChoose(1.9, q, 0.1, model), 2);
}

TEST(EmptyChunk, ChosenOnlyWhenCheaperAndNoVertexStraysBeyondTheLimit) {
    RdOptions o = RdOptions::forEffort(2);
    o.emptyChunkMaxError = 2.0;
    const double q = 1.0;
    // Residuals of about one step on few components: cheap to drop.
    std::vector<double> small(300, 0.1);
    small[4] = 1.2;
    small[100] = -1.1;
    LayerDecision d = decideLayer(small, q, o, true);
    EXPECT_TRUE(d.emptied);
    for (int r : d.residuals) EXPECT_EQ(r, 0);
    // Never without permission.
    EXPECT_FALSE(decideLayer(small, q, o, false).emptied);

    // One vertex 2.1 steps away (norm of its three components) blocks it,
    // however high the price of bits.
    std::vector<double> stray = small;
    stray[6] = 1.5;
    stray[7] = 1.5;
    stray[8] = 0.1;  // |(1.5, 1.5, 0.1)| = 2.12 > 2q
    RdOptions plain = o;
    plain.rdoq = false;
    plain.deadZone = false;
    plain.lambdaFactor = 1e6;
    d = decideLayer(stray, q, plain, true);
    EXPECT_FALSE(d.emptied);
    EXPECT_EQ(d.residuals[6], 2);  // plain rounding kept
    EXPECT_EQ(d.residuals[4], 1);

    // A vertex exactly at the limit does not block.
    std::vector<double> edge(30, 0.0);
    edge[0] = 2.0;
    o.lambdaFactor = 0.1;
    EXPECT_TRUE(decideLayer(edge, q, o, true).emptied);
    // Effort 2 empties a chunk only within the vertex guard.
    EXPECT_FALSE(decideLayer(edge, q, RdOptions::forEffort(2), true).emptied);
}

TEST(VertexGuard, DecisionsNeverMoveAVertexFartherThanTheLimit) {
    RdOptions o = RdOptions::forEffort(2);
    o.lambdaFactor = 1e6;  // every component would rather be zero
    o.emptyChunks = false;
    const std::vector<double> errors{0.6, 0.6, 0.1, 0.3, 0.2, 0.1, 1.4, 0.0, 0.0};
    const LayerDecision d = decideLayer(errors, 1.0, o, false);
    // (0.6, 0.6, 0.1) zeroed would stray 0.85 <= sqrt(3)/2: allowed.
    EXPECT_EQ(d.residuals[0], 0);
    EXPECT_EQ(d.residuals[1], 0);
    // (1.4, 0, 0) zeroed strays 1.4: the vertex keeps plain rounding.
    EXPECT_EQ(d.residuals[6], 1);
    o.maxVertexError = 0;  // guard off
    EXPECT_EQ(decideLayer(errors, 1.0, o, false).residuals[6], 0);

    // The dead zone alone, guarded: 0.7 and 0.7 would both drop to 0 with
    // theta 0.25 (|(0.7, 0.7, 0)| = 0.99), so the vertex is rounded plainly.
    RdOptions dz = RdOptions::forEffort(1);
    const LayerDecision g = decideLayer({0.7, 0.7, 0.0, 0.7, 0.1, 0.0}, 1.0, dz, false);
    EXPECT_EQ(g.residuals[0], 1);
    EXPECT_EQ(g.residuals[1], 1);
    EXPECT_EQ(g.residuals[3], 0);  // |(0.7, 0.1, 0)| = 0.71: the dead zone applies
}

TEST(RateControl, MeetsErrorAndSizeTargetsInAFewEncodes) {
    const Sheet s = makeSheet(16, 12, 17);
    const RdOptions o = RdOptions::forEffort(1);
    for (const TargetKind kind : {TargetKind::KgError, TargetKind::MaxErrorOverDiagonal, TargetKind::BitsPerVertexFrame}) {
        EncodingTarget t;
        t.kind = kind;
        t.value = kind == TargetKind::KgError ? 0.2 : kind == TargetKind::MaxErrorOverDiagonal ? 0.002 : 4.0;
        t.tolerance = 0.05;
        const TargetedEncoding r = encodeToTarget(s.positions, s.faces, Settings{}, o, t);
        const double got = kind == TargetKind::KgError                ? r.quality.kg
                           : kind == TargetKind::MaxErrorOverDiagonal ? r.quality.maxOverDiagonal()
                                                                      : r.bitsPerVertexFrame;
        EXPECT_TRUE(r.met);
        EXPECT_LE(got, t.value);
        EXPECT_LE(r.encodes, t.maxEncodes);
        if (r.encodes < t.maxEncodes) {
            EXPECT_GE(got, t.value * (1 - t.tolerance));
        }
        // The result is the stream it reports on.
        EXPECT_TRUE(bitIdentical(decode(r.encoded.streamFile, s.faces), r.encoded.reconstruction));
        EXPECT_DOUBLE_EQ(r.bitsPerVertexFrame, 8.0 * (r.encoded.streamFile.size() - 4) / (s.positions.V * 17.0));
    }
    EncodingTarget bad;
    bad.value = -1;
    EXPECT_THROW(encodeToTarget(s.positions, s.faces, Settings{}, o, bad), Error);
}
