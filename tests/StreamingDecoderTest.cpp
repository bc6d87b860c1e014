// The streaming decoder against the full one (decodeAllFrames): the same
// positions bit for bit on generated streams of many coding switches, on the
// shared vectors and on a real sequence, with reduced layer counts, in odd
// record orders, and after seeks; the window stays bounded by the group
// length; missing and duplicated records are refused. On several threads the
// frames stay the same and the window grows by the records in flight at most.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>

#include "Common/Check.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Decoder/StreamingDecoder.h"
#include "Encoder/RedundancyMinCoder.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "TestSupport.h"

using namespace orv;
namespace fs = std::filesystem;

namespace {

// A 12 x 9 grid with a boundary and two vertices in no face, waving.
struct Wave {
    FaceList faces;
    GeometryT<double> positions{0, 0};
};

Wave makeWave(int F) {
    const int W = 12, H = 9, V = W * H + 2;
    Wave w;
    for (int j = 0; j + 1 < H; ++j)
        for (int i = 0; i + 1 < W; ++i) {
            const int a = j * W + i, b = a + 1, c = a + W, d = c + 1;
            w.faces.push_back({a, b, d});
            w.faces.push_back({a, d, c});
        }
    w.positions = GeometryT<double>(V, F);
    for (int f = 0; f < F; ++f)
        for (int v = 0; v < V; ++v) {
            const double x = 0.1 * (v % W), y = 0.1 * (v / W), t = 0.3 * f;
            w.positions.setPosition(v, f, {x + 0.01 * f, y + 0.03 * std::cos(t + x), 0.1 * std::sin(t + 3 * x + y)});
        }
    return w;
}

// The bit stream of a stream file (without its 4-byte length).
std::vector<uint8_t> bitStream(const std::vector<uint8_t>& _file) {
    return std::vector<uint8_t>(_file.begin() + 4, _file.end());
}

GeometryT<double> decodeFull(const std::vector<uint8_t>& _bits, const FaceList& _faces, int _nsl, int _ntl) {
    BitBuffer buffer(_bits);
    Settings settings;
    auto context = RedundancyMinCoder::readStreamHeader(buffer, settings);
    LODConnectivity lod(settings.nSL, _faces, context->GDec.V);
    context->allLayerVertexOrders = lod.vertexOrder_;
    context->allLayerPredictors = lod.vertexPredictor_;
    decodeAllFrames(buffer, *context, settings, _nsl ? _nsl : settings.nSL, _ntl ? _ntl : settings.nTL, false);
    return std::move(context->GDec);
}

struct Streaming {
    BitBuffer buffer;
    Settings settings;
    StreamHeader header;
    std::unique_ptr<StreamingDecoder> decoder;
};

std::unique_ptr<Streaming> openStreaming(const std::vector<uint8_t>& _bits, const FaceList& _faces, int _nsl,
                                         int _ntl, int _threads = 1) {
    auto s = std::make_unique<Streaming>(Streaming{BitBuffer(_bits), {}, {}, nullptr});
    s->header = RedundancyMinCoder::readCheckedStreamHeader(s->buffer, s->settings);
    LODConnectivity lod(s->settings.nSL, _faces, static_cast<int>(s->header.V));
    s->decoder = std::make_unique<StreamingDecoder>(
        s->buffer, s->settings, s->header, lod.vertexOrder_, lod.vertexPredictor_, _nsl ? _nsl : s->settings.nSL,
        _ntl ? _ntl : s->settings.nTL, StreamingDecoder::Positions::Window);
    s->decoder->setThreads(_threads);
    return s;
}

// Every frame from the decoder's current place to the end, one after another.
std::vector<double> readToEnd(StreamingDecoder& _decoder) {
    std::vector<double> all, p(3 * static_cast<size_t>(_decoder.vertexCount()));
    int f;
    while (_decoder.next(f, p.data())) all.insert(all.end(), p.begin(), p.end());
    return all;
}

bool sameBits(const std::vector<double>& _a, const std::vector<double>& _b) {
    return _a.size() == _b.size() && std::memcmp(_a.data(), _b.data(), _a.size() * sizeof(double)) == 0;
}

// Reads frames from the decoder's current place to the end and checks each
// against the full decode, bit for bit; returns the frames read.
int expectSameFrames(StreamingDecoder& _decoder, const GeometryT<double>& _full, int _first) {
    std::vector<double> p(3 * static_cast<size_t>(_full.V));
    int f = -1, count = 0;
    while (_decoder.next(f, p.data())) {
        EXPECT_EQ(f, _first + count);
        if (f != _first + count) return count;
        EXPECT_EQ(std::memcmp(p.data(), _full.frame(f), p.size() * sizeof(double)), 0) << "frame " << f;
        ++count;
    }
    return count;
}

// _window: the most frames held on one thread; each further thread may add one.
void expectStreamingEqualsFull(const std::vector<uint8_t>& _bits, const FaceList& _faces, int _nsl, int _ntl,
                               size_t _window = 0, std::initializer_list<int> _threads = {1}) {
    const GeometryT<double> full = decodeFull(_bits, _faces, _nsl, _ntl);
    for (int n : _threads) {
        SCOPED_TRACE(testing::Message() << n << " threads");
        auto s = openStreaming(_bits, _faces, _nsl, _ntl, n);
        EXPECT_EQ(expectSameFrames(*s->decoder, full, 0), full.F);
        if (_window) {
            EXPECT_LE(s->decoder->context().peakDetailFrames(), _window + static_cast<size_t>(n - 1));
            EXPECT_LE(s->decoder->context().peakPositionFrames(), _window + static_cast<size_t>(n - 1));
        }
    }
}

}  // namespace

