// The connectivity codec: exact round trips (face order and rotation) on
// generated and real meshes, and refusal of every kind of damaged payload.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "Common/Check.h"
#include "Connectivity/ConnectivityCodec.h"
#include "Connectivity/ConnectivityModel.h"
#include "Connectivity/VarInt.h"
#include "GeneratedMeshes.h"
#include "TestSupport.h"

using namespace orv;
using orvtest::GeneratedMesh;

namespace {

void expectRoundTrip(const GeneratedMesh& _m) {
    const std::vector<uint8_t> coded = encodeConnectivity(_m.indices, _m.vertexCount);
    const Connectivity back = decodeConnectivity(coded.data(), coded.size());
    EXPECT_EQ(back.vertexCount, _m.vertexCount);
    ASSERT_EQ(back.indices, _m.indices);
}

std::string decodeError(const std::vector<uint8_t>& _bytes) {
    try {
        decodeConnectivity(_bytes.data(), _bytes.size());
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// The rows of cells of a grid in the order 0, 2, 4, ..., then 1, 3, 5, ...:
// every odd row continues edges that left any recent history long ago.
GeneratedMesh interleavedRows(int _w, int _h) {
    const GeneratedMesh grid = orvtest::gridMesh(_w, _h);
    const size_t row = 6 * static_cast<size_t>(_w - 1);
    GeneratedMesh m{grid.vertexCount, {}};
    for (int parity = 0; parity < 2; ++parity)
        for (size_t r = static_cast<size_t>(parity); r < static_cast<size_t>(_h - 1); r += 2)
            m.indices.insert(m.indices.end(), grid.indices.begin() + static_cast<std::ptrdiff_t>(r * row),
                             grid.indices.begin() + static_cast<std::ptrdiff_t>((r + 1) * row));
    return m;
}

// A grid numbered in rows whose cells are coded column by column: a new
// vertex is never the number after the last new one, but the step across
// the edge it is coded on repeats.
GeneratedMesh columnOrderGrid(int _w, int _h) {
    GeneratedMesh m{_w * _h, {}};
    for (int x = 0; x + 1 < _w; ++x)
        for (int y = 0; y + 1 < _h; ++y) {
            const int32_t a = y * _w + x, b = a + 1, c = a + _w, d = c + 1;
            m.indices.insert(m.indices.end(), {a, c, d, a, d, b});
        }
    return m;
}

// The cells of a grid as quads (two triangles each) in checkerboard order:
// first every cell with x + y even, then the others, each of which meets
// four earlier quads. The halves of a quad always come as a pair.
GeneratedMesh checkerboardQuads(int _w, int _h) {
    GeneratedMesh m{_w * _h, {}};
    for (int parity = 0; parity < 2; ++parity)
        for (int y = 0; y + 1 < _h; ++y)
            for (int x = 0; x + 1 < _w; ++x) {
                if ((x + y) % 2 != parity) continue;
                const int32_t a = y * _w + x, b = a + 1, c = a + _w, d = c + 1;
                m.indices.insert(m.indices.end(), {a, b, d, a, d, c});
            }
    return m;
}

// A torus whose vertices are numbered in the order of one coordinate, as
// files that sort their vertices by x: a new vertex's number lies between
// those of its neighbours but follows neither the faces nor the rows.
GeneratedMesh coordinateSortedTorus(int _n, int _m) {
    const GeneratedMesh torus = orvtest::torusMesh(_n, _m);
    std::vector<std::pair<double, int32_t>> order;
    for (int32_t v = 0; v < torus.vertexCount; ++v) {
        const double u = 2 * M_PI * (v / _m) / _n, w = 2 * M_PI * (v % _m) / _m;
        order.push_back({(3 + std::cos(w)) * std::cos(u), v});
    }
    std::sort(order.begin(), order.end());
    std::vector<int32_t> number(order.size());
    for (size_t i = 0; i < order.size(); ++i) number[static_cast<size_t>(order[i].second)] = static_cast<int32_t>(i);
    GeneratedMesh m{torus.vertexCount, torus.indices};
    for (int32_t& v : m.indices) v = number[static_cast<size_t>(v)];
    return m;
}

// The mode byte follows the two counts and the checksum.
size_t modeByteAt(const std::vector<uint8_t>& _coded) {
    size_t pos = 0;
    uint64_t V = 0, F = 0;
    EXPECT_TRUE(readVarUInt(_coded.data(), _coded.size(), pos, V));
    EXPECT_TRUE(readVarUInt(_coded.data(), _coded.size(), pos, F));
    return pos + 4;
}

double bitsPerTriangle(const GeneratedMesh& _m) {
    return 8.0 * static_cast<double>(encodeConnectivity(_m.indices, _m.vertexCount).size()) /
           static_cast<double>(_m.indices.size() / 3);
}

// Every single-bit flip of the coded _m is refused or decodes to exactly the
// original: never a crash, never silently different faces.
void expectBitFlipsCaught(const GeneratedMesh& _m, const std::vector<uint8_t>& _good) {
    const std::vector<uint8_t>& good = _good;
    for (size_t i = 0; i < good.size(); ++i)
        for (int b = 0; b < 8; ++b) {
            std::vector<uint8_t> bad = good;
            bad[i] = static_cast<uint8_t>(bad[i] ^ (1 << b));
            try {
                const Connectivity c = decodeConnectivity(bad.data(), bad.size());
                EXPECT_EQ(c.indices, _m.indices) << "byte " << i << " bit " << b;
            } catch (const Error&) {
            }
        }
}

void expectBitFlipsCaught(const GeneratedMesh& _m) { expectBitFlipsCaught(_m, encodeConnectivity(_m.indices, _m.vertexCount)); }

}  // namespace

TEST(ConnectivityCodec, RoundTripsFaceOrdersThatJumpBack) {
    expectRoundTrip(interleavedRows(30, 21));
    // A fan of many faces around one vertex, coded out of order, so that the
    // centre has more open edges than are kept; and an edge shared by three
    // faces (not a manifold).
    GeneratedMesh fan{41, {}};
    for (int32_t i = 1; i < 41; i += 2) fan.indices.insert(fan.indices.end(), {0, i, i % 40 + 1});
    for (int32_t i = 2; i < 41; i += 2) fan.indices.insert(fan.indices.end(), {0, i, i % 40 + 1});
    fan.indices.insert(fan.indices.end(), {1, 0, 5, 0, 1, 7, 1, 0, 9});
    expectRoundTrip(fan);
    // The same vertex named far away from any face coded before it.
    GeneratedMesh far{2000, {}};
    for (int32_t i = 0; i + 2 < 2000; i += 3) far.indices.insert(far.indices.end(), {i, i + 1, i + 2});
    for (int32_t i = 0; i + 5 < 2000; i += 97) far.indices.insert(far.indices.end(), {i, i + 4, 1999 - i});
    expectRoundTrip(far);
}

TEST(ConnectivityCodec, ShuffledFaceOrdersFindTheirEdgesAnywhere) {
    // A face of a shuffled order shares edges with faces anywhere before it
    // and names its other vertices among the border ones: well below naming
    // three vertices outright.
    const GeneratedMesh shuffled = orvtest::shuffledFaces(orvtest::torusMesh(60, 60));
    EXPECT_LT(bitsPerTriangle(shuffled), 0.68 * 3 * std::log2(3600.0));
}

TEST(ConnectivityCodec, RoundTripsGeneratedMeshesExactly) {
    expectRoundTrip(orvtest::gridMesh(40, 30));
    expectRoundTrip(orvtest::torusMesh(24, 17));
    expectRoundTrip(orvtest::shuffledVertices(orvtest::gridMesh(50, 50)));
    expectRoundTrip(orvtest::shuffledFaces(orvtest::torusMesh(30, 30)));
    expectRoundTrip(orvtest::shuffledFaces(orvtest::shuffledVertices(orvtest::gridMesh(33, 20))));
    expectRoundTrip(GeneratedMesh{0, {}});
    expectRoundTrip(GeneratedMesh{5, {}});  // vertices but no faces
    // Degenerate and repeated faces, unreferenced vertices, a vertex used
    // again long after it left every FIFO.
    GeneratedMesh odd{300, {0, 0, 0, 1, 2, 1, 2, 1, 0, 2, 1, 0, 299, 3, 4}};
    for (int32_t i = 5; i < 200; ++i) odd.indices.insert(odd.indices.end(), {i, i - 1, i - 2});
    odd.indices.insert(odd.indices.end(), {299, 0, 150, 4, 150, 299});
    expectRoundTrip(odd);
}

TEST(ConnectivityCodec, RoundTripsRandomTriangleSoups) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 20; ++trial) {
        GeneratedMesh m;
        m.vertexCount = 1 + static_cast<int32_t>(rng() % 500);
        const int F = static_cast<int>(rng() % 400);
        for (int i = 0; i < 3 * F; ++i) m.indices.push_back(static_cast<int32_t>(rng() % static_cast<uint32_t>(m.vertexCount)));
        expectRoundTrip(m);
    }
}

