// Chosen references: the cycle finder sees a loop and nothing in steady
// motion, every chosen reference keeps the stream's rules (earlier record,
// same or lower temporal layer, writable offset, closed groups stay closed),
// and streams with chosen references decode bit-exactly to the encoder's
// reconstruction, streamed with seeks and threads, and after OrvPacketize at
// every layer count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Common/StreamRules.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/StreamingDecoder.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "Encoder/RedundancyMinCoder.h"
#include "SequenceEncoder/QualityMetrics.h"
#include "SequenceEncoder/ReferenceChoice.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "TestSupport.h"
#include "PosedSheet.h"

using namespace orv;
namespace fs = std::filesystem;

namespace {

using Sheet = orvtest::PosedSheet;

// A W x H sheet; pose(f, x, y) gives each vertex's position.
template <class Pose>
Sheet makeSheet(int W, int H, int F, Pose pose) {
    return orvtest::posedSheet(W, H, F, pose);
}

// A loop of _period frames: a wave that bends the sheet non-linearly in
// time, so neighbours in time predict it poorly; the sheet walks forward,
// and each pass differs from the last by a trace.
Sheet makeLoop(int F, int _period) {
    return makeSheet(14, 11, F, [_period](int f, double x, double y) {
        const double t = 2 * M_PI * f / _period;
        return Vector3T<double>{x + 0.3 * f, y + 0.05 * std::sin(2 * t + 4 * x),
                                0.2 * std::sin(t + 5 * x) + 0.1 * std::cos(2 * t - 3 * y) + 1e-5 * std::sin(0.7 * f + x)};
    });
}

// Steady motion: a slow drift and a wave that grows linearly, which the
// hierarchy's bisection predicts well and nothing repeats.
Sheet makeSteady(int F) {
    return makeSheet(14, 11, F, [](int f, double x, double y) {
        return Vector3T<double>{x + 0.01 * f, y, (0.05 + 0.002 * f) * std::sin(4 * x + 2 * y)};
    });
}

struct Order {
    std::vector<int> frames, layers;
    std::vector<std::vector<int>> refs;
};

Order hierarchy(int F, int nTL, bool refFirst) {
    Order o;
    generateFrameCodingOrder(o.frames, o.refs, o.layers, F, nTL, refFirst, refFirst ? 0 : -1);
    return o;
}

// Checks every record's references against the stream's rules; with
// _closed, references stay within frame 0, the record's own group (a range
// of frames) and the frame before that range, the previous key frame.
void expectLegal(const Order& o, bool _closed) {
    const int F = static_cast<int>(o.frames.size());
    std::vector<int> record(F), layer(F), group(F), first(F, F);
    for (int p = 0, g = 0; p < F; ++p) {
        if (p > 0 && o.layers[p] == 0) ++g;
        record[o.frames[p]] = p;
        layer[o.frames[p]] = p == 0 ? -1 : o.layers[p];
        group[o.frames[p]] = g;
        first[g] = std::min(first[g], o.frames[p]);
    }
    for (int p = 1; p < F; ++p) {
        const int k = o.frames[p];
        ASSERT_LE(o.refs[p].size(), 2u);
        for (int r : o.refs[p]) {
            SCOPED_TRACE(testing::Message() << "frame " << k << " references " << r);
            EXPECT_LT(record[r], p);
            EXPECT_LE(layer[r], layer[k]);
            EXPECT_TRUE(stream_rules::referenceWritable(r, k));
            if (_closed) {
                EXPECT_TRUE(r == 0 || group[r] == group[k] || r == first[group[k]] - 1);
            }
        }
    }
}

GeometryT<double> decodeFull(const std::vector<uint8_t>& _file, const FaceList& _faces, int _nsl = 0, int _ntl = 0) {
    BitBuffer buffer(std::vector<uint8_t>(_file.begin() + 4, _file.end()));
    Settings settings;
    auto context = RedundancyMinCoder::readStreamHeader(buffer, settings);
    LODConnectivity lod(settings.nSL, _faces, context->GDec.V);
    context->allLayerVertexOrders = lod.vertexOrder_;
    context->allLayerPredictors = lod.vertexPredictor_;
    decodeAllFrames(buffer, *context, settings, _nsl ? _nsl : settings.nSL, _ntl ? _ntl : settings.nTL, false);
    EXPECT_EQ(buffer.bytesLeft(), 0);
    return std::move(context->GDec);
}

bool bitIdentical(const GeometryT<double>& _a, const GeometryT<double>& _b) {
    if (_a.V != _b.V || _a.F != _b.F) return false;
    for (int f = 0; f < _a.F; ++f)
        if (std::memcmp(_a.frame(f), _b.frame(f), 3 * sizeof(double) * static_cast<size_t>(_a.V)) != 0) return false;
    return true;
}

RdOptions effortOne(bool _choose) {
    RdOptions o = RdOptions::forEffort(1);
    o.chooseReferences = _choose;
    return o;
}

}  // namespace

