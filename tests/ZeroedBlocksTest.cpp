// The zeroed storage of the per-frame arrays: blocks on either side of the
// size from which they are mapped directly come zeroed and writable over
// their whole length, survive copies and moves, and a count whose byte size
// overflows is refused before anything is allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>

#include "Common/ZeroedBlocks.h"
#include "Matrix/MatrixT.h"
#include "Mesh/GeometryT.h"

using namespace orv;

namespace {

bool allZero(const unsigned char* _p, size_t _n) {
    for (size_t i = 0; i < _n; ++i)
        if (_p[i] != 0) return false;
    return true;
}

}  // namespace

TEST(ZeroedBlocks, SmallAndLargeBlocksComeZeroedAndWritable) {
    for (size_t bytes : {size_t{2}, size_t{4096}, kLargeZeroedBlock - 1, kLargeZeroedBlock,
                         kLargeZeroedBlock + 12345, 3 * kLargeZeroedBlock}) {
        auto* p = static_cast<unsigned char*>(allocateZeroed(bytes));
        ASSERT_NE(p, nullptr) << bytes;
        EXPECT_TRUE(allZero(p, bytes)) << bytes;
        // The last byte belongs to the block as much as the first.
        p[0] = 1;
        p[bytes - 1] = 2;
        EXPECT_EQ(p[0] + p[bytes - 1], 3);
        freeZeroed(p, bytes);
    }
    EXPECT_EQ(allocateZeroed(0), nullptr);
    freeZeroed(nullptr, 0);
    freeZeroed(nullptr, kLargeZeroedBlock);
}

TEST(ZeroedBlocks, FreedLargeBlocksComeBackZeroed) {
    // A block given back and asked for again must not show the old values.
    for (int round = 0; round < 3; ++round) {
        auto* p = static_cast<unsigned char*>(allocateZeroed(kLargeZeroedBlock + 100));
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(allZero(p, kLargeZeroedBlock + 100)) << round;
        for (size_t i = 0; i < kLargeZeroedBlock + 100; i += 4096) p[i] = 0xAB;
        freeZeroed(p, kLargeZeroedBlock + 100);
    }
}

TEST(ZeroedBlocks, LargeGeometriesCopyMoveAndAssign) {
    // 3 x 120000 doubles per frame x 3 frames: well past the mapped size.
    GeometryT<double> a(120000, 3);
    ASSERT_GE(3 * sizeof(double) * 120000 * 3, kLargeZeroedBlock);
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(a.frame(f)[0], 0.0);
        EXPECT_EQ(a.frame(f)[3 * 120000 - 1], 0.0);
        a.frame(f)[7] = f + 0.5;
        a.frame(f)[3 * 120000 - 1] = -f;
    }
    GeometryT<double> b = a;
    a.frame(1)[7] = 99;
    EXPECT_EQ(b.frame(1)[7], 1.5);
    EXPECT_EQ(b.frame(2)[3 * 120000 - 1], -2.0);
    GeometryT<double> c(std::move(b));
    EXPECT_EQ(c.frame(2)[7], 2.5);
    GeometryT<double> small(2, 2);
    small = std::move(c);  // a large block replaces a small one
    EXPECT_EQ(small.frame(0)[3 * 120000 - 1], 0.0);
    EXPECT_EQ(small.frame(2)[7], 2.5);
    const GeometryT<double> d(small);
    EXPECT_EQ(d.frame(2)[3 * 120000 - 1], -2.0);
}

TEST(ZeroedBlocks, ByteSizeOverflowIsRefused) {
    // rows x cols of 8-byte elements beyond SIZE_MAX must not wrap into a
    // small allocation.
    EXPECT_THROW((ZeroedArray<double>(SIZE_MAX / 4)), std::bad_alloc);
    EXPECT_THROW((ZeroedArray<uint32_t>(SIZE_MAX / 2)), std::bad_alloc);
}
