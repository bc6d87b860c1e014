// Connectivity size figures: bits per triangle of orv's connectivity codec,
// of xz -9 over the OBJ face lines and of meshoptimizer's index codec (alone
// and followed by xz -9), on OBJ files given as arguments and on generated
// meshes. meshoptimizer is used only here, never by the programs.
//   connectivityFigures [FILE.obj ...]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "Connectivity/ConnectivityCodec.h"
#include "Decoder/MeshIO.h"
#include "GeneratedMeshes.h"

#ifdef ORV_HAVE_MESHOPTIMIZER
#include <meshoptimizer.h>
#endif

namespace {

std::vector<std::string> tallies_;

// Bytes of xz -9 over the given bytes (run as a program), or 0 when xz fails.
size_t xzSize(const std::string& _bytes) {
    const std::filesystem::path tmp = std::filesystem::temp_directory_path() / ("orv-xz-" + std::to_string(::getpid()));
    { std::ofstream(tmp, std::ios::binary).write(_bytes.data(), static_cast<std::streamsize>(_bytes.size())); }
    const std::string cmd = "xz -9 -c '" + tmp.string() + "' | wc -c";
    FILE* p = popen(cmd.c_str(), "r");
    size_t n = 0;
    if (p) {
        if (std::fscanf(p, "%zu", &n) != 1) n = 0;
        pclose(p);
    }
    std::filesystem::remove(tmp);
    return n;
}

void report(const std::string& _name, int32_t _V, const std::vector<int32_t>& _idx) {
    const double F = static_cast<double>(_idx.size() / 3);
    std::string faceLines;
    for (size_t i = 0; i < _idx.size(); i += 3)
        faceLines += "f " + std::to_string(_idx[i] + 1) + " " + std::to_string(_idx[i + 1] + 1) + " " +
                     std::to_string(_idx[i + 2] + 1) + "\n";
    orv::ConnectivityTally tally;
    const size_t ours = orv::encodeConnectivity(_idx, _V, &tally).size();
    const size_t xz = xzSize(faceLines);
    double meshopt = 0, meshoptXz = 0;
#ifdef ORV_HAVE_MESHOPTIMIZER
    std::vector<unsigned int> u(_idx.begin(), _idx.end());
    std::vector<unsigned char> buf(meshopt_encodeIndexBufferBound(u.size(), static_cast<size_t>(_V)));
    buf.resize(meshopt_encodeIndexBuffer(buf.data(), buf.size(), u.data(), u.size()));
    meshopt = 8.0 * static_cast<double>(buf.size()) / F;
    meshoptXz = 8.0 * static_cast<double>(xzSize(std::string(buf.begin(), buf.end()))) / F;
#endif
    std::printf("| %s | %d | %.0f | %.2f | %.2f | %.2f | %.2f | %.3f |\n", _name.c_str(), _V, F, 8.0 * ours / F,
                8.0 * xz / F, meshopt, meshoptXz, static_cast<double>(ours) / static_cast<double>(xz));
    std::string where;
    for (int c = 0; c < orv::kTallyCategories; ++c) {
        char part[64];
        std::snprintf(part, sizeof part, "%s%s %.2f", c ? ", " : "", orv::ConnectivityTally::name(c), tally.bits[static_cast<size_t>(c)] / F);
        where += part;
    }
    tallies_.push_back("| " + _name + " | " + std::to_string(tally.mode) + " | " + where + " |");
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("| mesh | V | F | orv bits/tri | xz -9 of face lines | meshopt | meshopt + xz -9 | orv / xz |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (int i = 1; i < argc; ++i) {
        orv::FaceList faces;
        auto g = orv::readOBJ(argv[i], faces);
        if (!g) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        report(std::filesystem::path(argv[i]).parent_path().filename().string(), g->V, orv::toFlatIndices(faces));
    }
    using namespace orvtest;
    const std::pair<const char*, GeneratedMesh> generated[] = {
        {"grid 300x300", gridMesh(300, 300)},
        {"torus 200x250", torusMesh(200, 250)},
        {"patch grid 300x300", patchGridMesh(150, 150)},
        {"grid 300x300, shuffled vertices", shuffledVertices(gridMesh(300, 300))},
        {"torus 200x250, shuffled vertices", shuffledVertices(torusMesh(200, 250))},
        {"torus 200x250, shuffled faces", shuffledFaces(torusMesh(200, 250))},
    };
    for (const auto& [name, m] : generated) report(name, m.vertexCount, m.indices);
    std::printf("\n| mesh | mode | where the bits go (bits/triangle) |\n|---|---|---|\n");
    for (const std::string& t : tallies_) std::printf("%s\n", t.c_str());
    return 0;
}
