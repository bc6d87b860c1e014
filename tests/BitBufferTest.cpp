// The bit buffer's bit order, alignment operations and bounds checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "Common/Check.h"
#include "Entropy/BitBuffer.h"

using orv::BitBuffer;

#define EXPECT_CHECK(stmt, text)                                                              \
    try {                                                                                     \
        stmt;                                                                                 \
        ADD_FAILURE() << "no check failed";                                                   \
    } catch (const orv::CheckFailure& e) {                                                    \
        EXPECT_NE(std::string(e.what()).find("Assertion failed: " text ", file Entropy/BitBuffer"), \
                  std::string::npos)                                                          \
            << e.what();                                                                      \
    }

TEST(BitBuffer, BitsFillBytesFromTheTopAndPadWithZeros) {
    BitBuffer b(2);
    b.putBits(5, 3);
    b.putBits(1, 1);
    EXPECT_EQ(b.padToByte(), 1);
    EXPECT_EQ(b.data()[0], 0xB0);
    EXPECT_EQ(b.padToByte(), 1);  // already aligned: nothing written
    b.putBit(true);
    EXPECT_EQ(b.padToByte(), 2);
    EXPECT_EQ(b.data()[1], 0x80);
}

TEST(BitBuffer, ThirtyTwoBitValuesRoundTripAndZeroWidthDoesNothing) {
    BitBuffer w(8);
    w.putBits(0xFFFFFFFFu, 32);
    w.putBits(0x12345678u, 32);
    w.putBits(7, 0);
    EXPECT_EQ(w.bitPosition(), 64);
    BitBuffer r(std::vector<uint8_t>(w.data(), w.data() + 8));
    EXPECT_EQ(r.getBits(32), 0xFFFFFFFFu);
    EXPECT_EQ(r.getBits(0), 0u);
    EXPECT_EQ(r.getBits(32), 0x12345678u);
}

TEST(BitBuffer, NextByteAlwaysMovesAndPadToByteOnlyWhenUnaligned) {
    BitBuffer b(16);
    for (int i = 0; i < 8; ++i) b.putBit(true);
    b.nextByte();
    EXPECT_EQ(b.bitPosition(), 16);
    EXPECT_EQ(b.padToByte(), 2);
    b.putBit(true);  // position 17
    EXPECT_EQ(b.padToByte(), 3);
    EXPECT_EQ(b.data()[2], 0x80);
    while (b.bitPosition() < 68) b.putBit(true);
    b.nextByte();
    EXPECT_EQ(b.bitPosition(), 72);
    EXPECT_EQ(b.data()[8], 0xF0);  // the four skipped bits keep the zero fill
}

TEST(BitBuffer, AccessesOutsideTheArrayFail) {
    BitBuffer empty(0);
    EXPECT_CHECK(empty.getBit(), "bp_<8*nBytes_");
    BitBuffer nine(9);
    for (int i = 0; i < 68; ++i) nine.putBit(false);
    EXPECT_CHECK(nine.nextByte(), "bp_<8*nBytes_");  // arriving at the end is a failure
    BitBuffer one(1);
    for (int i = 0; i < 8; ++i) one.putBit(true);
    EXPECT_CHECK(one.putBit(true), "bp_<8*nBytes_");
}

TEST(BitBuffer, BlockCopiesCheckCountAlignmentAndEndIn64Bits) {
    uint8_t bytes[4] = {1, 2, 3, 4};
    BitBuffer b(4);
    b.getBytes(bytes, 0);
    EXPECT_EQ(b.bitPosition(), 0);
    b.putBit(true);
    EXPECT_CHECK(b.getBytes(bytes, 0), "bp_%8==0");
    BitBuffer c(4);
    EXPECT_CHECK(c.putBytes(bytes, -1), "_nBytes>=0");
    EXPECT_CHECK(c.putBytes(bytes, 5), "bp_/8+_nBytes<=nBytes_");
    // A count near 2^31 (or 2^63) must not wrap around and pass the check.
    c.putBytes(bytes, 2);
    EXPECT_CHECK(c.getBytes(bytes, std::numeric_limits<int32_t>::max()), "bp_/8+_nBytes<=nBytes_");
    EXPECT_CHECK(c.getBytes(bytes, std::numeric_limits<int64_t>::max() / 8), "bp_/8+_nBytes<=nBytes_");
    EXPECT_EQ(c.bitPosition(), 16);
}

// The residual decoder reads chunks in place: the view must start at the
// cursor, move it like a copy would, and refuse what getBytes refuses.
TEST(BitBuffer, ViewsSeeTheBytesInPlaceAndCheckLikeCopies) {
    BitBuffer b(std::vector<uint8_t>{10, 20, 30, 40, 50});
    EXPECT_EQ(b.getBits(8), 10u);
    const uint8_t* v = b.viewBytes(3);
    EXPECT_EQ(v, b.data() + 1);
    EXPECT_EQ(v[0], 20);
    EXPECT_EQ(v[2], 40);
    EXPECT_EQ(b.bitPosition(), 32);
    EXPECT_EQ(b.viewBytes(0), b.data() + 4);
    EXPECT_EQ(b.getBits(8), 50u);
    EXPECT_CHECK(b.viewBytes(1), "bp_/8+_nBytes<=nBytes_");
    BitBuffer c(std::vector<uint8_t>{1, 2, 3});
    EXPECT_CHECK(c.viewBytes(-1), "_nBytes>=0");
    EXPECT_CHECK(c.viewBytes(std::numeric_limits<int64_t>::max() / 8), "bp_/8+_nBytes<=nBytes_");
    c.getBit();
    EXPECT_CHECK(c.viewBytes(1), "bp_%8==0");
    EXPECT_EQ(c.bitPosition(), 1);
}
