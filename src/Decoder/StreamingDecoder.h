// StreamingDecoder: decodes a stream's frame records and hands the frames out
// in display order (0, 1, ..., F-1) while holding only what later records
// still read. The records are scanned first (FrameRecordIndex); a frame's
// detail is kept until the last record that references it is decoded, its
// positions until it is handed out. With the standard coding orders that is
// about one group of 2^(nTL-1) frames plus key frames, whatever F is; with
// other record orders it is what the references need. The output is the full
// decoder's (decodeAllFrames) bit for bit.
//
// With more than one thread, records whose references are already decoded
// (the records of one temporal layer of a group, and key frames that follow
// them) are decoded together, one per thread, each with its own geometry
// coder and working frame; the bookkeeping stays on the caller's thread, in
// stream order. A batch starts only when the next frame to hand out needs
// its first record, so at most threads - 1 records are decoded ahead of need.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Common/Types.h"
#include "Decoder/FrameRecordIndex.h"
#include "Decoder/StreamingDecoderWorkers.h"
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

    // Decodes with up to _threads threads from the next record on (1: on the
    // caller's thread alone, the default); the frames do not change. More
    // than kMaxThreads count as kMaxThreads, and the platform may start
    // fewer. Refuses (orv::Error) fewer than 1, and a count whose extra
    // frames and working memory would not fit in the machine's memory.
    static constexpr int kMaxThreads = 64;
    void setThreads(int _threads);
    // The threads a batch may use.
    int threads() const { return workers_ ? workers_->threads() : 1; }

    const DecoderContext& context() const { return context_; }
    // Records decoded since construction (a seek's cost).
    int64_t recordsDecoded() const { return recordsDecoded_; }
    // The most records decoded at once so far.
    size_t largestBatch() const { return largestBatch_; }

    // The largest number of frames whose details / positions a decode from
    // frame 0 to the end holds at once, from the scanned headers alone.
    // Refuses (orv::Error) a decode that needs more memory than the machine
    // has, holding this many frames' details and positions at once.
    // _extraBytes: what comes on top of the frames and one coded frame.
    static void checkMemory(const StreamHeader& _header, size_t _detailFrames, size_t _positionFrames,
                            uint64_t _extraBytes = 0);
    static void plannedWindow(const FrameRecordIndex& _index, bool _allPositions, size_t& _details,
                              size_t& _positions);

private:
    void startPass(int _from);
    // Decodes the next record of the pass; false when none is left.
    // Decodes the next record of the pass, or the batch it starts with more
    // than one thread; false when none is left.
    bool decodeNextRecord(bool _showProgress);
    // The member records from the cursor on that can be decoded together.
    void nextBatch();
    void decodeRecord(int _record, BitBuffer& _buffer, GeometryCoder& _coder, std::vector<int>& _rf,
                      int64_t _bufferStart = 0);
    // Job _j of the batch, on its own thread: a copy of its record's bytes.
    void decodeBatchJob(int _j);
    void finishRecord(int _record);

    BitBuffer& buffer_;
    Settings settings_;
    StreamHeader header_;
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
    // Threads: job j > 0 of a batch uses helperCoders_[j - 1], made when first
    // needed, and rfs_[j - 1].
    std::unique_ptr<StreamingDecoderWorkers> workers_;
    std::vector<std::unique_ptr<GeometryCoder>> helperCoders_;
    std::vector<std::vector<int>> rfs_;
    std::vector<int> batch_;
    size_t largestBatch_ = 0;
    std::vector<std::exception_ptr> errors_;
};

}  // namespace orv
