// The AVX2 layer sweeps of GeometryCoder (see GeometryKernels.h). A point is
// one register (x, y, z and a spare lane that is computed but never stored);
// the frame normalisation runs four vertices at once, one per lane. No fused
// multiply-add: every product is rounded before its sum, as on the portable
// path.
#include "Encoder/GeometryKernels.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace orv::geometry_kernels {

bool avx2Built() { return true; }

namespace {

// (x, y, z, z): the 4th double after a point may be past the end of the frame.
inline __m256d loadPoint(const double* _p) {
    const __m256d xy = _mm256_castpd128_pd256(_mm_loadu_pd(_p));
    return _mm256_blend_pd(xy, _mm256_broadcast_sd(_p + 2), 0xC);
}

inline void storePoint(double* _p, __m256d _v) {
    _mm_storeu_pd(_p, _mm256_castpd256_pd128(_v));
    _mm_store_sd(_p + 2, _mm256_extractf128_pd(_v, 1));
}

template <bool Parked>
void sumLayer(const LayerTerms& _t, const double* _positions, double* _sums, double* _parked) {
    for (size_t k = 0; k < _t.count; ++k) {
        const int32_t b = _t.begin[k];
        const size_t m = static_cast<size_t>(_t.begin[k + 1] - b);
        const int32_t* ids = _t.id + b;
        const double* w = _t.weight + b;
        const double* cs = _t.trig + _t.trigAt[m];
        __m256d t1 = _mm256_setzero_pd(), t2 = _mm256_setzero_pd(), s = _mm256_setzero_pd();
        for (size_t i = 0; i < m; ++i) {
            const __m256d p = loadPoint(_positions + 3 * static_cast<size_t>(ids[i]));
            t1 = _mm256_add_pd(t1, _mm256_mul_pd(_mm256_broadcast_sd(cs + 2 * i), p));
            t2 = _mm256_add_pd(t2, _mm256_mul_pd(_mm256_broadcast_sd(cs + 2 * i + 1), p));
            if constexpr (Parked) s = _mm256_add_pd(s, _mm256_mul_pd(p, _mm256_broadcast_sd(w + i)));
        }
        _mm256_storeu_pd(_sums + 8 * k, t1);
        _mm256_storeu_pd(_sums + 8 * k + 4, t2);
        if constexpr (Parked) storePoint(_parked + 3 * k, s);
    }
}

// Three coordinates of four vertices, one vertex per lane.
struct Lanes {
    __m256d x, y, z;
};

// Four sums of 4 doubles (x, y, z, unused) into lanes.
inline Lanes transpose(__m256d _a, __m256d _b, __m256d _c, __m256d _d) {
    const __m256d ab0 = _mm256_unpacklo_pd(_a, _b), ab1 = _mm256_unpackhi_pd(_a, _b);
    const __m256d cd0 = _mm256_unpacklo_pd(_c, _d), cd1 = _mm256_unpackhi_pd(_c, _d);
    return {_mm256_permute2f128_pd(ab0, cd0, 0x20), _mm256_permute2f128_pd(ab1, cd1, 0x20),
            _mm256_permute2f128_pd(ab0, cd0, 0x31)};
}

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

inline __m256d mulSub(__m256d _a, __m256d _b, __m256d _c, __m256d _d) {
    return _mm256_sub_pd(_mm256_mul_pd(_a, _b), _mm256_mul_pd(_c, _d));
}

// sqrt((x*x + y*y) + z*z), then each coordinate times 1/len; a zero length
// gives the zero vector.
inline void normalise(Lanes& _a) {
    const __m256d sq = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(_a.x, _a.x), _mm256_mul_pd(_a.y, _a.y)),
                                     _mm256_mul_pd(_a.z, _a.z));
    const __m256d len = _mm256_sqrt_pd(sq);
    const __m256d inv = _mm256_div_pd(_mm256_set1_pd(1.0), len);
    const __m256d keep = _mm256_cmp_pd(len, _mm256_setzero_pd(), _CMP_NEQ_UQ);
    _a.x = _mm256_and_pd(_mm256_mul_pd(_a.x, inv), keep);
    _a.y = _mm256_and_pd(_mm256_mul_pd(_a.y, inv), keep);
    _a.z = _mm256_and_pd(_mm256_mul_pd(_a.z, inv), keep);
}

inline __m256d zeroMask(const Lanes& _a) {
    const __m256d zero = _mm256_setzero_pd();
    return _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(_a.x, zero, _CMP_EQ_OQ), _mm256_cmp_pd(_a.y, zero, _CMP_EQ_OQ)),
                         _mm256_cmp_pd(_a.z, zero, _CMP_EQ_OQ));
}

inline __m256d select(__m256d _mask, double _if, __m256d _else) {
    return _mm256_blendv_pd(_else, _mm256_set1_pd(_if), _mask);
}

}  // namespace

