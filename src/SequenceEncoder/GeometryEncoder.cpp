// The encoding passes: the residual of every vertex component chosen from the
// original position (round to nearest, or the installed Quantizer), written to
// GQuant, then the decoder's reconstruction of the vertex through the shared
// per-vertex pass. Parked enhancement passes with plain rounding or a dead
// zone without a component guard go four vertices at a time through the AVX2
// kernel where the processor has it.
#include "SequenceEncoder/GeometryEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "Common/Check.h"
#include "Encoder/GeometryLayerPass.h"
#include "SequenceEncoder/GeometryEncoderKernels.h"

namespace orv {

using namespace geometry_math;

namespace {

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

// roundToNearest without the std::function call, for the default quantizer:
// the same quotient, truncation and half-away-from-zero decision, taken only
// where the result certainly fits (other values go through quantize(), which
// accepts or refuses them exactly as roundToNearest would).
inline bool nearestInRange(double _error, double _q, int32_t& _r) {
    const double x = _error / _q;
    if (!(std::fabs(x) < 2147483647.0)) return false;
    const int32_t t = static_cast<int32_t>(x);
    const double frac = x - static_cast<double>(t);
    _r = t + (frac >= 0.5 ? 1 : 0) - (frac <= -0.5 ? 1 : 0);
    return true;
}

// The dead zones the AVX2 pass decides: no component guard (an enhancement
// layer's guard is the vertex's) and a theta for which the safe range of the
// quotients holds.
bool zoneFitsKernel(const GeometryEncoder::DeadZone& _dz) {
    return !(_dz.componentLimit < INFINITY) && _dz.theta >= 0.0 && _dz.theta <= 1.0;
}

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

// The residuals of one pass, chosen from the original positions of frame _f
// (prediction error in the coordinates the decoder will use, minus the
// temporal prediction).
struct GeometryEncoder::ChosenResiduals {
    static constexpr bool kChooses = true;
    const GeometryEncoder& coder;
    const double* original;
    bool custom;
    bool deadZone;  // and not custom