TEST(ConnectivityCodec, RoundTripsEveryRealSequence) {
    for (const char* name : {"horse-gallop", "chickenCrossing", "pcow", "pdance"}) {
        ORV_REQUIRE_SEQUENCE(dir, name);
        FaceList faces;
        const auto first = readOBJ(orvtest::sequenceFrames(dir).front().string(), faces);
        ASSERT_TRUE(first);
        const std::vector<int32_t> flat = toFlatIndices(faces);
        const std::vector<uint8_t> coded = encodeConnectivity(flat, first->V);
        EXPECT_EQ(decodeConnectivity(coded.data(), coded.size()).indices, flat) << name;
    }
}

TEST(ConnectivityCodec, NewVerticesFollowTheStepAcrossTheEdge) {
    // Coded column by column, the row numbering costs little more than the
    // grid in its own order; against the last new vertex alone each new
    // vertex would cost a step of about the grid's width.
    const GeneratedMesh columns = columnOrderGrid(120, 90);
    expectRoundTrip(columns);
    EXPECT_LT(bitsPerTriangle(columns), 1.0);
    expectRoundTrip(columnOrderGrid(7, 40));
    expectBitFlipsCaught(columnOrderGrid(9, 8));
}

TEST(ConnectivityCodec, ScatteredQuadsCodeTheirSecondHalvesAsPairs) {
    // The second half of every quad closes the pair its first half opened,
    // and the first halves of the odd cells name vertices of earlier quads:
    // 2.45 bits per triangle before the pair contexts and the references of
    // old vertices, 2.05 with them.
    const GeneratedMesh quads = checkerboardQuads(40, 30);
    expectRoundTrip(quads);
    EXPECT_LT(bitsPerTriangle(quads), 2.25);
    expectBitFlipsCaught(checkerboardQuads(8, 7));
}

