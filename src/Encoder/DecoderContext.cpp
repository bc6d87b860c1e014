// Construction of the decoder context: all large arrays at full size, zeroed.
#include "Encoder/DecoderContext.h"

namespace orv {

DecoderContext::DecoderContext(int V, int F, int nSL)
    : GDec(V, F),
      GDetail(V, F),
      GQuant(V, F),
      GFrames(V, 3 * F),
      filterDec(static_cast<size_t>(F), std::vector<std::vector<double>>(static_cast<size_t>(nSL))) {}

uint64_t DecoderContext::bytesNeeded(uint64_t V, uint64_t F) {
    // GDec + GDetail (3 doubles each), GQuant (3 ints), GFrames (9 doubles).
    return V * F * (3 * 8 + 3 * 8 + 3 * 4 + 9 * 8);
}

}  // namespace orv
