// EncoderChoices: the choices OrvEnc offers (effort, layer counts, precision
// or explicit steps) turned into the encoder's rate-distortion options, for
// every front end (the program's command line and the public API) alike.
#pragma once

#include "SequenceEncoder/RateDistortionOptions.h"

namespace orv {

struct EncoderChoices {
    int effort = 1;
    bool explicitSteps = false;       // steps given outright: plain rounding
    bool spatialLayersGiven = false;  // the caller's nSL replaces the effort's
    bool chooseReferences = true;     // off: the hierarchy's references only
    // Layout switches the caller set, which the effort's trials leave alone.
    bool temporalLayersGiven = false;  // nTL or refFirstFrame
    bool baseLayerPredGiven = false;
    // A precision per role (first frame, base layer, enhancement layers) in
    // bits of the bounding-box diagonal; apart when they may differ.
    bool precisionApart = false;
    int precisionBits[3] = {12, 12, 12};
};

// The effort the encoder really runs: explicit steps mean plain rounding.
int effectiveEffort(const EncoderChoices& _c);

// The effort's options, the step ratios of separate precisions, and a given
// layer count in place of the effort's own. Separate precisions fix the steps,
// so the effort's trials (which choose step ratios) are then left out.
RdOptions rdOptionsFor(const EncoderChoices& _c);

}  // namespace orv
