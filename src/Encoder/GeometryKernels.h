// GeometryKernels: the layer sweeps of GeometryCoder in 256-bit form, for
// processors with AVX2. They live in their own translation unit (the only one
// built with -mavx2) and see plain arrays only, so no inline function of a
// shared header can be emitted there with instructions an older processor
// lacks (the one shared body, GeometryFrameBody.h, holds templates only and
// is instantiated there over that file's own lane operations). GeometryCoder
// picks them at run time; every lane runs the portable path's operations in
// the portable path's order, so results are bit-identical.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::geometry_kernels {

// True when the AVX2 kernels were compiled in (x86 builds); whether the
// processor can run them is asked separately.
bool avx2Built();

// One layer's predictor terms in the order the sweeps visit its vertices (by
// vertex id, so that term lists and the frame and position stores all walk
// memory forwards): term i of the j-th visited vertex is entry begin[j] + i.
// The cos/sin tables are GeometryCoder's (pair i of a count-m ring at
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

// The sweeps keep 12 doubles of sums per vertex for a block of the layer at a
// time; a caller's scratch holds sumDoubles(count) doubles.
size_t sumDoubles(size_t _count);

// The normalised frames of every vertex, from its axis sums, written at the
// vertices of _order (the layer's vertices in visiting order), and with
// _parked the spatial predictions (3 per vertex, visiting order). A degenerate
// frame becomes the world axes; returns how many did.
uint64_t layerFramesAvx2(const LayerTerms& _terms, const double* _positions, double* _sums, double* _parked,
                         const int* _order, double* _t1, double* _t2, double* _n);

// What an enhancement layer's vertices are reconstructed from: reference
// details with their weights, the residuals (used when addResidual) and the
// step, and where the details and positions go (frame columns).
struct Reconstruction {
    const double* refDetail[2];
    double refWeight[2];
    size_t refCount;
    const int* quant;
    double step;
    bool addResidual;
    double* detail;
    double* positions;  // read for the predictions, written for the layer
};

// Sums, frames and reconstruction of a whole enhancement layer whose terms
// are all vertices of lower layers (so no vertex of the layer predicts from
// another, and blocks of it can be finished one after the other). Returns
// the world-axes fallbacks.
uint64_t reconstructLayerAvx2(const LayerTerms& _terms, const int* _order, double* _sums, double* _t1, double* _t2,
                              double* _n, const Reconstruction& _rec);

// One vertex's axis sums and prediction from its m terms (cos/sin pairs at
// _cs): t1, t2 and S as x, y, z each in _out.
void sumVertexAvx2(const int32_t* _ids, const double* _weights, size_t _m, const double* _cs,
                   const double* _positions, double _out[9]);

}  // namespace orv::geometry_kernels
