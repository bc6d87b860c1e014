// StreamingDecoder: decodes a stream's frame records and hands the frames out
// in display order (0, 1, ..., F-1) while holding only what later records
// still read. The records are scanned first (FrameRecordIndex); a frame's
// detail is kept until the last record that references it is decoded, its
// positions until it is handed out. With the standard coding orders that is
// about one group of 2^(nTL-1) frames plus key frames, whatever F is; with
// other record orders it is what the references need. The output is the full
// decoder's (decodeAllFrames) bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "Common/Types.h"
#include "Decoder/FrameRecordIndex.h"
#include "Encoder/DecoderContext.h"
#include "Encoder/GeometryCoder.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Encoder/Settings.h"
#include "Entropy/BitBuffer.h"

namespace orv {

class StreamingDecoder {
public:
    // Window: positions of frames not yet handed out are kept in slots.
    // AllFrames: positions of every frame stay in context().GDec (what a
    // program writing all frames at the end needs, 24 bytes per
    // vertex-frame); only the details are windowed.
    enum class Positions { Window, AllFrames };

    // _buffer stands just after the stream header (read into _settings and
    // _header) and must outlive the decoder. The layering is the context's
    // (vertex orders and predictors per spatial layer). Scans the records and
    // refuses a stream with missing, duplicated or impossible records, or
    // whose window would not fit in memory, with orv::Error.
    StreamingDecoder(BitBuffer& _buffer, const Settings& _settings, const StreamHeader& _header,
                     std::vector<std::vector<int>> _orders, std::vector<std::vector<Predictor>> _predictors,
                     int _nSLdec, int _nTLdec, Positions _positions);

    int vertexCount() const { return context_.vertexCount(); }
    int frameCount() const { return context_.frameCount(); }
    const FrameRecordIndex& records() const { return index_; }

    // The next frame in display order: its number and, when _positions is not
    // null, its 3V coordinates. False after the last frame.
    bool next(int& _frame, double* _positions);
    // The next call of next() gives frame _frame (0..F-1); only the records
    // it and the frames after it depend on are decoded.
    void seek(int _frame);
    // Decodes every record in stream order (Positions::AllFrames): the
    // positions are then in context().GDec. Prints "  Decoding frame %d\r"
    // per record after the first when _showProgress is set.
    void decodeAll(bool _showProgress);

    const DecoderContext& context() const { return context_; }
    // Records decoded since construction (a seek's cost).
    int64_t recordsDecoded() const { return recordsDecoded_; }

    // The largest number of frames whose details / positions a decode from
    // frame 0 to the end holds at once, from the scanned headers alone.
    // Refuses (orv::Error) a decode that needs more memory than the machine
    // has, holding this many frames' details and positions at once.
    static void checkMemory(const StreamHeader& _header, size_t _detailFrames, size_t _positionFrames);
    static void plannedWindow(const FrameRecordIndex& _index, bool _allPositions, size_t& _details,
                              size_t& _positions);

private:
    void startPass(int _from);
    // Decodes the next record of the pass; false when none is left.
    bool decodeNextRecord(bool _showProgress);
    void decodeRecord(int _record);

    BitBuffer& buffer_;
    Settings settings_;
    int nSLdec_, nTLdec_;
    bool allPositions_;
    FrameRecordIndex index_;
    DecoderContext context_;
    GeometryCoder coder_;
    // The pass: which records it decodes (those of frames >= nextOut_ and
    // what they depend on), which are done, and how many of its records not
    // yet decoded read each frame's detail.
    std::vector<char> member_, decoded_;
    std::vector<int> uses_;
    int cursor_ = 0, nextOut_ = 0;
    int64_t recordsDecoded_ = 0;
    std::vector<int> rf_;
};

}  // namespace orv
