// The frame decoding loop: reads the F frame records in stream order and
// reconstructs every layer of every frame, decoded or predicted according to
// the requested layer counts.
#pragma once

#include "Encoder/DecoderContext.h"
#include "Encoder/Settings.h"
#include "Entropy/BitBuffer.h"

namespace orv {

// A layer l of a frame of temporal layer tl is decoded when tl == 0, or when
// tl < nTLdec and l < nSLdec; the packetizer keeps chunks by the same rule.
inline bool isLayerDecoded(int _tl, int _l, int _nSLdec, int _nTLdec) {
    return _tl == 0 || (_tl < _nTLdec && _l < _nSLdec);
}

// _buffer stands just after the stream header. Prints "  Decoding frame %d\r"
// per record after the first when _showProgress is set. A corrupt stream
// throws orv::Error or orv::CheckFailure.
void decodeAllFrames(BitBuffer& _buffer, DecoderContext& _context, const Settings& _settings, int _nSLdec,
                     int _nTLdec, bool _showProgress = true);

}  // namespace orv
