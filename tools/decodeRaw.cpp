// decodeRaw: decodes a stream with the native library and writes every
// decoded coordinate as a little-endian double, frame after frame (x, y, z of
// each vertex), the layout of the test vectors' position files. The
// WebAssembly tests compare their decodes with this, bit for bit.
// With --time first, prints the seconds the decode took (decomposition and
// all frame records, best of 5 runs; files not counted) for speed figures.
// Usage: decodeRaw [--time] orvfile confile out.f64 [nSL] [nTL]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Entropy/BitBuffer.h"
#include "Entropy/StreamFile.h"

namespace {

std::unique_ptr<orv::DecoderContext> decode(const std::vector<uint8_t>& _bytes, const orv::FaceList& _faces,
                                            int argc, char** argv, const char* _conPath) {
    orv::BitBuffer buffer{std::vector<uint8_t>(_bytes)};
    orv::Settings settings;
    auto context = orv::RedundancyMinCoder::readStreamHeader(buffer, settings);
    const int nSL = argc > 4 ? std::atoi(argv[4]) : settings.nSL;
    const int nTL = argc > 5 ? std::atoi(argv[5]) : settings.nTL;
    const int V = context->GDec.V, F = context->GDec.F;
    orv::checkFaceIndices(_faces, V, _conPath);
    {
        orv::LODConnectivity lod(settings.nSL, _faces, V);
        context->allLayerVertexOrders = lod.vertexOrder_;
        context->allLayerPredictors = lod.vertexPredictor_;
    }
    auto& c = *context;
    const bool ref = settings.refFirstFrame;
    orv::generateFrameCodingOrder(c.codingOrder, c.codingRefs, c.codingLayers, F, settings.nTL, ref, ref ? 0 : -1);
    orv::decodeAllFrames(buffer, c, settings, nSL, nTL, false);
    return context;
}

}  // namespace

int main(int argc, char** argv) {
    const bool timed = argc > 1 && std::strcmp(argv[1], "--time") == 0;
    if (timed) {
        --argc;
        ++argv;
    }
    if (argc < 4 || argc > 6) {
        std::fprintf(stderr, "Usage: decodeRaw [--time] orvfile confile out.f64 [nSL] [nTL]\n");
        return -1;
    }
    try {
        orv::FaceList faces;
        orv::readOBJ(argv[2], faces);
        const std::vector<uint8_t> bytes = orv::readStreamFile(argv[1]);
        auto context = decode(bytes, faces, argc, argv, argv[2]);
        if (timed) {
            double best = 1e30;
            for (int run = 0; run < 5; ++run) {
                const auto t0 = std::chrono::steady_clock::now();
                context = decode(bytes, faces, argc, argv, argv[2]);
                best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
            }
            std::printf("%.6f\n", best);
        }
        const auto& c = *context;
        const int V = c.GDec.V, F = c.GDec.F;
        std::FILE* out = std::fopen(argv[3], "wb");
        if (!out) throw orv::Error(std::string("cannot create ") + argv[3]);
        // The hosts this runs on are little-endian.
        for (int f = 0; f < F; ++f) std::fwrite(c.GDec.frame(f), sizeof(double), 3 * static_cast<size_t>(V), out);
        if (std::fclose(out) != 0) throw orv::Error(std::string("cannot write ") + argv[3]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return -1;
    }
}
