// The connectivity model's rank structures and FIFOs against plain lists,
// and the exact bytes of the codec on generated meshes in every mode, so
// that a change made for speed that moves a single coded bit is caught.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <string>

#include "Common/BitWords.h"
#include "Connectivity/ConnectivityCodec.h"
#include "Connectivity/ConnectivityModel.h"
#include "GeneratedMeshes.h"

using namespace orv;
using orvtest::GeneratedMesh;

namespace {

// Renumbering and reordering by the raw outputs of mt19937 (fully specified,
// unlike std::shuffle), so that the pinned encodings hold on every library.
inline GeneratedMesh renumbered(GeneratedMesh _mesh, uint32_t _seed) {
    std::mt19937 rng(_seed);
    std::vector<int32_t> perm(static_cast<size_t>(_mesh.vertexCount));
    for (size_t i = 0; i < perm.size(); ++i) perm[i] = static_cast<int32_t>(i);
    for (size_t i = perm.size(); i > 1; --i) std::swap(perm[i - 1], perm[rng() % i]);
    for (int32_t& v : _mesh.indices) v = perm[static_cast<size_t>(v)];
    return _mesh;
}
inline GeneratedMesh reordered(GeneratedMesh _mesh, uint32_t _seed) {
    std::mt19937 rng(_seed);
    const size_t F = _mesh.indices.size() / 3;
    std::vector<size_t> order(F);
    for (size_t i = 0; i < F; ++i) order[i] = i;
    for (size_t i = F; i > 1; --i) std::swap(order[i - 1], order[rng() % i]);
    std::vector<int32_t> out;
    for (size_t f : order) {
        const uint32_t r = rng() % 3;
        for (uint32_t k = 0; k < 3; ++k) out.push_back(_mesh.indices[3 * f + (k + r) % 3]);
    }
    _mesh.indices = std::move(out);
    return _mesh;
}

uint64_t fnv1a(const std::vector<uint8_t>& _bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t c : _bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

TEST(ConnectivityModel, BitCountsWidthsAndSelectionMatchABitByBitWalk) {
    std::mt19937_64 rng(3);
    std::vector<uint64_t> words = {0, 1, 1ull << 63, ~0ull, 0x8000000000000001ull, 0xFF00FF00FF00FF00ull};
    for (int i = 0; i < 2000; ++i) words.push_back(rng() & rng());  // sparse and dense words
    for (uint64_t w : words) {
        int n = 0;
        for (int b = 0; b < 64; ++b) {
            if (!((w >> b) & 1u)) continue;
            ASSERT_EQ(selectBit(w, n), b) << std::hex << w << " rank " << std::dec << n;
            ++n;
        }
        ASSERT_EQ(popcount64(w), n) << std::hex << w;
        uint32_t width = 0;
        for (uint64_t m = w; m != 0; m >>= 1) ++width;
        ASSERT_EQ(bitWidth64(w), width) << std::hex << w;
    }
}

// The unseen set against a plain array, for counts on and around the 64-bit
// word boundaries, with ranks asked before the tree exists (the lowest
// unseen vertex) and after (the tree kept up to date by every markSeen).
TEST(ConnectivityModel, UnseenRanksMatchAPlainArray) {
    for (int32_t V : {1, 2, 63, 64, 65, 127, 128, 129, 700}) {
        std::mt19937 rng(static_cast<uint32_t>(V));
        UnseenVertices unseen(V);
        std::vector<bool> seen(static_cast<size_t>(V), false);
        std::vector<int32_t> order(static_cast<size_t>(V));
        for (int32_t i = 0; i < V; ++i) order[static_cast<size_t>(i)] = i;
        // The first few in order (the lowest-vertex path), the rest at random.
        for (size_t i = order.size(); i > 1 + order.size() / 8; --i) std::swap(order[i - 1], order[order.size() / 8 + rng() % (i - order.size() / 8)]);
        for (size_t step = 0; step <= order.size(); ++step) {
            std::vector<int32_t> plain;  // unseen, ascending
            for (int32_t v = 0; v < V; ++v)
                if (!seen[static_cast<size_t>(v)]) plain.push_back(v);
            ASSERT_EQ(unseen.remaining(), static_cast<int32_t>(plain.size()));
            if (step % 7 == 0 || step + 3 > order.size()) {
                uint32_t below = 0;
                for (int32_t v = 0; v <= V; ++v) {
                    ASSERT_EQ(unseen.rankOf(v), below) << "V " << V << " v " << v << " step " << step;
                    if (v < V) {
                        ASSERT_EQ(unseen.seen(v), seen[static_cast<size_t>(v)]);
                        below += seen[static_cast<size_t>(v)] ? 0 : 1;
                    }
                }
                for (size_t r = 0; r < plain.size(); ++r) ASSERT_EQ(unseen.atRank(static_cast<uint32_t>(r)), plain[r]) << "V " << V;
            } else if (!plain.empty()) {
                ASSERT_EQ(unseen.atRank(0), plain[0]);
            }
            if (step == order.size()) break;
            unseen.markSeen(order[step]);
            seen[static_cast<size_t>(order[step])] = true;
        }
    }
}

TEST(ConnectivityModel, BorderRanksMatchAPlainSet) {
    for (int32_t V : {5, 64, 65, 300}) {
        std::mt19937 rng(static_cast<uint32_t>(V) + 1);
        BorderVertices border(V);
        std::vector<bool> on(static_cast<size_t>(V), false);
        for (int step = 0; step < 600; ++step) {
            const int32_t v = static_cast<int32_t>(rng() % static_cast<uint32_t>(V));
            const bool value = rng() % 3 != 0;
            border.set(v, value);
            on[static_cast<size_t>(v)] = value;
            if (step % 5 != 0) continue;  // the tree, once built, follows every change
            std::vector<int32_t> plain;
            for (int32_t u = 0; u < V; ++u) {
                ASSERT_EQ(border.rankBelow(u), static_cast<int32_t>(plain.size())) << "V " << V << " u " << u;
                if (on[static_cast<size_t>(u)]) plain.push_back(u);
            }
            ASSERT_EQ(border.size(), static_cast<int32_t>(plain.size()));
            for (size_t r = 0; r < plain.size(); ++r) ASSERT_EQ(border.atRank(static_cast<int32_t>(r)), plain[r]);
            // Windows across word ends and past either end of the range.
            for (int64_t from = -40; from < V + 40; from += 7)
                for (int n : {1, 8, 17, 32}) {
                    uint32_t expected = 0;
                    for (int i = 0; i < n; ++i) {
                        const int64_t u = from + i;
                        if (u >= 0 && u < V && on[static_cast<size_t>(u)]) expected |= 1u << i;
                    }
                    ASSERT_EQ(border.window(from, n), expected) << "V " << V << " from " << from << " n " << n;
                }
        }
    }
}

// The candidates of a vertex decision walked list by list give what their
// places give, for faces with and without an edge to close, beside one or
// no known vertex, with lists cut at kMaxCandidates.
TEST(ConnectivityModel, CandidatesWalkedListByListMatchTheirPlaces) {
    std::mt19937 rng(11);
    const int32_t V = 40;
    VertexLinkTable table(V);
    Adjacency adjacency(table);
    OpenEdges open(table);
    for (int step = 0; step < 400; ++step) {
        const int32_t a = static_cast<int32_t>(rng() % V), b = static_cast<int32_t>(rng() % V);
        if (!open.add(a, b)) adjacency.link(a, b);
        const int32_t x = rng() % 4 == 0 ? -1 : static_cast<int32_t>(rng() % V);
        const int32_t y = static_cast<int32_t>(rng() % V);
        for (bool closing : {false, true}) {
            if (closing && x < 0) continue;
            const Candidates cand(open, adjacency, x, y, closing);
            std::vector<int32_t> walked, placed;
            cand.forEach([&](int32_t _v) { walked.push_back(_v); });
            for (int i = 0; i < cand.count(); ++i) placed.push_back(cand.at(i));
            ASSERT_EQ(walked, placed) << "step " << step << " x " << x << " y " << y << " closing " << closing;
        }
    }
}

// The steps to old vertices against a plain construction of the list, read
// one by one and at places skipped to (past whole sources, into the middle
// of one, past the end), over a run of lists with the FIFO and the border
// changing in between, so that what one list took or the FIFO held never
// leaks into a later list.
TEST(ConnectivityModel, NearOldListsMatchAPlainConstruction) {
    std::mt19937 rng(5);
    const int32_t V = 300;
    VertexLinkTable table(V);
    Adjacency adjacency(table);
    OpenEdges open(table);
    BorderVertices border(V);
    VertexFifo fifo;
    NearOldNumbers near(V), jump(V);  // jump: read at places skipped to by nextAfter
    for (int list = 0; list < 300; ++list) {
        for (int i = 0; i < 20; ++i) border.set(static_cast<int32_t>(rng() % V), rng() % 3 != 0);
        for (int i = 0; i < 3; ++i) {
            const int32_t v = static_cast<int32_t>(rng() % V);  // also near the ends of the range
            const int32_t out = fifo.push(v);
            near.fifoMoved(v, out);
            jump.fifoMoved(v, out);
        }
        for (int i = 0; i < 4; ++i) adjacency.link(static_cast<int32_t>(rng() % V), static_cast<int32_t>(rng() % V));
        const int slot = static_cast<int>(rng() % 5);
        const auto pick = [&] { return rng() % 5 == 0 ? -1 : static_cast<int32_t>(rng() % V); };
        const int32_t x = pick(), y = pick(), previousFirst = pick(), lastOld = pick();
        const Candidates cand(open, adjacency, x, y, false);
        near.start(slot, x, y, previousFirst, lastOld, fifo, cand);
        std::vector<int32_t> got;
        for (int32_t c = near.next(border); c >= 0; c = near.next(border)) got.push_back(c);

        std::vector<int32_t> sources;
        const bool first = slot == 0 || slot == 4;
        const std::vector<int32_t> refs = first ? std::vector<int32_t>{previousFirst, lastOld, y, x}
                                          : slot == 3 ? std::vector<int32_t>{y, x, previousFirst, lastOld}
                                                      : std::vector<int32_t>{y, lastOld, previousFirst, x};
        for (int32_t r : refs)
            if (r >= 0) sources.push_back(r);
        for (int i = 0; i < fifo.count(); ++i) sources.push_back(fifo.at(i));
        std::vector<int32_t> expected;
        for (int32_t r : sources)
            for (int32_t k = 1; k <= kNearOldSteps; ++k)
                for (int32_t v : {r + k, r - k}) {
                    if (v < 0 || v >= V || !border.has(v) || fifo.find(v) >= 0 || cand.find(v) >= 0) continue;
                    if (std::find(expected.begin(), expected.end(), v) != expected.end()) continue;
                    if (expected.size() < static_cast<size_t>(kMaxNearOld)) expected.push_back(v);
                }
        ASSERT_EQ(got, expected) << "list " << list;

        jump.start(slot, x, y, previousFirst, lastOld, fifo, cand);
        size_t at = 0;
        for (;;) {
            const int skip = static_cast<int>(rng() % (list % 3 == 0 ? 70 : 12));
            const int32_t c = jump.nextAfter(skip, border);
            at += static_cast<size_t>(skip);
            ASSERT_EQ(c, at < expected.size() ? expected[at] : -1) << "list " << list << " place " << at;
            if (c < 0) break;
            ++at;
        }
        EXPECT_EQ(jump.next(border), -1) << "list " << list;
    }
}

// The edge FIFO against a deque, newest first, over thousands of pushes (the
// window slides back through its buffer many times) with vertex numbers
// from a small range, so that closing edges, repeated edges and edges of the
// same hash bucket all occur; with and without the counts that let a push
// skip the search.
TEST(ConnectivityModel, EdgeFifoMatchesAPlainList) {
    for (bool counted : {false, true}) {
        std::mt19937 rng(9);
        EdgeFifo fifo(counted);
        std::deque<DirectedEdge> plain;  // newest first
        auto plainPush = [&](const DirectedEdge& _e) {
            plain.push_front(_e);
            if (plain.size() > static_cast<size_t>(kEdgeFifoSize)) plain.pop_back();
        };
        int closed = 0;
        for (int step = 0; step < 20000; ++step) {
            const int32_t a = static_cast<int32_t>(rng() % 12), b = static_cast<int32_t>(rng() % 12), c = static_cast<int32_t>(step);
            const uint32_t what = rng() % 8;
            if (what < 3) {
                fifo.push(a, b, c);
                plainPush({a, b, c});
            } else if (what < 7) {
                fifo.pushOrClose(a, b, c);
                auto it = std::find_if(plain.begin(), plain.end(), [&](const DirectedEdge& _e) { return _e.from == b && _e.to == a; });
                if (it != plain.end()) {
                    plain.erase(it);
                    ++closed;
                } else {
                    plainPush({a, b, c});
                }
            } else if (!plain.empty()) {
                const int i = static_cast<int>(rng() % plain.size());
                fifo.remove(i);
                plain.erase(plain.begin() + i);
            }
            ASSERT_EQ(fifo.count(), static_cast<int>(plain.size())) << "step " << step << (counted ? ", counted" : "");
            for (size_t i = 0; i < plain.size(); ++i) {
                const DirectedEdge& e = fifo.at(static_cast<int>(i));
                ASSERT_TRUE(e.from == plain[i].from && e.to == plain[i].to && e.opposite == plain[i].opposite)
                    << "step " << step << " place " << i;
            }
        }
        EXPECT_GT(closed, 1000);
    }
}

// The bytes of every mode on small generated meshes, as first coded: the
// decoder and the encoder share the model, so a faster model that changes
// a decision would still round-trip; only the bytes show it.
TEST(ConnectivityModel, EveryModeCodesTheSameBytesAsBefore) {
    struct Pinned {
        const char* name;
        GeneratedMesh mesh;
        uint64_t hash[kLastCodingMode - kFirstCodingMode + 1];
    };
    const Pinned pinned[] = {
        {"torus", orvtest::torusMesh(20, 25), {0x401561db49a3b08eull, 0x772bf138a1e8855eull, 0x437413d8c5632593ull, 0xbbd25fd0e3ee5f29ull, 0x6abc58b65dda5f7full, 0x24ce63f1317b143aull, 0xd79aa4529f3c0195ull, 0x087e1a72e6510e43ull, 0x209e2bc31b26816full,
                                                       0xd2498c9d36123602ull, 0xad8bcecf9d007e72ull, 0xb5e98abc5e7d9a21ull, 0x61c5cb7311b37cf8ull, 0xf74c4f2da0250f96ull, 0xbfa5e79ea075e68aull}},
        {"renumbered torus", renumbered(orvtest::torusMesh(20, 25), 3), {0xb275d8bae744b3c5ull, 0x882f97d7346f2a66ull, 0x649a2a5538c7b548ull, 0x711dc3b0e14c3745ull, 0x7288e5e3f5e0c72cull, 0x0b72841edc24369full, 0xb43d11e04ac76d1cull, 0xbe833cae8b463b4aull, 0xf9b393604af86dadull,
                                                       0xe3bf4dcede22f017ull, 0xa249aab951b806e8ull, 0x7d60cc4c9db88687ull, 0x720d9e90e4fd7cd6ull, 0x8bb91b97bcb16569ull, 0x59dc6ab7c2e56dfdull}},
        {"reordered torus", reordered(orvtest::torusMesh(20, 25), 4), {0xb630cddc2650b953ull, 0xdf94f26d59ae7bddull, 0x3483170622520fd5ull, 0xe37f791b3b7ae26bull, 0x14a1100d4ed1722full, 0x87491c888fceee36ull, 0x7e0049fa6661f32bull, 0xaf9046eeb8544437ull, 0x043ab975e8371a07ull,
                                                       0x80a5f8a1f0eceb62ull, 0x5eba8260a0f98d94ull, 0xc036904c4eac1e75ull, 0x05a44f606cadb0d8ull, 0xbb6be17282276204ull, 0xfcb9e47a43c9f5e9ull}},
        {"grid", orvtest::gridMesh(30, 30), {0xd5db74589ced86b3ull, 0xe79f7658584e2f6full, 0xf4413bdb947775d3ull, 0x16e8ca69a66faaa4ull, 0x0038e60019aeeb61ull, 0x8f3aa389af9f42b9ull, 0x8c36147b7156c530ull, 0x95e9c84505ea5b13ull, 0x488286b0d2a9a8daull,
                                                       0x396d99098e9dd4f5ull, 0x8ce795ac27ee0fe7ull, 0x9698bf35354e69bcull, 0xfa21f3b5d00a3318ull, 0xd3e950f8132c9423ull, 0x8b02f793771f74c2ull}},
        {"renumbered grid", renumbered(orvtest::gridMesh(30, 30), 5), {0x4e543cc3a33179caull, 0x3ee9d60086f49257ull, 0x2a9f3492317f153eull, 0x1fa7e82cdcd46593ull, 0x4bb380d5b6a2c5e6ull, 0x3dab0387c0457154ull, 0xb50db2523701dc31ull, 0x6c657888a33a49adull, 0x16925851125df3a3ull,
                                                       0x6fb62bf8082b625eull, 0x674fc4538cc76a64ull, 0xa303127ba759e1a8ull, 0x954c530494d09417ull, 0x5bf40225c8fd2a8eull, 0x49ed7401be8b4de5ull}},
        {"patch grid", orvtest::patchGridMesh(12, 10), {0xcd0ffe1214890175ull, 0xfbd60fa0c257ff85ull, 0x764938b9074c4ff3ull, 0xbcd160657c993d9aull, 0xea45aedc8ddf4cb1ull, 0xccd5cd4e53934698ull, 0x9deedd3b70c8c633ull, 0xedace2c4c6b9dd50ull, 0xea11a5de41279b05ull,
                                                       0x35dd0230d0b82f7cull, 0x1764163ee999e164ull, 0x178810eece5c3d7eull, 0x9179e44ff86c5d7bull, 0xab83685b349606caull, 0xc740038ebcbda84dull}},
        {"renumbered patch grid", renumbered(orvtest::patchGridMesh(12, 10), 6), {0xe1c2f8f308d8a6a5ull, 0x568ef2d7b32a5f5dull, 0xe9cb2e0c649020c0ull, 0xf932c1bc7c979f6aull, 0xf8d57af12b3f4fffull, 0xd624c36401075140ull, 0x51e6c928967d830full, 0xbf436eddb2bf1cc8ull, 0xd054be1ffe18fb40ull,
                                                       0xc883bf7b77b8aba3ull, 0xac0b34debdccfa36ull, 0xc82abfc5153a85e2ull, 0x317ecdd5cae1808eull, 0x962e72e9b55f1485ull, 0x958aef7d6c0b937full}},
    };
    for (const Pinned& p : pinned)
        for (uint8_t mode = kFirstCodingMode; mode <= kLastCodingMode; ++mode) {
            const std::vector<uint8_t> coded = encodeConnectivityInMode(p.mesh.indices, p.mesh.vertexCount, mode);
            EXPECT_EQ(fnv1a(coded), p.hash[mode - kFirstCodingMode]) << p.name << ", mode " << int(mode);
            const Connectivity back = decodeConnectivity(coded.data(), coded.size());
            ASSERT_EQ(back.indices, p.mesh.indices) << p.name << ", mode " << int(mode);
        }
}

}  // namespace
