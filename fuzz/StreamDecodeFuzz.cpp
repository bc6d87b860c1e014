// libFuzzer target: arbitrary bytes as a bit stream (what follows the 4-byte
// length of a stream file) through the stream header reader and the frame
// decoding loop, with a fixed 8-vertex closed mesh as connectivity. A corrupt
// stream may only end in orv::Error or orv::CheckFailure; anything else (a
// crash, a sanitizer report, another exception, a hang) is a finding.
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORV_BUILD_FUZZ=ON -DORV_SANITIZE=ON -DORV_BUILD_TESTS=OFF
//   ninja -C build-fuzz StreamDecodeFuzz && build-fuzz/fuzz/StreamDecodeFuzz -max_total_time=60
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "Common/Check.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Encoder/RedundancyMinCoder.h"

namespace {

// A cube, each side split into two consistently oriented triangles.
const orv::FaceList& cubeFaces() {
    static const orv::FaceList faces = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                                        {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    return faces;
}
constexpr int kVertices = 8;

// The decomposition depends only on nSL here; keep one per layer count.
const orv::LODConnectivity& layering(int nSL) {
    static std::map<int, std::unique_ptr<orv::LODConnectivity>> cache;
    auto& slot = cache[nSL];
    if (!slot) slot = std::make_unique<orv::LODConnectivity>(nSL, cubeFaces(), kVertices);
    return *slot;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As the decoder program does, refuse a stream made for another mesh
    // before the header's sizes allocate anything: V is its first 32 bits.
    if (size < 4 || ((uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3]) !=
                        kVertices)
        return 0;
    try {
        orv::BitBuffer buffer(std::vector<uint8_t>(data, data + size));
        orv::Settings settings;
        std::unique_ptr<orv::DecoderContext> context = orv::RedundancyMinCoder::readStreamHeader(buffer, settings);
        const orv::LODConnectivity& lod = layering(settings.nSL);
        context->allLayerVertexOrders = lod.vertexOrder_;
        context->allLayerPredictors = lod.vertexPredictor_;
        // Vary the requested layer counts with the input so both paths run.
        const int nSLdec = 1 + static_cast<int>(size % 3);
        const int nTLdec = 1 + static_cast<int>((size / 3) % 3);
        orv::decodeAllFrames(buffer, *context, settings, nSLdec, nTLdec, false);
    } catch (const orv::Error&) {
    } catch (const orv::CheckFailure&) {
    }
    return 0;
}
