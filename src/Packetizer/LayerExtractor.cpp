// Layer extraction. Payloads are never parsed, only moved; byte counts are
// checked against what is left of the input before any copy, so a lying
// count gives an error naming the frame and layer instead of a huge buffer.
#include "Packetizer/LayerExtractor.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Common/StreamRules.h"
#include "Encoder/RedundancyMinCoder.h"

namespace orv {

namespace {

class Extractor {
public:
    Extractor(BitBuffer& _in, BitBuffer& _out) : in_(_in), out_(_out) {}

    // Re-encodes the frame header; one that no writer produces cannot be
    // written again and is reported as corrupt.
    FrameHeader copyFrameHeader() {
        if (in_.bytesLeft() < RedundancyMinCoder::kFrameHeaderBytes)
            throw Error("the stream ends inside a frame header (truncated stream)");
        const FrameHeader h = RedundancyMinCoder::readFrameHeader(in_, rf_);
        for (int r : rf_)
            if (!stream_rules::referenceWritable(r, h.frame))
                throw Error("corrupt frame header of frame " + std::to_string(h.frame) + ": reference offset " +
                            std::to_string(r - h.frame));
        RedundancyMinCoder::writeFrameHeader(out_, h.temporalLayer, h.frame, rf_);
        return h;
    }

    void chunk(int _frame, int _l, bool _keep) {
        if (in_.bytesLeft() < 4)
            throw Error("the stream ends before the chunk of layer " + std::to_string(_l) + " of frame " +
                        std::to_string(_frame) + " (truncated stream)");
        const uint32_t n = in_.getBits(32);
        if (n > in_.bytesLeft())
            throw Error("the chunk of layer " + std::to_string(_l) + " of frame " + std::to_string(_frame) +
                        " announces " + std::to_string(n) + " bytes, but only " +
                        std::to_string(in_.bytesLeft()) + " remain (truncated or corrupt stream)");
        payload_.resize(n);
        in_.getBytes(payload_.data(), n);
        if (_keep) {
            out_.putBits(n, 32);
            out_.putBytes(payload_.data(), n);
        } else {
            out_.putBits(0, 32);
        }
    }

private:
    BitBuffer& in_;
    BitBuffer& out_;
    std::vector<int> rf_;  // reused for every record
    std::vector<uint8_t> payload_;
};

}  // namespace

void extractLayers(BitBuffer& _in, int _nSL, int _F, int _nSLreq, int _nTLreq, BitBuffer& _out) {
    Extractor x(_in, _out);
    // The first record carries everything later frames predict from: its
    // temporal layer field is not interpreted and all its chunks stay.
    const FrameHeader first = x.copyFrameHeader();
    for (int l = 0; l < _nSL; ++l) x.chunk(first.frame, l, true);
    for (int record = 1; record < _F; ++record) {
        const FrameHeader h = x.copyFrameHeader();
        std::printf("  Packetizing frame %d\r", h.frame);
        for (int l = 0; l < _nSL; ++l) x.chunk(h.frame, l, stream_rules::isLayerDecoded(h.temporalLayer, l, _nSLreq, _nTLreq));
    }
}

}  // namespace orv
