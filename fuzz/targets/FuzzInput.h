// Shared pieces of the fuzz target bodies: a reader that takes values from
// the input bytes (zeros once they run out, so every input is usable), the
// small meshes and frames the encoder targets build from them, and a decoder
// that runs a stream file through the library's decoding loop.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "Common/Types.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Encoder/RedundancyMinCoder.h"
#include "LayeringMeshes.h"
#include "Mesh/GeometryT.h"

namespace orvfuzz {

class ByteReader {
public:
    ByteReader(const uint8_t* _data, size_t _size) : p_(_data), end_(_data + _size) {}
    uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    // A value in [_lo, _hi].
    int pick(int _lo, int _hi) { return _lo + byte() % (_hi - _lo + 1); }
    bool left() const { return p_ < end_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

struct Animation {
    orvtest::Mesh mesh;
    orv::GeometryT<double> positions{0, 0};
};

// One of a few mesh families of a few to a few dozen vertices, then F frames:
// a base shape moved per frame by small steps read from the input; some
// inputs collapse frames or parts of them to one point.
inline Animation animationFrom(ByteReader& _in) {
    Animation a;
    switch (_in.pick(0, 4)) {
        case 0: a.mesh = orvtest::gridMesh(_in.pick(1, 5), _in.pick(1, 5)); break;
        case 1: a.mesh = orvtest::torusMesh(_in.pick(3, 6), _in.pick(3, 6)); break;
        case 2: a.mesh = orvtest::icosphereMesh(_in.pick(0, 1)); break;
        case 3: a.mesh = orvtest::disjointUnion(orvtest::gridMesh(_in.pick(1, 3), 2), orvtest::torusMesh(3, 4)); break;
        default: a.mesh = orvtest::shuffled(orvtest::gridMesh(_in.pick(1, 4), _in.pick(1, 4)), _in.byte()); break;
    }
    const int V = a.mesh.V, F = _in.pick(1, 9);
    a.positions = orv::GeometryT<double>(V, F);
    const double scale = std::ldexp(1.0, _in.pick(-12, 12));
    const int collapse = _in.pick(0, 15);
    for (int v = 0; v < V; ++v) {
        const double t = 0.7 * v;
        a.positions.setPosition(v, 0, {scale * std::cos(t), scale * std::sin(1.3 * t), scale * 0.1 * (v % 5)});
    }
    for (int f = 1; f < F; ++f)
        for (int v = 0; v < V; ++v) {
            orv::Vector3d p = a.positions.position(v, f - 1);
            const double step = scale / 64.0;
            p.x += step * (static_cast<int8_t>(_in.byte()) / 16.0);
            p.y += step * (static_cast<int8_t>(_in.byte()) / 16.0);
            p.z += step * (static_cast<int8_t>(_in.byte()) / 16.0);
            a.positions.setPosition(v, f, p);
        }
    // Degenerate frames: one frame, or one half of the mesh, on one point.
    if (collapse == 1)
        for (int v = 0; v < V; ++v) a.positions.setPosition(v, F - 1, {0, 0, 0});
    if (collapse == 2)
        for (int v = 0; v < V / 2; ++v) a.positions.setPosition(v, 0, {scale, scale, scale});
    return a;
}

// Decodes a stream file (length field first) with all its layers or the
// given counts; orv::Error or orv::CheckFailure escape to the caller.
inline std::unique_ptr<orv::DecoderContext> decodeStream(const std::vector<uint8_t>& _file,
                                                         const orv::FaceList& _faces, int _nSLdec = 0,
                                                         int _nTLdec = 0) {
    orv::BitBuffer buffer(std::vector<uint8_t>(_file.begin() + 4, _file.end()));
    orv::Settings settings;
    std::unique_ptr<orv::DecoderContext> context = orv::RedundancyMinCoder::readStreamHeader(buffer, settings);
    orv::LODConnectivity lod(settings.nSL, _faces, context->GDec.V);
    context->allLayerVertexOrders = lod.vertexOrder_;
    context->allLayerPredictors = lod.vertexPredictor_;
    orv::decodeAllFrames(buffer, *context, settings, _nSLdec > 0 ? _nSLdec : settings.nSL,
                         _nTLdec > 0 ? _nTLdec : settings.nTL, false);
    return context;
}

// Whether two geometries hold the same bits.
inline bool sameBits(const orv::GeometryT<double>& _a, const orv::GeometryT<double>& _b) {
    if (_a.V != _b.V || _a.F != _b.F) return false;
    for (int f = 0; f < _a.F; ++f)
        if (_a.V > 0 && std::memcmp(_a.frame(f), _b.frame(f), sizeof(double) * 3 * static_cast<size_t>(_a.V)) != 0)
            return false;
    return true;
}

}  // namespace orvfuzz
