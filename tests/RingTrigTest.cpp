// Ring cosines and sines: the checked-in table must be the GNU C library's
// values (every stream was made with them), and the routine past the table
// must be correctly rounded, so that no platform's libm enters a decode.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "Common/Check.h"
#include "Encoder/RingTrig.h"
#include "Encoder/RingTrigTable.h"

namespace orv {
namespace {

TEST(RingTrig, TableHoldsTheGlibcValuesForEveryTabulatedRing) {
#if !defined(__GLIBC__)
    GTEST_SKIP() << "the table is checked against the GNU C library's cos and sin; this is another libm";
#else
    ASSERT_EQ(kRingTrigTableSize, kRingTrigTabulated * (kRingTrigTabulated + 1));
    for (size_t m = 1; m <= kRingTrigTabulated; ++m) {
        for (size_t i = 0; i < m; ++i) {
            const double a = ringAngle(m, i);
            double c, s;
            ringCosSin(m, i, c, s);
            // Bit for bit, the sign of zero included.
            ASSERT_EQ(std::signbit(c), std::signbit(std::cos(a))) << "m " << m << " i " << i;
            ASSERT_EQ(c, std::cos(a)) << "m " << m << " i " << i;
            ASSERT_EQ(std::signbit(s), std::signbit(std::sin(a))) << "m " << m << " i " << i;
            ASSERT_EQ(s, std::sin(a)) << "m " << m << " i " << i;
        }
    }
#endif
}

// An x87 long double (64-bit significand) rounded to double is the correctly
// rounded value unless it lies within a few of its ulps of a halfway point;
// those few cases are left out.
void expectCorrectlyRounded(double _got, long double _reference, size_t _m, size_t _i, const char* _what) {
    const double nearest = static_cast<double>(_reference);
    if (_got == nearest) return;
    const long double halfway = (static_cast<long double>(_got) + static_cast<long double>(nearest)) / 2;
    const long double ulp = std::fabs(static_cast<long double>(_got) - static_cast<long double>(nearest));
    EXPECT_LT(std::fabs(_reference - halfway), ulp * 0x1p-9L)
        << _what << " of ring m " << _m << " i " << _i << ": " << _got << " instead of " << nearest;
}

TEST(RingTrig, PastTheTableValuesAreCorrectlyRounded) {
    if (LDBL_MANT_DIG < 64) GTEST_SKIP() << "needs a long double wider than double as the reference";
    for (size_t m = kRingTrigTabulated + 1; m <= 700; ++m) {
        for (size_t i = 0; i < m; ++i) {
            const double a = ringAngle(m, i);
            double c, s;
            ringCosSin(m, i, c, s);
            expectCorrectlyRounded(c, std::cos(static_cast<long double>(a)), m, i, "cos");
            expectCorrectlyRounded(s, std::sin(static_cast<long double>(a)), m, i, "sin");
        }
    }
    // The quadrant boundaries, where the reduction by pi/2 cancels most.
    for (double a : {0.0, 0x1.921fb54442d18p+0, 0x1.921fb54442d18p+1, 0x1.2d97c7f3321d2p+2, 0x1.921fb54442d18p+2,
                     0x1.921fb54442d17p+0, 0x1.921fb54442d19p+1, 7.9999999999}) {
        double c, s;
        cosSinCorrectlyRounded(a, c, s);
        expectCorrectlyRounded(c, std::cos(static_cast<long double>(a)), 0, 0, "cos");
        expectCorrectlyRounded(s, std::sin(static_cast<long double>(a)), 0, 0, "sin");
    }
}

TEST(RingTrig, FirstTermIsExactlyOneAndPositiveZeroAndBadArgumentsThrow) {
    for (size_t m : {size_t{1}, size_t{7}, size_t{64}, size_t{65}, size_t{4096}}) {
        double c = 0, s = 1;
        ringCosSin(m, 0, c, s);
        EXPECT_EQ(c, 1.0);
        EXPECT_EQ(s, 0.0);
        EXPECT_FALSE(std::signbit(s));
    }
    double c, s;
    EXPECT_THROW(ringCosSin(5, 5, c, s), CheckFailure);
    EXPECT_THROW(ringCosSin(100, 100, c, s), CheckFailure);
    EXPECT_THROW(cosSinCorrectlyRounded(-1.0, c, s), CheckFailure);
    EXPECT_THROW(cosSinCorrectlyRounded(std::nan(""), c, s), CheckFailure);
}

}  // namespace
}  // namespace orv
