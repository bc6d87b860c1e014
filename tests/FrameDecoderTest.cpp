// The frame decoding loop on hand-built streams: chunk framing (zero chunks,
// empty layers, the worked chunk), the scalability decision, and the clear
// errors for streams that cannot be decoded.
#include <gtest/gtest.h>

#include "Common/Check.h"
#include "Decoder/FrameDecoder.h"
#include "Encoder/RedundancyMinCoder.h"

using namespace orv;

namespace {

struct Record {
    int tl = 0;
    int frame = 0;
    std::vector<int> rf;
    std::vector<std::vector<uint8_t>> chunks;  // one payload per layer (empty: count 0)
};

std::vector<uint8_t> buildStream(const Settings& s, int V, int F, const std::vector<Record>& records,
                                 double q = 0.5) {
    BitBuffer b(1 << 16);
    const double qStep[3] = {q, q, q};
    RedundancyMinCoder::writeStreamHeader(b, s, V, F, qStep);
    for (const Record& r : records) {
        RedundancyMinCoder::writeFrameHeader(b, r.tl, r.frame, r.rf);
        for (const auto& c : r.chunks) {
            b.putBits(static_cast<uint32_t>(c.size()), 32);
            b.putBytes(c.data(), static_cast<int64_t>(c.size()));
        }
    }
    const int64_t n = b.padToByte();
    return std::vector<uint8_t>(b.data(), b.data() + n);
}

// Layer 0: vertices 0 and 1 (no predictors); layer 1: vertex 2, predicted
// from 0, 1 and 0 again; layer 2: empty.
struct Decoded {
    Settings settings;
    std::unique_ptr<DecoderContext> context;
    BitBuffer buffer{0};
};

std::unique_ptr<Decoded> decode(const std::vector<uint8_t>& bytes, int nSLdec, int nTLdec) {
    auto d = std::make_unique<Decoded>();
    d->buffer = BitBuffer(bytes);
    d->context = RedundancyMinCoder::readStreamHeader(d->buffer, d->settings);
    DecoderContext& c = *d->context;
    c.allLayerVertexOrders = {{0, 1}, {2}, {}};
    c.allLayerPredictors = {{{}, {}}, {{{0, 1.0 / 3}, {1, 1.0 / 3}, {0, 1.0 / 3}}}, {}};
    decodeAllFrames(d->buffer, c, d->settings, nSLdec, nTLdec, false);
    return d;
}

// The worked one-vertex chunk: (0, -1, 5).
const std::vector<uint8_t> kChunkA = {0x3F, 0x7E, 0xF8, 0x3F, 0x03, 0x4B, 0x24};
// The worked two-vertex payload: (1, -1, 0, 2, 0, -3).
const std::vector<uint8_t> kChunkB = {0x40, 0x30, 0x7F, 0xC0, 0x40, 0x02, 0x9C, 0x5C, 0x80};

Settings threeLayers() {
    Settings s;
    s.nSL = 3;
    s.nTL = 2;
    s.baseLayerPred = 0;
    return s;
}

std::string errorOf(const std::vector<uint8_t>& bytes, int nSLdec = 3, int nTLdec = 2) {
    try {
        decode(bytes, nSLdec, nTLdec);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(FrameDecoder, WorkedChunksZeroChunksAndScalability) {
    const Settings s = threeLayers();
    // Frame 0 first; frame 2 (tl 0) from frame 0; frame 1 (tl 1) from 0 and 2.
    const std::vector<Record> records = {
        {0, 0, {}, {kChunkB, kChunkA, {}}},
        {0, 2, {0}, {{}, kChunkA, {}}},
        {1, 1, {0, 2}, {kChunkB, kChunkA, {}}},
    };
    const auto bytes = buildStream(s, 3, 3, records);
    auto full = decode(bytes, 3, 2);
    const DecoderContext& c = *full->context;
    EXPECT_EQ(c.GQuant.position(0, 0), (Vector3T<int>{1, -1, 0}));
    EXPECT_EQ(c.GQuant.position(1, 0), (Vector3T<int>{2, 0, -3}));
    EXPECT_EQ(c.GQuant.position(2, 0), (Vector3T<int>{0, -1, 5}));
    EXPECT_EQ(c.GDec.position(0, 0), (Vector3d{0.5, -0.5, 0}));
    // Frame 2: layer 0 chunk of count 0, so the base keeps frame 0's details.
    EXPECT_EQ(c.GQuant.position(0, 2), (Vector3T<int>{0, 0, 0}));
    EXPECT_EQ(c.GDec.position(1, 2), c.GDec.position(1, 0));
    EXPECT_EQ(c.filterDec[2][1], (std::vector<double>{1.0}));
    EXPECT_EQ(c.filterDec[1][2], (std::vector<double>{0.5, 0.5}));
    EXPECT_TRUE(c.filterDec[0][1].empty());
    EXPECT_TRUE(c.filterDec[2][0].empty());
    // Frame 1, all decoded: d = 0.5 d0 + 0.5 d2 + q R.
    EXPECT_EQ(c.GDetail.position(2, 1).z, 0.5 * 2.5 + 0.5 * 5.0 + 2.5);

    // Only layer 0 of temporal layer 1: frame 1's layer 1 is predicted alone.
    auto partial = decode(bytes, 1, 2);
    EXPECT_EQ(partial->context->GDetail.position(2, 1).z, 0.5 * 2.5 + 0.5 * 5.0);
    EXPECT_EQ(partial->context->GDec.position(0, 1), c.GDec.position(0, 1));
    // Temporal layer 0 only: frame 1 entirely predicted, frames 0 and 2 intact.
    auto base = decode(bytes, 1, 1);
    EXPECT_EQ(base->context->GDetail.position(0, 1), (Vector3d{0.5, -0.5, 0}));
    EXPECT_EQ(base->context->GDec.position(2, 2), c.GDec.position(2, 2));
    EXPECT_EQ(base->buffer.bitPosition(), full->buffer.bitPosition());
    // Each layer added brings frame 1 closer to its full decode: temporal
    // layer 0 alone, then layer 0 of temporal layer 1, then all.
    auto distance = [&c](const DecoderContext& _d) {
        double sum = 0;
        for (int v = 0; v < 3; ++v) {
            const Vector3d a = _d.GDec.position(v, 1), b = c.GDec.position(v, 1);
            sum += (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z);
        }
        return sum;
    };
    EXPECT_GT(distance(*base->context), distance(*partial->context));
    EXPECT_GT(distance(*partial->context), 0.0);
}

TEST(FrameDecoder, FirstRecordIgnoresItsHeaderFieldsAndEmptyLayerPayloadIsParsed) {
    const Settings s = threeLayers();
    // Non-zero temporal layer and a reference in the first record: unused.
    // The empty layer 2 carries a payload anyway: parsed with no value bins.
    const std::vector<uint8_t> emptyPayload = {0x3F, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00};
    const auto bytes = buildStream(s, 3, 1, {{5, 0, {0}, {{}, kChunkA, emptyPayload}}});
    auto d = decode(bytes, 1, 1);
    EXPECT_EQ(d->context->GQuant.position(2, 0), (Vector3T<int>{0, -1, 5}));
}

TEST(FrameDecoder, CorruptStreamsGiveClearErrors) {
    const Settings s = threeLayers();
    const Record first{0, 0, {}, {{}, {}, {}}};
    // Frame number outside 0..F-1.
    EXPECT_NE(errorOf(buildStream(s, 3, 2, {first, {0, 7, {0}, {{}, {}, {}}}})).find("frame record for frame 7"),
              std::string::npos);
    // Reference outside 0..F-1.
    EXPECT_NE(errorOf(buildStream(s, 3, 2, {first, {0, 1, {-2}, {{}, {}, {}}}})).find("references frame -2"),
              std::string::npos);
    // entrType other than CABAC.
    Settings bad = s;
    bad.entrType = 1;
    EXPECT_NE(errorOf(buildStream(bad, 3, 1, {first})).find("_settings.entrType == Settings::CABAC"),
              std::string::npos);
    // A byte count beyond the end of the stream.
    auto bytes = buildStream(s, 3, 1, {{0, 0, {}, {kChunkB, {}, {}}}});
    bytes[33 + 5 + 3] = 0xFF;
    EXPECT_NE(errorOf(bytes).find("claims"), std::string::npos);
    // Truncated stream: the bit buffer's checks.
    bytes = buildStream(s, 3, 2, {first, {0, 1, {0}, {{}, {}, {}}}});
    bytes.resize(bytes.size() - 2);
    EXPECT_THROW(decode(bytes, 3, 2), std::exception);
}

TEST(FrameDecoder, EnhLayerPredOneNeedsNoReferencesInNonEmptyLayers) {
    Settings s = threeLayers();
    s.enhLayerPred = 1;
    const Record first{0, 0, {}, {{}, {}, {}}};
    const std::string e = errorOf(buildStream(s, 3, 2, {first, {0, 1, {0}, {{}, {}, {}}}}));
    EXPECT_NE(e.find("_rf.size() == context_.filterDec[_f][_l].size()"), std::string::npos) << e;
    // Without references the record decodes; a reference to a frame that
    // had no record yet is allowed and reads zero details.
    EXPECT_EQ(errorOf(buildStream(s, 3, 2, {first, {0, 1, {}, {{}, {}, {}}}})), "");
    Settings s0 = threeLayers();
    auto d = decode(buildStream(s0, 3, 3, {first, {0, 1, {2}, {kChunkB, {}, {}}}, {0, 2, {0}, {{}, {}, {}}}}), 3, 2);
    EXPECT_EQ(d->context->GDetail.position(0, 1), (Vector3d{0.5, -0.5, 0}));
}
