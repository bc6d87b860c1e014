// Layer prediction and reconstruction, shared by the decoder and the encoder.
//
// Every floating-point expression here is part of the stream format: sums
// start from zero and run in predictor-term (or reference) order, the local
// detail is applied as (d.x*t1 + d.y*t2) + d.z*n, and the layer-0 temporal
// prediction divides each reference detail by the count before adding it.
// The build forbids contraction into fused multiply-adds, so these
// expressions evaluate identically on every machine.
#include "Encoder/GeometryCoder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Common/Check.h"
#include "Encoder/GeometryKernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define ORV_GEOMETRY_SSE2 1
#else
#define ORV_GEOMETRY_SSE2 0
#endif

namespace orv {

namespace {

constexpr const char* kModule = "Encoder/GeometryCoder";

bool avx2Available() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool available = geometry_kernels::avx2Built() && __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

bool simdByDefault() {
    const char* env = std::getenv("ORV_GEOMETRY_SIMD");
    return avx2Available() && !(env && std::strcmp(env, "0") == 0);
}

std::atomic<bool>& simdChoice() {
    static std::atomic<bool> choice{simdByDefault()};
    return choice;
}

// A check whose reported text is given verbatim (the natural C++ spelling of
// some conditions would compare signed with unsigned).
#define ORV_CHECK_TEXT(cond, text)                                    \
    do {                                                              \
        if (!(cond)) [[unlikely]]                                     \
            ::orv::checkFailed(text, kModule, __LINE__);              \
    } while (0)

void normalise(Vector3d& a) {
    const double len = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    if (len == 0.0) {
        a = {0.0, 0.0, 0.0};
        return;
    }
    const double inv = 1.0 / len;
    a.x = a.x * inv;
    a.y = a.y * inv;
    a.z = a.z * inv;
}

bool isZero(const Vector3d& a) { return a.x == 0.0 && a.y == 0.0 && a.z == 0.0; }

}  // namespace

bool setGeometrySimd(bool _on) {
    simdChoice().store(_on && avx2Available(), std::memory_order_relaxed);
    return geometrySimd();
}

bool geometrySimd() { return simdChoice().load(std::memory_order_relaxed); }

namespace {

// World axes: the stand-in for a degenerate local frame, so that layers that
// were not decoded (or a damaged stream) can still be reconstructed.
constexpr LocalFrame kWorldAxes{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, true};

inline Vector3d load(const double* frame, int v) {
    const double* p = frame + 3 * static_cast<size_t>(v);
    return {p[0], p[1], p[2]};
}

inline void store(double* frame, int v, const Vector3d& a) {
    double* p = frame + 3 * static_cast<size_t>(v);
    p[0] = a.x;
    p[1] = a.y;
    p[2] = a.z;
}

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

inline Vector3d predictFrom(const int32_t* ids, const double* weights, size_t m, const double* positions) {
#if ORV_GEOMETRY_SSE2
    __m128d sxy = _mm_setzero_pd(), sz = _mm_setzero_pd();
    for (size_t i = 0; i < m; ++i) {
        const double* p = positions + 3 * static_cast<size_t>(ids[i]);
        const __m128d w = _mm_load1_pd(weights + i);
        sxy = _mm_add_pd(sxy, _mm_mul_pd(_mm_loadu_pd(p), w));
        sz = _mm_add_sd(sz, _mm_mul_sd(_mm_load_sd(p + 2), w));
    }
    double a[2];
    _mm_storeu_pd(a, sxy);
    return {a[0], a[1], _mm_cvtsd_f64(sz)};
#else
    Vector3d s{0.0, 0.0, 0.0};
    for (size_t i = 0; i < m; ++i) {
        const double* p = positions + 3 * static_cast<size_t>(ids[i]);
        const double w = weights[i];
        s.x = s.x + p[0] * w;
        s.y = s.y + p[1] * w;
        s.z = s.z + p[2] * w;
    }
    return s;
#endif
}

inline double dot(const Vector3d& a, const Vector3d& b) { return (a.x * b.x + a.y * b.y) + a.z * b.z; }

inline Vector3d cross(const Vector3d& a, const Vector3d& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The encoder's coordinates of a world-space error e in a local frame. Frames
// are orthonormal except when the predictor ring is (nearly) collinear: then
// t1 and t2 come out (nearly) parallel, n is rounding noise and t1 need not be
// orthogonal to n. Projection would then not invert the decoder's mapping
// (d.x*t1 + d.y*t2) + d.z*n, so the system is solved instead.
inline Vector3d toLocal(const Vector3d& e, const LocalFrame& a) {
    if (std::fabs(dot(a.t1, a.n)) < 1e-9) return {dot(e, a.t1), dot(e, a.t2), dot(e, a.n)};
    const double det = dot(a.t1, cross(a.t2, a.n));
    if (det == 0.0 || !std::isfinite(det)) return {dot(e, a.t1), dot(e, a.t2), dot(e, a.n)};
    return {dot(e, cross(a.t2, a.n)) / det, dot(a.t1, cross(e, a.n)) / det, dot(a.t1, cross(a.t2, e)) / det};
}

}  // namespace

GeometryCoder::GeometryCoder(const Settings& _settings, DecoderContext& _context)
    : settings_(_settings), context_(_context) {
    const int V = context_.vertexCount();
    ORV_CHECK(context_.allLayerPredictors.size()==context_.allLayerVertexOrders.size(), kModule);
    // Every vertex belongs to one layer once (the layer sweeps rely on it).
    std::vector<bool> seen(static_cast<size_t>(V), false);
    for (size_t l = 0; l < context_.allLayerVertexOrders.size(); ++l) {
        const auto& order = context_.allLayerVertexOrders[l];
        const auto& preds = context_.allLayerPredictors[l];
        ORV_CHECK(preds.size()==order.size(), kModule);
        for (size_t k = 0; k < order.size(); ++k) {
            const int v = order[k];
            ORV_CHECK(0<=v && v<V, kModule);
            ORV_CHECK(!seen[v], kModule);
            seen[v] = true;
            for (const PredictorTerm& t : preds[k]) {
                const int p = t.first;
                ORV_CHECK(0<=p && p<V, kModule);
            }
            ensureTables(preds[k].size());
        }
    }
    // One contiguous copy of every layer's terms: the per-vertex loops then
    // walk memory in order instead of one small heap block per vertex.
    std::vector<int> layerOf(static_cast<size_t>(V), -1);
    for (size_t l = 0; l < context_.allLayerVertexOrders.size(); ++l)
        for (int v : context_.allLayerVertexOrders[l]) layerOf[static_cast<size_t>(v)] = static_cast<int>(l);
    flat_.resize(context_.allLayerPredictors.size());
    for (size_t l = 0; l < flat_.size(); ++l) {
        FlatTerms& ft = flat_[l];
        ft.begin.reserve(context_.allLayerPredictors[l].size() + 1);
        ft.begin.push_back(0);
        ft.fromBelow = true;
        for (const Predictor& p : context_.allLayerPredictors[l]) {
            ft.anyEmpty = ft.anyEmpty || p.empty();
            for (const PredictorTerm& t : p) {
                ft.id.push_back(t.first);
                ft.weight.push_back(t.second);
                ft.fromBelow = ft.fromBelow && layerOf[static_cast<size_t>(t.first)] < static_cast<int>(l);
            }
            ft.begin.push_back(static_cast<int32_t>(ft.id.size()));
        }
        // Layer 0 is coded vertex after vertex (its terms name earlier
        // vertices of its own); only the enhancement layers are swept.
        if (l > 0) buildVisitOrder(ft, context_.allLayerVertexOrders[l]);
    }
}

// The layer's vertices by vertex id, and its terms copied in that order.
void GeometryCoder::buildVisitOrder(FlatTerms& _ft, const std::vector<int>& _order) {
    const size_t n = _order.size();
    _ft.byVertex.resize(n);
    for (size_t k = 0; k < n; ++k) _ft.byVertex[k] = static_cast<int32_t>(k);
    std::sort(_ft.byVertex.begin(), _ft.byVertex.end(), [&_order](int32_t a, int32_t b) { return _order[a] < _order[b]; });
    _ft.sortedOrder.resize(n);
    _ft.visitPosition.resize(n);
    for (size_t j = 0; j < n; ++j) {
        _ft.sortedOrder[j] = _order[_ft.byVertex[j]];
        _ft.visitPosition[_ft.byVertex[j]] = static_cast<int32_t>(j);
    }
    _ft.visitBegin.reserve(n + 1);
    _ft.visitBegin.push_back(0);
    _ft.visitId.reserve(_ft.id.size());
    _ft.visitWeight.reserve(_ft.weight.size());
    for (int32_t k : _ft.byVertex) {
        _ft.visitId.insert(_ft.visitId.end(), _ft.id.begin() + _ft.begin[k], _ft.id.begin() + _ft.begin[k + 1]);
        _ft.visitWeight.insert(_ft.visitWeight.end(), _ft.weight.begin() + _ft.begin[k],
                               _ft.weight.begin() + _ft.begin[k + 1]);
        _ft.visitBegin.push_back(static_cast<int32_t>(_ft.visitId.size()));
    }
}

void GeometryCoder::ensureTables(size_t _m) {
    constexpr size_t kAbsent = ~size_t{0};
    if (_m < trigAt_.size() && trigAt_[_m] != kAbsent) return;
    if (_m >= trigAt_.size()) trigAt_.resize(_m + 1, kAbsent);
    trigAt_[_m] = trig_.size();
    if (_m == 0) return;
    const double step = 6.283185307179586 / static_cast<double>(_m);
    for (size_t i = 0; i < _m; ++i) {
        const double a = static_cast<double>(i) * step;
        trig_.push_back(std::cos(a));
        trig_.push_back(std::sin(a));
    }
}

geometry_kernels::LayerTerms GeometryCoder::visitTerms(int _l) const {
    const FlatTerms& ft = flat_[_l];
    return {ft.visitBegin.data(), ft.visitId.data(), ft.visitWeight.data(), trig_.data(), trigAt_.data(),
            ft.byVertex.size()};
}

void GeometryCoder::checkLayer(int _l) const {
    const int nLayers = static_cast<int>(context_.allLayerVertexOrders.size());
    ORV_CHECK_TEXT(1 <= _l && _l < nLayers, "1<=_l && _l<context_.allLayerVertexOrders.size()");
}

Vector3d GeometryCoder::spatialPrediction(int _l, int _k, int _f) const {
    const int nLayers = static_cast<int>(context_.allLayerPredictors.size());
    ORV_CHECK_TEXT(0 <= _l && _l < nLayers, "0<=_l && _l<context_.allLayerPredictors.size()");
    const int nK = static_cast<int>(context_.allLayerPredictors[_l].size());
    ORV_CHECK_TEXT(0 <= _k && _k < nK, "0<=_k && _k<context_.allLayerPredictors[_l].size()");
    Vector3d s{0.0, 0.0, 0.0};
    for (const PredictorTerm& t : context_.allLayerPredictors[_l][_k]) {
        const Vector3d p = load(context_.decFrame(_f), t.first);
        s.x = s.x + p.x * t.second;
        s.y = s.y + p.y * t.second;
        s.z = s.z + p.z * t.second;
    }
    return s;
}

LocalFrame GeometryCoder::localFrame(int _l, int _k, int _f) const {
    const int nLayers = static_cast<int>(context_.allLayerPredictors.size());
    ORV_CHECK_TEXT(0 <= _l && _l < nLayers, "0<=_l && _l<context_.allLayerPredictors.size()");
    const int nK = static_cast<int>(context_.allLayerPredictors[_l].size());
    ORV_CHECK_TEXT(0 <= _k && _k < nK, "0<=_k && _k<context_.allLayerPredictors[_l].size()");
    const Predictor& predictor = context_.allLayerPredictors[_l][_k];
    ORV_CHECK(!predictor.empty(), kModule);
    std::vector<int32_t> ids;
    for (const PredictorTerm& t : predictor) ids.push_back(t.first);
    return frameFromTerms(ids.data(), ids.size(), context_.decFrame(_f));
}

[[gnu::always_inline]] inline void GeometryCoder::accumulateAxes(const int32_t* _ids, size_t m,
                                                                const double* _positions, Vector3d& t1,
                                                                Vector3d& t2) const {
    // Tables exist for every term count of the layering seen at construction.
    ORV_CHECK(m<trigAt_.size() && trigAt_[m]!=~size_t{0}, kModule);
    const double* cs = trig_.data() + trigAt_[m];
#if ORV_GEOMETRY_SSE2
    // x and y of both axes in two registers, the z of both in a third: the
    // same products and sums per component, two at a time.
    __m128d t1xy = _mm_setzero_pd(), t2xy = _mm_setzero_pd(), tz = _mm_setzero_pd();
    for (size_t i = 0; i < m; ++i) {
        const double* p = _positions + 3 * static_cast<size_t>(_ids[i]);
        const __m128d pxy = _mm_loadu_pd(p);
        const __m128d pz = _mm_load1_pd(p + 2);
        const __m128d csi = _mm_loadu_pd(cs + 2 * i);
        t1xy = _mm_add_pd(t1xy, _mm_mul_pd(_mm_unpacklo_pd(csi, csi), pxy));
        t2xy = _mm_add_pd(t2xy, _mm_mul_pd(_mm_unpackhi_pd(csi, csi), pxy));
        tz = _mm_add_pd(tz, _mm_mul_pd(csi, pz));
    }
    unpackAxes(t1xy, t2xy, tz, t1, t2);
#else
    t1 = {0.0, 0.0, 0.0};
    t2 = {0.0, 0.0, 0.0};
    for (size_t i = 0; i < m; ++i) {
        const double* p = _positions + 3 * static_cast<size_t>(_ids[i]);
        const double c = cs[2 * i], s = cs[2 * i + 1];
        t1.x = t1.x + c * p[0];
        t1.y = t1.y + c * p[1];
        t1.z = t1.z + c * p[2];
        t2.x = t2.x + s * p[0];
        t2.y = t2.y + s * p[1];
        t2.z = t2.z + s * p[2];
    }
#endif
}

namespace {
// n = t1 x t2, then t2 = n x t1, each normalised; ok when no axis is zero.
inline LocalFrame finishFrame(Vector3d t1, const Vector3d& t2) {
    LocalFrame r;
    r.n.x = t1.y * t2.z - t1.z * t2.y;
    r.n.y = t2.x * t1.z - t1.x * t2.z;
    r.n.z = t1.x * t2.y - t2.x * t1.y;
    normalise(r.n);
    normalise(t1);
    r.t1 = t1;
    r.t2.x = r.n.y * t1.z - t1.y * r.n.z;
    r.t2.y = t1.x * r.n.z - r.n.x * t1.z;
    r.t2.z = r.n.x * t1.y - t1.x * r.n.y;
    normalise(r.t2);
    r.ok = !(isZero(r.t1) || isZero(r.t2) || isZero(r.n));
    return r;
}

#if ORV_GEOMETRY_SSE2
// The frame arithmetic of finishFrame on two vertices at once, one per lane:
// the same operations in the same order, so each lane's result is exactly
// the scalar one.
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

inline __m128d mulSub(__m128d _a, __m128d _b, __m128d _c, __m128d _d) {
    return _mm_sub_pd(_mm_mul_pd(_a, _b), _mm_mul_pd(_c, _d));
}

// A zero length gives the zero vector, as in normalise().
inline void normalisePair(Lanes& _a) {
    const __m128d sq = _mm_add_pd(_mm_add_pd(_mm_mul_pd(_a.x, _a.x), _mm_mul_pd(_a.y, _a.y)), _mm_mul_pd(_a.z, _a.z));
    const __m128d len = _mm_sqrt_pd(sq);
    const __m128d inv = _mm_div_pd(_mm_set1_pd(1.0), len);
    const __m128d keep = _mm_cmpneq_pd(len, _mm_setzero_pd());
    _a.x = _mm_and_pd(_mm_mul_pd(_a.x, inv), keep);
    _a.y = _mm_and_pd(_mm_mul_pd(_a.y, inv), keep);
    _a.z = _mm_and_pd(_mm_mul_pd(_a.z, inv), keep);
}

inline __m128d zeroMask(const Lanes& _a) {
    const __m128d zero = _mm_setzero_pd();
    return _mm_and_pd(_mm_and_pd(_mm_cmpeq_pd(_a.x, zero), _mm_cmpeq_pd(_a.y, zero)), _mm_cmpeq_pd(_a.z, zero));
}
#endif

}  // namespace

LocalFrame GeometryCoder::frameFromTerms(const int32_t* _ids, size_t m, const double* _positions) const {
    Vector3d t1, t2;
    accumulateAxes(_ids, m, _positions, t1, t2);
    return finishFrame(t1, t2);
}

namespace {
// roundToNearest without the std::function call, for the default quantizer:
// the same quotient, truncation and half-away-from-zero decision, taken only
// where the result certainly fits (other values go through quantize(), which
// accepts or refuses them exactly as before).
inline bool nearestInRange(double _error, double _q, int32_t& _r) {
    const double x = _error / _q;
    if (!(std::fabs(x) < 2147483647.0)) return false;
    const int32_t t = static_cast<int32_t>(x);
    const double frac = x - static_cast<double>(t);
    _r = t + (frac >= 0.5 ? 1 : 0) - (frac <= -0.5 ? 1 : 0);
    return true;
}
}  // namespace

int32_t GeometryCoder::quantize(double _error, double _q, const ResidualSite& _site) const {
    const double r = quantizer_ ? quantizer_(_error, _q, _site) : roundToNearest(_error, _q);
    if (!std::isfinite(r) || std::fabs(r) > 2147483647.0 || r != std::trunc(r)) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "residual %g of vertex %d (component %d) in layer %d of frame %d does not fit a 32-bit "
                      "integer: use a larger step size",
                      r, _site.vertex, _site.component, _site.layer, _site.frame);
        throw Error(text);
    }
    return static_cast<int32_t>(r);
}

