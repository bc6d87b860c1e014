// The frames of a stream, decoded for export: from a package, or from a
// stream file and its connectivity, with the layers and the frame range the
// user asked for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Export/FrameSource.h"

namespace orv {

struct StreamSelection {
    int spatialLayers = 0;   // 0: all
    int temporalLayers = 0;  // 0: all
    int firstFrame = 0;
    int lastFrame = -1;      // -1: the stream's last
};

// _streamFile: the whole stream file (length field and bit stream); _label
// names it in messages. _info gives the faces, the metadata and the frame
// rate; its counts are filled in from the stream. Throws orv::Error.
std::unique_ptr<ExportFrameSource> openStreamFrames(std::vector<uint8_t> _streamFile, const std::string& _label,
                                                    AnimationInfo _info, const StreamSelection& _selection);

}  // namespace orv
