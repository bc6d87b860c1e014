// The exporters: one writer per output format, fed frame by frame. All but
// the glb writer write each frame as it comes, so their memory does not grow
// with the number of frames; glb needs every frame before its first byte.
#pragma once

#include <memory>
#include <string>

#include "Export/FrameSource.h"

namespace orv {

struct ExportSettings {
    int digits = 9;             // OBJ frames: significant digits (1..17; 17 round-trips doubles)
    bool quantize = false;      // glb: KHR_mesh_quantization (16-bit positions and targets)
};

class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    virtual void begin(const AnimationInfo& _info) = 0;
    // Frame _index (0-based among the frames written) with 3V positions.
    virtual void frame(int _index, const double* _positions) = 0;
    virtual void finish() = 0;
};

enum class ExportFormat { Glb, Pc2, Mdd, ObjFrames };

// The format an output path names: .glb, .pc2, .mdd, otherwise a folder of
// OBJ frames. Throws orv::Error for .gltf and .obj (a file, not a folder).
ExportFormat exportFormatFor(const std::string& _path);

std::unique_ptr<FrameWriter> makeFrameWriter(ExportFormat _format, const std::string& _path,
                                             const ExportSettings& _settings);

// Reads every frame of _source into _writer.
void exportFrames(ExportFrameSource& _source, FrameWriter& _writer);

}  // namespace orv
