// The AVX2 layer sweeps of GeometryCoder (see GeometryKernels.h). A point is
// one register (x, y, z and a spare lane that is computed but never stored);
// the frame normalisation runs four vertices at once, one per lane, through
// the frame arithmetic the scalar and SSE2 paths use (GeometryFrameBody.h,
// instantiated here over this file's own lane operations only). No fused
// multiply-add: every product is rounded before its sum, as on the portable
// path.
#include "Encoder/GeometryKernels.h"

#if defined(__AVX2__)
#include "Encoder/GeometryFrameBody.h"
#include "Encoder/GeometryLanesAvx2.h"

namespace orv::geometry_kernels {

bool avx2Built() { return true; }

namespace {

using namespace avx2;

constexpr size_t kSumStride = 12;

// (x, y, z, z): the 4th double after a point may be past the end of the frame.
inline __m256d loadPoint(const double* _p) {
    const __m256d xy = _mm256_castpd128_pd256(_mm_loadu_pd(_p));
    return _mm256_blend_pd(xy, _mm256_broadcast_sd(_p + 2), 0xC);
}

inline void storePoint(double* _p, __m256d _v) {
    _mm_storeu_pd(_p, _mm256_castpd256_pd128(_v));
    _mm_store_sd(_p + 2, _mm256_extractf128_pd(_v, 1));
}

// Where the spatial predictions go: nowhere, 3 per vertex to a separate
// array, or into the vertex's sum slots (lanes 8..11).
enum class Prediction { None, Parked, InSums };

// Sums of the visited vertices _j0.._j1, kept from the start of _sums.
template <Prediction P>
void sumLayer(const LayerTerms& _t, size_t _j0, size_t _j1, const double* _positions, double* _sums,
              double* _parked) {
    _sums -= kSumStride * _j0;
    for (size_t j = _j0; j < _j1; ++j) {
        const int32_t b = _t.begin[j];
        const size_t m = static_cast<size_t>(_t.begin[j + 1] - b);
        const int32_t* ids = _t.id + b;
        const double* w = _t.weight + b;
        const double* cs = _t.trig + _t.trigAt[m];
        __m256d t1 = _mm256_setzero_pd(), t2 = _mm256_setzero_pd(), s = _mm256_setzero_pd();
        for (size_t i = 0; i < m; ++i) {
            const __m256d p = loadPoint(_positions + 3 * static_cast<size_t>(ids[i]));
            t1 = _mm256_add_pd(t1, _mm256_mul_pd(_mm256_broadcast_sd(cs + 2 * i), p));
            t2 = _mm256_add_pd(t2, _mm256_mul_pd(_mm256_broadcast_sd(cs + 2 * i + 1), p));
            if constexpr (P != Prediction::None) s = _mm256_add_pd(s, _mm256_mul_pd(p, _mm256_broadcast_sd(w + i)));
        }
        _mm256_storeu_pd(_sums + kSumStride * j, t1);
        _mm256_storeu_pd(_sums + kSumStride * j + 4, t2);
        if constexpr (P == Prediction::Parked) storePoint(_parked + 3 * j, s);
        if constexpr (P == Prediction::InSums) _mm256_storeu_pd(_sums + kSumStride * j + 8, s);
    }
}

// Four sums of 4 doubles (x, y, z, unused) into lanes.
inline Lanes transpose(__m256d _a, __m256d _b, __m256d _c, __m256d _d) {
    const __m256d ab0 = _mm256_unpacklo_pd(_a, _b), ab1 = _mm256_unpackhi_pd(_a, _b);
    const __m256d cd0 = _mm256_unpacklo_pd(_c, _d), cd1 = _mm256_unpackhi_pd(_c, _d);
    return {_mm256_permute2f128_pd(ab0, cd0, 0x20), _mm256_permute2f128_pd(ab1, cd1, 0x20),
            _mm256_permute2f128_pd(ab0, cd0, 0x31)};
}

// The lane operations of the frame arithmetic (GeometryFrameBody.h) on four
// vertices, the compares of the SSE2 lanes'. In this anonymous namespace, so
// that every frame_body instantiation over them stays local to this file.
struct Avx2Ops {
    static __m256d mul(__m256d _a, __m256d _b) { return _mm256_mul_pd(_a, _b); }
    static __m256d sub(__m256d _a, __m256d _b) { return _mm256_sub_pd(_a, _b); }
    static __m256d add(__m256d _a, __m256d _b) { return _mm256_add_pd(_a, _b); }
    static __m256d sqrt(__m256d _a) { return _mm256_sqrt_pd(_a); }
    static __m256d reciprocal(__m256d _a) { return _mm256_div_pd(_mm256_set1_pd(1.0), _a); }
    static __m256d nonZero(__m256d _a) { return _mm256_cmp_pd(_a, _mm256_setzero_pd(), _CMP_NEQ_UQ); }
    static __m256d keep(__m256d _a, __m256d _m) { return _mm256_and_pd(_a, _m); }
    static __m256d isZero(__m256d _a) { return _mm256_cmp_pd(_a, _mm256_setzero_pd(), _CMP_EQ_OQ); }
    static __m256d both(__m256d _a, __m256d _b) { return _mm256_and_pd(_a, _b); }
    static __m256d either(__m256d _a, __m256d _b) { return _mm256_or_pd(_a, _b); }
};

inline __m256d select(__m256d _mask, double _if, __m256d _else) {
    return _mm256_blendv_pd(_else, _mm256_set1_pd(_if), _mask);
}

// Three ints at each of four places, as doubles (exact).
inline Lanes gatherInts(const int* _base, const size_t* _at) {
    const __m128i a = _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(_base + _at[0])),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(_base + _at[1])));
    const __m128i b = _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(_base + _at[2])),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(_base + _at[3])));
    const __m128i z = _mm_setr_epi32(_base[_at[0] + 2], _base[_at[1] + 2], _base[_at[2] + 2], _base[_at[3] + 2]);
    return {_mm256_cvtepi32_pd(_mm_unpacklo_epi64(a, b)), _mm256_cvtepi32_pd(_mm_unpackhi_epi64(a, b)),
            _mm256_cvtepi32_pd(z)};
}

