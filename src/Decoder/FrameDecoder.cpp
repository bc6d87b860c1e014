// The frame decoding loop: one pass over the F frame records in stream order.
// For every record and spatial layer the chunk is read first (the stream can
// only be parsed front to back, so chunks of layers that are not decoded are
// read too) and the layer is then reconstructed, from its residuals when the
// layer is decoded and from prediction alone when it is not.
#include "Decoder/FrameDecoder.h"

#include <cstdio>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Common/StreamRules.h"
#include "Encoder/GeometryCoder.h"
#include "Encoder/RedundancyMinCoder.h"

namespace orv {

void decodeAllFrames(BitBuffer& _buffer, DecoderContext& _context, const Settings& _settings, int _nSLdec,
                     int _nTLdec, bool _showProgress) {
    const int F = _context.frameCount();
    const int nSL = _settings.nSL;
    if (static_cast<size_t>(nSL) != _context.allLayerVertexOrders.size() || nSL < 1)
        throw Error("the layered decomposition has " + std::to_string(_context.allLayerVertexOrders.size()) +
                    " spatial layers, the stream " + std::to_string(nSL));

    GeometryCoder coder(_settings, _context);
    RedundancyMinCoder residuals(_buffer, _settings, _context);
    std::vector<int> _rf;

    // First record: every layer decoded with qStep[0]; its temporal layer and
    // references are not used.
    {
        const FrameHeader h = RedundancyMinCoder::readFrameHeader(_buffer, _rf);
        const int f = h.frame;
        stream_rules::requireFrameInStream(f, F);
        for (int l = 0; l < nSL; ++l) residuals.decodeLayerResiduals(l, f);
        coder.decodeFirstFrame(f, _context.qStep[0]);
    }

    for (int record = 1; record < F; ++record) {
        const FrameHeader h = RedundancyMinCoder::readFrameHeader(_buffer, _rf);
        const int tl = h.temporalLayer;
        const int f = h.frame;
        stream_rules::requireFrameInStream(f, F);
        for (int r : _rf) stream_rules::requireFrameInStream(r, F, f, "references");
        if (_showProgress) {
            std::printf("  Decoding frame %d\r", f);
            std::fflush(stdout);
        }
        for (int l = 0; l < nSL; ++l) {
            residuals.decodeLayerResiduals(l, f);
            const bool decoded = isLayerDecoded(tl, l, _nSLdec, _nTLdec);
            const double step = decoded ? (l == 0 ? _context.qStep[1] : _context.qStep[2]) : -1.0;
            if (l == 0) {
                if (_settings.baseLayerPred == 0)
                    coder.decodeBaseLayerGlobal(f, _rf, step);
                else
                    coder.decodeBaseLayerLocal(f, _rf, step);
                continue;
            }
            if (!_rf.empty() && _settings.enhLayerPred == 0)
                _context.filterDec[f][l].assign(_rf.size(), 1.0 / static_cast<double>(_rf.size()));
            // Without weights for its references the layer cannot be predicted;
            // the format carries none, so such a stream is refused by name.
            if (!_context.allLayerVertexOrders[l].empty() && _rf.size() != _context.filterDec[f][l].size()) {
                char text[300];
                std::snprintf(text, sizeof text,
                              "cannot decode frame %d: layer %d has %zu reference frames but %zu temporal filter "
                              "weights (enhLayerPred %d; _rf.size() == context_.filterDec[_f][_l].size())",
                              f, l, _rf.size(), _context.filterDec[f][l].size(), _settings.enhLayerPred);
                throw Error(text);
            }
            // The layer's local frames, then its vertices.
            coder.decodeEnhancementLayerWithFrames(l, f, _rf, step);
        }
    }
}

}  // namespace orv
