// The decoder's run after the report block: layered decomposition, frame
// coding order, decoding of all frame records (streaming, keeping every
// frame's positions only), and writing the frames.
#pragma once

#include <string>

#include "Common/Types.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Encoder/Settings.h"
#include "Entropy/BitBuffer.h"

namespace orv {

// _buffer stands after the stream header. Returns the exit status (0, or -1
// when a frame file could not be written). Corrupt input throws orv::Error or
// orv::CheckFailure before any frame file is written.
int decodeAndWriteFrames(const std::string& _orvPath, const FaceList& _faces, BitBuffer& _buffer,
                         const Settings& _settings, const StreamHeader& _header, int _nSLdec, int _nTLdec);

}  // namespace orv
