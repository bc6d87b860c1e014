// OBJ reading and writing. The reader takes the whole file into memory and
// parses it in place: the decoder reads connectivities of hundreds of
// thousands of faces, and iostream extraction costs several times more than
// the file read. Numbers accept what stream extraction of a double or int
// accepts for ordinary OBJ text; anything else is an error naming the line.
// The writer builds each frame's text in memory with std::to_chars, which
// gives the same text as the stream's default formatting (%g, 6 digits).
#include "Decoder/MeshIO.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <vector>

#include "Common/AtomicFile.h"
#include "Common/Check.h"
#include "Common/InputFile.h"
#include "Common/Portable.h"
#include "Common/StreamRules.h"
#include "Decoder/ObjTexture.h"

#ifndef ORV_VERSION
#define ORV_VERSION "unknown"
#endif

namespace orv {

namespace {

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The faces go either into a FaceList or, for frames whose faces are only
// compared, into a flat list of triangles that allocates nothing per face.
template <class Emit>
void forEachTriangle(const Face& _polygon, Emit&& _emit) {
    const size_t n = _polygon.size();
    const size_t start = triangulationStart(_polygon);
    for (size_t k = 1; k + 1 < n; ++k) _emit(_polygon[start], _polygon[(start + k) % n], _polygon[(start + k + 1) % n]);
}

bool readWholeFile(const std::string& _path, std::string& _text) {
    InputFile file;
    if (!file.open(_path)) return false;
    file.readAll(_text);
    return true;
}

// The grammar of stream extraction of a double in the "C" locale,
// [+-]? (digits [. digits*] | . digits) ([eE] [+-]? digits)?, matched from s;
// returns the end of the match, or nullptr when there is none.
const char* decimalNumberEnd(const char* s, const char* e) {
    if (s < e && (*s == '+' || *s == '-')) ++s;
    const char* mantissa = s;
    bool digits = false;
    while (s < e && isDigit(*s)) ++s, digits = true;
    if (s < e && *s == '.') {
        ++s;
        while (s < e && isDigit(*s)) ++s, digits = true;
    }
    if (!digits || s == mantissa) return nullptr;
    if (s < e && (*s == 'e' || *s == 'E')) {
        ++s;
        if (s < e && (*s == '+' || *s == '-')) ++s;
        if (s == e || !isDigit(*s)) return nullptr;
        while (s < e && isDigit(*s)) ++s;
    }
    return s;
}

class ObjParser {
public:
    ObjParser(const std::string& _path, const std::string& _text, FaceList* _faces, std::vector<int>* _triangles,
              std::vector<double>& _xyz, const ObjFaceOptions& _options)
        : path_(_path), begin_(_text.data()), p_(_text.data()), end_(_text.data() + _text.size()), faces_(_faces),
          triangles_(_triangles), options_(_options), xyz_(_xyz) {
        if (_options.texture) texture_.emplace(*_options.texture);
    }

    int polygonsSplit() const { return polygonsSplit_; }

    // Frames of a sequence (triangle lists without texture): _known lets the
    // parser stop at the first face line when the rest is _known's tail;
    // _record keeps this text's tail.
    void useFaceTails(const ObjFaceTail* _known, ObjFaceTail* _record) {
        if (texture_ || !triangles_) return;
        known_ = _known && _known->usable ? _known : nullptr;
        record_ = _record;
    }

    void parse() {
        // A UTF-8 byte-order mark (some editors write one) is not part of the first line.
        if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
        for (;;) {
            while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
            if (p_ == end_) break;
            // The first word ends at any white space (a lone "#" must not
            // swallow the next line) and at 15 characters.
            line_ = p_;
            while (p_ < end_ && !isWhite(*p_) && p_ - line_ < 15) ++p_;
            if (p_ - line_ == 1 && *line_ == 'v')
                parseVertex();
            else if (p_ - line_ == 1 && *line_ == 'f') {
                if (!tailStart_ && startTail()) return;
                parseFace();
            }
            else if (texture_ && p_ - line_ == 2 && line_[0] == 'v' && line_[1] == 't')
                parseTextureVertex();
            // A comment ends at its line feed, however long it is.
            if (*line_ == '#') skipWholeLine();
            skipRestOfLine();
        }
        if (texture_) textureCheck(texture_->finish(line_));
        if (record_) {
            record_->usable = tailStart_ && xyz_.size() == 3 * record_->verticesBefore;
            record_->text.assign(tailStart_ ? tailStart_ : end_, end_);
            record_->triangles = *triangles_;
            record_->polygonsSplit = polygonsSplit_;
        }
    }

private:
    // At the first face line: true when the rest of the text is the known
    // tail after as many vertices, its triangles then taken as they are.
    bool startTail() {
        tailStart_ = line_;
        if (record_) record_->verticesBefore = xyz_.size() / 3;
        if (!known_ || xyz_.size() != 3 * known_->verticesBefore) return false;
        const size_t rest = static_cast<size_t>(end_ - line_);
        if (rest != known_->text.size() || std::memcmp(line_, known_->text.data(), rest) != 0) return false;
        *triangles_ = known_->triangles;
        polygonsSplit_ = known_->polygonsSplit;
        if (record_) {
            record_->usable = true;
            record_->text = known_->text;
            record_->triangles = known_->triangles;
            record_->polygonsSplit = known_->polygonsSplit;
        }
        return true;
    }

