// The frames an exporter writes, one at a time, from whatever decodes them.
// Exporters see only this interface, so they can be tested on positions a
// test makes and stay independent of how the stream is decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv {

struct AnimationInfo {
    int32_t vertexCount = 0;
    int32_t frameCount = 0;             // frames this source delivers
    int32_t firstFrame = 0;             // the stream's number of the first one
    double frameRate = 25.0;
    double startTime = 0.0;             // seconds of the stream's frame 0
    std::string name;
    std::vector<int32_t> faces;         // 3 per face
    std::vector<double> texCoords;      // u, v pairs (may be empty)
    std::vector<int32_t> texFaces;      // 3 per face, or empty
};

class ExportFrameSource {
public:
    virtual ~ExportFrameSource() = default;
    virtual const AnimationInfo& info() const = 0;
    // The next frame's 3V positions; false after the last. Throws orv::Error.
    virtual bool next(std::vector<double>& _positions) = 0;
};

// Frames held in memory (tests, and sources that have them anyway).
class MemoryFrameSource : public ExportFrameSource {
public:
    MemoryFrameSource(AnimationInfo _info, std::vector<std::vector<double>> _frames)
        : info_(std::move(_info)), frames_(std::move(_frames)) {
        info_.frameCount = static_cast<int32_t>(frames_.size());
    }
    const AnimationInfo& info() const override { return info_; }
    bool next(std::vector<double>& _positions) override {
        if (next_ >= frames_.size()) return false;
        _positions = frames_[next_++];
        return true;
    }

private:
    AnimationInfo info_;
    std::vector<std::vector<double>> frames_;
    size_t next_ = 0;
};

}  // namespace orv
