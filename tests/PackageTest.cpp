// The package file: round trips of every field, and a clear refusal of every
// kind of damaged package (truncated, lying lengths, missing or repeated
// sections, counts that do not agree).
#include <gtest/gtest.h>

#include <cmath>

#include "Common/Check.h"
#include "Connectivity/VarInt.h"
#include "GeneratedMeshes.h"
#include "Package/Package.h"
#include "Package/PackageLayout.h"
#include "TestSupport.h"
#include "orv/orv.h"

using namespace orv;

namespace {

// A stream file whose header names _V vertices (the rest is filler: the
// package keeps the stream unchanged and reads only its vertex count).
std::vector<uint8_t> fakeStream(uint32_t _V) {
    std::vector<uint8_t> bits = {uint8_t(_V >> 24), uint8_t(_V >> 16), uint8_t(_V >> 8), uint8_t(_V), 0, 3, 8, 4};
    for (int i = 0; i < 40; ++i) bits.push_back(static_cast<uint8_t>(i * 7));
    std::vector<uint8_t> file(4 + bits.size());
    const uint32_t n = static_cast<uint32_t>(bits.size());
    for (int i = 0; i < 4; ++i) file[static_cast<size_t>(i)] = static_cast<uint8_t>(n >> (8 * i));
    std::copy(bits.begin(), bits.end(), file.begin() + 4);
    return file;
}

Package samplePackage(bool _withUVs) {
    const auto m = orvtest::torusMesh(12, 9);
    Package p;
    p.frameRate = 29.97;
    p.startTime = 1.5;
    p.sourceVertexCount = m.vertexCount;
    p.name = "torus \xc3\xa9";
    p.frameNames = {"a.obj", "b.obj"};
    p.connectivity.vertexCount = m.vertexCount;
    p.connectivity.indices = m.indices;
    if (_withUVs) {
        for (int i = 0; i < 2 * m.vertexCount; ++i) p.texCoords.push_back(i * 0.001);
        p.texFaces = m.indices;
    }
    p.stream = fakeStream(static_cast<uint32_t>(m.vertexCount));
    return p;
}

std::string parseError(const std::vector<uint8_t>& _bytes) {
    try {
        parsePackage(_bytes.data(), _bytes.size(), "x.orvp");
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// The offset of the section with _tag in a package written by packageBytes.
size_t sectionOffset(const std::vector<uint8_t>& _b, const char* _tag) {
    size_t pos = 12;
    while (pos + 12 <= _b.size()) {
        if (std::equal(_tag, _tag + 4, _b.begin() + static_cast<std::ptrdiff_t>(pos))) return pos;
        pos += 12 + readLE(&_b[pos + 4], 8);
    }
    return 0;
}

}  // namespace

TEST(Package, RoundTripsEveryField) {
    for (bool uvs : {false, true}) {
        const Package p = samplePackage(uvs);
        const std::vector<uint8_t> bytes = packageBytes(p);
        const Package q = parsePackage(bytes.data(), bytes.size(), "mem");
        EXPECT_EQ(q.frameRate, p.frameRate);
        EXPECT_EQ(q.startTime, p.startTime);
        EXPECT_EQ(q.sourceVertexCount, p.sourceVertexCount);
        EXPECT_EQ(q.name, p.name);
        EXPECT_EQ(q.frameNames, p.frameNames);
        EXPECT_EQ(q.connectivity.indices, p.connectivity.indices);
        EXPECT_EQ(q.texCoords, p.texCoords);
        EXPECT_EQ(q.texFaces, p.texFaces);
        EXPECT_EQ(q.stream, p.stream);
    }
}

TEST(Package, FileRoundTripAndCApi) {
    orvtest::ScratchDir dir;
    const Package p = samplePackage(true);
    writePackageFile((dir / "a.orvp").string(), p);
    EXPECT_TRUE(isPackageFile((dir / "a.orvp").string()));
    orv_package* h = nullptr;
    char err[256];
    ASSERT_EQ(orv_package_read_file((dir / "a.orvp").c_str(), &h, err, sizeof err), ORV_OK) << err;
    orv_package_info info;
    ASSERT_EQ(orv_package_get_info(h, &info), ORV_OK);
    EXPECT_EQ(info.face_count, p.connectivity.faceCount());
    EXPECT_EQ(info.vertex_count, p.connectivity.vertexCount);
    EXPECT_EQ(info.tex_coord_count, p.texCoords.size() / 2);
    EXPECT_EQ(info.frame_rate, 29.97);
    EXPECT_EQ(std::vector<int32_t>(orv_package_faces(h), orv_package_faces(h) + 3 * info.face_count), p.connectivity.indices);
    size_t n = 0;
    const uint8_t* s = orv_package_stream(h, &n);
    EXPECT_EQ(std::vector<uint8_t>(s, s + n), p.stream);
    orv_package_destroy(h);

    // Written through the C API.
    ASSERT_EQ(orv_package_write_file((dir / "b.orvp").c_str(), p.stream.data(), p.stream.size(),
                                     p.connectivity.indices.data(), p.connectivity.faceCount(), p.connectivity.vertexCount,
                                     24.0, "b", err, sizeof err),
              ORV_OK)
        << err;
    const Package b = readPackageFile((dir / "b.orvp").string());
    EXPECT_EQ(b.connectivity.indices, p.connectivity.indices);
    EXPECT_EQ(b.name, "b");

    EXPECT_EQ(orv_package_read_file((dir / "none.orvp").c_str(), &h, err, sizeof err), ORV_E_ARGUMENT);
    EXPECT_EQ(h, nullptr);
    const std::vector<uint8_t> junk = {1, 2, 3};
    EXPECT_EQ(orv_package_open(junk.data(), junk.size(), &h, err, sizeof err), ORV_E_STREAM);
    EXPECT_NE(std::string(err).find("not an orv package"), std::string::npos);
}

TEST(Package, RefusesEveryTruncation) {
    const std::vector<uint8_t> bytes = packageBytes(samplePackage(true));
    for (size_t n = 0; n < bytes.size(); ++n) {
        const std::string e = parseError(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)));
        EXPECT_NE(e, "") << "truncated to " << n;
        EXPECT_EQ(e.rfind("x.orvp: ", 0), 0u) << e;
    }
}

