// The effort levels' trials: on a sequence short enough for the trials to
// cover it whole, a higher effort must never come out larger than a lower one
// at equal KG error, the switches a caller fixed must stay as given, and on a
// longer sequence (trials on a prefix) the chosen stream must still decode to
// the encoder's reconstruction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SequenceEncoder/EffortTrials.h"
#include "SequenceEncoder/QualityMetrics.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Encoder/RedundancyMinCoder.h"
#include "InProcessDecode.h"
#include "PosedSheet.h"

using namespace orv;

namespace {

using Wave = orvtest::PosedSheet;

// A W x H sheet with a travelling wave, and a still corner: some vertices
// need residuals in every frame, others none.
Wave makeWave(int W, int H, int F) {
    return orvtest::posedSheet(W, H, F, [W, H](int f, double x, double y) {
        const double t = 0.25 * f;
        const bool corner = std::lround(10 * x) < W / 3 && std::lround(10 * y) < H / 3;
        const double still = corner ? 0.0 : 1.0;
        return Vector3d{x, y + still * 0.01 * f, still * 0.08 * std::sin(5 * x + t) * std::cos(4 * y)};
    });
}

double squaredError(const GeometryT<double>& _a, const GeometryT<double>& _b) {
    double s = 0;
    for (int f = 0; f < _a.F; ++f)
        for (int i = 0; i < 3 * _a.V; ++i) {
            const double d = _a.frame(f)[i] - _b.frame(f)[i];
            s += d * d;
        }
    return s;
}

GeometryT<double> decode(const std::vector<uint8_t>& _file, const FaceList& _faces) {
    return orvtest::decodeStreamFile(_file, _faces);
}

double bitsOf(const EncodedSequence& _e) { return 8.0 * static_cast<double>(_e.streamFile.size() - 4); }

}  // namespace

TEST(EffortTrials, RateAtEqualErrorFollowsTheSlope) {
    EXPECT_DOUBLE_EQ(rateAtEqualError(1000, 4.0, 4.0, -1.0), 1000);
    // Four times the squared error is twice the KG error: at slope -1 the
    // same error would cost twice the bits.
    EXPECT_NEAR(rateAtEqualError(1000, 4.0, 1.0, -1.0), 2000, 1e-9);
    EXPECT_NEAR(rateAtEqualError(1000, 1.0, 4.0, -0.5), 1000 / std::sqrt(2.0), 1e-9);
    // Without an error to compare, the bits stand as they are.
    EXPECT_DOUBLE_EQ(rateAtEqualError(1000, 0.0, 4.0, -1.0), 1000);
}

// On a whole-sequence trial the estimates are exact, so the choice can be
// checked: effort 2 <= effort 1 <= effort 0 at equal error, on the plain
// encoder's slope, at a coarse and a fine step.
TEST(EffortTrials, HigherEffortsAreNeverLargerOnAWholeSequence) {
    const Wave w = makeWave(13, 12, kTrialFrames);
    const double diag = sequenceBoundingBox(w.positions).diagonal();
    for (double bits : {8.0, 14.0}) {
        const double q = diag / std::pow(2.0, bits);
        const EncodedSequence plain = encodeSequence(w.positions, w.faces, Settings{}, q, RdOptions::forEffort(0));
        const EncodedSequence finer =
            encodeSequence(w.positions, w.faces, Settings{}, q / std::sqrt(2.0), RdOptions::forEffort(0));
        const double sse0 = squaredError(w.positions, plain.reconstruction);
        const double slope = std::log(bitsOf(finer) / bitsOf(plain)) /
                             (0.5 * std::log(squaredError(w.positions, finer.reconstruction) / sse0));
        ASSERT_LT(slope, 0) << bits;
        double previous = bitsOf(plain);
        for (int effort = 1; effort <= kMaxEffort; ++effort) {
            const EncodedSequence e = encodeSequence(w.positions, w.faces, Settings{}, q, RdOptions::forEffort(effort));
            const double rate = rateAtEqualError(bitsOf(e), squaredError(w.positions, e.reconstruction), sse0, slope);
            EXPECT_LE(rate, previous * (1 + 1e-9)) << "effort " << effort << " at " << bits << " bits";
            previous = rate;
            // The result is the stream of the options it reports.
            const EncodedSequence again = encodeSequence(w.positions, w.faces, e.settings, q, e.options);
            EXPECT_EQ(again.streamFile, e.streamFile) << "effort " << effort << " at " << bits << " bits";
        }
    }
}

