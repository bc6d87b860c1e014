// The stream-format rules every writer, checker, cutter and reader shares: the
// reference offsets a frame header can hold, which chunks a cut keeps, the
// step sizes and layer counts a header may give, the frame-number check with
// its messages; and OrvEnc's temporal-layer limit against the coding order the
// encoder really writes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Common/StreamRules.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "EncoderApp/EncoderOptions.h"

using namespace orv;
using namespace orv::stream_rules;

namespace {

std::string frameError(int _frame, int _F, int _recordFrame) {
    try {
        requireFrameInStream(_frame, _F, _recordFrame);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// Whether the encoder's coding order for F frames and nTL layers writes only
// references a frame header holds (frame 0 opens the first group, as OrvEnc
// codes it).
bool codingOrderWritable(int _F, int _nTL, bool _refFirstFrame) {
    std::vector<int> frames, layers;
    std::vector<std::vector<int>> refs;
    generateFrameCodingOrder(frames, refs, layers, _F, _nTL, _refFirstFrame, _refFirstFrame ? 0 : -1);
    for (size_t p = 1; p < frames.size(); ++p)
        for (int r : refs[p])
            if (!referenceWritable(r, frames[p])) return false;
    return true;
}

}  // namespace

TEST(StreamRules, ReferenceOffsetsAreRelativeExceptFrameZero) {
    EXPECT_EQ(referenceOffset(0, 500), 0);
    EXPECT_EQ(referenceOffset(3, 5), -2);
    EXPECT_EQ(referenceOffset(9, 5), 4);
    // Frame 0 is reachable from anywhere, others only closer than 127.
    EXPECT_TRUE(referenceWritable(0, 60000));
    EXPECT_TRUE(referenceWritable(1, 127));
    EXPECT_FALSE(referenceWritable(1, 128));
    EXPECT_TRUE(referenceWritable(253, 127));
    EXPECT_FALSE(referenceWritable(254, 127));
    EXPECT_EQ(kNoReference, 127);
}

TEST(StreamRules, CutKeepsTemporalLayerZeroAndTheRequestedLayers) {
    for (int l = 0; l < 8; ++l) EXPECT_TRUE(isLayerDecoded(0, l, 1, 1)) << l;
    EXPECT_TRUE(isLayerDecoded(1, 0, 1, 2));
    EXPECT_FALSE(isLayerDecoded(1, 1, 1, 2));
    EXPECT_FALSE(isLayerDecoded(2, 0, 8, 2));
    EXPECT_TRUE(isLayerDecoded(2, 7, 8, 3));
}

TEST(StreamRules, HeaderFieldLimits) {
    EXPECT_FALSE(temporalLayersValid(0));
    EXPECT_TRUE(temporalLayersValid(1));
    EXPECT_TRUE(temporalLayersValid(31));
    EXPECT_FALSE(temporalLayersValid(32));
    EXPECT_TRUE(stepSizeValid(1e-300));
    EXPECT_TRUE(stepSizeValid(1e295));
    EXPECT_FALSE(stepSizeValid(1e297));
    // The bound is 2^-40 of the largest double, about 1.635e296.
    EXPECT_TRUE(stepSizeValid(1.63e296));
    EXPECT_FALSE(stepSizeValid(1.64e296));
    EXPECT_FALSE(stepSizeValid(0.0));
    EXPECT_FALSE(stepSizeValid(-1.0));
    EXPECT_FALSE(stepSizeValid(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(stepSizeValid(std::nan("")));
    EXPECT_EQ(kMaxFrames, 65535);
    EXPECT_EQ(kMaxSpatialLayers, 255);
}

TEST(StreamRules, FrameNumbersOutsideTheStreamAreCorruption) {
    EXPECT_EQ(frameError(0, 1, -1), "");
    EXPECT_EQ(frameError(4, 5, 2), "");
    EXPECT_EQ(frameError(5, 5, -1), "corrupt stream: frame record for frame 5, the stream has frames 0..4");
    EXPECT_EQ(frameError(-2, 5, 1), "corrupt stream: frame 1 references frame -2, the stream has frames 0..4");
}

// OrvEnc offers the largest nTL its own rule allows; the coding order the
// encoder then writes must fit the frame headers with it, and with one more
// layer must not (else OrvEnc would refuse layer counts that work).
TEST(StreamRules, OrvEncTemporalLimitMatchesTheWrittenCodingOrder) {
    for (int refFirst = 0; refFirst < 2; ++refFirst)
        for (int F : {1, 2, 3, 64, 65, 127, 128, 129, 130, 200, 255, 256, 257, 300, 1000, 4097}) {
            SCOPED_TRACE("F " + std::to_string(F) + " refFirstFrame " + std::to_string(refFirst));
            const int nTL = maxTemporalLayers(F, refFirst != 0);
            EXPECT_TRUE(codingOrderWritable(F, nTL, refFirst != 0)) << nTL;
            if (nTL < kMaxTemporalLayers) {
                EXPECT_FALSE(codingOrderWritable(F, nTL + 1, refFirst != 0)) << nTL;
            }
        }
}