TEST(StreamingDecoder, EqualsFullDecoderOverCodingSwitchesAndLayerCounts) {
    const Wave w = makeWave(41);
    for (int nSL : {1, 3, 6})
        for (int nTL : {1, 3, 5})
            for (int refFirst : {0, 1})
                for (int basePred : {0, 1}) {
                    Settings settings;
                    settings.nSL = nSL;
                    settings.nTL = nTL;
                    settings.refFirstFrame = refFirst;
                    settings.baseLayerPred = basePred;
                    const double steps[3] = {0.002, 0.004, 0.004};
                    const auto bits = bitStream(encodeSequence(w.positions, w.faces, settings, steps).streamFile);
                    SCOPED_TRACE(testing::Message() << "nSL " << nSL << " nTL " << nTL << " refFirst " << refFirst
                                                    << " basePred " << basePred);
                    // A group, its key frame and frame 0 at most.
                    const size_t window = (size_t{1} << (nTL - 1)) + 3;
                    for (auto [nsl, ntl] : {std::pair{0, 0}, {1, 1}, {2, 2}, {nSL, 1}})
                        expectStreamingEqualsFull(bits, w.faces, nsl, ntl, window);
                }
}

TEST(StreamingDecoder, SeekThenReadEqualsReadThroughAndDecodesOnlyWhatTheTargetNeeds) {
    const int F = 70;
    const Wave w = makeWave(F);
    for (int refFirst : {0, 1}) {
        Settings settings;
        settings.nSL = 3;
        settings.nTL = 4;
        settings.refFirstFrame = refFirst;
        const double steps[3] = {0.002, 0.004, 0.004};
        const auto bits = bitStream(encodeSequence(w.positions, w.faces, settings, steps).streamFile);
        const GeometryT<double> full = decodeFull(bits, w.faces, 0, 0);
        auto s = openStreaming(bits, w.faces, 0, 0);
        // Forwards, backwards, within a group, after reading some frames.
        int f = 0;
        std::vector<double> p(3 * static_cast<size_t>(full.V));
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(s->decoder->next(f, p.data()));
        for (int target : {37, 3, 64, 69, 0, 8, 8}) {
            SCOPED_TRACE(target);
            s->decoder->seek(target);
            EXPECT_EQ(expectSameFrames(*s->decoder, full, target), F - target);
        }
        // The last frame: the key frames before it and one group at most.
        auto fresh = openStreaming(bits, w.faces, 0, 0);
        fresh->decoder->seek(F - 1);
        ASSERT_TRUE(fresh->decoder->next(f, p.data()));
        EXPECT_EQ(f, F - 1);
        EXPECT_EQ(std::memcmp(p.data(), full.frame(F - 1), p.size() * sizeof(double)), 0);
        EXPECT_LE(fresh->decoder->recordsDecoded(), F / 8 + 1 + 8);
        EXPECT_FALSE(fresh->decoder->next(f, p.data()));
        EXPECT_THROW(fresh->decoder->seek(F), Error);
        EXPECT_THROW(fresh->decoder->seek(-1), Error);
    }
}

