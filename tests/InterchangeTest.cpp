// Interchange round trips through the programs: OBJ frames (with quads and an
// n-gon) -> OrvEnc --package -> OrvExport to every format -> back into
// OrvEnc, checked against the package's own decode: bit for bit through OBJ
// frames at 17 digits, exactly as float32 through PC2 and MDD. The glb files
// are checked by the Khronos validator and three.js's GLTFLoader under node
// when the npm packages are installed in the build (skipped otherwise).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "Connectivity/ConnectivityCodec.h"
#include "EncoderApp/FrameSource.h"
#include "Export/StreamFrameSource.h"
#include "Package/Package.h"
#include "PointCache/PointCache.h"
#include "TestSupport.h"

using namespace orv;
namespace fs = std::filesystem;

namespace {

constexpr int kW = 9, kH = 7, kFrames = 12;

// A waving sheet of kW x kH vertices in quads, with one pentagon made by
// joining two cells' worth of corners, written as OBJ frames; the faces use
// relative indices in the even frames and absolute ones in the odd frames.
void writeSheetFrames(const fs::path& _dir) {
    fs::create_directories(_dir);
    for (int f = 0; f < kFrames; ++f) {
        std::string text = "# sheet frame " + std::to_string(f) + "\n";
        char line[128];
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const double z = 0.3 * std::sin(0.7 * x + 0.4 * f) * std::cos(0.5 * y - 0.2 * f);
                std::snprintf(line, sizeof line, "v %.9f %.9f %.9f\n", x * 0.25, y * 0.25 + 0.01 * f, z);
                text += line;
            }
        const int V = kW * kH;
        auto id = [&](int _x, int _y) {
            const int abs = _y * kW + _x + 1;
            return f % 2 == 0 ? std::to_string(abs - V - 1) : std::to_string(abs);
        };
        for (int y = 0; y + 1 < kH; ++y)
            for (int x = 0; x + 1 < kW; ++x) {
                if (y == 0 && (x == 0 || x == 1)) continue;  // the pentagon's cells
                text += "f " + id(x, y) + " " + id(x + 1, y) + " " + id(x + 1, y + 1) + " " + id(x, y + 1) + "\n";
            }
        // Pentagon over cells (0,0) and (1,0) (the corner (1,1) is left out of
        // it) plus the triangle that closes the gap.
        text += "f " + id(0, 0) + " " + id(1, 0) + " " + id(2, 0) + " " + id(2, 1) + " " + id(0, 1) + "\n";
        text += "f " + id(0, 1) + " " + id(2, 1) + " " + id(1, 1) + "\n";
        orvtest::writeFile(_dir / ("f" + std::to_string(f) + ".obj"), text);
    }
}

// The package's frames as the library decodes them.
std::vector<std::vector<double>> decodePackage(const fs::path& _p, std::vector<int32_t>& _faces) {
    Package p = readPackageFile(_p.string());
    AnimationInfo info;
    info.faces = p.connectivity.indices;
    _faces = info.faces;
    auto source = openStreamFrames(p.stream, _p.string(), info, StreamSelection{});
    std::vector<std::vector<double>> frames;
    std::vector<double> pos;
    while (source->next(pos)) frames.push_back(pos);
    return frames;
}

std::vector<std::vector<double>> asFloat(std::vector<std::vector<double>> _frames) {
    for (auto& f : _frames)
        for (double& x : f) x = static_cast<float>(x);
    return _frames;
}

std::vector<std::vector<double>> framesOf(const LoadedAnimation& _a) {
    std::vector<std::vector<double>> out;
    for (int f = 0; f < _a.positions.F; ++f)
        out.emplace_back(_a.positions.frame(f), _a.positions.frame(f) + 3 * static_cast<size_t>(_a.positions.V));
    return out;
}

fs::path npmDir() {
    if (const char* e = std::getenv("ORV_NPM_DIR")) return e;
    return fs::path(ORV_BIN_DIR) / "npm";
}

class Interchange : public ::testing::Test {
protected:
    void SetUp() override {
        writeSheetFrames(dir_ / "frames");
        const auto r = orvtest::run("OrvEnc", {"--package", (dir_ / "sheet.orvp").string(), "-o",
                                               (dir_ / "sheet.orv").string(), (dir_ / "frames").string()});
        ASSERT_EQ(r.exitCode, 0) << r.output;
        encodeReport_ = r.output;
        reference_ = decodePackage(dir_ / "sheet.orvp", faces_);
        ASSERT_EQ(static_cast<int>(reference_.size()), kFrames);
    }
    orvtest::ScratchDir dir_;
    std::string encodeReport_;
    std::vector<int32_t> faces_;
    std::vector<std::vector<double>> reference_;
};

}  // namespace

