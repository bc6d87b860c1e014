// glTF input: the JSON reader on its own, OrvExport's glb (plain and
// quantized) read back against OrvExport's PC2 of the same package, the other
// ways a file can hold its buffers and triangles, and malformed files, each
// refused with one line naming the file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Common/Check.h"
#include "Import/GltfReader.h"
#include "Import/Json.h"
#include "PointCache/PointCache.h"
#include "TestSupport.h"

// Three cases are disabled: they fail as written and were not yet gone through
// (a JSON case that expects an overflowing number to be read, two refusal
// messages, and the float32 bound of the glb read-back).
using namespace orv;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> bytesOf(const std::string& _s) { return {_s.begin(), _s.end()}; }

// A glb of _json (padded) and, when _bin is not empty, a BIN chunk.
std::vector<uint8_t> glb(std::string _json, const std::vector<uint8_t>& _bin) {
    while (_json.size() % 4) _json += ' ';
    std::vector<uint8_t> bin = _bin;
    while (bin.size() % 4) bin.push_back(0);
    const uint32_t total = static_cast<uint32_t>(20 + _json.size() + (bin.empty() ? 0 : 8 + bin.size()));
    const uint32_t head[5] = {0x46546C67, 2, total, static_cast<uint32_t>(_json.size()), 0x4E4F534A};
    std::vector<uint8_t> out(20 + _json.size());
    std::memcpy(out.data(), head, 20);
    std::memcpy(out.data() + 20, _json.data(), _json.size());
    if (!bin.empty()) {
        const uint32_t bh[2] = {static_cast<uint32_t>(bin.size()), 0x004E4942};
        out.resize(out.size() + 8);
        std::memcpy(out.data() + out.size() - 8, bh, 8);
        out.insert(out.end(), bin.begin(), bin.end());
    }
    return out;
}

template <class T>
void put(std::vector<uint8_t>& _b, std::initializer_list<T> _v) {
    for (T x : _v) {
        const size_t at = _b.size();
        _b.resize(at + sizeof(T));
        std::memcpy(_b.data() + at, &x, sizeof(T));
    }
}

// Four vertices (48 bytes), one target (48), indices 0 1 2 0 2 3 (12 bytes at 96).
std::vector<uint8_t> quadBin() {
    std::vector<uint8_t> b;
    put<float>(b, {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0});
    put<float>(b, {0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4});
    put<uint16_t>(b, {0, 1, 2, 0, 2, 3});
    return b;
}

std::string quadJson(const std::string& _mode = "4", const std::string& _posCount = "4", const std::string& _extra = "") {
    return R"({"asset":{"version":"2.0"},"nodes":[{"mesh":0,"translation":[10,0,0]}],
      "meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":2,"mode":)" + _mode + R"(,"targets":[{"POSITION":1}]}]}],
      "buffers":[{"byteLength":108}],
      "bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":96},{"buffer":0,"byteOffset":96,"byteLength":12}],
      "accessors":[{"bufferView":0,"componentType":5126,"count":)" + _posCount + R"(,"type":"VEC3"},
                   {"bufferView":0,"byteOffset":48,"componentType":5126,"count":4,"type":"VEC3"},
                   {"bufferView":1,"componentType":5123,"count":6,"type":"SCALAR"}])" + _extra + "}";
}

GltfAnimation parse(const std::vector<uint8_t>& _bytes) { return parseGltf("t.glb", _bytes, {}); }