    [[noreturn]] void fail(const std::string& _problem) const {
        const auto line = std::count(begin_, line_, '\n') + 1;
        throw Error(path_ + ", line " + std::to_string(line) + ": " + _problem);
    }

    static std::string quoted(const char* s, const char* e) {
        constexpr long kShown = 40;
        std::string t(s, static_cast<size_t>(std::min<long>(e - s, kShown)));
        return "\"" + t + (e - s > kShown ? "...\"" : "\"");
    }

    void skipInLineBlanks() {
        while (p_ < end_ && *p_ != '\n' && isWhite(*p_)) ++p_;
    }

    const char* tokenEnd() const {
        const char* e = p_;
        while (e < end_ && !isWhite(*e)) ++e;
        return e;
    }

    // A coordinate is one whole white-space-delimited token.
    double number() {
        const char* s = p_;
#if defined(__cpp_lib_to_chars)
        // The common case in one scan: a token that starts like a decimal
        // number and that from_chars reads to its end is one of the grammar
        // below (which from_chars shares, but for infinities and NaNs, which
        // do not start with a digit), in range. Everything else, errors
        // included, takes the checked path.
        if (isDigit(*s) || (*s == '-' && s + 1 < end_ && isDigit(s[1]))) {
            // A window, not the rest of the text: the conversion may look at
            // all it is given. A number it cuts is followed by no blank there.
            const char* window = end_ - s > 48 ? s + 48 : end_;
            double value;
            const auto r = std::from_chars(s, window, value);
            if (r.ec == std::errc() && (r.ptr == end_ || isWhite(*r.ptr))) {
                p_ = r.ptr;
                return value;
            }
        }
#endif
        const char* e = decimalNumberEnd(s, end_);
        if (!e || (e < end_ && !isWhite(*e))) fail("cannot read the vertex coordinate " + quoted(s, tokenEnd()));
        p_ = e;
        const char* digits = *s == '+' ? s + 1 : s;
        double value = 0.0;
        if (parseDouble(digits, e, value)) return value;
        // Out of range: stream extraction fails on overflow and keeps the
        // (subnormal or zero) result on underflow; strtod tells which.
        const std::string copy(digits, e);
        value = std::strtod(copy.c_str(), nullptr);
        if (std::isinf(value)) fail("the vertex coordinate " + quoted(s, e) + " is out of range");
        return value;
    }

    void parseVertex() {
        for (int i = 0; i < 3; ++i) {
            skipInLineBlanks();
            if (p_ == end_ || *p_ == '\n') fail("a vertex line needs three coordinates");
            xyz_.push_back(number());
        }
    }

    void parseFace() {
        Face& face = face_;
        face.clear();
        for (;;) {
            skipInLineBlanks();
            if (p_ == end_ || *p_ == '\n') break;
            const char* e = tokenEnd();
            // Texture and normal indices after the first "/" are ignored.
            const char* slash = std::find(p_, e, '/');
            const char* s = p_;
            if (s < slash && *s == '+') ++s;
            if (s == slash || !(isDigit(*s) || (*s == '-' && s + 1 < slash && isDigit(s[1]))))
                fail("the face index " + quoted(p_, e) + " has no number");
            int index = 0;
            const auto r = std::from_chars(s, slash, index);
            if (r.ec != std::errc()) fail("the face index " + quoted(p_, e) + " is out of range");
            if (index < 0 && options_.relativeIndices) {
                const int64_t read = static_cast<int64_t>(xyz_.size() / 3);
                if (-static_cast<int64_t>(index) > read)
                    fail("the face index " + std::to_string(index) + " reaches before the first vertex (" +
                         std::to_string(read) + " read so far)");
                index = static_cast<int>(read + index + 1);
            }
            if (index < 1) fail("the face index " + std::to_string(index) + " is below 1");
            face.push_back(index - 1);
            if (texture_) textureCheck(texture_->corner(slash, e, line_));
            p_ = e;
        }
        if (face.size() > 3 && options_.triangulate) {
            ++polygonsSplit_;
            if (texture_) textureCheck(texture_->endFace(face));
            forEachTriangle(face, [&](int a, int b, int c) { emit(a, b, c); });
            return;
        }
        if (face.size() != 3)
            fail("a face line has " + std::to_string(face.size()) + " indices; faces must be triangles");
        if (texture_) textureCheck(texture_->endFace(face));
        emit(face[0], face[1], face[2]);
    }