    [[gnu::always_inline]] void choose(int _f, int _l, int _v, const Vector3d& _S, bool _local,
                                       const LocalFrame& _axes, const Vector3d& _tp, double _q, int* _R) const {
        const Vector3d x = load(original, _v);
        const Vector3d e{x.x - _S.x, x.y - _S.y, x.z - _S.z};
        const Vector3d actual = _local ? toLocal(e, _axes) : e;
        const double err[3] = {actual.x - _tp.x, actual.y - _tp.y, actual.z - _tp.z};
        if (deadZone) return coder.chooseDeadZone(err, _q, _f, _l, _v, _R);
        for (int c = 0; c < 3; ++c) {
            if (custom || !nearestInRange(err[c], _q, _R[c]))
                _R[c] = coder.quantize(err[c], _q, ResidualSite{_f, _l, _v, c});
        }
    }
};

int32_t GeometryEncoder::quantize(double _error, double _q, const ResidualSite& _site) const {
    return accept(quantizer_ ? quantizer_(_error, _q, _site) : roundToNearest(_error, _q), _site);
}

// The same decisions as a dead-zone Quantizer with a per-component guard,
// and, for the vertex guard, as recording the layer's errors with plain
// rounding, deciding each vertex from them and coding the decisions (which
// is what an encoder without this mode has to do in two passes).
void GeometryEncoder::chooseDeadZone(const double _err[3], double _q, int _f, int _l, int _v, int* _R) const {
    const DeadZone& dz = *deadZone_;
    // One quotient per component serves every rounding of it.
    const double x[3] = {_err[0] / _q, _err[1] / _q, _err[2] / _q};
    const bool guard = dz.componentLimit < INFINITY;
    // Quotients well inside 32 bits round to residuals that fit either way
    // (the zone's theta lies in [0, 1]): no check per residual is needed.
    constexpr double kSafe = 1073741824.0;
    if (std::fabs(x[0]) < kSafe && std::fabs(x[1]) < kSafe && std::fabs(x[2]) < kSafe && dz.theta >= 0.0 &&
        dz.theta <= 1.0) {
        const bool vertexGuard = dz.vertexLimit < INFINITY;
        double squared = 0;
        for (int c = 0; c < 3; ++c) {
            double r = deadZoneQuotient(x[c], dz.theta, dz.zeroOnly);
            if (guard && !(std::fabs(_err[c] - _q * r) <= dz.componentLimit)) r = roundQuotient(x[c]);
            _R[c] = static_cast<int32_t>(r);
            const double e = _err[c] - _q * _R[c];
            squared += e * e;
        }
        if (vertexGuard && !(squared <= dz.vertexLimit * dz.vertexLimit))
            for (int c = 0; c < 3; ++c) _R[c] = static_cast<int32_t>(roundQuotient(x[c]));
        return;
    }
    if (!(dz.vertexLimit < INFINITY)) {
        for (int c = 0; c < 3; ++c) {
            double r = deadZoneQuotient(x[c], dz.theta, dz.zeroOnly);
            if (guard && !(std::fabs(_err[c] - _q * r) <= dz.componentLimit)) r = roundQuotient(x[c]);
            _R[c] = accept(r, ResidualSite{_f, _l, _v, c});
        }
        return;
    }
    int32_t plain[3];
    for (int c = 0; c < 3; ++c) plain[c] = accept(roundQuotient(x[c]), ResidualSite{_f, _l, _v, c});
    int32_t zoned[3];
    double squared = 0;
    for (int c = 0; c < 3; ++c) {
        double r = deadZoneQuotient(x[c], dz.theta, dz.zeroOnly);
        // Rounded to nearest, r is the plain residual, which fits.
        if (guard && !(std::fabs(_err[c] - _q * r) <= dz.componentLimit)) r = plain[c];
        zoned[c] = static_cast<int32_t>(r);  // |r| <= |plain|, which fits
        const double e = _err[c] - _q * zoned[c];
        squared += e * e;
    }
    const bool keep = squared <= dz.vertexLimit * dz.vertexLimit;
    for (int c = 0; c < 3; ++c) _R[c] = keep ? zoned[c] : plain[c];
}

bool GeometryEncoder::predictsFromBelow(int _l) const {
    ORV_CHECK(0<=_l && static_cast<size_t>(_l)<flat_.size(), kModule);
    return flat_[static_cast<size_t>(_l)].fromBelow;
}

int32_t GeometryEncoder::accept(double _r, const ResidualSite& _site) const {
    const double r = _r;
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

void GeometryEncoder::encodeLayer(Pass _pass, int _l, int _f, const std::vector<int>* _rf, double _q,
                                  const GeometryT<double>& _original) {
    const bool custom = static_cast<bool>(quantizer_);
    ChosenResiduals chosen{*this, _original.frame(_f), custom, !custom && deadZone_.has_value()};
    // Predictions parked by computeLayerFrames hold while only the layer
    // itself is coded (its terms are lower-layer vertices).
    if (takeParked(_pass, _l, _f)) {
        if (!custom && parkedByVisit_ && (!deadZone_ || zoneFitsKernel(*deadZone_)))
            return encodeEnhancementWithAvx2(_l, _f, *_rf, _q, _original);
        return codeLayerT<Pass::Enhancement, true>(chosen, _l, _f, _rf, _q);
    }
    switch (_pass) {
        case Pass::First: return codeLayerT<Pass::First, false>(chosen, _l, _f, _rf, _q);
        case Pass::BaseGlobal: return codeLayerT<Pass::BaseGlobal, false>(chosen, _l, _f, _rf, _q);
        case Pass::BaseLocal: return codeLayerT<Pass::BaseLocal, false>(chosen, _l, _f, _rf, _q);
        case Pass::Enhancement: return codeLayerT<Pass::Enhancement, false>(chosen, _l, _f, _rf, _q);
    }
}

// The parked enhancement pass four vertices at a time where the kernel can,
// visiting the layer by vertex id as the frame sweep did; the vertices of a
// group it leaves go through the per-vertex pass, which also reports what
// does not fit. Vertices are independent here: their predictions were summed
// before the pass.
void GeometryEncoder::encodeEnhancementWithAvx2(int _l, int _f, const std::vector<int>& _rf, double _q,
                                                const GeometryT<double>& _original) {
    const FlatTerms& ft = flat_[_l];
    const size_t count = ft.sortedOrder.size();
    ORV_GEOMETRY_CHECK_TEXT(_rf.size() <= 2, "_rf.size()<=2");
    ORV_GEOMETRY_CHECK_TEXT(_rf.size() == context_.filterDec[_f][_l].size(),
                            "_rf.size() == context_.filterDec[_f][_l].size()");
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
    if (deadZone_) {
        job.deadZone = true;
        job.theta = deadZone_->theta;
        job.vertexLimit = deadZone_->vertexLimit;
        job.zeroOnly = deadZone_->zeroOnly;
    }
    ChosenResiduals chosen{*this, _original.frame(_f), false, deadZone_.has_value()};
    size_t j = 0;
    while (j < count) {
        j = geometry_kernels::encodeEnhancementAvx2(ft.sortedOrder.data(), count, j, job);
        const size_t end = std::min(count, j + 4);
        for (; j < end; ++j) {
            const size_t k = static_cast<size_t>(ft.byVertex[j]);
            codeLayerT<Pass::Enhancement, true>(chosen, _l, _f, &_rf, _q, k, k + 1);
        }
    }
}

void GeometryEncoder::encodeFirstFrame(int _f, double _q, const GeometryT<double>& _original) {
    requireStep(_q);
    requireShape(_original, context_);
    for (int l = 0; l < settings_.nSL; ++l) encodeLayer(Pass::First, l, _f, nullptr, _q, _original);
}

void GeometryEncoder::encodeBaseLayerGlobal(int _f, const std::vector<int>& _rf, double _q,
                                            const GeometryT<double>& _original) {
    requireStep(_q);
    requireShape(_original, context_);
    encodeLayer(Pass::BaseGlobal, 0, _f, &_rf, _q, _original);
}

void GeometryEncoder::encodeBaseLayerLocal(int _f, const std::vector<int>& _rf, double _q,
                                           const GeometryT<double>& _original) {
    requireStep(_q);
    requireShape(_original, context_);
    encodeLayer(Pass::BaseLocal, 0, _f, &_rf, _q, _original);
}

void GeometryEncoder::encodeEnhancementLayer(int _l, int _f, const std::vector<int>& _rf, double _q,
                                             const GeometryT<double>& _original) {
    requireStep(_q);
    requireShape(_original, context_);
    checkLayer(_l);
    encodeLayer(Pass::Enhancement, _l, _f, &_rf, _q, _original);
}

void GeometryEncoder::encodeEnhancementLayerGiven(int _l, int _f, const std::vector<int>& _rf, double _q,
                                                  const std::vector<int>& _residuals) {
    requireStep(_q);
    checkLayer(_l);
    const std::vector<int>& order = context_.allLayerVertexOrders[static_cast<size_t>(_l)];
    ORV_CHECK(_residuals.size()==3*order.size(), kModule);
    int* quant = context_.quantFrame(_f);
    for (size_t k = 0; k < order.size(); ++k)
        for (size_t c = 0; c < 3; ++c) quant[3 * static_cast<size_t>(order[k]) + c] = _residuals[3 * k + c];
    decodeEnhancementLayer(_l, _f, _rf, _q);
}

}  // namespace orv
