// Quantizer: the encoder's one free decision per residual component. The
// geometry coder hands it the prediction error (in the coordinates the decoder
// will use for that vertex) and the step size; it returns the integer residual.
// Everything else in the encoder is fixed by what the decoder does, so this is
// the hook a rate-distortion optimising encoder replaces (dead zones, per-layer
// thresholds, trellis decisions).
#pragma once

#include <cmath>
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

// The default: nearest integer, halves away from zero.
inline double roundToNearest(double _error, double _q) { return std::round(_error / _q); }

}  // namespace orv