TEST(ConnectivityCodec, CoordinateSortedNumbersStepAmongTheUnseenVertices) {
    const GeneratedMesh sorted = coordinateSortedTorus(60, 40);
    const std::vector<uint8_t> coded = encodeConnectivity(sorted.indices, sorted.vertexCount);
    EXPECT_EQ(baseMode(coded[modeByteAt(coded)]), kNeighbourStepMode);
    expectRoundTrip(sorted);
    // 3.09 bits per triangle with steps counted in numbers, 2.65 among the
    // unseen vertices from the best of three predictions.
    EXPECT_LT(bitsPerTriangle(sorted), 2.85);
    expectBitFlipsCaught(coordinateSortedTorus(12, 9));
}

TEST(ConnectivityCodec, RefusesListsOfTheEarlierModelByName) {
    const GeneratedMesh m = orvtest::torusMesh(12, 10);
    std::vector<uint8_t> coded = encodeConnectivity(m.indices, m.vertexCount);
    const size_t at = modeByteAt(coded);
    for (uint8_t old : {0, 1}) {
        coded[at] = old;
        EXPECT_NE(decodeError(coded).find("earlier version"), std::string::npos) << int(old);
    }
    coded[at] = kLastCodingMode + 1;
    EXPECT_NE(decodeError(coded).find("unknown coding mode"), std::string::npos);
}

