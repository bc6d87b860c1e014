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
#include <vector>

#include "Common/Check.h"

#ifndef ORV_VERSION
#define ORV_VERSION "unknown"
#endif

namespace orv {

namespace {

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool readWholeFile(const std::string& _path, std::string& _text) {
    std::FILE* file = std::fopen(_path.c_str(), "rb");
    if (!file) return false;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        if (size > 0) _text.reserve(static_cast<size_t>(size));
        std::fseek(file, 0, SEEK_SET);
    }
    char chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) _text.append(chunk, n);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    if (!ok) throw Error("Reading file " + _path + " failed!");
    return true;
}

// Whole-token grammar of stream extraction of a double in the "C" locale:
// [+-]? (digits [. digits*] | . digits) ([eE] [+-]? digits)?
bool isDecimalNumber(const char* s, const char* e) {
    if (s < e && (*s == '+' || *s == '-')) ++s;
    const char* mantissa = s;
    bool digits = false;
    while (s < e && isDigit(*s)) ++s, digits = true;
    if (s < e && *s == '.') {
        ++s;
        while (s < e && isDigit(*s)) ++s, digits = true;
    }
    if (!digits || s == mantissa) return false;
    if (s < e && (*s == 'e' || *s == 'E')) {
        ++s;
        if (s < e && (*s == '+' || *s == '-')) ++s;
        if (s == e || !isDigit(*s)) return false;
        while (s < e && isDigit(*s)) ++s;
    }
    return s == e;
}

class ObjParser {
public:
    ObjParser(const std::string& _path, const std::string& _text, FaceList& _faces)
        : path_(_path), begin_(_text.data()), p_(_text.data()), end_(_text.data() + _text.size()), faces_(_faces) {}

    std::vector<double> parse() {
        for (;;) {
            while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
            if (p_ == end_) break;
            // The first word ends at any white space (a lone "#" must not
            // swallow the next line) and at 15 characters.
            line_ = p_;
            while (p_ < end_ && !isWhite(*p_) && p_ - line_ < 15) ++p_;
            if (p_ - line_ == 1 && *line_ == 'v')
                parseVertex();
            else if (p_ - line_ == 1 && *line_ == 'f')
                parseFace();
            skipRestOfLine();
        }
        return std::move(xyz_);
    }

private:
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

    double number(const char* s, const char* e) const {
        if (!isDecimalNumber(s, e)) fail("cannot read the vertex coordinate " + quoted(s, e));
        const char* digits = *s == '+' ? s + 1 : s;
        double value = 0.0;
        const auto r = std::from_chars(digits, e, value);
        if (r.ec == std::errc() && r.ptr == e) return value;
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
            const char* e = tokenEnd();
            xyz_.push_back(number(p_, e));
            p_ = e;
        }
    }

    void parseFace() {
        Face face;
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
            if (index < 1) fail("the face index " + std::to_string(index) + " is below 1");
            face.push_back(index - 1);
            p_ = e;
        }
        if (face.size() != 3)
            fail("a face line has " + std::to_string(face.size()) + " indices; faces must be triangles");
        faces_.push_back(std::move(face));
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
    FaceList& faces_;
    std::vector<double> xyz_;
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
    std::string text;
    if (!readWholeFile(_path, text)) {
        std::printf("Error: Opening file %s failed!\n", _path.c_str());
        return nullptr;
    }
    const std::vector<double> xyz = ObjParser(_path, text, _faces).parse();
    if (xyz.empty()) return nullptr;
    const size_t V = xyz.size() / 3;
    if (V > (size_t{1} << 29)) throw Error(_path + ": more than 536870912 vertices");
    auto geometry = std::make_unique<GeometryT<double>>(static_cast<int>(V), 1);
    for (size_t v = 0; v < V; ++v)
        geometry->setPosition(static_cast<int>(v), 0, {xyz[3 * v], xyz[3 * v + 1], xyz[3 * v + 2]});
    return geometry;
}

void checkFaceIndices(const FaceList& _faces, int _V, const std::string& _path) {
    for (size_t k = 0; k < _faces.size(); ++k)
        for (int index : _faces[k])
            if (index < 0 || index >= _V)
                throw Error(_path + ": face " + std::to_string(k + 1) + " names vertex " + std::to_string(index + 1) +
                            ", but the stream has " + std::to_string(_V) + " vertices");
}

void appendCoordinate(std::string& _out, double _value) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, _value, std::chars_format::general, 6);
    _out.append(text, r.ptr);
}

std::string objFrameText(const GeometryT<double>& _geometry, int _f, const FaceList& _faces) {
    const int V = _geometry.V;
    std::string out;
    out.reserve(static_cast<size_t>(V) * 36 + _faces.size() * 24 + 128);
    out += "# OBJ data file\n# Reconstructed by orv " ORV_VERSION " on ";
    out += localDateLine();
    out += "# ";
    appendInt(out, V);
    out += " vertices, ";
    appendInt(out, static_cast<long long>(_faces.size()));
    out += " faces\n";
    const double* xyz = V > 0 ? _geometry.frame(_f) : nullptr;
    for (int v = 0; v < V; ++v, xyz += 3) {
        out += "v ";
        appendCoordinate(out, xyz[0]);
        out += ' ';
        appendCoordinate(out, xyz[1]);
        out += ' ';
        appendCoordinate(out, xyz[2]);
        out += '\n';
    }
    for (const Face& face : _faces) {
        out += 'f';
        for (int index : face) {
            out += ' ';
            appendInt(out, static_cast<long long>(index) + 1);
        }
        out += '\n';
    }
    return out;
}

bool writeOBJ(const GeometryT<double>& _geometry, const std::string& _name, int _f, const FaceList& _faces) {
    const std::string text = objFrameText(_geometry, _f, _faces);
    std::FILE* file = std::fopen(_name.c_str(), "w");
    if (!file) {
        std::printf("Error: Creating file %s (frame %d) failed!\n", _name.c_str(), _f);
        return false;
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return true;
}

bool writeOBJFrames(const FaceList& _faces, const std::string& _prefix, const GeometryT<double>& _geometry) {
    const int F = _geometry.F;
    const size_t width = std::to_string(F - 1).size();
    for (int f = 0; f < F; ++f) {
        std::string number = std::to_string(f);
        if (number.size() < width) number.insert(0, width - number.size(), '0');
        const std::string name = _prefix + number + ".obj";
        std::printf("%s\r", name.c_str());
        std::fflush(stdout);
        if (!writeOBJ(_geometry, name, f, _faces)) return false;
    }
    std::printf("COMPLETED!%79s\n", "");
    std::fflush(stdout);
    return true;
}

}  // namespace orv
