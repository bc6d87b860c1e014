// The residual decoder's shortcuts against plain per-bin decoding: MPS runs
// skipped a block at a time (ScaledDecodingEngine::skipMpsRun), bypass bins
// taken by long division (decodeBypassMasks), and the whole decodeValues
// against a reference written straight from the payload description, bin by
// bin with the bit-serial engine. Passes come from the encoding engine with
// skewed statistics (long MPS runs in every state, runs across refills and
// plane boundaries), exactly sized, cut short, or as arbitrary bytes.
#include <gtest/gtest.h>

#include <algorithm>
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

// An exactly sized heap copy, so that the sanitizer sees any read past it.
struct ExactCopy {
    std::unique_ptr<uint8_t[]> data;
    size_t size;
    explicit ExactCopy(const Bytes& _b) : data(new uint8_t[_b.empty() ? 1 : _b.size()]), size(_b.size()) {
        std::copy(_b.begin(), _b.end(), data.get());
    }
    const uint8_t* begin() const { return data.get(); }
    const uint8_t* end() const { return data.get() + size; }
};

// A script of one pass: segments of decisions with one context (bins given)
// and of bypass bins, in order.
struct Segment {
    bool bypass;
    std::vector<int> bins;
};

struct Script {
    uint8_t stateByte;
    std::vector<Segment> segments;
};

// Decisions that are mostly 0 (or mostly 1), with stretches of nothing but
// the majority symbol: the context climbs to state 62 and stays there.
std::vector<int> skewedBins(std::mt19937& _rng, size_t _n) {
    static const double kRare[] = {0.0, 0.0005, 0.003, 0.01, 0.04, 0.15, 0.5};
    const double rare = kRare[_rng() % 7];
    const int majority = static_cast<int>(_rng() % 4 == 0);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<int> bins(_n);
    size_t i = 0;
    while (i < _n) {
        if (_rng() % 8 == 0) {
            const size_t run = std::min<size_t>(_n - i, _rng() % 3000);
            for (size_t t = 0; t < run; ++t)
                bins[i++] = majority;
        } else {
            bins[i++] = u(_rng) < rare ? 1 - majority : majority;
        }
    }
    return bins;
}

Script randomScript(std::mt19937& _rng) {
    static const uint8_t kStateBytes[] = {0, 1, 2, 30, 62, 63, 64, 65, 97, 125, 126, 127};
    Script s;
    s.stateByte = _rng() % 3 == 0 ? static_cast<uint8_t>(_rng() % 128) : kStateBytes[_rng() % 12];
    const int nSegments = 1 + static_cast<int>(_rng() % 6);
    for (int i = 0; i < nSegments; ++i) {
        Segment seg;
        seg.bypass = _rng() % 3 == 0;
        const size_t n = _rng() % 4 == 0 ? _rng() % 20 : _rng() % 6000;
        if (seg.bypass) {
            seg.bins.resize(n);
            for (int& b : seg.bins)
                b = static_cast<int>(_rng() & 1);
        } else {
            seg.bins = skewedBins(_rng, n);
        }
        s.segments.push_back(std::move(seg));
    }
    return s;
}

Bytes encodeScript(const Script& _s) {
    Bytes out;
    cabac::Context ctx = cabac::contextFromStateByte(_s.stateByte);
    cabac::EncodingEngine engine(out);
    for (const Segment& seg : _s.segments)
        for (int b : seg.bins) {
            if (seg.bypass)
                engine.encodeBypass(b);
            else
                engine.encodeDecision(ctx, b);
        }
    engine.finish();
    return out;
}

uint64_t registerOf(uint8_t _stateByte) {
    const cabac::Context c = cabac::contextFromStateByte(_stateByte);
    return cabac::decoderRegister.v[(unsigned{c.state} << 1) | c.mps];
}

