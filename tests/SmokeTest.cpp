// Build smoke test: the core containers link and behave.
#include <gtest/gtest.h>

#include "Mesh/GeometryT.h"

TEST(Smoke, GeometryIsZeroed) {
    orv::GeometryT<double> g(2, 1);
    EXPECT_EQ(g.position(1, 0).x, 0.0);
}