TEST(CycleFinder, FindsTheLoopsPeriodAndNoRepeatInSteadyMotion) {
    for (int period : {5, 8, 12}) {
        const Sheet loop = makeLoop(40, period);
        const CycleEstimate c = findCycle(frameSignatures(loop.positions, loop.faces), 1e-3);
        EXPECT_EQ(c.period, period);
        EXPECT_LT(c.repeatCost, 0.2 * c.neighbourCost) << "period " << period;
    }
    const Sheet steady = makeSteady(40);
    const CycleEstimate s = findCycle(frameSignatures(steady.positions, steady.faces), 1e-3);
    EXPECT_GE(s.repeatCost, s.neighbourCost);
    // Too short to hold two passes of anything.
    const Sheet shortOne = makeLoop(3, 2);
    EXPECT_EQ(findCycle(frameSignatures(shortOne.positions, shortOne.faces), 1e-3).period, 0);
}

TEST(CycleFinder, SignaturesIgnoreWhereTheMeshIsAndSampleEveryVertexOfSmallMeshes) {
    const Sheet loop = makeLoop(16, 8);
    const FrameSignatures s = frameSignatures(loop.positions, loop.faces, 10000);
    EXPECT_EQ(s.samples, loop.positions.V);
    // Frames 0 and 8 stand 2.4 apart but hold the same pose.
    EXPECT_LT(predictionCost(s, 8, {0}, 1e-3), 0.1 * predictionCost(s, 8, {7}, 1e-3));
    EXPECT_EQ(frameSignatures(loop.positions, loop.faces, 0).samples, 0);
}

TEST(ReferenceChoice, LoopFramesReferenceTheSamePhaseWithinTheStreamsRules) {
    for (int nTL : {1, 3, 4})
        for (bool closed : {false, true}) {
            SCOPED_TRACE(testing::Message() << "nTL " << nTL << " closed " << closed);
            const Sheet loop = makeLoop(64, 8);
            Order o = hierarchy(64, nTL, closed);
            const Order before = o;
            const ReferenceChoiceStats stats =
                chooseReferences(frameSignatures(loop.positions, loop.faces), o.frames, o.layers, o.refs, 1e-3, closed);
            expectLegal(o, closed);
            EXPECT_EQ(o.frames, before.frames);
            EXPECT_EQ(o.layers, before.layers);
            EXPECT_LE(stats.chosenCost, stats.defaultCost);
            if (closed) continue;
            EXPECT_LT(stats.chosenCost, 0.5 * stats.defaultCost);
            // A group of 1, 4 or 8 frames: frame k and k - 8 share their layer.
            EXPECT_GE(stats.framesChanged, 56 - 8);
            for (int p = 1; p < 64; ++p) {
                const int k = o.frames[p];
                // The short groups at the end start out of phase.
                if (k < 8 || k > 56) continue;
                // One pass back, or two earlier passes averaged.
                for (int r : o.refs[p]) EXPECT_TRUE(r < k && (k - r) % 8 == 0) << "frame " << k << " ref " << r;
            }
        }
}