    void emit(int a, int b, int c) {
        if (faces_)
            faces_->push_back({a, b, c});
        else
            triangles_->insert(triangles_->end(), {a, b, c});
    }

    void parseTextureVertex() {
        const void* lf = std::memchr(p_, '\n', static_cast<size_t>(end_ - p_));
        const char* e = lf ? static_cast<const char*>(lf) : end_;
        textureCheck(texture_->coordinates(p_, e));
        p_ = e;
    }

    void textureCheck(const std::string& _problem) const {
        if (!_problem.empty()) fail(_problem);
    }

    void skipWholeLine() {
        const void* lf = std::memchr(p_, '\n', static_cast<size_t>(end_ - p_));
        p_ = lf ? static_cast<const char*>(lf) : end_;
    }

    // The rest of the line: up to 1024 characters, up to and including the
    // line feed; a longer remainder is read as a line of its own.
    void skipRestOfLine() {
        const char* limit = p_ + std::min<long>(1024, end_ - p_);
        const void* lf = std::memchr(p_, '\n', static_cast<size_t>(limit - p_));
        p_ = lf ? static_cast<const char*>(lf) + 1 : limit;
    }

    const std::string& path_;
    const char* begin_;
    const char* p_;
    const char* end_;
    const char* line_ = nullptr;
    FaceList* faces_;
    std::vector<int>* triangles_;
    const ObjFaceOptions& options_;
    std::vector<double>& xyz_;
    Face face_;
    int polygonsSplit_ = 0;
    std::optional<ObjTextureReader> texture_;
    const ObjFaceTail* known_ = nullptr;
    ObjFaceTail* record_ = nullptr;
    const char* tailStart_ = nullptr;  // the first face line, once reached
};

void appendInt(std::string& _out, long long _value) {
    char text[24];
    const auto r = std::to_chars(text, text + sizeof text, _value);
    _out.append(text, r.ptr);
}

// "Mon Dec  7 21:14:18 2026\n", the fixed ctime form.
std::string localDateLine() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    const size_t n = std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &local);
    return std::string(text, n);
}

}  // namespace

std::unique_ptr<GeometryT<double>> readOBJ(const std::string& _path, FaceList& _faces) {
    return readOBJ(_path, _faces, ObjFaceOptions{});
}

size_t triangulationStart(const Face& _polygon) {
    const size_t n = _polygon.size();
    auto fanIsClean = [&](size_t _start) {
        const int a = _polygon[_start];
        for (size_t k = 1; k + 1 < n; ++k) {
            const int b = _polygon[(_start + k) % n], c = _polygon[(_start + k + 1) % n];
            if (a == b || b == c || a == c) return false;
        }
        return true;
    };
    size_t start = 0;
    while (start < n && !fanIsClean(start)) ++start;
    return start == n ? 0 : start;  // no clean fan exists: keep the first one
}

void appendTriangulated(const Face& _polygon, FaceList& _out) {
    forEachTriangle(_polygon, [&](int a, int b, int c) { _out.push_back({a, b, c}); });
}

std::unique_ptr<GeometryT<double>> readOBJ(const std::string& _path, FaceList& _faces, const ObjFaceOptions& _options,
                                           ObjReadReport* _report) {
    std::string text;
    if (!readWholeFile(_path, text)) {
        std::printf("Error: Opening file %s failed!\n", _path.c_str());
        return nullptr;
    }
    return parseOBJ(_path, text, _faces, _options, _report);
}