// The one per-vertex kernel. Without _original it decodes (residuals come from
// GQuant); with it, it first chooses each residual from the original position
// and stores it in GQuant, then reconstructs through the same code.
// Instantiated per pass and direction, so every test on them is resolved at
// compile time and the loop carries no dead branches.
template <GeometryCoder::Pass P, bool Encode, bool ParkedPrediction>
void GeometryCoder::codeLayerT(int _l, int _f, const std::vector<int>* _rf, double _q,
                               const GeometryT<double>* _original, size_t _kBegin, size_t _kEnd) {
    const int nLayers = static_cast<int>(context_.allLayerPredictors.size());
    ORV_CHECK_TEXT(0 <= _l && _l < nLayers, "0<=_l && _l<context_.allLayerPredictors.size()");
    const std::vector<int>& order = context_.allLayerVertexOrders[_l];
    const FlatTerms& ft = flat_[_l];
    if (order.empty()) return;

    // Column pointers of the current frame: frame indices are checked here,
    // vertex ids were validated at construction.
    double* dec = context_.decFrame(_f);
    double* detail = context_.detailFrame(_f);
    int* quant = context_.quantFrame(_f);
    double* ft1 = context_.axisFrame(_f, 0);
    double* ft2 = context_.axisFrame(_f, 1);
    double* fn = context_.axisFrame(_f, 2);
    [[maybe_unused]] const double* orig = Encode ? _original->frame(_f) : nullptr;

    // Reference details and their weights, resolved once per layer.
    const double* refDetail[2] = {nullptr, nullptr};
    double refWeight[2] = {0.0, 0.0};
    size_t nRef = 0;
    if constexpr (P != Pass::First) {
        ORV_CHECK_TEXT(_rf->size() <= 2, "_rf.size()<=2");
        nRef = _rf->size();
        if constexpr (P == Pass::Enhancement) {
            ORV_CHECK_TEXT(_rf->size() == context_.filterDec[_f][_l].size(),
                           "_rf.size() == context_.filterDec[_f][_l].size()");
        }
        for (size_t j = 0; j < nRef; ++j) {
            refDetail[j] = context_.detailFrame((*_rf)[j]);
            if constexpr (P == Pass::Enhancement) refWeight[j] = context_.filterDec[_f][_l][j];
        }
    }
    const double count = static_cast<double>(nRef);
    const bool addResidual = P == Pass::First || _q > 0.0;
    [[maybe_unused]] const bool custom = static_cast<bool>(quantizer_);
    [[maybe_unused]] const bool simd = geometrySimd();

    const size_t kEnd = std::min(order.size(), _kEnd);
    for (size_t k = _kBegin; k < kEnd; ++k) {
        const int v = order[k];
        const int32_t* ids = ft.id.data() + ft.begin[k];
        const size_t m = static_cast<size_t>(ft.begin[k + 1] - ft.begin[k]);
        Vector3d S;
        bool local = false;
        LocalFrame axes;
        if constexpr (P == Pass::First || P == Pass::BaseLocal) {
            if (simd && m >= 3) {
                // Prediction and axis sums in one sweep over the terms.
                ORV_CHECK(m<trigAt_.size() && trigAt_[m]!=~size_t{0}, kModule);
                double sums[9];
                geometry_kernels::sumVertexAvx2(ids, ft.weight.data() + ft.begin[k], m, trig_.data() + trigAt_[m],
                                                dec, sums);
                S = {sums[6], sums[7], sums[8]};
                axes = finishFrame({sums[0], sums[1], sums[2]}, {sums[3], sums[4], sums[5]});
            } else {
                S = predictFrom(ids, ft.weight.data() + ft.begin[k], m, dec);
                if (m >= 3) axes = frameFromTerms(ids, m, dec);
            }
        } else if constexpr (ParkedPrediction) {
            const size_t at = 3 * (parkedByVisit_ ? static_cast<size_t>(ft.visitPosition[k]) : k);
            S = {parked_[at], parked_[at + 1], parked_[at + 2]};
        } else {
            S = predictFrom(ids, ft.weight.data() + ft.begin[k], m, dec);
        }

        if constexpr (P == Pass::Enhancement) {
            axes.t1 = load(ft1, v);
            axes.t2 = load(ft2, v);
            axes.n = load(fn, v);
            local = true;
        } else if (P != Pass::BaseGlobal && m >= 3) {
            if (!axes.ok) {
                axes = kWorldAxes;
                ++fallbackFrames_;
            }
            store(ft1, v, axes.t1);
            store(ft2, v, axes.t2);
            store(fn, v, axes.n);
            local = true;
        }

        Vector3d tp{0.0, 0.0, 0.0};
        if constexpr (P == Pass::Enhancement) {
            for (size_t j = 0; j < nRef; ++j) {
                const Vector3d dr = load(refDetail[j], v);
                tp.x = tp.x + refWeight[j] * dr.x;
                tp.y = tp.y + refWeight[j] * dr.y;
                tp.z = tp.z + refWeight[j] * dr.z;
            }
        } else if constexpr (P != Pass::First) {
            for (size_t j = 0; j < nRef; ++j) {
                const Vector3d dr = load(refDetail[j], v);
                tp.x = tp.x + dr.x / count;
                tp.y = tp.y + dr.y / count;
                tp.z = tp.z + dr.z / count;
            }
        }

        int* R = quant + 3 * static_cast<size_t>(v);
        if constexpr (Encode) {
            const Vector3d x = load(orig, v);
            const Vector3d e{x.x - S.x, x.y - S.y, x.z - S.z};
            const Vector3d actual = local ? toLocal(e, axes) : e;
            const double err[3] = {actual.x - tp.x, actual.y - tp.y, actual.z - tp.z};
            for (int c = 0; c < 3; ++c) {
                if (custom || !nearestInRange(err[c], _q, R[c]))
                    R[c] = quantize(err[c], _q, ResidualSite{_f, _l, v, c});
            }
        }

        Vector3d d;
        if constexpr (P == Pass::First) {
            d = {_q * static_cast<double>(R[0]), _q * static_cast<double>(R[1]), _q * static_cast<double>(R[2])};
        } else {
            Vector3d r{0.0, 0.0, 0.0};
            if (addResidual)
                r = {_q * static_cast<double>(R[0]), _q * static_cast<double>(R[1]), _q * static_cast<double>(R[2])};
            d = {tp.x + r.x, tp.y + r.y, tp.z + r.z};
        }
        store(detail, v, d);

        Vector3d pos;
        if (local) {
            const Vector3d& t1 = axes.t1;
            const Vector3d& t2 = axes.t2;
            const Vector3d& n = axes.n;
            pos.x = S.x + ((d.x * t1.x + d.y * t2.x) + d.z * n.x);
            pos.y = S.y + ((d.x * t1.y + d.y * t2.y) + d.z * n.y);
            pos.z = S.z + ((d.x * t1.z + d.y * t2.z) + d.z * n.z);
        } else {
            pos = {S.x + d.x, S.y + d.y, S.z + d.z};
        }
        store(dec, v, pos);
    }
}

