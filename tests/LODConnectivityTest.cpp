// Tests of the layered decomposition: the pattern costs and removals of the
// worked examples, layer order and reversal, the tetrahedron, invariants on
// generated and damaged meshes and on the real sequences, determinism, and the
// canonical dumps of an independent reading.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Decoder/Graph.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/LODConnectivityDecimator.h"
#include "Decoder/LODConnectivityDump.h"
#include "Decoder/MeshIO.h"
#include "LayeringMeshes.h"
#include "TestSupport.h"

namespace orv {
namespace {

using orvtest::Mesh;
using Ids = std::vector<int>;

// A closed six-fan around vertex 0 with ring 1..6; every ring vertex gets
// dangling faces until it has the given number of faces.
Mesh sixFanWithCounts(const std::array<int, 6>& counts) {
    Mesh m;
    m.V = 7;
    for (int k = 0; k < 6; ++k) m.faces.push_back({0, 1 + k, 1 + (k + 1) % 6});
    for (int k = 0; k < 6; ++k)
        for (int extra = 2; extra < counts[k]; ++extra) {
            m.faces.push_back({1 + k, m.V, m.V + 1});
            m.V += 2;
        }
    return m;
}

std::vector<int> costs(const LayerDecimator& d, const Neighbourhood& nb, int patterns) {
    std::vector<int> c;
    for (int m = 0; m < patterns; ++m) c.push_back(d.patternCost(m, nb));
    return c;
}

// The live faces, each rotated to start at its smallest id, sorted.
std::set<Face> canonicalFaces(const Graph& g) {
    std::set<Face> out;
    for (Face f : g.getFaces()) {
        std::rotate(f.begin(), std::min_element(f.begin(), f.end()), f.end());
        out.insert(f);
    }
    return out;
}

TEST(LODPatterns, RegularValenceSixCollapsesIntoFirstRingVertex) {
    const Mesh m = sixFanWithCounts({6, 6, 6, 6, 6, 6});
    Graph g(m.faces, m.V);
    LayerDecimator d(g);
    Neighbourhood nb;
    d.describe(0, nb);
    EXPECT_EQ(nb.ring, (Ids{1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(nb.closedFan);
    EXPECT_EQ(costs(d, nb, 8), (std::vector<int>{4, 4, 4, 4, 4, 4, 6, 6}));
    EXPECT_EQ(d.choosePattern(nb), 0);
    ASSERT_TRUE(d.removeVertex(0, 0, nb));
    EXPECT_EQ(g.vf(1).size(), 8u);
    EXPECT_EQ(g.vf(2).size(), 5u);
    EXPECT_EQ(g.vf(6).size(), 5u);
    EXPECT_EQ(g.vf(4).size(), 6u);
}

TEST(LODPatterns, FanWinsATieWithThreeEars) {
    const Mesh m = sixFanWithCounts({6, 7, 6, 7, 6, 7});
    Graph g(m.faces, m.V);
    LayerDecimator d(g);
    Neighbourhood nb;
    d.describe(0, nb);
    const auto c = costs(d, nb, 8);
    EXPECT_EQ(c[0], 3);
    EXPECT_EQ(c[6], 3);
    EXPECT_EQ(d.choosePattern(nb), 0);
}

TEST(LODPatterns, ThreeEarsBuildTheCrossedTriangle) {
    const Mesh m = sixFanWithCounts({5, 7, 5, 7, 5, 7});
    Graph g(m.faces, m.V);
    LayerDecimator d(g);
    Neighbourhood nb;
    d.describe(0, nb);
    EXPECT_EQ(costs(d, nb, 8), (std::vector<int>{4, 10, 4, 10, 4, 10, 0, 12}));
    ASSERT_EQ(d.choosePattern(nb), 6);
    ASSERT_TRUE(d.removeVertex(0, 6, nb));
    EXPECT_TRUE(g.isVertexDeleted(0));
    for (int r : {2, 4, 6}) EXPECT_EQ(g.vf(r).size(), 8u) << r;
    for (int r : {1, 3, 5}) EXPECT_EQ(g.vf(r).size(), 4u) << r;
    std::set<Face> hole;
    for (const Face& f : canonicalFaces(g))
        if (f[0] <= 6 && f[1] <= 6 && f[2] <= 6) hole.insert(f);
    EXPECT_EQ(hole, (std::set<Face>{{2, 4, 6}, {2, 3, 4}, {4, 5, 6}, {1, 2, 6}}));
}

TEST(LODPatterns, PatternSevenTakesTheOtherTriangle) {
    const Mesh m = sixFanWithCounts({7, 5, 7, 5, 7, 5});
    Graph g(m.faces, m.V);
    LayerDecimator d(g);
    Neighbourhood nb;
    d.describe(0, nb);
    ASSERT_EQ(d.choosePattern(nb), 7);
    ASSERT_TRUE(d.removeVertex(0, 7, nb));
    for (int r : {1, 3, 5}) EXPECT_EQ(g.vf(r).size(), 8u) << r;
    for (int r : {2, 4, 6}) EXPECT_EQ(g.vf(r).size(), 4u) << r;
}

TEST(LODPatterns, NoPatternForUnorderableOrTinyRings) {
    // Opposite windings around 0: the ring is the neighbour set; fan patterns
    // still apply, the three-ear patterns need a closed fan.
    Graph g({{0, 1, 2}, {0, 1, 3}, {0, 3, 4}}, 5);
    LayerDecimator d(g);
    Neighbourhood nb;
    d.describe(0, nb);
    EXPECT_FALSE(nb.orientable);
    EXPECT_EQ(nb.ring, (Ids{1, 2, 3, 4}));
    Graph tiny({{0, 1, 2}}, 3);
    LayerDecimator dt(tiny);
    dt.describe(0, nb);
    EXPECT_EQ(dt.choosePattern(nb), -1);  // a ring of two vertices
}

TEST(LODLayers, RemovalOrderIsReversedFlagsAreNot) {
    const Mesh m = orvtest::gridMesh(6, 6);
    Graph probe(m.faces, m.V);
    LayerDecimator selector(probe);
    Ids candidates;
    selector.selectCandidates(candidates);
    ASSERT_GE(candidates.size(), 3u);
    // No two candidates share a face.
    std::set<int> faces;
    for (int v : candidates)
        for (int f : probe.vf(v)) EXPECT_TRUE(faces.insert(f).second);

    Graph g(m.faces, m.V);
    LayerDecimator d(g);
    Ids order;
    std::vector<Predictor> pred;
    std::vector<bool> orientable;
    ASSERT_TRUE(d.decimateLayer(order, pred, orientable));
    EXPECT_EQ(order, Ids(candidates.rbegin(), candidates.rend()));
    EXPECT_EQ(orientable, std::vector<bool>(order.size(), true));
    // The last vertex removed is coded first; its terms are its ring as the
    // step found it.
    EXPECT_EQ(order.front(), candidates.back());
}

TEST(LODLayers, TetrahedronWithThreeLayers) {
    const LODConnectivity lod(3, {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 3, 2}}, 4);
    EXPECT_EQ(lod.vertexOrder_[2], (Ids{0}));
    EXPECT_EQ(lod.vertexPredictor_[2][0], (Predictor{{1, 1.0 / 3}, {2, 1.0 / 3}, {3, 1.0 / 3}}));
    EXPECT_EQ(lod.isOrientable_[2], (std::vector<bool>{true}));
    EXPECT_TRUE(lod.vertexOrder_[1].empty());
    EXPECT_EQ(lod.vertexOrder_[0], (Ids{1, 2, 3}));
    EXPECT_TRUE(lod.vertexPredictor_[0][0].empty());
    EXPECT_EQ(lod.vertexPredictor_[0][1], (Predictor{{1, 1.0}}));
    EXPECT_EQ(lod.vertexPredictor_[0][2], (Predictor{{1, 0.5}, {2, 0.5}}));
    EXPECT_EQ(lod.isOrientable_[0], std::vector<bool>(3, false));
}

TEST(LODLayers, SingleLayerIsTheTraversal) {
    const Mesh m = orvtest::icosphereMesh(1);
    const LODConnectivity lod(1, m.faces, m.V + 2);  // two isolated vertices at the end
    ASSERT_EQ(lod.vertexOrder_.size(), 1u);
    EXPECT_EQ(lod.vertexOrder_[0].size(), static_cast<size_t>(m.V + 2));
    EXPECT_EQ(lod.vertexOrder_[0][0], 0);
    EXPECT_EQ(lod.vertexOrder_[0][m.V], m.V);
    EXPECT_EQ(lod.vertexOrder_[0][m.V + 1], m.V + 1);
    EXPECT_EQ(orvtest::layeringViolation(lod, true), "");
}

TEST(LODLayers, RefusesLayerCountBelowOne) {
    EXPECT_THROW(LODConnectivity(0, {{0, 1, 2}}, 3), Error);
    EXPECT_THROW(LODConnectivity(2, {{0, 1, 2}}, -1), Error);
    EXPECT_THROW(LODConnectivity(2, {{0, 1, 3}}, 3), CheckFailure);
    EXPECT_THROW(LODConnectivity(2, {{0, -1, 2}}, 3), CheckFailure);
}

TEST(LODLayers, EmptyInputs) {
    const LODConnectivity none(4, {}, 0);
    EXPECT_EQ(orvtest::layeringViolation(none, true), "");
    const LODConnectivity points(4, {}, 5);
    EXPECT_EQ(points.vertexOrder_[0], (Ids{0, 1, 2, 3, 4}));
    for (int l = 1; l < 4; ++l) EXPECT_TRUE(points.vertexOrder_[l].empty());
}

// Clean surfaces: every invariant, including at least three terms per vertex
// of the enhancement layers.
TEST(LODInvariants, CleanGeneratedMeshes) {
    const std::vector<std::pair<std::string, Mesh>> meshes = {
        {"grid 1x1", orvtest::gridMesh(1, 1)},
        {"grid 17x9", orvtest::gridMesh(17, 9)},
        {"torus 12x10", orvtest::torusMesh(12, 10)},
        {"torus 3x3", orvtest::torusMesh(3, 3)},
        {"icosphere 3", orvtest::icosphereMesh(3)},
        {"icosphere shuffled", orvtest::shuffled(orvtest::icosphereMesh(2), 7)},
        {"grid shuffled", orvtest::shuffled(orvtest::gridMesh(10, 12), 3)},
        {"components", orvtest::disjointUnion(orvtest::shuffled(orvtest::torusMesh(8, 9), 1),
                                              orvtest::disjointUnion(orvtest::gridMesh(5, 4), orvtest::icosphereMesh(1)))},
    };
    for (const auto& [name, m] : meshes) {
        for (int nSL : {1, 2, 5, 12}) {
            const LODConnectivity lod(nSL, m.faces, m.V + 3);  // plus isolated vertices
            EXPECT_EQ(orvtest::layeringViolation(lod, true), "") << name << " nSL " << nSL;
            // Isolated vertices end the base order.
            const Ids& base = lod.vertexOrder_[0];
            ASSERT_GE(base.size(), 3u);
            EXPECT_EQ(Ids(base.end() - 3, base.end()), (Ids{m.V, m.V + 1, m.V + 2})) << name;
        }
    }
}

// Damaged connectivity: flipped windings, non-manifold edges and vertices,
// repeated faces, faces naming a vertex twice. The decomposition must end
// with a valid layering or a check failure, never anything else.
Mesh damaged(unsigned seed) {
    std::mt19937 rng(seed);
    Mesh m = orvtest::shuffled(orvtest::gridMesh(8 + static_cast<int>(rng() % 5), 6 + static_cast<int>(rng() % 5)), seed);
    const int kinds = 1 + static_cast<int>(rng() % 6);
    for (int k = 0; k < kinds; ++k) {
        const size_t f = rng() % m.faces.size();
        switch (rng() % 6) {
            case 0: std::swap(m.faces[f][1], m.faces[f][2]); break;             // flipped
            case 1: m.faces.push_back(m.faces[f]); break;                        // repeated
            case 2: m.faces[f][rng() % 3] = m.faces[f][(rng() % 2) + 0]; break;  // names a vertex twice
            case 3: m.faces.push_back({m.faces[f][0], m.faces[f][1], m.V++}); break;  // third face on an edge
            case 4: m.faces.push_back({m.faces[f][0], m.V, m.V + 1}); m.V += 2; break;  // bow-tie fin
            default: m.faces.push_back({m.faces[f][2], m.faces[f][1], m.faces[f][0]}); break;  // back face
        }
    }
    return m;
}

TEST(LODInvariants, DamagedMeshesEndCleanly) {
    int failures = 0;  // none of these damages defeats the decomposition
    for (unsigned seed = 0; seed < 300; ++seed) {
        const Mesh m = damaged(seed);
        try {
            const LODConnectivity lod(6, m.faces, m.V + 1);
            EXPECT_EQ(orvtest::layeringViolation(lod, false), "") << "seed " << seed;
        } catch (const CheckFailure& e) {
            ++failures;
            EXPECT_NE(std::string(e.what()).find("Assertion failed: "), std::string::npos);
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(LODInvariants, SelfReferencingRingFailsTheDecodingOrderCheck) {
    // Faces naming vertex 0 twice chain into a fan whose ring holds 0 itself;
    // 0 is removed with a term on itself, which the final check refuses.
    const FaceList faces{{0, 1, 0}, {0, 0, 2}, {0, 2, 1}};
    try {
        const LODConnectivity lod(2, faces, 3);
        FAIL() << "expected a check failure";
    } catch (const CheckFailure& e) {
        EXPECT_NE(std::string(e.what()).find("VertexTraverser::isConsistent(vertexOrder_[l], vertexPredictor_[l], "
                                             "isVisited), file Decoder/LODConnectivity"),
                  std::string::npos);
    }
}

TEST(LODDeterminism, SameFacesSameDump) {
    const Mesh m = orvtest::shuffled(orvtest::disjointUnion(orvtest::icosphereMesh(3), orvtest::torusMesh(20, 7)), 11);
    const std::string a = layeringDump(LODConnectivity(8, m.faces, m.V));
    const std::string b = layeringDump(LODConnectivity(8, m.faces, m.V));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.substr(0, 4), "L 0 ");
}

// The first frame of each real sequence: invariants, and for three of them
// the layer counts and dump hash of an independent reading of the layering.
struct RealCase {
    const char* sequence;
    std::vector<size_t> counts;  // empty: not compared
    const char* sha256;
    friend void PrintTo(const RealCase& c, std::ostream* os) { *os << c.sequence; }
};

class LODRealMeshes : public ::testing::TestWithParam<RealCase> {};

TEST_P(LODRealMeshes, MatchesIndependentReading) {
    const RealCase& c = GetParam();
    ORV_REQUIRE_SEQUENCE(dir, c.sequence);
    const auto frames = orvtest::sequenceFrames(dir);
    ASSERT_FALSE(frames.empty());
    FaceList faces;
    const auto geometry = readOBJ(frames.front().string(), faces);
    ASSERT_TRUE(geometry);
    const LODConnectivity lod(8, faces, geometry->V);
    EXPECT_EQ(orvtest::layeringViolation(lod, true), "");
    if (c.counts.empty()) return;
    std::vector<size_t> counts;
    for (const auto& layer : lod.vertexOrder_) counts.push_back(layer.size());
    EXPECT_EQ(counts, c.counts);
    EXPECT_EQ(orvtest::sha256Hex(layeringDump(lod)), c.sha256);
}

INSTANTIATE_TEST_SUITE_P(
    FirstFrames, LODRealMeshes,
    ::testing::Values(
        RealCase{"horse-gallop", {910, 324, 460, 617, 861, 1183, 1605, 2471},
                 "76af921df83318a4032e736d6ca8878f879fa3b17afb2002dc496d597eae82de"},
        RealCase{"pcow", {313, 114, 159, 226, 298, 405, 576, 813},
                 "1547e97f9ead780e91179cd9f0650d98899f429bd73569e19b5d15c444072d0d"},
        RealCase{"chickenCrossing", {422, 110, 153, 227, 303, 405, 562, 848},
                 "37508756f3bc92eee47a5966349c1bb5990b714c4c4732882e5ed794f17cac2b"},
        RealCase{"pdance", {}, ""}),
    [](const ::testing::TestParamInfo<RealCase>& info) {
        std::string name = info.param.sequence;
        name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
        return name;
    });

TEST(LODDump, HashOfKnownText) {
    EXPECT_EQ(orvtest::sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(orvtest::sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(layeringDump(LODConnectivity(2, {{0, 1, 2}, {2, 1, 3}}, 4)), "L 0 4\n0\n1 0 1\n2 0 0.5 1 0.5\n3 2 0.5 1 0.5\nL 1 0\n");
}

}  // namespace
}  // namespace orv
