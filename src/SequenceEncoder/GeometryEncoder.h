// GeometryEncoder: the encoding passes of the geometry coder. Each chooses
// GQuant at frame _f from the original positions, vertex by vertex, then
// reconstructs through the decoder's own per-vertex pass, so the context ends
// up exactly as the decoder will rebuild it. Lives with the encoder so that
// the decoder and the packetizer never link it.
#pragma once

#include <cstdint>
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

    // Replaces round-to-nearest; an empty function restores it.
    void setQuantizer(Quantizer _quantizer) { quantizer_ = std::move(_quantizer); }

private:
    struct ChosenResiduals;

    void encodeLayer(Pass _pass, int _l, int _f, const std::vector<int>* _rf, double _q,
                     const GeometryT<double>& _original);
    void encodeEnhancementWithAvx2(int _l, int _f, const std::vector<int>& _rf, double _q,
                                   const GeometryT<double>& _original);
    int32_t quantize(double _error, double _q, const ResidualSite& _site) const;

    Quantizer quantizer_;
};

}  // namespace orv