// First sweep of the frames: n and the normalised t1 of every group (and its
// predictions, with InSums), parked in the group's own sum slots as lanes:
// n.x n.y n.z t1.x t1.y t1.z S.x S.y S.z. Each sweep's sqrt/divide chain is
// half the frame's, and the stores wait for a sweep of their own, so more
// groups overlap.
template <Prediction P>
void framesFirstSweep(size_t _count, double* _sums) {
    for (size_t k = 0; k < _count; k += 4) {
        // A short last group repeats its last vertex: the same values are
        // computed and stored twice, and counted once.
        const size_t last = _count - 1;
        double* g = _sums + kSumStride * k;
        const double* s1 = _sums + kSumStride * (k + 1 < _count ? k + 1 : last);
        const double* s2 = _sums + kSumStride * (k + 2 < _count ? k + 2 : last);
        const double* s3 = _sums + kSumStride * (k + 3 < _count ? k + 3 : last);
        Lanes t1 = transpose(_mm256_loadu_pd(g), _mm256_loadu_pd(s1), _mm256_loadu_pd(s2), _mm256_loadu_pd(s3));
        const Lanes u =
            transpose(_mm256_loadu_pd(g + 4), _mm256_loadu_pd(s1 + 4), _mm256_loadu_pd(s2 + 4), _mm256_loadu_pd(s3 + 4));
        Lanes s{};
        if constexpr (P == Prediction::InSums)
            s = transpose(_mm256_loadu_pd(g + 8), _mm256_loadu_pd(s1 + 8), _mm256_loadu_pd(s2 + 8),
                          _mm256_loadu_pd(s3 + 8));
        // frame_body::finish, split: n and t1 here, t2 in the next sweep.
        Lanes n = frame_body::normalOf<Avx2Ops>(t1, u);
        frame_body::normalise<Avx2Ops>(n);
        frame_body::normalise<Avx2Ops>(t1);
        _mm256_storeu_pd(g, n.x);
        _mm256_storeu_pd(g + 4, n.y);
        _mm256_storeu_pd(g + 8, n.z);
        _mm256_storeu_pd(g + 12, t1.x);
        _mm256_storeu_pd(g + 16, t1.y);
        _mm256_storeu_pd(g + 20, t1.z);
        if constexpr (P == Prediction::InSums) {
            _mm256_storeu_pd(g + 24, s.x);
            _mm256_storeu_pd(g + 28, s.y);
            _mm256_storeu_pd(g + 32, s.z);
        }
    }
}

// Second sweep: t2 = n x t1, normalised, parked in lanes 36..47 of the group.
void framesT2Sweep(size_t _count, double* _sums) {
    for (size_t k = 0; k < _count; k += 4) {
        double* g = _sums + kSumStride * k;
        const Lanes n{_mm256_loadu_pd(g), _mm256_loadu_pd(g + 4), _mm256_loadu_pd(g + 8)};
        const Lanes t1{_mm256_loadu_pd(g + 12), _mm256_loadu_pd(g + 16), _mm256_loadu_pd(g + 20)};
        Lanes t2 = frame_body::secondTangent<Avx2Ops>(n, t1);
        frame_body::normalise<Avx2Ops>(t2);
        _mm256_storeu_pd(g + 36, t2.x);
        _mm256_storeu_pd(g + 40, t2.y);
        _mm256_storeu_pd(g + 44, t2.z);
    }
}

