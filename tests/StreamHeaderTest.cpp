// Stream and frame headers byte for byte, and the refusal of headers that
// cannot describe a real stream.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Encoder/RedundancyMinCoder.h"
#include "StreamBuilder.h"

using orv::BitBuffer;
using orv::RedundancyMinCoder;

namespace {

std::vector<uint8_t> bytesOf(BitBuffer& b) {
    const int64_t n = b.padToByte();
    return std::vector<uint8_t>(b.data(), b.data() + n);
}

std::string errorOf(const std::vector<uint8_t>& bits) {
    BitBuffer b(bits);
    orv::Settings s;
    try {
        RedundancyMinCoder::readStreamHeader(b, s);
    } catch (const orv::Error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(StreamHeader, BytesOfTheExampleAndRoundTrip) {
    orv::Settings s = orvtest::settings(8, 4);
    BitBuffer b(33);
    const double q[3] = {0.5, 0.25, 1e-3};
    EXPECT_EQ(RedundancyMinCoder::writeStreamHeader(b, s, 1000, 100, q), 33);
    const std::vector<uint8_t> bytes = bytesOf(b);
    const std::vector<uint8_t> head = {0x00, 0x00, 0x03, 0xE8, 0x00, 0x64, 0x08, 0x04, 0x40};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 9), head);
    const std::vector<uint8_t> half = {0, 0, 0, 0, 0, 0, 0xE0, 0x3F};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 9, bytes.begin() + 17), half);

    BitBuffer r(bytes);
    orv::Settings t;
    const orv::StreamHeader h = RedundancyMinCoder::readStreamHeaderFields(r, t);
    EXPECT_EQ(h.V, 1000u);
    EXPECT_EQ(h.F, 100);
    EXPECT_EQ(t.nSL, 8);
    EXPECT_EQ(t.nTL, 4);
    EXPECT_EQ(h.qStep[2], 1e-3);
    EXPECT_EQ(r.bitPosition(), 33 * 8);
}

TEST(StreamHeader, SwitchesAndFrameLimit) {
    orv::Settings s = orvtest::settings(3, 2);
    s.refFirstFrame = true;
    s.baseLayerPred = 0;
    s.enhLayerPred = 1;
    orv::DecoderContext context(2, 1, 3);
    BitBuffer b(40);
    RedundancyMinCoder::writeStreamHeader(b, s, context);
    EXPECT_EQ(b.data()[8] >> 4, 0xA);
    BitBuffer r(bytesOf(b));
    orv::Settings t;
    RedundancyMinCoder::readStreamHeaderFields(r, t);
    EXPECT_TRUE(t.refFirstFrame);
    EXPECT_EQ(t.baseLayerPred, 0);
    EXPECT_EQ(t.enhLayerPred, 1);
    EXPECT_EQ(t.entrType, 0);

    BitBuffer big(40);
    const double q[3] = {1, 1, 1};
    try {
        RedundancyMinCoder::writeStreamHeader(big, s, 1, 65536, q);
        ADD_FAILURE() << "F = 65536 was written";
    } catch (const orv::CheckFailure& e) {
        EXPECT_EQ(std::string(e.what()).rfind(
                      "Assertion failed: _context.GDec.F<(1<<16), file Encoder/RedundancyMinCoder, line ", 0),
                  0u);
    }
}

TEST(FrameHeader, BytesOfTheExamplesAndReferenceRules) {
    auto encode = [](int t, int f, const std::vector<int>& rf) {
        BitBuffer b(5);
        EXPECT_EQ(RedundancyMinCoder::writeFrameHeader(b, t, f, rf), 5);
        return bytesOf(b);
    };
    EXPECT_EQ(encode(2, 6, {4, 8}), (std::vector<uint8_t>{0x02, 0x00, 0x06, 0x82, 0x02}));
    EXPECT_EQ(encode(0, 300, {0}), (std::vector<uint8_t>{0x00, 0x01, 0x2C, 0x00, 0x7F}));
    EXPECT_EQ(encode(1, 9, {}), (std::vector<uint8_t>{0x01, 0x00, 0x09, 0x7F, 0x7F}));
    EXPECT_NO_THROW(encode(1, 200, {74}));
    EXPECT_THROW(encode(1, 200, {73}), orv::CheckFailure);
    EXPECT_THROW(encode(1, 9, {1, 2, 3}), orv::CheckFailure);

    auto decode = [](std::vector<uint8_t> bytes, std::vector<int>& rf) {
        BitBuffer b(bytes);
        return RedundancyMinCoder::readFrameHeader(b, rf);
    };
    std::vector<int> rf = {99};
    orv::FrameHeader h = decode({0x02, 0x00, 0x06, 0x82, 0x02}, rf);
    EXPECT_EQ(h.temporalLayer, 2);
    EXPECT_EQ(h.frame, 6);
    EXPECT_EQ(rf, (std::vector<int>{4, 8}));
    decode({0x00, 0x01, 0x2C, 0x80, 0x7F}, rf);  // sign 1, magnitude 0: frame 0
    EXPECT_EQ(rf, std::vector<int>{0});
    decode({0x00, 0x01, 0x2C, 0x7F, 0x7F}, rf);
    EXPECT_TRUE(rf.empty());
    EXPECT_THROW(decode({0x00, 0x01, 0x2C, 0x7F, 0x01}, rf), orv::Error);
}

