// The decoder's run from the decomposition to the written frames. The two
// timing lines use a 32-bit millisecond tick count, differences taken as signed
// 32-bit numbers, so that they behave like the platform counter they mimic.
#include "Decoder/DecoderSteps.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Common/StreamRules.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Decoder/StreamingDecoder.h"
#include "Encoder/FrameCodingOrderGen.h"

namespace orv {

static uint32_t tickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

static double seconds(uint32_t from, uint32_t to) { return static_cast<int32_t>(to - from) / 1000.0; }

int decodeAndWriteFrames(const std::string& _orvPath, const FaceList& _faces, BitBuffer& _buffer,
                         const Settings& _settings, const StreamHeader& _header, int _nSLdec, int _nTLdec) {
    const int V = static_cast<int>(_header.V);
    const int F = _header.F;
    stream_rules::requireTemporalLayersInStream(_settings.nTL);

    const uint32_t t0 = tickCount();
    std::printf("---------------------------------------\n");
    std::printf("Decoding:\n");
    std::printf("  Calculating layered decomposition...\r");
    std::fflush(stdout);

    std::vector<std::vector<int>> orders;
    std::vector<std::vector<Predictor>> predictors;
    {
        LODConnectivity lod(_settings.nSL, _faces, V);
        orders = std::move(lod.vertexOrder_);
        predictors = std::move(lod.vertexPredictor_);
    }
    // The coding order is not needed to decode (the records carry their
    // references) but stays part of the timed preparation.
    std::vector<int> codingOrder, codingLayers;
    std::vector<std::vector<int>> codingRefs;
    if (_settings.refFirstFrame)
        generateFrameCodingOrder(codingOrder, codingRefs, codingLayers, F, _settings.nTL, true, 0);
    else
        generateFrameCodingOrder(codingOrder, codingRefs, codingLayers, F, _settings.nTL, false, -1);

    std::printf("                                        \r");
    const uint32_t t1 = tickCount();
    std::printf("  Decomposition time : %5.2fsec\n", seconds(t0, t1));
    std::fflush(stdout);

    // Only the positions are kept for every frame; details live as long as
    // later records reference them.
    StreamingDecoder decoder(_buffer, _settings, _header, std::move(orders), std::move(predictors), _nSLdec, _nTLdec,
                             StreamingDecoder::Positions::AllFrames);
    // A connectivity made for another mesh gives other layers, so the payload
    // of the very first record already fails to decode: say so there.
    try {
        decoder.decodeAll(true);
    } catch (const std::exception& e) {
        if (decoder.recordsDecoded() > 0) throw;
        throw Error(std::string(e.what()) + kOtherMeshHint);
    }

    const uint32_t t2 = tickCount();
    std::printf("  Decoding frame rate: %5.2ffps\n", F / seconds(t1, t2));
    std::printf("---------------------------------------\n");
    std::printf("Writing reconstructed frames...\n");
    std::fflush(stdout);

    const std::string prefix = _orvPath.substr(0, _orvPath.size() - 4) + "Dec";
    // A frame file that cannot be created is a failure, not a success.
    return writeOBJFrames(_faces, prefix, decoder.context().GDec) ? 0 : -1;
}

}  // namespace orv
