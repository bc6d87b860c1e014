// UV-mapped meshes through the programs: OBJ frames with vt lines (quads and
// triangles, absolute and negative texture ids, a seam where one vertex has
// two texture coordinates) -> OrvEnc --package -> OrvExport to OBJ frames and
// glb, and point caches given such a mesh. The texture of every corner must
// come back with the same value on the same corner. Also the reader's texture
// rules (malformed vt data named by line) and the glb's vertex splitting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "Decoder/ObjTexture.h"
#include "EncoderApp/FrameSource.h"
#include "Export/CornerVertices.h"
#include "Export/StreamFrameSource.h"
#include "Package/Package.h"
#include "TestSupport.h"

using namespace orv;
namespace fs = std::filesystem;

namespace {

// A tube of kRing x kRows vertices closed by a cap (one centre vertex). The
// texture is a (kRing + 1) x kRows grid: the last column repeats the first
// vertices at u = 1, so each first-column vertex has two texture coordinates.
constexpr int kRing = 6, kRows = 4, kFrames = 5;
constexpr int kV = kRing * kRows + 1;
constexpr int kT = (kRing + 1) * kRows + 1;

struct Corner {
    int vertex;  // zero-based
    double u, v;
};

double texU(int _x) { return _x / static_cast<double>(kRing); }
double texV(int _y) { return _y / static_cast<double>(kRows - 1); }

// The triangles' corners as OrvEnc must store them: quads split (0 1 2)(0 2 3).
std::vector<Corner> expectedCorners() {
    std::vector<Corner> out;
    auto corner = [&](int _x, int _y) { return Corner{_y * kRing + _x % kRing, texU(_x), texV(_y)}; };
    for (int y = 0; y + 1 < kRows; ++y)
        for (int x = 0; x < kRing; ++x) {
            const Corner q[4] = {corner(x, y), corner(x + 1, y), corner(x + 1, y + 1), corner(x, y + 1)};
            for (int k : {0, 1, 2, 0, 2, 3}) out.push_back(q[k]);
        }
    for (int x = 0; x < kRing; ++x) {
        out.push_back({kV - 1, 0.5, 1.25});
        out.push_back(corner(x + 1, kRows - 1));
        out.push_back(corner(x, kRows - 1));
    }
    return out;
}

// The frames as OBJ text with _withTexture; quads of odd rows and the cap
// name texture ids relative to the last vt line, the cap also its vertices.
std::string frameText(int _f, bool _withTexture) {
    std::ostringstream t;
    t.precision(17);
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kRing; ++x) {
            const double a = 2 * M_PI * x / kRing, r = 1 + 0.1 * _f * y;
            t << "v " << r * std::cos(a) << ' ' << r * std::sin(a) << ' ' << y * 0.5 << '\n';
        }
    t << "v 0 0 " << (kRows - 1) * 0.5 + 0.2 * _f << "\nvn 0 0 1\n";
    if (_withTexture) {
        for (int y = 0; y < kRows; ++y)
            for (int x = 0; x <= kRing; ++x) t << "vt " << texU(x) << ' ' << texV(y) << '\n';
        t << "vt 0.5 1.25 0\n";
    }
    auto vt = [&](int _x, int _y, bool _relative) {
        const int id = _y * (kRing + 1) + _x + 1;
        return _withTexture ? "/" + std::to_string(_relative ? id - kT - 1 : id) : std::string();
    };
    for (int y = 0; y + 1 < kRows; ++y)
        for (int x = 0; x < kRing; ++x) {
            auto c = [&](int _x, int _y) { return std::to_string(_y * kRing + _x % kRing + 1) + vt(_x, _y, y % 2 == 1); };
            t << "f " << c(x, y) << ' ' << c(x + 1, y) << ' ' << c(x + 1, y + 1) << ' ' << c(x, y + 1) << '\n';
        }
    for (int x = 0; x < kRing; ++x) {
        auto c = [&](int _x) { return std::to_string((kRows - 1) * kRing + _x % kRing - kV) + vt(_x, kRows - 1, true); };
        const std::string vn = _withTexture ? "/1" : "//1";
        t << "f -1" << (_withTexture ? "/-1" : "") << vn << ' ' << c(x + 1) << vn << ' ' << c(x) << vn << '\n';
    }
    return t.str();
}

