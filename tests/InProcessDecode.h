// The whole decoder run in process on a stream file (4-byte length, then the
// bit stream) and its faces: every layer, every frame, for tests that compare
// an encoder's reconstruction with what a decoder makes of its stream.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Common/Types.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Entropy/BitBuffer.h"
#include "Mesh/GeometryT.h"

namespace orvtest {

// _bytesLeft, when given, receives what the decoder left unread (0 for a
// stream without trailing bytes).
inline orv::GeometryT<double> decodeStreamFile(const std::vector<uint8_t>& _file, const orv::FaceList& _faces,
                                               int64_t* _bytesLeft = nullptr) {
    using namespace orv;
    BitBuffer buffer(std::vector<uint8_t>(_file.begin() + 4, _file.end()));
    Settings settings;
    std::unique_ptr<DecoderContext> context = RedundancyMinCoder::readStreamHeader(buffer, settings);
    LODConnectivity lod(settings.nSL, _faces, context->GDec.V);
    context->allLayerVertexOrders = lod.vertexOrder_;
    context->allLayerPredictors = lod.vertexPredictor_;
    decodeAllFrames(buffer, *context, settings, settings.nSL, settings.nTL, false);
    if (_bytesLeft) *_bytesLeft = buffer.bytesLeft();
    return context->GDec;
}

}  // namespace orvtest