TEST_F(Interchange, PolygonsAreSplitAndReported) {
    // 6 x 8 cells less two are quads (46, two triangles each), the pentagon
    // gives three and the closing triangle one.
    EXPECT_EQ(faces_.size() / 3, 46u * 2 + 3 + 1);
    EXPECT_NE(encodeReport_.find("polygons split    : 47 faces"), std::string::npos) << encodeReport_;
    // The written connectivity is the triangulated one, equal to the package's.
    FaceList con;
    readOBJ((dir_ / "sheet_con.obj").string(), con);
    EXPECT_EQ(toFlatIndices(con), faces_);
}

TEST_F(Interchange, ObjFramesAt17DigitsReproduceTheDecodeExactly) {
    const auto r = orvtest::run("OrvExport", {(dir_ / "sheet.orvp").string(), (dir_ / "obj").string(), "--digits", "17"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::vector<std::string> files;
    for (int f = 0; f < kFrames; ++f) files.push_back((dir_ / "obj" / ("frame" + std::string(f < 10 ? "0" : "") + std::to_string(f) + ".obj")).string());
    const LoadedAnimation back = loadAnimation(files);
    EXPECT_EQ(framesOf(back), reference_);
    EXPECT_EQ(toFlatIndices(back.faces), faces_);
    // Six digits do not.
    const auto r6 = orvtest::run("OrvExport", {"--digits", "6", (dir_ / "sheet.orvp").string(), (dir_ / "obj6").string()});
    ASSERT_EQ(r6.exitCode, 0) << r6.output;
    for (auto& f : files) f = (dir_ / "obj6" / fs::path(f).filename()).string();
    EXPECT_NE(framesOf(loadAnimation(files)), reference_);
}

TEST_F(Interchange, PointCachesCarryTheDecodeAsFloat32AndGoBackIntoOrvEnc) {
    for (const char* ext : {"pc2", "mdd"}) {
        const fs::path cache = dir_ / (std::string("sheet.") + ext);
        const auto r = orvtest::run("OrvExport", {(dir_ / "sheet.orvp").string(), cache.string(), "--fps", "30"});
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const LoadedAnimation back = loadPointCacheAnimation(cache.string(), (dir_ / "sheet.orvp").string());
        EXPECT_EQ(framesOf(back), asFloat(reference_)) << ext;
        if (std::string(ext) == "mdd") {
            EXPECT_DOUBLE_EQ(back.frameRate, 30.0);
        }
        // The faces from the stream pair's OBJ connectivity work as well.
        const auto enc = orvtest::run("OrvEnc", {"--mesh", (dir_ / "sheet_con.obj").string(), "--package",
                                                 (dir_ / (std::string("again-") + ext + ".orvp")).string(), cache.string()});
        ASSERT_EQ(enc.exitCode, 0) << enc.output;
        const Package again = readPackageFile((dir_ / (std::string("again-") + ext + ".orvp")).string());
        EXPECT_EQ(again.connectivity.indices, faces_);
        EXPECT_DOUBLE_EQ(again.frameRate, std::string(ext) == "mdd" ? 30.0 : 25.0);
    }
}

TEST_F(Interchange, StreamAndConnectivityExportLikeThePackageWithRangeAndLayers) {
    const auto a = orvtest::run("OrvExport", {(dir_ / "sheet.orv").string(), "-c", (dir_ / "sheet_con.obj").string(),
                                              (dir_ / "a.pc2").string(), "--frames", "3-7"});
    ASSERT_EQ(a.exitCode, 0) << a.output;
    const PointCache c = readPc2((dir_ / "a.pc2").string());
    ASSERT_EQ(c.frames.size(), 5u);
    EXPECT_EQ(c.header.startFrame, 3.0);
    const auto ref = asFloat(reference_);
    for (int f = 0; f < 5; ++f) EXPECT_EQ(c.frames[static_cast<size_t>(f)], ref[static_cast<size_t>(f + 3)]);
    // Fewer layers give other positions, but still every frame.
    const auto b = orvtest::run("OrvExport", {"--spatial-layers", "1", "--temporal-layers", "1",
                                              (dir_ / "sheet.orvp").string(), (dir_ / "b.pc2").string()});
    ASSERT_EQ(b.exitCode, 0) << b.output;
    const PointCache thin = readPc2((dir_ / "b.pc2").string());
    ASSERT_EQ(thin.frames.size(), static_cast<size_t>(kFrames));
    EXPECT_NE(thin.frames, ref);
}

TEST_F(Interchange, GlbPassesTheValidatorAndLoadsInThreeJs) {
    const fs::path npm = npmDir();
    if (!fs::exists(npm / "node_modules" / "gltf-validator") || !fs::exists(npm / "node_modules" / "three") ||
        std::system("node --version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "node or the npm packages gltf-validator and three are missing (" << npm.string()
                     << "; CMake installs them there when npm is present)";
    for (const bool quantize : {false, true}) {
        const fs::path glb = dir_ / (quantize ? "q.glb" : "f.glb");
        std::vector<std::string> args = {(dir_ / "sheet.orvp").string(), glb.string()};
        if (quantize) args.push_back("--quantize");
        const auto r = orvtest::run("OrvExport", args);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const std::string cmd = "ORV_NPM_DIR='" + npm.string() + "' node '" + ORV_SOURCE_DIR + "/tests/js/checkGlb.mjs' '" +
                                glb.string() + "' " + std::to_string(kW * kH) + " " + std::to_string(kFrames - 1) +
                                " > '" + (dir_ / "node.txt").string() + "' 2>&1";
        const int status = std::system(cmd.c_str());
        EXPECT_EQ(status, 0) << orvtest::readFile(dir_ / "node.txt");
    }
}

TEST(InterchangeErrors, MalformedInputsAreOneClearLine) {
    orvtest::ScratchDir dir;
    orvtest::writeFile(dir / "mesh.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    auto enc = [&](const std::string& _cache) {
        return orvtest::run("OrvEnc", {"--mesh", (dir / "mesh.obj").string(), "-o", (dir / "x.orv").string(), _cache});
    };
    auto expectRefused = [&](const orvtest::RunResult& _r, const std::string& _needle) {
        EXPECT_EQ(_r.exitCode, 255) << _r.output;
        EXPECT_NE(_r.output.find(_needle), std::string::npos) << _r.output;
        // One error line (OrvEnc may have said what it starts on before it).
        EXPECT_EQ(std::count(_r.output.begin(), _r.output.end(), '\n'), _r.output.rfind("OrvEnc ", 0) == 0 ? 2 : 1)
            << _r.output;
    };
    // PC2: a bad signature, a lying sample count, an unsupported version, NaN.
    std::string pc2(32, '\0');
    std::memcpy(pc2.data(), "POINTCACHE2", 11);
    pc2[12] = 1;
    pc2[16] = 3;
    pc2[28] = 2;
    pc2[26] = '\x80', pc2[27] = '\x3f';  // sample rate 1.0f
    orvtest::writeFile(dir / "short.pc2", pc2 + std::string(12 * 3, '\0'));  // 1 sample of 2
    expectRefused(enc((dir / "short.pc2").string()), "short.pc2: 3 points x 2 samples need 104 bytes");
    std::string bad = pc2;
    bad[0] = 'Q';
    orvtest::writeFile(dir / "sig.pc2", bad + std::string(72, '\0'));
    expectRefused(enc((dir / "sig.pc2").string()), "not a PC2 file");
    bad = pc2;
    bad[12] = 7;
    orvtest::writeFile(dir / "ver.pc2", bad + std::string(72, '\0'));
    expectRefused(enc((dir / "ver.pc2").string()), "PC2 version 7");
    std::string nan = pc2 + std::string(72, '\0');
    nan[32 + 3] = '\x7f', nan[32 + 2] = '\xc0';
    orvtest::writeFile(dir / "nan.pc2", nan);
    expectRefused(enc((dir / "nan.pc2").string()), "not a finite number");
    // MDD: counts that do not match the size, and a cache of other points.
    std::string mdd = {0, 0, 0, 2, 0, 0, 0, 3};
    orvtest::writeFile(dir / "lie.mdd", mdd + std::string(8 + 36, '\0'));
    expectRefused(enc((dir / "lie.mdd").string()), "lie.mdd: 2 frames of 3 points need 88 bytes (or 124");
    orvtest::writeFile(dir / "huge.mdd", std::string{'\x7f', 0, 0, 0, '\x7f', 0, 0, 0});
    expectRefused(enc((dir / "huge.mdd").string()), "huge.mdd:");
    std::string four = {0, 0, 0, 1, 0, 0, 0, 4};
    orvtest::writeFile(dir / "four.mdd", four + std::string(4 + 48, '\0'));
    expectRefused(enc((dir / "four.mdd").string()), "has 4 points, the mesh");
    // A point cache without --mesh, and relative indices reaching too far.
    expectRefused(orvtest::run("OrvEnc", {"-o", (dir / "x.orv").string(), (dir / "four.mdd").string()}), "--mesh");
    orvtest::writeFile(dir / "rel.obj", "v 0 0 0\nv 1 0 0\nf -1 -2 -3\n");
    expectRefused(orvtest::run("OrvEnc", {"-o", (dir / "x.orv").string(), (dir / "rel.obj").string()}),
                  "reaches before the first vertex");
    // OrvExport: not a package, a broken package, an unknown option, .gltf.
    const char junk[] = "ORVPKG\r\n\x01\x00\x00\x00META\xff\xff\xff\xff\xff\xff\xff\x7f";
    orvtest::writeFile(dir / "junk.orvp", std::string(junk, sizeof junk - 1));
    expectRefused(orvtest::run("OrvExport", {(dir / "junk.orvp").string(), (dir / "o.pc2").string()}), "claims");
    expectRefused(orvtest::run("OrvExport", {(dir / "mesh.obj").string(), (dir / "o.pc2").string()}), "-c CON.obj");
    expectRefused(orvtest::run("OrvExport", {"a", "b", "--bogus"}), "unknown option --bogus");
    expectRefused(orvtest::run("OrvExport", {(dir / "junk.orvp").string(), (dir / "o.gltf").string()}), ".glb");
    expectRefused(orvtest::run("OrvExport", {"a", "b", "--digits", "18"}), "--digits");
    EXPECT_FALSE(fs::exists(dir / "o.pc2"));
}

TEST(PointCacheFiles, MddWithBlendersRestBlockAndPc2HeaderFields) {
    orvtest::ScratchDir dir;
    PointCacheHeader h;
    h.pointCount = 2;
    h.frameCount = 3;
    h.frameRate = 24;
    h.startTime = 0.5;
    h.startFrame = 12;
    const double frames[3][6] = {{0, 1, 2, 3, 4, 5}, {1.5, 1, 2, 3, 4, 5}, {-2.25, 1, 2, 3, 4, 1e-3}};
    for (const auto kind : {PointCacheWriter::Kind::Pc2, PointCacheWriter::Kind::Mdd}) {
        const std::string path = (dir / (kind == PointCacheWriter::Kind::Pc2 ? "a.pc2" : "a.mdd")).string();
        PointCacheWriter w(kind, path, h);
        for (const auto& f : frames) w.frame(f);
        w.finish();
        const PointCache c = kind == PointCacheWriter::Kind::Pc2 ? readPc2(path) : readMdd(path);
        ASSERT_EQ(c.frames.size(), 3u);
        EXPECT_EQ(c.frames[2][0], -2.25);
        EXPECT_EQ(c.frames[2][5], static_cast<double>(1e-3f));
        if (kind == PointCacheWriter::Kind::Pc2) {
            EXPECT_EQ(c.header.startFrame, 12.0);
        } else {
            EXPECT_NEAR(c.header.frameRate, 24.0, 1e-3);
        }
    }
    // Blender's layout: the same file with a rest block after the times.
    std::string mdd = orvtest::readFile(dir / "a.mdd");
    const std::string rest(24, '\x41');
    mdd.insert(8 + 12, rest);
    orvtest::writeFile(dir / "b.mdd", mdd);
    const PointCache b = readMdd((dir / "b.mdd").string());
    EXPECT_TRUE(b.header.restBlock);
    EXPECT_EQ(b.frames[1][0], 1.5);
    // A writer that is not given every frame leaves nothing behind.
    {
        PointCacheWriter w(PointCacheWriter::Kind::Pc2, (dir / "c.pc2").string(), h);
        w.frame(frames[0]);
    }
    EXPECT_FALSE(fs::exists(dir / "c.pc2"));
    EXPECT_FALSE(fs::exists(dir / "c.pc2.part"));
}

TEST(ObjPolygons, FanFromTheFirstVertexThatGivesNoDegenerateTriangle) {
    FaceList out;
    appendTriangulated({0, 1, 2, 3}, out);
    EXPECT_EQ(out, (FaceList{{0, 1, 2}, {0, 2, 3}}));
    out.clear();
    appendTriangulated({4, 1, 4, 2, 3}, out);  // from 4 the first triangle is (4, 1, 4)
    EXPECT_EQ(out, (FaceList{{1, 4, 2}, {1, 2, 3}, {1, 3, 4}}));
    out.clear();
    appendTriangulated({5, 5, 5, 5}, out);  // nothing clean: the plain fan
    EXPECT_EQ(out.size(), 2u);
}
