// Construction of the decoder context: all large arrays at full size (or one
// working frame for an encoder), zeroed.
#include "Encoder/DecoderContext.h"

#include "Common/Check.h"

namespace orv {

DecoderContext::DecoderContext(int V, int F, int nSL, Keep _keep)
    : GDec(V, F),
      GDetail(V, F),
      GQuant(V, _keep == Keep::AllFrames ? F : 1),
      GFrames(V, 3 * (_keep == Keep::AllFrames ? F : 1)),
      filterDec(static_cast<size_t>(F), std::vector<std::vector<double>>(static_cast<size_t>(nSL))),
      codedFrameOnly_(_keep == Keep::CodedFrameOnly) {}

int DecoderContext::slot(int _f) const {
    if (!codedFrameOnly_) return _f;
    ORV_CHECK(0<=_f && _f<GDec.F, "Encoder/DecoderContext");
    return 0;
}

uint64_t DecoderContext::bytesNeeded(uint64_t V, uint64_t F) {
    // GDec + GDetail (3 doubles each), GQuant (3 ints), GFrames (9 doubles).
    return V * F * (3 * 8 + 3 * 8 + 3 * 4 + 9 * 8);
}

}  // namespace orv
