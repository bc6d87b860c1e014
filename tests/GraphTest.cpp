// Tests of the mesh graph: construction checks, the orientation and ring
// examples, fans around awkward vertices, the edits (delete, collapse, flip),
// and the agreement of the two fan-chaining routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Decoder/Graph.h"
#include "Decoder/GraphFan.h"

namespace orv {
namespace {

using Ids = std::vector<int>;

std::string checkText(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const CheckFailure& e) {
        return e.what();
    }
    return "no failure";
}

// A hexagonal patch: centre 0, ring 1..6 counter-clockwise, and an outer ring
// 7..18 so that every inner ring vertex is interior too (six faces each).
FaceList hexPatch() {
    FaceList faces;
    for (int k = 0; k < 6; ++k) faces.push_back({0, 1 + k, 1 + (k + 1) % 6});
    // Each inner vertex r = 1 + k gets the outer vertices 7 + 2k .. 7 + 2k + 2.
    for (int k = 0; k < 6; ++k) {
        const int r = 1 + k, rn = 1 + (k + 1) % 6;
        const int o0 = 7 + 2 * k, o1 = 7 + 2 * k + 1, o2 = 7 + (2 * k + 2) % 12;
        faces.push_back({r, o0, o1});
        faces.push_back({r, o1, rn});
        faces.push_back({rn, o1, o2});
    }
    return faces;
}

TEST(GraphConstruction, LinksFacesAscendingAndCountsRepeats) {
    const Graph g({{0, 1, 2}, {2, 1, 3}, {3, 3, 1}}, 5);
    EXPECT_EQ(g.numVertices(), 5);
    EXPECT_EQ(g.numFaces(), 3);
    EXPECT_EQ(g.vf(1), (Ids{0, 1, 2}));
    EXPECT_EQ(g.vf(3), (Ids{1, 2, 2}));  // face 2 names vertex 3 twice
    EXPECT_TRUE(g.vf(4).empty());
    EXPECT_TRUE(g.isDegenerate(2));
    EXPECT_FALSE(g.isDegenerate(0));
    EXPECT_EQ(g.getFaces(), (FaceList{{0, 1, 2}, {2, 1, 3}, {3, 3, 1}}));
}

TEST(GraphConstruction, RefusesBadFacesWithTheirConditionTexts) {
    EXPECT_NE(checkText([] { Graph({{0, 1, 5}}, 5); }).find("Assertion failed: fv_[f][k]<_size, file Graph"),
              std::string::npos);
    EXPECT_NE(checkText([] { Graph({{0, 1}}, 5); }).find("fv_[f].size()==3"), std::string::npos);
    EXPECT_NE(checkText([] { Graph({{0, 1, 2, 3}}, 5); }).find("fv_[f].size()==3"), std::string::npos);
    EXPECT_NE(checkText([] { Graph({{0, -1, 2}}, 5); }).find("fv_[f][k]>=0"), std::string::npos);
    const Graph g({{0, 1, 2}}, 3);
    EXPECT_NE(checkText([&] { g.fv(-1); }).find("_f>=0"), std::string::npos);
    EXPECT_NE(checkText([&] { g.fv(1); }).find("_f<fv_.size()"), std::string::npos);
    EXPECT_NE(checkText([&] { g.vf(3); }).find("_v<vf_.size()"), std::string::npos);
    EXPECT_NE(checkText([&] { g.isVertexDeleted(-2); }).find("_v>=0"), std::string::npos);
    EXPECT_NE(checkText([&] { g.isFaceDeleted(7); }).find("_f<fv_.size()"), std::string::npos);
    EXPECT_NE(checkText([&] { g.isClosedFan({}, 0); }).find("!_faces.empty()"), std::string::npos);
}

TEST(GraphOrientation, WorkedExampleClosedAndOpenFans) {
    const Graph g({{0, 1, 2}, {0, 2, 3}, {0, 3, 1}}, 4);
    EXPECT_TRUE(g.isNeighborFaceCCW(0, 1, 0));
    EXPECT_TRUE(g.isNeighborFaceCCW(1, 2, 0));
    EXPECT_TRUE(g.isNeighborFaceCCW(2, 0, 0));
    EXPECT_FALSE(g.isNeighborFaceCCW(1, 0, 0));
    EXPECT_TRUE(g.isNeighborFaceCW(1, 0, 0));
    Ids fan = g.vf(0);
    ASSERT_TRUE(g.orderFan(fan, 0));
    EXPECT_EQ(fan, (Ids{0, 1, 2}));
    EXPECT_TRUE(g.isClosedFan(fan, 0));
    EXPECT_EQ(g.getOrderedRing(0), (Ids{1, 2, 3}));

    const Graph open({{0, 1, 2}, {0, 2, 3}}, 4);
    EXPECT_EQ(open.getOrderedRing(0), (Ids{1, 2, 3}));
    Ids openFan = open.vf(0);
    ASSERT_TRUE(open.orderFan(openFan, 0));
    EXPECT_FALSE(open.isClosedFan(openFan, 0));
}

TEST(GraphOrientation, BackwardChainingStartsClockwiseMost) {
    const Graph g({{0, 1, 2}, {2, 1, 3}}, 4);
    EXPECT_TRUE(g.isNeighborFaceCW(0, 1, 1));
    Ids fan = g.vf(1);
    ASSERT_TRUE(g.orderFan(fan, 1));
    EXPECT_EQ(fan, (Ids{1, 0}));
    EXPECT_EQ(g.getOrderedRing(1), (Ids{3, 2, 0}));
    EXPECT_EQ(g.getNeighbors(1), (Ids{3, 2, 0}));
    // An open fan comes out clockwise-most first, whatever face it starts from.
    const Graph h({{0, 3, 4}, {0, 1, 2}, {0, 2, 3}}, 5);
    EXPECT_EQ(h.getOrderedRing(0), (Ids{1, 2, 3, 4}));
}

TEST(GraphOrientation, RotateToFrontUsesFirstOccurrence) {
    Ids list{4, 7, 9, 7};
    EXPECT_TRUE(Graph::rotateToFront(list, 7));
    EXPECT_EQ(list, (Ids{7, 9, 7, 4}));
    EXPECT_FALSE(Graph::rotateToFront(list, 5));
    EXPECT_EQ(list, (Ids{7, 9, 7, 4}));
}

TEST(GraphRings, AwkwardVertices) {
    // Isolated vertex 4; single face around 5; opposite windings around 0.
    const Graph g({{0, 1, 2}, {0, 1, 3}, {5, 6, 7}}, 8);
    Ids none;
    EXPECT_FALSE(g.orderFan(none, 4));
    EXPECT_TRUE(g.getOrderedRing(4).empty());
    EXPECT_TRUE(g.getNeighborSet(4).empty());
    EXPECT_TRUE(g.getNeighbors(4).empty());
    EXPECT_EQ(g.getOrderedRing(5), (Ids{6, 7}));
    EXPECT_TRUE(g.getOrderedRing(0).empty());
    EXPECT_EQ(g.getNeighbors(0), (Ids{1, 2, 3}));
    Ids faces = g.vf(0);
    EXPECT_FALSE(g.orderFan(faces, 0));
    EXPECT_EQ(faces, (Ids{0, 1}));  // untouched on failure
}

TEST(GraphRings, NonManifoldEdgeAndBowTie) {
    // Three faces on the edge (0, 1): the fan around 0 cannot be one chain.
    const Graph edge({{0, 1, 2}, {1, 0, 3}, {1, 0, 4}}, 5);
    EXPECT_TRUE(edge.getOrderedRing(0).empty());
    EXPECT_EQ(edge.getNeighbors(0), (Ids{1, 2, 3, 4}));
    // Two fans meeting only at vertex 0.
    const Graph bowTie({{0, 1, 2}, {0, 2, 3}, {0, 4, 5}, {0, 5, 6}}, 7);
    EXPECT_TRUE(bowTie.getOrderedRing(0).empty());
    EXPECT_EQ(bowTie.getNeighbors(0), (Ids{1, 2, 3, 4, 5, 6}));
}

TEST(GraphEdits, DeleteFaceTwiceChangesNothing) {
    Graph g({{0, 1, 2}, {0, 2, 3}}, 4);
    EXPECT_TRUE(g.deleteFace(0));
    EXPECT_TRUE(g.isFaceDeleted(0));
    EXPECT_EQ(g.vf(0), (Ids{1}));
    EXPECT_TRUE(g.vf(1).empty());
    EXPECT_FALSE(g.deleteFace(0));
    EXPECT_EQ(g.vf(0), (Ids{1}));
    EXPECT_EQ(g.fv(0), (Graph::FaceIds{0, 1, 2}));  // deleted faces keep their ids
}

TEST(GraphEdits, CollapseOnInteriorEdge) {
    Graph g(hexPatch(), 19);
    ASSERT_EQ(g.vf(0).size(), 6u);
    EXPECT_FALSE(g.collapseInto(0, 7));  // not a neighbour: no change
    EXPECT_EQ(g.vf(0).size(), 6u);
    const int facesBefore = static_cast<int>(g.getFaces().size());
    ASSERT_TRUE(g.collapseInto(0, 1));
    EXPECT_EQ(static_cast<int>(g.getFaces().size()), facesBefore - 2);
    EXPECT_TRUE(g.isFaceDeleted(0));  // (0, 1, 2)
    EXPECT_TRUE(g.isFaceDeleted(5));  // (0, 6, 1)
    EXPECT_TRUE(g.vf(0).empty());
    EXPECT_TRUE(g.isVertexDeleted(0));
    const Ids& u = g.vf(1);
    EXPECT_TRUE(std::is_sorted(u.begin(), u.end()));
    EXPECT_EQ(u.size(), 8u);  // 6 - 2 + 4
    EXPECT_EQ(g.vf(2).size(), 5u);
    EXPECT_EQ(g.vf(6).size(), 5u);
    for (const Face& f : g.getFaces())
        for (int w : f) EXPECT_NE(w, 0);
    // The filled hole is a fan from 1: ring 1's faces still chain.
    EXPECT_FALSE(g.getOrderedRing(1).empty());
}

TEST(GraphEdits, FlipReplacesTheDiagonal) {
    // Quadrilateral (0, 1, 2, 3) split along (0, 2).
    Graph g({{0, 1, 2}, {0, 2, 3}}, 4);
    g.flipEdge(0, 1, 0);
    EXPECT_EQ(g.fv(0), (Graph::FaceIds{0, 1, 3}));
    EXPECT_EQ(g.fv(1), (Graph::FaceIds{1, 2, 3}));
    EXPECT_EQ(g.vf(0), (Ids{0}));
    EXPECT_EQ(g.vf(1), (Ids{0, 1}));
    EXPECT_EQ(g.vf(2), (Ids{1}));
    EXPECT_EQ(g.vf(3), (Ids{0, 1}));
    EXPECT_FALSE(g.isFaceDeleted(0));
    EXPECT_FALSE(g.isFaceDeleted(1));
}

TEST(GraphEdits, FlipOfClockwiseFacesIsRefused) {
    Graph g({{0, 1, 2}, {0, 2, 3}}, 4);
    EXPECT_NE(checkText([&] { g.flipEdge(1, 0, 0); })
                  .find("Assertion failed: isNeighborFaceCCW(_f0, _f1, _vAnchor), file Graph"),
              std::string::npos);
}

// The indexed chaining must give exactly the scan's chain, including on the
// duplicate, folded and non-manifold fans that hostile input produces.
TEST(GraphFanChaining, IndexedAgreesWithScan) {
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 20000; ++trial) {
        const int n = 1 + static_cast<int>(rng() % 32);
        const int alphabet = 2 + static_cast<int>(rng() % 8);
        std::vector<fan::Spoke> spokes(static_cast<size_t>(n));
        const bool ring = rng() % 3 == 0;  // often a real (possibly repeated) cycle
        for (int i = 0; i < n; ++i) {
            if (ring) {
                spokes[i] = fan::Spoke{i % alphabet, (i + 1) % alphabet, true};
            } else {
                spokes[i] = fan::Spoke{static_cast<int>(rng() % alphabet), static_cast<int>(rng() % alphabet),
                                       rng() % 50 != 0};
            }
        }
        if (ring) std::shuffle(spokes.begin(), spokes.end(), rng);
        std::vector<int> a(static_cast<size_t>(n), -1), b(static_cast<size_t>(n), -1);
        const bool okA = fan::chainSpokesScan(spokes.data(), n, a.data());
        const bool okB = fan::chainSpokesIndexed(spokes.data(), n, b.data());
        ASSERT_EQ(okA, okB) << "trial " << trial;
        if (okA) {
            ASSERT_EQ(a, b) << "trial " << trial;
        }
    }
}

TEST(GraphFanChaining, LargeClosedFan) {
    // A cone of 200 faces around vertex 0: the ring comes out in order.
    FaceList faces;
    const int n = 200;
    for (int k = 0; k < n; ++k) faces.push_back({0, 1 + (k * 7) % n, 1 + (k * 7 + 1) % n});
    const Graph g(faces, n + 1);
    const Ids ring = g.getOrderedRing(0);
    ASSERT_EQ(ring.size(), static_cast<size_t>(n));
    // Chaining starts at the lowest face id, (0, 1, 2).
    for (int k = 0; k < n; ++k) EXPECT_EQ(ring[k], 1 + k);
    Ids fan = g.vf(0);
    ASSERT_TRUE(g.orderFan(fan, 0));
    EXPECT_TRUE(g.isClosedFan(fan, 0));
}

}  // namespace
}  // namespace orv
