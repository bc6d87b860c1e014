// GeometryKernels: the layer sweeps of GeometryCoder in 256-bit form, for
// processors with AVX2. They live in their own translation unit (the only one
// built with -mavx2) and see plain arrays only, so no inline function of a
// shared header can be emitted there with instructions an older processor
// lacks. GeometryCoder picks them at run time; every lane runs the portable
// path's operations in the portable path's order, so results are bit-identical.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::geometry_kernels {

// True when the AVX2 kernels were compiled in (x86 builds); whether the
// processor can run them is asked separately.
bool avx2Built();

// One layer's predictor terms (term j of vertex k is entry begin[k] + j) and
// the cos/sin tables of GeometryCoder (pair i of a count-m ring at
// trig[trigAt[m] + 2i]). Every count has a table and no vertex is without
// terms: the caller checks both.
struct LayerTerms {
    const int32_t* begin;
    const int32_t* id;
    const double* weight;
    const double* trig;
    const size_t* trigAt;
    size_t count;  // vertices of the layer
};

// The frame axis sums of every vertex, in layer order, 8 doubles each (t1 then
// t2 as x, y, z, unused), and with _parked the spatial predictions (3 each).
void sumLayerAvx2(const LayerTerms& _terms, const double* _positions, double* _sums, double* _parked);

// The sums made normalised frames, written at the vertices of _order; a
// degenerate frame becomes the world axes. Returns how many did. _sums is
// scratch afterwards and must have room for a whole last group of four
// (8 * _count rounded up to a multiple of 32 doubles).
uint64_t finishFramesAvx2(const int* _order, size_t _count, double* _sums, double* _t1, double* _t2, double* _n);

}  // namespace orv::geometry_kernels