void writeFrames(const fs::path& _dir, bool _withTexture) {
    fs::create_directories(_dir);
    for (int f = 0; f < kFrames; ++f) orvtest::writeFile(_dir / ("t" + std::to_string(f) + ".obj"), frameText(f, _withTexture));
}

// Each stored corner's vertex and texture value against expectedCorners().
void expectCorners(const std::vector<int32_t>& _faces, const std::vector<double>& _uv, const std::vector<int32_t>& _tex) {
    const std::vector<Corner> want = expectedCorners();
    ASSERT_EQ(_faces.size(), want.size());
    ASSERT_EQ(_tex.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) {
        EXPECT_EQ(_faces[k], want[k].vertex) << "corner " << k;
        const size_t t = static_cast<size_t>(_tex[k]);
        ASSERT_LT(2 * t + 1, _uv.size());
        EXPECT_EQ(_uv[2 * t], want[k].u) << "corner " << k;
        EXPECT_EQ(_uv[2 * t + 1], want[k].v) << "corner " << k;
    }
}

fs::path npmDir() {
    if (const char* e = std::getenv("ORV_NPM_DIR")) return e;
    return fs::path(ORV_BIN_DIR) / "npm";
}

bool haveNodeChecks() {
    const fs::path npm = npmDir();
    return fs::exists(npm / "node_modules" / "gltf-validator") && fs::exists(npm / "node_modules" / "three") &&
           std::system("node --version > /dev/null 2>&1") == 0;
}

class UvInterchange : public ::testing::Test {
protected:
    void SetUp() override {
        writeFrames(dir_ / "frames", true);
        const auto r = orvtest::run("OrvEnc", {"--package", (dir_ / "tube.orvp").string(), "-o",
                                               (dir_ / "tube.orv").string(), (dir_ / "frames").string()});
        ASSERT_EQ(r.exitCode, 0) << r.output;
        report_ = r.output;
        package_ = readPackageFile((dir_ / "tube.orvp").string());
    }
    orvtest::ScratchDir dir_;
    std::string report_;
    Package package_;
};

}  // namespace

