// The decoder's run from the decomposition to the written frames. The two
// timing lines use a 32-bit millisecond tick count, differences taken as signed
// 32-bit numbers, so that they behave like the platform counter they mimic.
#include "Decoder/DecoderSteps.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "Common/Check.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Encoder/FrameCodingOrderGen.h"

namespace orv {

static uint32_t tickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

static double seconds(uint32_t from, uint32_t to) { return static_cast<int32_t>(to - from) / 1000.0; }

// The byte offset where the first frame record ends: its 5-byte header,
// then nSL chunks of a 4-byte count and that many bytes. The stream header
// check made sure these counts can be read.
static int64_t endOfFirstRecord(const BitBuffer& _buffer, int _nSL) {
    int64_t at = (_buffer.bitPosition() + 7) / 8 + 5;
    for (int l = 0; l < _nSL && at + 4 <= _buffer.size(); ++l) {
        const uint8_t* p = _buffer.data() + at;
        at += 4 + (int64_t{p[0]} << 24 | int64_t{p[1]} << 16 | int64_t{p[2]} << 8 | p[3]);
    }
    return at;
}

int decodeAndWriteFrames(const std::string& _orvPath, const FaceList& _faces,
                         BitBuffer& _buffer, const Settings& _settings, DecoderContext& _context, int _nSLdec,
                         int _nTLdec) {
    const int V = _context.GDec.V;
    const int F = _context.GDec.F;
    if (_settings.nTL < 1 || _settings.nTL > 31)
        throw Error("the stream header gives " + std::to_string(_settings.nTL) +
                    " temporal layers; a stream holds 1 to 31");

    const uint32_t t0 = tickCount();
    std::printf("---------------------------------------\n");
    std::printf("Decoding:\n");
    std::printf("  Calculating layered decomposition...\r");
    std::fflush(stdout);

    {
        LODConnectivity lod(_settings.nSL, _faces, V);
        _context.allLayerVertexOrders = lod.vertexOrder_;
        _context.allLayerPredictors = lod.vertexPredictor_;
    }
    if (_settings.refFirstFrame)
        generateFrameCodingOrder(_context.codingOrder, _context.codingRefs, _context.codingLayers, F, _settings.nTL,
                                 true, 0);
    else
        generateFrameCodingOrder(_context.codingOrder, _context.codingRefs, _context.codingLayers, F, _settings.nTL,
                                 false, -1);

    std::printf("                                        \r");
    const uint32_t t1 = tickCount();
    std::printf("  Decomposition time : %5.2fsec\n", seconds(t0, t1));
    std::fflush(stdout);

    // A connectivity made for another mesh gives other layers, so the payload
    // of the very first record already fails to decode: say so there.
    const int64_t firstRecordEnd = endOfFirstRecord(_buffer, _settings.nSL);
    try {
        decodeAllFrames(_buffer, _context, _settings, _nSLdec, _nTLdec);
    } catch (const std::exception& e) {
        if ((_buffer.bitPosition() + 7) / 8 > firstRecordEnd) throw;
        throw Error(std::string(e.what()) + kOtherMeshHint);
    }

    const uint32_t t2 = tickCount();
    std::printf("  Decoding frame rate: %5.2ffps\n", F / seconds(t1, t2));
    std::printf("---------------------------------------\n");
    std::printf("Writing reconstructed frames...\n");
    std::fflush(stdout);

    const std::string prefix = _orvPath.substr(0, _orvPath.size() - 4) + "Dec";
    // A frame file that cannot be created is a failure, not a success.
    return writeOBJFrames(_faces, prefix, _context.GDec) ? 0 : -1;
}

}  // namespace orv
