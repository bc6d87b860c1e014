// The streaming decoder's passes. A pass starts at a frame (0, or a seek's
// target) and decodes, in stream order, the records of the frames from there
// on and of the frames they depend on; a record is decoded only when the next
// frame to hand out needs it. Each record is decoded exactly as
// decodeAllFrames decodes it, so the frames are the same bit for bit.
#include "Decoder/StreamingDecoder.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "Common/Check.h"
#include "Common/InputFile.h"
#include "Common/StreamRules.h"
#include "Decoder/FrameDecoder.h"

namespace orv {

namespace {

// The context is built only after the scan and the memory check.
DecoderContext makeContext(BitBuffer& _buffer, const Settings& _settings, const StreamHeader& _header,
                           bool _allPositions, FrameRecordIndex& _index) {
    if (_header.F < 1) throw Error("the stream header announces 0 frames; such a stream cannot be decoded");
    constexpr uint32_t maxV = stream_rules::kMaxVertices;
    if (_header.V > maxV)
        throw Error("the stream header announces " + std::to_string(_header.V) + " vertices; at most " +
                    std::to_string(maxV) + " are supported");
    _index = scanFrameRecords(_buffer, _settings, _header.F);
    size_t details = 0, positions = 0;
    StreamingDecoder::plannedWindow(_index, _allPositions, details, positions);
    StreamingDecoder::checkMemory(_header, details, _allPositions ? static_cast<size_t>(_header.F) : positions);
    DecoderContext c = DecoderContext::windowed(static_cast<int>(_header.V), _header.F, _settings.nSL, _allPositions);
    for (int i = 0; i < 3; ++i) c.qStep[i] = _header.qStep[i];
    return c;
}

DecoderContext withLayering(DecoderContext _c, std::vector<std::vector<int>> _orders,
                            std::vector<std::vector<Predictor>> _predictors, int _nSL) {
    if (static_cast<size_t>(_nSL) != _orders.size() || _nSL < 1)
        throw Error("the layered decomposition has " + std::to_string(_orders.size()) +
                    " spatial layers, the stream " + std::to_string(_nSL));
    _c.allLayerVertexOrders = std::move(_orders);
    _c.allLayerPredictors = std::move(_predictors);
    return _c;
}

}  // namespace

void StreamingDecoder::checkMemory(const StreamHeader& _header, size_t _detailFrames, size_t _positionFrames,
                                   uint64_t _extraBytes) {
    // Slots of 3 doubles per vertex, and the coded frame's residuals and
    // local frames (3 ints and 9 doubles per vertex).
    const uint64_t V = _header.V;
    const uint64_t needed =
        V * (24 * (static_cast<uint64_t>(_detailFrames) + _positionFrames) + 12 + 72) + _extraBytes;
    const uint64_t available = physicalMemoryBytes();
    if (needed <= available) return;
    char text[300];
    std::snprintf(text, sizeof text,
                  "the stream header announces %u vertices x %d frames, which need %.1f GiB of memory to decode; "
                  "this machine has %.1f GiB",
                  _header.V, _header.F, static_cast<double>(needed) / (1u << 30),
                  static_cast<double>(available) / (1u << 30));
    throw Error(text);
}

StreamingDecoder::StreamingDecoder(BitBuffer& _buffer, const Settings& _settings, const StreamHeader& _header,
                                   std::vector<std::vector<int>> _orders,
                                   std::vector<std::vector<Predictor>> _predictors, int _nSLdec, int _nTLdec,
                                   Positions _positions)
    : buffer_(_buffer),
      settings_(_settings),
      header_(_header),
      nSLdec_(_nSLdec),
      nTLdec_(_nTLdec),
      allPositions_(_positions == Positions::AllFrames),
      context_(withLayering(makeContext(_buffer, _settings, _header, allPositions_, index_), std::move(_orders),
                            std::move(_predictors), _settings.nSL)),
      coder_(settings_, context_) {
    startPass(0);
}

void StreamingDecoder::plannedWindow(const FrameRecordIndex& _index, bool _allPositions, size_t& _details,
                                     size_t& _positions) {
    // The read-through pass without the decoding.
    const size_t n = _index.records.size();
    std::vector<int> uses(n, 0);
    for (const FrameRecordInfo& r : _index.records)
        for (int j = 0; j < r.depCount; ++j) ++uses[static_cast<size_t>(r.dep[j])];
    std::vector<char> done(n, 0);
    size_t liveDetails = 0, livePositions = 0;
    _details = _positions = 0;
    size_t nextOut = 0;
    for (size_t i = 0; i < n; ++i) {
        const FrameRecordInfo& r = _index.records[i];
        ++liveDetails;
        ++livePositions;
        _details = std::max(_details, liveDetails);
        _positions = std::max(_positions, livePositions);
        for (int j = 0; j < r.depCount; ++j)
            if (--uses[static_cast<size_t>(r.dep[j])] == 0) --liveDetails;
        if (uses[i] == 0) --liveDetails;
        done[static_cast<size_t>(r.frame)] = 1;
        while (nextOut < n && done[nextOut]) {
            ++nextOut;
            --livePositions;
        }
    }
    if (_allPositions) _positions = 0;
}

void StreamingDecoder::setThreads(int _threads) {
    if (_threads < 1)
        throw Error("cannot decode on " + std::to_string(_threads) + " threads: at least 1 is needed");
    const int n = std::min(_threads, kMaxThreads);
    if (n == threads()) return;
    if (n > 1) {
        // Each record in flight may hold a detail and a position slot beyond
        // the plan; each thread has a working frame and its copy of the
        // layering's terms (ids, weights and their visiting-order copies).
        size_t details = 0, positions = 0;
        plannedWindow(index_, allPositions_, details, positions);
        uint64_t terms = 0;
        for (const auto& layer : context_.allLayerPredictors)
            for (const Predictor& p : layer) terms += p.size();
        const uint64_t V = header_.V;
        const uint64_t perThread = V * (12 + 72 + 16) + terms * 24;
        const size_t extra = static_cast<size_t>(n - 1);
        checkMemory(header_, details + extra, (allPositions_ ? static_cast<size_t>(header_.F) : positions) + extra,
                    perThread * extra);
    }
    workers_.reset();
    helperCoders_.clear();
    rfs_.clear();
    if (n > 1) {
        workers_ = std::make_unique<StreamingDecoderWorkers>(n);
        if (workers_->threads() == 1) workers_.reset();
    }
    context_.setWorkingFrames(threads());
    helperCoders_.resize(static_cast<size_t>(threads() - 1));
    rfs_.resize(static_cast<size_t>(threads() - 1));
}

void StreamingDecoder::startPass(int _from) {
    const int F = frameCount();
    ORV_CHECK(0<=_from && _from<F, "Decoder/StreamingDecoder");
    context_.releaseAll();
    nextOut_ = _from;
    cursor_ = 0;
    const size_t n = index_.records.size();
    member_.assign(n, 0);
    decoded_.assign(n, 0);
    uses_.assign(n, 0);
    // Dependencies are earlier records: one sweep from the back closes the set.
    for (size_t i = n; i-- > 0;) {
        const FrameRecordInfo& r = index_.records[i];
        if (r.frame >= _from) member_[i] = 1;
        if (!member_[i]) continue;
        for (int j = 0; j < r.depCount; ++j) {
            member_[static_cast<size_t>(r.dep[j])] = 1;
            ++uses_[static_cast<size_t>(r.dep[j])];
        }
    }
}

void StreamingDecoder::seek(int _frame) {
    if (!(0 <= _frame && _frame < frameCount()))
        throw Error("cannot seek to frame " + std::to_string(_frame) + ": the stream has frames 0.." +
                    std::to_string(frameCount() - 1));
    startPass(_frame);
}

void StreamingDecoder::nextBatch() {
    const int n = static_cast<int>(index_.records.size());
    batch_.clear();
    while (cursor_ < n && !member_[static_cast<size_t>(cursor_)]) ++cursor_;
    if (cursor_ >= n) return;
    batch_.push_back(cursor_++);
    // Then the records whose dependencies are decoded already, in stream
    // order: the first one that needs a record of the batch ends it.
    while (static_cast<int>(batch_.size()) < threads() && cursor_ < n) {
        if (!member_[static_cast<size_t>(cursor_)]) {
            ++cursor_;
            continue;
        }
        const FrameRecordInfo& r = index_.records[static_cast<size_t>(cursor_)];
        bool ready = true;
        for (int j = 0; j < r.depCount; ++j) ready = ready && decoded_[static_cast<size_t>(r.dep[j])];
        if (!ready) break;
        batch_.push_back(cursor_++);
    }
}

bool StreamingDecoder::decodeNextRecord(bool _showProgress) {
    nextBatch();
    if (batch_.empty()) return false;
    largestBatch_ = std::max(largestBatch_, batch_.size());
    for (size_t j = 0; j < batch_.size(); ++j) {
        const int i = batch_[j];
        const FrameRecordInfo& r = index_.records[static_cast<size_t>(i)];
        if (_showProgress && i > 0) {
            std::printf("  Decoding frame %d\r", r.frame);
            std::fflush(stdout);
        }
        context_.takeFrame(r.frame);
        context_.useWorkingFrame(r.frame, static_cast<int>(j));
    }
    if (batch_.size() == 1) {
        decodeRecord(batch_[0], buffer_, coder_, rf_);
    } else {
        workers_->run(static_cast<int>(batch_.size()), [this](int _j) { decodeBatchJob(_j); }, errors_);
        if (errors_[0]) std::rethrow_exception(errors_[0]);
        // A record that fails after the first is reported only when it is
        // needed, as on one thread: the batch keeps the records before it,
        // and the pass resumes at it.
        const size_t failed = static_cast<size_t>(
            std::find_if(errors_.begin(), errors_.end(), [](const std::exception_ptr& _e) { return _e != nullptr; }) -
            errors_.begin());
        for (size_t j = failed; j < batch_.size(); ++j) {
            const int frame = index_.records[static_cast<size_t>(batch_[j])].frame;
            context_.releaseDetail(frame);
            context_.releasePositions(frame);
        }
        if (failed < batch_.size()) {
            cursor_ = batch_[failed];
            batch_.resize(failed);
        }
    }
    for (const int i : batch_) finishRecord(i);
    return true;
}

void StreamingDecoder::decodeBatchJob(int _j) {
    const int i = batch_[static_cast<size_t>(_j)];
    if (_j == 0) {
        decodeRecord(i, buffer_, coder_, rf_);
        return;
    }
    // A helper builds its coder (its copy of the layering's terms) on its
    // first record, on its own thread: the coder reads only the layering.
    std::unique_ptr<GeometryCoder>& coder = helperCoders_[static_cast<size_t>(_j) - 1];
    if (!coder) coder = std::make_unique<GeometryCoder>(settings_, context_);
    // The record's bytes up to the next record (or the end of the stream).
    const int64_t begin = index_.records[static_cast<size_t>(i)].bitOffset / 8;
    const int64_t end = static_cast<size_t>(i) + 1 < index_.records.size()
                            ? index_.records[static_cast<size_t>(i) + 1].bitOffset / 8
                            : buffer_.size();
    ORV_CHECK(0<=begin && begin<=end && end<=buffer_.size(), "Decoder/StreamingDecoder");
    BitBuffer bytes(std::vector<uint8_t>(buffer_.data() + begin, buffer_.data() + end));
    decodeRecord(i, bytes, *coder, rfs_[static_cast<size_t>(_j) - 1],
                 8 * begin);
}

void StreamingDecoder::finishRecord(int _record) {
    const FrameRecordInfo& r = index_.records[static_cast<size_t>(_record)];
    decoded_[static_cast<size_t>(_record)] = 1;
    ++recordsDecoded_;
    for (int j = 0; j < r.depCount; ++j) {
        const int d = r.dep[j];
        if (--uses_[static_cast<size_t>(d)] == 0) context_.releaseDetail(index_.records[static_cast<size_t>(d)].frame);
    }
    if (uses_[static_cast<size_t>(_record)] == 0) context_.releaseDetail(r.frame);
    // Frames before the pass's first were decoded only for their details.
    if (r.frame < nextOut_) context_.releasePositions(r.frame);
}

// One record, as decodeAllFrames reads it, from _buffer whose byte 0 is
// byte _bufferStart / 8 of the stream.
void StreamingDecoder::decodeRecord(int _record, BitBuffer& _buffer, GeometryCoder& _coder, std::vector<int>& _rf,
                                    int64_t _bufferStart) {
    const FrameRecordInfo& r = index_.records[static_cast<size_t>(_record)];
    const int f = r.frame;
    const int nSL = settings_.nSL;
    _buffer.setBitPosition(r.bitOffset - _bufferStart);
    RedundancyMinCoder residuals(_buffer, settings_, context_);
    RedundancyMinCoder::readFrameHeader(_buffer, _rf);
    if (_record == 0) {
        for (int l = 0; l < nSL; ++l) residuals.decodeLayerResiduals(l, f);
        _coder.decodeFirstFrame(f, context_.qStep[0]);
        return;
    }
    _rf.assign(r.ref, r.ref + r.refCount);
    auto& filters = context_.filterDec[static_cast<size_t>(f)];
    filters.assign(static_cast<size_t>(nSL), {});
    const int tl = r.temporalLayer;
    for (int l = 0; l < nSL; ++l) {
        residuals.decodeLayerResiduals(l, f);
        const bool decoded = isLayerDecoded(tl, l, nSLdec_, nTLdec_);
        const double step = decoded ? (l == 0 ? context_.qStep[1] : context_.qStep[2]) : -1.0;
        if (l == 0) {
            if (settings_.baseLayerPred == 0)
                _coder.decodeBaseLayerGlobal(f, _rf, step);
            else
                _coder.decodeBaseLayerLocal(f, _rf, step);
            continue;
        }
        if (!_rf.empty() && settings_.enhLayerPred == 0)
            filters[static_cast<size_t>(l)].assign(_rf.size(), 1.0 / static_cast<double>(_rf.size()));
        if (!context_.allLayerVertexOrders[static_cast<size_t>(l)].empty() &&
            _rf.size() != filters[static_cast<size_t>(l)].size()) {
            char text[300];
            std::snprintf(text, sizeof text,
                          "cannot decode frame %d: layer %d has %zu reference frames but %zu temporal filter "
                          "weights (enhLayerPred %d; _rf.size() == context_.filterDec[_f][_l].size())",
                          f, l, _rf.size(), filters[static_cast<size_t>(l)].size(), settings_.enhLayerPred);
            throw Error(text);
        }
        _coder.decodeEnhancementLayerWithFrames(l, f, _rf, step);
    }
    std::vector<std::vector<double>>().swap(filters);
}

bool StreamingDecoder::next(int& _frame, double* _positions) {
    const int F = frameCount();
    if (nextOut_ >= F) return false;
    const int f = nextOut_;
    const int at = index_.recordOf[static_cast<size_t>(f)];
    while (!decoded_[static_cast<size_t>(at)])
        if (!decodeNextRecord(false))
            checkFailed("the pass decodes every frame it hands out", "Decoder/StreamingDecoder", __LINE__);
    _frame = f;
    if (_positions)
        std::memcpy(_positions, context_.decFrame(f), 3 * static_cast<size_t>(vertexCount()) * sizeof(double));
    if (!allPositions_) context_.releasePositions(f);
    ++nextOut_;
    return true;
}

void StreamingDecoder::decodeAll(bool _showProgress) {
    ORV_CHECK(allPositions_, "Decoder/StreamingDecoder");
    while (decodeNextRecord(_showProgress)) {
    }
    nextOut_ = frameCount();
}

}  // namespace orv