// Decodes the script's shape from _pass twice: bin by bin with the serial
// engine, and with the scaled engine taking MPS runs through skipMpsRun (in
// pieces of random length, as the magnitude planes cut them) and bypass
// segments through decodeBypassMasks. Bins, contexts, bit counts, the
// terminating bin and the overrun verdict must agree after every piece.
void compareShortcuts(const Bytes& _pass, const Script& _s, std::mt19937& _rng, size_t& _skipped) {
    const ExactCopy copy(_pass);
    ASSERT_TRUE(cabac::ScaledDecodingEngine::startsInRange(copy.begin(), copy.end()));
    cabac::SerialDecodingEngine serial(copy.begin(), copy.end());
    cabac::ScaledDecodingEngine scaled(copy.begin(), copy.end());
    cabac::Context ctx = cabac::contextFromStateByte(_s.stateByte);
    uint64_t k = registerOf(_s.stateByte);
    for (size_t si = 0; si < _s.segments.size(); ++si) {
        const Segment& seg = _s.segments[si];
        const size_t n = seg.bins.size();
        const std::vector<int>& expected = seg.bins;  // what the encoder coded
        if (seg.bypass) {
            std::vector<uint32_t> masks(n + 1, 12345);
            scaled.decodeBypassMasks(n, masks.data());
            for (size_t i = 0; i < n; ++i) {
                ASSERT_EQ(serial.decodeBypass(), expected[i]) << "segment " << si << " bypass bin " << i;
                ASSERT_EQ(masks[i], expected[i] ? ~0u : 0u) << "segment " << si << " bypass bin " << i;
            }
            ASSERT_EQ(masks[n], 12345u);
        } else {
            size_t j = 0;
            while (j < n) {
                const size_t piece = std::min(n - j, _rng() % 2 ? n : 1 + _rng() % 300);
                const size_t stop = j + piece;
                while (j < stop) {
                    if (k >= cabac::kSkipFrom) {
                        const unsigned p = static_cast<unsigned>(k >> 32);
                        const size_t run = scaled.skipMpsRun(k, stop - j);
                        ASSERT_LE(run, stop - j);
                        for (size_t t = 0; t < run; ++t) {
                            ASSERT_EQ(serial.decodeDecision(ctx), static_cast<int>(p & 1))
                                << "segment " << si << " skipped bin " << j + t;
                            ASSERT_EQ(expected[j + t], static_cast<int>(p & 1));
                        }
                        j += run;
                        _skipped += run;
                        // Unless the piece's end stopped it, an LPS follows
                        // within kMpsRunShort decisions (state 63 is not skipped).
                        if (p < 126 && stop - j >= static_cast<size_t>(cabac::kMpsRunShort)) {
                            bool lps = false;
                            for (int t = 0; t < cabac::kMpsRunShort; ++t)
                                lps = lps || expected[j + t] != static_cast<int>(p & 1);
                            ASSERT_TRUE(lps) << "segment " << si << " skip stopped early at " << j;
                        }
                        if (j == stop)
                            break;
                    }
                    const int bin = scaled.decodeRegister(k);
                    ASSERT_EQ(bin, serial.decodeDecision(ctx)) << "segment " << si << " bin " << j;
                    ASSERT_EQ(bin, expected[j]) << "segment " << si << " bin " << j;
                    ++j;
                }
                ASSERT_EQ(static_cast<unsigned>(k >> 32), (unsigned{ctx.state} << 1) | ctx.mps)
                    << "segment " << si << " at " << j;
                ASSERT_EQ(k, cabac::decoderRegister.v[k >> 32]);
                ASSERT_EQ(scaled.bitsRead(), serial.bitsRead()) << "segment " << si << " at " << j;
            }
        }
        ASSERT_EQ(scaled.bitsRead(), serial.bitsRead()) << "end of segment " << si;
    }
    EXPECT_EQ(scaled.decodeTerminate(), serial.decodeTerminate());
    EXPECT_EQ(scaled.bitsRead(), serial.bitsRead());
    EXPECT_EQ(scaled.bytesFetched(), serial.bytesFetched());
    EXPECT_EQ(scaled.overran(), serial.overran());
    // An encoder's pass ends exactly where its bytes do.
    EXPECT_EQ(serial.bytesFetched(), _pass.size());
    EXPECT_FALSE(serial.overran());
}

