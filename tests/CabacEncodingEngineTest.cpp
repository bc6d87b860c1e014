// Tests of the encoder's shortcuts: bins given as bit strings (with MPS runs
// in state 62 taken a table step at a time) and bypass bins written several
// at once must give the bytes of the bin-by-bin engine, and the payloads of
// the residual encoder (state bytes chosen from the modelled costs) must stay
// those it has always written.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "Decoder/CabacVx3Decoder.h"
#include "SequenceEncoder/CabacVx3Encoder.h"
#include "Entropy/CabacEngine.h"
#include "Entropy/CabacTables.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

// Bins with ones at probability _p / 1024, in runs of ones of mean length
// _run (1 gives independent bins), as a bit string of _n bins.
std::vector<uint64_t> randomBins(std::mt19937& _rng, size_t _n, unsigned _p, unsigned _run) {
    std::vector<uint64_t> words((_n + 63) / 64, 0);
    for (size_t i = 0; i < _n;) {
        if (_rng() % 1024 < _p) {
            const size_t len = 1 + _rng() % (2 * _run - 1);
            for (size_t k = 0; k < len && i < _n; ++k, ++i)
                words[i / 64] |= uint64_t{1} << (i % 64);
        } else {
            ++i;
        }
    }
    return words;
}

Bytes bitByBit(const std::vector<uint64_t>& _words, size_t _n, unsigned _stateByte,
               const std::vector<std::pair<uint32_t, int>>& _bypass) {
    Bytes out{0x5A};  // a byte before the pass, which a carry must not touch
    cabac::Context ctx = cabac::contextFromStateByte(_stateByte);
    cabac::EncodingEngine engine(out);
    for (size_t i = 0; i < _n; ++i)
        engine.encodeDecision(ctx, static_cast<int>((_words[i / 64] >> (i % 64)) & 1u));
    for (auto [bins, n] : _bypass)
        for (int k = n - 1; k >= 0; --k)
            engine.encodeBypass(static_cast<int>((bins >> k) & 1u));
    engine.finish();
    return out;
}

Bytes byWords(const std::vector<uint64_t>& _words, size_t _n, unsigned _stateByte,
              const std::vector<std::pair<uint32_t, int>>& _bypass) {
    Bytes out{0x5A};
    cabac::Context ctx = cabac::contextFromStateByte(_stateByte);
    cabac::EncodingEngine engine(out);
    // In two calls, so that a call may start and end inside a word's run.
    const size_t half = _n / 2 / 64 * 64;
    engine.encodeDecisionWords(ctx, _words.data(), half);
    engine.encodeDecisionWords(ctx, _words.data() + half / 64, _n - half);
    for (auto [bins, n] : _bypass)
        engine.encodeBypassBits(bins, n);
    engine.finish();
    return out;
}

TEST(CabacEncodingEngine, RunTablesFollowTheSharedStateTable) {
    // The run tables are built from row 62 of the LPS range table.
    EXPECT_EQ(cabac::rangeTabLPS[62][0], 6);
    EXPECT_EQ(cabac::rangeTabLPS[62][1], 7);
    EXPECT_EQ(cabac::rangeTabLPS[62][2], 8);
    EXPECT_EQ(cabac::rangeTabLPS[62][3], 9);
    EXPECT_EQ(cabac::transIdxMPS[62], 62);
}

TEST(CabacEncodingEngine, WordsAndBypassGroupsMatchBinByBin) {
    std::mt19937 rng(12345);
    // From near-constant strings (long runs in state 62, in either MPS) to
    // coin tosses; every start state including the traps; lengths that end
    // inside a word.
    const unsigned densities[] = {0, 1, 4, 20, 100, 512, 1000, 1023, 1024};
    const unsigned stateBytes[] = {0, 1, 20, 62, 63, 64, 65, 100, 126, 127};
    int cases = 0;
    for (unsigned p : densities)
        for (unsigned run : {1u, 40u})
            for (unsigned c : stateBytes) {
                const size_t n = 1 + rng() % 3000;
                const std::vector<uint64_t> words = randomBins(rng, n, p, run);
                std::vector<std::pair<uint32_t, int>> bypass;
                for (int g = 0, groups = static_cast<int>(rng() % 40); g < groups; ++g) {
                    const int k = 1 + static_cast<int>(rng() % 16);
                    // All ones often, to drive carries through held 0xFF bytes.
                    const uint32_t bins = rng() % 3 == 0 ? (1u << k) - 1 : rng() & ((1u << k) - 1);
                    bypass.emplace_back(bins, k);
                }
                ASSERT_EQ(byWords(words, n, c, bypass), bitByBit(words, n, c, bypass))
                    << "density " << p << " run " << run << " state byte " << c << " bins " << n;
                ++cases;
            }
    EXPECT_EQ(cases, 180);
}

uint64_t fnv1a(const Bytes& _bytes, uint64_t _h) {
    for (uint8_t b : _bytes) {
        _h ^= b;
        _h *= 1099511628211ull;
    }
    return _h;
}

// Payloads and estimates of the residual encoder over lists like real layers
// (mostly small magnitudes, rare large ones, runs of zeros) and extreme ones.
// The pinned digests are those of the bin-by-bin encoder this one replaced:
// a change means the stream bytes or the rate estimates have changed.
TEST(CabacEncodingEngine, ResidualPayloadsAreUnchanged) {
    std::mt19937 rng(2024);
    uint64_t payloads = 1469598103934665603ull, estimates = 0;
    for (int t = 0; t < 400; ++t) {
        const size_t n = t % 4 == 0 ? rng() % 300 : rng() % 20000;
        const unsigned zeroPer1024 = rng() % 1025;
        const int maxBits = 1 + static_cast<int>(rng() % 31);
        std::vector<int> v(n);
        for (int& x : v) {
            if (rng() % 1024 < zeroPer1024)
                continue;
            uint32_t m = 0;
            switch (t % 3) {
                case 0: m = rng() % 4; break;
                case 1: m = rng() % 64 == 0 ? rng() & ((1u << maxBits) - 1) & 0x7fffffffu : rng() % 3; break;
                default: m = (rng() & ((1u << maxBits) - 1) & 0x7fffffffu) >> (rng() % 31); break;
            }
            x = rng() & 1 ? -static_cast<int>(m + 1) : static_cast<int>(m + 1);
        }
        if (t % 50 == 7 && n != 0)
            v[n / 2] = INT32_MIN;
        const Bytes a = CabacVx3Encoder::encodeValues(v);
        payloads = fnv1a(a, payloads);
        estimates = estimates * 1000003u + CabacVx3Encoder::estimateBits(v);
        if (t % 40 == 0) {
            std::vector<int> back;
            ASSERT_EQ(CabacVx3Decoder::decodeValues(a.data(), a.size(), n, back), a.size());
            ASSERT_EQ(back, v);
        }
    }
    EXPECT_EQ(payloads, 0xfacf657251fd77abull);
    EXPECT_EQ(estimates, 0x22c4cf4830303e21ull);
}

}  // namespace
}  // namespace orv
