// OrvEnc's option table and its GNU-style parser (see EncoderOptions.h).
#include "EncoderApp/EncoderOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <thread>

#include "Common/StreamRules.h"

namespace orv {

namespace {

struct OptionSpec {
    const char* longName;
    char shortName;  // 0: long form only
    const char* valueName;  // nullptr: a flag
    std::function<void(EncoderOptions&, const std::string&)> apply;
};

std::string quoted(const std::string& _s) { return "'" + _s + "'"; }

int parseInt(const std::string& _option, const std::string& _value, int _lo, int _hi) {
    int v = 0;
    const char* end = _value.data() + _value.size();
    auto [p, ec] = std::from_chars(_value.data(), end, v);
    if (_value.empty() || ec != std::errc() || p != end || v < _lo || v > _hi)
        throw UsageError(_option + " must be a whole number from " + std::to_string(_lo) + " to " +
                         std::to_string(_hi) + " (got " + quoted(_value) + ")");
    return v;
}

std::vector<std::string> splitCommas(const std::string& _value) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = _value.find(',', start);
        parts.push_back(_value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

void setPrecision(EncoderOptions& _o, const std::string& _value) {
    const std::vector<std::string> parts = splitCommas(_value);
    if (parts.size() != 1 && parts.size() != 3)
        throw UsageError("--precision takes one number of bits or three (first frame, base layer, enhancement "
                         "layers), e.g. 12 or 15,13,12 (got " + quoted(_value) + ")");
    for (int i = 0; i < 3; ++i)
        _o.precisionBits[i] = parseInt("--precision", parts[parts.size() == 1 ? 0 : static_cast<size_t>(i)],
                                       kMinPrecisionBits, kMaxPrecisionBits);
    _o.precisionApart = parts.size() == 3;
    _o.steps.reset();
}

const char* targetOption(TargetKind _kind) {
    switch (_kind) {
        case TargetKind::KgError: return "--target-kg";
        case TargetKind::MaxErrorOverDiagonal: return "--target-max-error";
        case TargetKind::BitsPerVertexFrame: return "--target-bpvf";
    }
    return "--target";
}

void setTarget(EncoderOptions& _o, TargetKind _kind, const std::string& _value) {
    char* end = nullptr;
    const double v = _value.empty() ? 0.0 : std::strtod(_value.c_str(), &end);
    if (_value.empty() || *end != '\0' || !std::isfinite(v) || v <= 0)
        throw UsageError(std::string(targetOption(_kind)) + " needs a positive number (got " + quoted(_value) + ")");
    if (_o.target && _o.target->kind != _kind)
        throw UsageError("give only one of --target-kg, --target-max-error and --target-bpvf");
    EncodingTarget t;
    t.kind = _kind;
    t.value = v;
    _o.target = t;
}

void setSteps(EncoderOptions& _o, const std::string& _value) {
    const std::vector<std::string> parts = splitCommas(_value);
    if (parts.size() != 1 && parts.size() != 3)
        throw UsageError("--steps takes one step size or three (q0,q1,q2), e.g. 0.001 or 0.0005,0.001,0.002 (got " +
                         quoted(_value) + ")");
    std::vector<double> steps;
    for (const std::string& s : parts) {
        char* end = nullptr;
        const double q = s.empty() ? 0.0 : std::strtod(s.c_str(), &end);
        if (s.empty() || *end != '\0' || !stream_rules::stepSizeValid(q))
            throw UsageError(std::string("--steps needs positive finite step sizes below ") +
                             stream_rules::kStepSizeBoundText + "; got " + quoted(s.empty() ? _value : s));
        steps.push_back(q);
    }
    if (steps.size() == 1) steps.assign(3, steps[0]);
    _o.steps = steps;
}

const std::vector<OptionSpec>& optionTable() {
    static const std::vector<OptionSpec> table = {
        {"output", 'o', "OUT", [](EncoderOptions& o, const std::string& v) { o.output = v; }},
        {"spatial-layers", 's', "N",
         [](EncoderOptions& o, const std::string& v) { o.nSL = parseInt("--spatial-layers", v, 1, stream_rules::kMaxSpatialLayers); }},
        {"temporal-layers", 't', "N",
         [](EncoderOptions& o, const std::string& v) { o.nTL = parseInt("--temporal-layers", v, 1, stream_rules::kLayerCountFieldMax); }},
        {"precision", 'p', "BITS", setPrecision},
        {"steps", 0, "Q0,Q1,Q2", setSteps},
        {"effort", 'e', "N",
         [](EncoderOptions& o, const std::string& v) {
             o.effort = parseInt("--effort", v, 0, kMaxEffort);
             o.effortGiven = true;
         }},
        {"target-kg", 0, "PERCENT",
         [](EncoderOptions& o, const std::string& v) { setTarget(o, TargetKind::KgError, v); }},
        {"target-max-error", 0, "FRACTION",
         [](EncoderOptions& o, const std::string& v) { setTarget(o, TargetKind::MaxErrorOverDiagonal, v); }},
        {"target-bpvf", 0, "BITS",
         [](EncoderOptions& o, const std::string& v) { setTarget(o, TargetKind::BitsPerVertexFrame, v); }},
        {"ref-first-frame", 0, nullptr, [](EncoderOptions& o, const std::string&) { o.refFirstFrame = true; }},
        {"fixed-references", 0, nullptr, [](EncoderOptions& o, const std::string&) { o.fixedReferences = true; }},
        {"base-layer-pred", 0, "global|local",
         [](EncoderOptions& o, const std::string& v) {
             if (v == "global")
                 o.baseLayerPred = 0;
             else if (v == "local")
                 o.baseLayerPred = 1;
             else
                 throw UsageError("--base-layer-pred must be 'global' or 'local' (got " + quoted(v) + ")");
         }},
        {"connectivity", 'c', "FILE",
         [](EncoderOptions& o, const std::string& v) {
             if (v.empty()) throw UsageError("--connectivity needs a file name");
             o.connectivity = v;
         }},
        {"write-reconstruction", 0, "DIR",
         [](EncoderOptions& o, const std::string& v) {
             if (v.empty()) throw UsageError("--write-reconstruction needs a folder name");
             o.reconstructionDir = v;
         }},
        {"package", 0, "FILE",
         [](EncoderOptions& o, const std::string& v) {
             if (v.empty()) throw UsageError("--package needs a file name");
             o.package = v;
         }},
        {"mesh", 0, "FILE",
         [](EncoderOptions& o, const std::string& v) {
             if (v.empty()) throw UsageError("--mesh needs a file name");
             o.mesh = v;
         }},
        {"fps", 0, "RATE",
         [](EncoderOptions& o, const std::string& v) {
             char* end = nullptr;
             const double r = v.empty() ? 0.0 : std::strtod(v.c_str(), &end);
             if (v.empty() || *end != '\0' || !std::isfinite(r) || r <= 0 || r > 1e6)
                 throw UsageError("--fps needs a positive frame rate (got " + quoted(v) + ")");
             o.fps = r;
         }},
        {"threads", 'j', "N",
         [](EncoderOptions& o, const std::string& v) { o.threads = parseInt("--threads", v, 1, kMaxThreads); }},
        {"quiet", 'q', nullptr, [](EncoderOptions& o, const std::string&) { o.quiet = true; }},
        {"help", 'h', nullptr, [](EncoderOptions& o, const std::string&) { o.help = true; }},
        {"version", 'V', nullptr, [](EncoderOptions& o, const std::string&) { o.version = true; }},
    };
    return table;
}

const OptionSpec& findLong(const std::string& _name) {
    const OptionSpec* match = nullptr;
    int prefixMatches = 0;
    for (const OptionSpec& spec : optionTable()) {
        const std::string name = spec.longName;
        if (name == _name) return spec;
        if (!_name.empty() && name.compare(0, _name.size(), _name) == 0) {
            match = &spec;
            ++prefixMatches;
        }
    }
    if (prefixMatches == 1) return *match;
    if (prefixMatches > 1) throw UsageError("option '--" + _name + "' is ambiguous (try 'OrvEnc --help')");
    throw UsageError("unknown option '--" + _name + "' (try 'OrvEnc --help')");
}

const OptionSpec& findShort(char _c) {
    for (const OptionSpec& spec : optionTable())
        if (spec.shortName == _c) return spec;
    throw UsageError(std::string("unknown option '-") + _c + "' (try 'OrvEnc --help')");
}

// Whether every reference of the coding order of _F frames and _nTL temporal
// layers fits the frame header: a reference to frame 0 always does, any other
// needs an offset below 127. Groups are cut as the coding order cuts them:
// full groups of 2^(nTL-1) frames, then ever smaller powers of two.
bool temporalLayersFit(int _F, int _nTL, bool _refFirstFrame) {
    if (!stream_rules::temporalLayersValid(_nTL)) return false;
    long long size = 1LL << (_nTL - 1);
    for (long long p = 1; p < _F; p += size) {
        while (p + size > _F) size >>= 1;
        // The key frame (p + size - 1) references frame p - 1, or frame 0.
        if (!_refFirstFrame && p - 1 != 0 && size >= stream_rules::kNoReference) return false;
        // The first bisected frame lies size/2 before its later reference.
        if (size / 2 >= stream_rules::kNoReference) return false;
    }
    return true;
}

}  // namespace

EncoderChoices choicesOf(const EncoderOptions& _o) {
    EncoderChoices c;
    c.effort = _o.effort;
    c.explicitSteps = _o.steps.has_value();
    c.spatialLayersGiven = _o.spatialLayersGiven;
    c.temporalLayersGiven = _o.temporalLayersGiven;
    c.baseLayerPredGiven = _o.baseLayerPredGiven;
    c.precisionApart = _o.precisionApart;
    c.chooseReferences = !_o.fixedReferences;
    for (int i = 0; i < 3; ++i) c.precisionBits[i] = _o.precisionBits[i];
    return c;
}

int effectiveEffort(const EncoderOptions& _o) { return effectiveEffort(choicesOf(_o)); }

RdOptions rdOptionsFor(const EncoderOptions& _o) { return rdOptionsFor(choicesOf(_o)); }

const char* targetName(TargetKind _kind) {
    switch (_kind) {
        case TargetKind::KgError: return "KG error";
        case TargetKind::MaxErrorOverDiagonal: return "max error / diagonal";
        case TargetKind::BitsPerVertexFrame: return "bits per vertex per frame";
    }
    return "target";
}

int maxTemporalLayers(int _F, bool _refFirstFrame) {
    int best = 1;
    while (best < stream_rules::kMaxTemporalLayers && temporalLayersFit(_F, best + 1, _refFirstFrame)) ++best;
    return best;
}

std::string defaultConnectivityPath(const std::string& _output) {
    std::string stem = _output;
    if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, ".orv") == 0) stem.resize(stem.size() - 4);
    return stem + "_con.obj";
}

