// Tests of the residual entropy coder: the arithmetic coder tables, the two
// reference payloads, round trips through CabacVx3Encoder and CabacVx3Decoder
// on ordinary and extreme value lists, and the rejection of corrupt payloads
// (run under the sanitizer build to see that nothing outside is read).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Decoder/CabacVx3Decoder.h"
#include "SequenceEncoder/CabacVx3Encoder.h"
#include "Entropy/CabacEngine.h"
#include "Entropy/CabacTables.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

// Decodes from an exactly sized heap copy, so that the sanitizer notices any
// read past the payload.
size_t decode(const Bytes& _payload, size_t _n, std::vector<int>& _res) {
    const std::unique_ptr<uint8_t[]> copy(new uint8_t[_payload.size() + (_payload.empty() ? 1 : 0)]);
    std::copy(_payload.begin(), _payload.end(), copy.get());
    return CabacVx3Decoder::decodeValues(copy.get(), _payload.size(), _n, _res);
}

std::vector<int> decodeAll(const Bytes& _payload, size_t _n) {
    std::vector<int> res;
    EXPECT_EQ(decode(_payload, _n, res), _payload.size());
    return res;
}

void expectCorrupt(const Bytes& _payload, size_t _n, const std::string& _detail) {
    std::vector<int> res;
    try {
        decode(_payload, _n, res);
        FAIL() << "payload accepted, expected: " << _detail;
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("corrupt layer payload: " + _detail), std::string::npos) << e.what();
    }
}

// Pass 1 length L1 of an encoder payload: pass 1 does not depend on the
// magnitudes, so the same list reduced to signs, with B = 0, has the same
// pass 1 followed by a bare terminating bin (2 bytes).
size_t pass1Length(const Bytes& _payload, const std::vector<int>& _v) {
    std::vector<int> signs(_v.size());
    for (size_t i = 0; i < _v.size(); ++i)
        signs[i] = (_v[i] > 0) - (_v[i] < 0);
    return CabacVx3Encoder::encodeValues(signs, _payload[0], 63, 0).size() - 5;
}

TEST(CabacTables, SpotChecksAgainstTheStandard) {
    const uint8_t row0[4] = {128, 176, 208, 240}, row12[4] = {77, 94, 111, 128}, row31[4] = {29, 35, 41, 48},
                  row62[4] = {6, 7, 8, 9}, row63[4] = {2, 2, 2, 2};
    for (int q = 0; q < 4; ++q) {
        EXPECT_EQ(cabac::rangeTabLPS[0][q], row0[q]);
        EXPECT_EQ(cabac::rangeTabLPS[12][q], row12[q]);
        EXPECT_EQ(cabac::rangeTabLPS[31][q], row31[q]);
        EXPECT_EQ(cabac::rangeTabLPS[62][q], row62[q]);
        EXPECT_EQ(cabac::rangeTabLPS[63][q], row63[q]);
    }
    EXPECT_EQ(cabac::transIdxLPS[0], 0);
    EXPECT_EQ(cabac::transIdxLPS[13], 11);
    EXPECT_EQ(cabac::transIdxLPS[44], 31);
    EXPECT_EQ(cabac::transIdxLPS[62], 38);
    EXPECT_EQ(cabac::transIdxLPS[63], 63);
    EXPECT_EQ(cabac::transIdxMPS[0], 1);
    EXPECT_EQ(cabac::transIdxMPS[61], 62);
    EXPECT_EQ(cabac::transIdxMPS[62], 62);
    EXPECT_EQ(cabac::transIdxMPS[63], 63);
    // The LPS range shrinks with the state and grows with the range quarter.
    for (int s = 0; s < 63; ++s)
        for (int q = 0; q < 4; ++q) {
            if (s > 0) {
                EXPECT_LE(cabac::rangeTabLPS[s][q], cabac::rangeTabLPS[s - 1][q]) << s;
            }
            if (q > 0) {
                EXPECT_GE(cabac::rangeTabLPS[s][q], cabac::rangeTabLPS[s][q - 1]) << s;
            }
        }
}

TEST(CabacContext, StateBytesMapWithoutClipping) {
    const auto c0 = cabac::contextFromStateByte(0), c63 = cabac::contextFromStateByte(63),
               c64 = cabac::contextFromStateByte(64), c127 = cabac::contextFromStateByte(127),
               c100 = cabac::contextFromStateByte(100);
    EXPECT_EQ(c0.state, 63);
    EXPECT_EQ(c0.mps, 0);
    EXPECT_EQ(c63.state, 0);
    EXPECT_EQ(c63.mps, 0);
    EXPECT_EQ(c64.state, 0);
    EXPECT_EQ(c64.mps, 1);
    EXPECT_EQ(c127.state, 63);
    EXPECT_EQ(c127.mps, 1);
    EXPECT_EQ(c100.state, 36);
    EXPECT_EQ(c100.mps, 1);
}

