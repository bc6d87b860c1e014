// RedundancyMinCoder: the stream and frame headers, and the residual front end
// that moves a layer chunk between the bit stream and the context's GQuant.
//
// Stream header (33 bytes): V (32 bits), F (16), nSL (8), nTL (8), four switch
// bits, skip to the byte boundary, then three step sizes as little-endian
// IEEE 754 doubles. Frame header (5 bytes): temporal layer (8), frame number
// (16), two sign+magnitude reference offsets (1+7 each); 127 means "no
// reference", 0 means frame 0, anything else is stored relative to the frame.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Common/StreamRules.h"
#include "Encoder/DecoderContext.h"
#include "Encoder/Settings.h"
#include "Entropy/BitBuffer.h"

namespace orv {

// The header's sizes, read without allocating anything per frame.
struct StreamHeader {
    uint32_t V = 0;
    int F = 0;
    double qStep[3] = {1.0, 1.0, 1.0};
};

struct FrameHeader {
    int temporalLayer = 0;
    int frame = 0;
};

class RedundancyMinCoder {
public:
    static constexpr int noRef = stream_rules::kNoReference;
    static constexpr int kStreamHeaderBytes = 33;
    static constexpr int kFrameHeaderBytes = 5;

    static int writeStreamHeader(BitBuffer& _buf, const Settings& _settings, const DecoderContext& _context);
    static int writeStreamHeader(BitBuffer& _buf, const Settings& _settings, int V, int F, const double qStep[3]);

    // Reads the header fields only (the packetizer needs no geometry); a
    // buffer shorter than the header is an orv::Error.
    static StreamHeader readStreamHeaderFields(BitBuffer& _buf, Settings& _settings);
    // Refuses nSL 0, nTL outside 1..31, step sizes that are not finite and
    // positive (or so large that residuals overflow), and F records (at least
    // one) that cannot fit in the bytes after the header: each takes at least
    // 5 + 4 nSL bytes. Throws orv::Error.
    static void checkRecordsFit(const StreamHeader& _header, const Settings& _settings, int64_t _bytesAfterHeader);
    // Reads the header and refuses the headers readStreamHeader refuses for
    // their fields (nSL 0, more records than the bytes can hold, F 0, too many
    // vertices), allocating nothing: for decoders that size their memory
    // themselves.
    static StreamHeader readCheckedStreamHeader(BitBuffer& _buf, Settings& _settings);
    // Reads the header and creates the full decoder context from V, F and nSL.
    // Headers that cannot be real (nSL 0, more records than the bytes can hold,
    // F 0, more memory than the machine has) are refused before allocating.
    static std::unique_ptr<DecoderContext> readStreamHeader(BitBuffer& _buf, Settings& _settings);

    static int writeFrameHeader(BitBuffer& _buf, int temporalLayer, int frame, const std::vector<int>& _rf);
    // Rebuilds _rf; a header whose first offset is noRef while the second is
    // not is refused as corrupt.
    static FrameHeader readFrameHeader(BitBuffer& _buf, std::vector<int>& _rf);

    RedundancyMinCoder(BitBuffer& _buf, const Settings& _settings, DecoderContext& _context)
        : buf_(_buf), settings_(_settings), context_(_context) {}

    // Reads the chunk of layer _l and stores its residuals at frame _f in GQuant.
    void decodeLayerResiduals(int _l, int _f);
    // Writes the chunk of layer _l from the GQuant residuals at frame _f
    // (defined with the encoder, which alone links the entropy encoder).
    void encodeLayerResiduals(int _l, int _f);

private:
    // Layer _l's vertex order, checked.
    static const std::vector<int>& layerOrder(const DecoderContext& _context, int _l);

    BitBuffer& buf_;
    const Settings& settings_;
    DecoderContext& context_;
};

}  // namespace orv
