// Frame slots and the encoder's use of them: a slot is zero-filled unless the
// caller says it writes every value first, and the encoder, which skips the
// fill when its layers hold every vertex, must still reconstruct exactly what
// the decoder (which zero-fills) decodes, also once slots are reused and for
// a mesh with a vertex of no face.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "Encoder/FrameSlots.h"
#include "SequenceEncoder/RateDistortionOptions.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "InProcessDecode.h"

using namespace orv;

namespace {

TEST(FrameSlots, SlotsAreZeroFilledUnlessTheCallerWritesThemAll) {
    constexpr size_t n = 6;
    FrameSlots slots(n, 4);
    double* a = slots.take(0);
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(a[i], 0.0);
    for (size_t i = 0; i < n; ++i) a[i] = 1.0 + static_cast<double>(i);
    slots.release(0);
    // The freed slot comes back zero-filled by default...
    double* b = slots.take(1);
    EXPECT_EQ(b, a);
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(b[i], 0.0);
    for (size_t i = 0; i < n; ++i) b[i] = 7.0;
    slots.release(1);
    // ...and as it was for a caller that overwrites it.
    double* c = slots.take(2, false);
    EXPECT_EQ(c, a);
    EXPECT_EQ(c[n - 1], 7.0);
    EXPECT_TRUE(slots.holds(2));
    EXPECT_FALSE(slots.holds(1));
    // A fresh slot asked for without the fill still has room for n values.
    double* d = slots.take(3, false);
    EXPECT_NE(d, c);
    for (size_t i = 0; i < n; ++i) d[i] = -1.0;
    EXPECT_EQ(slots.peak(), 2u);
}

// A W x H grid waving in time, and with _loose one more vertex in no face.
struct Grid {
    FaceList faces;
    GeometryT<double> positions;
    Grid(int W, int H, int F, bool _loose) : positions(W * H + (_loose ? 1 : 0), F) {
        for (int j = 0; j + 1 < H; ++j)
            for (int i = 0; i + 1 < W; ++i) {
                const int a = j * W + i;
                faces.push_back({a, a + 1, a + W + 1});
                faces.push_back({a, a + W + 1, a + W});
            }
        for (int f = 0; f < F; ++f) {
            for (int v = 0; v < W * H; ++v) {
                const double x = (v % W) / double(W), y = (v / W) / double(H);
                positions.setPosition(v, f, {x, y, 0.1 * std::sin(6 * x + 0.4 * f) * std::cos(5 * y + 0.1 * f)});
            }
            if (_loose) positions.setPosition(W * H, f, {0.5 + 0.01 * f, -0.2, 0.3 * std::sin(0.5 * f)});
        }
    }
};

TEST(FrameSlots, EncoderReconstructionIsTheDecodedOneWithReusedSlots) {
    // Seventeen frames over three temporal layers free and reuse detail
    // slots many times over.
    for (bool loose : {false, true})
        for (int effort : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << (loose ? "a vertex of no face, " : "") << "effort " << effort);
            const Grid grid(11, 9, 17, loose);
            Settings s;
            s.nSL = 3;
            s.nTL = 3;
            RdOptions rd = RdOptions::fixedForEffort(effort);
            for (int threads : {1, 2}) {
                const EncodedSequence enc = encodeSequence(grid.positions, grid.faces, s, 0.002, rd, {}, threads);
                const GeometryT<double> dec = orvtest::decodeStreamFile(enc.streamFile, grid.faces);
                ASSERT_EQ(dec.V, enc.reconstruction.V);
                ASSERT_EQ(dec.F, enc.reconstruction.F);
                for (int f = 0; f < dec.F; ++f)
                    ASSERT_EQ(std::memcmp(dec.frame(f), enc.reconstruction.frame(f), sizeof(double) * 3 * dec.V), 0)
                        << "frame " << f << ", " << threads << " threads";
            }
        }
}

}  // namespace
