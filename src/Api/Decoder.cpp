// orv_decoder_*: the C API's decoder over the streaming decoder. A decoder
// owns a copy of the bit stream, the layering built from the caller's faces,
// and the streaming decoder's window; after a failure while decoding it only
// repeats that failure (its state is no longer trustworthy).
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Api/ApiStatus.h"
#include "Common/StreamRules.h"
#include "Common/Types.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Decoder/StreamingDecoder.h"
#include "Encoder/RedundancyMinCoder.h"
#include "orv/orv.h"

using orv::api::Failure;

struct orv_decoder {
    explicit orv_decoder(std::vector<uint8_t> _bits) : buffer(std::move(_bits)) {}
    orv::BitBuffer buffer;
    orv::Settings settings;
    orv::StreamHeader header;
    int nSLdec = 0, nTLdec = 0;
    std::unique_ptr<orv::StreamingDecoder> decoder;
    std::string error;
    int failed = 0;  // the status of a failure while decoding, 0 while none
};

namespace {

std::unique_ptr<orv_decoder> open(const uint8_t* _stream, size_t _size, const int32_t* _faces, size_t _faceCount,
                                  int _nsl, int _ntl) {
    if (!_stream) throw Failure(ORV_E_ARGUMENT, "the stream is a null pointer");
    if (!_faces && _faceCount > 0) throw Failure(ORV_E_ARGUMENT, "the faces are a null pointer");
    if (_faceCount == 0) throw Failure(ORV_E_FACES, "no faces: the connectivity must hold at least one triangle");
    if (_nsl < 0 || _ntl < 0)
        throw Failure(ORV_E_ARGUMENT, "negative layer counts to decode (0 means all)");
    if (_size < 4) throw Failure(ORV_E_STREAM, "the stream is shorter than its 4-byte length field");
    const uint64_t n = _stream[0] | _stream[1] << 8 | _stream[2] << 16 | static_cast<uint64_t>(_stream[3]) << 24;
    if (n > _size - 4)
        throw Failure(ORV_E_STREAM, "the stream is shorter than its length field promises (" + std::to_string(n) +
                                        " bytes, " + std::to_string(_size - 4) + " given)");
    auto d = std::make_unique<orv_decoder>(std::vector<uint8_t>(_stream + 4, _stream + 4 + n));
    try {
        d->header = orv::RedundancyMinCoder::readCheckedStreamHeader(d->buffer, d->settings);
    } catch (const orv::CheckFailure&) {
        throw Failure(ORV_E_STREAM, "the stream is shorter than its header");
    }
    orv::stream_rules::requireTemporalLayersInStream(d->settings.nTL);
    orv::FaceList faces(_faceCount);
    for (size_t i = 0; i < _faceCount; ++i) faces[i] = {_faces[3 * i], _faces[3 * i + 1], _faces[3 * i + 2]};
    try {
        orv::checkFaceIndices(faces, static_cast<int>(d->header.V), "faces");
    } catch (const orv::Error& e) {
        throw Failure(ORV_E_FACES, e.what());
    }
    std::vector<std::vector<int>> orders;
    std::vector<std::vector<orv::Predictor>> predictors;
    try {
        orv::LODConnectivity lod(d->settings.nSL, faces, static_cast<int>(d->header.V));
        orders = std::move(lod.vertexOrder_);
        predictors = std::move(lod.vertexPredictor_);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        throw Failure(ORV_E_FACES, std::string("the faces cannot be layered: ") + e.what());
    }
    // Asking for more layers than the stream holds decodes all of them.
    d->nSLdec = _nsl ? std::min(_nsl, d->settings.nSL) : d->settings.nSL;
    d->nTLdec = _ntl ? std::min(_ntl, d->settings.nTL) : d->settings.nTL;
    d->decoder = std::make_unique<orv::StreamingDecoder>(d->buffer, d->settings, d->header, std::move(orders),
                                                         std::move(predictors), d->nSLdec, d->nTLdec,
                                                         orv::StreamingDecoder::Positions::Window);
    return d;
}

// Decoding calls: a failure marks the decoder failed.
template <class Body>
int decoding(orv_decoder* _d, Body&& _body) {
    if (!_d) return ORV_E_ARGUMENT;
    if (_d->failed) return _d->failed;
    const int status = orv::api::guarded(_d->error, ORV_E_STREAM, _body);
    if (status < 0 && status != ORV_E_ARGUMENT) _d->failed = status;
    return status;
}

}  // namespace

extern "C" int orv_decoder_create(const uint8_t* stream, size_t stream_size, const int32_t* faces, size_t face_count,
                                  int nsl, int ntl, orv_decoder** out, char* err, size_t err_size) {
    std::string message;
    if (out) *out = nullptr;
    const int status = orv::api::guarded(message, ORV_E_STREAM, [&] {
        if (!out) throw Failure(ORV_E_ARGUMENT, "out is a null pointer");
        *out = open(stream, stream_size, faces, face_count, nsl, ntl).release();
        return ORV_OK;
    });
    if (status < 0) orv::api::copyMessage(message, err, err_size);
    else orv::api::copyMessage("", err, err_size);
    return status;
}

extern "C" int orv_decoder_info(const orv_decoder* d, orv_stream_info* info) {
    if (!d || !info) return ORV_E_ARGUMENT;
    *info = orv_stream_info{};
    info->vertex_count = static_cast<int32_t>(d->header.V);
    info->frame_count = d->header.F;
    info->spatial_layers = d->settings.nSL;
    info->temporal_layers = d->settings.nTL;
    info->decoded_spatial_layers = d->nSLdec;
    info->decoded_temporal_layers = d->nTLdec;
    info->ref_first_frame = d->settings.refFirstFrame ? 1 : 0;
    info->base_layer_pred = d->settings.baseLayerPred;
    for (int i = 0; i < 3; ++i) info->step_sizes[i] = d->header.qStep[i];
    return ORV_OK;
}

extern "C" int orv_decoder_read_frame(orv_decoder* d, int32_t* frame, double* positions) {
    if (d && (!frame || !positions)) {
        d->error = "orv_decoder_read_frame: frame and positions must not be null";
        return ORV_E_ARGUMENT;
    }
    return decoding(d, [&] {
        int f = -1;
        if (!d->decoder->next(f, positions)) return 0;
        *frame = f;
        return 1;
    });
}

extern "C" int orv_decoder_seek(orv_decoder* d, int32_t frame) {
    if (d && (frame < 0 || frame >= d->header.F)) {
        d->error = "cannot seek to frame " + std::to_string(frame) + ": the stream has frames 0.." +
                   std::to_string(d->header.F - 1);
        return ORV_E_ARGUMENT;
    }
    return decoding(d, [&] {
        d->decoder->seek(frame);
        return ORV_OK;
    });
}

extern "C" int orv_decoder_set_threads(orv_decoder* d, int nthreads) {
    if (!d) return ORV_E_ARGUMENT;
    if (nthreads < 1) {
        d->error = "orv_decoder_set_threads: at least 1 thread (" + std::to_string(nthreads) + " given)";
        return ORV_E_ARGUMENT;
    }
    if (d->failed) return d->failed;
    // A count the memory cannot carry leaves the decoder as it was.
    return orv::api::guarded(d->error, ORV_E_MEMORY, [&] {
        d->decoder->setThreads(nthreads);
        return ORV_OK;
    });
}

extern "C" const char* orv_decoder_error(const orv_decoder* d) { return d ? d->error.c_str() : ""; }

extern "C" void orv_decoder_destroy(orv_decoder* d) { delete d; }
