// FrameRecordIndex: where every frame record of a stream starts and what it
// says about itself (frame number, temporal layer, references), learned from
// the frame headers and chunk byte counts alone, without entropy decoding.
// The streaming decoder plans from it which frames to keep and for how long,
// and seeks by it.
#pragma once

#include <cstdint>
#include <vector>

#include "Encoder/Settings.h"
#include "Entropy/BitBuffer.h"

namespace orv {

struct FrameRecordInfo {
    int frame = 0;
    int temporalLayer = 0;
    int64_t bitOffset = 0;  // start of its frame header
    // References as the decoder reads them: frame numbers of records earlier
    // in the stream (their details are needed), the frame itself, or
    // DecoderContext::kZeroDetail for a frame the stream decodes only later
    // (its detail is still zero then). The first record has none.
    int refCount = 0;
    int ref[2] = {0, 0};
    // Record indices of the references that are earlier records (the
    // record's dependencies).
    int depCount = 0;
    int dep[2] = {0, 0};
};

struct FrameRecordIndex {
    std::vector<FrameRecordInfo> records;  // in stream order
    std::vector<int> recordOf;             // frame -> its record
};

// _buffer stands just after the stream header, which announced _F frames and
// _settings.nSL chunks per record; its position is left unchanged. Throws
// orv::Error when records are missing from the file (truncated), a chunk
// claims more bytes than are left, a frame number or reference lies outside
// 0..F-1, or a frame number appears in two records.
FrameRecordIndex scanFrameRecords(BitBuffer& _buffer, const Settings& _settings, int _F);

}  // namespace orv
