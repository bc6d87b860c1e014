// GeometryMath: the per-vertex arithmetic of the layer passes (predictions,
// axis sums, local frames), inline so that the decoding passes of the core and
// the encoding passes of the encoder compile the same expressions into their
// loops. Every expression is part of the stream format: sums start from zero
// and run in predictor-term order, and the build forbids fused multiply-adds,
// so each evaluates identically on every machine. Not for the AVX2 kernels'
// files (their inline code must not be emitted with AVX2 for others).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "Mesh/GeometryT.h"

#if defined(__SSE2__) && !defined(ORV_PORTABLE_GEOMETRY)
#include <emmintrin.h>
#define ORV_GEOMETRY_SSE2 1
#else
#define ORV_GEOMETRY_SSE2 0
#endif

namespace orv {

// Two tangents and a normal; ok is false when any of them is exactly zero.
struct LocalFrame {
    Vector3d t1, t2, n;
    bool ok = false;
};

namespace geometry_math {

// World axes: the stand-in for a degenerate local frame, so that layers that
// were not decoded (or a damaged stream) can still be reconstructed.
inline constexpr LocalFrame kWorldAxes{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, true};

inline Vector3d load(const double* _frame, int _v) {
    const double* p = _frame + 3 * static_cast<size_t>(_v);
    return {p[0], p[1], p[2]};
}

inline void store(double* _frame, int _v, const Vector3d& _a) {
    double* p = _frame + 3 * static_cast<size_t>(_v);
    p[0] = _a.x;
    p[1] = _a.y;
    p[2] = _a.z;
}

inline void normalise(Vector3d& _a) {
    const double len = std::sqrt(_a.x * _a.x + _a.y * _a.y + _a.z * _a.z);
    if (len == 0.0) {
        _a = {0.0, 0.0, 0.0};
        return;
    }
    const double inv = 1.0 / len;
    _a.x = _a.x * inv;
    _a.y = _a.y * inv;
    _a.z = _a.z * inv;
}

inline bool isZero(const Vector3d& _a) { return _a.x == 0.0 && _a.y == 0.0 && _a.z == 0.0; }

#if ORV_GEOMETRY_SSE2
// The axis sums kept as (t1.x, t1.y), (t2.x, t2.y) and (t1.z, t2.z) back into vectors.
inline void unpackAxes(__m128d _t1xy, __m128d _t2xy, __m128d _tz, Vector3d& _t1, Vector3d& _t2) {
    double a[2];
    _mm_storeu_pd(a, _t1xy);
    _t1.x = a[0];
    _t1.y = a[1];
    _mm_storeu_pd(a, _t2xy);
    _t2.x = a[0];
    _t2.y = a[1];
    _mm_storeu_pd(a, _tz);
    _t1.z = a[0];
    _t2.z = a[1];
}
#endif

// The spatial prediction: the weighted sum of the m predictor positions.
inline Vector3d predictFrom(const int32_t* _ids, const double* _weights, size_t _m, const double* _positions) {
#if ORV_GEOMETRY_SSE2
    __m128d sxy = _mm_setzero_pd(), sz = _mm_setzero_pd();
    for (size_t i = 0; i < _m; ++i) {
        const double* p = _positions + 3 * static_cast<size_t>(_ids[i]);
        const __m128d w = _mm_load1_pd(_weights + i);
        sxy = _mm_add_pd(sxy, _mm_mul_pd(_mm_loadu_pd(p), w));
        sz = _mm_add_sd(sz, _mm_mul_sd(_mm_load_sd(p + 2), w));
    }
    double a[2];
    _mm_storeu_pd(a, sxy);
    return {a[0], a[1], _mm_cvtsd_f64(sz)};
#else
    Vector3d s{0.0, 0.0, 0.0};
    for (size_t i = 0; i < _m; ++i) {
        const double* p = _positions + 3 * static_cast<size_t>(_ids[i]);
        const double w = _weights[i];
        s.x = s.x + p[0] * w;
        s.y = s.y + p[1] * w;
        s.z = s.z + p[2] * w;
    }
    return s;
#endif
}

// The ring's axis sums: t1 = sum cos(i*step) p_i, t2 = sum sin(i*step) p_i,
// with the ring's cos/sin pairs at _cs.
[[gnu::always_inline]] inline void accumulateAxes(const int32_t* _ids, size_t _m, const double* _cs,
                                                  const double* _positions, Vector3d& _t1, Vector3d& _t2) {
#if ORV_GEOMETRY_SSE2
    // x and y of both axes in two registers, the z of both in a third: the
    // same products and sums per component, two at a time.
    __m128d t1xy = _mm_setzero_pd(), t2xy = _mm_setzero_pd(), tz = _mm_setzero_pd();
    for (size_t i = 0; i < _m; ++i) {
        const double* p = _positions + 3 * static_cast<size_t>(_ids[i]);
        const __m128d pxy = _mm_loadu_pd(p);
        const __m128d pz = _mm_load1_pd(p + 2);
        const __m128d csi = _mm_loadu_pd(_cs + 2 * i);
        t1xy = _mm_add_pd(t1xy, _mm_mul_pd(_mm_unpacklo_pd(csi, csi), pxy));
        t2xy = _mm_add_pd(t2xy, _mm_mul_pd(_mm_unpackhi_pd(csi, csi), pxy));
        tz = _mm_add_pd(tz, _mm_mul_pd(csi, pz));
    }
    unpackAxes(t1xy, t2xy, tz, _t1, _t2);
#else
    _t1 = {0.0, 0.0, 0.0};
    _t2 = {0.0, 0.0, 0.0};
    for (size_t i = 0; i < _m; ++i) {
        const double* p = _positions + 3 * static_cast<size_t>(_ids[i]);
        const double c = _cs[2 * i], s = _cs[2 * i + 1];
        _t1.x = _t1.x + c * p[0];
        _t1.y = _t1.y + c * p[1];
        _t1.z = _t1.z + c * p[2];
        _t2.x = _t2.x + s * p[0];
        _t2.y = _t2.y + s * p[1];
        _t2.z = _t2.z + s * p[2];
    }
#endif
}

// n = t1 x t2, then t2 = n x t1, each normalised; ok when no axis is zero.
inline LocalFrame finishFrame(Vector3d _t1, const Vector3d& _t2) {
    LocalFrame r;
    r.n.x = _t1.y * _t2.z - _t1.z * _t2.y;
    r.n.y = _t2.x * _t1.z - _t1.x * _t2.z;
    r.n.z = _t1.x * _t2.y - _t2.x * _t1.y;
    normalise(r.n);
    normalise(_t1);
    r.t1 = _t1;
    r.t2.x = r.n.y * _t1.z - _t1.y * r.n.z;
    r.t2.y = _t1.x * r.n.z - r.n.x * _t1.z;
    r.t2.z = r.n.x * _t1.y - _t1.x * r.n.y;
    normalise(r.t2);
    r.ok = !(isZero(r.t1) || isZero(r.t2) || isZero(r.n));
    return r;
}

}  // namespace geometry_math
}  // namespace orv