TEST(CabacFastPath, SkippedRunsAndBulkBypassMatchPerBinDecoding) {
    std::mt19937 rng(31337);
    size_t totalBins = 0, skipped = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const Script s = randomScript(rng);
        const Bytes pass = encodeScript(s);
        for (const Segment& seg : s.segments)
            totalBins += seg.bins.size();
        SCOPED_TRACE("trial " + std::to_string(trial) + " state byte " + std::to_string(s.stateByte));
        compareShortcuts(pass, s, rng, skipped);
        if (HasFatalFailure())
            return;
    }
    EXPECT_GT(totalBins, 1000000u);
    EXPECT_GT(skipped, totalBins / 4);  // the runs were taken by the shortcut
}

// The same decoding steps over arbitrary and cut-short passes: whatever the
// bytes, the shortcuts consume what per-bin decoding does, and past the end
// both read the same zero bits and report the same overrun.
void compareOnBytes(const Bytes& _pass, uint8_t _stateByte, const std::vector<Segment>& _shape, std::mt19937& _rng) {
    const ExactCopy copy(_pass);
    if (!cabac::ScaledDecodingEngine::startsInRange(copy.begin(), copy.end()))
        return;
    cabac::SerialDecodingEngine serial(copy.begin(), copy.end());
    cabac::ScaledDecodingEngine scaled(copy.begin(), copy.end());
    cabac::Context ctx = cabac::contextFromStateByte(_stateByte);
    uint64_t k = registerOf(_stateByte);
    for (const Segment& seg : _shape) {
        const size_t n = seg.bins.size();
        if (seg.bypass) {
            std::vector<uint32_t> masks(n + 1);
            scaled.decodeBypassMasks(n, masks.data());
            for (size_t i = 0; i < n; ++i)
                ASSERT_EQ(masks[i], serial.decodeBypass() ? ~0u : 0u);
            continue;
        }
        size_t j = 0;
        while (j < n) {
            if (k >= cabac::kSkipFrom) {
                const int mps = static_cast<int>((k >> 32) & 1);
                const size_t run = scaled.skipMpsRun(k, std::min(n - j, size_t{1} + _rng() % 500));
                for (size_t t = 0; t < run; ++t)
                    ASSERT_EQ(serial.decodeDecision(ctx), mps);
                j += run;
                if (j == n)
                    break;
            }
            ASSERT_EQ(scaled.decodeRegister(k), serial.decodeDecision(ctx));
            ++j;
        }
        ASSERT_EQ(static_cast<unsigned>(k >> 32), (unsigned{ctx.state} << 1) | ctx.mps);
        ASSERT_EQ(scaled.bitsRead(), serial.bitsRead());
    }
    EXPECT_EQ(scaled.decodeTerminate(), serial.decodeTerminate());
    EXPECT_EQ(scaled.bitsRead(), serial.bitsRead());
    EXPECT_EQ(scaled.overran(), serial.overran());
}

TEST(CabacFastPath, ShortcutsMatchOnTruncatedAndArbitraryPasses) {
    std::mt19937 rng(4242);
    for (int trial = 0; trial < 300; ++trial) {
        const Script s = randomScript(rng);
        const Bytes pass = encodeScript(s);
        SCOPED_TRACE("trial " + std::to_string(trial));
        // Cut at the end, one byte short, and anywhere.
        for (size_t len : {pass.size(), pass.size() - 1, static_cast<size_t>(rng() % (pass.size() + 1)), size_t{0}}) {
            compareOnBytes(Bytes(pass.begin(), pass.begin() + static_cast<std::ptrdiff_t>(len)), s.stateByte,
                           s.segments, rng);
            if (HasFatalFailure())
                return;
        }
        // Arbitrary bytes: mostly zero or mostly one bits keep the decisions
        // in long MPS runs.
        Bytes noise(rng() % 200);
        const uint8_t fill = rng() % 2 ? 0x00 : 0xFF;
        for (uint8_t& b : noise)
            b = rng() % 10 == 0 ? static_cast<uint8_t>(rng()) : fill;
        compareOnBytes(noise, s.stateByte, s.segments, rng);
        if (HasFatalFailure())
            return;
    }
}

