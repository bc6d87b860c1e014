// The encoder's AVX2 enhancement pass, rounding to nearest or in a dead zone
// (see GeometryEncoderKernels.h), on the
// core's four-vertex lanes (Encoder/GeometryLanesAvx2.h). No fused
// multiply-add: every product is rounded before its sum, as on the portable
// path.
#include "SequenceEncoder/GeometryEncoderKernels.h"

#if defined(__AVX2__)
#include "Encoder/GeometryLanesAvx2.h"

namespace orv::geometry_kernels {

namespace {

using namespace avx2;

// Round to nearest, halves away from zero, of _x (|_x| < 2^31 - 1):
// truncation, then one up or down on the fraction.
inline __m128i nearest(__m256d _x) {
    const __m128i t = _mm256_cvttpd_epi32(_x);
    const __m256d frac = _mm256_sub_pd(_x, _mm256_cvtepi32_pd(t));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d adjust = _mm256_sub_pd(_mm256_and_pd(_mm256_cmp_pd(frac, _mm256_set1_pd(0.5), _CMP_GE_OQ), one),
                                         _mm256_and_pd(_mm256_cmp_pd(frac, _mm256_set1_pd(-0.5), _CMP_LE_OQ), one));
    return _mm_add_epi32(t, _mm256_cvttpd_epi32(adjust));
}

inline __m256d absolute(__m256d _a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), _a); }

// deadZoneQuotient of _x (|_x| < 2^30), as an integer-valued double: the
// floor of |x| + theta (with _zeroOnly, of |x| + 1/2 where that is not zero),
// negated where x < 0 (not where x is -0).
inline __m256d deadZone(__m256d _x, __m256d _theta, bool _zeroOnly) {
    const __m256d a = absolute(_x);
    constexpr int kDown = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
    __m256d r = _mm256_round_pd(_mm256_add_pd(a, _theta), kDown);
    if (_zeroOnly) {
        const __m256d half = _mm256_round_pd(_mm256_add_pd(a, _mm256_set1_pd(0.5)), kDown);
        r = _mm256_blendv_pd(half, r, _mm256_cmp_pd(r, _mm256_setzero_pd(), _CMP_EQ_OQ));
    }
    const __m256d negative = _mm256_cmp_pd(_x, _mm256_setzero_pd(), _CMP_LT_OQ);
    return _mm256_blendv_pd(r, _mm256_xor_pd(r, _mm256_set1_pd(-0.0)), negative);
}

// err - q * R per lane, R an integer-valued double.
inline __m256d left(__m256d _err, __m256d _q, __m256d _R) { return _mm256_sub_pd(_err, _mm256_mul_pd(_q, _R)); }

}  // namespace

