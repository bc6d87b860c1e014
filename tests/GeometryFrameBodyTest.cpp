// The local-frame arithmetic on one vertex and on SSE2 pairs: each lane of a
// pair must give the scalar frame bit for bit, also for the inputs where the
// masks decide (zero, parallel, NaN, tiny and huge axis sums).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "Encoder/GeometryMath.h"

using namespace orv;
using namespace orv::geometry_math;

namespace {

bool sameBits(double _a, double _b) { return std::memcmp(&_a, &_b, sizeof _a) == 0; }

bool sameBits(const Vector3d& _a, const Vector3d& _b) {
    return sameBits(_a.x, _b.x) && sameBits(_a.y, _b.y) && sameBits(_a.z, _b.z);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kTiny = std::numeric_limits<double>::denorm_min();

const std::vector<Vector3d> kSums = {
    {1.0, 0.0, 0.0},     {0.0, 1.0, 0.0},   {0.0, 0.0, 0.0},     {-0.0, 0.0, -0.0}, {2.0, 0.0, 0.0},
    {0.3, -1.7, 2.9},    {1e-300, 0, 1e-300}, {kTiny, kTiny, 0.0}, {1e200, -3e199, 1e200},
    {kNaN, 1.0, 0.0},    {0.1, 0.2, 0.3},   {-5.5, 4.25, -1e-9},
};

}  // namespace

TEST(GeometryFrameBody, ScalarFramesOfPlainAndDegenerateSums) {
    const LocalFrame id = finishFrame({1.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
    EXPECT_TRUE(id.ok);
    EXPECT_TRUE(sameBits(id.n, Vector3d{0.0, 0.0, 1.0}));
    EXPECT_TRUE(sameBits(id.t2, Vector3d{0.0, 1.0, 0.0}));
    // Parallel sums: no normal, and the zero vector is +0 everywhere.
    const LocalFrame par = finishFrame({1.0, 0.0, 0.0}, {2.0, 0.0, 0.0});
    EXPECT_FALSE(par.ok);
    EXPECT_TRUE(sameBits(par.n, Vector3d{0.0, 0.0, 0.0}));
    EXPECT_FALSE(finishFrame({0.0, 0.0, 0.0}, {0.0, 1.0, 0.0}).ok);
    // NaN is not zero: such a frame is not replaced (and stays NaN).
    const LocalFrame nan = finishFrame({kNaN, 1.0, 0.0}, {0.0, 0.0, 1.0});
    EXPECT_TRUE(nan.ok);
    EXPECT_TRUE(std::isnan(nan.t1.x));
}

#if ORV_GEOMETRY_SSE2
struct PairLanes {
    __m128d x, y, z;
};

TEST(GeometryFrameBody, Sse2LanesGiveTheScalarFrameBitForBit) {
    auto pair = [](const Vector3d& _a, const Vector3d& _b) {
        return PairLanes{_mm_setr_pd(_a.x, _b.x), _mm_setr_pd(_a.y, _b.y), _mm_setr_pd(_a.z, _b.z)};
    };
    auto lane = [](const PairLanes& _p, int _i) {
        double x[2], y[2], z[2];
        _mm_storeu_pd(x, _p.x);
        _mm_storeu_pd(y, _p.y);
        _mm_storeu_pd(z, _p.z);
        return Vector3d{x[_i], y[_i], z[_i]};
    };
    for (const Vector3d& a1 : kSums)
        for (const Vector3d& a2 : kSums)
            for (const Vector3d& b1 : {kSums[5], kSums[2]}) {
                const Vector3d b2 = kSums[0];
                const frame_body::Frame<PairLanes> f = frame_body::finish<Sse2Ops>(pair(a1, b1), pair(a2, b2));
                const int bad = _mm_movemask_pd(frame_body::degenerate<Sse2Ops>(f));
                const LocalFrame sa = finishFrame(a1, a2), sb = finishFrame(b1, b2);
                EXPECT_TRUE(sameBits(lane(f.t1, 0), sa.t1) && sameBits(lane(f.t2, 0), sa.t2) &&
                            sameBits(lane(f.n, 0), sa.n))
                    << a1.x << " " << a1.y << " " << a1.z << " / " << a2.x << " " << a2.y << " " << a2.z;
                EXPECT_TRUE(sameBits(lane(f.t1, 1), sb.t1) && sameBits(lane(f.t2, 1), sb.t2) &&
                            sameBits(lane(f.n, 1), sb.n));
                EXPECT_EQ((bad & 1) != 0, !sa.ok);
                EXPECT_EQ((bad & 2) != 0, !sb.ok);
            }
}
#endif