TEST(Package, RefusesLyingAndInconsistentContents) {
    const Package good = samplePackage(true);
    const std::vector<uint8_t> bytes = packageBytes(good);
    auto patched = [&](size_t _at, uint64_t _v, int _n) {
        std::vector<uint8_t> b = bytes;
        for (int i = 0; i < _n; ++i) b[_at + static_cast<size_t>(i)] = static_cast<uint8_t>(_v >> (8 * i));
        return b;
    };
    EXPECT_NE(parseError(patched(0, 'X', 1)).find("not an orv package"), std::string::npos);
    EXPECT_NE(parseError(patched(8, 2, 2)).find("version 2"), std::string::npos);
    const size_t conn = sectionOffset(bytes, kTagConnectivity);
    ASSERT_GT(conn, 0u);
    EXPECT_NE(parseError(patched(conn + 4, 1ull << 60, 8)).find("claims"), std::string::npos);
    // A section renamed to an unknown tag is skipped, so CONN goes missing.
    EXPECT_NE(parseError(patched(conn, 'c', 1)).find("connectivity section is missing"), std::string::npos);
    // Two STRM sections.
    std::vector<uint8_t> twice = bytes;
    const size_t strm = sectionOffset(bytes, kTagStream);
    twice.insert(twice.end(), bytes.begin() + static_cast<std::ptrdiff_t>(strm), bytes.end());
    EXPECT_NE(parseError(twice).find("twice"), std::string::npos);
    // The stream's vertex count no longer matches the faces.
    EXPECT_NE(parseError(patched(strm + 12 + 7, 99, 1)).find("vertices but the connectivity"), std::string::npos);
    // The stream's length field lies.
    EXPECT_NE(parseError(patched(strm + 12, 5, 4)).find("stream section"), std::string::npos);
    // A frame name count far beyond the metadata.
    Package names = good;
    names.frameNames.clear();
    std::vector<uint8_t> nb = packageBytes(names);
    const size_t meta = sectionOffset(nb, kTagMeta);
    // frame rate, start time, vertex count (1 byte: 108 < 128), name, then the count.
    const size_t countAt = meta + 12 + 16 + 1 + 1 + names.name.size();
    ASSERT_EQ(nb[countAt], 0);
    nb[countAt] = 0x7F;
    EXPECT_NE(parseError(nb).find("frame name count"), std::string::npos);
    // Writer-side checks.
    Package badTex = good;
    badTex.texFaces.pop_back();
    EXPECT_THROW(packageBytes(badTex), Error);
    Package badStream = good;
    badStream.connectivity.vertexCount += 1;
    EXPECT_THROW(packageBytes(badStream), Error);
}