TEST(ConnectivityCodec, EncoderRefusesIndicesOutOfRange) {
    EXPECT_THROW(encodeConnectivity({0, 1, 3}, 3), Error);
    EXPECT_THROW(encodeConnectivity({0, -1, 2}, 3), Error);
    EXPECT_THROW(encodeConnectivity({0, 1}, 3), Error);
}

TEST(ConnectivityCodec, RefusesDamagedPayloads) {
    const GeneratedMesh m = orvtest::torusMesh(20, 20);
    const std::vector<uint8_t> good = encodeConnectivity(m.indices, m.vertexCount);
    // Every truncation.
    for (size_t n = 0; n < good.size(); ++n) {
        const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_NE(decodeError(cut), "") << "truncated to " << n;
    }
    // Trailing garbage.
    std::vector<uint8_t> longer = good;
    longer.push_back(0x55);
    EXPECT_NE(decodeError(longer).find("trailing"), std::string::npos);
    expectBitFlipsCaught(m);
}

TEST(ConnectivityCodec, RefusesDamagedPayloadsOfJumpingFaceOrders) {
    // Open edges, border ranks and closing vertices all decode from the
    // damaged bytes here.
    expectBitFlipsCaught(orvtest::shuffledFaces(orvtest::torusMesh(9, 8)));
    expectBitFlipsCaught(interleavedRows(12, 9));
}

TEST(ConnectivityCodec, LyingCountsAreRefusedBeforeAllocating) {
    const GeneratedMesh m = orvtest::gridMesh(10, 10);
    const std::vector<uint8_t> good = encodeConnectivity(m.indices, m.vertexCount);
    size_t pos = 0;
    uint64_t V = 0, F = 0;
    ASSERT_TRUE(readVarUInt(good.data(), good.size(), pos, V));
    ASSERT_TRUE(readVarUInt(good.data(), good.size(), pos, F));
    const std::vector<uint8_t> rest(good.begin() + static_cast<std::ptrdiff_t>(pos), good.end());
    auto withCounts = [&](uint64_t _V, uint64_t _F) {
        std::vector<uint8_t> out;
        appendVarUInt(out, _V);
        appendVarUInt(out, _F);
        out.insert(out.end(), rest.begin(), rest.end());
        return out;
    };
    EXPECT_NE(decodeError(withCounts(V, 1ull << 40)).find("face count"), std::string::npos);
    EXPECT_NE(decodeError(withCounts(1ull << 40, F)).find("vertex count"), std::string::npos);
    EXPECT_NE(decodeError(withCounts(V * 1000, F)).find("vertex count"), std::string::npos);
    EXPECT_NE(decodeError(withCounts(V, F + 1)), "");   // one face more than coded
    EXPECT_NE(decodeError(withCounts(V, F - 1)), "");   // one face fewer
    EXPECT_NE(decodeError(withCounts(V - 10, F)), "");  // indices beyond the stated count
    EXPECT_NE(decodeError({0xFF, 0xFF, 0xFF}), "");
}