// Records moved out of the coding order change what the references read
// (a reference to a record further on reads zeros); the streaming decoder
// must read them the same way as the full one.
TEST(StreamingDecoder, OddRecordOrdersDecodeAsTheFullDecoderReadsThem) {
    const Wave w = makeWave(20);
    Settings settings;
    settings.nSL = 3;
    settings.nTL = 3;
    const double steps[3] = {0.002, 0.004, 0.004};
    const auto bits = bitStream(encodeSequence(w.positions, w.faces, settings, steps).streamFile);
    BitBuffer probe(bits);
    Settings s;
    const StreamHeader h = RedundancyMinCoder::readCheckedStreamHeader(probe, s);
    const int64_t headerBytes = probe.bitPosition() / 8;
    const FrameRecordIndex index = scanFrameRecords(probe, s, h.F);
    auto recordBytes = [&](size_t i) {
        const size_t begin = static_cast<size_t>(index.records[i].bitOffset / 8);
        const size_t end = i + 1 < index.records.size() ? static_cast<size_t>(index.records[i + 1].bitOffset / 8)
                                                        : bits.size();
        return std::vector<uint8_t>(bits.begin() + static_cast<long>(begin), bits.begin() + static_cast<long>(end));
    };
    // The first record stays first; the others reversed, and rotated.
    for (int variant = 0; variant < 2; ++variant) {
        std::vector<uint8_t> odd(bits.begin(), bits.begin() + headerBytes);
        std::vector<size_t> order{0};
        for (size_t i = 1; i < index.records.size(); ++i)
            order.push_back(variant == 0 ? index.records.size() - i : 1 + (i + 6) % (index.records.size() - 1));
        for (size_t i : order) {
            const auto r = recordBytes(i);
            odd.insert(odd.end(), r.begin(), r.end());
        }
        SCOPED_TRACE(variant);
        expectStreamingEqualsFull(odd, w.faces, 0, 0, 0, {1, 3});
        expectStreamingEqualsFull(odd, w.faces, 1, 2, 0, {1, 3});
    }
}

TEST(StreamingDecoder, MissingAndDuplicatedRecordsAreRefusedBeforeDecoding) {
    const Wave w = makeWave(12);
    Settings settings;
    settings.nSL = 2;
    settings.nTL = 2;
    const double steps[3] = {0.002, 0.004, 0.004};
    const auto bits = bitStream(encodeSequence(w.positions, w.faces, settings, steps).streamFile);
    BitBuffer probe(bits);
    Settings s;
    const StreamHeader h = RedundancyMinCoder::readCheckedStreamHeader(probe, s);
    const FrameRecordIndex index = scanFrameRecords(probe, s, h.F);
    auto refused = [&](const std::vector<uint8_t>& _bits, const std::string& _text) {
        try {
            openStreaming(_bits, w.faces, 0, 0);
            ADD_FAILURE() << "accepted; expected " << _text;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(_text), std::string::npos) << e.what();
        }
    };
    // The last record cut off (its chunks' bytes still counted), then missing.
    const size_t last = static_cast<size_t>(index.records.back().bitOffset / 8);
    refused(std::vector<uint8_t>(bits.begin(), bits.begin() + static_cast<long>(last) + 9),
            "the chunk of layer 0 of frame " + std::to_string(index.records.back().frame) + " claims");
    refused(std::vector<uint8_t>(bits.begin(), bits.begin() + static_cast<long>(last) + 2),
            "ends after 11 complete frame records");
    // Record 5 renamed to the frame of record 4.
    std::vector<uint8_t> dup = bits;
    const size_t at5 = static_cast<size_t>(index.records[5].bitOffset / 8);
    const int f4 = index.records[4].frame;
    dup[at5 + 1] = static_cast<uint8_t>(f4 >> 8);
    dup[at5 + 2] = static_cast<uint8_t>(f4);
    refused(dup, "frame " + std::to_string(f4) + " appears in two frame records (5 and 6)");
    // A frame number beyond F.
    std::vector<uint8_t> beyond = bits;
    beyond[at5 + 1] = 0;
    beyond[at5 + 2] = 200;
    refused(beyond, "frame record for frame 200, the stream has frames 0..11");
}

