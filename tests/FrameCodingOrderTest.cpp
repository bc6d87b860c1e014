// Tests of the frame coding order: the worked tables in both decoder variants,
// the group cut of long sequences, the edge cases, refused layer counts, and
// the invariants over a range of sequence lengths and layer counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Encoder/FrameCodingOrderGen.h"

namespace orv {
namespace {

struct Tables {
    std::vector<int> f;
    std::vector<std::vector<int>> rf;
    std::vector<int> tl;
};

Tables order(int F, int nTL, bool closedRefFirst, int openRun) {
    Tables t;
    generateFrameCodingOrder(t.f, t.rf, t.tl, F, nTL, closedRefFirst, openRun);
    return t;
}

using Refs = std::vector<std::vector<int>>;

TEST(FrameCodingOrder, NineFramesFourLayersBothVariants) {
    for (const auto& [closed, run] : {std::pair{false, -1}, std::pair{true, 0}}) {
        const Tables t = order(9, 4, closed, run);
        EXPECT_EQ(t.f, (std::vector<int>{0, 8, 4, 2, 6, 1, 3, 5, 7}));
        EXPECT_EQ(t.rf, (Refs{{}, {0}, {0, 8}, {0, 4}, {4, 8}, {0, 2}, {2, 4}, {4, 6}, {6, 8}}));
        EXPECT_EQ(t.tl, (std::vector<int>{-1, 0, 1, 2, 2, 3, 3, 3, 3}));
    }
}

TEST(FrameCodingOrder, TwelveFramesThreeLayers) {
    const std::vector<int> frames{0, 4, 2, 1, 3, 8, 6, 5, 7, 10, 9, 11};
    const std::vector<int> layers{-1, 0, 1, 2, 2, 0, 1, 2, 2, 0, 1, 0};
    const Tables open = order(12, 3, false, -1);
    EXPECT_EQ(open.f, frames);
    EXPECT_EQ(open.tl, layers);
    EXPECT_EQ(open.rf, (Refs{{}, {0}, {0, 4}, {0, 2}, {2, 4}, {4}, {4, 8}, {4, 6}, {6, 8}, {8}, {8, 10}, {10}}));
    const Tables closed = order(12, 3, true, 0);
    EXPECT_EQ(closed.f, frames);
    EXPECT_EQ(closed.tl, layers);
    EXPECT_EQ(closed.rf, (Refs{{}, {0}, {0, 4}, {0, 2}, {2, 4}, {0}, {4, 8}, {4, 6}, {6, 8}, {0}, {8, 10}, {0}}));
    // Alternating OPEN and CLOSED_INTRA groups.
    const Tables alternating = order(12, 3, false, 1);
    EXPECT_EQ(alternating.f, frames);
    EXPECT_EQ(alternating.rf, (Refs{{}, {0}, {0, 4}, {0, 2}, {2, 4}, {}, {4, 8}, {4, 6}, {6, 8}, {8}, {8, 10}, {}}));
}

TEST(FrameCodingOrder, HundredFramesCutGreedily) {
    const Tables t = order(100, 9, false, -1);
    // Key frames (layer 0) open the groups at positions 1, 65, 97 and 99.
    std::vector<int> starts;
    for (int p = 0; p < 100; ++p)
        if (t.tl[p] == 0) starts.push_back(p);
    EXPECT_EQ(starts, (std::vector<int>{1, 65, 97, 99}));
    EXPECT_EQ(t.f[1], 64);
    EXPECT_EQ(t.f[65], 96);
    EXPECT_EQ(t.f[97], 98);
    EXPECT_EQ(t.f[99], 99);
    EXPECT_EQ(*std::max_element(t.tl.begin(), t.tl.end()), 6);  // a 64-frame group
}

TEST(FrameCodingOrder, EdgeCases) {
    Tables t = order(1, 4, false, -1);
    EXPECT_EQ(t.f, (std::vector<int>{0}));
    EXPECT_EQ(t.rf, (Refs{{}}));
    EXPECT_EQ(t.tl, (std::vector<int>{-1}));
    t = order(2, 4, false, -1);
    EXPECT_EQ(t.f, (std::vector<int>{0, 1}));
    EXPECT_EQ(t.rf, (Refs{{}, {0}}));
    EXPECT_EQ(t.tl, (std::vector<int>{-1, 0}));
    t = order(5, 1, false, -1);
    EXPECT_EQ(t.f, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(t.rf, (Refs{{}, {0}, {1}, {2}, {3}}));
    EXPECT_EQ(t.tl, (std::vector<int>{-1, 0, 0, 0, 0}));
    t = order(5, 1, true, 0);
    EXPECT_EQ(t.rf, (Refs{{}, {0}, {0}, {0}, {0}}));
    t = order(13, 4, false, -1);
    EXPECT_EQ(std::vector<int>(t.f.begin() + 9, t.f.end()), (std::vector<int>{12, 10, 9, 11}));
    EXPECT_EQ(std::vector<int>(t.tl.begin() + 9, t.tl.end()), (std::vector<int>{0, 1, 2, 2}));
    EXPECT_EQ(Refs(t.rf.begin() + 9, t.rf.end()), (Refs{{8}, {8, 12}, {8, 10}, {10, 12}}));
    EXPECT_EQ(order(13, 4, true, 0).rf[9], (std::vector<int>{0}));
    // No frames: empty tables, whatever was in them before.
    t = order(9, 4, false, -1);
    generateFrameCodingOrder(t.f, t.rf, t.tl, 0, 4, false, -1);
    EXPECT_TRUE(t.f.empty() && t.rf.empty() && t.tl.empty());
}

TEST(FrameCodingOrder, RefusesLayerCountsWithoutAGroupSize) {
    for (int nTL : {0, -1, 32, 255}) {
        Tables t;
        try {
            generateFrameCodingOrder(t.f, t.rf, t.tl, 10, nTL, false, -1);
            FAIL() << "nTL " << nTL << " was accepted";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("nTL = " + std::to_string(nTL)), std::string::npos);
        }
    }
    Tables t;
    EXPECT_NO_THROW(generateFrameCodingOrder(t.f, t.rf, t.tl, 10, 31, false, -1));
    EXPECT_THROW(generateFrameCodingOrder(t.f, t.rf, t.tl, -3, 4, false, -1), Error);
}

TEST(FrameCodingOrder, GroupChecks) {
    std::vector<int> f(8), tl(8);
    std::vector<std::vector<int>> rf(7);
    auto text = [&](int begin, int size) {
        try {
            generateGOM(f, rf, tl, begin, size, OPEN);
        } catch (const CheckFailure& e) {
            return std::string(e.what());
        }
        return std::string("no failure");
    };
    EXPECT_NE(text(1, 4).find("_f.size() ==_rf.size(), file Encoder/FrameCodingOrderGen"), std::string::npos);
    rf.resize(8);
    EXPECT_NE(text(5, 4).find("_f.size() >=_fBegin+_sizeOpenGOM"), std::string::npos);
    EXPECT_NE(text(1, 0).find("sizeLayer>0"), std::string::npos);
    EXPECT_NE(text(-1, 2).find("Assertion failed"), std::string::npos);
    EXPECT_NE(text(3, 2147483647).find("Assertion failed"), std::string::npos);
    EXPECT_EQ(text(4, 4), "no failure");
}

// For every length and layer count: a permutation starting with frame 0,
// references coded earlier, two references bracketing their midpoint, layers
// within range.
TEST(FrameCodingOrder, InvariantsOverLengthsAndLayers) {
    for (int F = 1; F <= 70; ++F) {
        for (int nTL = 1; nTL <= 8; ++nTL) {
            for (const auto& [closed, run] : {std::pair{false, -1}, std::pair{true, 0}, std::pair{false, 2}}) {
                const Tables t = order(F, nTL, closed, run);
                ASSERT_EQ(t.f.size(), static_cast<size_t>(F));
                std::vector<int> position(static_cast<size_t>(F), -1);
                for (int p = 0; p < F; ++p) {
                    ASSERT_GE(t.f[p], 0);
                    ASSERT_LT(t.f[p], F);
                    ASSERT_EQ(position[t.f[p]], -1) << "frame coded twice";
                    position[t.f[p]] = p;
                }
                EXPECT_EQ(t.f[0], 0);
                for (int p = 1; p < F; ++p) {
                    for (int r : t.rf[p]) {
                        ASSERT_GE(r, 0);
                        ASSERT_LT(position[r], p) << "F " << F << " nTL " << nTL << " position " << p;
                    }
                    if (t.rf[p].size() == 2) {
                        EXPECT_EQ(t.f[p], (t.rf[p][0] + t.rf[p][1]) / 2);
                    }
                    EXPECT_GE(t.tl[p], 0);
                    EXPECT_LT(t.tl[p], nTL);
                }
            }
        }
    }
}

}  // namespace
}  // namespace orv