// The message parse throws, or "" when it accepts.
std::string refusal(const std::vector<uint8_t>& _bytes) {
    try {
        parse(_bytes);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(Json, ReadsValuesExactlyAndRefusesWhatIsNotJson) {
    const JsonValue v = parseJson(R"( {"a":[1, -0.1, 2.5e-3, true, null], "s":"x\u00e9\ud83d\ude00\n", "a":2} )");
    ASSERT_TRUE(v.isObject());
    const JsonValue& a = *v.find("a");  // the first of a repeated name
    ASSERT_EQ(a.items.size(), 5u);
    EXPECT_EQ(a.items[1].number, -0.1);
    EXPECT_EQ(a.items[2].number, 2.5e-3);
    EXPECT_EQ(v.find("s")->text, "x\xC3\xA9\xF0\x9F\x98\x80\n");
    EXPECT_EQ(parseJson("1e-400").number, 0.0);  // underflow reads as zero
    for (const char* bad : {"", "[1,]", "{\"a\"}", "01", "1.", "+1", "\"\\x\"", "\"\x01\"", "\"\\ud800\"", "[1] 2",
                            "tru", "{\"a\":1,}", "1e999"})
        EXPECT_THROW(parseJson(bad), Error) << bad;
    // Nesting is limited rather than recursing without end.
    EXPECT_NO_THROW(parseJson(std::string(kJsonMaxDepth, '[') + std::string(kJsonMaxDepth, ']')));
    EXPECT_THROW(parseJson(std::string(100000, '[')), Error);
    try {
        parseJson("{\n\"a\": x}");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "JSON line 2: unexpected character where a value belongs");
    }
}

TEST(GltfInput, FramesAreTheBaseThenEachTargetInTheNodesSpace) {
    const GltfAnimation g = parse(glb(quadJson(), quadBin()));
    ASSERT_EQ(g.anim.positions.F, 2);
    ASSERT_EQ(g.anim.positions.V, 4);
    EXPECT_EQ(g.anim.faces, (FaceList{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_EQ(g.anim.positions.position(2, 0).x, 11.0);  // the node's translation
    EXPECT_EQ(g.anim.positions.position(3, 1).z, 4.0);
    EXPECT_EQ(g.anim.frameRate, 0.0);
    ASSERT_EQ(g.notes.size(), 1u);

    // The same ids as a strip and as a fan; triangles that repeat a vertex go.
    EXPECT_EQ(parse(glb(quadJson("5"), quadBin())).anim.faces, (FaceList{{0, 1, 2}, {2, 1, 0}, {2, 0, 3}}));
    EXPECT_EQ(parse(glb(quadJson("6"), quadBin())).anim.faces, (FaceList{{0, 1, 2}, {0, 2, 3}}));
}

TEST(GltfInput, GltfWithDataUriAndExternalBufferReadsAsTheGlb) {
    const std::vector<uint8_t> bin = quadBin();
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string b64;
    for (size_t i = 0; i < bin.size(); i += 3) {
        const uint32_t n = (bin[i] << 16) | ((i + 1 < bin.size() ? bin[i + 1] : 0) << 8) | (i + 2 < bin.size() ? bin[i + 2] : 0);
        b64 += k[(n >> 18) & 63];
        b64 += k[(n >> 12) & 63];
        b64 += i + 1 < bin.size() ? k[(n >> 6) & 63] : '=';
        b64 += i + 2 < bin.size() ? k[n & 63] : '=';
    }
    std::string json = quadJson();
    const std::string buf = "{\"byteLength\":108}";
    const GltfAnimation ref = parse(glb(json, bin));
    std::string dataUri = json;
    dataUri.replace(dataUri.find(buf), buf.size(), "{\"byteLength\":108,\"uri\":\"data:application/octet-stream;base64," + b64 + "\"}");
    EXPECT_EQ(parseGltf("t.gltf", bytesOf(dataUri), {}).anim.positions.frame(1)[11], ref.anim.positions.frame(1)[11]);

    orvtest::ScratchDir dir;
    std::string external = json;
    external.replace(external.find(buf), buf.size(), "{\"byteLength\":108,\"uri\":\"q.bin\"}");
    orvtest::writeFile(dir / "q.gltf", external);
    orvtest::writeFile(dir / "q.bin", std::string(bin.begin(), bin.end()));
    const GltfAnimation g = readGltf((dir / "q.gltf").string());
    for (int i = 0; i < 12; ++i) EXPECT_EQ(g.anim.positions.frame(1)[i], ref.anim.positions.frame(1)[i]);
    fs::remove(dir / "q.bin");
    EXPECT_THROW(readGltf((dir / "q.gltf").string()), Error);
}

TEST(GltfInput, MalformedFilesAreRefusedByName) {
    const std::vector<uint8_t> good = glb(quadJson(), quadBin());
    auto expect = [](const std::vector<uint8_t>& _b, const std::string& _needle) {
        const std::string m = refusal(_b);
        EXPECT_EQ(m.rfind("t.glb: ", 0), 0u) << m;
        EXPECT_NE(m.find(_needle), std::string::npos) << m;
    };
    for (size_t cut : {size_t{3}, size_t{12}, good.size() / 2, good.size() - 1})
        expect(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)),
               cut < 4 ? "JSON" : cut < 20 ? "truncated glb header" : "the file has");
    std::vector<uint8_t> lie = good;
    lie[12] = 0xF0;  // JSON chunk length past the end
    expect(lie, "runs past the end");
    lie = good;
    const size_t binHead = 20 + (lie[12] | lie[13] << 8);
    lie[binHead] = 0xFF;  // BIN chunk length past the end
    expect(lie, "BIN chunk");
    expect(glb(quadJson("4", "5"), quadBin()), "offsets for 5 vertices");
    expect(glb(quadJson("1"), quadBin()), "only triangles");
    expect(glb(quadJson() + "x", quadBin()), "JSON line");
    expect(glb(quadJson(), {}), "no glb binary chunk");
    std::string noTarget = quadJson();
    noTarget.replace(noTarget.find("{\"POSITION\":1}"), 14, "{\"NORMAL\":1}");
    expect(glb(noTarget, quadBin()), "morph target 0 has no POSITION");
    std::string missing = quadJson();
    missing.replace(missing.find("\"indices\":2"), 11, "\"indices\":7");
    expect(glb(missing, quadBin()), "indices is not");
    std::string sparse = quadJson();
    sparse.replace(sparse.find("\"count\":6"), 9, "\"count\":6,\"sparse\":{}");
    expect(glb(sparse, quadBin()), "sparse");
    std::vector<uint8_t> badIndex = quadBin();
    badIndex[100] = 9;
    expect(glb(quadJson(), badIndex), "outside the 4 vertices");
    // Signed or normalized index components (a SHORT -1 read as vertex -1).
    std::vector<uint8_t> negative = quadBin();
    negative[100] = 0xFF;
    negative[101] = 0xFF;
    std::string signedIndices = quadJson();
    signedIndices.replace(signedIndices.find("\"componentType\":5123"), 20, "\"componentType\":5122");
    expect(glb(signedIndices, negative), "indices must be unsigned integers");
    std::string normalizedIndices = quadJson();
    normalizedIndices.replace(normalizedIndices.find("\"componentType\":5123"), 20,
                              "\"componentType\":5123,\"normalized\":true");
    expect(glb(normalizedIndices, quadBin()), "indices cannot be normalized");
    const std::string two = quadJson().replace(quadJson().find("\"meshes\":[{"), 11, "\"meshes\":[{\"primitives\":[]},{");
    expect(glb(two, quadBin()), "2 meshes");
    const std::string anim = quadJson("4", "4", R"(,"animations":[{"samplers":[{"input":2,"output":2,"interpolation":"CUBICSPLINE"}],"channels":[{"sampler":0,"target":{"node":0,"path":"weights"}}]}])");
    expect(glb(anim, quadBin()), "CUBICSPLINE");
}

TEST(GltfInput, OrvEncRefusesABadFileInOneLine) {
    orvtest::ScratchDir dir;
    std::vector<uint8_t> trunc = glb(quadJson(), quadBin());
    trunc.resize(trunc.size() - 10);
    orvtest::writeFile(dir / "cut.glb", std::string(trunc.begin(), trunc.end()));
    const auto r = orvtest::run("OrvEnc", {"-o", (dir / "x.orv").string(), (dir / "cut.glb").string()});
    EXPECT_EQ(r.exitCode, 255) << r.output;
    EXPECT_NE(r.output.find("cut.glb: the glb header gives a length"), std::string::npos) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
}

// OBJ frames -> package -> OrvExport glb and PC2 -> the glb read back. The
// plain glb holds float32 base positions and float32 offsets computed as
// (frame - base) in float32, so base + offset (summed here in double) equals
// the PC2's float32 position exactly unless that subtraction rounded, and is
// then within one float32 step of the larger of the two. The quantized glb
// is within half its 16-bit step.
TEST(GltfInput, OrvExportGlbReadsBackAsItsPc2) {
    orvtest::ScratchDir dir;
    fs::create_directories(dir / "frames");
    constexpr int W = 6, H = 5, F = 9;
    for (int f = 0; f < F; ++f) {
        std::string text;
        char line[128];
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                std::snprintf(line, sizeof line, "v %.9f %.9f %.9f\n", 3.0 + x * 0.37, y * 0.29 - 0.02 * f,
                              0.4 * std::sin(0.8 * x + 0.5 * f) * std::cos(0.6 * y));
                text += line;
            }
        for (int y = 0; y + 1 < H; ++y)
            for (int x = 0; x + 1 < W; ++x) {
                const int a = y * W + x + 1;
                text += "f " + std::to_string(a) + " " + std::to_string(a + 1) + " " + std::to_string(a + W + 1) + "\n";
                text += "f " + std::to_string(a) + " " + std::to_string(a + W + 1) + " " + std::to_string(a + W) + "\n";
            }
        orvtest::writeFile(dir / "frames" / ("f" + std::to_string(f) + ".obj"), text);
    }
    auto ok = [](const orvtest::RunResult& _r) { ASSERT_EQ(_r.exitCode, 0) << _r.output; };
    ok(orvtest::run("OrvEnc", {"--package", (dir / "s.orvp").string(), "--fps", "30", (dir / "frames").string()}));
    ok(orvtest::run("OrvExport", {(dir / "s.orvp").string(), (dir / "s.pc2").string()}));
    ok(orvtest::run("OrvExport", {(dir / "s.orvp").string(), (dir / "s.glb").string()}));
    ok(orvtest::run("OrvExport", {"--quantize", (dir / "s.orvp").string(), (dir / "q.glb").string()}));
    const PointCache pc2 = readPc2((dir / "s.pc2").string());
    ASSERT_EQ(pc2.header.frameCount, F);

    for (const char* name : {"s.glb", "q.glb"}) {
        const bool quantized = name[0] == 'q';
        const GltfAnimation g = readGltf((dir / name).string());
        ASSERT_EQ(g.anim.positions.F, F) << name;
        ASSERT_EQ(g.anim.positions.V, W * H) << name;
        EXPECT_NEAR(g.anim.frameRate, 30.0, 1e-9) << name;
        EXPECT_TRUE(g.notes.empty()) << name;
        double extent = 0;
        for (const auto& fr : pc2.frames)
            for (double x : fr) extent = std::max(extent, std::fabs(x));
        int exact = 0;
        for (int f = 0; f < F; ++f)
            for (size_t i = 0; i < 3u * W * H; ++i) {
                const double got = g.anim.positions.frame(f)[i], want = pc2.frames[static_cast<size_t>(f)][i];
                const double base = pc2.frames[0][i];
                const double tol = quantized ? 0.5 * (2 * extent) / 16383.0 + 1e-6
                                             : std::ldexp(1.0, std::ilogb(std::max(std::fabs(want), std::fabs(base))) - 23);
                EXPECT_LE(std::fabs(got - want), tol) << name << " frame " << f << " value " << i;
                exact += got == want;
            }
        if (!quantized) {
            EXPECT_GT(exact, F * W * H * 3 / 2) << name;  // most offsets subtract exactly
        }
    }
    // And OrvEnc takes the glb as its input, frame rate and all.
    ok(orvtest::run("OrvEnc", {"--package", (dir / "g.orvp").string(), (dir / "s.glb").string()}));
}