void GeometryCoder::codeLayer(Pass _pass, int _l, int _f, const std::vector<int>* _rf, double _q,
                              const GeometryT<double>* _original) {
    // Predictions parked by computeLayerFrames hold while only the layer
    // itself is coded (its terms are lower-layer vertices).
    if (_pass == Pass::Enhancement && _l == parkedLayer_ && _f == parkedFrame_) {
        if (_original && !quantizer_ && parkedByVisit_) return encodeEnhancementWithAvx2(_l, _f, *_rf, _q, *_original);
        return _original ? codeLayerT<Pass::Enhancement, true, true>(_l, _f, _rf, _q, _original)
                         : codeLayerT<Pass::Enhancement, false, true>(_l, _f, _rf, _q, _original);
    }
    parkedLayer_ = parkedFrame_ = -1;
    switch (_pass) {
        case Pass::First:
            return _original ? codeLayerT<Pass::First, true>(_l, _f, _rf, _q, _original)
                             : codeLayerT<Pass::First, false>(_l, _f, _rf, _q, _original);
        case Pass::BaseGlobal:
            return _original ? codeLayerT<Pass::BaseGlobal, true>(_l, _f, _rf, _q, _original)
                             : codeLayerT<Pass::BaseGlobal, false>(_l, _f, _rf, _q, _original);
        case Pass::BaseLocal:
            return _original ? codeLayerT<Pass::BaseLocal, true>(_l, _f, _rf, _q, _original)
                             : codeLayerT<Pass::BaseLocal, false>(_l, _f, _rf, _q, _original);
        case Pass::Enhancement:
            return _original ? codeLayerT<Pass::Enhancement, true>(_l, _f, _rf, _q, _original)
                             : codeLayerT<Pass::Enhancement, false>(_l, _f, _rf, _q, _original);
    }
}

