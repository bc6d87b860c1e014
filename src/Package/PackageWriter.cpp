// Writes a package file: the magic and version, then the sections META, CONN,
// TEXC (only with texture coordinates) and STRM, each as tag, 8-byte length
// and payload.
#include <cmath>
#include <string_view>

#include "Common/AtomicFile.h"
#include "Common/Check.h"
#include "Connectivity/VarInt.h"
#include "Package/Package.h"
#include "Package/PackageLayout.h"

namespace orv {

namespace {

void appendString(std::vector<uint8_t>& _out, const std::string& _s) {
    appendVarUInt(_out, _s.size());
    _out.insert(_out.end(), _s.begin(), _s.end());
}

void appendSection(std::vector<uint8_t>& _out, const char* _tag, const std::vector<uint8_t>& _payload) {
    _out.insert(_out.end(), _tag, _tag + 4);
    appendLE(_out, _payload.size(), 8);
    _out.insert(_out.end(), _payload.begin(), _payload.end());
}

}  // namespace

std::vector<uint8_t> packageBytes(const Package& _p) {
    if (!(_p.frameRate > 0.0) || !std::isfinite(_p.frameRate)) throw Error("package: the frame rate must be positive");
    if (!std::isfinite(_p.startTime)) throw Error("package: the start time must be finite");
    if (_p.stream.size() < 8 || readLE(_p.stream.data(), 4) != _p.stream.size() - 4)
        throw Error("package: the stream is not one stream file");
    if (streamFileVertexCount(_p.stream.data()) != static_cast<uint32_t>(_p.connectivity.vertexCount))
        throw Error("package: the stream and the connectivity have different vertex counts");
    if (!_p.texFaces.empty() && _p.texFaces.size() != _p.connectivity.indices.size())
        throw Error("package: the texture faces do not match the faces");
    if (_p.texCoords.size() % 2 != 0) throw Error("package: texture coordinates come in pairs");
    if (_p.texFaces.empty() != _p.texCoords.empty())
        throw Error("package: texture coordinates and texture faces go together");
    for (double d : _p.texCoords)
        if (!std::isfinite(d)) throw Error("package: a texture coordinate is not a finite number");

    std::vector<uint8_t> out(kPackageMagic, kPackageMagic + 8);
    appendLE(out, kPackageVersionMajor, 2);
    appendLE(out, kPackageVersionMinor, 2);

    std::vector<uint8_t> meta;
    appendDouble(meta, _p.frameRate);
    appendDouble(meta, _p.startTime);
    appendVarUInt(meta, static_cast<uint64_t>(_p.sourceVertexCount));
    appendString(meta, _p.name);
    appendVarUInt(meta, _p.frameNames.size());
    for (const std::string& n : _p.frameNames) appendString(meta, n);
    appendSection(out, kTagMeta, meta);

    appendSection(out, kTagConnectivity, encodeConnectivity(_p.connectivity.indices, _p.connectivity.vertexCount));

    if (!_p.texFaces.empty()) {
        std::vector<uint8_t> tex;
        const size_t n = _p.texCoords.size() / 2;
        appendVarUInt(tex, n);
        for (double d : _p.texCoords) appendDouble(tex, d);
        const std::vector<uint8_t> faces = encodeConnectivity(_p.texFaces, static_cast<int32_t>(n));
        tex.insert(tex.end(), faces.begin(), faces.end());
        appendSection(out, kTagTexCoords, tex);
    }
    appendSection(out, kTagStream, _p.stream);
    return out;
}

void writePackageFile(const std::string& _path, const Package& _package) {
    const std::vector<uint8_t> bytes = packageBytes(_package);
    writeFileAtomically(_path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace orv