EncoderOptions parseEncoderOptions(int argc, const char* const* argv) {
    EncoderOptions o;
    bool precisionGiven = false, stepsGiven = false;
    auto apply = [&](const OptionSpec& spec, const std::string& value) {
        const std::string name = spec.longName;
        if (name == "precision") precisionGiven = true;
        if (name == "steps") stepsGiven = true;
        if (name == "spatial-layers") o.spatialLayersGiven = true;
        if (name == "temporal-layers" || name == "ref-first-frame") o.temporalLayersGiven = true;
        if (name == "base-layer-pred") o.baseLayerPredGiven = true;
        spec.apply(o, value);
    };
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            o.frames.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg[1] == '-') {
            const size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptionSpec& spec = findLong(name);
            const std::string shown = std::string("--") + spec.longName;
            if (!spec.valueName) {
                if (eq != std::string::npos) throw UsageError("option '" + shown + "' takes no value");
                apply(spec, "");
            } else if (eq != std::string::npos) {
                apply(spec, arg.substr(eq + 1));
            } else {
                if (i + 1 >= argc) throw UsageError("option '" + shown + "' needs a value " + spec.valueName);
                apply(spec, argv[++i]);
            }
        } else {
            for (size_t k = 1; k < arg.size(); ++k) {
                const OptionSpec& spec = findShort(arg[k]);
                if (!spec.valueName) {
                    apply(spec, "");
                    continue;
                }
                if (k + 1 < arg.size()) {
                    apply(spec, arg.substr(k + 1));
                } else {
                    if (i + 1 >= argc)
                        throw UsageError(std::string("option '-") + arg[k] + "' needs a value " + spec.valueName);
                    apply(spec, argv[++i]);
                }
                break;
            }
        }
    }
    if (o.help || o.version) return o;
    if (precisionGiven && stepsGiven) throw UsageError("give either --precision or --steps, not both");
    if (o.target && (precisionGiven || stepsGiven))
        throw UsageError(std::string(targetOption(o.target->kind)) +
                         " searches the step itself: leave out --precision and --steps");
    if (stepsGiven && o.effortGiven && o.effort != 0)
        throw UsageError("--steps sets the step sizes for plain rounding (effort 0); for --effort " +
                         std::to_string(o.effort) + " give the step as --precision BITS");
    if (o.output.empty() && o.package.empty())
        throw UsageError("no output given: use -o OUT.orv, --package OUT.orvp or both (try 'OrvEnc --help')");
    if (o.frames.empty()) throw UsageError("no frames given: name OBJ files, a folder of them or a pattern such as frames/%04d.obj");
    if (o.output.empty()) {
        if (!o.connectivity.empty()) throw UsageError("--connectivity names the file written beside -o OUT.orv; give -o too");
        return o;
    }
    if (o.connectivity.empty()) o.connectivity = defaultConnectivityPath(o.output);
    if (o.connectivity == o.output) throw UsageError("the connectivity file cannot be the output stream itself");
    if (o.package == o.output || o.package == o.connectivity)
        throw UsageError("the package must be a file of its own, not the stream or the connectivity");
    return o;
}