// decodeValues written straight from the payload description, bin by bin
// with the bit-serial engine, checking in the decoder's order. Returns the
// values and the bytes used, or the error text.
struct Reference {
    std::vector<int> values;
    size_t used = 0;
    std::string error;
};

Reference referenceDecode(const Bytes& _payload, size_t _n) {
    Reference r;
    const ExactCopy copy(_payload);
    const uint8_t* p = copy.begin();
    const uint8_t* end = copy.end();
    auto fail = [&](const std::string& _what) {
        r.error = "corrupt layer payload: " + _what;
        return r;
    };
    if (_payload.empty())
        return fail("empty payload");
    if (p[0] > 127)
        return fail("significance context state byte " + std::to_string(p[0]) + " is above 127");
    std::vector<int64_t> v(_n, 0);
    cabac::Context ctx = cabac::contextFromStateByte(p[0]);
    cabac::SerialDecodingEngine e1(p + 1, end);
    for (size_t i = 0; i < _n; ++i)
        v[i] = e1.decodeDecision(ctx);
    for (size_t i = 0; i < _n; ++i)
        if (v[i] != 0)
            v[i] = e1.decodeBypass() ? -1 : 1;
    e1.decodeTerminate();
    if (e1.overran())
        return fail("pass 1 needs more bytes than the chunk holds");
    const size_t magPos = 1 + e1.bytesFetched();
    if (_payload.size() < magPos + 2)
        return fail("payload ends before the magnitude state byte and B");
    const uint8_t magState = p[magPos], B = p[magPos + 1];
    if (B > 31)
        return fail("B = " + std::to_string(B) + " is above 31");
    if (magState > 127)
        return fail("magnitude context state byte " + std::to_string(magState) + " is above 127");
    ctx = cabac::contextFromStateByte(magState);
    cabac::SerialDecodingEngine e2(p + magPos + 2, end);
    for (int k = B - 1; k >= 0; --k)
        for (size_t i = 0; i < _n; ++i)
            if (v[i] != 0 && e2.decodeDecision(ctx))
                v[i] += v[i] > 0 ? (int64_t{1} << k) : -(int64_t{1} << k);
    bool anyValue = false;
    for (int64_t x : v)
        anyValue = anyValue || x != 0;
    if (anyValue && B != 0) {
        if (e2.overran())
            return fail("pass 2 needs more bytes than the chunk holds");
        for (int64_t x : v)
            if (x > INT32_MAX)
                return fail("magnitude does not fit a 32-bit signed integer");
    }
    e2.decodeTerminate();
    if (e2.overran())
        return fail("pass 2 needs more bytes than the chunk holds");
    for (int64_t x : v)
        r.values.push_back(static_cast<int>(x));
    r.used = magPos + 2 + e2.bytesFetched();
    return r;
}

void expectSameAsReference(const Bytes& _payload, size_t _n, const std::string& _what) {
    const Reference want = referenceDecode(_payload, _n);
    const ExactCopy copy(_payload);
    std::vector<int> got;
    try {
        const size_t used = CabacVx3Decoder::decodeValues(copy.begin(), copy.size, _n, got);
        EXPECT_EQ(want.error, "") << _what;
        EXPECT_EQ(got, want.values) << _what;
        EXPECT_EQ(used, want.used) << _what;
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), want.error) << _what;
    }
}

