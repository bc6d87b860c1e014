// The encoding half of the residual front end: one layer's residuals from the
// context's GQuant into a layer chunk (32-bit byte count, then the entropy-coded
// payload), the exact inverse of decodeLayerResiduals. Kept out of the coding
// core so that the decoder and the packetizer never link the entropy encoder.
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Encoder/RedundancyMinCoder.h"
#include "SequenceEncoder/CabacVx3Encoder.h"

namespace orv {

namespace {
constexpr const char* kModule = "Encoder/RedundancyMinCoder";
}  // namespace

void RedundancyMinCoder::encodeLayerResiduals(int _l, int _f) {
    const std::vector<int>& _subSet = layerOrder(context_, _l);
    std::vector<int> values(3 * _subSet.size());
    const int* quant = context_.quantFrame(_f);
    const int V = context_.GQuant.V;
    int any = 0;  // OR of all residuals
    for (size_t i = 0; i < _subSet.size(); ++i) {
        const int v = _subSet[i];
        ORV_CHECK(0<=v && v<V, kModule);
        const int* R = quant + 3 * static_cast<size_t>(v);
        for (int c = 0; c < 3; ++c) {
            values[3 * i + c] = R[c];
            any |= R[c];
        }
    }
    // An all-zero (or empty) layer costs only its byte count: the decoder
    // reads a count of 0 as a layer of zeros.
    if (any == 0) {
        buf_.putBits(0, 32);
        return;
    }
    const std::vector<uint8_t> payload = CabacVx3Encoder::encodeValues(values);
    if (payload.size() > 0xffffffffull) throw Error("layer chunk too large for its 32-bit byte count");
    buf_.putBits(static_cast<uint32_t>(payload.size()), 32);
    buf_.putBytes(payload.data(), static_cast<int64_t>(payload.size()));
}

}  // namespace orv
