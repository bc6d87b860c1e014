// Quantizer: the encoder's one free decision per residual component. The
// geometry coder hands it the prediction error (in the coordinates the decoder
// will use for that vertex) and the step size; it returns the integer residual.
// Everything else in the encoder is fixed by what the decoder does, so this is
// the hook a rate-distortion optimising encoder replaces (dead zones, per-layer
// thresholds, trellis decisions).
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>

namespace orv {

// Where a residual belongs, for quantizers that decide per layer or vertex.
struct ResidualSite {
    int frame = 0;
    int layer = 0;
    int vertex = 0;
    int component = 0;  // 0 = x (or t1), 1 = y (or t2), 2 = z (or n)
};

// (prediction error, step size, site) -> residual as an integer-valued double.
// The coder refuses values that are not finite, not integral or beyond 32 bits.
using Quantizer = std::function<double(double, double, const ResidualSite&)>;

// The default: nearest integer, halves away from zero (std::round without the
// library call: the fraction x - trunc(x) is exact below 2^63), of the
// quotient _x = _error / _q; callers that round one quotient several ways
// divide once.
inline double roundQuotient(double _x) {
    if (!(std::fabs(_x) < 4.0e18)) return _x;  // not finite or far beyond 32 bits: refused by the caller
    const double t = static_cast<double>(static_cast<int64_t>(_x));
    const double frac = _x - t;
    if (frac >= 0.5) return t + 1.0;
    if (frac <= -0.5) return t - 1.0;
    return t;
}
inline double roundToNearest(double _error, double _q) { return roundQuotient(_error / _q); }

// sign(a) * floor(|a/q| + theta) as an integer-valued double (a dead zone);
// with _zeroOnly every value the zone does not make 0 is rounded to nearest.
inline double deadZoneQuotient(double _x, double _theta, bool _zeroOnly = false) {
    if (!(std::fabs(_x) < 4.0e18)) return _x;  // refused by the coder like any residual beyond 32 bits
    double r = std::floor(std::fabs(_x) + _theta);
    // A large residual costs about the same rounded either way, while the
    // zone's bias adds to its error: only the zeros are the zone's.
    if (_zeroOnly && r != 0) r = std::floor(std::fabs(_x) + 0.5);
    return _x < 0 ? -r : r;
}
inline double deadZoneRound(double _error, double _q, double _theta, bool _zeroOnly = false) {
    return deadZoneQuotient(_error / _q, _theta, _zeroOnly);
}

}  // namespace orv
