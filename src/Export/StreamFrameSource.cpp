// Decodes a stream for export with the library's frame decoding loop: the
// whole stream is decoded at open, then frames are handed out one by one.
#include "Export/StreamFrameSource.h"

#include "Common/Check.h"
#include "Connectivity/ConnectivityCodec.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Encoder/DecoderContext.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Entropy/BitBuffer.h"

namespace orv {

namespace {

class DecodedFrames : public ExportFrameSource {
public:
    DecodedFrames(std::vector<uint8_t> _file, const std::string& _label, AnimationInfo _info, const StreamSelection& _sel)
        : info_(std::move(_info)) {
        if (_file.size() < 4) throw Error(_label + ": not a stream file");
        std::vector<uint8_t> bits(_file.begin() + 4, _file.end());
        BitBuffer buffer(std::move(bits));
        Settings settings;
        try {
            context_ = RedundancyMinCoder::readStreamHeader(buffer, settings);
        } catch (const std::exception& e) {
            throw Error(_label + ": " + e.what());
        }
        const int V = context_->GDec.V, F = context_->GDec.F;
        const FaceList faces = toFaceList(info_.faces);
        checkFaceIndices(faces, V, _label);
        if (settings.nTL < 1 || settings.nTL > 31) throw Error(_label + ": the stream header's temporal layer count is not 1 to 31");
        const int last = _sel.lastFrame < 0 ? F - 1 : _sel.lastFrame;
        if (_sel.firstFrame < 0 || _sel.firstFrame > last || last >= F)
            throw Error("the frame range " + std::to_string(_sel.firstFrame) + "-" + std::to_string(last) +
                        " is outside the stream's frames 0-" + std::to_string(F - 1));
        info_.vertexCount = V;
        info_.firstFrame = _sel.firstFrame;
        info_.frameCount = last - _sel.firstFrame + 1;
        next_ = _sel.firstFrame;
        try {
            {
                LODConnectivity lod(settings.nSL, faces, V);
                context_->allLayerVertexOrders = lod.vertexOrder_;
                context_->allLayerPredictors = lod.vertexPredictor_;
            }
            generateFrameCodingOrder(context_->codingOrder, context_->codingRefs, context_->codingLayers, F,
                                     settings.nTL, settings.refFirstFrame != 0, settings.refFirstFrame ? 0 : -1);
            const int nsl = _sel.spatialLayers > 0 ? _sel.spatialLayers : settings.nSL;
            const int ntl = _sel.temporalLayers > 0 ? _sel.temporalLayers : settings.nTL;
            decodeAllFrames(buffer, *context_, settings, nsl, ntl, false);
        } catch (const Error&) {
            throw;
        } catch (const std::exception& e) {
            throw Error(_label + ": " + e.what());
        }
    }

    const AnimationInfo& info() const override { return info_; }

    bool next(std::vector<double>& _positions) override {
        if (next_ > info_.firstFrame + info_.frameCount - 1) return false;
        const double* p = context_->GDec.frame(next_++);
        _positions.assign(p, p + 3 * static_cast<size_t>(info_.vertexCount));
        return true;
    }

private:
    AnimationInfo info_;
    std::unique_ptr<DecoderContext> context_;
    int next_ = 0;
};

}  // namespace

std::unique_ptr<ExportFrameSource> openStreamFrames(std::vector<uint8_t> _streamFile, const std::string& _label,
                                                    AnimationInfo _info, const StreamSelection& _selection) {
    return std::make_unique<DecodedFrames>(std::move(_streamFile), _label, std::move(_info), _selection);
}

}  // namespace orv