const Bytes kExample1 = {0x3F, 0x7E, 0xF8, 0x3F, 0x03, 0x4B, 0x24};
const Bytes kExample2 = {0x40, 0x30, 0x7F, 0xC0, 0x40, 0x02, 0x9C, 0x5C, 0x80};

TEST(CabacWorkedExamples, DecodeExactly) {
    EXPECT_EQ(decodeAll(kExample1, 3), (std::vector<int>{0, -1, 5}));
    EXPECT_EQ(decodeAll(kExample2, 6), (std::vector<int>{1, -1, 0, 2, 0, -3}));
}

TEST(CabacWorkedExamples, ReEncodeByteForByte) {
    EXPECT_EQ(CabacVx3Encoder::encodeValues({0, -1, 5}, 0x3F, 0x3F, 3), kExample1);
    EXPECT_EQ(CabacVx3Encoder::encodeValues({1, -1, 0, 2, 0, -3}, 0x40, 0x40, 2), kExample2);
}

TEST(CabacEdgeCases, AllZeroLayerKeepsStateByteAndB) {
    const std::vector<int> zeros(300, 0);
    const Bytes p = CabacVx3Encoder::encodeValues(zeros, 63, 21, 7);
    // Pass 2 is a bare terminating bin: two bytes; B and the state byte precede it.
    ASSERT_GE(p.size(), 6u);
    EXPECT_EQ(p[p.size() - 3], 7);
    EXPECT_EQ(p[p.size() - 4], 21);
    EXPECT_EQ(decodeAll(p, zeros.size()), zeros);
    // The automatic choice codes B = 0 and exploits the long run of zeros.
    const Bytes a = CabacVx3Encoder::encodeValues(zeros);
    EXPECT_EQ(a[a.size() - 3], 0);
    EXPECT_LT(a.size(), p.size());
    EXPECT_EQ(decodeAll(a, zeros.size()), zeros);
}

TEST(CabacEdgeCases, BZeroMeansPlusOrMinusOne) {
    const std::vector<int> v = {1, -1, 0, 1, 1, -1, 0, 0};
    const Bytes p = CabacVx3Encoder::encodeValues(v, 64, 64, 0);
    EXPECT_EQ(decodeAll(p, v.size()), v);
    const Bytes a = CabacVx3Encoder::encodeValues(v);
    const size_t l1 = pass1Length(a, v);
    EXPECT_EQ(a[2 + l1], 0);
    EXPECT_EQ(a, CabacVx3Encoder::encodeValues(v, a[0], a[1 + l1], 0));
    EXPECT_THROW(CabacVx3Encoder::encodeValues({1, 2}, 64, 64, 0), Error);
    EXPECT_THROW(CabacVx3Encoder::encodeValues({9}, 64, 64, 3), Error);  // 8 needs 4 planes
    EXPECT_THROW(CabacVx3Encoder::encodeValues({1}, 64, 64, 32), Error);
    EXPECT_THROW(CabacVx3Encoder::encodeValues({1}, 128, 64, 1), Error);
}

TEST(CabacEdgeCases, EmptyListStillParsesAPayload) {
    const Bytes p = CabacVx3Encoder::encodeValues({}, 63, 64, 0);
    EXPECT_EQ(p.size(), 7u);  // state, 2 bytes of pass 1, state, B, 2 bytes of pass 2
    EXPECT_TRUE(decodeAll(p, 0).empty());
    EXPECT_TRUE(decodeAll(CabacVx3Encoder::encodeValues({}), 0).empty());
    // Any payload is read as far as its two passes go, without value bins.
    std::vector<int> res;
    EXPECT_EQ(decode(kExample1, 0, res), 7u);
    EXPECT_TRUE(res.empty());
    Bytes padded = p;
    padded.insert(padded.end(), {1, 2, 3});
    EXPECT_EQ(decode(padded, 0, res), 7u);
}

