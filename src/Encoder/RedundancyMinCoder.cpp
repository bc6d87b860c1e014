// Stream and frame headers of the bit stream. The residual front end of the
// same class lives in LayerResiduals.cpp.
//
// The readers refuse headers that cannot describe a real stream before they
// allocate anything the header sizes: a lying header must give a clear error,
// not an out-of-memory kill or a read past the end of the buffer.
#include "Encoder/RedundancyMinCoder.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Common/Check.h"
#include "Common/InputFile.h"
#include "Common/Portable.h"

namespace orv {

static constexpr const char* kModule = "Encoder/RedundancyMinCoder";

// Step sizes travel as the 8 bytes of an IEEE 754 double, least significant
// byte first, whatever the host's byte order.
static void putDouble(BitBuffer& _buf, double _value) {
    const uint64_t bits = bitCast<uint64_t>(_value);
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    _buf.putBytes(bytes, 8);
}

static double getDouble(BitBuffer& _buf) {
    uint8_t bytes[8];
    _buf.getBytes(bytes, 8);
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return bitCast<double>(bits);
}

int RedundancyMinCoder::writeStreamHeader(BitBuffer& _buf, const Settings& _settings, const DecoderContext& _context) {
    return writeStreamHeader(_buf, _settings, _context.GDec.V, _context.GDec.F, _context.qStep);
}

int RedundancyMinCoder::writeStreamHeader(BitBuffer& _buf, const Settings& _settings, int V, int F,
                                          const double qStep[3]) {
    const int64_t start = _buf.bitPosition();
    _buf.putBits(static_cast<uint32_t>(V), 32);
    // Both overloads report the frame count check with the context's wording.
    if (!(F <= stream_rules::kMaxFrames)) checkFailed("_context.GDec.F<(1<<16)", kModule, __LINE__);
    _buf.putBits(static_cast<uint32_t>(F), 16);
    _buf.putBits(static_cast<uint32_t>(_settings.nSL), 8);
    _buf.putBits(static_cast<uint32_t>(_settings.nTL), 8);
    _buf.putBit(_settings.refFirstFrame);
    _buf.putBit((_settings.baseLayerPred & 1) != 0);
    _buf.putBit((_settings.enhLayerPred & 1) != 0);
    _buf.putBit((_settings.entrType & 1) != 0);
    _buf.nextByte();
    for (int i = 0; i < 3; ++i) putDouble(_buf, qStep[i]);
    return static_cast<int>((_buf.bitPosition() - start) / 8);
}

StreamHeader RedundancyMinCoder::readStreamHeaderFields(BitBuffer& _buf, Settings& _settings) {
    if (_buf.bytesLeft() < kStreamHeaderBytes)
        throw Error("the stream is " + std::to_string(_buf.bytesLeft()) + " bytes long, too short for its " +
                    std::to_string(kStreamHeaderBytes) + "-byte header (truncated or not a stream file)");
    StreamHeader h;
    h.V = _buf.getBits(32);
    h.F = static_cast<int>(_buf.getBits(16));
    _settings.nSL = static_cast<int>(_buf.getBits(8));
    _settings.nTL = static_cast<int>(_buf.getBits(8));
    _settings.refFirstFrame = _buf.getBit();
    _settings.baseLayerPred = _buf.getBit() ? 1 : 0;
    _settings.enhLayerPred = _buf.getBit() ? 1 : 0;
    _settings.entrType = _buf.getBit() ? 1 : 0;
    _buf.nextByte();
    for (int i = 0; i < 3; ++i) h.qStep[i] = getDouble(_buf);
    return h;
}

void RedundancyMinCoder::checkRecordsFit(const StreamHeader& _header, const Settings& _settings,
                                         int64_t _bytesAfterHeader) {
    if (_settings.nSL == 0) throw Error("the stream header announces 0 spatial layers");
    stream_rules::requireTemporalLayersInStream(_settings.nTL);
    for (int i = 0; i < 3; ++i) {
        const double q = _header.qStep[i];
        if (!stream_rules::stepSizeValid(q)) {
            char text[256];
            std::snprintf(text, sizeof text,
                          "the stream header gives the step size q%d = %.17g; %s", i, q, stream_rules::kStepSizeRule);
            throw Error(text);
        }
    }
    // Every record holds a 5-byte frame header and nSL 4-byte chunk counts;
    // the first record is read even when F is 0.
    const int64_t minRecord = kFrameHeaderBytes + 4 * static_cast<int64_t>(_settings.nSL);
    const int64_t records = std::max(_header.F, 1);
    if (records * minRecord > _bytesAfterHeader)
        throw Error("the stream header announces " + std::to_string(records) + " frame records of at least " +
                    std::to_string(minRecord) + " bytes each, but only " + std::to_string(_bytesAfterHeader) +
                    " bytes follow the header (truncated or corrupt stream)");
}

StreamHeader RedundancyMinCoder::readCheckedStreamHeader(BitBuffer& _buf, Settings& _settings) {
    const StreamHeader h = readStreamHeaderFields(_buf, _settings);
    checkRecordsFit(h, _settings, _buf.bytesLeft());
    if (h.F == 0) throw Error("the stream header announces 0 frames; such a stream cannot be decoded");
    constexpr uint32_t maxV = stream_rules::kMaxVertices;
    if (h.V > maxV)
        throw Error("the stream header announces " + std::to_string(h.V) + " vertices; at most " +
                    std::to_string(maxV) + " are supported");
    return h;
}

std::unique_ptr<DecoderContext> RedundancyMinCoder::readStreamHeader(BitBuffer& _buf, Settings& _settings) {
    const StreamHeader h = readCheckedStreamHeader(_buf, _settings);
    const uint64_t needed = DecoderContext::bytesNeeded(h.V, static_cast<uint64_t>(h.F));
    const uint64_t available = physicalMemoryBytes();
    if (needed > available)
        throw Error("the stream header announces " + std::to_string(h.V) + " vertices x " + std::to_string(h.F) +
                    " frames, which need " + gibibytesText(needed) + " of memory to decode; this machine has " +
                    gibibytesText(available));
    auto context = std::make_unique<DecoderContext>(static_cast<int>(h.V), h.F, _settings.nSL);
    for (int i = 0; i < 3; ++i) context->qStep[i] = h.qStep[i];
    return context;
}

static void putOffset(BitBuffer& _buf, int _offset) {
    _buf.putBit(_offset < 0);
    _buf.putBits(static_cast<uint32_t>(std::abs(_offset)), 7);
}

int RedundancyMinCoder::writeFrameHeader(BitBuffer& _buf, int temporalLayer, int frame, const std::vector<int>& _rf) {
    _buf.putBits(static_cast<uint32_t>(temporalLayer), 8);
    _buf.putBits(static_cast<uint32_t>(frame), 16);
    ORV_CHECK(_rf.size()<=2, kModule);
    int rf1 = noRef;
    if (!_rf.empty()) {
        rf1 = stream_rules::referenceOffset(_rf[0], frame);
        if (!stream_rules::referenceWritable(_rf[0], frame)) checkFailed("abs(rf1)<0x7f", kModule, __LINE__);
    }
    int rf2 = noRef;
    if (_rf.size() == 2) {
        rf2 = stream_rules::referenceOffset(_rf[1], frame);
        if (!stream_rules::referenceWritable(_rf[1], frame)) checkFailed("abs(rf2)<0x7f", kModule, __LINE__);
    }
    putOffset(_buf, rf1);
    putOffset(_buf, rf2);
    return kFrameHeaderBytes;
}

static int getOffset(BitBuffer& _buf) {
    const bool negative = _buf.getBit();
    const int magnitude = static_cast<int>(_buf.getBits(7));
    return negative ? -magnitude : magnitude;
}

FrameHeader RedundancyMinCoder::readFrameHeader(BitBuffer& _buf, std::vector<int>& _rf) {
    FrameHeader h;
    h.temporalLayer = static_cast<int>(_buf.getBits(8));
    h.frame = static_cast<int>(_buf.getBits(16));
    const int rf1 = getOffset(_buf);
    const int rf2 = getOffset(_buf);
    if (rf1 == noRef && rf2 != noRef)
        throw Error("corrupt frame header of frame " + std::to_string(h.frame) +
                    ": a second reference without a first one");
    auto frameOf = [&](int _offset) { return _offset == 0 ? 0 : h.frame + _offset; };
    _rf.clear();
    if (rf1 != noRef) _rf.push_back(frameOf(rf1));
    if (rf2 != noRef) _rf.push_back(frameOf(rf2));
    return h;
}

}  // namespace orv