TEST(ConnectivityCodec, EveryModeRoundTripsIncludingThoseOfEarlierVersions) {
    // Lists written before recency ranks keep decoding; every mode meets
    // meshes that name far vertices (shuffled faces, scattered quads).
    const GeneratedMesh meshes[] = {orvtest::shuffledFaces(orvtest::torusMesh(20, 20)), checkerboardQuads(20, 15),
                                    interleavedRows(20, 13), orvtest::shuffledVertices(orvtest::gridMesh(25, 25))};
    for (uint8_t mode = kFirstCodingMode; mode <= kLastCodingMode; ++mode)
        for (const GeneratedMesh& m : meshes) {
            const std::vector<uint8_t> coded = encodeConnectivityInMode(m.indices, m.vertexCount, mode);
            ASSERT_EQ(coded[modeByteAt(coded)], mode);
            EXPECT_EQ(decodeConnectivity(coded.data(), coded.size()).indices, m.indices) << int(mode);
        }
    // Random soups break every manifold assumption of the pruned FIFOs: an
    // edge or vertex dropped from them must still be codable another way.
    std::mt19937 rng(9);
    for (int trial = 0; trial < 6; ++trial) {
        GeneratedMesh soup{1 + static_cast<int32_t>(rng() % 60), {}};
        for (int i = 0; i < 3 * 150; ++i) soup.indices.push_back(static_cast<int32_t>(rng() % static_cast<uint32_t>(soup.vertexCount)));
        for (uint8_t mode = kFirstCodingMode; mode <= kLastCodingMode; ++mode) {
            const std::vector<uint8_t> coded = encodeConnectivityInMode(soup.indices, soup.vertexCount, mode);
            EXPECT_EQ(decodeConnectivity(coded.data(), coded.size()).indices, soup.indices) << int(mode);
        }
    }
    EXPECT_THROW(encodeConnectivityInMode({0, 1, 2}, 3, kLastCodingMode + 1), Error);
}

TEST(ConnectivityCodec, RowsOfShuffledNumbersNameThePreviousRowByRecency) {
    // Coded in rows, each cell starts on a vertex of the row before that no
    // recent face named: by number (shuffled) it costs about ten bits, by
    // recency almost nothing. What is left is the new vertices' numbers,
    // whose floor is log2 of the unseen count each.
    const GeneratedMesh m = orvtest::shuffledVertices(orvtest::gridMesh(120, 100));
    ConnectivityTally tally;
    const std::vector<uint8_t> coded = encodeConnectivity(m.indices, m.vertexCount, &tally);
    const double F = static_cast<double>(m.indices.size() / 3);
    double floorBits = 0;
    for (int32_t left = m.vertexCount; left > 1; --left) floorBits += std::log2(static_cast<double>(left));
    EXPECT_LT(tally.bits[kTallyFar] / F, 0.3);
    EXPECT_LT(8.0 * static_cast<double>(coded.size()), floorBits + 0.6 * F);
    // The tally accounts for the whole payload.
    double sum = 0;
    for (double b : tally.bits) sum += b;
    EXPECT_NEAR(sum, 8.0 * static_cast<double>(coded.size()), 8.0 * 16);
    expectRoundTrip(m);
    expectBitFlipsCaught(orvtest::shuffledVertices(orvtest::gridMesh(9, 8)));
}

TEST(ConnectivityCodec, BorderRecencyRanksMatchAPlainList) {
    // Random faces, border changes and refreshes (several faces apart, as
    // far vertices come) against a list of the border vertices in the order
    // of their last corners; the tree grows three times on the way.
    std::mt19937 rng(5);
    const int32_t V = 60;
    const size_t F = 1500;
    BorderVertices border(V);
    BorderRecency recency(V);
    std::vector<int32_t> faces;
    std::vector<int32_t> lastCorner(static_cast<size_t>(V), -1);
    for (size_t f = 0; f < F; ++f) {
        for (int k = 0; k < 3; ++k) {
            const int32_t v = static_cast<int32_t>(rng() % static_cast<uint32_t>(V));
            lastCorner[static_cast<size_t>(v)] = static_cast<int32_t>(faces.size());
            faces.push_back(v);
            border.set(v, rng() % 4 != 0);
        }
        if (rng() % 5 != 0) continue;
        recency.refresh(border, faces.data(), f + 1);
        std::vector<int32_t> order;  // oldest first
        for (int32_t u = 0; u < V; ++u)
            if (border.has(u)) order.push_back(u);
        std::sort(order.begin(), order.end(), [&](int32_t _a, int32_t _b) {
            return lastCorner[static_cast<size_t>(_a)] < lastCorner[static_cast<size_t>(_b)];
        });
        ASSERT_EQ(recency.size(), static_cast<int32_t>(order.size()));
        for (size_t i = 0; i < order.size(); ++i) {
            const int32_t newest = static_cast<int32_t>(order.size() - 1 - i);
            ASSERT_EQ(recency.atOldestRank(static_cast<int32_t>(i)), order[i]) << "face " << f;
            ASSERT_EQ(recency.atNewestRank(newest), order[i]);
            ASSERT_EQ(recency.newestRank(order[i]), newest);
        }
    }
}