std::unique_ptr<GeometryT<double>> parseOBJ(const std::string& _path, const std::string& _text, FaceList& _faces,
                                            const ObjFaceOptions& _options, ObjReadReport* _report) {
    std::vector<double> xyz;
    ObjParser parser(_path, _text, &_faces, nullptr, xyz, _options);
    parser.parse();
    if (_report) _report->polygonsSplit = parser.polygonsSplit();
    if (xyz.empty()) return nullptr;
    const size_t V = xyz.size() / 3;
    if (V > stream_rules::kMaxVertices)
        throw Error(_path + ": more than " + std::to_string(stream_rules::kMaxVertices) + " vertices");
    auto geometry = std::make_unique<GeometryT<double>>(static_cast<int>(V), 1);
    for (size_t v = 0; v < V; ++v)
        geometry->setPosition(static_cast<int>(v), 0, {xyz[3 * v], xyz[3 * v + 1], xyz[3 * v + 2]});
    return geometry;
}

bool readOBJFrame(const std::string& _path, const ObjFaceOptions& _options, ObjFrameBuffers& _buffers,
                  ObjFaceTail* _record) {
    if (!readWholeFile(_path, _buffers.text)) return false;
    parseOBJFrame(_path, _options, _buffers, _record);
    return true;
}

void parseOBJFrame(const std::string& _path, const ObjFaceOptions& _options, ObjFrameBuffers& _buffers,
                   ObjFaceTail* _record) {
    _buffers.xyz.clear();
    _buffers.triangles.clear();
    ObjParser parser(_path, _buffers.text, nullptr, &_buffers.triangles, _buffers.xyz, _options);
    parser.useFaceTails(_buffers.knownTail, _record);
    parser.parse();
    _buffers.polygonsSplit = parser.polygonsSplit();
}

void checkFaceIndices(const FaceList& _faces, int _V, const std::string& _path) {
    for (size_t k = 0; k < _faces.size(); ++k)
        for (int index : _faces[k])
            if (index < 0 || index >= _V)
                throw Error(_path + ": face " + std::to_string(k + 1) + " names vertex " + std::to_string(index + 1) +
                            ", but the stream has " + std::to_string(_V) + " vertices");
}

namespace {

constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                               1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The six significant digits of "%.6g" by one exact scaling: |x| times (or
// divided by) an exactly representable power of ten is rounded once, so its
// error stays below 2^-33 while it lies in [1e5, 1e6). The rounding to an
// integer is then certain unless the fraction is within 1e-7 of one half;
// such near-ties, and values outside 1e-16..1e22 (zero, subnormals, inf,
// nan), are left to the exact conversion. Returns false for those.
bool sixDigits(double _magnitude, int& _digits, int& _exponent) {
    if (!(_magnitude >= 1e-16 && _magnitude < 1e22)) return false;
    // floor(log10) from the binary exponent, possibly one too small.
    const int binaryExponent = static_cast<int>(bitCast<uint64_t>(_magnitude) >> 52) - 1023;
    int exponent = binaryExponent * 78913 >> 18;
    // Outside the table the result is NaN, which the fraction test refuses.
    auto scaled = [&](int _e) {
        const int k = 5 - _e;
        if (k > 22 || k < -22) return std::numeric_limits<double>::quiet_NaN();
        return k >= 0 ? _magnitude * kPow10[k] : _magnitude / kPow10[-k];
    };
    double y = scaled(exponent);
    if (y >= 1e6) y = scaled(++exponent);
    if (!(y >= 1e5 && y <= 1e6)) return false;
    const double whole = static_cast<double>(static_cast<int64_t>(y));
    const double fraction = y - whole;
    if (!(std::fabs(fraction - 0.5) >= 1e-7)) return false;
    int digits = static_cast<int>(whole) + (fraction > 0.5 ? 1 : 0);
    if (digits >= 1000000) {
        digits /= 10;
        ++exponent;
    }
    _digits = digits;
    _exponent = exponent;
    return true;
}

}  // namespace

// The stream's default formatting is "%.6g": six significant digits, fixed
// notation for decimal exponents -4..5, exponent notation (at least two
// exponent digits) otherwise, no trailing zeros. Writes at most
// kMaxCoordinateChars characters.
constexpr size_t kMaxCoordinateChars = 16;

static char* writeCoordinate(char* o, double _value) {
    int value = 0, exponent = 0;
    if (!sixDigits(std::fabs(_value), value, exponent))
        return formatGeneral6(o, o + kMaxCoordinateChars, _value);
    char digits[6];
    for (int i = 5; i >= 0; --i, value /= 10) digits[i] = static_cast<char>('0' + value % 10);
    int n = 6;
    while (n > 1 && digits[n - 1] == '0') --n;

    if (std::signbit(_value)) *o++ = '-';
    if (exponent < -4 || exponent >= 6) {
        *o++ = digits[0];
        if (n > 1) {
            *o++ = '.';
            for (int i = 1; i < n; ++i) *o++ = digits[i];
        }
        *o++ = 'e';
        *o++ = exponent < 0 ? '-' : '+';
        const int e = exponent < 0 ? -exponent : exponent;
        if (e < 10) *o++ = '0';
        if (e >= 100) *o++ = static_cast<char>('0' + e / 100);
        if (e >= 10) *o++ = static_cast<char>('0' + e / 10 % 10);
        *o++ = static_cast<char>('0' + e % 10);
    } else if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i) *o++ = i < n ? digits[i] : '0';
        if (n > exponent + 1) {
            *o++ = '.';
            for (int i = exponent + 1; i < n; ++i) *o++ = digits[i];
        }
    } else {
        *o++ = '0';
        *o++ = '.';
        for (int i = -1; i > exponent; --i) *o++ = '0';
        for (int i = 0; i < n; ++i) *o++ = digits[i];
    }
    return o;
}