// Residual lists like those of real layers and harder ones: mostly zeros,
// geometric magnitudes, a few large values so that the high planes are nearly
// empty, and B above what the values need (planes of zeros only).
std::vector<int> residualList(std::mt19937& _rng, size_t _n) {
    std::uniform_real_distribution<double> u(0, 1);
    const double pZero = std::vector<double>{0.0, 0.5, 0.8, 0.95, 0.995, 1.0}[_rng() % 6];
    std::geometric_distribution<int> geo(0.2 + 0.75 * u(_rng));
    const double pLarge = _rng() % 3 == 0 ? 0.0 : 0.002;
    std::vector<int> v(_n, 0);
    for (int& x : v) {
        if (u(_rng) < pZero)
            continue;
        int m = 1 + geo(_rng);
        if (u(_rng) < pLarge)
            m = 1 + static_cast<int>(_rng() % (1u << (_rng() % 31)));
        x = _rng() & 1 ? -m : m;
    }
    return v;
}

int planesNeeded(const std::vector<int>& _v) {
    uint32_t all = 0;
    for (int x : _v)
        if (x != 0)
            all |= static_cast<uint32_t>(x < 0 ? -static_cast<int64_t>(x) : x) - 1u;
    int b = 0;
    while (b < 32 && (all >> b) != 0)
        ++b;
    return b;
}

TEST(CabacFastPath, DecodeValuesMatchesPerBinReference) {
    std::mt19937 rng(8080);
    for (int trial = 0; trial < 600; ++trial) {
        const size_t n = rng() % 4 == 0 ? rng() % 30 : rng() % 12000;
        const std::vector<int> v = residualList(rng, n);
        const std::string what = "trial " + std::to_string(trial) + " n " + std::to_string(n);
        const Bytes automatic = CabacVx3Encoder::encodeValues(v);
        expectSameAsReference(automatic, n, what + " automatic");
        const int minB = planesNeeded(v);
        const int B = std::min(31, minB + static_cast<int>(rng() % 6));
        const Bytes forced = CabacVx3Encoder::encodeValues(v, static_cast<uint8_t>(rng() % 128),
                                                           static_cast<uint8_t>(rng() % 128), B);
        expectSameAsReference(forced, n, what + " B " + std::to_string(B));
        // Cut short (the fast paths must hit the end exactly where per-bin
        // decoding does) and a byte changed.
        const size_t cut = rng() % forced.size();
        expectSameAsReference(Bytes(forced.begin(), forced.begin() + static_cast<std::ptrdiff_t>(cut)), n,
                              what + " cut at " + std::to_string(cut));
        Bytes flipped = automatic;
        flipped[rng() % flipped.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        expectSameAsReference(flipped, n, what + " flipped");
        if (HasFailure())
            return;
    }
}

TEST(CabacFastPath, DecodeValuesMatchesReferenceOnArbitraryBytes) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 20000; ++trial) {
        Bytes p(rng() % 64);
        const int kind = static_cast<int>(rng() % 3);
        const uint8_t fill = kind == 1 ? 0x00 : 0xFF;
        for (uint8_t& b : p)
            b = kind == 0 || rng() % 12 == 0 ? static_cast<uint8_t>(rng()) : fill;
        if (!p.empty() && rng() % 2)
            p[0] &= 0x7F;
        expectSameAsReference(p, rng() % 200, "trial " + std::to_string(trial));
        if (HasFailure())
            return;
    }
}

TEST(CabacFastPath, PointerFormWritesOnlyAfterSuccess) {
    const std::vector<int> v = {3, 0, -2, 0, 0, 7};
    const Bytes p = CabacVx3Encoder::encodeValues(v);
    std::vector<int> out(6, 99);
    EXPECT_EQ(CabacVx3Decoder::decodeValues(p.data(), p.size(), 6, out.data()), p.size());
    EXPECT_EQ(out, v);
    std::vector<int> untouched(6, 99);
    EXPECT_THROW(CabacVx3Decoder::decodeValues(p.data(), p.size() - 1, 6, untouched.data()), Error);
    EXPECT_EQ(untouched, std::vector<int>(6, 99));
}

}  // namespace
}  // namespace orv