TEST(ConnectivityCodec, RecencyModesRefuseEveryDamage) {
    // Recency ranks, pruned edge FIFOs and FIFO places among border vertices
    // all decode from the damaged bytes here.
    for (const GeneratedMesh& m : {orvtest::shuffledFaces(orvtest::torusMesh(9, 8)), interleavedRows(12, 9),
                                   orvtest::shuffledVertices(orvtest::gridMesh(9, 8))})
        for (uint8_t mode = kNeighbourStepMode + 1; mode <= kLastCodingMode; ++mode) {
            const std::vector<uint8_t> good = encodeConnectivityInMode(m.indices, m.vertexCount, mode);
            expectBitFlipsCaught(m, good);
            for (size_t n = 0; n < good.size(); ++n)
                EXPECT_NE(decodeError(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n))), "")
                    << "mode " << int(mode) << " truncated to " << n;
        }
}

TEST(ConnectivityCodec, FifosDropWhatAManifoldNeverUsesAgain) {
    EdgeFifo edges;
    for (int32_t i = 0; i < 5; ++i) edges.push(i, i + 1, 100 + i);  // 0->1 .. 4->5, newest last
    edges.remove(2);                                               // 2->3
    ASSERT_EQ(edges.count(), 4);
    const int32_t order[] = {4, 3, 1, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(edges.at(i).from, order[i]);
        EXPECT_EQ(edges.at(i).opposite, 100 + order[i]);
    }
    edges.pushOrClose(4, 3, 7);  // closes 3->4: both gone
    ASSERT_EQ(edges.count(), 3);
    EXPECT_EQ(edges.at(0).from, 4);
    edges.pushOrClose(9, 8, 7);  // closes nothing
    ASSERT_EQ(edges.count(), 4);
    EXPECT_EQ(edges.at(0).from, 9);
    EXPECT_EQ(edges.at(3).from, 0);
    // A full FIFO stays full after a push, and a removal frees one place.
    for (int32_t i = 0; i < 40; ++i) edges.push(200 + i, 300 + i, 0);
    edges.remove(kEdgeFifoSize - 1);
    edges.push(1, 2, 0);
    ASSERT_EQ(edges.count(), kEdgeFifoSize);
    EXPECT_EQ(edges.at(kEdgeFifoSize - 1).from, 200 + 40 - kEdgeFifoSize + 1);

    // Vertex FIFO places counted among the vertices still on the border.
    VertexFifo vertices;
    for (int32_t v : {10, 11, 12, 13, 11}) vertices.push(v);  // newest first: 11 13 12 11 10
    auto live = [](int32_t _v) { return _v != 13 && _v != 10; };
    EXPECT_EQ(vertices.findLive(11, live), 0);
    EXPECT_EQ(vertices.findLive(12, live), 1);
    EXPECT_EQ(vertices.findLive(13, live), -1);
    EXPECT_EQ(vertices.findLive(10, live), -1);
    EXPECT_EQ(vertices.atLive(1, live), 12);
    EXPECT_EQ(vertices.atLive(2, live), 11);
    EXPECT_EQ(vertices.atLive(3, live), -1);
}

