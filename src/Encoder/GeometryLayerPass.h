// The per-vertex layer pass of GeometryCoder, as a template over where the
// residuals come from: the core instantiates it for decoding (GQuant as read)
// and the encoder for encoding (residuals chosen from the original first), so
// both reconstruct through the same expressions. Include it only where a pass
// is instantiated: GeometryCoder.cpp and the encoder's GeometryEncoder.cpp.
#pragma once

#include <algorithm>

#include "Common/Check.h"
#include "Encoder/GeometryCoder.h"
#include "Encoder/GeometryKernels.h"
#include "Encoder/GeometryMath.h"

namespace orv {

// A check whose reported text is given verbatim (the natural C++ spelling of
// some conditions would compare signed with unsigned).
#define ORV_GEOMETRY_CHECK_TEXT(cond, text)                            \
    do {                                                               \
        if (!(cond)) [[unlikely]]                                      \
            ::orv::checkFailed(text, GeometryCoder::kModule, __LINE__); \
    } while (0)

// Instantiated per pass and residual source, so every test on them is
// resolved at compile time and the loop carries no dead branches.
template <GeometryCoder::Pass P, bool ParkedPrediction, class Residuals>
void GeometryCoder::codeLayerT(Residuals& _residuals, int _l, int _f, const std::vector<int>* _rf, double _q,
                               size_t _kBegin, size_t _kEnd) {
    using namespace geometry_math;
    const int nLayers = static_cast<int>(context_.allLayerPredictors.size());
    ORV_GEOMETRY_CHECK_TEXT(0 <= _l && _l < nLayers, "0<=_l && _l<context_.allLayerPredictors.size()");
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

    // Reference details and their weights, resolved once per layer.
    const double* refDetail[2] = {nullptr, nullptr};
    double refWeight[2] = {0.0, 0.0};
    size_t nRef = 0;
    if constexpr (P != Pass::First) {
        ORV_GEOMETRY_CHECK_TEXT(_rf->size() <= 2, "_rf.size()<=2");
        nRef = _rf->size();
        if constexpr (P == Pass::Enhancement) {
            ORV_GEOMETRY_CHECK_TEXT(_rf->size() == context_.filterDec[_f][_l].size(),
                                    "_rf.size() == context_.filterDec[_f][_l].size()");
        }
        for (size_t j = 0; j < nRef; ++j) {
            refDetail[j] = context_.detailFrame((*_rf)[j]);
            if constexpr (P == Pass::Enhancement) refWeight[j] = context_.filterDec[_f][_l][j];
        }
    }
    const double count = static_cast<double>(nRef);
    const bool addResidual = P == Pass::First || _q > 0.0;
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
                double sums[9];
                geometry_kernels::sumVertexAvx2(ids, ft.weight.data() + ft.begin[k], m, ringTrig(m), dec, sums);
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
        if constexpr (Residuals::kChooses) _residuals.choose(_f, _l, v, S, local, axes, tp, _q, R);

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

// Forgetting the parked predictions on every other pass keeps a later
// enhancement pass from using sums of positions that have changed since.
inline bool GeometryCoder::takeParked(Pass _pass, int _l, int _f) {
    if (_pass == Pass::Enhancement && _l == parkedLayer_ && _f == parkedFrame_) return true;
    forgetParked();
    return false;
}

}  // namespace orv
