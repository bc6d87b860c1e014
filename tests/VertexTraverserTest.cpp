// Tests of the base-layer traversal: the worked example, components and
// isolated vertices, predictors from earlier ring neighbours, and the
// decoding-order check.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Decoder/Graph.h"
#include "Decoder/VertexTraverser.h"

namespace orv {
namespace {

using Ids = std::vector<int>;

TEST(VertexTraverser, WorkedExample) {
    const Graph g({{0, 1, 2}, {2, 1, 3}}, 4);
    VertexTraverser t(g);
    Ids order;
    t.traverse(order);
    EXPECT_EQ(order, (Ids{0, 1, 2, 3}));
    std::vector<Predictor> pred;
    t.computePredictors(order, pred);
    ASSERT_EQ(pred.size(), 4u);
    EXPECT_TRUE(pred[0].empty());
    EXPECT_EQ(pred[1], (Predictor{{0, 1.0}}));
    EXPECT_EQ(pred[2], (Predictor{{0, 0.5}, {1, 0.5}}));
    EXPECT_EQ(pred[3], (Predictor{{2, 0.5}, {1, 0.5}}));
    std::vector<bool> visited(4, false);
    EXPECT_TRUE(VertexTraverser::isConsistent(order, pred, visited));
    EXPECT_EQ(visited, std::vector<bool>(4, true));
}

TEST(VertexTraverser, ComponentsByLowestFaceThenIsolatedVertices) {
    // Component A holds faces 1 and 3, component B faces 0 and 2; vertices 0
    // and 9 are in no face.
    const FaceList faces{{5, 6, 7}, {1, 2, 3}, {7, 6, 8}, {3, 2, 4}};
    const Graph g(faces, 10);
    VertexTraverser t(g);
    Ids order;
    t.traverse(order);
    EXPECT_EQ(order, (Ids{5, 6, 7, 8, 1, 2, 3, 4, 0, 9}));
    std::vector<Predictor> pred;
    t.computePredictors(order, pred);
    EXPECT_TRUE(pred[4].empty());  // first vertex of the second component
    EXPECT_TRUE(pred[8].empty());  // isolated vertices have no terms
    EXPECT_TRUE(pred[9].empty());
}

TEST(VertexTraverser, BreadthFirstOverSharedEdges) {
    // A strip of faces 0-1-2-3 listed so that the walk must follow edges,
    // not face ids: face 3 touches face 0 only at a vertex.
    const FaceList faces{{0, 1, 2}, {5, 4, 3}, {2, 1, 3}, {3, 1, 4}, {0, 6, 7}};
    const Graph g(faces, 8);
    VertexTraverser t(g);
    Ids order;
    t.traverse(order);
    // Face 0 (0, 1, 2) -> face 2 (adds 3) -> face 3 (adds 4) -> face 1 (adds 5);
    // face 4 shares only vertex 0 with face 0 and starts a new walk.
    EXPECT_EQ(order, (Ids{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(VertexTraverser, DeletedElementsAreSkipped) {
    Graph g({{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 3, 2}}, 4);
    ASSERT_TRUE(g.collapseInto(0, 1));
    VertexTraverser t(g);
    Ids order;
    t.traverse(order);
    EXPECT_EQ(order, (Ids{1, 2, 3}));
    std::vector<Predictor> pred;
    t.computePredictors(order, pred);
    // Two faces with opposite windings: the rings fall back to the ascending
    // neighbour sets.
    EXPECT_TRUE(pred[0].empty());
    EXPECT_EQ(pred[1], (Predictor{{1, 1.0}}));
    EXPECT_EQ(pred[2], (Predictor{{1, 0.5}, {2, 0.5}}));
}

TEST(VertexTraverser, ConsistencyCheck) {
    std::vector<bool> visited(3, false);
    EXPECT_FALSE(VertexTraverser::isConsistent({0, 1}, {{{1, 1.0}}, {}}, visited));
    std::vector<bool> fresh(3, false);
    EXPECT_TRUE(VertexTraverser::isConsistent({0, 1, 2}, {{}, {{0, 1.0}}, {{0, 0.5}, {1, 0.5}}}, fresh));
    // Flags carry over: a later layer may refer to all of them.
    EXPECT_TRUE(VertexTraverser::isConsistent({}, {}, fresh));
    // Out-of-range ids count as never decoded.
    std::vector<bool> small(2, false);
    EXPECT_FALSE(VertexTraverser::isConsistent({0}, {{{7, 1.0}}}, small));
    try {
        VertexTraverser::isConsistent({0, 1}, {{}}, small);
        FAIL() << "expected a check failure";
    } catch (const CheckFailure& e) {
        EXPECT_NE(std::string(e.what()).find("_vertexOrder.size()==_vertexPredictor.size()"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("Decoder/VertexTraverser"), std::string::npos);
    }
}

// The walk exactly as its rules read: every face of every vertex of f is
// counted against f, repeats kept, every unvisited entry queued.
std::vector<int> literalTraversal(const Graph& g) {
    std::vector<bool> faceSeen(g.faceDeletedFlags()), vertexSeen(g.vertexDeletedFlags());
    Ids order;
    for (int start = 0; start < g.numFaces(); ++start) {
        if (faceSeen[start]) continue;
        std::deque<int> queue{start};
        while (!queue.empty()) {
            const int f = queue.front();
            queue.pop_front();
            if (faceSeen[f]) continue;
            faceSeen[f] = true;
            const auto& t = g.fv(f);
            Ids next;
            for (int k = 0; k < 3; ++k)
                for (int h : g.vf(t[k])) {
                    int count = 0;
                    for (int i = 0; i < 3; ++i)
                        for (int j = 0; j < 3; ++j) count += t[i] == g.fv(h)[j];
                    if (count == 2) next.push_back(h);
                }
            std::sort(next.begin(), next.end());
            for (int h : next)
                if (!faceSeen[h]) queue.push_back(h);
            for (int v : t)
                if (!vertexSeen[v]) {
                    vertexSeen[v] = true;
                    order.push_back(v);
                }
        }
    }
    for (int v = 0; v < g.numVertices(); ++v)
        if (!vertexSeen[v]) order.push_back(v);
    return order;
}

// The walk uses an edge index when no face names a vertex twice; it must give
// the literal walk's order on non-manifold edges, hubs, repeated and flipped
// faces alike (and the direct count when degenerate faces are present).
TEST(VertexTraverser, MatchesTheLiteralWalk) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 1000; ++trial) {
        const int V = 3 + static_cast<int>(rng() % 30);
        FaceList faces;
        const int n = 1 + static_cast<int>(rng() % 60);
        const bool degenerate = trial % 2 == 0;
        for (int i = 0; i < n; ++i) {
            Face f{static_cast<int>(rng() % V), static_cast<int>(rng() % V), static_cast<int>(rng() % V)};
            // Mostly proper triangles, biased towards a few hub vertices.
            if (rng() % 3 == 0) f[0] = static_cast<int>(rng() % 3);
            if (!degenerate)
                while (f[0] == f[1] || f[1] == f[2] || f[0] == f[2]) f[rng() % 3] = static_cast<int>(rng() % V);
            faces.push_back(f);
        }
        Graph g(faces, V);
        // Delete a few faces to mimic a decimated graph.
        for (int i = 0; i < 3; ++i) g.deleteFace(static_cast<int>(rng() % n));
        VertexTraverser t(g);
        Ids order;
        t.traverse(order);
        ASSERT_EQ(order, literalTraversal(g)) << "trial " << trial;
    }
}

}  // namespace
}  // namespace orv
