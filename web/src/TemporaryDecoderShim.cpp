// Temporary: the decoder part of the C API (include/orv/orv.h) over the
// whole-sequence decoder, so the WebAssembly layer can be built and tested
// before the library's own implementation (src/Api) is in. It decodes every
// frame when opened and hands them out one by one. Removed once src/Api
// provides these functions.
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Encoder/DecoderContext.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Encoder/Settings.h"
#include "Entropy/BitBuffer.h"
#include "orv/orv.h"

struct orv_decoder {
    orv::Settings settings;
    std::unique_ptr<orv::DecoderContext> context;
    int nsl = 0, ntl = 0;
    int32_t next = 0;
    std::string error;
};

namespace {

void copyMessage(const std::string& _m, char* _err, size_t _size) {
    if (!_err || _size == 0) return;
    const size_t n = _m.size() < _size - 1 ? _m.size() : _size - 1;
    std::memcpy(_err, _m.data(), n);
    _err[n] = 0;
}

}  // namespace

extern "C" {

const char* orv_version(void) { return ORV_VERSION; }

int orv_decoder_create(const uint8_t* stream, size_t stream_size, const int32_t* faces, size_t face_count, int nsl,
                       int ntl, orv_decoder** out, char* err, size_t err_size) {
    if (!out) return ORV_E_ARGUMENT;
    *out = nullptr;
    int status = ORV_E_STREAM;
    try {
        if (!stream || (!faces && face_count) || nsl < 0 || ntl < 0) {
            copyMessage("invalid argument", err, err_size);
            return ORV_E_ARGUMENT;
        }
        if (stream_size < 4) throw orv::Error("the stream is shorter than its 4-byte length field");
        const uint64_t n = uint64_t{stream[0]} | uint64_t{stream[1]} << 8 | uint64_t{stream[2]} << 16 |
                           uint64_t{stream[3]} << 24;
        if (n > stream_size - 4)
            throw orv::Error("the stream is shorter than its length field promises (" + std::to_string(n) +
                             " bytes announced, " + std::to_string(stream_size - 4) + " present)");
        orv::BitBuffer buffer(std::vector<uint8_t>(stream + 4, stream + 4 + n));
        auto d = std::make_unique<orv_decoder>();
        d->context = orv::RedundancyMinCoder::readStreamHeader(buffer, d->settings);
        d->nsl = nsl ? nsl : d->settings.nSL;
        d->ntl = ntl ? ntl : d->settings.nTL;
        const int V = d->context->GDec.V, F = d->context->GDec.F;
        if (d->settings.nTL < 1 || d->settings.nTL > 31) throw orv::Error("the stream header gives a bad layer count");
        orv::FaceList list(face_count);
        for (size_t i = 0; i < face_count; ++i) list[i] = {faces[3 * i], faces[3 * i + 1], faces[3 * i + 2]};
        status = ORV_E_FACES;
        orv::checkFaceIndices(list, V, "faces");
        status = ORV_E_STREAM;
        {
            orv::LODConnectivity lod(d->settings.nSL, list, V);
            d->context->allLayerVertexOrders = lod.vertexOrder_;
            d->context->allLayerPredictors = lod.vertexPredictor_;
        }
        auto& c = *d->context;
        if (d->settings.refFirstFrame)
            orv::generateFrameCodingOrder(c.codingOrder, c.codingRefs, c.codingLayers, F, d->settings.nTL, true, 0);
        else
            orv::generateFrameCodingOrder(c.codingOrder, c.codingRefs, c.codingLayers, F, d->settings.nTL, false, -1);
        orv::decodeAllFrames(buffer, c, d->settings, d->nsl, d->ntl, false);
        *out = d.release();
        return ORV_OK;
    } catch (const std::bad_alloc&) {
        copyMessage("out of memory", err, err_size);
        return ORV_E_MEMORY;
    } catch (const std::exception& e) {
        copyMessage(e.what(), err, err_size);
        return status;
    }
}

int orv_decoder_info(const orv_decoder* d, orv_stream_info* info) {
    if (!d || !info) return ORV_E_ARGUMENT;
    *info = {};
    info->vertex_count = d->context->GDec.V;
    info->frame_count = d->context->GDec.F;
    info->spatial_layers = d->settings.nSL;
    info->temporal_layers = d->settings.nTL;
    info->decoded_spatial_layers = d->nsl;
    info->decoded_temporal_layers = d->ntl;
    return ORV_OK;
}

int orv_decoder_read_frame(orv_decoder* d, int32_t* frame, double* positions) {
    if (!d || !frame || !positions) return ORV_E_ARGUMENT;
    if (d->next >= d->context->GDec.F) return 0;
    *frame = d->next;
    std::memcpy(positions, d->context->GDec.frame(d->next), sizeof(double) * 3 * d->context->GDec.V);
    ++d->next;
    return 1;
}

int orv_decoder_seek(orv_decoder* d, int32_t frame) {
    if (!d) return ORV_E_ARGUMENT;
    if (frame < 0 || frame >= d->context->GDec.F) {
        d->error = "frame " + std::to_string(frame) + " is out of range";
        return ORV_E_ARGUMENT;
    }
    d->next = frame;
    return ORV_OK;
}

int orv_decoder_set_threads(orv_decoder* d, int) { return d ? ORV_OK : ORV_E_ARGUMENT; }

const char* orv_decoder_error(const orv_decoder* d) { return d ? d->error.c_str() : ""; }

void orv_decoder_destroy(orv_decoder* d) { delete d; }

}  // extern "C"