// The signatures and the choice are computed on several threads in the
// encoder: the references, the statistics (summed in record order) and the
// signatures must be those of one thread, bit for bit, whatever the count,
// including counts that leave blocks of one record and more threads than
// records.
TEST(ReferenceChoice, ThreadsChooseExactlyAsOneDoes) {
    for (int F : {3, 64, 131})
        for (bool closed : {false, true}) {
            SCOPED_TRACE(testing::Message() << F << " frames, closed " << closed);
            const Sheet loop = makeLoop(F, 8);
            const FrameSignatures one = frameSignatures(loop.positions, loop.faces);
            const Order start = hierarchy(F, 3, closed);
            Order serial = start;
            const ReferenceChoiceStats s1 =
                chooseReferences(one, serial.frames, serial.layers, serial.refs, 1e-3, closed);
            for (int threads : {2, 3, 7, 200}) {
                SCOPED_TRACE(testing::Message() << threads << " threads");
                const FrameSignatures many = frameSignatures(loop.positions, loop.faces, 256, threads);
                ASSERT_EQ(many.values.size(), one.values.size());
                EXPECT_EQ(std::memcmp(many.values.data(), one.values.data(), one.values.size() * sizeof(double)), 0);
                Order o = start;
                const ReferenceChoiceStats s = chooseReferences(many, o.frames, o.layers, o.refs, 1e-3, closed, 0.05,
                                                                threads);
                EXPECT_EQ(o.refs, serial.refs);
                EXPECT_EQ(s.framesChanged, s1.framesChanged);
                EXPECT_EQ(std::memcmp(&s.defaultCost, &s1.defaultCost, sizeof(double)), 0);
                EXPECT_EQ(std::memcmp(&s.chosenCost, &s1.chosenCost, sizeof(double)), 0);
            }
            if (F == 64 && !closed) {
                EXPECT_GT(s1.framesChanged, 0);
            }
        }
}

// Candidates are dropped once a partial sum shows they cannot be among the
// best: the choice and its statistics must be those of sums run to their
// ends, on exact repeats too, where many candidates tie and the order among
// equals decides.
TEST(ReferenceChoice, DroppingHopelessCandidatesChoosesAsTheFullSearch) {
    const Sheet repeats = makeSheet(14, 11, 90, [](int f, double x, double y) {
        const double t = 2 * M_PI * (f % 6) / 6;
        return Vector3T<double>{x, y, 0.2 * std::sin(t + 5 * x) + 0.05 * std::cos(t + 3 * y)};
    });
    const std::vector<std::pair<const char*, Sheet>> sheets = {
        {"loop", makeLoop(131, 8)}, {"steady", makeSteady(70)}, {"exact repeats", repeats}};
    int changed = 0;
    for (const auto& [name, sheet] : sheets)
        for (bool closed : {false, true})
            for (double q : {1e-4, 1e-3, 3e-2}) {
                SCOPED_TRACE(testing::Message() << name << ", closed " << closed << ", q " << q);
                const FrameSignatures s = frameSignatures(sheet.positions, sheet.faces);
                const Order start = hierarchy(sheet.positions.F, 4, closed);
                Order full = start, pruned = start;
                const ReferenceChoiceStats a =
                    chooseReferences(s, full.frames, full.layers, full.refs, q, closed, 0.05, 1, false);
                const ReferenceChoiceStats b = chooseReferences(s, pruned.frames, pruned.layers, pruned.refs, q, closed);
                EXPECT_EQ(pruned.refs, full.refs);
                EXPECT_EQ(b.framesChanged, a.framesChanged);
                EXPECT_EQ(std::memcmp(&b.defaultCost, &a.defaultCost, sizeof(double)), 0);
                EXPECT_EQ(std::memcmp(&b.chosenCost, &a.chosenCost, sizeof(double)), 0);
                changed += a.framesChanged;
            }
    EXPECT_GT(changed, 0);
}