void sumLayerAvx2(const LayerTerms& _terms, const double* _positions, double* _sums, double* _parked) {
    if (_parked)
        sumLayer<true>(_terms, _positions, _sums, _parked);
    else
        sumLayer<false>(_terms, _positions, _sums, nullptr);
}

uint64_t finishFramesAvx2(const int* _order, size_t _count, double* _sums, double* _t1, double* _t2, double* _n) {
    // Two sweeps: n and the normalised t1 of every group first (parked in
    // the group's own sum slots, lanes x, y, z of n then of t1), then t2.
    // Each sweep's sqrt/divide chain is half as long, so more groups overlap.
    for (size_t k = 0; k < _count; k += 4) {
        // A short last group repeats its last vertex: the same values are
        // computed and stored twice, and counted once.
        const size_t last = _count - 1;
        const double* s0 = _sums + 8 * k;
        const double* s1 = _sums + 8 * (k + 1 < _count ? k + 1 : last);
        const double* s2 = _sums + 8 * (k + 2 < _count ? k + 2 : last);
        const double* s3 = _sums + 8 * (k + 3 < _count ? k + 3 : last);
        Lanes t1 = transpose(_mm256_loadu_pd(s0), _mm256_loadu_pd(s1), _mm256_loadu_pd(s2), _mm256_loadu_pd(s3));
        const Lanes u =
            transpose(_mm256_loadu_pd(s0 + 4), _mm256_loadu_pd(s1 + 4), _mm256_loadu_pd(s2 + 4), _mm256_loadu_pd(s3 + 4));
        // n = t1 x t2, then t2 = n x t1, each normalised (finishFrame).
        Lanes n{mulSub(t1.y, u.z, t1.z, u.y), mulSub(u.x, t1.z, t1.x, u.z), mulSub(t1.x, u.y, u.x, t1.y)};
        normalise(n);
        normalise(t1);
        double* g = _sums + 8 * k;
        _mm256_storeu_pd(g, n.x);
        _mm256_storeu_pd(g + 4, n.y);
        _mm256_storeu_pd(g + 8, n.z);
        _mm256_storeu_pd(g + 12, t1.x);
        _mm256_storeu_pd(g + 16, t1.y);
        _mm256_storeu_pd(g + 20, t1.z);
    }
    uint64_t fallbacks = 0;
    for (size_t k = 0; k < _count; k += 4) {
        const size_t last = _count - 1;
        const size_t at[4] = {3 * static_cast<size_t>(_order[k]),
                              3 * static_cast<size_t>(_order[k + 1 < _count ? k + 1 : last]),
                              3 * static_cast<size_t>(_order[k + 2 < _count ? k + 2 : last]),
                              3 * static_cast<size_t>(_order[k + 3 < _count ? k + 3 : last])};
        const double* g = _sums + 8 * k;
        Lanes n{_mm256_loadu_pd(g), _mm256_loadu_pd(g + 4), _mm256_loadu_pd(g + 8)};
        Lanes t1{_mm256_loadu_pd(g + 12), _mm256_loadu_pd(g + 16), _mm256_loadu_pd(g + 20)};
        Lanes t2{mulSub(n.y, t1.z, t1.y, n.z), mulSub(t1.x, n.z, n.x, t1.z), mulSub(n.x, t1.y, t1.x, n.y)};
        normalise(t2);
        const __m256d bad = _mm256_or_pd(_mm256_or_pd(zeroMask(t1), zeroMask(t2)), zeroMask(n));
        const int badBits = _mm256_movemask_pd(bad);
        if (badBits != 0) [[unlikely]] {
            t1 = {select(bad, 1.0, t1.x), select(bad, 0.0, t1.y), select(bad, 0.0, t1.z)};
            t2 = {select(bad, 0.0, t2.x), select(bad, 1.0, t2.y), select(bad, 0.0, t2.z)};
            n = {select(bad, 0.0, n.x), select(bad, 0.0, n.y), select(bad, 1.0, n.z)};
            const size_t valid = _count - k < 4 ? _count - k : 4;
            fallbacks += static_cast<uint64_t>(__builtin_popcount(static_cast<unsigned>(badBits) & ((1u << valid) - 1)));
        }
        storeLanes(_t1, at, t1);
        storeLanes(_t2, at, t2);
        storeLanes(_n, at, n);
    }
    return fallbacks;
}

}  // namespace orv::geometry_kernels

#else

// Without AVX2 code generation the portable path is the only one.
namespace orv::geometry_kernels {
bool avx2Built() { return false; }
void sumLayerAvx2(const LayerTerms&, const double*, double*, double*) {}
uint64_t finishFramesAvx2(const int*, size_t, double*, double*, double*, double*) { return 0; }
}  // namespace orv::geometry_kernels

#endif