TEST(ConnectivityCodec, NearbyCandidatesListUnseenNumbersNextToTheFace) {
    Adjacency adjacency(40);
    adjacency.link(10, 20);
    adjacency.link(10, 30);
    UnseenVertices unseen(40);
    for (int32_t v : {10, 20, 30, 11, 29, 0}) unseen.markSeen(v);
    NearbyNumbers near(40);
    near.start(adjacency, 0, 10);
    std::vector<int32_t> list;
    for (int32_t c = near.next(unseen); c >= 0; c = near.next(unseen)) list.push_back(c);
    // k = 1: 10 +- 1 (11 seen), 0 + 1 (0 - 1 out of range), then the
    // neighbours of 10, newest first: 30 +- 1 (29 seen), 20 +- 1; then k = 2.
    const std::vector<int32_t> expected = {9, 1, 31, 21, 19, 12, 8, 2, 32, 28, 22, 18};
    ASSERT_GE(list.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), list.begin()));
    EXPECT_LE(list.size(), static_cast<size_t>(kMaxCandidates));
    EXPECT_EQ(std::count(list.begin(), list.end(), 11), 0);
    // A second list starts afresh: the marks of the first do not hide its numbers.
    near.start(adjacency, -1, 10);
    EXPECT_EQ(near.next(unseen), 9);
    // Without known vertices the list is empty.
    near.start(adjacency, -1, -1);
    EXPECT_EQ(near.next(unseen), -1);
}

TEST(ConnectivityCodec, NumbersAlongPathsAreFoundNextToTheFace) {
    // pcow numbers its vertices along paths of the surface in an order of
    // its own: 9.24 bits per triangle without the nearby numbers, 8.85 with.
    ORV_REQUIRE_SEQUENCE(dir, "pcow");
    FaceList faces;
    const auto first = readOBJ(orvtest::sequenceFrames(dir).front().string(), faces);
    ASSERT_TRUE(first);
    const std::vector<int32_t> flat = toFlatIndices(faces);
    const std::vector<uint8_t> coded = encodeConnectivity(flat, first->V);
    EXPECT_TRUE(nearbyMode(coded[modeByteAt(coded)]));
    EXPECT_LT(8.0 * static_cast<double>(coded.size()) / static_cast<double>(flat.size() / 3), 8.95);
    EXPECT_EQ(decodeConnectivity(coded.data(), coded.size()).indices, flat);
}

TEST(ConnectivityCodec, NearOldNumbersStepFromTheReferencesThenTheFifo) {
    // Slot 1 of a face: the vertex before (50), the last far vertex (50 too,
    // so dropped), the previous face's first vertex (20); then the FIFO's
    // vertices newest first (97, 70). Left out: what the FIFO (97, 70) and
    // the face's candidates (51, a neighbour of 50) name, vertices off the
    // border (49, 22) and numbers beyond the vertex count.
    const int32_t V = 100;
    Adjacency adjacency(V);
    adjacency.link(50, 51);
    OpenEdges open(V);
    const Candidates cand(open, adjacency, -1, 50, false);
    VertexFifo fifo;
    fifo.push(70);
    fifo.push(97);
    BorderVertices border(V);
    for (int32_t v = 0; v < V; ++v) border.set(v, v != 49 && v != 22);
    NearOldNumbers near(V);
    near.fifoMoved(70, -1);
    near.fifoMoved(97, -1);
    near.start(1, -1, 50, 20, 50, fifo, cand);
    std::vector<int32_t> list;
    for (int32_t c = near.next(border); c >= 0; c = near.next(border)) list.push_back(c);
    const std::vector<int32_t> head = {52, 48, 53, 47, 54, 46, 55, 45, 56, 44, 57, 43, 58, 42,  // from 50
                                       21, 19, 18, 23, 17, 24, 16, 25, 15, 26, 14, 27, 13, 28, 12,  // from 20
                                       98, 96, 99, 95, 94, 93, 92, 91, 90, 89, 71, 69};  // from 97, 70
    ASSERT_EQ(list.size(), 14u + 15u + 10u + 16u);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), list.begin()));
    for (int32_t v : {51, 49, 22, 97, 70, 50, 20}) EXPECT_EQ(std::count(list.begin(), list.end(), v), 0) << v;
    // The first vertex of a face starts from the previous face's first vertex.
    near.start(0, -1, 50, 20, 60, fifo, cand);
    EXPECT_EQ(near.next(border), 21);
    EXPECT_EQ(near.next(border), 19);
    // A FIFO of far-apart vertices fills the list to its limit and no more.
    VertexFifo many;
    BorderVertices all(2000);
    for (int32_t v = 0; v < 2000; ++v) all.set(v, true);
    NearOldNumbers wide(2000);
    for (int32_t i = 0; i < kVertexFifoSize + 3; ++i) wide.fifoMoved(1000 + 20 * i, many.push(1000 + 20 * i));
    wide.start(2, 1500, 1600, 1700, 1800, many, Candidates(open, adjacency, -1, -1, false));
    int n = 0;
    while (wide.next(all) >= 0) ++n;
    EXPECT_EQ(n, kMaxNearOld);
    // A vertex is left out while the FIFO holds it, listed again once it
    // has fallen out.
    std::vector<int32_t> listed;
    NearOldNumbers again(2000);
    VertexFifo two;
    again.fifoMoved(5, two.push(5));
    again.start(0, -1, 4, 4, 4, two, Candidates(open, adjacency, -1, -1, false));
    for (int32_t c = again.next(all); c >= 0; c = again.next(all)) listed.push_back(c);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), 5), 0);  // in the FIFO
    for (int i = 0; i < kVertexFifoSize; ++i) again.fifoMoved(900 + i, two.push(900 + i));
    again.start(0, -1, 4, 4, 4, two, Candidates(open, adjacency, -1, -1, false));
    EXPECT_EQ(again.next(all), 5);  // fallen out of the FIFO: 4 + 1
}

