// The frame decoding loop: reads the F frame records in stream order and
// reconstructs every layer of every frame, decoded or predicted according to
// the requested layer counts.
#pragma once

#include "Common/StreamRules.h"
#include "Encoder/DecoderContext.h"
#include "Encoder/Settings.h"
#include "Entropy/BitBuffer.h"

namespace orv {

// Which layers are decoded: the rule the packetizer cuts by (Common/StreamRules.h).
using stream_rules::isLayerDecoded;

// _buffer stands just after the stream header. Prints "  Decoding frame %d\r"
// per record after the first when _showProgress is set. A corrupt stream
// throws orv::Error or orv::CheckFailure.
void decodeAllFrames(BitBuffer& _buffer, DecoderContext& _context, const Settings& _settings, int _nSLdec,
                     int _nTLdec, bool _showProgress = true);

}  // namespace orv
