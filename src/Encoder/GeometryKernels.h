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
    // The order of the sweeps (visit[j] is a layer index): by vertex id, so
    // the frame and position stores walk memory forwards. Sums are kept in
    // this order, predictions for _parked in layer order.
    const int32_t* visit;
};

// Sums are kept per vertex in layer order, 12 doubles each; a caller's sum
// buffer holds sumDoubles(count) (room for a whole last group of 4).
inline size_t sumDoubles(size_t _count) { return 12 * ((_count + 3) & ~size_t{3}); }

// The frame axis sums of every vertex into _sums, and with _parked the spatial
// predictions (3 per vertex, layer order).
void sumLayerAvx2(const LayerTerms& _terms, const double* _positions, double* _sums, double* _parked);

// The sums made normalised frames, written at the vertices of _order (the
// layer's vertices in visiting order); a
// degenerate frame becomes the world axes. Returns how many did. _sums is
// scratch afterwards.
uint64_t finishFramesAvx2(const int* _order, size_t _count, double* _sums, double* _t1, double* _t2, double* _n);

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

// Sums, frames and reconstruction of a whole enhancement layer, as the
// decoder's single sweep does it: every prediction and frame is summed before
// any vertex of the layer is written. Returns the world-axes fallbacks.
uint64_t reconstructLayerAvx2(const LayerTerms& _terms, const int* _order, double* _sums, double* _t1, double* _t2,
                              double* _n, const Reconstruction& _rec);

// One vertex's axis sums and prediction from its m terms (cos/sin pairs at
// _cs): t1, t2 and S as x, y, z each in _out.
void sumVertexAvx2(const int32_t* _ids, const double* _weights, size_t _m, const double* _cs,
                   const double* _positions, double _out[9]);

// The encoder's enhancement pass with round-to-nearest residuals, on the
// predictions parked by the frame sweep and the frames in t1, t2, n.
struct EnhancementEncoding {
    Reconstruction rec;  // quant unused: the residuals are chosen
    int* quantOut;
    const double* parked;
    const double* original;
    const double *t1, *t2, *n;
};

// Codes the vertices of groups of four from _k on, while their frames are
// orthonormal and their residuals fit 32 bits; returns where it stopped: the
// group starting there (or the short last one) is left to the portable path.
size_t encodeEnhancementAvx2(const int* _order, size_t _count, size_t _k, const EnhancementEncoding& _job);

}  // namespace orv::geometry_kernels