TEST(ReferenceChoice, FarRepeatsOnlyThroughFrameZeroAndSteadyMotionKeepsTheHierarchy) {
    // Poses without temporal coherence that repeat after 130 frames: the
    // offsets cannot reach back a whole cycle, except from frame 130 to 0.
    const Sheet far = makeSheet(14, 11, 200, [](int f, double x, double y) {
        double z = 0.0;
        for (int m = 1; m <= 3; ++m) {
            const double h = std::sin((f % 130) * 12.9898 + 78.233 * m) * 43758.5453;
            z += 0.1 * std::sin(2 * M_PI * (h - std::floor(h)) + m * 4 * x + (4 - m) * 3 * y);
        }
        return Vector3T<double>{x, y, z};
    });
    Order o = hierarchy(200, 4, false);
    chooseReferences(frameSignatures(far.positions, far.faces), o.frames, o.layers, o.refs, 1e-3, false);
    expectLegal(o, false);
    for (int p = 1; p < 200; ++p)
        if (o.frames[p] == 130) {
            EXPECT_NE(std::find(o.refs[p].begin(), o.refs[p].end(), 0), o.refs[p].end());
        }

    const Sheet steady = makeSteady(40);
    Order s = hierarchy(40, 4, false);
    const Order before = s;
    const ReferenceChoiceStats stats =
        chooseReferences(frameSignatures(steady.positions, steady.faces), s.frames, s.layers, s.refs, 1e-3, false);
    EXPECT_EQ(stats.framesChanged, 0);
    EXPECT_EQ(s.refs, before.refs);
}

TEST(ReferenceChoice, StreamsDecodeToTheReconstructionStreamedAndSeeked) {
    const Sheet loop = makeLoop(48, 12);
    for (int nTL : {3, 4})
        for (int basePred : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "nTL " << nTL << " basePred " << basePred);
            Settings settings;
            settings.nSL = 4;
            settings.nTL = nTL;
            settings.baseLayerPred = basePred;
            const double q = 2e-3;
            const EncodedSequence chosen = encodeSequence(loop.positions, loop.faces, settings, q, effortOne(true));
            const EncodedSequence fixed = encodeSequence(loop.positions, loop.faces, settings, q, effortOne(false));
            EXPECT_GT(chosen.chosenReferenceRecords, 30);
            EXPECT_EQ(fixed.chosenReferenceRecords, 0);
            EXPECT_LT(chosen.streamFile.size(), 0.8 * fixed.streamFile.size());
            const QualityMetrics a = measureQuality(loop.positions, chosen.reconstruction);
            const QualityMetrics b = measureQuality(loop.positions, fixed.reconstruction);
            EXPECT_LE(a.maxError, 0.8660254037844386 * q * (1 + 1e-9));
            EXPECT_LE(a.kg, 1.05 * b.kg);

            const GeometryT<double> full = decodeFull(chosen.streamFile, loop.faces);
            ASSERT_TRUE(bitIdentical(full, chosen.reconstruction));

            // The streaming decoder follows the headers' references on 1 and 2
            // threads, from the start and after seeks.
            const std::vector<uint8_t> bits(chosen.streamFile.begin() + 4, chosen.streamFile.end());
            for (int threads : {1, 2}) {
                BitBuffer buffer(bits);
                Settings read;
                const StreamHeader header = RedundancyMinCoder::readCheckedStreamHeader(buffer, read);
                LODConnectivity lod(read.nSL, loop.faces, static_cast<int>(header.V));
                StreamingDecoder d(buffer, read, header, lod.vertexOrder_, lod.vertexPredictor_, read.nSL, read.nTL,
                                   StreamingDecoder::Positions::Window);
                d.setThreads(threads);
                int longTerm = 0;
                for (const FrameRecordInfo& r : d.records().records)
                    longTerm += r.refCount > 0 && r.ref[0] < r.frame && (r.frame - r.ref[0]) % 12 == 0;
                EXPECT_GT(longTerm, 24);
                std::vector<double> p(3 * static_cast<size_t>(full.V));
                for (int target : {0, 30, 13, 47, 24}) {
                    d.seek(target);
                    int f = -1;
                    for (int expect = target; d.next(f, p.data()); ++expect) {
                        ASSERT_EQ(f, expect);
                        ASSERT_EQ(std::memcmp(p.data(), full.frame(f), p.size() * sizeof(double)), 0)
                            << "frame " << f << " after seek to " << target << " on " << threads << " threads";
                    }
                }
            }
        }
}