TEST(ConnectivityCodec, StitchingFacesNameOldPatchesByShortSteps) {
    // Patches of four new numbers first, then the quads between them: the
    // stitching faces name the corners of patches coded long before. 3.02
    // bits per triangle in the best earlier mode, 1.44 with the steps.
    const GeneratedMesh patches = orvtest::patchGridMesh(60, 50);
    size_t before = SIZE_MAX;
    for (uint8_t mode = kFirstCodingMode; mode < kNearOldModes; ++mode)
        before = std::min(before, encodeConnectivityInMode(patches.indices, patches.vertexCount, mode).size());
    const std::vector<uint8_t> coded = encodeConnectivity(patches.indices, patches.vertexCount);
    EXPECT_TRUE(nearOldMode(coded[modeByteAt(coded)]));
    EXPECT_LT(static_cast<double>(coded.size()), 0.6 * static_cast<double>(before));
    expectRoundTrip(patches);
    expectRoundTrip(orvtest::shuffledVertices(patches));
    for (uint8_t mode = kNearOldModes; mode <= kLastCodingMode; ++mode) {
        const GeneratedMesh small = orvtest::patchGridMesh(5, 4);
        const std::vector<uint8_t> good = encodeConnectivityInMode(small.indices, small.vertexCount, mode);
        expectBitFlipsCaught(small, good);
        for (size_t n = 0; n < good.size(); ++n)
            EXPECT_NE(decodeError(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n))), "")
                << "mode " << int(mode) << " truncated to " << n;
    }
}

TEST(ConnectivityCodec, HorseQuadsAreStitchedByShortSteps) {
    // horse-gallop codes its quads first, then stitches them: 8.65 bits per
    // triangle before the steps to old vertices, 8.16 with them (a third of
    // xz -9 over its face lines is 8.25).
    ORV_REQUIRE_SEQUENCE(dir, "horse-gallop");
    FaceList faces;
    const auto first = readOBJ(orvtest::sequenceFrames(dir).front().string(), faces);
    ASSERT_TRUE(first);
    const std::vector<int32_t> flat = toFlatIndices(faces);
    const std::vector<uint8_t> coded = encodeConnectivity(flat, first->V);
    EXPECT_TRUE(nearOldMode(coded[modeByteAt(coded)]));
    EXPECT_LT(8.0 * static_cast<double>(coded.size()) / static_cast<double>(flat.size() / 3), 8.25);
    EXPECT_EQ(decodeConnectivity(coded.data(), coded.size()).indices, flat);
}
