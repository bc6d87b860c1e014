// Point caches, the vertex-animation files of 3D tools: PC2 (little-endian,
// a 32-byte header, float32 x y z per point per sample) and MDD (big-endian,
// frame and point counts, a float32 time per frame, float32 x y z per point
// per frame; Blender writes one rest block before the frames). Headers are
// written up front, frames one by one; readers check the sizes against the
// file before anything is allocated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Common/AtomicFile.h"

namespace orv {

struct PointCacheHeader {
    int32_t pointCount = 0;
    int32_t frameCount = 0;
    double frameRate = 0.0;   // 0 when the file does not say (PC2)
    double startTime = 0.0;   // seconds (MDD: the first time; PC2: start frame / rate when known)
    double startFrame = 0.0;  // PC2's start frame
    double sampleRate = 1.0;  // PC2's frames per sample
    bool restBlock = false;   // MDD: a rest block precedes the frames
};

// A whole cache read into memory as doubles, 3 * pointCount per frame.
struct PointCache {
    PointCacheHeader header;
    std::vector<std::vector<double>> frames;
};

// Throw orv::Error "<path>: <reason>" for unreadable or malformed files.
PointCache readPc2(const std::string& _path);
PointCache readMdd(const std::string& _path);

// Streaming writers: the header at construction, then exactly frameCount frames.
class PointCacheWriter {
public:
    enum class Kind { Pc2, Mdd };
    PointCacheWriter(Kind _kind, const std::string& _path, const PointCacheHeader& _header);
    PointCacheWriter(const PointCacheWriter&) = delete;
    PointCacheWriter& operator=(const PointCacheWriter&) = delete;
    void frame(const double* _positions);
    // Checks the frame count and renames the file into place.
    void finish();

private:
    Kind kind_;
    PointCacheHeader header_;
    AtomicFile file_;  // nothing appears under the final name before finish()
    int32_t written_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace orv
