// libFuzzer target: arbitrary bytes as a face list through the mesh graph and
// the layered decomposition, and a few bytes as the frame coding order's
// arguments. Any face list may only end in a valid layering, orv::Error or
// orv::CheckFailure; a crash, a sanitizer report, another exception, a hang or
// a layering that breaks its invariants is a finding.
//
// Input: byte 0 -> V (0..47), byte 1 -> nSL (1..8), bytes 2..4 -> F (0..47),
// nTL (0..33) and the group settings; then three bytes per face, each an index
// modulo V + 1 (so V itself, one past the end, occurs), 255 standing for -1.
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORV_BUILD_FUZZ=ON -DORV_SANITIZE=ON -DORV_BUILD_TESTS=OFF
//   ninja -C build-fuzz LayeringFuzz && build-fuzz/fuzz/LayeringFuzz -max_total_time=60
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Common/Check.h"
#include "Decoder/Graph.h"
#include "Decoder/LODConnectivity.h"
#include "Encoder/FrameCodingOrderGen.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

void exerciseGraph(const orv::FaceList& faces, int V) {
    try {
        const orv::Graph g(faces, V);
        std::vector<int> ring;
        for (int v = 0; v < V; ++v) {
            g.getNeighbors(v, ring);
            for (int w : ring) require(w >= 0 && w < V);
        }
    } catch (const orv::CheckFailure&) {
    }
}

void exerciseLayering(const orv::FaceList& faces, int V, int nSL) {
    try {
        const orv::LODConnectivity lod(nSL, faces, V);
        // Every vertex exactly once; every term refers to an earlier vertex
        // and weighs exactly 1/n.
        std::vector<char> seen(static_cast<size_t>(V), 0);
        require(static_cast<int>(lod.vertexOrder_.size()) == nSL);
        for (int l = 0; l < nSL; ++l) {
            require(lod.vertexOrder_[l].size() == lod.vertexPredictor_[l].size());
            for (size_t k = 0; k < lod.vertexOrder_[l].size(); ++k) {
                const auto& terms = lod.vertexPredictor_[l][k];
                for (const auto& t : terms) {
                    require(t.first >= 0 && t.first < V && seen[t.first]);
                    require(t.second == 1.0 / static_cast<double>(terms.size()));
                }
                const int v = lod.vertexOrder_[l][k];
                require(v >= 0 && v < V && !seen[v]);
                seen[v] = 1;
            }
        }
        for (char s : seen) require(s != 0);
    } catch (const orv::Error&) {
    } catch (const orv::CheckFailure&) {
    }
}

void exerciseCodingOrder(int F, int nTL, bool closedRefFirst, int openRun) {
    std::vector<int> f, tl;
    std::vector<std::vector<int>> rf;
    try {
        orv::generateFrameCodingOrder(f, rf, tl, F, nTL, closedRefFirst, openRun);
    } catch (const orv::Error&) {
        require(nTL < 1 || nTL > 31);
        return;
    }
    require(f.size() == static_cast<size_t>(F));
    std::vector<int> position(static_cast<size_t>(F), -1);
    for (int p = 0; p < F; ++p) {
        require(f[p] >= 0 && f[p] < F && position[f[p]] < 0);
        position[f[p]] = p;
    }
    for (int p = 0; p < F; ++p)
        for (int r : rf[p]) require(r >= 0 && r < F && position[r] < p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const int V = data[0] % 48;
    const int nSL = 1 + data[1] % 8;
    exerciseCodingOrder(data[2] % 48, data[3] % 34, (data[4] & 1) != 0, static_cast<int>((data[4] >> 1) % 5) - 1);
    orv::FaceList faces;
    for (size_t i = 5; i + 3 <= size && faces.size() < 400; i += 3) {
        orv::Face face;
        for (size_t k = 0; k < 3; ++k) face.push_back(data[i + k] == 255 ? -1 : data[i + k] % (V + 1));
        faces.push_back(face);
    }
    exerciseGraph(faces, V);
    exerciseLayering(faces, V, nSL);
    return 0;
}