TEST(StreamingDecoder, VectorsAndARealSequenceDecodeAsTheFullDecoder) {
    const fs::path dir = orvtest::sharedDir() / "vectors";
    int ran = 0;
    for (auto [stream, sequence] : {std::pair{"horse10.orv", "horse-gallop"}, {"cow17.orv", "pcow"},
                                    {"chicken9.orv", "chickenCrossing"}}) {
        if (!fs::exists(dir / stream)) continue;
        const fs::path seq = orvtest::sequenceDir(sequence);
        if (seq.empty()) continue;
        FaceList faces;
        ASSERT_TRUE(readOBJ(orvtest::sequenceFrames(seq).front().string(), faces));
        std::ifstream in(dir / stream, std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(file.size(), 4u);
        SCOPED_TRACE(stream);
        for (auto [nsl, ntl] : {std::pair{0, 0}, {2, 2}, {1, 1}})
            expectStreamingEqualsFull(bitStream(file), faces, nsl, ntl, 0, {1, 2});
        ++ran;
    }
    const fs::path pdance = orvtest::sequenceDir("pdance");
    if (!pdance.empty()) {
        FaceList faces;
        auto positions = orvtest::loadSequence(pdance, 40, faces);
        ASSERT_TRUE(positions);
        Settings settings;
        settings.nTL = 4;
        const double steps[3] = {0.5, 1.0, 1.0};
        const auto bits = bitStream(encodeSequence(*positions, faces, settings, steps).streamFile);
        for (auto [nsl, ntl] : {std::pair{0, 0}, {3, 2}, {1, 1}})
            expectStreamingEqualsFull(bits, faces, nsl, ntl, 11, {1, 2, 3, 8});
        // Seeks on two threads give what reading through on one gives.
        auto one = openStreaming(bits, faces, 0, 0);
        auto two = openStreaming(bits, faces, 0, 0, 2);
        for (int target : {31, 5, 39, 16}) {
            one->decoder->seek(target);
            two->decoder->seek(target);
            EXPECT_TRUE(sameBits(readToEnd(*one->decoder), readToEnd(*two->decoder))) << target;
        }
        ++ran;
    }
    if (ran == 0) GTEST_SKIP() << "the vectors and the shared sequences are absent (../shared)";
}

// Damaged streams: whatever the streaming decoder accepts, the full decoder
// accepts too and decodes to the same frames; the only streams the full
// decoder takes and the streaming one refuses repeat a frame number.
TEST(StreamingDecoder, DamagedStreamsNeverDecodeDifferently) {
    const Wave w = makeWave(12);
    Settings settings;
    settings.nSL = 3;
    settings.nTL = 3;
    const double steps[3] = {0.002, 0.004, 0.004};
    const auto bits = bitStream(encodeSequence(w.positions, w.faces, settings, steps).streamFile);
    uint64_t seed = 12345;
    auto next = [&] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<size_t>(seed >> 33);
    };
    int agreed = 0, refusedDuplicates = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<uint8_t> damaged = bits;
        if (trial % 5 == 4) {
            damaged.resize(33 + next() % (bits.size() - 33));
        } else {
            // Mostly the record headers and chunk counts, where the scan looks.
            for (int k = 0, n = 1 + static_cast<int>(next() % 3); k < n; ++k)
                damaged[33 + next() % std::min<size_t>(200, bits.size() - 33)] ^=
                    static_cast<uint8_t>(1 + next() % 255);
        }
        std::unique_ptr<GeometryT<double>> full;
        std::string fullError;
        try {
            full = std::make_unique<GeometryT<double>>(decodeFull(damaged, w.faces, 0, 0));
        } catch (const Error& e) {
            fullError = e.what();
        } catch (const CheckFailure& e) {
            fullError = e.what();
        }
        try {
            auto s = openStreaming(damaged, w.faces, 0, 0);
            std::vector<double> frames, p(3 * static_cast<size_t>(s->decoder->vertexCount()));
            int f;
            while (s->decoder->next(f, p.data())) frames.insert(frames.end(), p.begin(), p.end());
            ASSERT_TRUE(full) << "trial " << trial << ": the streaming decoder accepted what the full one refused: "
                              << fullError;
            ASSERT_EQ(std::memcmp(frames.data(), full->frame(0), frames.size() * sizeof(double)), 0) << trial;
            ASSERT_EQ(frames.size(), 3 * static_cast<size_t>(full->V) * full->F);
            // Several threads read the damaged records as one does.
            auto threaded = openStreaming(damaged, w.faces, 0, 0, 3);
            ASSERT_TRUE(sameBits(readToEnd(*threaded->decoder), frames)) << trial;
            ++agreed;
        } catch (const Error& e) {
            if (full) {
                EXPECT_NE(std::string(e.what()).find("appears in two frame records"), std::string::npos)
                    << "trial " << trial << ": " << e.what();
                ++refusedDuplicates;
            }
        } catch (const CheckFailure& e) {
            EXPECT_FALSE(full) << "trial " << trial << ": " << e.what();
        }
    }
    EXPECT_GT(agreed, 10);
    RecordProperty("refusedDuplicates", refusedDuplicates);
}

