// Generated connectivities for the layering tests (grids, closed surfaces,
// glued and damaged meshes), the invariant check every decomposition must
// pass, and a small SHA-256 for comparing canonical dumps.
// Header-only, since the test binary is built from the *Test.cpp files.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Common/Types.h"
#include "Decoder/LODConnectivity.h"

namespace orvtest {

struct Mesh {
    orv::FaceList faces;
    int V = 0;
};

// (w+1) x (h+1) vertices, every quad split along the same diagonal.
inline Mesh gridMesh(int w, int h) {
    Mesh m;
    m.V = (w + 1) * (h + 1);
    auto id = [w](int x, int y) { return y * (w + 1) + x; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            m.faces.push_back({id(x, y), id(x + 1, y), id(x + 1, y + 1)});
            m.faces.push_back({id(x, y), id(x + 1, y + 1), id(x, y + 1)});
        }
    return m;
}

// a x b torus: every vertex has exactly six faces.
inline Mesh torusMesh(int a, int b) {
    Mesh m;
    m.V = a * b;
    auto id = [a, b](int x, int y) { return ((y + b) % b) * a + (x + a) % a; };
    for (int y = 0; y < b; ++y)
        for (int x = 0; x < a; ++x) {
            m.faces.push_back({id(x, y), id(x + 1, y), id(x + 1, y + 1)});
            m.faces.push_back({id(x, y), id(x + 1, y + 1), id(x, y + 1)});
        }
    return m;
}

// Icosahedron with every triangle split into four, `levels` times.
inline Mesh icosphereMesh(int levels) {
    Mesh m;
    m.V = 12;
    m.faces = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
               {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
               {3, 8, 9},  {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
    for (int l = 0; l < levels; ++l) {
        std::map<std::pair<int, int>, int> mid;  // ordered: vertex numbering is deterministic
        auto midpoint = [&](int a, int b) {
            const auto key = std::minmax(a, b);
            const auto it = mid.find(key);
            if (it != mid.end()) return it->second;
            mid[key] = m.V;
            return m.V++;
        };
        orv::FaceList next;
        for (const auto& f : m.faces) {
            const int a = midpoint(f[0], f[1]), b = midpoint(f[1], f[2]), c = midpoint(f[2], f[0]);
            next.push_back({f[0], a, c});
            next.push_back({f[1], b, a});
            next.push_back({f[2], c, b});
            next.push_back({a, b, c});
        }
        m.faces = std::move(next);
    }
    return m;
}

// b's vertices are renumbered after a's.
inline Mesh disjointUnion(const Mesh& a, const Mesh& b) {
    Mesh m = a;
    for (auto f : b.faces) {
        for (int& w : f) w += a.V;
        m.faces.push_back(f);
    }
    m.V = a.V + b.V;
    return m;
}

// The same surface with its vertices renamed and its faces reordered.
inline Mesh shuffled(const Mesh& m, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int> perm(static_cast<size_t>(m.V));
    std::iota(perm.begin(), perm.end(), 0);
    std::shuffle(perm.begin(), perm.end(), rng);
    Mesh out = m;
    for (auto& f : out.faces)
        for (int& w : f) w = perm[w];
    std::shuffle(out.faces.begin(), out.faces.end(), rng);
    return out;
}

// The first violated invariant of a decomposition, or an empty string: every
// vertex exactly once, every term earlier in decoding order, weights exactly
// 1/n, list lengths; with `clean` also at least three terms and an ordered
// ring for every vertex of layers >= 1.
inline std::string layeringViolation(const orv::LODConnectivity& lod, bool clean) {
    char msg[200];
    if (static_cast<int>(lod.vertexOrder_.size()) != lod.nSL || static_cast<int>(lod.vertexPredictor_.size()) != lod.nSL ||
        static_cast<int>(lod.isOrientable_.size()) != lod.nSL)
        return "layer list count differs from nSL";
    std::vector<int> seen(static_cast<size_t>(lod.V), 0);
    for (int l = 0; l < lod.nSL; ++l) {
        const auto& order = lod.vertexOrder_[l];
        if (order.size() != lod.vertexPredictor_[l].size() || order.size() != lod.isOrientable_[l].size())
            return "list lengths differ in layer " + std::to_string(l);
        for (size_t k = 0; k < order.size(); ++k) {
            const int v = order[k];
            if (v < 0 || v >= lod.V) return "vertex id out of range";
            const auto& terms = lod.vertexPredictor_[l][k];
            for (const auto& t : terms) {
                if (t.first < 0 || t.first >= lod.V || seen[t.first] == 0) {
                    std::snprintf(msg, sizeof msg, "layer %d vertex %d refers to %d before it is decoded", l, v, t.first);
                    return msg;
                }
                if (t.second != 1.0 / static_cast<double>(terms.size())) return "weight is not exactly 1/n";
            }
            if (clean && l >= 1 && (terms.size() < 3 || !lod.isOrientable_[l][k])) {
                std::snprintf(msg, sizeof msg, "layer %d vertex %d has %zu terms", l, v, terms.size());
                return msg;
            }
            if (++seen[v] != 1) return "vertex " + std::to_string(v) + " stands twice";
        }
    }
    for (int v = 0; v < lod.V; ++v)
        if (seen[v] != 1) return "vertex " + std::to_string(v) + " is missing";
    return {};
}

namespace sha {

inline constexpr std::array<uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01,
    0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc,
    0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116, 0x1e376c08,
    0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace sha

// Lower-case hex SHA-256 of the text.
inline std::string sha256Hex(const std::string& text) {
    std::array<uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::string data = text;
    const uint64_t bits = static_cast<uint64_t>(text.size()) * 8;
    data += static_cast<char>(0x80);
    while (data.size() % 64 != 56) data += '\0';
    for (int i = 7; i >= 0; --i) data += static_cast<char>((bits >> (8 * i)) & 0xff);
    for (size_t off = 0; off < data.size(); off += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            w[i] = 0;
            for (int j = 0; j < 4; ++j) w[i] = (w[i] << 8) | static_cast<unsigned char>(data[off + 4 * i + j]);
        }
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = sha::rotr(w[i - 15], 7) ^ sha::rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = sha::rotr(w[i - 2], 17) ^ sha::rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::array<uint32_t, 8> v = h;
        for (int i = 0; i < 64; ++i) {
            const uint32_t S1 = sha::rotr(v[4], 6) ^ sha::rotr(v[4], 11) ^ sha::rotr(v[4], 25);
            const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
            const uint32_t t1 = v[7] + S1 + ch + sha::kRound[i] + w[i];
            const uint32_t S0 = sha::rotr(v[0], 2) ^ sha::rotr(v[0], 13) ^ sha::rotr(v[0], 22);
            const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
            const uint32_t t2 = S0 + maj;
            v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
        }
        for (int i = 0; i < 8; ++i) h[i] += v[i];
    }
    std::string hex;
    char buf[9];
    for (uint32_t x : h) {
        std::snprintf(buf, sizeof buf, "%08x", x);
        hex += buf;
    }
    return hex;
}

}  // namespace orvtest
