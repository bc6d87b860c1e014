// StreamRules: what a stream can hold and how its fields relate, in one place
// for everything that writes, checks, cuts or reads streams: the limits of the
// header fields, the rule by which frame headers store references, the rule
// by which a cut to fewer layers keeps chunks, and the check of frame numbers
// read from a stream.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace orv::stream_rules {

// Frame numbers are 16-bit fields.
inline constexpr int kMaxFrames = 65535;
// The layer counts are 8-bit fields; groups of 2^(nTL-1) frames need nTL
// within reach of the frame header's 7-bit reference offsets.
inline constexpr int kLayerCountFieldMax = 255;
inline constexpr int kMaxSpatialLayers = kLayerCountFieldMax;
inline constexpr int kMaxTemporalLayers = 31;
// 3V rows must fit a signed 32-bit count.
inline constexpr uint32_t kMaxVertices = 1u << 29;

inline constexpr bool temporalLayersValid(int _nTL) { return _nTL >= 1 && _nTL <= kMaxTemporalLayers; }

// A step outside this range decodes to infinite or undefined positions; the
// largest residual (2^31 steps) must stay far from overflow. The decoders
// refuse a header with such a step, so the encoders refuse to write one.
inline bool stepSizeValid(double _q) {
    return std::isfinite(_q) && _q > 0.0 && _q < 0x1p-40 * std::numeric_limits<double>::max();
}
// The rule above as messages on both sides state it.
inline constexpr const char* kStepSizeBoundText = "2^-40 times the largest double (about 1.6e296)";
inline constexpr const char* kStepSizeRule =
    "step sizes must be finite, positive and below 2^-40 times the largest double (about 1.6e296)";

// A reference offset of a frame header: 7 bits of magnitude, where kNoReference
// means "no reference" and 0 stands for frame 0; any other reference is stored
// relative to the frame.
inline constexpr int kNoReference = 127;

inline int referenceOffset(int _ref, int _frame) { return _ref == 0 ? 0 : _ref - _frame; }

// Whether a frame header can hold _ref as a reference of _frame: frame 0
// always, any other frame closer than kNoReference.
inline bool referenceWritable(int _ref, int _frame) { return _ref == 0 || std::abs(_ref - _frame) < kNoReference; }

// A layer l of a frame of temporal layer tl is decoded when tl == 0, or when
// tl < nTLdec and l < nSLdec; a cut to (nSLdec, nTLdec) keeps exactly those
// chunks.
inline bool isLayerDecoded(int _tl, int _l, int _nSLdec, int _nTLdec) {
    return _tl == 0 || (_tl < _nTLdec && _l < _nSLdec);
}

// Frame numbers come straight from the stream; an impossible one is a corrupt
// stream, reported plainly (orv::Error) rather than as an index failure.
// _recordFrame < 0: _frame is a record's own frame number; else _frame is what
// the record of _recordFrame names as _what (e.g. "references").
void requireFrameInStream(int _frame, int _F, int _recordFrame = -1, const char* _what = "references");

// A temporal layer count read from a stream header that no coding order can
// use is refused (orv::Error) with the decoders' one message.
void requireTemporalLayersInStream(int _nTL);

}  // namespace orv::stream_rules