TEST(ReferenceChoice, PacketizedLayerSubsetsDecodeAsTheOriginalStream) {
    const int F = 40;
    const Sheet loop = makeLoop(F, 10);
    Settings settings;
    settings.nSL = 3;
    settings.nTL = 4;
    const EncodedSequence encoded = encodeSequence(loop.positions, loop.faces, settings, 2e-3, effortOne(true));
    ASSERT_GT(encoded.chosenReferenceRecords, 0);
    orvtest::ScratchDir dir;
    {
        std::ofstream stream(dir / "loop.orv", std::ios::binary);
        stream.write(reinterpret_cast<const char*>(encoded.streamFile.data()),
                     static_cast<std::streamsize>(encoded.streamFile.size()));
        std::ofstream con(dir / "loop_con.obj");
        for (const auto& face : loop.faces) con << "f " << face[0] + 1 << " " << face[1] + 1 << " " << face[2] + 1 << "\n";
    }
    for (int a : {1, settings.nSL})
        for (int b = 1; b <= settings.nTL; ++b) {
            SCOPED_TRACE("layers " + std::to_string(a) + " " + std::to_string(b));
            const std::string sa = std::to_string(a), sb = std::to_string(b);
            ASSERT_EQ(orvtest::run("OrvDec", {"loop.orv", "loop_con.obj", sa, sb}, dir.path()).exitCode, 0);
            const auto pack = orvtest::run("OrvPacketize", {"loop.orv", sa, sb}, dir.path());
            ASSERT_EQ(pack.exitCode, 0) << pack.output;
            const std::string packed = "loopPack" + sa + sb;
            ASSERT_EQ(orvtest::run("OrvDec", {packed + ".orv", "loop_con.obj", sa, sb}, dir.path()).exitCode, 0);
            EXPECT_EQ(orvtest::framesWithoutDate(dir.path(), "loopDec", F),
                      orvtest::framesWithoutDate(dir.path(), packed + "Dec", F));
            if (a < settings.nSL || b < settings.nTL) {
                EXPECT_LT(fs::file_size(dir / (packed + ".orv")), encoded.streamFile.size());
            }
        }
}

TEST(ReferenceChoice, HorseGallopsSecondPassComesAlmostFree) {
    ORV_REQUIRE_SEQUENCE(dir, "horse-gallop");
    FaceList faces;
    const auto positions = orvtest::loadSequence(dir, 48, faces);
    ASSERT_TRUE(positions);
    const double q = sequenceBoundingBox(*positions).diagonal() / 4096;
    const EncodedSequence chosen = encodeSequence(*positions, faces, Settings{}, q, effortOne(true));
    const EncodedSequence fixed = encodeSequence(*positions, faces, Settings{}, q, effortOne(false));
    EXPECT_GE(chosen.chosenReferenceRecords, 24);
    EXPECT_LT(chosen.streamFile.size(), 0.7 * fixed.streamFile.size());
    const QualityMetrics a = measureQuality(*positions, chosen.reconstruction);
    const QualityMetrics b = measureQuality(*positions, fixed.reconstruction);
    EXPECT_LE(a.kg, 1.01 * b.kg);
    EXPECT_LE(a.maxError, b.maxError * (1 + 1e-9));
    EXPECT_TRUE(bitIdentical(decodeFull(chosen.streamFile, faces), chosen.reconstruction));
}
