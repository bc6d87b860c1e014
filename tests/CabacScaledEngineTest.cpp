// The two decoding engines against each other: the scaled engine the residual
// decoder normally runs must give the bins, the bit counts and the overrun
// verdicts of the bit-serial one, on encoder output and on arbitrary bytes
// (which pass through every refill path and past the end of the pass).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "Entropy/CabacEngine.h"
#include "Entropy/CabacTables.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

// Runs the same random script of decisions (with two contexts), bypass bins
// and a final terminating bin on both engines over an exactly sized copy.
void compareEngines(const Bytes& _pass, std::mt19937& _rng, size_t _nBins) {
    const std::unique_ptr<uint8_t[]> copy(new uint8_t[_pass.size() + 1]);
    std::copy(_pass.begin(), _pass.end(), copy.get());
    const uint8_t* begin = copy.get();
    const uint8_t* end = begin + _pass.size();
    ASSERT_TRUE(cabac::ScaledDecodingEngine::startsInRange(begin, end));
    cabac::SerialDecodingEngine serial(begin, end);
    cabac::ScaledDecodingEngine scaled(begin, end);
    unsigned pa = _rng() % 128, pb = _rng() % 128;
    unsigned qa = pa, qb = pb;
    for (size_t i = 0; i < _nBins; ++i) {
        const unsigned op = _rng() % 8;
        int a, b;
        if (op < 4) {
            a = serial.decodePacked(pa);
            b = scaled.decodePacked(qa);
        } else if (op < 6) {
            a = serial.decodePacked(pb);
            b = scaled.decodePacked(qb);
        } else {
            a = serial.decodeBypass();
            b = scaled.decodeBypass();
        }
        ASSERT_EQ(a, b) << "bin " << i;
        ASSERT_EQ(pa, qa) << "bin " << i;
        ASSERT_EQ(pb, qb) << "bin " << i;
        ASSERT_EQ(serial.bitsRead(), scaled.bitsRead()) << "bin " << i;
    }
    EXPECT_EQ(serial.decodeTerminate(), scaled.decodeTerminate());
    EXPECT_EQ(serial.bitsRead(), scaled.bitsRead());
    EXPECT_EQ(serial.bytesFetched(), scaled.bytesFetched());
    EXPECT_EQ(serial.overran(), scaled.overran());
}

TEST(CabacScaledEngine, MatchesSerialEngineOnArbitraryBytes) {
    std::mt19937 rng(20261207);
    for (int trial = 0; trial < 3000; ++trial) {
        Bytes pass(rng() % 40);
        for (uint8_t& b : pass) b = static_cast<uint8_t>(rng());
        // The first nine bits must be below 510 (the engine's precondition).
        if (!pass.empty() && pass[0] == 0xFF) pass[0] = 0xFE;
        compareEngines(pass, rng, rng() % 400);
    }
}

TEST(CabacScaledEngine, MatchesSerialEngineOnSkewedStatistics) {
    // Mostly-zero and mostly-one bytes drive the contexts to the extreme
    // states (long MPS runs, rare LPS with the smallest sub-ranges).
    std::mt19937 rng(7);
    for (int trial = 0; trial < 500; ++trial) {
        Bytes pass(1 + rng() % 300);
        const uint8_t fill = (trial % 2) ? 0x00 : 0xFE;
        for (uint8_t& b : pass) b = (rng() % 16 == 0) ? static_cast<uint8_t>(rng()) : fill;
        pass[0] &= 0xFE;
        compareEngines(pass, rng, rng() % 3000);
    }
}

TEST(CabacScaledEngine, StartsInRangeReadsOnlyThePass) {
    // Missing bytes count as zero bits, as in the engines.
    const uint8_t high[2] = {0xFF, 0x00}, below[2] = {0xFE, 0xFF};
    EXPECT_FALSE(cabac::ScaledDecodingEngine::startsInRange(high, high + 2));   // 510
    EXPECT_FALSE(cabac::ScaledDecodingEngine::startsInRange(high, high + 1));   // 510
    EXPECT_TRUE(cabac::ScaledDecodingEngine::startsInRange(below, below + 2));  // 509
    EXPECT_TRUE(cabac::ScaledDecodingEngine::startsInRange(below, below));      // 0
}

}  // namespace
}  // namespace orv