size_t encodeEnhancementAvx2(const int* _order, size_t _count, size_t _k, const EnhancementEncoding& _job) {
    const Reconstruction& rec = _job.rec;
    const __m256d q = _mm256_set1_pd(rec.step);
    // With a dead zone, quotients below 2^30 round to residuals that fit
    // whichever way the vertex is decided, as on the portable path.
    const __m256d limit = _mm256_set1_pd(_job.deadZone ? 1073741824.0 : 2147483647.0);
    const __m256d theta = _mm256_set1_pd(_job.theta);
    const __m256d vertexLimit2 = _mm256_set1_pd(_job.vertexLimit * _job.vertexLimit);
    for (; _k + 4 <= _count; _k += 4) {
        const size_t at[4] = {3 * static_cast<size_t>(_order[_k]), 3 * static_cast<size_t>(_order[_k + 1]),
                              3 * static_cast<size_t>(_order[_k + 2]), 3 * static_cast<size_t>(_order[_k + 3])};
        const Lanes t1 = gatherLanes(_job.t1, at), t2 = gatherLanes(_job.t2, at), n = gatherLanes(_job.n, at);
        // Frames that are not orthonormal need the solve of the portable path.
        const __m256d flat = _mm256_cmp_pd(absolute(dot(t1, n)), _mm256_set1_pd(1e-9), _CMP_LT_OQ);
        if (_mm256_movemask_pd(flat) != 0xF) return _k;
        const size_t pk[4] = {3 * _k, 3 * _k + 3, 3 * _k + 6, 3 * _k + 9};
        const Lanes S = gatherLanes(_job.parked, pk);
        const Lanes x = gatherLanes(_job.original, at);
        const Lanes e{_mm256_sub_pd(x.x, S.x), _mm256_sub_pd(x.y, S.y), _mm256_sub_pd(x.z, S.z)};
        const Lanes actual{dot(e, t1), dot(e, t2), dot(e, n)};
        const Lanes tp = temporalPrediction(rec, at);
        const Lanes err{_mm256_sub_pd(actual.x, tp.x), _mm256_sub_pd(actual.y, tp.y), _mm256_sub_pd(actual.z, tp.z)};
        const Lanes xq{_mm256_div_pd(err.x, q), _mm256_div_pd(err.y, q), _mm256_div_pd(err.z, q)};
        // Residuals that may not fit (or are not numbers) are refused by the
        // portable path, with its message.
        const __m256d fits = _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(absolute(xq.x), limit, _CMP_LT_OQ),
                                                         _mm256_cmp_pd(absolute(xq.y), limit, _CMP_LT_OQ)),
                                           _mm256_cmp_pd(absolute(xq.z), limit, _CMP_LT_OQ));
        if (_mm256_movemask_pd(fits) != 0xF) return _k;
        alignas(16) int32_t r[3][4];
        __m128i rx = nearest(xq.x), ry = nearest(xq.y), rz = nearest(xq.z);
        if (_job.deadZone) {
            // The zone's residuals, kept where the vertex's error with them
            // (summed as the portable path sums it) stays within the limit.
            const Lanes z{deadZone(xq.x, theta, _job.zeroOnly), deadZone(xq.y, theta, _job.zeroOnly),
                          deadZone(xq.z, theta, _job.zeroOnly)};
            const __m256d ex = left(err.x, q, z.x), ey = left(err.y, q, z.y), ez = left(err.z, q, z.z);
            const __m256d squared = _mm256_add_pd(
                _mm256_add_pd(_mm256_add_pd(_mm256_setzero_pd(), _mm256_mul_pd(ex, ex)), _mm256_mul_pd(ey, ey)),
                _mm256_mul_pd(ez, ez));
            const __m256d keep = _mm256_cmp_pd(squared, vertexLimit2, _CMP_LE_OQ);
            rx = _mm256_cvttpd_epi32(_mm256_blendv_pd(_mm256_cvtepi32_pd(rx), z.x, keep));
            ry = _mm256_cvttpd_epi32(_mm256_blendv_pd(_mm256_cvtepi32_pd(ry), z.y, keep));
            rz = _mm256_cvttpd_epi32(_mm256_blendv_pd(_mm256_cvtepi32_pd(rz), z.z, keep));
        }
        _mm_store_si128(reinterpret_cast<__m128i*>(r[0]), rx);
        _mm_store_si128(reinterpret_cast<__m128i*>(r[1]), ry);
        _mm_store_si128(reinterpret_cast<__m128i*>(r[2]), rz);
        for (size_t j = 0; j < 4; ++j) {
            _job.quantOut[at[j]] = r[0][j];
            _job.quantOut[at[j] + 1] = r[1][j];
            _job.quantOut[at[j] + 2] = r[2][j];
        }
        const Lanes R{_mm256_cvtepi32_pd(rx), _mm256_cvtepi32_pd(ry), _mm256_cvtepi32_pd(rz)};
        reconstruct(rec, at, S, t1, t2, n, tp, R);
    }
    return _k;
}

}  // namespace orv::geometry_kernels

#else

// Without AVX2 code generation the portable path codes every vertex.
namespace orv::geometry_kernels {
size_t encodeEnhancementAvx2(const int*, size_t, size_t _k, const EnhancementEncoding&) { return _k; }
}  // namespace orv::geometry_kernels

#endif