TEST(StreamingDecoder, ThreadsGiveTheSameFramesAfterAnySeekWithinTheRecordsInFlightMore) {
    const int F = 45;
    const Wave w = makeWave(F);
    for (int nTL : {1, 3, 5})
        for (int refFirst : {0, 1}) {
            Settings settings;
            settings.nSL = 3;
            settings.nTL = nTL;
            settings.refFirstFrame = refFirst;
            const double steps[3] = {0.002, 0.004, 0.004};
            const auto bits = bitStream(encodeSequence(w.positions, w.faces, settings, steps).streamFile);
            for (auto [nsl, ntl] : {std::pair{0, 0}, {2, 2}}) {
                SCOPED_TRACE(testing::Message() << "nTL " << nTL << " refFirst " << refFirst << " decoding " << nsl
                                                << "/" << ntl);
                auto one = openStreaming(bits, w.faces, nsl, ntl);
                const std::vector<double> expected = readToEnd(*one->decoder);
                const size_t details = one->decoder->context().peakDetailFrames();
                const size_t positions = one->decoder->context().peakPositionFrames();
                for (int n : {2, 3, 8}) {
                    SCOPED_TRACE(testing::Message() << n << " threads");
                    auto s = openStreaming(bits, w.faces, nsl, ntl, n);
                    EXPECT_EQ(s->decoder->threads(), n);
                    EXPECT_TRUE(sameBits(readToEnd(*s->decoder), expected));
                    EXPECT_LE(s->decoder->context().peakDetailFrames(), details + static_cast<size_t>(n - 1));
                    EXPECT_LE(s->decoder->context().peakPositionFrames(), positions + static_cast<size_t>(n - 1));
                    // The groups' top layers run side by side.
                    if (nTL == 5 && ntl == 0) {
                        EXPECT_EQ(s->decoder->largestBatch(), static_cast<size_t>(n));
                    }
                    for (int target : {37, 3, 44, 0, 8, 8}) {
                        one->decoder->seek(target);
                        s->decoder->seek(target);
                        EXPECT_TRUE(sameBits(readToEnd(*s->decoder), readToEnd(*one->decoder))) << target;
                    }
                    // Back to one thread in the middle of a pass.
                    s->decoder->seek(10);
                    one->decoder->seek(10);
                    int f;
                    std::vector<double> p(3 * static_cast<size_t>(w.positions.V));
                    for (int i = 0; i < 7; ++i) ASSERT_TRUE(s->decoder->next(f, p.data()));
                    for (int i = 0; i < 7; ++i) ASSERT_TRUE(one->decoder->next(f, p.data()));
                    s->decoder->setThreads(1);
                    EXPECT_EQ(s->decoder->threads(), 1);
                    EXPECT_TRUE(sameBits(readToEnd(*s->decoder), readToEnd(*one->decoder)));
                }
            }
        }
}

TEST(StreamingDecoder, ThreadsDecodeAllPositionsAsTheFullDecoderAndRefuseBadCounts) {
    const Wave w = makeWave(33);
    Settings settings;
    settings.nSL = 4;
    settings.nTL = 4;
    const double steps[3] = {0.002, 0.004, 0.004};
    const auto bits = bitStream(encodeSequence(w.positions, w.faces, settings, steps).streamFile);
    const GeometryT<double> full = decodeFull(bits, w.faces, 0, 0);
    BitBuffer buffer(bits);
    Settings s;
    const StreamHeader h = RedundancyMinCoder::readCheckedStreamHeader(buffer, s);
    LODConnectivity lod(s.nSL, w.faces, static_cast<int>(h.V));
    StreamingDecoder d(buffer, s, h, lod.vertexOrder_, lod.vertexPredictor_, s.nSL, s.nTL,
                       StreamingDecoder::Positions::AllFrames);
    EXPECT_THROW(d.setThreads(0), Error);
    EXPECT_THROW(d.setThreads(-4), Error);
    EXPECT_EQ(d.threads(), 1);
    d.setThreads(1000);
    EXPECT_EQ(d.threads(), StreamingDecoder::kMaxThreads);
    d.setThreads(3);
    d.decodeAll(false);
    const GeometryT<double>& got = d.context().GDec;
    ASSERT_EQ(got.F, full.F);
    EXPECT_EQ(std::memcmp(got.frame(0), full.frame(0), 3 * sizeof(double) * static_cast<size_t>(full.V) * full.F), 0);
    EXPECT_GT(d.largestBatch(), 1u);
}
