// GeometryEncoder: the encoding passes of the geometry coder. Each chooses
// GQuant at frame _f from the original positions, vertex by vertex, then
// reconstructs through the decoder's own per-vertex pass, so the context ends
// up exactly as the decoder will rebuild it. Lives with the encoder so that
// the decoder and the packetizer never link it.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "Encoder/GeometryCoder.h"
#include "Mesh/GeometryT.h"
#include "SequenceEncoder/Quantizer.h"

namespace orv {

class GeometryEncoder : public GeometryCoder {
public:
    using GeometryCoder::GeometryCoder;

    // _original has the same V and F as the context. Steps must be positive
    // and finite; a residual beyond 32 bits throws orv::Error.
    void encodeFirstFrame(int _f, double _q, const GeometryT<double>& _original);
    void encodeBaseLayerGlobal(int _f, const std::vector<int>& _rf, double _q, const GeometryT<double>& _original);
    void encodeBaseLayerLocal(int _f, const std::vector<int>& _rf, double _q, const GeometryT<double>& _original);
    // The layer's frames must have been computed (computeLayerFrames) and
    // its filter weights set.
    void encodeEnhancementLayer(int _l, int _f, const std::vector<int>& _rf, double _q,
                                const GeometryT<double>& _original);

    // The enhancement layer with residuals decided beforehand: _residuals
    // holds three per vertex in the layer's order (as a Quantizer handing
    // them out in turn would give them). They go to GQuant and the layer is
    // reconstructed by the decoder's pass, which is what the encoding pass
    // computes from them. The layer's frames must have been computed.
    void encodeEnhancementLayerGiven(int _l, int _f, const std::vector<int>& _rf, double _q,
                                     const std::vector<int>& _residuals);

    // Replaces round-to-nearest; an empty function restores it.
    void setQuantizer(Quantizer _quantizer) { quantizer_ = std::move(_quantizer); }

    // A dead zone decided inside the pass, without a call per residual:
    // each component becomes deadZoneRound(error, q, theta), but is rounded
    // to nearest when that leaves it farther than componentLimit from its
    // error; and when the three dead-zone errors of a vertex lie farther
    // than vertexLimit (Euclidean), the whole vertex is rounded to nearest.
    // Infinite limits guard nothing. A residual beyond 32 bits is refused as
    // with plain rounding (with a vertex limit, the rounded value is checked
    // first). An installed Quantizer takes precedence.
    struct DeadZone {
        double theta = 0.5;
        double componentLimit = INFINITY;
        double vertexLimit = INFINITY;
        bool zeroOnly = false;  // see deadZoneRound
    };
    void setDeadZone(const std::optional<DeadZone>& _deadZone) { deadZone_ = _deadZone; }
    // Whether every predictor term of layer _l lies in a lower layer: its
    // prediction errors then do not depend on its own residuals.
    bool predictsFromBelow(int _l) const;

private:
    struct ChosenResiduals;

    void encodeLayer(Pass _pass, int _l, int _f, const std::vector<int>* _rf, double _q,
                     const GeometryT<double>& _original);
    void encodeEnhancementWithAvx2(int _l, int _f, const std::vector<int>& _rf, double _q,
                                   const GeometryT<double>& _original);
    int32_t quantize(double _error, double _q, const ResidualSite& _site) const;
    // The coder's check on a chosen residual: finite, integral, 32 bits.
    int32_t accept(double _r, const ResidualSite& _site) const;
    void chooseDeadZone(const double _err[3], double _q, int _f, int _l, int _v, int* _R) const;

    Quantizer quantizer_;
    std::optional<DeadZone> deadZone_;
};

}  // namespace orv