TEST(StreamHeader, ReaderCreatesTheContextOfAOneFrameStream) {
    orvtest::Record first{0, 0, {}, {{1, 2}, {}}};
    const auto bits = orvtest::bitStream(3, 1, orvtest::settings(2, 1), {first});
    BitBuffer b(bits);
    orv::Settings s;
    const auto context = RedundancyMinCoder::readStreamHeader(b, s);
    EXPECT_EQ(b.bitPosition(), 33 * 8);
    EXPECT_EQ(context->GDec.V, 3);
    EXPECT_EQ(context->GFrames.F, 3);
    EXPECT_EQ(context->filterDec.size(), 1u);
    EXPECT_EQ(context->filterDec[0].size(), 2u);
    EXPECT_EQ(context->qStep[1], 0.25);
}

TEST(StreamHeader, ImpossibleHeadersAreRefusedBeforeAllocating) {
    orvtest::Record r{0, 0, {}, {{}, {}}};
    EXPECT_NE(errorOf(orvtest::bitStream(3, 1, orvtest::settings(0, 1), {r})).find("0 spatial layers"),
              std::string::npos);
    // Two records of at least 13 bytes cannot fit in the 13 bytes after the header.
    EXPECT_NE(errorOf(orvtest::bitStream(3, 2, orvtest::settings(2, 1), {r})).find("2 frame records"),
              std::string::npos);
    EXPECT_NE(errorOf(orvtest::bitStream(3, 0, orvtest::settings(2, 1), {r})).find("0 frames"), std::string::npos);
    EXPECT_NE(errorOf(orvtest::bitStream((1 << 29) + 1, 1, orvtest::settings(2, 1), {r})).find("at most"),
              std::string::npos);
    // 2^29 vertices x 60000 frames: far more memory than any machine has.
    std::vector<orvtest::Record> many(60000, orvtest::Record{0, 0, {}, {{}}});
    const std::string e = errorOf(orvtest::bitStream(1 << 29, 60000, orvtest::settings(1, 1), many));
    EXPECT_NE(e.find("GiB of memory"), std::string::npos) << e;
}

// Header values the decoder cannot use are refused with the value named:
// step sizes that are not finite and positive, temporal layer counts beyond
// the frame header's reach, and a header cut short.
TEST(StreamHeader, StepSizesLayerCountsAndShortHeadersAreRefusedByValue) {
    orvtest::Record r{0, 0, {}, {{}, {}}};
    auto withSteps = [&](double q0, double q1, double q2) {
        return errorOf(orvtest::bitStream(3, 1, orvtest::settings(2, 1), {r}, q0, q1, q2));
    };
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_NE(withSteps(std::nan(""), 0.25, 0.125).find("step size q0 = nan"), std::string::npos);
    EXPECT_NE(withSteps(0.5, inf, 0.125).find("step size q1 = inf"), std::string::npos);
    EXPECT_NE(withSteps(0.5, 0.25, 1e308).find("step size q2 = 1e+308"), std::string::npos);
    EXPECT_NE(withSteps(0.5, 0.25, 0.0).find("step size q2 = 0;"), std::string::npos);
    EXPECT_NE(withSteps(-0.5, 0.25, 0.125).find("step size q0 = -0.5;"), std::string::npos);
    EXPECT_EQ(withSteps(1e-300, 0.25, 1e290), "");
    for (int nTL : {0, 32, 255})
        EXPECT_NE(errorOf(orvtest::bitStream(3, 1, orvtest::settings(2, nTL), {r})).find(
                      "gives " + std::to_string(nTL) + " temporal layers; a stream holds 1 to 31"),
                  std::string::npos);
    const auto bits = orvtest::bitStream(3, 1, orvtest::settings(2, 1), {r});
    for (size_t n : {0, 1, 20, 32}) {
        const std::string e = errorOf(std::vector<uint8_t>(bits.begin(), bits.begin() + static_cast<long>(n)));
        EXPECT_EQ(e, "the stream is " + std::to_string(n) + " bytes long, too short for its 33-byte header "
                     "(truncated or not a stream file)");
    }
}
