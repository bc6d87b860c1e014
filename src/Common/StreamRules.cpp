// The checks of StreamRules.h that throw, each with its one message.
#include "Common/StreamRules.h"

#include <cstdio>
#include <string>

#include "Common/Check.h"

namespace orv::stream_rules {

void requireFrameInStream(int _frame, int _F, int _recordFrame, const char* _what) {
    if (_frame >= 0 && _frame < _F) return;
    char text[200];
    if (_recordFrame < 0)
        std::snprintf(text, sizeof text, "corrupt stream: frame record for frame %d, the stream has frames 0..%d",
                      _frame, _F - 1);
    else
        std::snprintf(text, sizeof text, "corrupt stream: frame %d %s frame %d, the stream has frames 0..%d",
                      _recordFrame, _what, _frame, _F - 1);
    throw Error(text);
}

void requireTemporalLayersInStream(int _nTL) {
    if (temporalLayersValid(_nTL)) return;
    throw Error("the stream header gives " + std::to_string(_nTL) + " temporal layers; a stream holds 1 to " +
                std::to_string(kMaxTemporalLayers));
}

}  // namespace orv::stream_rules
