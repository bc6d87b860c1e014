// The error measures of OrvEnc's report against values worked out by hand on
// a two-vertex, two-frame animation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "SequenceEncoder/QualityMetrics.h"

namespace {

using orv::GeometryT;
using orv::Vector3d;

// Frame 0: (0,0,0) and (2,0,0); frame 1: (0,0,0) and (0,2,0).
GeometryT<double> original() {
    GeometryT<double> g(2, 2);
    g.setPosition(1, 0, {2, 0, 0});
    g.setPosition(1, 1, {0, 2, 0});
    return g;
}

TEST(QualityMetrics, HandComputedTinySequence) {
    const GeometryT<double> a = original();
    GeometryT<double> b = original();
    b.setPosition(0, 0, {0.3, 0.4, 0});  // error 0.5
    b.setPosition(1, 1, {0, 2, 1});      // error 1
    const orv::QualityMetrics q = orv::measureQuality(a, b);
    // Box [0,2] x [0,2] x [0,0].
    EXPECT_DOUBLE_EQ(q.diagonal, std::sqrt(8.0));
    // Squared errors 0.25 + 1 over 4 vertex-frames.
    EXPECT_DOUBLE_EQ(q.rmse, std::sqrt(1.25 / 4));
    EXPECT_DOUBLE_EQ(q.maxError, 1.0);
    EXPECT_DOUBLE_EQ(q.rmseOverDiagonal(), std::sqrt(1.25 / 4) / std::sqrt(8.0));
    EXPECT_DOUBLE_EQ(q.maxOverDiagonal(), 1.0 / std::sqrt(8.0));
    // Spread around the frame means: x of frame 0 (-1, +1), y of frame 1
    // (-1, +1): ||A - E(A)||_F = 2, so KG = 100 * sqrt(1.25) / 2.
    EXPECT_NEAR(q.kg, 50.0 * std::sqrt(1.25), 1e-12);
}

TEST(QualityMetrics, KgUsesEachFramesOwnMean) {
    // Moving the whole second frame away changes the bounding box but not the
    // spread around the frame means, so KG stays where it was.
    GeometryT<double> a = original(), b = original();
    b.setPosition(1, 1, {0, 2, 1});
    const double before = orv::measureQuality(a, b).kg;
    for (int v = 0; v < 2; ++v) {
        Vector3d p = a.position(v, 1);
        a.setPosition(v, 1, {p.x + 100, p.y - 50, p.z + 7});
        Vector3d r = b.position(v, 1);
        b.setPosition(v, 1, {r.x + 100, r.y - 50, r.z + 7});
    }
    const orv::QualityMetrics q = orv::measureQuality(a, b);
    EXPECT_NEAR(q.kg, before, 1e-9);
    EXPECT_NEAR(q.kg, 50.0, 1e-9);  // error 1 against spread 2
    EXPECT_GT(q.diagonal, 100.0);
}

TEST(QualityMetrics, IdenticalAndDegenerateSequences) {
    const GeometryT<double> a = original();
    const orv::QualityMetrics same = orv::measureQuality(a, a);
    EXPECT_EQ(same.rmse, 0.0);
    EXPECT_EQ(same.maxError, 0.0);
    EXPECT_EQ(same.kg, 0.0);

    // One vertex per frame: no spread around the mean, so any error is an
    // infinite KG error and no error is zero.
    GeometryT<double> p(1, 2), q(1, 2);
    p.setPosition(0, 1, {1, 1, 1});
    q.setPosition(0, 1, {1, 1, 1});
    EXPECT_EQ(orv::measureQuality(p, q).kg, 0.0);
    q.setPosition(0, 0, {0, 0, 0.5});
    const orv::QualityMetrics r = orv::measureQuality(p, q);
    EXPECT_EQ(r.kg, std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(r.maxError, 0.5);
    EXPECT_DOUBLE_EQ(r.rmse, std::sqrt(0.25 / 2));
}

TEST(QualityMetrics, RefusesGeometriesOfDifferentShape) {
    EXPECT_THROW(orv::measureQuality(GeometryT<double>(2, 2), GeometryT<double>(2, 3)), orv::Error);
    EXPECT_THROW(orv::measureQuality(GeometryT<double>(2, 2), GeometryT<double>(3, 2)), orv::Error);
}

TEST(QualityMetrics, BoundingBoxSpansAllFrames) {
    GeometryT<double> g(2, 3);
    g.setPosition(0, 0, {-1, 0, 0});
    g.setPosition(1, 2, {0, 3, 4});
    const orv::BoundingBox box = orv::sequenceBoundingBox(g);
    EXPECT_EQ(box.lo, (Vector3d{-1, 0, 0}));
    EXPECT_EQ(box.hi, (Vector3d{0, 3, 4}));
    EXPECT_DOUBLE_EQ(box.diagonal(), std::sqrt(26.0));
    EXPECT_EQ(orv::sequenceBoundingBox(GeometryT<double>(0, 0)).diagonal(), 0.0);
}

}  // namespace