TEST_F(UvInterchange, ThePackageKeepsEveryCornersTextureAndTheStreamIsUnchanged) {
    EXPECT_NE(report_.find("texture coords    : " + std::to_string(kT) + ", kept in the package"), std::string::npos)
        << report_;
    EXPECT_EQ(package_.texCoords.size(), 2u * kT);
    expectCorners(package_.connectivity.indices, package_.texCoords, package_.texFaces);
    // The same frames without texture give the same stream, byte for byte.
    writeFrames(dir_ / "plain", false);
    const auto r = orvtest::run("OrvEnc", {"--package", (dir_ / "plain.orvp").string(), "-o",
                                           (dir_ / "plain.orv").string(), (dir_ / "plain").string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(orvtest::readFile(dir_ / "plain.orv"), orvtest::readFile(dir_ / "tube.orv"));
    const Package plain = readPackageFile((dir_ / "plain.orvp").string());
    EXPECT_EQ(plain.stream, package_.stream);
    EXPECT_TRUE(plain.texFaces.empty());
    EXPECT_EQ(r.output.find("texture coords"), std::string::npos) << r.output;
}

TEST_F(UvInterchange, ObjFramesCarryTheTextureBackExactly) {
    const auto r = orvtest::run("OrvExport", {(dir_ / "tube.orvp").string(), (dir_ / "obj").string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::vector<std::string> files;
    for (int f = 0; f < kFrames; ++f) files.push_back((dir_ / "obj" / ("frame" + std::to_string(f) + ".obj")).string());
    const LoadedAnimation back = loadAnimation(files);
    EXPECT_EQ(back.texCoords, package_.texCoords);
    EXPECT_EQ(back.texFaces, package_.texFaces);
    EXPECT_EQ(toFlatIndices(back.faces), package_.connectivity.indices);
    // Every frame has them, not only the first.
    const LoadedAnimation last = loadAnimation({files.back()});
    EXPECT_EQ(last.texFaces, package_.texFaces);
}

TEST_F(UvInterchange, PointCachesTakeTheTextureOfTheirMesh) {
    const auto e = orvtest::run("OrvExport", {(dir_ / "tube.orvp").string(), (dir_ / "tube.pc2").string()});
    ASSERT_EQ(e.exitCode, 0) << e.output;
    for (const fs::path& mesh : {dir_ / "frames" / "t0.obj", dir_ / "tube.orvp"}) {
        const LoadedAnimation a = loadPointCacheAnimation((dir_ / "tube.pc2").string(), mesh.string());
        EXPECT_EQ(a.texCoords, package_.texCoords) << mesh;
        EXPECT_EQ(a.texFaces, package_.texFaces) << mesh;
    }
}

TEST_F(UvInterchange, GlbSplitsTheSeamAndLoadsWithTheSameTexture) {
    if (!haveNodeChecks())
        GTEST_SKIP() << "node or the npm packages gltf-validator and three are missing (" << npmDir().string()
                     << "; CMake installs them there when npm is present)";
    // Reference positions: the package's own decode.
    AnimationInfo info;
    info.faces = package_.connectivity.indices;
    auto source = openStreamFrames(package_.stream, "tube", info, StreamSelection{});
    std::vector<double> f0, f1;
    ASSERT_TRUE(source->next(f0) && source->next(f1));
    const std::vector<Corner> want = expectedCorners();
    for (const bool quantize : {false, true}) {
        const fs::path glb = dir_ / (quantize ? "q.glb" : "f.glb"), corners = dir_ / "corners.txt";
        std::vector<std::string> args = {(dir_ / "tube.orvp").string(), glb.string()};
        if (quantize) args.push_back("--quantize");
        const auto r = orvtest::run("OrvExport", args);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        // One extra vertex per row, for the seam's second texture coordinate.
        const std::string cmd = "ORV_NPM_DIR='" + npmDir().string() + "' node '" + ORV_SOURCE_DIR +
                                "/tests/js/checkGlb.mjs' '" + glb.string() + "' " + std::to_string(kV + kRows) + " " +
                                std::to_string(kFrames - 1) + " '" + corners.string() + "' > '" +
                                (dir_ / "node.txt").string() + "' 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << orvtest::readFile(dir_ / "node.txt");
        std::istringstream lines(orvtest::readFile(corners));
        for (size_t k = 0; k < want.size(); ++k) {
            double u, v, p[3], d[3];
            ASSERT_TRUE(lines >> u >> v >> p[0] >> p[1] >> p[2] >> d[0] >> d[1] >> d[2]) << "corner " << k;
            // glTF counts v from the image's top.
            EXPECT_EQ(u, static_cast<float>(want[k].u)) << "corner " << k;
            EXPECT_EQ(v, static_cast<float>(1.0 - want[k].v)) << "corner " << k;
            if (quantize) continue;
            for (size_t c = 0; c < 3; ++c) {
                const size_t i = 3 * static_cast<size_t>(want[k].vertex) + c;
                EXPECT_EQ(p[c], static_cast<float>(f0[i])) << "corner " << k;
                EXPECT_EQ(d[c], static_cast<float>(f1[i]) - static_cast<float>(f0[i])) << "corner " << k;
            }
        }
    }
}

TEST(ObjTextureReading, PolygonsSplitTheirTextureIdsAsTheirPositions) {
    // From vertex 5 the fan has the triangle (5 2 5), so it starts at 2.
    ObjTexture tex;
    FaceList faces;
    parseOBJ("p.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 2 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 0.5 0.5\n"
                      "f 5/1 2/2 5/3 3/4 4/5\n",
             faces, ObjFaceOptions{.triangulate = true, .texture = &tex});
    EXPECT_EQ(faces, (FaceList{{1, 4, 2}, {1, 2, 3}, {1, 3, 4}}));
    EXPECT_EQ(tex.corners, (std::vector<int32_t>{1, 2, 3, 1, 3, 4, 1, 4, 0}));
    EXPECT_EQ(tex.uv, (std::vector<double>{0, 0, 1, 0, 1, 1, 0, 1, 0.5, 0.5}));
    // vt lines with one or three coordinates, ids given before their vt lines.
    ObjTexture late;
    faces.clear();
    parseOBJ("q.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1/3 2/2/1 3/1\nvt 0.25\nvt 1 0 0\nvt +1 1\n", faces,
             ObjFaceOptions{.texture = &late});
    EXPECT_EQ(late.corners, (std::vector<int32_t>{2, 1, 0}));
    EXPECT_EQ(late.uv, (std::vector<double>{0.25, 0, 1, 0, 1, 1}));
}

TEST(ObjTextureReading, MalformedTextureDataNamesTheLine) {
    const std::string head = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\n";
    const std::pair<std::string, std::string> cases[] = {
        {"f 1/1 2/2 3/3\n", "line 7: the texture index 3 names a vt line beyond the 2 in the file"},
        {"f 1/1 2/2 3\n", "line 7: 1 of the face's 3 corners have no texture index"},
        {"f 1/1 2/2 3/1\nf 1 3 4\n", "line 8: the face has no texture indices, but the faces before it have"},
        {"f 1 2 3\nf 1/1 3/2 4/1\n", "line 8: the face has texture indices, but the 1 faces before it have none"},
        {"f 1/-3 2/1 3/2\n", "line 7: the texture index -3 reaches before the first vt line (2 read so far)"},
        {"f 1/0 2/1 3/2\n", "line 7: the texture index 0 is below 1"},
        {"f 1/x 2/1 3/2\n", "line 7: cannot read the texture index \"x\""},
        {"f 1/99999999999 2/1 3/2\n", "is out of range"},
        {"vt 0 zero\n", "line 7: cannot read the texture coordinate \"zero\""},
        {"vt 0 inf\n", "the texture coordinate \"inf\" is not a finite number"},
        {"vt\n", "line 7: a vt line needs at least one coordinate"},
    };
    for (const auto& [tail, needle] : cases) {
        ObjTexture tex;
        FaceList faces;
        try {
            parseOBJ("bad.obj", head + tail, faces, ObjFaceOptions{.relativeIndices = true, .texture = &tex});
            ADD_FAILURE() << "accepted: " << tail;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("bad.obj, line ", 0), 0u) << e.what();
            EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
        }
    }
    // OrvEnc: one line naming the file and the line, status 255, no output.
    orvtest::ScratchDir dir;
    orvtest::writeFile(dir / "a.obj", head + "f 1/1 2/2 3/7\n");
    const auto r = orvtest::run("OrvEnc", {"--package", (dir / "a.orvp").string(), (dir / "a.obj").string()});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.output.find("OrvEnc: " + (dir / "a.obj").string() + ", line 7: the texture index 7"), std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(dir / "a.orvp"));
}

TEST(CornerVertices, SplitsInFirstCornerOrderAndKeepsTheStreamVerticesFirst) {
    // Vertex 0 has texture ids 5, 6, 5, 7; vertex 2 has 8 and 9; vertex 3 is in no face.
    const std::vector<int32_t> faces = {0, 1, 2, 0, 2, 1, 2, 0, 1, 0, 1, 2};
    const std::vector<int32_t> tex = {5, 1, 8, 6, 9, 1, 8, 5, 1, 7, 1, 9};
    const CornerVertices s = splitCornerVertices(faces, tex, 4);
    EXPECT_EQ(s.position, (std::vector<int32_t>{0, 1, 2, 3, 0, 2, 0}));
    EXPECT_EQ(s.texture, (std::vector<int32_t>{5, 1, 8, -1, 6, 9, 7}));
    EXPECT_EQ(s.indices, (std::vector<int32_t>{0, 1, 2, 4, 5, 1, 2, 0, 1, 6, 1, 5}));
}