int threadCount(const EncoderOptions& _o) {
    if (_o.threads > 0) return _o.threads;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxThreads));
}

std::string encoderUsage() {
    std::string text =
        "Usage: OrvEnc [options] -o OUT.orv FRAME...\n"
        "       OrvEnc [options] --package OUT.orvp FRAME...\n"
        "       OrvEnc [options] --mesh MESH.obj -o OUT.orv CACHE.pc2|CACHE.mdd\n"
        "       OrvEnc [options] -o OUT.orv ANIMATION.glb|ANIMATION.gltf\n"
        "\n"
        "Encodes an animated triangle mesh (one OBJ file per frame, all with the same\n"
        "faces) into a scalable stream for OrvDec and OrvPacketize. The connectivity\n"
        "comes from the first frame and is written, faces only, beside the stream.\n"
        "\n"
        "FRAME is an OBJ file, a folder of OBJ files (taken in natural order: 2.obj\n"
        "before 10.obj) or a pattern such as frames/%04d.obj (numbered from 0 or 1 up\n"
        "to the first missing number). Several may be given; they are joined in order.\n"
        "Faces of more than three vertices are split into triangles (a fan from the\n"
        "first vertex that gives no degenerate triangle), and negative (relative)\n"
        "indices are resolved; the connectivity written is the triangulated one.\n"
        "FRAME may instead be one point cache, PC2 or MDD (as the format defines it,\n"
        "or as Blender writes it, with a rest block), whose faces come from --mesh.\n"
        "Or one glTF file (.glb, or .gltf with its .bin or data: URI) holding one\n"
        "triangle mesh with morph targets: a frame per key time of its weights\n"
        "animation (else the base, then each target), positions placed by the node\n"
        "that shows the mesh, the frame rate from evenly spaced key times.\n"
        "\n"
        "Options:\n"
        "  -o, --output OUT.orv        the stream file to write (with its connectivity\n"
        "                              beside it: OrvDec and OrvPacketize read this pair)\n"
        "      --package OUT.orvp      also (or, without -o, only) write one package file:\n"
        "                              metadata, coded connectivity and the stream, for\n"
        "                              OrvExport and the library\n"
        "      --mesh FILE             the faces for point-cache input: an OBJ file (its\n"
        "                              polygons split as above) or a package\n"
        "      --fps RATE              frame rate for the package (default: the input's\n"
        "                              where it has one, as MDD does, else 25)\n"
        "  -s, --spatial-layers N      spatial layers, 1..255 (default 8)\n"
        "  -t, --temporal-layers N     temporal layers; a group spans 2^(N-1) frames\n"
        "                              (default 4)\n"
        "  -p, --precision BITS        enhancement-layer step q = bounding-box diagonal\n"
        "                              of the whole sequence / 2^BITS, BITS from " + std::to_string(kMinPrecisionBits) +
        " to " + std::to_string(kMaxPrecisionBits) + "\n"
        "                              (default " + std::to_string(kDefaultPrecisionBits) +
        "); the effort derives the first-frame\n"
        "                              and base-layer steps from q; B0,B1,B2 sets the\n"
        "                              first frame, the base layer of later frames and\n"
        "                              the enhancement layers apart\n"
        "      --steps Q0,Q1,Q2        explicit step sizes (one value: all three), plain\n"
        "                              rounding; not with --effort 1 or 2\n"
        "  -e, --effort N              0 plain rounding, one step; 1 chooses by trial\n"
        "                              on the first frames among plain rounding, a dead\n"
        "                              zone and a finer first frame; 2 also tries finer\n"
        "                              first-frame and base-layer steps, RD-optimised\n"
        "                              residuals and the layout (-t, --ref-first-frame,\n"
        "                              --base-layer-pred, -s, unless given), several\n"
        "                              times the time and up to 1.3x the largest vertex\n"
        "                              error at equal KG error (default " + std::to_string(kDefaultEffort) + ")\n"
        "      --target-kg PERCENT     search the step (up to 8 encodes) for a KG error\n"
        "                              of at most PERCENT\n"
        "      --target-max-error FRACTION\n"
        "                              ... for a largest vertex error of at most\n"
        "                              FRACTION of the bounding-box diagonal\n"
        "      --target-bpvf BITS      ... for a stream file of at most BITS bits per\n"
        "                              vertex per frame\n"
        "                              (one target at most; not with --precision or\n"
        "                              --steps; a missed target is a warning on\n"
        "                              standard error and the closest stream is written)\n"
        "      --ref-first-frame       key frames reference frame 0 instead of the\n"
        "                              previous group's key frame\n"
        "      --fixed-references      only the hierarchy's references (by default\n"
        "                              effort 1 and 2 let a frame reference the same\n"
        "                              phase of an earlier cycle where that pays)\n"
        "      --base-layer-pred global|local\n"
        "                              predictor of spatial layer 0 (default local)\n"
        "  -c, --connectivity FILE     connectivity file to write (default OUT without\n"
        "                              \".orv\" plus \"_con.obj\")\n"
        "      --write-reconstruction DIR\n"
        "                              also write the decoded frames as DIR/<frame>.obj\n"
        "  -j, --threads N             threads for loading and encoding frames (default:\n"
        "                              this machine's cores); the stream is the same for\n"
        "                              any N\n"
        "  -q, --quiet                 print nothing but errors\n"
        "  -h, --help                  show this text\n"
        "  -V, --version               show the version\n"
        "\n"
        "Exit status: 0 on success, 255 on any error (one line on standard error).\n"
        "Decode with: OrvDec OUT.orv OUT_con.obj\n";
    return text;
}

}  // namespace orv