TEST(EffortTrials, FixedSwitchesStayAsGiven) {
    const Wave w = makeWave(9, 8, 40);
    const double q = sequenceBoundingBox(w.positions).diagonal() / 1024;
    Settings s;
    s.nTL = 3;
    s.baseLayerPred = 0;
    s.refFirstFrame = true;
    s.nSL = 6;
    RdOptions o = RdOptions::forEffort(kMaxEffort);
    o.fixedTemporal = o.fixedBasePred = o.fixedSpatial = true;
    o.spatialLayers = 0;
    const EncodedSequence e = encodeSequence(w.positions, w.faces, s, q, o);
    EXPECT_EQ(e.settings.nTL, 3);
    EXPECT_EQ(e.settings.baseLayerPred, 0);
    EXPECT_TRUE(e.settings.refFirstFrame);
    EXPECT_EQ(e.settings.nSL, 6);
    EXPECT_EQ(e.options.trialLevel, 0);
    // Separate precisions fix the steps: no trial may change them.
    const RdOptions plainTrials = RdOptions::forEffort(0);
    EXPECT_EQ(plainTrials.trialLevel, 0);
}

// Longer than the trials' prefix: the choice is carried over from the first
// frames, and whatever it is, the stream decodes to the reconstruction.
TEST(EffortTrials, PrefixTrialsGiveDecodableStreams) {
    const Wave w = makeWave(11, 9, kLayoutTrialFrames + 12);
    const double q = sequenceBoundingBox(w.positions).diagonal() / 2048;
    for (int effort = 1; effort <= kMaxEffort; ++effort) {
        const EncodingPlan plan = planByTrial(w.positions, w.faces, Settings{}, q, RdOptions::forEffort(effort));
        EXPECT_FALSE(plan.encoded.has_value());
        EXPECT_GT(plan.trialEncodes, 2);
        const EncodedSequence e = encodeSequence(w.positions, w.faces, Settings{}, q, RdOptions::forEffort(effort));
        const EncodedSequence again = encodeSequence(w.positions, w.faces, plan.settings, q, plan.options);
        EXPECT_EQ(again.streamFile, e.streamFile) << "effort " << effort;
        const GeometryT<double> decoded = decode(e.streamFile, w.faces);
        ASSERT_EQ(decoded.F, e.reconstruction.F);
        for (int f = 0; f < decoded.F; ++f)
            for (int i = 0; i < 3 * decoded.V; ++i)
                ASSERT_EQ(decoded.frame(f)[i], e.reconstruction.frame(f)[i]) << "effort " << effort;
    }
}

