// The record scan: reads the 5-byte frame headers and skips the chunks by
// their byte counts. Everything it refuses would otherwise be found only in
// the middle of decoding, after memory for the whole sequence was committed.
#include "Decoder/FrameRecordIndex.h"

#include <cstdio>
#include <string>

#include "Common/Check.h"
#include "Common/StreamRules.h"
#include "Encoder/DecoderContext.h"
#include "Encoder/RedundancyMinCoder.h"

namespace orv {

namespace {

[[noreturn]] void truncated(int _F, int _records) {
    throw Error("the stream header announces " + std::to_string(_F) + " frames, but the stream ends after " +
                std::to_string(_records) + " complete frame records (truncated stream)");
}

}  // namespace

FrameRecordIndex scanFrameRecords(BitBuffer& _buffer, const Settings& _settings, int _F) {
    const int64_t start = _buffer.bitPosition();
    FrameRecordIndex index;
    index.records.resize(static_cast<size_t>(_F));
    index.recordOf.assign(static_cast<size_t>(_F), -1);
    std::vector<int> rf;
    for (int i = 0; i < _F; ++i) {
        FrameRecordInfo& r = index.records[static_cast<size_t>(i)];
        if (_buffer.bytesLeft() < RedundancyMinCoder::kFrameHeaderBytes) truncated(_F, i);
        r.bitOffset = _buffer.bitPosition();
        const FrameHeader h = RedundancyMinCoder::readFrameHeader(_buffer, rf);
        r.frame = h.frame;
        r.temporalLayer = h.temporalLayer;
        stream_rules::requireFrameInStream(h.frame, _F);
        // The first record's references are not used.
        if (i > 0) {
            for (int ref : rf) stream_rules::requireFrameInStream(ref, _F, h.frame);
            for (int ref : rf) {
                const int at = index.recordOf[static_cast<size_t>(ref)];
                if (ref == h.frame) {
                    r.ref[r.refCount++] = ref;
                } else if (at >= 0) {
                    r.ref[r.refCount++] = ref;
                    r.dep[r.depCount++] = at;
                } else {
                    r.ref[r.refCount++] = DecoderContext::kZeroDetail;
                }
            }
        }
        int& seen = index.recordOf[static_cast<size_t>(h.frame)];
        if (seen >= 0) {
            char text[200];
            std::snprintf(text, sizeof text, "corrupt stream: frame %d appears in two frame records (%d and %d)",
                          h.frame, seen + 1, i + 1);
            throw Error(text);
        }
        seen = i;
        for (int l = 0; l < _settings.nSL; ++l) {
            if (_buffer.bytesLeft() < 4) truncated(_F, i);
            const uint32_t count = _buffer.getBits(32);
            if (static_cast<int64_t>(count) > _buffer.bytesLeft()) {
                char text[200];
                std::snprintf(text, sizeof text,
                              "corrupt stream: the chunk of layer %d of frame %d claims %u bytes, only %lld are left",
                              l, h.frame, count, static_cast<long long>(_buffer.bytesLeft()));
                throw Error(text);
            }
            _buffer.setBitPosition(_buffer.bitPosition() + 8 * static_cast<int64_t>(count));
        }
    }
    _buffer.setBitPosition(start);
    return index;
}

}  // namespace orv
