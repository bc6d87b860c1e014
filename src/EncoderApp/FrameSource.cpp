// Expansion of OrvEnc's FRAME arguments and loading of the frames (see
// FrameSource.h). Everything a user can get wrong is caught here, before the
// long encoding starts, with a message that names the file.
#include "EncoderApp/FrameSource.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "Common/Check.h"
#include "Common/InputFile.h"
#include "Common/StreamRules.h"
#include "Connectivity/ConnectivityCodec.h"
#include "Package/Package.h"
#include "PointCache/PointCache.h"
#include "Decoder/MeshIO.h"
#include "Decoder/ObjTexture.h"

namespace fs = std::filesystem;

namespace orv {

namespace {

bool isDigit(char _c) { return _c >= '0' && _c <= '9'; }

std::string quoted(const std::string& _s) { return "'" + _s + "'"; }

std::string faceText(const Face& _face) {
    std::string s;
    for (size_t i = 0; i < _face.size(); ++i) s += (i ? " " : "") + std::to_string(static_cast<long long>(_face[i]) + 1);
    return s;
}

// Where the single conversion of a pattern starts and ends, or throws.
struct PatternSpec {
    size_t begin = 0, end = 0;
    bool zeroPad = false;
    int width = 0;
};

PatternSpec parsePattern(const std::string& _pattern) {
    PatternSpec spec;
    int conversions = 0;
    for (size_t i = 0; i < _pattern.size(); ++i) {
        if (_pattern[i] != '%') continue;
        if (i + 1 < _pattern.size() && _pattern[i + 1] == '%') {
            ++i;  // a literal percent sign
            continue;
        }
        size_t j = i + 1;
        bool zero = false;
        if (j < _pattern.size() && _pattern[j] == '0') {
            zero = true;
            ++j;
        }
        int width = 0;
        while (j < _pattern.size() && isDigit(_pattern[j]) && width < 100) width = 10 * width + (_pattern[j++] - '0');
        if (j >= _pattern.size() || (_pattern[j] != 'd' && _pattern[j] != 'i' && _pattern[j] != 'u') || width > 9)
            throw Error("frame pattern " + quoted(_pattern) +
                        ": only a frame number such as %d or %04d (width up to 9) is understood");
        spec = {i, j + 1, zero, width};
        ++conversions;
        i = j;
    }
    if (conversions != 1)
        throw Error("frame pattern " + quoted(_pattern) + " must hold exactly one frame number such as %d or %04d");
    return spec;
}

std::string unescapePercents(const std::string& _s) {
    std::string out;
    for (size_t i = 0; i < _s.size(); ++i) {
        out += _s[i];
        if (_s[i] == '%' && i + 1 < _s.size() && _s[i + 1] == '%') ++i;
    }
    return out;
}

bool isRegularFile(const std::string& _path) {
    std::error_code ec;
    return fs::is_regular_file(_path, ec);
}

bool hasObjExtension(const fs::path& _p) {
    std::string ext = _p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".obj";
}

void addFrame(std::vector<std::string>& _out, std::string _path) {
    if (_out.size() >= static_cast<size_t>(stream_rules::kMaxFrames))
        throw Error("too many frames: a stream holds at most " + std::to_string(stream_rules::kMaxFrames) + " frames");
    _out.push_back(std::move(_path));
}

void expandDirectory(const std::string& _dir, std::vector<std::string>& _out) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(_dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (hasObjExtension(it->path()) && it->is_regular_file(typeEc)) files.push_back(it->path().string());
    }
    if (ec) throw Error("cannot list folder " + quoted(_dir) + ": " + ec.message());
    if (files.empty()) throw Error("folder " + quoted(_dir) + " holds no .obj file");
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return naturalLess(fs::path(a).filename().string(), fs::path(b).filename().string()) ||
               (!naturalLess(fs::path(b).filename().string(), fs::path(a).filename().string()) && a < b);
    });
    for (auto& f : files) addFrame(_out, std::move(f));
}

void expandPattern(const std::string& _pattern, std::vector<std::string>& _out) {
    int n = 0;
    if (!isRegularFile(formatFramePattern(_pattern, 0))) {
        n = 1;
        if (!isRegularFile(formatFramePattern(_pattern, 1)))
            throw Error("no frame matches " + quoted(_pattern) + " (neither " + quoted(formatFramePattern(_pattern, 0)) +
                        " nor " + quoted(formatFramePattern(_pattern, 1)) + " exists)");
    }
    for (; isRegularFile(formatFramePattern(_pattern, n)); ++n) addFrame(_out, formatFramePattern(_pattern, n));
}

}  // namespace