// The trials' candidates are encoded side by side on the threads and then
// weighed in a fixed order: no thread count, fewer or more than a batch's
// candidates, may change what is chosen, the count of encodes or the stream.
TEST(EffortTrials, ThreadCountsChangeNoChoice) {
    for (int F : {kTrialFrames, kLayoutTrialFrames + 9}) {
        const Wave w = makeWave(10, 9, F);
        const double q = sequenceBoundingBox(w.positions).diagonal() / 1500;
        for (int effort = 1; effort <= kMaxEffort; ++effort) {
            const EncodingPlan one = planByTrial(w.positions, w.faces, Settings{}, q, RdOptions::forEffort(effort), 1);
            const EncodedSequence oneStream = encodeSequence(w.positions, w.faces, one.settings, q, one.options);
            for (int threads : {2, 3, 7}) {
                const EncodingPlan many =
                    planByTrial(w.positions, w.faces, Settings{}, q, RdOptions::forEffort(effort), threads);
                const std::string at = "F " + std::to_string(F) + " effort " + std::to_string(effort) + " threads " +
                                       std::to_string(threads);
                EXPECT_EQ(many.trialEncodes, one.trialEncodes) << at;
                EXPECT_EQ(many.settings.nTL, one.settings.nTL) << at;
                EXPECT_EQ(many.settings.refFirstFrame, one.settings.refFirstFrame) << at;
                EXPECT_EQ(many.settings.baseLayerPred, one.settings.baseLayerPred) << at;
                EXPECT_EQ(many.options.spatialLayers, one.options.spatialLayers) << at;
                EXPECT_EQ(many.options.firstFrameRatio, one.options.firstFrameRatio) << at;
                EXPECT_EQ(many.options.rdoq, one.options.rdoq) << at;
                ASSERT_EQ(many.encoded.has_value(), one.encoded.has_value()) << at;
                if (one.encoded) {
                    EXPECT_EQ(many.encoded->streamFile, one.encoded->streamFile) << at;
                }
                EXPECT_EQ(encodeSequence(w.positions, w.faces, many.settings, q, many.options).streamFile,
                          oneStream.streamFile)
                    << at;
            }
        }
    }
}

// The trials take a candidate's first-frame cost from its own encode of the
// prefix: the bytes up to the end of the first record must be the stream of
// that frame alone at the first-frame step (plain rounding, whatever the
// options), and its reconstruction that stream's, for every layout.
TEST(EffortTrials, FirstRecordOfAnEncodeIsTheStreamOfThatFrameAlone) {
    const Wave w = makeWave(10, 9, kTrialFrames);
    GeometryT<double> first(w.positions.V, 1);
    std::copy(w.positions.frame(0), w.positions.frame(0) + 3 * w.positions.V, first.frame(0));
    const double q = sequenceBoundingBox(w.positions).diagonal() / 1200;
    for (int effort = 0; effort <= kMaxEffort; ++effort)
        for (int nTL : {1, 4})
            for (int blp : {0, 1}) {
                Settings s;
                s.nTL = nTL;
                s.baseLayerPred = blp;
                s.refFirstFrame = nTL == 4;
                const RdOptions o = RdOptions::fixedForEffort(effort);
                const EncodedSequence all = encodeSequence(w.positions, w.faces, s, q, o, {}, 2);
                Settings alone = s;
                alone.nSL = o.spatialLayers > 0 ? o.spatialLayers : s.nSL;
                const double step = q * o.firstFrameRatio;
                const double steps[3] = {step, step, step};
                const EncodedSequence one = encodeSequence(first, w.faces, alone, steps);
                const std::string at = "effort " + std::to_string(effort) + " nTL " + std::to_string(nTL) +
                                       " baseLayerPred " + std::to_string(blp);
                EXPECT_EQ(all.firstRecordEnd, one.streamFile.size()) << at;
                EXPECT_EQ(one.firstRecordEnd, one.streamFile.size()) << at;
                EXPECT_EQ(std::memcmp(all.reconstruction.frame(0), one.reconstruction.frame(0),
                                      sizeof(double) * 3 * static_cast<size_t>(first.V)),
                          0)
                    << at;
            }
}

// Effort 1 encodes its four candidates once each, on a prefix or on the
// whole sequence; no first frame is encoded apart.
TEST(EffortTrials, EffortOneEncodesFourCandidates) {
    for (int threads : {1, 2, 4}) {
        const Wave prefix = makeWave(9, 8, kTrialFrames + 10);
        const double q = sequenceBoundingBox(prefix.positions).diagonal() / 1024;
        EXPECT_EQ(planByTrial(prefix.positions, prefix.faces, Settings{}, q, RdOptions::forEffort(1), threads)
                      .trialEncodes,
                  4)
            << threads;
        const Wave whole = makeWave(9, 8, kTrialFrames);
        EXPECT_EQ(
            planByTrial(whole.positions, whole.faces, Settings{}, q, RdOptions::forEffort(1), threads).trialEncodes, 4)
            << threads;
    }
}
