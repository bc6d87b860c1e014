// The choices-to-options mapping shared by OrvEnc and the public API.
#include "SequenceEncoder/EncoderChoices.h"

#include <cmath>

namespace orv {

int effectiveEffort(const EncoderChoices& _c) { return _c.explicitSteps ? 0 : _c.effort; }

RdOptions rdOptionsFor(const EncoderChoices& _c) {
    RdOptions rd = RdOptions::forEffort(effectiveEffort(_c));
    if (_c.spatialLayersGiven) rd.spatialLayers = 0;
    if (!_c.chooseReferences) rd.chooseReferences = false;
    rd.fixedSpatial = _c.spatialLayersGiven;
    rd.fixedTemporal = _c.temporalLayersGiven;
    rd.fixedBasePred = _c.baseLayerPredGiven;
    // Powers of two, so the steps are exactly diagonal / 2^B0 and / 2^B1.
    if (_c.precisionApart) {
        rd.firstFrameRatio = std::ldexp(1.0, _c.precisionBits[2] - _c.precisionBits[0]);
        rd.baseLayerRatio = std::ldexp(1.0, _c.precisionBits[2] - _c.precisionBits[1]);
        rd.trialLevel = 0;
    }
    return rd;
}

}  // namespace orv