namespace {

// _bytes with the payload of its _tag section replaced by _payload.
std::vector<uint8_t> withSection(const std::vector<uint8_t>& _bytes, const char* _tag, const std::vector<uint8_t>& _payload) {
    const size_t at = sectionOffset(_bytes, _tag);
    const size_t end = at + 12 + readLE(&_bytes[at + 4], 8);
    std::vector<uint8_t> out(_bytes.begin(), _bytes.begin() + static_cast<std::ptrdiff_t>(at));
    out.insert(out.end(), _tag, _tag + 4);
    appendLE(out, _payload.size(), 8);
    out.insert(out.end(), _payload.begin(), _payload.end());
    out.insert(out.end(), _bytes.begin() + static_cast<std::ptrdiff_t>(end), _bytes.end());
    return out;
}

std::vector<uint8_t> texturePayload(const std::vector<double>& _uv, const std::vector<int32_t>& _faces, int32_t _count) {
    std::vector<uint8_t> out;
    appendVarUInt(out, _uv.size() / 2);
    for (double d : _uv) appendDouble(out, d);
    const std::vector<uint8_t> faces = encodeConnectivity(_faces, _count);
    out.insert(out.end(), faces.begin(), faces.end());
    return out;
}

}  // namespace

TEST(Package, TextureFacesMayRepeatOrSkipCoordinatesButMustCoverEveryFace) {
    // A seam-free texture is not required: degenerate texture triangles and
    // coordinates no corner uses are kept as they are.
    Package p = samplePackage(true);
    p.texFaces.assign(p.connectivity.indices.size(), 0);
    for (size_t c = 2; c < p.texFaces.size(); c += 3) p.texFaces[c] = static_cast<int32_t>(c % 5);
    const std::vector<uint8_t> bytes = packageBytes(p);
    const Package q = parsePackage(bytes.data(), bytes.size(), "mem");
    EXPECT_EQ(q.texFaces, p.texFaces);
    EXPECT_EQ(q.texCoords, p.texCoords);

    const size_t F = p.connectivity.faceCount();
    // A texture section with fewer faces than the connectivity, or none.
    const std::vector<int32_t> fewer(p.texFaces.begin(), p.texFaces.end() - 3);
    EXPECT_NE(parseError(withSection(bytes, kTagTexCoords, texturePayload(p.texCoords, fewer, 108)))
                  .find("the texture section has " + std::to_string(F - 1) + " faces, the connectivity " +
                        std::to_string(F)),
              std::string::npos);
    EXPECT_NE(parseError(withSection(bytes, kTagTexCoords, texturePayload({0.5, 0.5}, {}, 1)))
                  .find("the texture section has 0 faces"),
              std::string::npos);
    // Faces over more coordinates than the section holds.
    EXPECT_NE(parseError(withSection(bytes, kTagTexCoords, texturePayload({0, 0, 1, 1}, p.texFaces, 5)))
                  .find("different coordinate count"),
              std::string::npos);

    // The writer refuses what the reader would.
    Package outOfRange = p;
    outOfRange.texFaces[4] = static_cast<int32_t>(p.texCoords.size() / 2);
    EXPECT_THROW(packageBytes(outOfRange), Error);
    Package coordsOnly = p;
    coordsOnly.texFaces.clear();
    EXPECT_THROW(packageBytes(coordsOnly), Error);
    Package notFinite = p;
    notFinite.texCoords[0] = INFINITY;
    EXPECT_THROW(packageBytes(notFinite), Error);
}
