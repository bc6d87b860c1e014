// lodDump: prints the canonical dump of the layered decomposition of an OBJ
// file's connectivity, to compare readings of the layering.
// Usage: lodDump file.obj [nSL]   (nSL defaults to 8)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "Decoder/LODConnectivity.h"
#include "Decoder/LODConnectivityDump.h"
#include "Decoder/MeshIO.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::printf("Usage: lodDump file.obj [nSL]\n");
        return -1;
    }
    const int nSL = argc == 3 ? std::atoi(argv[2]) : 8;
    try {
        orv::FaceList faces;
        const auto geometry = orv::readOBJ(argv[1], faces);
        if (!geometry) return -1;
        orv::checkFaceIndices(faces, geometry->V, argv[1]);
        const orv::LODConnectivity lod(nSL, faces, geometry->V);
        const std::string text = orv::layeringDump(lod);
        std::fwrite(text.data(), 1, text.size(), stdout);
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        return -1;
    }
    return 0;
}