bool naturalLess(const std::string& _a, const std::string& _b) {
    size_t i = 0, j = 0;
    while (i < _a.size() && j < _b.size()) {
        if (isDigit(_a[i]) && isDigit(_b[j])) {
            size_t ie = i, je = j;
            while (ie < _a.size() && isDigit(_a[ie])) ++ie;
            while (je < _b.size() && isDigit(_b[je])) ++je;
            size_t is = i, js = j;  // numbers compare without their leading zeros
            while (is + 1 < ie && _a[is] == '0') ++is;
            while (js + 1 < je && _b[js] == '0') ++js;
            if (ie - is != je - js) return ie - is < je - js;
            const int c = _a.compare(is, ie - is, _b, js, je - js);
            if (c != 0) return c < 0;
            i = ie;
            j = je;
        } else {
            if (_a[i] != _b[j]) return static_cast<unsigned char>(_a[i]) < static_cast<unsigned char>(_b[j]);
            ++i;
            ++j;
        }
    }
    if ((_a.size() - i) != (_b.size() - j)) return _a.size() - i < _b.size() - j;
    return _a < _b;
}

bool isFramePattern(const std::string& _arg) {
    for (size_t i = 0; i < _arg.size(); ++i) {
        if (_arg[i] != '%') continue;
        if (i + 1 < _arg.size() && _arg[i + 1] == '%') {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

std::string formatFramePattern(const std::string& _pattern, int _n) {
    const PatternSpec spec = parsePattern(_pattern);
    std::string number = std::to_string(_n);
    if (static_cast<int>(number.size()) < spec.width)
        number.insert(0, static_cast<size_t>(spec.width) - number.size(), spec.zeroPad ? '0' : ' ');
    return unescapePercents(_pattern.substr(0, spec.begin)) + number + unescapePercents(_pattern.substr(spec.end));
}

std::vector<std::string> expandFrameArguments(const std::vector<std::string>& _args) {
    std::vector<std::string> out;
    for (const std::string& arg : _args) {
        std::error_code ec;
        if (isFramePattern(arg) && !fs::exists(arg, ec)) {
            expandPattern(arg, out);
        } else if (fs::is_directory(arg, ec)) {
            expandDirectory(arg, out);
        } else if (fs::exists(arg, ec)) {
            addFrame(out, arg);
        } else {
            throw Error("frame file " + quoted(arg) + " does not exist");
        }
    }
    if (out.empty()) throw Error("no frames given");
    return out;
}

namespace {

// Reads one frame file; unreadable files and files without vertices throw.
std::unique_ptr<GeometryT<double>> readFrame(const std::string& _path, FaceList& _faces, int* _polygonsSplit = nullptr,
                                             ObjTexture* _texture = nullptr) {
    {
        // readOBJ reports an unopenable file in its own words on standard
        // output; OrvEnc wants one clear error line with the reason.
        InputFile probe;
        if (!probe.open(_path)) throw Error("cannot read frame file " + quoted(_path) + ": " + std::strerror(errno));
    }
    _faces.clear();
    ObjReadReport report;
    std::unique_ptr<GeometryT<double>> frame =
        readOBJ(_path, _faces, ObjFaceOptions{.triangulate = true, .relativeIndices = true, .texture = _texture}, &report);
    if (_polygonsSplit) *_polygonsSplit = report.polygonsSplit;
    if (!frame || frame->V == 0) throw Error("frame file " + quoted(_path) + " has no vertices");
    const double* p = frame->frame(0);
    for (size_t i = 0; i < 3 * static_cast<size_t>(frame->V); ++i)
        if (!std::isfinite(p[i]))
            throw Error("frame file " + quoted(_path) + ": vertex " + std::to_string(i / 3 + 1) +
                        " has a non-finite coordinate");
    return frame;
}

// Texture coordinates go with the faces only when some face names them.
void keepTexture(ObjTexture& _texture, LoadedAnimation& _anim) {
    if (_texture.corners.empty()) return;
    _anim.texCoords = std::move(_texture.uv);
    _anim.texFaces = std::move(_texture.corners);
}

void checkSameFaces(const FaceList& _faces, const FaceList& _firstFaces, const std::string& _path,
                    const std::string& _first) {
    const size_t common = std::min(_faces.size(), _firstFaces.size());
    size_t i = 0;
    while (i < common && _faces[i] == _firstFaces[i]) ++i;
    if (_faces.size() != _firstFaces.size())
        throw Error("frame file " + quoted(_path) + " has " + std::to_string(_faces.size()) + " faces, the first frame " +
                    quoted(_first) + " has " + std::to_string(_firstFaces.size()) +
                    (i < common ? " (first difference at face " + std::to_string(i + 1) + ": " + faceText(_faces[i]) +
                                      " instead of " + faceText(_firstFaces[i]) + ")"
                                : ""));
    if (i < common)
        throw Error("frame file " + quoted(_path) + ": face " + std::to_string(i + 1) + " is " + faceText(_faces[i]) +
                    ", in the first frame " + quoted(_first) + " it is " + faceText(_firstFaces[i]) +
                    " (every frame must have the same faces)");
}

}  // namespace

namespace {

// The checks of one later frame in the words of a one-by-one load: throws what
// loading the frames in order would throw at _f.
void checkFrameAsInOrder(const std::vector<std::string>& _paths, int _f, const LoadedAnimation& _anim) {
    const std::string& path = _paths[static_cast<size_t>(_f)];
    FaceList faces;
    const std::unique_ptr<GeometryT<double>> frame = readFrame(path, faces);
    if (frame->V != _anim.positions.V)
        throw Error("frame file " + quoted(path) + " has " + std::to_string(frame->V) + " vertices, the first frame " +
                    quoted(_paths[0]) + " has " + std::to_string(_anim.positions.V));
    checkSameFaces(faces, _anim.faces, path, _paths[0]);
}

// Loads one later frame straight into its place when it matches the first
// frame in every way; false when it does not (or cannot be read), leaving the
// exact message to checkFrameAsInOrder.
bool loadMatchingFrame(const std::string& _path, const std::vector<int>& _firstTriangles, double* _out, size_t _n,
                       ObjFrameBuffers& _buffers, ObjFaceTail* _record) {
    if (!readOBJFrame(_path, ObjFaceOptions{.triangulate = true, .relativeIndices = true}, _buffers, _record))
        return false;
    if (_buffers.xyz.size() != _n || _buffers.triangles != _firstTriangles) return false;
    for (double x : _buffers.xyz)
        if (!std::isfinite(x)) return false;
    std::copy(_buffers.xyz.begin(), _buffers.xyz.end(), _out);
    return true;
}

}  // namespace

LoadedAnimation loadAnimation(const std::vector<std::string>& _paths, const LoadProgress& _progress, int _threads,
                              const std::function<void(const FaceList&, int)>& _firstFaces) {
    if (_paths.empty()) throw Error("no frames given");
    if (_paths.size() > static_cast<size_t>(stream_rules::kMaxFrames))
        throw Error("too many frames (" + std::to_string(_paths.size()) + "): a stream holds at most " +
                    std::to_string(stream_rules::kMaxFrames) + " frames");
    const int F = static_cast<int>(_paths.size());
    const std::string& first = _paths[0];

    FaceList firstFaces;
    int polygonsSplit = 0;
    ObjTexture texture;
    std::unique_ptr<GeometryT<double>> frame = readFrame(first, firstFaces, &polygonsSplit, &texture);
    if (firstFaces.empty())
        throw Error("first frame " + quoted(first) + " has no faces (the connectivity is taken from it)");
    for (size_t i = 0; i < firstFaces.size(); ++i)
        for (int id : firstFaces[i])
            if (id < 0 || id >= frame->V)
                throw Error("first frame " + quoted(first) + ": face " + std::to_string(i + 1) + " (" +
                            faceText(firstFaces[i]) + ") names a vertex outside 1.." + std::to_string(frame->V));

    LoadedAnimation anim{GeometryT<double>(frame->V, F), std::move(firstFaces)};
    anim.polygonsSplit = polygonsSplit;
    keepTexture(texture, anim);
    const size_t n = 3 * static_cast<size_t>(frame->V);
    std::copy(frame->frame(0), frame->frame(0) + n, anim.positions.frame(0));
    if (_progress) _progress(1, F);
    if (_firstFaces) _firstFaces(anim.faces, anim.positions.V);

    frame.reset();

    // Later frames are taken by the threads in turn, each parsed in its
    // thread's own buffers and copied to its place, so at most one frame's
    // text per thread is held. The first frame that fails, in frame order,
    // is checked again alone, so the error is the one an in-order load gives
    // whatever the thread count. Only this thread reports progress.
    std::vector<int> firstTriangles;
    firstTriangles.reserve(3 * anim.faces.size());
    for (const Face& face : anim.faces) firstTriangles.insert(firstTriangles.end(), face.begin(), face.end());
    std::atomic<int> next{1}, loaded{1}, firstFailed{F};
    std::mutex failureMutex;
    std::exception_ptr failure;  // what the thread failing at firstFailed threw, if it threw
    int reported = 1;
    auto work = [&](bool _reports) {
        ObjFrameBuffers buffers;
        // The face lines of this thread's first frame, once it matched:
        // later frames that repeat them byte for byte skip parsing them.
        ObjFaceTail tail;
        for (;;) {
            const int f = next.fetch_add(1);
            if (f >= F || f > firstFailed.load()) return;
            bool ok = false;
            std::exception_ptr thrown;
            try {
                ok = loadMatchingFrame(_paths[static_cast<size_t>(f)], firstTriangles, anim.positions.frame(f), n,
                                       buffers, buffers.knownTail ? nullptr : &tail);
                if (ok && !buffers.knownTail && tail.usable) buffers.knownTail = &tail;
            } catch (...) {
                thrown = std::current_exception();
            }
            if (!ok) {
                const std::lock_guard<std::mutex> lock(failureMutex);
                if (f < firstFailed.load()) {
                    firstFailed = f;
                    failure = thrown;
                }
                return;
            }
            const int done = loaded.fetch_add(1) + 1;
            if (_reports && _progress) _progress(reported = done, F);
        }
    };
    const int helpers = std::clamp(_threads, 1, F) - 1;
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(helpers));
    for (int t = 0; t < helpers; ++t) threads.emplace_back(work, false);
    work(true);
    for (std::thread& t : threads) t.join();
    if (firstFailed < F) {
        checkFrameAsInOrder(_paths, firstFailed, anim);
        if (failure) std::rethrow_exception(failure);
        throw Error("frame file " + quoted(_paths[static_cast<size_t>(firstFailed.load())]) +
                    " changed while it was read");
    }
    if (_progress && reported < F) _progress(F, F);
    return anim;
}

bool isPointCacheInput(const std::vector<std::string>& _args) {
    if (_args.size() != 1) return false;
    std::string ext = fs::path(_args[0]).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".pc2" || ext == ".mdd";
}

LoadedAnimation loadPointCacheAnimation(const std::string& _cachePath, const std::string& _meshPath,
                                        const LoadProgress& _progress) {
    std::string ext = fs::path(_cachePath).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    PointCache cache = ext == ".pc2" ? readPc2(_cachePath) : readMdd(_cachePath);
    if (cache.header.frameCount > stream_rules::kMaxFrames)
        throw Error(_cachePath + ": " + std::to_string(cache.header.frameCount) + " frames; a stream holds at most " +
                    std::to_string(stream_rules::kMaxFrames));

    FaceList faces;
    int polygonsSplit = 0;
    int meshV = 0;
    ObjTexture texture;
    if (isPackageFile(_meshPath)) {
        Package p = readPackageFile(_meshPath);
        faces = toFaceList(p.connectivity.indices);
        meshV = p.connectivity.vertexCount;
        texture.uv = std::move(p.texCoords);
        texture.corners = std::move(p.texFaces);
    } else {
        {
            std::ifstream probe(_meshPath);
            if (!probe) throw Error("cannot read mesh file " + quoted(_meshPath) + ": " + std::strerror(errno));
        }
        ObjReadReport report;
        const std::unique_ptr<GeometryT<double>> mesh = readOBJ(
            _meshPath, faces, ObjFaceOptions{.triangulate = true, .relativeIndices = true, .texture = &texture}, &report);
        polygonsSplit = report.polygonsSplit;
        // A faces-only file (such as OrvEnc's own connectivity) takes the cache's count.
        meshV = mesh ? mesh->V : cache.header.pointCount;
    }
    if (faces.empty()) throw Error("mesh file " + quoted(_meshPath) + " has no faces");
    if (meshV != cache.header.pointCount)
        throw Error(_cachePath + " has " + std::to_string(cache.header.pointCount) + " points, the mesh " +
                    quoted(_meshPath) + " has " + std::to_string(meshV) + " vertices");
    for (size_t i = 0; i < faces.size(); ++i)
        for (int id : faces[i])
            if (id < 0 || id >= meshV)
                throw Error("mesh file " + quoted(_meshPath) + ": face " + std::to_string(i + 1) + " (" +
                            faceText(faces[i]) + ") names a vertex outside 1.." + std::to_string(meshV));

    const int F = cache.header.frameCount;
    LoadedAnimation anim{GeometryT<double>(meshV, F), std::move(faces)};
    anim.polygonsSplit = polygonsSplit;
    keepTexture(texture, anim);
    anim.frameRate = cache.header.frameRate;
    anim.startTime = cache.header.startTime;
    for (int f = 0; f < F; ++f) {
        std::vector<double>& src = cache.frames[static_cast<size_t>(f)];
        std::copy(src.begin(), src.end(), anim.positions.frame(f));
        std::vector<double>().swap(src);
        if (_progress) _progress(f + 1, F);
    }
    return anim;
}

}  // namespace orv
