// GeometryCoder: the layering checked and flattened for the passes, and the
// decoding passes. The per-vertex pass is in GeometryLayerPass.h, the frame
// sweeps in GeometryLayerFrames.cpp, the choice of SIMD path in
// GeometrySimd.cpp; the encoding passes live with the encoder.
#include "Encoder/GeometryCoder.h"

#include <algorithm>

#include "Common/Check.h"
#include "Encoder/GeometryLayerPass.h"
#include "Encoder/RingTrig.h"

namespace orv {

using namespace geometry_math;

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
    // Not std::cos/std::sin: libms differ in the last bit, and these values
    // enter every decoded position.
    for (size_t i = 0; i < _m; ++i) {
        double c, s;
        ringCosSin(_m, i, c, s);
        trig_.push_back(c);
        trig_.push_back(s);
    }
}

// Tables exist for every term count of the layering seen at construction.
const double* GeometryCoder::ringTrig(size_t m) const {
    ORV_CHECK(m<trigAt_.size() && trigAt_[m]!=~size_t{0}, kModule);
    return trig_.data() + trigAt_[m];
}

geometry_kernels::LayerTerms GeometryCoder::visitTerms(int _l) const {
    const FlatTerms& ft = flat_[_l];
    return {ft.visitBegin.data(), ft.visitId.data(), ft.visitWeight.data(), trig_.data(), trigAt_.data(),
            ft.byVertex.size()};
}

void GeometryCoder::checkLayer(int _l) const {
    const int nLayers = static_cast<int>(context_.allLayerVertexOrders.size());
    ORV_GEOMETRY_CHECK_TEXT(1 <= _l && _l < nLayers, "1<=_l && _l<context_.allLayerVertexOrders.size()");
}

Vector3d GeometryCoder::spatialPrediction(int _l, int _k, int _f) const {
    const int nLayers = static_cast<int>(context_.allLayerPredictors.size());
    ORV_GEOMETRY_CHECK_TEXT(0 <= _l && _l < nLayers, "0<=_l && _l<context_.allLayerPredictors.size()");
    const int nK = static_cast<int>(context_.allLayerPredictors[_l].size());
    ORV_GEOMETRY_CHECK_TEXT(0 <= _k && _k < nK, "0<=_k && _k<context_.allLayerPredictors[_l].size()");
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
    ORV_GEOMETRY_CHECK_TEXT(0 <= _l && _l < nLayers, "0<=_l && _l<context_.allLayerPredictors.size()");
    const int nK = static_cast<int>(context_.allLayerPredictors[_l].size());
    ORV_GEOMETRY_CHECK_TEXT(0 <= _k && _k < nK, "0<=_k && _k<context_.allLayerPredictors[_l].size()");
    const Predictor& predictor = context_.allLayerPredictors[_l][_k];
    ORV_CHECK(!predictor.empty(), kModule);
    std::vector<int32_t> ids;
    for (const PredictorTerm& t : predictor) ids.push_back(t.first);
    return frameFromTerms(ids.data(), ids.size(), context_.decFrame(_f));
}

LocalFrame GeometryCoder::frameFromTerms(const int32_t* _ids, size_t _m, const double* _positions) const {
    Vector3d t1, t2;
    accumulateAxes(_ids, _m, ringTrig(_m), _positions, t1, t2);
    return finishFrame(t1, t2);
}

void GeometryCoder::codeLayer(Pass _pass, int _l, int _f, const std::vector<int>* _rf, double _q) {
    StoredResiduals stored;
    // Predictions parked by computeLayerFrames hold while only the layer
    // itself is coded (its terms are lower-layer vertices).
    if (takeParked(_pass, _l, _f)) return codeLayerT<Pass::Enhancement, true>(stored, _l, _f, _rf, _q);
    switch (_pass) {
        case Pass::First: return codeLayerT<Pass::First, false>(stored, _l, _f, _rf, _q);
        case Pass::BaseGlobal: return codeLayerT<Pass::BaseGlobal, false>(stored, _l, _f, _rf, _q);
        case Pass::BaseLocal: return codeLayerT<Pass::BaseLocal, false>(stored, _l, _f, _rf, _q);
        case Pass::Enhancement: return codeLayerT<Pass::Enhancement, false>(stored, _l, _f, _rf, _q);
    }
}

void GeometryCoder::decodeFirstFrame(int _f, double _q) {
    for (int l = 0; l < settings_.nSL; ++l) codeLayer(Pass::First, l, _f, nullptr, _q);
}

void GeometryCoder::decodeBaseLayerGlobal(int _f, const std::vector<int>& _rf, double _q) {
    codeLayer(Pass::BaseGlobal, 0, _f, &_rf, _q);
}

void GeometryCoder::decodeBaseLayerLocal(int _f, const std::vector<int>& _rf, double _q) {
    codeLayer(Pass::BaseLocal, 0, _f, &_rf, _q);
}

void GeometryCoder::decodeEnhancementLayer(int _l, int _f, const std::vector<int>& _rf, double _q) {
    checkLayer(_l);
    codeLayer(Pass::Enhancement, _l, _f, &_rf, _q);
}

void GeometryCoder::decodeEnhancementLayerWithFrames(int _l, int _f, const std::vector<int>& _rf, double _q) {
    checkLayer(_l);
    forgetParked();
    StoredResiduals stored;
    // A term naming a vertex of the layer itself (which the layering never
    // makes) reads it as reconstructed so far: one vertex after the other.
    if (!flat_[_l].fromBelow) {
        layerFrameSums<false>(_l, _f);
        codeLayerT<Pass::Enhancement, false>(stored, _l, _f, &_rf, _q);
        return;
    }
    if (geometrySimd() && !context_.allLayerVertexOrders[_l].empty()) {
        reconstructEnhancementAvx2(_l, _f, _rf, _q);
        return;
    }
    layerFrameSums<true>(_l, _f);
    codeLayerT<Pass::Enhancement, true>(stored, _l, _f, &_rf, _q);
}

}  // namespace orv
