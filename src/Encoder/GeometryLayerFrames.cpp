// The frame sweeps of GeometryCoder: the local frames of a whole enhancement
// layer (and, when its terms are lower-layer vertices only, its spatial
// predictions with them), summed in one sweep over the terms and normalised
// in a second; and the decoder's one-kernel AVX2 reconstruction of such a
// layer. Shared by the decoder and the encoder, which both compute a layer's
// frames before its enhancement pass.
#include <cstddef>

#include "Common/Check.h"
#include "Encoder/GeometryCoder.h"
#include "Encoder/GeometryLayerPass.h"

namespace orv {

using namespace geometry_math;

namespace {

#if ORV_GEOMETRY_SSE2
// Two vertices in SSE2 lanes, one per lane, for the frame arithmetic of
// finishFrame (GeometryFrameBody.h): the same operations in the same order,
// so each lane's result is exactly the scalar one.
struct Lanes {
    __m128d x, y, z;
};

inline Lanes loadPair(const double* _a, const double* _b) {
    const __m128d a = _mm_loadu_pd(_a), b = _mm_loadu_pd(_b);
    return {_mm_unpacklo_pd(a, b), _mm_unpackhi_pd(a, b), _mm_unpacklo_pd(_mm_load_sd(_a + 2), _mm_load_sd(_b + 2))};
}

inline void storePair(double* _a, double* _b, const Lanes& _v) {
    _mm_storeu_pd(_a, _mm_unpacklo_pd(_v.x, _v.y));
    _mm_store_sd(_a + 2, _v.z);
    _mm_storeu_pd(_b, _mm_unpackhi_pd(_v.x, _v.y));
    _mm_storeh_pd(_b + 2, _v.z);
}
#endif

}  // namespace

void GeometryCoder::computeLayerFrames(int _l, int _f) {
    checkLayer(_l);
    forgetParked();
    // An empty layer (a small mesh spread over many layers) parks nothing:
    // marking it parked would hand the previous layer's predictions to the
    // parked pass.
    if (flat_[_l].fromBelow && !context_.allLayerVertexOrders[_l].empty()) {
        layerFrameSums<true>(_l, _f);
        parkedLayer_ = _l;
        parkedFrame_ = _f;
    } else {
        layerFrameSums<false>(_l, _f);
    }
}

// The frames of layer _l at _f, and with WithPrediction also the spatial
// predictions (into parked_), from one sweep over the terms: both read the
// same predictor positions, in the same order, each sum with its own
// operations. Two sweeps, same arithmetic: the sums first, parked in the
// frame slots, then the normalisations. Without the term loops (whose varying
// lengths defeat branch prediction) in between, the long sqrt/divide chains
// of successive vertices overlap.
template <bool WithPrediction>
void GeometryCoder::layerFrameSums(int _l, int _f) {
    const FlatTerms& ft = flat_[_l];
    const std::vector<int>& order = context_.allLayerVertexOrders[_l];
    if (order.empty()) return;
    const double* dec = context_.decFrame(_f);
    double* ft1 = context_.axisFrame(_f, 0);
    double* ft2 = context_.axisFrame(_f, 1);
    double* fn = context_.axisFrame(_f, 2);
    if constexpr (WithPrediction) parked_.resize(3 * order.size());
    parkedByVisit_ = geometrySimd();
    if (geometrySimd()) {
        if (ft.anyEmpty) checkFailed("!predictor.empty()", kModule, __LINE__);
        const geometry_kernels::LayerTerms terms = visitTerms(_l);
        sums_.resize(geometry_kernels::sumDoubles(order.size()));
        fallbackFrames_ += geometry_kernels::layerFramesAvx2(terms, dec, sums_.data(),
                                                             WithPrediction ? parked_.data() : nullptr,
                                                             ft.sortedOrder.data(), ft1, ft2, fn);
        return;
    }
    for (size_t k = 0; k < order.size(); ++k) {
        const size_t m = static_cast<size_t>(ft.begin[k + 1] - ft.begin[k]);
        if (!(m > 0)) checkFailed("!predictor.empty()", kModule, __LINE__);
        const int32_t* ids = ft.id.data() + ft.begin[k];
        Vector3d t1, t2;
        if constexpr (WithPrediction) {
            const double* cs = ringTrig(m);
            const double* w = ft.weight.data() + ft.begin[k];
#if ORV_GEOMETRY_SSE2
            __m128d t1xy = _mm_setzero_pd(), t2xy = _mm_setzero_pd(), tz = _mm_setzero_pd();
            __m128d sxy = _mm_setzero_pd(), sz = _mm_setzero_pd();
            for (size_t i = 0; i < m; ++i) {
                const double* p = dec + 3 * static_cast<size_t>(ids[i]);
                const __m128d pxy = _mm_loadu_pd(p);
                const __m128d pz = _mm_load1_pd(p + 2);
                const __m128d csi = _mm_loadu_pd(cs + 2 * i);
                const __m128d wi = _mm_load1_pd(w + i);
                t1xy = _mm_add_pd(t1xy, _mm_mul_pd(_mm_unpacklo_pd(csi, csi), pxy));
                t2xy = _mm_add_pd(t2xy, _mm_mul_pd(_mm_unpackhi_pd(csi, csi), pxy));
                tz = _mm_add_pd(tz, _mm_mul_pd(csi, pz));
                sxy = _mm_add_pd(sxy, _mm_mul_pd(pxy, wi));
                sz = _mm_add_sd(sz, _mm_mul_sd(pz, wi));
            }
            unpackAxes(t1xy, t2xy, tz, t1, t2);
            _mm_storeu_pd(parked_.data() + 3 * k, sxy);
            _mm_store_sd(parked_.data() + 3 * k + 2, sz);
#else
            accumulateAxes(ids, m, cs, dec, t1, t2);
            const Vector3d S = predictFrom(ids, w, m, dec);
            parked_[3 * k] = S.x;
            parked_[3 * k + 1] = S.y;
            parked_[3 * k + 2] = S.z;
#endif
        } else {
            accumulateAxes(ids, m, ringTrig(m), dec, t1, t2);
        }
        store(ft1, order[k], t1);
        store(ft2, order[k], t2);
    }
    finishLayerFrames(order, ft1, ft2, fn);
}

template void GeometryCoder::layerFrameSums<false>(int, int);
template void GeometryCoder::layerFrameSums<true>(int, int);

// Second sweep of computeLayerFrames: the parked sums in _t1/_t2 become the
// normalised frames. Vertices of a layer are distinct, so pairs never alias.
void GeometryCoder::finishLayerFrames(const std::vector<int>& _order, double* _t1, double* _t2, double* _n) {
    size_t k = 0;
#if ORV_GEOMETRY_SSE2
    for (; k + 1 < _order.size(); k += 2) {
        const size_t a = 3 * static_cast<size_t>(_order[k]), b = 3 * static_cast<size_t>(_order[k + 1]);
        const frame_body::Frame<Lanes> f =
            frame_body::finish<Sse2Ops>(loadPair(_t1 + a, _t1 + b), loadPair(_t2 + a, _t2 + b));
        storePair(_t1 + a, _t1 + b, f.t1);
        storePair(_t2 + a, _t2 + b, f.t2);
        storePair(_n + a, _n + b, f.n);
        const int bad = _mm_movemask_pd(frame_body::degenerate<Sse2Ops>(f));
        if (bad != 0) [[unlikely]] {
            for (int lane = 0; lane < 2; ++lane) {
                if (!(bad & (1 << lane))) continue;
                const int v = _order[k + static_cast<size_t>(lane)];
                store(_t1, v, kWorldAxes.t1);
                store(_t2, v, kWorldAxes.t2);
                store(_n, v, kWorldAxes.n);
                ++fallbackFrames_;
            }
        }
    }
#endif
    for (; k < _order.size(); ++k) {
        const int v = _order[k];
        LocalFrame axes = finishFrame(load(_t1, v), load(_t2, v));
        if (!axes.ok) [[unlikely]] {
            axes = kWorldAxes;
            ++fallbackFrames_;
        }
        store(_t1, v, axes.t1);
        store(_t2, v, axes.t2);
        store(_n, v, axes.n);
    }
}

// decodeEnhancementLayerWithFrames in one AVX2 kernel: the checks of
// layerFrameSums and the per-vertex pass, then the same sums, frames and
// details.
void GeometryCoder::reconstructEnhancementAvx2(int _l, int _f, const std::vector<int>& _rf, double _q) {
    const FlatTerms& ft = flat_[_l];
    const std::vector<int>& order = context_.allLayerVertexOrders[_l];
    if (ft.anyEmpty) checkFailed("!predictor.empty()", kModule, __LINE__);
    ORV_GEOMETRY_CHECK_TEXT(_rf.size() <= 2, "_rf.size()<=2");
    ORV_GEOMETRY_CHECK_TEXT(_rf.size() == context_.filterDec[_f][_l].size(),
                            "_rf.size() == context_.filterDec[_f][_l].size()");
    geometry_kernels::Reconstruction rec{};
    rec.refCount = _rf.size();
    for (size_t j = 0; j < _rf.size(); ++j) {
        rec.refDetail[j] = context_.detailFrame(_rf[j]);
        rec.refWeight[j] = context_.filterDec[_f][_l][j];
    }
    rec.quant = context_.quantFrame(_f);
    rec.step = _q;
    rec.addResidual = _q > 0.0;
    rec.detail = context_.detailFrame(_f);
    rec.positions = context_.decFrame(_f);
    const geometry_kernels::LayerTerms terms = visitTerms(_l);
    sums_.resize(geometry_kernels::sumDoubles(order.size()));
    fallbackFrames_ += geometry_kernels::reconstructLayerAvx2(
        terms, ft.sortedOrder.data(), sums_.data(), context_.axisFrame(_f, 0), context_.axisFrame(_f, 1),
        context_.axisFrame(_f, 2), rec);
}

}  // namespace orv