// Last sweep, free of long dependency chains: the world-axes fallback, the
// frame stores and, with _rec, the reconstruction of the group's vertices.
uint64_t framesSecondSweep(const int* _order, size_t _count, const double* _sums, double* _t1, double* _t2,
                           double* _n, const Reconstruction* _rec) {
    uint64_t fallbacks = 0;
    for (size_t k = 0; k < _count; k += 4) {
        const size_t last = _count - 1;
        const size_t at[4] = {3 * static_cast<size_t>(_order[k]),
                              3 * static_cast<size_t>(_order[k + 1 < _count ? k + 1 : last]),
                              3 * static_cast<size_t>(_order[k + 2 < _count ? k + 2 : last]),
                              3 * static_cast<size_t>(_order[k + 3 < _count ? k + 3 : last])};
        const double* g = _sums + kSumStride * k;
        Lanes n{_mm256_loadu_pd(g), _mm256_loadu_pd(g + 4), _mm256_loadu_pd(g + 8)};
        Lanes t1{_mm256_loadu_pd(g + 12), _mm256_loadu_pd(g + 16), _mm256_loadu_pd(g + 20)};
        Lanes t2{_mm256_loadu_pd(g + 36), _mm256_loadu_pd(g + 40), _mm256_loadu_pd(g + 44)};
        const __m256d bad = frame_body::degenerate<Avx2Ops>(frame_body::Frame<Lanes>{t1, t2, n});
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
        if (!_rec) continue;
        const double* sp = g + 24;
        const Lanes S{_mm256_loadu_pd(sp), _mm256_loadu_pd(sp + 4), _mm256_loadu_pd(sp + 8)};
        const Lanes tp = temporalPrediction(*_rec, at);
        const __m256d zero = _mm256_setzero_pd();
        Lanes R{zero, zero, zero};
        if (_rec->addResidual) R = gatherInts(_rec->quant, at);
        reconstruct(*_rec, at, S, t1, t2, n, tp, R);
    }
    return fallbacks;
}

// A layer goes through the sweeps in blocks of kBlock vertices, so that the
// block's sums (96 bytes per vertex) stay in the first-level caches between
// the sweeps instead of making four round trips to memory on large layers.
// Blocks are independent: the frame sweeps write no positions, and a layer is
// reconstructed here only when all its terms are vertices of lower layers.
constexpr size_t kBlock = 128;

template <Prediction P>
uint64_t layerBlocks(const LayerTerms& _terms, const double* _positions, double* _sums, double* _parked,
                     const int* _order, double* _t1, double* _t2, double* _n, const Reconstruction* _rec) {
    uint64_t fallbacks = 0;
    for (size_t j = 0; j < _terms.count; j += kBlock) {
        const size_t count = _terms.count - j < kBlock ? _terms.count - j : kBlock;
        sumLayer<P>(_terms, j, j + count, _positions, _sums, _parked);
        framesFirstSweep<P>(count, _sums);
        framesT2Sweep(count, _sums);
        fallbacks += framesSecondSweep(_order + j, count, _sums, _t1, _t2, _n, _rec);
    }
    return fallbacks;
}

}  // namespace

size_t sumDoubles(size_t _count) {
    const size_t n = _count < kBlock ? _count : kBlock;
    return 12 * ((n + 3) & ~size_t{3});
}

uint64_t layerFramesAvx2(const LayerTerms& _terms, const double* _positions, double* _sums, double* _parked,
                         const int* _order, double* _t1, double* _t2, double* _n) {
    if (_parked)
        return layerBlocks<Prediction::Parked>(_terms, _positions, _sums, _parked, _order, _t1, _t2, _n, nullptr);
    return layerBlocks<Prediction::None>(_terms, _positions, _sums, nullptr, _order, _t1, _t2, _n, nullptr);
}

uint64_t reconstructLayerAvx2(const LayerTerms& _terms, const int* _order, double* _sums, double* _t1, double* _t2,
                              double* _n, const Reconstruction& _rec) {
    // _order is in visiting order, as the sums.
    return layerBlocks<Prediction::InSums>(_terms, _rec.positions, _sums, nullptr, _order, _t1, _t2, _n, &_rec);
}

void sumVertexAvx2(const int32_t* _ids, const double* _weights, size_t _m, const double* _cs,
                   const double* _positions, double _out[9]) {
    __m256d t1 = _mm256_setzero_pd(), t2 = _mm256_setzero_pd(), s = _mm256_setzero_pd();
    for (size_t i = 0; i < _m; ++i) {
        const __m256d p = loadPoint(_positions + 3 * static_cast<size_t>(_ids[i]));
        t1 = _mm256_add_pd(t1, _mm256_mul_pd(_mm256_broadcast_sd(_cs + 2 * i), p));
        t2 = _mm256_add_pd(t2, _mm256_mul_pd(_mm256_broadcast_sd(_cs + 2 * i + 1), p));
        s = _mm256_add_pd(s, _mm256_mul_pd(p, _mm256_broadcast_sd(_weights + i)));
    }
    storePoint(_out, t1);
    storePoint(_out + 3, t2);
    storePoint(_out + 6, s);
}

}  // namespace orv::geometry_kernels

#else

// Without AVX2 code generation the portable path is the only one.
namespace orv::geometry_kernels {
bool avx2Built() { return false; }
size_t sumDoubles(size_t) { return 0; }
uint64_t layerFramesAvx2(const LayerTerms&, const double*, double*, double*, const int*, double*, double*, double*) {
    return 0;
}
uint64_t reconstructLayerAvx2(const LayerTerms&, const int*, double*, double*, double*, double*,
                              const Reconstruction&) {
    return 0;
}
void sumVertexAvx2(const int32_t*, const double*, size_t, const double*, const double*, double*) {}
}  // namespace orv::geometry_kernels

#endif