void GeometryCoder::decodeFirstFrame(int _f, double _q) {
    for (int l = 0; l < settings_.nSL; ++l) codeLayer(Pass::First, l, _f, nullptr, _q, nullptr);
}

void GeometryCoder::decodeBaseLayerGlobal(int _f, const std::vector<int>& _rf, double _q) {
    codeLayer(Pass::BaseGlobal, 0, _f, &_rf, _q, nullptr);
}

void GeometryCoder::decodeBaseLayerLocal(int _f, const std::vector<int>& _rf, double _q) {
    codeLayer(Pass::BaseLocal, 0, _f, &_rf, _q, nullptr);
}

void GeometryCoder::computeLayerFrames(int _l, int _f) {
    checkLayer(_l);
    parkedLayer_ = parkedFrame_ = -1;
    if (flat_[_l].fromBelow) {
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
            ORV_CHECK(m<trigAt_.size() && trigAt_[m]!=~size_t{0}, kModule);
            const double* cs = trig_.data() + trigAt_[m];
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
            accumulateAxes(ids, m, dec, t1, t2);
            const Vector3d S = predictFrom(ids, w, m, dec);
            parked_[3 * k] = S.x;
            parked_[3 * k + 1] = S.y;
            parked_[3 * k + 2] = S.z;
#endif
        } else {
            accumulateAxes(ids, m, dec, t1, t2);
        }
        store(ft1, order[k], t1);
        store(ft2, order[k], t2);
    }
    finishLayerFrames(order, ft1, ft2, fn);
}

