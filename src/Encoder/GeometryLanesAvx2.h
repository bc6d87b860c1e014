// Four vertices in 256-bit lanes, one vertex per lane: the gathers, stores and
// the reconstruction step that the core's AVX2 sweeps and the encoder's AVX2
// pass share. Include it only from files built with -mavx2 (whose inline code
// must never be picked for a file that runs on processors without AVX2).
#pragma once

#include <cstddef>

#include "Encoder/GeometryKernels.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace orv::geometry_kernels::avx2 {

// Three coordinates of four vertices, one vertex per lane.
struct Lanes {
    __m256d x, y, z;
};

inline void storeLanes(double* _base, const size_t* _at, const Lanes& _v) {
    const __m256d a = _mm256_unpacklo_pd(_v.x, _v.y), b = _mm256_unpackhi_pd(_v.x, _v.y);
    const __m128d zlo = _mm256_castpd256_pd128(_v.z), zhi = _mm256_extractf128_pd(_v.z, 1);
    _mm_storeu_pd(_base + _at[0], _mm256_castpd256_pd128(a));
    _mm_store_sd(_base + _at[0] + 2, zlo);
    _mm_storeu_pd(_base + _at[1], _mm256_castpd256_pd128(b));
    _mm_storeh_pd(_base + _at[1] + 2, zlo);
    _mm_storeu_pd(_base + _at[2], _mm256_extractf128_pd(a, 1));
    _mm_store_sd(_base + _at[2] + 2, zhi);
    _mm_storeu_pd(_base + _at[3], _mm256_extractf128_pd(b, 1));
    _mm_storeh_pd(_base + _at[3] + 2, zhi);
}

inline Lanes gatherLanes(const double* _base, const size_t* _at) {
    const __m256d a = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(_base + _at[0])),
                                           _mm_loadu_pd(_base + _at[2]), 1);
    const __m256d b = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(_base + _at[1])),
                                           _mm_loadu_pd(_base + _at[3]), 1);
    const __m128d z01 = _mm_loadh_pd(_mm_load_sd(_base + _at[0] + 2), _base + _at[1] + 2);
    const __m128d z23 = _mm_loadh_pd(_mm_load_sd(_base + _at[2] + 2), _base + _at[3] + 2);
    return {_mm256_unpacklo_pd(a, b), _mm256_unpackhi_pd(a, b), _mm256_insertf128_pd(_mm256_castpd128_pd256(z01), z23, 1)};
}

// (a.x*b.x + a.y*b.y) + a.z*b.z per lane.
inline __m256d dot(const Lanes& _a, const Lanes& _b) {
    return _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(_a.x, _b.x), _mm256_mul_pd(_a.y, _b.y)), _mm256_mul_pd(_a.z, _b.z));
}

// The temporal prediction: weighted reference details summed from zero in
// reference order.
inline Lanes temporalPrediction(const Reconstruction& _rec, const size_t* _at) {
    const __m256d zero = _mm256_setzero_pd();
    Lanes d{zero, zero, zero};
    for (size_t j = 0; j < _rec.refCount; ++j) {
        const __m256d w = _mm256_set1_pd(_rec.refWeight[j]);
        const Lanes r = gatherLanes(_rec.refDetail[j], _at);
        d = {_mm256_add_pd(d.x, _mm256_mul_pd(w, r.x)), _mm256_add_pd(d.y, _mm256_mul_pd(w, r.y)),
             _mm256_add_pd(d.z, _mm256_mul_pd(w, r.z))};
    }
    return d;
}

// The detail tp + q*R (tp + 0 without residuals) and the position
// S + ((d.x*t1 + d.y*t2) + d.z*n), stored for the four vertices.
inline void reconstruct(const Reconstruction& _rec, const size_t* _at, const Lanes& _s, const Lanes& _t1,
                        const Lanes& _t2, const Lanes& _n, const Lanes& _tp, const Lanes& _R) {
    const __m256d q = _rec.addResidual ? _mm256_set1_pd(_rec.step) : _mm256_setzero_pd();
    Lanes d{_mm256_mul_pd(q, _R.x), _mm256_mul_pd(q, _R.y), _mm256_mul_pd(q, _R.z)};
    d = {_mm256_add_pd(_tp.x, d.x), _mm256_add_pd(_tp.y, d.y), _mm256_add_pd(_tp.z, d.z)};
    storeLanes(_rec.detail, _at, d);
    auto axis = [&d](__m256d _sc, __m256d _t1c, __m256d _t2c, __m256d _nc) {
        return _mm256_add_pd(_sc, _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(d.x, _t1c), _mm256_mul_pd(d.y, _t2c)),
                                                _mm256_mul_pd(d.z, _nc)));
    };
    const Lanes pos{axis(_s.x, _t1.x, _t2.x, _n.x), axis(_s.y, _t1.y, _t2.y, _n.y), axis(_s.z, _t1.z, _t2.z, _n.z)};
    storeLanes(_rec.positions, _at, pos);
}

}  // namespace orv::geometry_kernels::avx2

#endif
