// EffortTrials: picks, for one sequence and one enhancement step, which of the
// effort levels' candidate settings to encode with. Each candidate is encoded
// on the first frames of the sequence; its size and squared error are carried
// over to the whole length (the first frame once, the rest in proportion) and
// compared at equal KG error, using the slope of the plain encoder's rate
// against its error measured on the same frames. The candidates of a lower
// level are always among those of a higher one, so a higher effort is never
// chosen to be larger than a lower one.
#pragma once

#include <optional>

#include "Common/Types.h"
#include "Encoder/Settings.h"
#include "Mesh/GeometryT.h"
#include "SequenceEncoder/LayeringCache.h"
#include "SequenceEncoder/RateDistortionOptions.h"
#include "SequenceEncoder/SequenceEncoder.h"

namespace orv {

// Frames the trials encode: two groups of the default temporal layering (of
// one more layer, where the layout is tried too), and few enough that they
// cost a fraction of a long sequence's encode.
constexpr int kTrialFrames = 17;
constexpr int kLayoutTrialFrames = 33;

struct EncodingPlan {
    Settings settings;
    RdOptions options;  // trialLevel 0
    // When the trials ran on the whole sequence, the chosen encode itself.
    std::optional<EncodedSequence> encoded;
    int trialEncodes = 0;
};

// _options.trialLevel 0 (or a single frame) returns the inputs as they are.
// The trial encodes run on _threads threads (which changes none of them).
// Throws orv::Error as encodeSequence does. _layerings, when it serves these
// faces, supplies the layerings of every trial encode.
EncodingPlan planByTrial(const GeometryT<double>& _positions, const FaceList& _faces, const Settings& _settings,
                         double _q, const RdOptions& _options, int _threads = 1, LayeringCache* _layerings = nullptr);

// The rate a point of (bits, squared error) would need at squared error
// _refSse, moving along a curve of slope _slope = d ln(bits) / d ln(KG error).
double rateAtEqualError(double _bits, double _sse, double _refSse, double _slope);

}  // namespace orv
