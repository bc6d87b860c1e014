// Reads a package file. Sections may come in any order; META, CONN and STRM
// are required once each, TEXC at most once, and sections with other tags are
// skipped so that later minor versions can add some. Every length is checked
// against the bytes that remain before it is used.
#include <cmath>
#include <fstream>
#include <iterator>

#include "Common/Check.h"
#include "Connectivity/VarInt.h"
#include "Package/Package.h"
#include "Package/PackageLayout.h"

namespace orv {

namespace {

class Fields {
public:
    Fields(const uint8_t* _data, size_t _size, const std::string& _what) : data_(_data), size_(_size), what_(_what) {}
    uint64_t varUInt() {
        uint64_t v = 0;
        if (!readVarUInt(data_, size_, pos_, v)) fail();
        return v;
    }
    double real() {
        if (size_ - pos_ < 8) fail();
        const double d = readDouble(data_ + pos_);
        pos_ += 8;
        return d;
    }
    std::string text() {
        const uint64_t n = varUInt();
        if (n > size_ - pos_) fail();
        std::string s(reinterpret_cast<const char*>(data_ + pos_), static_cast<size_t>(n));
        pos_ += static_cast<size_t>(n);
        return s;
    }
    size_t left() const { return size_ - pos_; }
    const uint8_t* here() const { return data_ + pos_; }
    [[noreturn]] void fail() const { throw Error("the " + what_ + " section is truncated"); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    std::string what_;
};

void parseMeta(const uint8_t* _d, size_t _n, Package& _p) {
    Fields f(_d, _n, "metadata");
    _p.frameRate = f.real();
    _p.startTime = f.real();
    if (!(_p.frameRate > 0.0) || !std::isfinite(_p.frameRate)) throw Error("the frame rate is not a positive number");
    if (!std::isfinite(_p.startTime)) throw Error("the start time is not a finite number");
    const uint64_t v = f.varUInt();
    if (v > static_cast<uint64_t>(kMaxCodedVertices)) throw Error("the source vertex count is too large");
    _p.sourceVertexCount = static_cast<int32_t>(v);
    _p.name = f.text();
    const uint64_t names = f.varUInt();
    if (names > f.left()) throw Error("the frame name count is larger than the metadata holds");
    for (uint64_t i = 0; i < names; ++i) _p.frameNames.push_back(f.text());
}

void parseTexCoords(const uint8_t* _d, size_t _n, Package& _p) {
    Fields f(_d, _n, "texture coordinate");
    const uint64_t n = f.varUInt();
    if (n > f.left() / 16) throw Error("the texture coordinate count is larger than the section holds");
    _p.texCoords.reserve(static_cast<size_t>(2 * n));
    for (uint64_t i = 0; i < 2 * n; ++i) {
        _p.texCoords.push_back(f.real());
        if (!std::isfinite(_p.texCoords.back())) throw Error("a texture coordinate is not a finite number");
    }
    // The texture faces are a triangle list over the T coordinates, so the
    // codec's own checks keep every id in range.
    Connectivity faces = decodeConnectivity(f.here(), f.left());
    if (faces.vertexCount != static_cast<int32_t>(n)) throw Error("the texture faces name a different coordinate count");
    _p.texFaces = std::move(faces.indices);
}

}  // namespace

Package parsePackage(const uint8_t* _data, size_t _size, const std::string& _label) {
    try {
        if (_size < 12 || !std::equal(kPackageMagic, kPackageMagic + 8, _data)) throw Error("not an orv package");
        const uint64_t major = readLE(_data + 8, 2);
        if (major != kPackageVersionMajor)
            throw Error("package version " + std::to_string(major) + " is not supported (this build reads version " +
                        std::to_string(kPackageVersionMajor) + ")");
        Package p;
        bool meta = false, conn = false, tex = false, stream = false;
        size_t pos = 12;
        while (pos < _size) {
            if (_size - pos < 12) throw Error("truncated section header at byte " + std::to_string(pos));
            const std::string tag(reinterpret_cast<const char*>(_data + pos), 4);
            const uint64_t n = readLE(_data + pos + 4, 8);
            pos += 12;
            if (n > _size - pos)
                throw Error("section " + tag + " claims " + std::to_string(n) + " bytes but " +
                            std::to_string(_size - pos) + " remain");
            const uint8_t* d = _data + pos;
            const size_t len = static_cast<size_t>(n);
            auto once = [&](bool& _seen) {
                if (_seen) throw Error("section " + tag + " appears twice");
                _seen = true;
            };
            if (tag == kTagMeta) {
                once(meta);
                parseMeta(d, len, p);
            } else if (tag == kTagConnectivity) {
                once(conn);
                p.connectivity = decodeConnectivity(d, len);
            } else if (tag == kTagTexCoords) {
                once(tex);
                parseTexCoords(d, len, p);
            } else if (tag == kTagStream) {
                once(stream);
                if (len < 8 || readLE(d, 4) != len - 4) throw Error("the stream section does not hold one stream file");
                p.stream.assign(d, d + len);
            }
            pos += len;
        }
        if (!meta || !conn || !stream)
            throw Error(std::string("the ") + (!meta ? "metadata" : !conn ? "connectivity" : "stream") + " section is missing");
        if (tex && p.texFaces.size() != p.connectivity.indices.size())
            throw Error("the texture section has " + std::to_string(p.texFaces.size() / 3) + " faces, the connectivity " +
                        std::to_string(p.connectivity.faceCount()));
        const uint32_t streamV = streamFileVertexCount(p.stream.data());
        if (streamV != static_cast<uint32_t>(p.connectivity.vertexCount))
            throw Error("the stream has " + std::to_string(streamV) + " vertices but the connectivity " +
                        std::to_string(p.connectivity.vertexCount));
        if (p.connectivity.indices.empty()) throw Error("the connectivity has no faces");
        return p;
    } catch (const Error& e) {
        throw Error(_label + ": " + e.what());
    }
}

Package readPackageFile(const std::string& _path) {
    std::ifstream f(_path, std::ios::binary);
    if (!f) throw Error("Opening file " + _path + " failed!");
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return parsePackage(bytes.data(), bytes.size(), _path);
}

bool isPackageFile(const std::string& _path) {
    std::ifstream f(_path, std::ios::binary);
    char head[8] = {};
    if (!f.read(head, 8)) return false;
    return std::equal(kPackageMagic, kPackageMagic + 8, reinterpret_cast<const uint8_t*>(head));
}

std::vector<uint8_t> packageBitStream(const Package& _package) {
    return std::vector<uint8_t>(_package.stream.begin() + 4, _package.stream.end());
}

}  // namespace orv
