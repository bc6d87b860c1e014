// The format chosen by the output name, the point-cache writers (thin
// adapters on PointCache/) and the loop that feeds a writer.
#include "Export/FrameWriter.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "Common/Check.h"
#include "Export/GlbWriter.h"
#include "Export/ObjFramesWriter.h"
#include "PointCache/PointCache.h"

namespace orv {

namespace {

class CacheFrameWriter : public FrameWriter {
public:
    CacheFrameWriter(PointCacheWriter::Kind _kind, std::string _path) : kind_(_kind), path_(std::move(_path)) {}
    void begin(const AnimationInfo& _info) override {
        PointCacheHeader h;
        h.pointCount = _info.vertexCount;
        h.frameCount = _info.frameCount;
        h.frameRate = _info.frameRate;
        h.startFrame = _info.firstFrame;
        h.sampleRate = 1.0;
        h.startTime = _info.startTime + _info.firstFrame / _info.frameRate;
        writer_.emplace(kind_, path_, h);
    }
    void frame(int, const double* _positions) override { writer_->frame(_positions); }
    void finish() override { writer_->finish(); }

private:
    PointCacheWriter::Kind kind_;
    std::string path_;
    std::optional<PointCacheWriter> writer_;
};

}  // namespace

ExportFormat exportFormatFor(const std::string& _path) {
    std::string ext = std::filesystem::path(_path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".glb") return ExportFormat::Glb;
    if (ext == ".pc2") return ExportFormat::Pc2;
    if (ext == ".mdd") return ExportFormat::Mdd;
    if (ext == ".gltf") throw Error(_path + ": only binary glTF (.glb) is written");
    if (ext == ".obj") throw Error(_path + ": OBJ frames go into a folder; name the folder, not a file");
    return ExportFormat::ObjFrames;
}

std::unique_ptr<FrameWriter> makeFrameWriter(ExportFormat _format, const std::string& _path,
                                             const ExportSettings& _settings) {
    switch (_format) {
        case ExportFormat::Glb: return std::make_unique<GlbWriter>(_path, _settings.quantize);
        case ExportFormat::Pc2: return std::make_unique<CacheFrameWriter>(PointCacheWriter::Kind::Pc2, _path);
        case ExportFormat::Mdd: return std::make_unique<CacheFrameWriter>(PointCacheWriter::Kind::Mdd, _path);
        case ExportFormat::ObjFrames: return std::make_unique<ObjFramesWriter>(_path, _settings.digits);
    }
    throw Error("unknown export format");
}

void exportFrames(ExportFrameSource& _source, FrameWriter& _writer) {
    const AnimationInfo& info = _source.info();
    _writer.begin(info);
    std::vector<double> positions;
    int n = 0;
    while (n < info.frameCount && _source.next(positions)) {
        ORV_CHECK(positions.size() == 3 * static_cast<size_t>(info.vertexCount), "Export");
        _writer.frame(n++, positions.data());
    }
    if (n != info.frameCount) throw Error("the stream ended after " + std::to_string(n) + " frames");
    _writer.finish();
}

}  // namespace orv
