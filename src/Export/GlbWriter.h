// Binary glTF 2.0: one mesh whose base is the first frame and which has one
// morph target per later frame (its offsets from the first), animated by a
// STEP weights animation at the frame rate, the idiom three.js and Blender
// play. Every frame is kept until finish(), so memory grows with the frames.
// With quantization the positions and offsets are 16-bit integers under a
// node scale and translation (KHR_mesh_quantization). Texture coordinates
// become TEXCOORD_0. The file goes through an AtomicFile opened in begin(),
// so an unwritable target fails before the frames are decoded.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Common/AtomicFile.h"
#include "Export/FrameWriter.h"

namespace orv {

class GlbWriter : public FrameWriter {
public:
    GlbWriter(std::string _path, bool _quantize) : path_(std::move(_path)), quantize_(_quantize) {}
    void begin(const AnimationInfo& _info) override;
    void frame(int _index, const double* _positions) override;
    void finish() override;

private:
    std::string path_;
    bool quantize_;
    const AnimationInfo* info_ = nullptr;
    std::vector<std::vector<float>> frames_;
    std::vector<std::vector<double>> exact_;  // kept only for quantization (its bounds need every frame)
    std::optional<AtomicFile> file_;
};

}  // namespace orv
