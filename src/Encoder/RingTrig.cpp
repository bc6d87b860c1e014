// Ring cosines and sines: the table lookup, and a correctly rounded
// evaluation in double-double arithmetic for term counts past the table.
//
// The evaluation reduces the angle by the nearest multiple of pi/2 (pi/2 held
// as three doubles, about 160 bits), then sums the Taylor series of sin and
// cos of the remainder (|r| <= pi/4) in double-double until the terms fall
// below 2^-110 of the sum. Every step is an exact or double-double operation
// of about 104 bits, so the final rounding to double is the correct one
// unless the true value lies within about 2^-100 of a rounding boundary.
#include "Encoder/RingTrig.h"

#include <cmath>

#include "Common/Check.h"
#include "Encoder/RingTrigTable.h"

namespace orv {

namespace {

constexpr const char* kModule = "RingTrig";

struct DD {
    double hi, lo;
};

DD quickTwoSum(double _a, double _b) {
    const double s = _a + _b;
    return {s, _b - (s - _a)};
}

DD twoSum(double _a, double _b) {
    const double s = _a + _b;
    const double bb = s - _a;
    return {s, (_a - (s - bb)) + (_b - bb)};
}

// Dekker's exact product (no fused multiply-add).
DD twoProd(double _a, double _b) {
    constexpr double kSplit = 134217729.0;  // 2^27 + 1
    const double p = _a * _b;
    const double ta = kSplit * _a, tb = kSplit * _b;
    const double ah = ta - (ta - _a), al = _a - ah;
    const double bh = tb - (tb - _b), bl = _b - bh;
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DD add(DD _a, DD _b) {
    DD s = twoSum(_a.hi, _b.hi);
    const DD t = twoSum(_a.lo, _b.lo);
    s.lo += t.hi;
    s = quickTwoSum(s.hi, s.lo);
    s.lo += t.lo;
    return quickTwoSum(s.hi, s.lo);
}

DD neg(DD _a) { return {-_a.hi, -_a.lo}; }

DD mul(DD _a, DD _b) {
    DD p = twoProd(_a.hi, _b.hi);
    p.lo += _a.hi * _b.lo + _a.lo * _b.hi;
    return quickTwoSum(p.hi, p.lo);
}

DD divExact(DD _a, double _b) {
    const double q1 = _a.hi / _b;
    const DD p = twoProd(q1, _b);
    DD r = twoSum(_a.hi, -p.hi);
    r.lo += _a.lo - p.lo;
    const double q2 = (r.hi + r.lo) / _b;
    return quickTwoSum(q1, q2);
}

// sin and cos of |_r| <= pi/4 + a little.
void seriesCosSin(DD _r, DD& _cos, DD& _sin) {
    const DD r2 = mul(_r, _r);
    DD sinSum = _r, sinTerm = _r;
    DD cosSum = {1.0, 0.0}, cosTerm = {1.0, 0.0};
    for (int n = 1; n < 40; ++n) {
        cosTerm = divExact(mul(cosTerm, r2), static_cast<double>((2 * n - 1) * (2 * n)));
        sinTerm = divExact(mul(sinTerm, r2), static_cast<double>((2 * n) * (2 * n + 1)));
        cosSum = add(cosSum, n % 2 ? neg(cosTerm) : cosTerm);
        sinSum = add(sinSum, n % 2 ? neg(sinTerm) : sinTerm);
        if (std::fabs(cosTerm.hi) < 0x1p-110 && std::fabs(sinTerm.hi) <= 0x1p-110 * std::fabs(sinSum.hi)) break;
    }
    _cos = cosSum;
    _sin = sinSum;
}

}  // namespace

void cosSinCorrectlyRounded(double _a, double& _cos, double& _sin) {
    ORV_CHECK(0.0 <= _a && _a <= 8.0, kModule);
    // pi/2 = kHalfPi1 + kHalfPi2 + kHalfPi3 to about 2^-163.
    constexpr double kHalfPi1 = 0x1.921fb54442d18p+0;
    constexpr double kHalfPi2 = 0x1.1a62633145c07p-54;
    constexpr double kHalfPi3 = -0x1.f1976b7ed8fbcp-110;
    const int k = static_cast<int>(std::floor(_a / kHalfPi1 + 0.5));
    DD r = {_a, 0.0};
    if (k != 0) {
        const double kd = static_cast<double>(k);
        const DD p1 = twoProd(kd, kHalfPi1);  // exact
        r = twoSum(_a, -p1.hi);               // exact
        r = add(r, {-p1.lo, 0.0});
        r = add(r, neg(twoProd(kd, kHalfPi2)));
        r = add(r, {-kd * kHalfPi3, 0.0});
    }
    DD c, s;
    seriesCosSin(r, c, s);
    // The double-double results are normalised: hi is hi + lo rounded.
    switch (k % 4) {
        case 0: _cos = c.hi; _sin = s.hi; break;
        case 1: _cos = -s.hi; _sin = c.hi; break;
        case 2: _cos = -c.hi; _sin = -s.hi; break;
        default: _cos = s.hi; _sin = -c.hi; break;
    }
}

void ringCosSin(size_t _m, size_t _i, double& _cos, double& _sin) {
    ORV_CHECK(_i < _m, kModule);
    if (_m <= kRingTrigTabulated) {
        const size_t at = _m * (_m - 1) + 2 * _i;
        ORV_CHECK(at + 1 < kRingTrigTableSize, kModule);
        _cos = kRingTrigTable[at];
        _sin = kRingTrigTable[at + 1];
        return;
    }
    cosSinCorrectlyRounded(ringAngle(_m, _i), _cos, _sin);
}

}  // namespace orv
