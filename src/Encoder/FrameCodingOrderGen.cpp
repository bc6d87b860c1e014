// FrameCodingOrderGen: frame 0 first, then the rest cut greedily into groups
// of 2^(nTL-1) frames (ever smaller powers of two at the end). A group codes
// its last frame (the key frame) first and fills in the rest by bisection,
// coarse intervals first; a frame's temporal layer is its bisection depth.
#include "Encoder/FrameCodingOrderGen.h"

#include <climits>
#include <cstdint>
#include <string>

#include "Common/Check.h"
#include "Common/StreamRules.h"

namespace orv {

void generateFrameCodingOrder(std::vector<int>& _f, std::vector<std::vector<int>>& _rf, std::vector<int>& _tl, int F,
                              int nTL, bool closedRefFirst, int openRun) {
    // The group size must be a positive power of two; a stream header can
    // carry any 8-bit layer count, so anything else is refused outright.
    if (!stream_rules::temporalLayersValid(nTL))
        throw Error("the frame coding order needs 1 to " + std::to_string(stream_rules::kMaxTemporalLayers) +
                    " temporal layers, but the stream has nTL = " + std::to_string(nTL));
    if (F < 0) throw Error("the frame coding order needs a frame count of at least 0, but F = " + std::to_string(F));
    _f.assign(static_cast<size_t>(F), 0);
    _rf.assign(static_cast<size_t>(F), std::vector<int>());
    _tl.assign(static_cast<size_t>(F), 0);
    if (F == 0) return;
    _f[0] = 0;
    _rf[0].clear();
    _tl[0] = -1;
    int size = 1 << (nTL - 1);
    int run = 0;
    int p = 1;
    while (p < F) {
        while (static_cast<int64_t>(p) + size > F) size >>= 1;
        GOMType type;
        if (run < openRun || openRun == -1) {
            type = OPEN;
            ++run;
        } else {
            type = closedRefFirst ? CLOSED_REF_FIRST : CLOSED_INTRA;
            run = 0;
        }
        generateGOM(_f, _rf, _tl, p, size, type);
        p += size;
    }
}

void generateGOM(std::vector<int>& _f, std::vector<std::vector<int>>& _rf, std::vector<int>& _tl, int _fBegin,
                 int _sizeOpenGOM, GOMType _gomType) {
    ORV_CHECK(_f.size() ==_rf.size(), "Encoder/FrameCodingOrderGen");
    // Guards for direct callers: the layer table must be as long as the
    // others, and the group must not start before the table or wrap around.
    ORV_CHECK(_tl.size()==_f.size(), "Encoder/FrameCodingOrderGen");
    ORV_CHECK(_fBegin>=0 && _sizeOpenGOM<=INT_MAX-_fBegin, "Encoder/FrameCodingOrderGen");
    // The group must fit the tables; an unsigned comparison, so a negative
    // end fails too.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
    ORV_CHECK(_f.size() >=_fBegin+_sizeOpenGOM, "Encoder/FrameCodingOrderGen");
#pragma GCC diagnostic pop
    const int b = _fBegin;
    const int S = _sizeOpenGOM;
    int sizeLayer = S;
    // Checked before the key frame is written, so that an empty group cannot
    // write one past the end of the tables.
    ORV_CHECK(sizeLayer>0, "Encoder/FrameCodingOrderGen");
    switch (_gomType) {
        case OPEN:
            _rf[b] = {b - 1};
            break;
        case CLOSED_REF_FIRST:
            _rf[b] = {0};
            break;
        default:
            _rf[b].clear();
            break;
    }
    _f[b] = b + S - 1;
    _tl[b] = 0;

    int layer = 0;
    while ((S >> (layer + 1)) > 0) ++layer;  // index of the highest set bit
    // 64-bit so that the last doubling and the interval sums cannot overflow
    // for the largest groups.
    int64_t step = 1;
    int next = b + S;
    for (;;) {
        step *= 2;
        sizeLayer >>= 1;
        next -= sizeLayer;
        if (sizeLayer <= 0) break;
        int64_t left = b - 1;
        for (int k = 0; k < sizeLayer; ++k) {
            const int64_t right = left + step;
            _rf[next + k].assign({static_cast<int>(left), static_cast<int>(right)});
            _f[next + k] = static_cast<int>((left + right) / 2);
            _tl[next + k] = layer;
            left = right;
        }
        --layer;
    }
}

}  // namespace orv
