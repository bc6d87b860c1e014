// The cosines and sines of the local-frame rings: term i of a ring of m
// terms sits at angle i*(2*pi/m). These values enter every decoded position,
// so they must be the same on every platform and compiler; a platform's libm
// cannot promise that (libms differ in the last bit). The values are those of
// the GNU C library's cos and sin, which every stream so far was made with:
// looked up in a checked-in table for the term counts that occur in
// practice, and computed correctly rounded (double-double arithmetic) beyond.
#pragma once

#include <cstddef>

namespace orv {

// Term counts up to this one are tabulated (rings of real meshes have at
// most about 10 terms).
constexpr size_t kRingTrigTabulated = 64;

// The angle of term i of a count-m ring, as the coder has always rounded it.
inline double ringAngle(size_t _m, size_t _i) {
    const double step = 6.283185307179586 / static_cast<double>(_m);
    return static_cast<double>(_i) * step;
}

// cos and sin of ringAngle(_m, _i), 0 <= _i < _m, identical everywhere.
void ringCosSin(size_t _m, size_t _i, double& _cos, double& _sin);

// cos and sin of _a, 0 <= _a <= 8, correctly rounded except in cases closer
// to a rounding boundary than about 2^-100 relative (none is known among the
// ring angles). Plain IEEE double operations only, hence identical
// everywhere (the build forbids fused multiply-adds).
void cosSinCorrectlyRounded(double _a, double& _cos, double& _sin);

}  // namespace orv
