// Decodes a stream for export with the public C API's streaming decoder: one
// frame at a time, in display order, seeking to the first frame of the
// range, so memory does not grow with the number of frames.
#include "Export/StreamFrameSource.h"

#include <string>

#include "Common/Check.h"
#include "orv/orv.h"

namespace orv {

namespace {

class DecodedFrames : public ExportFrameSource {
public:
    DecodedFrames(const std::vector<uint8_t>& _file, const std::string& _label, AnimationInfo _info,
                  const StreamSelection& _sel)
        : info_(std::move(_info)), label_(_label) {
        char err[512] = "";
        const int status = orv_decoder_create(_file.data(), _file.size(), info_.faces.data(), info_.faces.size() / 3,
                                              _sel.spatialLayers, _sel.temporalLayers, &decoder_, err, sizeof err);
        if (status != ORV_OK) throw Error(_label + ": " + err);
        try {
            start(_sel);
        } catch (...) {
            orv_decoder_destroy(decoder_);
            throw;
        }
    }

    void start(const StreamSelection& _sel) {
        const std::string& _label = label_;
        orv_stream_info si;
        if (orv_decoder_info(decoder_, &si) != ORV_OK) throw Error(_label + ": " + orv_decoder_error(decoder_));
        const int F = si.frame_count;
        const int last = _sel.lastFrame < 0 ? F - 1 : _sel.lastFrame;
        if (_sel.firstFrame < 0 || _sel.firstFrame > last || last >= F)
            throw Error("the frame range " + std::to_string(_sel.firstFrame) + "-" + std::to_string(last) +
                        " is outside the stream's frames 0-" + std::to_string(F - 1));
        info_.vertexCount = si.vertex_count;
        info_.firstFrame = _sel.firstFrame;
        info_.frameCount = last - _sel.firstFrame + 1;
        if (_sel.firstFrame > 0 && orv_decoder_seek(decoder_, _sel.firstFrame) != ORV_OK)
            throw Error(_label + ": " + orv_decoder_error(decoder_));
        next_ = _sel.firstFrame;
    }
    ~DecodedFrames() override { orv_decoder_destroy(decoder_); }
    DecodedFrames(const DecodedFrames&) = delete;
    DecodedFrames& operator=(const DecodedFrames&) = delete;

    const AnimationInfo& info() const override { return info_; }

    bool next(std::vector<double>& _positions) override {
        if (next_ > info_.firstFrame + info_.frameCount - 1) return false;
        _positions.resize(3 * static_cast<size_t>(info_.vertexCount));
        int32_t frame = -1;
        const int status = orv_decoder_read_frame(decoder_, &frame, _positions.data());
        if (status < 0) throw Error(label_ + ": " + orv_decoder_error(decoder_));
        if (status == 0) return false;
        if (frame != next_)
            throw Error(label_ + ": the decoder gave frame " + std::to_string(frame) + " where " +
                        std::to_string(next_) + " was due");
        ++next_;
        return true;
    }

private:
    AnimationInfo info_;
    std::string label_;
    orv_decoder* decoder_ = nullptr;
    int next_ = 0;
};

}  // namespace

std::unique_ptr<ExportFrameSource> openStreamFrames(std::vector<uint8_t> _streamFile, const std::string& _label,
                                                    AnimationInfo _info, const StreamSelection& _selection) {
    return std::make_unique<DecodedFrames>(_streamFile, _label, std::move(_info), _selection);
}

}  // namespace orv
