// GeometryMath: the per-vertex arithmetic of the layer passes (predictions,
// axis sums, local frames), inline so that the decoding passes of the core and
// the encoding passes of the encoder compile the same expressions into their
// loops. Every expression is part of the stream format: sums start from zero
// and run in predictor-term order, and the build forbids fused multiply-adds,
// so each evaluates identically on every machine. The local-frame arithmetic
// itself is GeometryFrameBody.h's, shared with the SSE2 and AVX2 sweeps. Not
// for the AVX2 kernels' files (their inline code must not be emitted with
// AVX2 for others).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "Encoder/GeometryFrameBody.h"
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

// The lane operations of the frame arithmetic (GeometryFrameBody.h) on one
// double: the mask is a bool.
struct ScalarOps {
    static double mul(double _a, double _b) { return _a * _b; }
    static double sub(double _a, double _b) { return _a - _b; }
    static double add(double _a, double _b) { return _a + _b; }
    static double sqrt(double _a) { return std::sqrt(_a); }
    static double reciprocal(double _a) { return 1.0 / _a; }
    static bool nonZero(double _a) { return _a != 0.0; }
    static double keep(double _a, bool _m) { return _m ? _a : 0.0; }
    static bool isZero(double _a) { return _a == 0.0; }
    static bool both(bool _a, bool _b) { return _a && _b; }
    static bool either(bool _a, bool _b) { return _a || _b; }
};

#if ORV_GEOMETRY_SSE2
// The same on two doubles, one vertex per lane; masks are all-ones lanes.
struct Sse2Ops {
    static __m128d mul(__m128d _a, __m128d _b) { return _mm_mul_pd(_a, _b); }
    static __m128d sub(__m128d _a, __m128d _b) { return _mm_sub_pd(_a, _b); }
    static __m128d add(__m128d _a, __m128d _b) { return _mm_add_pd(_a, _b); }
    static __m128d sqrt(__m128d _a) { return _mm_sqrt_pd(_a); }
    static __m128d reciprocal(__m128d _a) { return _mm_div_pd(_mm_set1_pd(1.0), _a); }
    static __m128d nonZero(__m128d _a) { return _mm_cmpneq_pd(_a, _mm_setzero_pd()); }
    static __m128d keep(__m128d _a, __m128d _m) { return _mm_and_pd(_a, _m); }
    static __m128d isZero(__m128d _a) { return _mm_cmpeq_pd(_a, _mm_setzero_pd()); }
    static __m128d both(__m128d _a, __m128d _b) { return _mm_and_pd(_a, _b); }
    static __m128d either(__m128d _a, __m128d _b) { return _mm_or_pd(_a, _b); }
};
#endif

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
inline LocalFrame finishFrame(const Vector3d& _t1, const Vector3d& _t2) {
    const frame_body::Frame<Vector3d> f = frame_body::finish<ScalarOps>(_t1, _t2);
    return LocalFrame{f.t1, f.t2, f.n, !frame_body::degenerate<ScalarOps>(f)};
}

}  // namespace geometry_math
}  // namespace orv
