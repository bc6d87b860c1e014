// OrvExport: arguments (options before, between or after the two names), the
// input (a package, or a stream with -c CON.obj), the writer chosen by the
// output's extension, and the one-line report.
#include "Export/ExportRun.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "Common/Check.h"
#include "Common/ProgramArgs.h"
#include "Common/StreamRules.h"
#include "Decoder/MeshIO.h"
#include "Entropy/StreamFile.h"
#include "Export/FrameWriter.h"
#include "Export/StreamFrameSource.h"
#include "Package/Package.h"

namespace orv {

namespace {

const char* const kUsage =
    "Usage: OrvExport IN OUT [options]\n"
    "\n"
    "IN is a package (.orvp), or a stream file given with its connectivity (-c CON.obj).\n"
    "OUT's extension picks the format:\n"
    "  .glb    binary glTF: one mesh, the first frame as base, one morph target per later\n"
    "          frame and a STEP weights animation at the frame rate. Holds every frame in\n"
    "          memory until it writes (the format needs the whole sequence at once).\n"
    "          A package's texture coordinates become TEXCOORD_0.\n"
    "  .pc2    PC2 point cache (float32, little-endian)\n"
    "  .mdd    MDD point cache (float32, big-endian, a time per frame)\n"
    "  other   a folder of OBJ frames (frame000.obj ...), with the package's vt lines\n"
    "PC2 and MDD hold positions only: texture coordinates are not carried.\n"
    "PC2, MDD and OBJ frames are written frame by frame: memory does not grow with\n"
    "the number of frames.\n"
    "\n"
    "Options:\n"
    "  -c, --connectivity CON.obj  the faces of a stream file IN\n"
    "  --spatial-layers N          decode the first N spatial layers (default all)\n"
    "  --temporal-layers N         decode the first N temporal layers (default all)\n"
    "  --frames FIRST-LAST         export frames FIRST to LAST (0-based, inclusive; default all)\n"
    "  --fps RATE                  frame rate (default: the package's, else 25)\n"
    "  --digits N                  OBJ frames: significant digits, 1 to 17 (default 9; 17\n"
    "                              reproduces every decoded double exactly)\n"
    "  --quantize                  glb: 16-bit positions and targets (KHR_mesh_quantization)\n"
    "  -h, --help                  this text\n";

struct Arguments {
    std::string in, out, connectivity;
    StreamSelection selection;
    double fps = 0;
    ExportSettings settings;
};

int positiveInt(const std::string& _option, const std::string& _value, int _max) {
    char* end = nullptr;
    const long v = std::strtol(_value.c_str(), &end, 10);
    if (_value.empty() || *end != '\0' || v < 1 || v > _max)
        throw Error(_option + " takes a whole number from 1 to " + std::to_string(_max) + ", not \"" + _value + "\"");
    return static_cast<int>(v);
}

void parseRange(const std::string& _value, StreamSelection& _s) {
    const size_t dash = _value.find_first_of("-:");
    char* end = nullptr;
    const std::string a = _value.substr(0, dash);
    const long first = std::strtol(a.c_str(), &end, 10);
    bool ok = !a.empty() && *end == '\0' && first >= 0 && first <= stream_rules::kMaxFrames;
    long last = first;
    if (ok && dash != std::string::npos) {
        const std::string b = _value.substr(dash + 1);
        last = std::strtol(b.c_str(), &end, 10);
        ok = !b.empty() && *end == '\0' && last >= first && last <= stream_rules::kMaxFrames;
    }
    if (!ok) throw Error("--frames takes FIRST-LAST (0-based, FIRST <= LAST), not \"" + _value + "\"");
    _s.firstFrame = static_cast<int>(first);
    _s.lastFrame = static_cast<int>(last);
}

// Returns false when help was asked for.
bool parse(int argc, char** argv, Arguments& _a) {
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw Error(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") return false;
        if (arg == "-c" || arg == "--connectivity") _a.connectivity = value();
        else if (arg == "--spatial-layers") _a.selection.spatialLayers = positiveInt(arg, value(), stream_rules::kMaxSpatialLayers);
        else if (arg == "--temporal-layers") _a.selection.temporalLayers = positiveInt(arg, value(), stream_rules::kMaxTemporalLayers);
        else if (arg == "--frames") parseRange(value(), _a.selection);
        else if (arg == "--digits") _a.settings.digits = positiveInt(arg, value(), 17);
        else if (arg == "--quantize") _a.settings.quantize = true;
        else if (arg == "--fps") {
            const std::string v = value();
            char* end = nullptr;
            _a.fps = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !(_a.fps > 0) || _a.fps > 1e6) throw Error("--fps takes a positive rate, not \"" + v + "\"");
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw Error("unknown option " + arg + " (OrvExport --help lists them)");
        } else {
            names.push_back(arg);
        }
    }
    if (names.size() != 2) throw Error("OrvExport takes IN and OUT (OrvExport --help)");
    _a.in = names[0];
    _a.out = names[1];
    return true;
}

int run(int argc, char** argv) {
    if (argc < 2) return printUsage(kUsage);
    Arguments a;
    if (!parse(argc, argv, a)) {
        std::printf("%s", kUsage);
        return 0;
    }
    const ExportFormat format = exportFormatFor(a.out);

    AnimationInfo info;
    std::vector<uint8_t> streamFile;
    if (isPackageFile(a.in)) {
        Package p = readPackageFile(a.in);
        info.frameRate = p.frameRate;
        info.startTime = p.startTime;
        info.name = p.name;
        info.faces = std::move(p.connectivity.indices);
        info.texCoords = std::move(p.texCoords);
        info.texFaces = std::move(p.texFaces);
        streamFile = std::move(p.stream);
        if (!a.connectivity.empty()) throw Error(a.in + " is a package: it holds its connectivity (drop -c)");
    } else {
        if (a.connectivity.empty()) throw Error(a.in + " is not a package; give a stream's connectivity with -c CON.obj");
        FaceList faces;
        readOBJ(a.connectivity, faces);
        if (faces.empty()) throw Error(a.connectivity + ": no faces");
        info.faces = toFlatIndices(faces);
        const std::vector<uint8_t> bits = readStreamFile(a.in);
        streamFile.resize(4);
        const uint64_t n = bits.size();
        for (int i = 0; i < 4; ++i) streamFile[static_cast<size_t>(i)] = static_cast<uint8_t>(n >> (8 * i));
        streamFile.insert(streamFile.end(), bits.begin(), bits.end());
        info.name = std::filesystem::path(a.in).stem().string();
    }
    if (a.fps > 0) info.frameRate = a.fps;

    auto source = openStreamFrames(std::move(streamFile), a.in, std::move(info), a.selection);
    auto writer = makeFrameWriter(format, a.out, a.settings);
    exportFrames(*source, *writer);
    const AnimationInfo& done = source->info();
    std::printf("Wrote frames %d-%d (%d frames of %d vertices, %g fps) to %s\n", done.firstFrame,
                done.firstFrame + done.frameCount - 1, done.frameCount, done.vertexCount, done.frameRate, a.out.c_str());
    return 0;
}

}  // namespace

int runOrvExport(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return printFailure("out of memory");
    } catch (const std::exception& e) {
        return printFailure(e.what());
    }
}

}  // namespace orv
