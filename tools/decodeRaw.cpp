// decodeRaw: decodes a stream with the native library and writes every
// decoded coordinate as a little-endian double, frame after frame (x, y, z of
// each vertex), the layout of the test vectors' position files. The
// WebAssembly tests compare their decodes with this, bit for bit.
// Usage: decodeRaw orvfile confile out.f64 [nSL] [nTL]
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Entropy/BitBuffer.h"
#include "Entropy/StreamFile.h"

int main(int argc, char** argv) {
    if (argc < 4 || argc > 6) {
        std::fprintf(stderr, "Usage: decodeRaw orvfile confile out.f64 [nSL] [nTL]\n");
        return -1;
    }
    try {
        orv::FaceList faces;
        orv::readOBJ(argv[2], faces);
        orv::BitBuffer buffer(orv::readStreamFile(argv[1]));
        orv::Settings settings;
        auto context = orv::RedundancyMinCoder::readStreamHeader(buffer, settings);
        const int nSL = argc > 4 ? std::atoi(argv[4]) : settings.nSL;
        const int nTL = argc > 5 ? std::atoi(argv[5]) : settings.nTL;
        const int V = context->GDec.V, F = context->GDec.F;
        orv::checkFaceIndices(faces, V, argv[2]);
        {
            orv::LODConnectivity lod(settings.nSL, faces, V);
            context->allLayerVertexOrders = lod.vertexOrder_;
            context->allLayerPredictors = lod.vertexPredictor_;
        }
        auto& c = *context;
        const bool ref = settings.refFirstFrame;
        orv::generateFrameCodingOrder(c.codingOrder, c.codingRefs, c.codingLayers, F, settings.nTL, ref, ref ? 0 : -1);
        orv::decodeAllFrames(buffer, c, settings, nSL, nTL, false);
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
