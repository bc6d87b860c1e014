// EncoderOptions: OrvEnc's command line. Options are described by one table
// (long name, short letter, value or flag, handler), so a new option is one
// more row; parsing follows GNU conventions: --name=value, --name value,
// -x value, -xvalue, bundled flags (-qV), "--" ends the options, and options
// and frame arguments may be mixed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "SequenceEncoder/EncoderChoices.h"
#include "SequenceEncoder/RateControl.h"
#include "SequenceEncoder/RateDistortionOptions.h"

namespace orv {

// The precision used when neither --precision nor --steps is given; chosen
// from the rate-distortion table in docs/rate-distortion.md.
constexpr int kDefaultPrecisionBits = 12;
constexpr int kMinPrecisionBits = 1;
constexpr int kMaxPrecisionBits = 24;

// Effort 1 is the default: smaller streams than plain rounding while the
// largest single-vertex error stays no worse at equal KG error
// (docs/encoder-efficiency.md).
constexpr int kDefaultEffort = 1;

constexpr int kMaxThreads = 256;

struct EncoderOptions {
    int nSL = 8;
    int nTL = 4;
    bool refFirstFrame = false;
    bool fixedReferences = false;  // the hierarchy's references only, no long-term ones
    int baseLayerPred = 1;  // 0 global, 1 local
    // Step sizes in bits of the sequence's bounding-box diagonal, one per role
    // (first frame, base layer of later frames, enhancement layers) ...
    int precisionBits[3] = {kDefaultPrecisionBits, kDefaultPrecisionBits, kDefaultPrecisionBits};
    // ... unless given outright.
    std::optional<std::vector<double>> steps;
    bool precisionApart = false;  // --precision gave three values
    int effort = kDefaultEffort;
    bool effortGiven = false;
    bool spatialLayersGiven = false;
    bool temporalLayersGiven = false;  // --temporal-layers or --ref-first-frame
    bool baseLayerPredGiven = false;
    // A quality or size to search the step for, instead of a precision.
    std::optional<EncodingTarget> target;
    std::string output;
    std::string connectivity;  // empty: derived from output
    std::string reconstructionDir;  // empty: not written
    std::string package;            // empty: no package written
    std::string mesh;               // the faces of point-cache frames (OBJ or package)
    double fps = 0;                 // 0: the input's rate, else 25
    int threads = 0;                // 0: one per core of this machine
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> frames;
};

// A command line that cannot be used; the message says what would work.
class UsageError : public Error {
public:
    using Error::Error;
};

// Parses argv[1..argc-1]. Throws UsageError. With --help or --version the
// other checks (output, frames) are skipped.
EncoderOptions parseEncoderOptions(int argc, const char* const* argv);

// The command line's encoder choices.
EncoderChoices choicesOf(const EncoderOptions& _o);

// The effort the encoder really runs: --steps means plain rounding.
int effectiveEffort(const EncoderOptions& _o);

// The encoder's rate-distortion options for the command line: the effort's
// choices, the step ratios of a three-value --precision, and an explicit
// --spatial-layers in place of the effort's own layer count.
RdOptions rdOptionsFor(const EncoderOptions& _o);

// "KG error", "max error / diagonal" or "bits per vertex per frame".
const char* targetName(TargetKind _kind);

// The connectivity path for an output stream: OUT without ".orv" plus "_con.obj".
std::string defaultConnectivityPath(const std::string& _output);

// The largest temporal layer count from 1 up to which every count lets the
// frame header reference the coding order of _F frames (offsets below 127,
// frame 0 always reachable); at most 31.
int maxTemporalLayers(int _F, bool _refFirstFrame);

// --threads, or the machine's core count when it was not given.
int threadCount(const EncoderOptions& _o);

// The --help text.
std::string encoderUsage();

}  // namespace orv
