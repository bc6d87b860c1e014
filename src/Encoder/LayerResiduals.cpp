// The residual front end: moves one layer chunk (32-bit byte count, then the
// entropy-coded payload) between the bit stream and the context's GQuant. The
// three residual components of the layer's vertices travel as one list, in the
// layer's vertex order; a byte count of 0 stands for a layer of zeros.
#include <cstdio>
#include <string>

#include "Common/Check.h"
#include "Decoder/CabacVx3Decoder.h"
#include "Encoder/RedundancyMinCoder.h"

namespace orv {

namespace {
constexpr const char* kModule = "Encoder/RedundancyMinCoder";

}  // namespace

const std::vector<int>& RedundancyMinCoder::layerOrder(const DecoderContext& _context, int _l) {
    const int nLayers = static_cast<int>(_context.allLayerVertexOrders.size());
    if (!(0 <= _l && _l < nLayers)) checkFailed("0<=_l && _l<context_.allLayerVertexOrders.size()", kModule, __LINE__);
    return _context.allLayerVertexOrders[_l];
}

void RedundancyMinCoder::decodeLayerResiduals(int _l, int _f) {
    if (!(settings_.entrType == Settings::CABAC))
        throw Error("the stream uses entropy coder " + std::to_string(settings_.entrType) +
                    ", only CABAC (0) can be decoded (_settings.entrType == Settings::CABAC)");
    const std::vector<int>& _subSet = layerOrder(context_, _l);
    const size_t n = 3 * _subSet.size();

    const uint32_t count = buf_.getBits(32);
    if (static_cast<int64_t>(count) > buf_.bytesLeft()) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "corrupt stream: the chunk of layer %d of frame %d claims %u bytes, only %lld are left", _l, _f,
                      count, static_cast<long long>(buf_.bytesLeft()));
        throw Error(text);
    }

    int* quant = context_.quantFrame(_f);
    const int V = context_.GQuant.V;
    if (count == 0) {
        for (const int v : _subSet) {
            ORV_CHECK(0<=v && v<V, kModule);
            int* R = quant + 3 * static_cast<size_t>(v);
            R[0] = R[1] = R[2] = 0;
        }
        return;
    }
    // The payload is decoded where it lies in the stream buffer (the decoder
    // reads only the count bytes it is given); the decoded list is kept from
    // chunk to chunk.
    thread_local std::vector<int> _outdata;
    const uint8_t* const payload = buf_.viewBytes(count);
    if (_outdata.size() < n)
        _outdata.resize(n);
    CabacVx3Decoder::decodeValues(payload, count, n, _outdata.data());

    const int* out = _outdata.data();
    for (size_t i = 0; i < _subSet.size(); ++i) {
        const int v = _subSet[i];
        ORV_CHECK(0<=v && v<V, kModule);
        int* R = quant + 3 * static_cast<size_t>(v);
        R[0] = out[3 * i];
        R[1] = out[3 * i + 1];
        R[2] = out[3 * i + 2];
    }
}

}  // namespace orv
