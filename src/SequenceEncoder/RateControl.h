// RateControl: finds the enhancement-layer step that meets a quality or size
// target. Every measure here falls or rises steadily with the step (error
// about in proportion, size by roughly a bit per vertex and frame per
// halving), so a secant search on log q inside a bracket meets a target in a
// handful of encodes; each encode is a complete one, so the result is exactly
// the stream that will be written.
#pragma once

#include "Common/Types.h"
#include "SequenceEncoder/QualityMetrics.h"
#include "SequenceEncoder/RateDistortionOptions.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "Encoder/Settings.h"
#include "Mesh/GeometryT.h"

namespace orv {

enum class TargetKind {
    KgError,               // KG error in percent, at most the value
    MaxErrorOverDiagonal,  // largest vertex error / bounding-box diagonal, at most the value
    BitsPerVertexFrame,    // stream bits / (V * F), at most the value
};

struct EncodingTarget {
    TargetKind kind = TargetKind::KgError;
    double value = 0.1;
    // Good enough once the result lies within this fraction below the target
    // (the search then stops early).
    double tolerance = 0.03;
    int maxEncodes = 8;
};

struct TargetedEncoding {
    EncodedSequence encoded;
    double q = 0;  // the enhancement-layer step of the result
    QualityMetrics quality;
    double bitsPerVertexFrame = 0;
    int encodes = 0;   // complete encodes the search ran
    bool met = false;  // false: no step tried met the target; the closest result is returned
};

// Throws orv::Error for a target value that is not positive and finite, or
// when the sequence cannot be encoded at all (see encodeSequence). Each
// encode runs on up to _threads threads, with the same result for every count.
TargetedEncoding encodeToTarget(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
                                const RdOptions& _options, const EncodingTarget& _target,
                                const EncodeProgress& _progress = {}, int _threads = 1);

}  // namespace orv