TEST(CabacEdgeCases, ExtremeStateBytesRoundTrip) {
    std::mt19937 rng(7);
    std::vector<int> v(500);
    for (int& x : v)
        x = static_cast<int>(rng() % 7) - 3;
    for (int sig : {0, 1, 62, 63, 64, 65, 126, 127})
        for (int mag : {0, 63, 64, 127}) {
            const Bytes p = CabacVx3Encoder::encodeValues(v, static_cast<uint8_t>(sig), static_cast<uint8_t>(mag), 2);
            EXPECT_EQ(decodeAll(p, v.size()), v) << sig << " " << mag;
        }
}

void expectRoundTrip(const std::vector<int>& _v, const std::string& _what) {
    const Bytes p = CabacVx3Encoder::encodeValues(_v);
    EXPECT_EQ(decodeAll(p, _v.size()), _v) << _what;
}

TEST(CabacRoundTrip, ExtremeLists) {
    expectRoundTrip(std::vector<int>(100000, 0), "long zero run");
    expectRoundTrip(std::vector<int>(5000, 1), "all +1");
    expectRoundTrip(std::vector<int>(5000, -1), "all -1");
    expectRoundTrip({INT_MAX, -INT_MAX, INT_MIN, 0, 1, -1, INT_MAX - 1, INT_MIN + 1}, "32-bit limits");
    expectRoundTrip(std::vector<int>(1000, INT_MIN), "INT32_MIN run");
    expectRoundTrip(std::vector<int>(1000, INT_MAX), "INT32_MAX run");
    expectRoundTrip({}, "empty");
    expectRoundTrip({0}, "single zero");
    expectRoundTrip({-7}, "single value");
    std::vector<int> runs;
    for (int r = 0; r < 40; ++r)
        runs.insert(runs.end(), static_cast<size_t>(1 + r * 37), (r % 3) - 1);
    expectRoundTrip(runs, "alternating long runs");
    const Bytes p = CabacVx3Encoder::encodeValues({INT_MIN});
    EXPECT_EQ(p[p.size() - 3], 31);  // |INT32_MIN| - 1 = 2^31 - 1 needs all 31 planes
}

TEST(CabacRoundTrip, RandomListsAndStateBytes) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 300; ++trial) {
        const size_t n = rng() % 2000;
        const double pNonZero = std::uniform_real_distribution<double>(0, 1)(rng);
        const int maxBits = static_cast<int>(rng() % 32);
        std::vector<int> v(n);
        for (int& x : v) {
            if (std::uniform_real_distribution<double>(0, 1)(rng) >= pNonZero)
                continue;
            const int bits = static_cast<int>(rng() % static_cast<unsigned>(maxBits + 1));
            const uint32_t m = bits == 0 ? 0 : static_cast<uint32_t>(rng()) >> (32 - bits);  // |x| - 1
            const int64_t mag = int64_t{m} + 1;
            x = static_cast<int>(rng() & 1 ? -mag : std::min<int64_t>(mag, INT_MAX));
        }
        expectRoundTrip(v, "trial " + std::to_string(trial));
        const int minB = [&] {
            int b = 0;
            for (int x : v)
                if (x != 0)
                    while (b < 31 && (static_cast<uint32_t>(std::abs(int64_t{x}) - 1) >> b) != 0)
                        ++b;
            return b;
        }();
        const int B = minB + static_cast<int>(rng() % static_cast<unsigned>(32 - minB));
        const Bytes p = CabacVx3Encoder::encodeValues(v, static_cast<uint8_t>(rng() % 128),
                                                      static_cast<uint8_t>(rng() % 128), B);
        EXPECT_EQ(decodeAll(p, n), v) << "trial " << trial << " B " << B;
    }
}

TEST(CabacRoundTrip, AutomaticStatesBeatFixedOnRealisticLists) {
    std::mt19937 rng(99);
    size_t autoBytes = 0, fixedBytes = 0, estimated = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const size_t n = 3 * (1 + rng() % 400);
        const double pZero = std::uniform_real_distribution<double>(0.5, 0.98)(rng);
        std::geometric_distribution<int> geo(std::uniform_real_distribution<double>(0.3, 0.9)(rng));
        std::vector<int> v(n);
        for (int& x : v)
            if (std::uniform_real_distribution<double>(0, 1)(rng) >= pZero)
                x = (1 + geo(rng)) * (rng() & 1 ? -1 : 1);
        const Bytes a = CabacVx3Encoder::encodeValues(v);
        const Bytes f = CabacVx3Encoder::encodeValues(v, 63, 64, a[2 + pass1Length(a, v)]);
        autoBytes += a.size();
        fixedBytes += f.size();
        estimated += CabacVx3Encoder::estimateBits(v);
        EXPECT_EQ(decodeAll(a, n), v);
    }
    EXPECT_LT(autoBytes, fixedBytes);
    EXPECT_NEAR(static_cast<double>(estimated) / 8, static_cast<double>(autoBytes), 0.05 * autoBytes);
}

