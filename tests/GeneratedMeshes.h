// Generated triangle meshes for the connectivity tests, benchmark and figures:
// regular grids, closed tori, a grid of patches stitched together and the
// same meshes with their vertices numbered at random (the worst case for any
// index coder that expects locality).
#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

namespace orvtest {
// LayeringMeshes.h has gridMesh and torusMesh of the same parameters but
// another return type; a return type is not part of a function's linker
// name, so in one program the two inline definitions would be taken for one.
inline namespace generated {

struct GeneratedMesh {
    int32_t vertexCount = 0;
    std::vector<int32_t> indices;  // 3 per face
};

// w x h vertices in rows, two triangles per cell, faces row by row.
inline GeneratedMesh gridMesh(int _w, int _h) {
    GeneratedMesh m;
    m.vertexCount = _w * _h;
    for (int y = 0; y + 1 < _h; ++y)
        for (int x = 0; x + 1 < _w; ++x) {
            const int32_t a = y * _w + x, b = a + 1, c = a + _w, d = c + 1;
            m.indices.insert(m.indices.end(), {a, b, d, a, d, c});
        }
    return m;
}

// A closed torus of _n x _m vertices (wrapping in both directions).
inline GeneratedMesh torusMesh(int _n, int _m) {
    GeneratedMesh m;
    m.vertexCount = _n * _m;
    for (int i = 0; i < _n; ++i)
        for (int j = 0; j < _m; ++j) {
            const int32_t a = i * _m + j, b = i * _m + (j + 1) % _m;
            const int32_t c = ((i + 1) % _n) * _m + j, d = ((i + 1) % _n) * _m + (j + 1) % _m;
            m.indices.insert(m.indices.end(), {a, c, b, b, c, d});
        }
    return m;
}

// A grid of 2_w x 2_h vertices built as quad-dominant models often are: first
// every other quad (those at even cells, vertex-disjoint), each with four
// new consecutive numbers, then the quads between them row by row, which
// stitch the patches together by naming vertices of patches coded long
// before; two triangles per quad.
inline GeneratedMesh patchGridMesh(int _w, int _h) {
    GeneratedMesh m;
    const int W = 2 * _w, H = 2 * _h;
    m.vertexCount = W * H;
    std::vector<int32_t> number(static_cast<size_t>(W * H));
    int32_t next = 0;
    for (int y = 0; y < H; y += 2)
        for (int x = 0; x < W; x += 2) {
            const int corners[4] = {y * W + x, y * W + x + 1, (y + 1) * W + x + 1, (y + 1) * W + x};
            for (int c : corners) number[static_cast<size_t>(c)] = next++;
            const int32_t a = number[static_cast<size_t>(corners[0])], b = a + 1, c = a + 2, d = a + 3;
            m.indices.insert(m.indices.end(), {a, b, c, a, c, d});
        }
    for (int y = 0; y + 1 < H; ++y)
        for (int x = 0; x + 1 < W; ++x) {
            if (y % 2 == 0 && x % 2 == 0) continue;
            const int32_t a = number[static_cast<size_t>(y * W + x)], b = number[static_cast<size_t>(y * W + x + 1)];
            const int32_t c = number[static_cast<size_t>((y + 1) * W + x + 1)], d = number[static_cast<size_t>((y + 1) * W + x)];
            m.indices.insert(m.indices.end(), {a, b, c, a, c, d});
        }
    return m;
}

// The same faces with the vertices renumbered by a fixed random permutation.
inline GeneratedMesh shuffledVertices(GeneratedMesh _mesh, uint32_t _seed = 7) {
    std::vector<int32_t> perm(static_cast<size_t>(_mesh.vertexCount));
    std::iota(perm.begin(), perm.end(), 0);
    std::shuffle(perm.begin(), perm.end(), std::mt19937(_seed));
    for (int32_t& v : _mesh.indices) v = perm[static_cast<size_t>(v)];
    return _mesh;
}

// The same faces in a random order, each in a random rotation.
inline GeneratedMesh shuffledFaces(GeneratedMesh _mesh, uint32_t _seed = 11) {
    std::mt19937 rng(_seed);
    const size_t F = _mesh.indices.size() / 3;
    std::vector<size_t> order(F);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<int32_t> out;
    out.reserve(_mesh.indices.size());
    for (size_t f : order) {
        const int r = static_cast<int>(rng() % 3);
        for (int k = 0; k < 3; ++k) out.push_back(_mesh.indices[3 * f + static_cast<size_t>((k + r) % 3)]);
    }
    _mesh.indices = std::move(out);
    return _mesh;
}

}  // namespace generated
}  // namespace orvtest
