// The encoder's AVX2 kernel: the enhancement pass with round-to-nearest or
// dead-zone residuals, four vertices per register, in its own translation unit (built
// with -mavx2, plain arrays only, as the core's GeometryKernels). Each lane
// runs the per-vertex pass's operations in its order, so the residuals and the
// reconstruction are bit-identical to the portable path's.
#pragma once

#include <cstddef>

#include "Encoder/GeometryKernels.h"

namespace orv::geometry_kernels {

// On the predictions parked by the frame sweep (in the order of _order) and
// the frames in t1, t2, n.
struct EnhancementEncoding {
    Reconstruction rec;  // quant unused: the residuals are chosen
    int* quantOut;
    const double* parked;
    const double* original;
    const double *t1, *t2, *n;
    // The dead zone of GeometryEncoder::DeadZone without a component guard
    // (theta in [0, 1]; an infinite vertexLimit guards nothing); off, the
    // residuals are rounded to nearest.
    bool deadZone = false;
    double theta = 0.5;
    double vertexLimit = 0.0;
    bool zeroOnly = false;
};

// Codes the vertices of groups of four from _k on, while their frames are
// orthonormal and their residuals fit 32 bits (with a dead zone: their
// quotients lie below 2^30, where every rounding of them fits); returns where it stopped: the
// group starting there (or the short last one) is left to the portable path.
size_t encodeEnhancementAvx2(const int* _order, size_t _count, size_t _k, const EnhancementEncoding& _job);

}  // namespace orv::geometry_kernels