// Writes a payload bin by bin, for streams the encoder would never produce.
struct RawPayload {
    Bytes bytes;
    void pass(uint8_t _state, const std::vector<int>& _decisions, const std::vector<int>& _bypass) {
        bytes.push_back(_state);
        cabac::Context ctx = cabac::contextFromStateByte(_state);
        cabac::EncodingEngine engine(bytes);
        for (int b : _decisions)
            engine.encodeDecision(ctx, b);
        for (int b : _bypass)
            engine.encodeBypass(b);
        engine.finish();
    }
};

TEST(CabacCorrupt, MagnitudeBeyond32Bits) {
    for (int sign : {0, 1}) {
        RawPayload r;
        r.pass(63, {1}, {sign});
        r.bytes.push_back(63);  // magnitude state byte
        r.bytes.push_back(31);  // B
        cabac::Context ctx = cabac::contextFromStateByte(63);
        cabac::EncodingEngine engine(r.bytes);
        for (int k = 0; k < 31; ++k)
            engine.encodeDecision(ctx, 1);
        engine.finish();
        if (sign == 1)
            EXPECT_EQ(decodeAll(r.bytes, 1), std::vector<int>{INT_MIN});
        else
            expectCorrupt(r.bytes, 1, "magnitude does not fit a 32-bit signed integer");
    }
}

TEST(CabacCorrupt, BadStateBytesAndB) {
    Bytes p = kExample1;
    p[0] = 200;
    expectCorrupt(p, 3, "significance context state byte 200 is above 127");
    p = kExample1;
    p[3] = 128;
    expectCorrupt(p, 3, "magnitude context state byte 128 is above 127");
    p = kExample1;
    p[4] = 40;
    expectCorrupt(p, 3, "B = 40 is above 31");
    p = kExample1;
    p[4] = 32;
    expectCorrupt(p, 3, "B = 32 is above 31");
    // B is checked even when no value needs it.
    Bytes z = CabacVx3Encoder::encodeValues({0, 0, 0}, 63, 63, 0);
    z[z.size() - 3] = 255;
    expectCorrupt(z, 3, "B = 255");
    expectCorrupt({}, 0, "empty payload");
}

TEST(CabacCorrupt, TruncatedPasses) {
    std::mt19937 rng(5);
    std::vector<int> v(900);
    for (int& x : v)
        x = rng() % 4 == 0 ? static_cast<int>(rng() % 41) - 20 : 0;
    const Bytes p = CabacVx3Encoder::encodeValues(v);
    const size_t l1 = pass1Length(p, v);
    ASSERT_EQ(p[2 + l1], 5);  // B of |x| <= 20
    // Up to the cut the engine reads what the full payload gives it, so it
    // always reaches the missing bytes: every strict prefix is refused.
    for (size_t len = 1; len < p.size(); ++len) {
        const Bytes cut(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(len));
        if (len < 1 + l1)
            expectCorrupt(cut, v.size(), "pass 1 needs more bytes than the chunk holds");
        else if (len < 3 + l1)
            expectCorrupt(cut, v.size(), "payload ends before the magnitude state byte and B");
        else
            expectCorrupt(cut, v.size(), "pass 2 needs more bytes than the chunk holds");
    }
    expectCorrupt(Bytes(kExample1.begin(), kExample1.begin() + 2), 3, "pass 1 needs more bytes");
    expectCorrupt(Bytes(kExample1.begin(), kExample1.begin() + 4), 3, "payload ends before");
    expectCorrupt(Bytes(kExample1.begin(), kExample1.begin() + 6), 3, "pass 2 needs more bytes");
}

TEST(CabacCorrupt, ArbitraryBytesNeverEscape) {
    std::mt19937 rng(11);
    size_t accepted = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        Bytes p(rng() % 24);
        for (uint8_t& b : p)
            b = static_cast<uint8_t>(rng());
        if (!p.empty() && rng() % 2)
            p[0] &= 0x7F;
        const size_t n = rng() % 40;
        std::vector<int> res;
        try {
            const size_t used = decode(p, n, res);
            EXPECT_LE(used, p.size());
            EXPECT_EQ(res.size(), n);
            ++accepted;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("corrupt layer payload: ", 0), 0u) << e.what();
        }
    }
    EXPECT_GT(accepted, 0u);
}

}  // namespace
}  // namespace orv
