// The OrvEnc program (see EncoderApp.h). Every check a user can fail runs
// before the long work where possible (options and frame count before loading,
// frame consistency while loading), and nothing is written under the final
// names until the whole stream exists in memory.
#include "EncoderApp/EncoderApp.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "Common/AtomicFile.h"
#include "Common/Check.h"
#include "Common/StreamRules.h"
#include "Connectivity/ConnectivityCodec.h"
#include "Package/Package.h"
#include "Decoder/MeshIO.h"
#include "EncoderApp/EncoderOptions.h"
#include "EncoderApp/FrameSource.h"
#include "EncoderApp/ProgressMeter.h"
#include "Import/GltfReader.h"
#include "SequenceEncoder/LayeringCache.h"
#include "SequenceEncoder/QualityMetrics.h"
#include "SequenceEncoder/RateControl.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "Entropy/StreamFile.h"

#ifndef ORV_VERSION
#define ORV_VERSION "unknown"
#endif

namespace fs = std::filesystem;

namespace orv {

namespace {

std::string quoted(const std::string& _s) { return "'" + _s + "'"; }

std::string connectivityText(const FaceList& _faces, int _V) {
    std::string text = "# orv connectivity: " + std::to_string(_V) + " vertices, " + std::to_string(_faces.size()) +
                       " faces\n";
    text.reserve(text.size() + _faces.size() * 24);
    for (const Face& face : _faces) {
        text += 'f';
        for (int id : face) {
            text += ' ';
            text += std::to_string(id + 1);
        }
        text += '\n';
    }
    return text;
}

void writeReconstruction(const std::string& _dir, const GeometryT<double>& _g, const FaceList& _faces) {
    std::error_code ec;
    fs::create_directories(_dir, ec);
    if (ec) throw Error("cannot create folder " + quoted(_dir) + ": " + ec.message());
    // Frame numbers are padded as OrvDec pads them, so the names sort alike.
    const size_t width = std::to_string(_g.F > 0 ? _g.F - 1 : 0).size();
    for (int f = 0; f < _g.F; ++f) {
        std::string number = std::to_string(f);
        number.insert(0, width - number.size(), '0');
        const std::string path = (fs::path(_dir) / (number + ".obj")).string();
        writeFileAtomically(path, objFrameText(_g, f, _faces));
    }
}

std::string stepDescription(const double _q[3]) {
    char text[128];
    std::snprintf(text, sizeof text, "q0 %.6g, q1 %.6g, q2 %.6g", _q[0], _q[1], _q[2]);
    return text;
}

// What the residual decisions of a stream were, as its effort ran them.
std::string choiceDescription(const RdOptions& _o) {
    std::string text;
    auto add = [&](const std::string& _part) { text += (text.empty() ? "" : ", ") + _part; };
    char ratio[64];
    if (_o.firstFrameRatio != 1.0) {
        std::snprintf(ratio, sizeof ratio, "first frame %.3g q", _o.firstFrameRatio);
        add(ratio);
    }
    if (_o.baseLayerRatio != 1.0) {
        std::snprintf(ratio, sizeof ratio, "base layer %.3g q", _o.baseLayerRatio);
        add(ratio);
    }
    if (_o.rdoq) add("RD-optimised residuals");
    else if (_o.deadZone) add(_o.deadZoneZeroOnly ? "dead zone for zeros" : "dead zone");
    if (_o.emptyChunks) add("empty chunks");
    return text.empty() ? "plain rounding" : text;
}

// Refuses output names that could only fail after the long work.
void checkWritable(const std::string& _path, const char* _what) {
    std::error_code ec;
    if (fs::is_directory(_path, ec)) throw UsageError(std::string("the ") + _what + " " + quoted(_path) + " is a folder");
    const fs::path parent = fs::path(_path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec))
        throw UsageError(std::string("the folder of the ") + _what + " " + quoted(parent.string()) + " does not exist");
}

// Whether two names lead to the same file: resolved paths (".", "..",
// symbolic links) compare equal, or both exist and are one file (a hard link).
bool sameFile(const fs::path& _a, const fs::path& _b) {
    std::error_code ec;
    const fs::path a = fs::weakly_canonical(_a, ec);
    if (ec) return false;
    const fs::path b = fs::weakly_canonical(_b, ec);
    if (ec) return false;
    if (a == b) return true;
    return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// The outputs replace files; one that names an input would destroy it. A
// sequence has hundreds of frames, so each output's name is resolved once
// and each frame costs a look at its status: an output that exists can only
// be a frame that exists (the same file), one that does not only a frame
// that does not either (the same resolved name).
void refuseInputsAsOutputs(const EncoderOptions& _o, const std::vector<std::string>& _frames) {
    struct Output {
        const std::string* path;
        const char* what;
        bool exists;
        fs::path resolved;
    };
    std::vector<Output> outputs;
    for (const auto& [path, what] : {std::pair{&_o.output, "output stream"},
                                     std::pair{&_o.connectivity, "connectivity file"}, std::pair{&_o.package, "package"}}) {
        if (path->empty()) continue;
        std::error_code ec;
        const bool exists = fs::exists(*path, ec);
        fs::path resolved = exists ? fs::path() : fs::weakly_canonical(*path, ec);
        if (!ec) outputs.push_back({path, what, exists, std::move(resolved)});
    }
    for (const std::string& frame : _frames) {
        std::error_code ec;
        const bool exists = fs::exists(frame, ec);
        fs::path resolved;
        for (const Output& out : outputs) {
            if (out.exists != exists) continue;
            bool same;
            if (exists) {
                same = fs::equivalent(*out.path, frame, ec) && !ec;
            } else {
                if (resolved.empty()) resolved = fs::weakly_canonical(frame, ec);
                same = !ec && resolved == out.resolved;
            }
            if (same)
                throw UsageError(std::string("the ") + out.what + " " + quoted(*out.path) + " is the input frame " +
                                 quoted(frame) + ": choose another name");
        }
    }
    if (!_o.output.empty() && sameFile(_o.output, _o.connectivity))
        throw UsageError("the output stream and the connectivity file are both " + quoted(_o.output));
    if (!_o.package.empty() && (sameFile(_o.package, _o.output) || sameFile(_o.package, _o.connectivity)))
        throw UsageError("the package " + quoted(_o.package) + " is also an output of the stream pair");
}

int encode(const EncoderOptions& _o) {
    const bool talk = !_o.quiet;
    const bool streamOut = !_o.output.empty();
    if (streamOut) {
        checkWritable(_o.output, "output stream");
        checkWritable(_o.connectivity, "connectivity file");
    }
    if (!_o.package.empty()) checkWritable(_o.package, "package");
    const bool gltfInput = isGltfInput(_o.frames);
    const bool cacheInput = isPointCacheInput(_o.frames) || gltfInput;
    if (gltfInput && !_o.mesh.empty())
        throw UsageError("--mesh gives the faces of a point cache; a glTF file has its own");
    if (cacheInput && !gltfInput && _o.mesh.empty())
        throw UsageError("a point cache holds no faces: give them with --mesh FILE.obj (or a package)");
    if (!cacheInput && !_o.mesh.empty())
        throw UsageError("--mesh gives the faces of a point cache (one .pc2 or .mdd file); OBJ frames have their own");
    std::vector<std::string> paths;
    LoadedAnimation cacheAnim;
    if (cacheInput) {
        refuseInputsAsOutputs(_o, {_o.frames[0], _o.mesh});
        if (gltfInput) {
            GltfAnimation gltf = readGltf(_o.frames[0]);
            if (talk)
                for (const std::string& note : gltf.notes) std::printf("note: %s: %s\n", _o.frames[0].c_str(), note.c_str());
            cacheAnim = std::move(gltf.anim);
        } else {
            cacheAnim = loadPointCacheAnimation(_o.frames[0], _o.mesh);
        }
    } else {
        paths = expandFrameArguments(_o.frames);
        refuseInputsAsOutputs(_o, paths);
    }
    const int F = cacheInput ? cacheAnim.positions.F : static_cast<int>(paths.size());
    const std::string written = streamOut ? _o.output : _o.package;

    const int maxTL = maxTemporalLayers(F, _o.refFirstFrame);
    if (_o.nTL > maxTL)
        throw UsageError("--temporal-layers " + std::to_string(_o.nTL) +
                         (_o.nTL > stream_rules::kMaxTemporalLayers ? std::string(" is more than groups of frames can have")
                                      : " does not fit " + std::to_string(F) +
                                            " frames (the frame header cannot reference that far)") +
                         ": use --temporal-layers " + std::to_string(maxTL) + " or fewer");

    const ProgressMeter::Style style = ProgressMeter::styleFor(_o.quiet);
    if (talk) {
        if (cacheInput)
            std::printf("OrvEnc %s: %d frames from %s, writing %s\n", ORV_VERSION, F, _o.frames[0].c_str(), written.c_str());
        else
            std::printf("OrvEnc %s: %d frame files, writing %s\n", ORV_VERSION, F, written.c_str());
    }
    std::fflush(stdout);

    ProgressMeter loadMeter(stdout, style, "Loading", F);
    // With threads to spare, the mesh's layering is built beside the reading
    // of the later frames instead of before the encode.
    std::unique_ptr<LayeringInBackground> layeringAhead;
    const auto startLayering = [&](const FaceList& _faces, int _V) {
        if (threadCount(_o) > 1 && !_o.target) layeringAhead = std::make_unique<LayeringInBackground>(_faces, _V, _o.nSL);
    };
    LoadedAnimation anim =
        cacheInput ? std::move(cacheAnim) : loadAnimation(
                          paths, [&](int done, int) { loadMeter.update(done); }, threadCount(_o), startLayering);
    loadMeter.finish();
    const double loadSeconds = loadMeter.elapsedSeconds();
    const double frameRate = _o.fps > 0 ? _o.fps : anim.frameRate > 0 ? anim.frameRate : 25.0;
    const int V = anim.positions.V;

    const double diagonal = sequenceBoundingBox(anim.positions).diagonal();
    if (!_o.steps && !(diagonal > 0))
        throw UsageError("all vertices of all frames lie on one point, so --precision and the targets have no scale: "
                         "give --steps");
    const int effort = effectiveEffort(_o);
    const RdOptions rd = rdOptionsFor(_o);

    Settings settings;
    settings.nSL = _o.nSL;
    settings.nTL = _o.nTL;
    settings.refFirstFrame = _o.refFirstFrame;
    settings.baseLayerPred = _o.baseLayerPred;

    double q[3];
    EncodedSequence encoded;
    QualityMetrics quality;
    std::optional<TargetedEncoding> search;
    double encodeSeconds = 0;
    if (_o.target) {
        // Each encode of the search gets its own meter; a new one begins when
        // the frame count starts again.
        int searchEncodes = 1, lastDone = 0;
        auto meter = std::make_unique<ProgressMeter>(stdout, style, "Search encode 1", F);
        const auto started = std::chrono::steady_clock::now();
        // The search counts the bit stream only; the user's size is the file's,
        // which adds the 4-byte length.
        EncodingTarget target = *_o.target;
        if (target.kind == TargetKind::BitsPerVertexFrame)
            target.value = std::fmax(target.value - 32.0 / (static_cast<double>(V) * F), 1e-3 * target.value);
        TargetedEncoding found =
            encodeToTarget(anim.positions, anim.faces, settings, rd, target, [&](int done, int) {
                if (done <= lastDone) {
                    meter->finish();
                    const std::string label = "Search encode " + std::to_string(++searchEncodes);
                    meter = std::make_unique<ProgressMeter>(stdout, style, label, F);
                }
                lastDone = done;
                meter->update(done);
            }, threadCount(_o));
        meter->finish();
        encodeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        encoded = std::move(found.encoded);
        quality = found.quality;
        search = std::move(found);
    } else {
        ProgressMeter encodeMeter(stdout, style, "Encoding", F);
        const EncodeProgress progress = [&](int done, int) { encodeMeter.update(done); };
        LayeringCache layerings(anim.faces, V);
        if (layeringAhead) layeringAhead->handTo(layerings);
        if (_o.steps) {
            for (int i = 0; i < 3; ++i) q[i] = (*_o.steps)[static_cast<size_t>(i)];
            encoded = encodeSequence(anim.positions, anim.faces, settings, q, progress, threadCount(_o), &layerings);
        } else {
            const double qEnh = diagonal / std::ldexp(1.0, _o.precisionBits[2]);
            encoded = encodeSequence(anim.positions, anim.faces, settings, qEnh, rd, progress, threadCount(_o),
                                     &layerings);
        }
        encodeMeter.finish();
        encodeSeconds = encodeMeter.elapsedSeconds();
        quality = measureQuality(anim.positions, encoded.reconstruction);
    }
    // The effort's trials may have chosen the steps and the layout.
    for (int i = 0; i < 3; ++i) q[i] = encoded.qStep[i];
    const Settings& used = encoded.settings;
    if (search && !search->met) {
        // A missed target still leaves the closest stream: the user can judge
        // it from the report, and scripts see the warning.
        std::fflush(stdout);
        std::fprintf(stderr, "OrvEnc: warning: %s <= %.6g not met in %d encodes; writing the closest stream\n",
                     targetName(_o.target->kind), _o.target->value, search->encodes);
    }

    // The package and the stream pair each go through a temporary name; the
    // connectivity is renamed only once the stream is in place, so a failure
    // leaves neither file half-written (AtomicFile removes the temporaries,
    // also on SIGINT/SIGTERM).
    if (encoded.streamFile.size() < 4) throw Error("the encoder returned no stream");
    if (!_o.package.empty()) {
        Package package;
        package.frameRate = frameRate;
        package.startTime = anim.startTime;
        package.sourceVertexCount = V;
        package.name = fs::path(written).stem().string();
        for (const std::string& path : paths) package.frameNames.push_back(fs::path(path).filename().string());
        if (cacheInput) package.frameNames.clear();
        package.connectivity.vertexCount = V;
        package.connectivity.indices = toFlatIndices(anim.faces);
        package.texCoords = anim.texCoords;
        package.texFaces = anim.texFaces;
        package.stream = encoded.streamFile;
        writePackageFile(_o.package, package);
    }
    if (streamOut) {
        AtomicFile connectivity(_o.connectivity);
        connectivity.write(connectivityText(anim.faces, V));
        connectivity.close();
        writeStreamFile(_o.output, encoded.streamFile.data() + 4, encoded.streamFile.size() - 4);
        connectivity.commit();
    }
    if (!_o.reconstructionDir.empty()) writeReconstruction(_o.reconstructionDir, encoded.reconstruction, anim.faces);

    if (talk) {
        const double vertexFrames = static_cast<double>(V) * F;
        const double bytes = static_cast<double>(encoded.streamFile.size());
        const char* rule = "---------------------------------------\n";
        std::printf("%s", rule);
        std::printf("  vertices x frames : %d x %d (%zu faces)\n", V, F, anim.faces.size());
        std::printf("  layers            : %d spatial, %d temporal (ref-first-frame %s, base-layer-pred %s)\n", used.nSL,
                    used.nTL, used.refFirstFrame ? "on" : "off", used.baseLayerPred ? "local" : "global");
        if (_o.steps)
            std::printf("  step sizes        : %s (bounding-box diagonal %.6g)\n", stepDescription(q).c_str(), diagonal);
        else if (search)
            std::printf("  step sizes        : %s (diagonal %.6g / 2^%.2f)\n", stepDescription(q).c_str(), diagonal,
                        std::log2(diagonal / q[2]));
        else if (_o.precisionApart)
            std::printf("  step sizes        : %s (diagonal %.6g / 2^%d,%d,%d)\n", stepDescription(q).c_str(), diagonal,
                        _o.precisionBits[0], _o.precisionBits[1], _o.precisionBits[2]);
        else
            std::printf("  step sizes        : %s (q2 = diagonal %.6g / 2^%d)\n", stepDescription(q).c_str(), diagonal,
                        _o.precisionBits[2]);
        std::printf("  effort            : %d (%s%s)\n", effort, rd.trialLevel > 0 ? "trials chose " : "",
                    choiceDescription(encoded.options).c_str());
        if (encoded.options.chooseReferences)
            std::printf("  references        : %d of %d frames take chosen references\n",
                        encoded.chosenReferenceRecords, F);
        if (search)
            std::printf("  target            : %s <= %.6g%s %s after %d encodes\n", targetName(_o.target->kind),
                        _o.target->value, _o.target->kind == TargetKind::KgError ? " %" : "",
                        search->met ? "met" : "NOT met", search->encodes);
        if (anim.polygonsSplit > 0)
            std::printf("  polygons split    : %d faces of more than three vertices became triangles\n",
                        anim.polygonsSplit);
        if (streamOut) {
            std::printf("  stream            : %s, %.0f bytes\n", _o.output.c_str(), bytes);
            std::printf("  connectivity      : %s\n", _o.connectivity.c_str());
        }
        if (!_o.package.empty()) {
            std::error_code ec;
            std::printf("  package           : %s, %.0f bytes (%g fps)\n", _o.package.c_str(),
                        static_cast<double>(fs::file_size(_o.package, ec)), frameRate);
            if (!anim.texFaces.empty())
                std::printf("  texture coords    : %zu, kept in the package\n", anim.texCoords.size() / 2);
        }
        std::printf("  rate              : %.4f bits per vertex per frame\n", 8.0 * bytes / vertexFrames);
        std::printf("  compression ratio : %.1f : 1 against float32 positions (%.0f bytes)\n",
                    12.0 * vertexFrames / bytes, 12.0 * vertexFrames);
        // A search's speed is per encode, so it compares with a single run.
        const int encodes = search ? search->encodes : 1;
        const std::string spent = search ? " for " + std::to_string(encodes) + " encodes" : std::string();
        std::printf("  encoding speed    : %.3f M vertex-frames/s (%.2f s%s; loading %.2f s)\n",
                    encodeSeconds > 0 ? encodes * vertexFrames / encodeSeconds / 1e6 : 0.0, encodeSeconds,
                    spent.c_str(), loadSeconds);
        std::printf("  RMSE / diagonal   : %.4e\n", quality.rmseOverDiagonal());
        std::printf("  max error / diag. : %.4e\n", quality.maxOverDiagonal());
        std::printf("  KG error          : %.4f %%\n", quality.kg);
        if (!_o.reconstructionDir.empty())
            std::printf("  reconstruction    : %s\n", _o.reconstructionDir.c_str());
        if (streamOut) std::printf("Decode with: OrvDec %s %s\n", _o.output.c_str(), _o.connectivity.c_str());
        if (!_o.package.empty()) std::printf("Export with: OrvExport %s OUT.glb|OUT.pc2|OUT.mdd|FOLDER\n", _o.package.c_str());
    }
    std::fflush(stdout);
    return 0;
}

// One line on standard error; on a terminal the progress bar's line is closed first.
void reportError(const char* _message) {
    if (isatty(fileno(stdout))) std::fputc('\n', stdout);
    std::fflush(stdout);
    std::fprintf(stderr, "OrvEnc: %s\n", _message);
}

}  // namespace

int runOrvEnc(int argc, char** argv) {
    try {
        const EncoderOptions options = parseEncoderOptions(argc, argv);
        if (options.help) {
            std::fputs(encoderUsage().c_str(), stdout);
            return 0;
        }
        if (options.version) {
            std::printf("OrvEnc %s\n", ORV_VERSION);
            return 0;
        }
        return encode(options);
    } catch (const std::bad_alloc&) {
        reportError("out of memory");
    } catch (const std::exception& e) {
        reportError(e.what());
    }
    return -1;
}

}  // namespace orv