// Second sweep of computeLayerFrames: the parked sums in _t1/_t2 become the
// normalised frames. Vertices of a layer are distinct, so pairs never alias.
void GeometryCoder::finishLayerFrames(const std::vector<int>& _order, double* _t1, double* _t2, double* _n) {
    size_t k = 0;
#if ORV_GEOMETRY_SSE2
    for (; k + 1 < _order.size(); k += 2) {
        const size_t a = 3 * static_cast<size_t>(_order[k]), b = 3 * static_cast<size_t>(_order[k + 1]);
        Lanes t1 = loadPair(_t1 + a, _t1 + b);
        const Lanes u = loadPair(_t2 + a, _t2 + b);
        Lanes n{mulSub(t1.y, u.z, t1.z, u.y), mulSub(u.x, t1.z, t1.x, u.z), mulSub(t1.x, u.y, u.x, t1.y)};
        normalisePair(n);
        normalisePair(t1);
        Lanes t2{mulSub(n.y, t1.z, t1.y, n.z), mulSub(t1.x, n.z, n.x, t1.z), mulSub(n.x, t1.y, t1.x, n.y)};
        normalisePair(t2);
        storePair(_t1 + a, _t1 + b, t1);
        storePair(_t2 + a, _t2 + b, t2);
        storePair(_n + a, _n + b, n);
        const int bad = _mm_movemask_pd(_mm_or_pd(_mm_or_pd(zeroMask(t1), zeroMask(t2)), zeroMask(n)));
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

void GeometryCoder::decodeEnhancementLayer(int _l, int _f, const std::vector<int>& _rf, double _q) {
    checkLayer(_l);
    codeLayer(Pass::Enhancement, _l, _f, &_rf, _q, nullptr);
}

// decodeEnhancementLayerWithFrames in one AVX2 kernel: the checks of
// layerFrameSums and codeLayerT, then the same sums, frames and details.
void GeometryCoder::reconstructEnhancementAvx2(int _l, int _f, const std::vector<int>& _rf, double _q) {
    const FlatTerms& ft = flat_[_l];
    const std::vector<int>& order = context_.allLayerVertexOrders[_l];
    if (ft.anyEmpty) checkFailed("!predictor.empty()", kModule, __LINE__);
    ORV_CHECK_TEXT(_rf.size() <= 2, "_rf.size()<=2");
    ORV_CHECK_TEXT(_rf.size() == context_.filterDec[_f][_l].size(), "_rf.size() == context_.filterDec[_f][_l].size()");
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

// The parked enhancement pass of the encoder, four vertices at a time where
// the kernel can, visiting the layer by vertex id as the frame sweep did; the
// vertices of a group it leaves go through codeLayerT, which also reports
// what does not fit. Vertices are independent here: their predictions were
// summed before the pass.
void GeometryCoder::encodeEnhancementWithAvx2(int _l, int _f, const std::vector<int>& _rf, double _q,
                                              const GeometryT<double>& _original) {
    const FlatTerms& ft = flat_[_l];
    const size_t count = ft.sortedOrder.size();
    ORV_CHECK_TEXT(_rf.size() <= 2, "_rf.size()<=2");
    ORV_CHECK_TEXT(_rf.size() == context_.filterDec[_f][_l].size(), "_rf.size() == context_.filterDec[_f][_l].size()");
    ORV_CHECK(parkedByVisit_ && parked_.size()==3*count, kModule);
    geometry_kernels::EnhancementEncoding job{};
    job.rec.refCount = _rf.size();
    for (size_t j = 0; j < _rf.size(); ++j) {
        job.rec.refDetail[j] = context_.detailFrame(_rf[j]);
        job.rec.refWeight[j] = context_.filterDec[_f][_l][j];
    }
    job.rec.step = _q;
    job.rec.addResidual = true;  // steps are positive
    job.rec.detail = context_.detailFrame(_f);
    job.rec.positions = context_.decFrame(_f);
    job.quantOut = context_.quantFrame(_f);
    job.parked = parked_.data();
    job.original = _original.frame(_f);
    job.t1 = context_.axisFrame(_f, 0);
    job.t2 = context_.axisFrame(_f, 1);
    job.n = context_.axisFrame(_f, 2);
    size_t j = 0;
    while (j < count) {
        j = geometry_kernels::encodeEnhancementAvx2(ft.sortedOrder.data(), count, j, job);
        const size_t end = std::min(count, j + 4);
        for (; j < end; ++j) {
            const size_t k = static_cast<size_t>(ft.byVertex[j]);
            codeLayerT<Pass::Enhancement, true, true>(_l, _f, &_rf, _q, &_original, k, k + 1);
        }
    }
}

void GeometryCoder::decodeEnhancementLayerWithFrames(int _l, int _f, const std::vector<int>& _rf, double _q) {
    checkLayer(_l);
    parkedLayer_ = parkedFrame_ = -1;
    // A term naming a vertex of the layer itself (which the layering never
    // makes) reads it as reconstructed so far: one vertex after the other.
    if (!flat_[_l].fromBelow) {
        layerFrameSums<false>(_l, _f);
        codeLayerT<Pass::Enhancement, false>(_l, _f, &_rf, _q, nullptr);
        return;
    }
    if (geometrySimd() && !context_.allLayerVertexOrders[_l].empty()) {
        reconstructEnhancementAvx2(_l, _f, _rf, _q);
        return;
    }
    layerFrameSums<true>(_l, _f);
    codeLayerT<Pass::Enhancement, false, true>(_l, _f, &_rf, _q, nullptr);
}

namespace {
void requireStep(double _q) {
    if (!(_q > 0.0) || !std::isfinite(_q)) throw Error("step sizes must be positive and finite, got " + std::to_string(_q));
}
void requireShape(const GeometryT<double>& _original, const DecoderContext& _context) {
    if (_original.V != _context.vertexCount() || _original.F != _context.frameCount())
        throw Error("original positions have " + std::to_string(_original.V) + " vertices x " +
                    std::to_string(_original.F) + " frames, the coder expects " + std::to_string(_context.vertexCount()) +
                    " x " + std::to_string(_context.frameCount()));
}
}  // namespace

void GeometryCoder::encodeFirstFrame(int _f, double _q, const GeometryT<double>& _original) {
    requireStep(_q);
    requireShape(_original, context_);
    for (int l = 0; l < settings_.nSL; ++l) codeLayer(Pass::First, l, _f, nullptr, _q, &_original);
}

void GeometryCoder::encodeBaseLayerGlobal(int _f, const std::vector<int>& _rf, double _q,
                                          const GeometryT<double>& _original) {
    requireStep(_q);
    requireShape(_original, context_);
    codeLayer(Pass::BaseGlobal, 0, _f, &_rf, _q, &_original);
}

void GeometryCoder::encodeBaseLayerLocal(int _f, const std::vector<int>& _rf, double _q,
                                         const GeometryT<double>& _original) {
    requireStep(_q);
    requireShape(_original, context_);
    codeLayer(Pass::BaseLocal, 0, _f, &_rf, _q, &_original);
}

void GeometryCoder::encodeEnhancementLayer(int _l, int _f, const std::vector<int>& _rf, double _q,
                                           const GeometryT<double>& _original) {
    requireStep(_q);
    requireShape(_original, context_);
    checkLayer(_l);
    codeLayer(Pass::Enhancement, _l, _f, &_rf, _q, &_original);
}

}  // namespace orv