void appendCoordinate(std::string& _out, double _value) {
    char text[kMaxCoordinateChars];
    _out.append(text, writeCoordinate(text, _value));
}

std::string objFrameText(const GeometryT<double>& _geometry, int _f, const FaceList& _faces) {
    const int V = _geometry.V;
    std::string head = "# OBJ data file\n# Reconstructed by orv " ORV_VERSION " on ";
    head += localDateLine();
    head += "# ";
    appendInt(head, V);
    head += " vertices, ";
    appendInt(head, static_cast<long long>(_faces.size()));
    head += " faces\n";

    // The text goes into one buffer sized for the longest possible lines.
    size_t bound = head.size() + static_cast<size_t>(V) * (2 + 3 * (kMaxCoordinateChars + 1));
    for (const Face& face : _faces) bound += 2 + face.size() * 21;
    std::string out(bound, '\0');
    char* o = std::copy(head.begin(), head.end(), out.data());
    const double* xyz = V > 0 ? _geometry.frame(_f) : nullptr;
    for (int v = 0; v < V; ++v, xyz += 3) {
        *o++ = 'v';
        *o++ = ' ';
        o = writeCoordinate(o, xyz[0]);
        *o++ = ' ';
        o = writeCoordinate(o, xyz[1]);
        *o++ = ' ';
        o = writeCoordinate(o, xyz[2]);
        *o++ = '\n';
    }
    for (const Face& face : _faces) {
        *o++ = 'f';
        for (int index : face) {
            *o++ = ' ';
            o = std::to_chars(o, o + 20, static_cast<long long>(index) + 1).ptr;
        }
        *o++ = '\n';
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

bool writeOBJ(const GeometryT<double>& _geometry, const std::string& _name, int _f, const FaceList& _faces) {
    try {
        writeFileAtomically(_name, objFrameText(_geometry, _f, _faces));
    } catch (const Error& e) {
        std::printf("Error: %s\n", e.what());
        return false;
    }
    return true;
}

// Every frame is written to its temporary file first; none is renamed into
// place before all were written and closed without error. A failure (or an
// interrupt) therefore leaves the earlier run's files as they were: the
// temporaries are removed, nothing under a final name was touched.
bool writeOBJFrames(const FaceList& _faces, const std::string& _prefix, const GeometryT<double>& _geometry) {
    const int F = _geometry.F;
    const size_t width = std::to_string(F - 1).size();
    std::vector<AtomicFile> files;
    files.reserve(static_cast<size_t>(F));
    for (int f = 0; f < F; ++f) {
        std::string number = std::to_string(f);
        if (number.size() < width) number.insert(0, width - number.size(), '0');
        const std::string name = _prefix + number + ".obj";
        std::printf("%s\r", name.c_str());
        std::fflush(stdout);
        try {
            files.emplace_back(name);
        } catch (const Error&) {
            std::printf("Error: Creating file %s (frame %d) failed!\n", name.c_str(), f);
            return false;
        }
        try {
            files.back().write(objFrameText(_geometry, f, _faces));
            files.back().close();
        } catch (const Error& e) {
            std::printf("Error: %s\n", e.what());
            return false;
        }
    }
    for (AtomicFile& file : files) {
        try {
            file.commit();
        } catch (const Error& e) {
            std::printf("Error: %s\n", e.what());
            return false;
        }
    }
    std::printf("COMPLETED!%79s\n", "");
    std::fflush(stdout);
    return true;
}

}  // namespace orv
