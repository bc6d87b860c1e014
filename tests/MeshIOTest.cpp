// OBJ reading (accepted forms, the errors of malformed lines) and writing
// (number text equal to the stream's default formatting, file layout, names).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>

#include "Common/Check.h"
#include "Decoder/MeshIO.h"
#include "TestSupport.h"

using orv::FaceList;

namespace {

struct Read {
    std::unique_ptr<orv::GeometryT<double>> g;
    FaceList faces;
};

Read readText(const std::string& text) {
    orvtest::ScratchDir dir;
    const auto path = dir / "m.obj";
    orvtest::writeFile(path, text);
    Read r;
    r.g = orv::readOBJ(path.string(), r.faces);
    return r;
}

std::string errorOf(const std::string& text) {
    try {
        readText(text);
    } catch (const orv::Error& e) {
        const std::string s = e.what();
        return s.substr(s.find("m.obj"));
    }
    return "";
}

std::string streamText(double v) {
    std::ostringstream os;
    os << v;
    return os.str();
}

std::string charsText(double v) {
    std::string s;
    orv::appendCoordinate(s, v);
    return s;
}

}  // namespace

TEST(ReadOBJ, VerticesFacesAndIgnoredLines) {
    const Read r = readText(
        "# comment\nv 1 2 3\nv -0.5 +2.5e1 .25\r\nvn 0 0 1\nvt 0 1\ng body\nusemtl x\n"
        "v 7 8 9\nf 1 2 3  \r\nf 3/1/1 2/2/2 1//3\n#\nf 1 3 2\nf\t2 3 1\nv\t1e-3 5. 6");
    ASSERT_TRUE(r.g);
    EXPECT_EQ(r.g->V, 4);
    EXPECT_EQ(r.g->F, 1);
    EXPECT_EQ(r.g->position(1, 0), (orv::Vector3d{-0.5, 25, 0.25}));
    EXPECT_EQ(r.g->position(3, 0), (orv::Vector3d{1e-3, 5, 6}));
    // The lone "#" ends at its line feed and does not swallow "f 1 3 2".
    EXPECT_EQ(r.faces, (FaceList{{0, 1, 2}, {2, 1, 0}, {0, 2, 1}, {1, 2, 0}}));
}

TEST(ReadOBJ, LongWordsAndLinesFollowTheSkipRules) {
    // A first word of 16 characters is cut at 15 and matches nothing.
    EXPECT_TRUE(readText("vvvvvvvvvvvvvvvv 1 2 3\nv 1 2 3\n").g->V == 1);
    // A comment is skipped whole whatever its length: nothing in its tail is
    // read as a vertex or a face (other long lines keep the 1024 rule).
    for (const std::string tail : {"v 4 5 6", "f 1 1 1", "f 1 2"}) {
        const Read r = readText("v 0 0 0\n#" + std::string(1024, ' ') + tail + "\n# x" + std::string(5000, 'y') +
                                tail + "\nv 1 1 1\n");
        EXPECT_EQ(r.g->V, 2);
        EXPECT_TRUE(r.faces.empty());
    }
    EXPECT_EQ(readText("g " + std::string(1023, 'x') + "v 4 5 6\n").g->V, 1);
    // A vertex line whose coordinate is far beyond any buffer size is still read.
    EXPECT_EQ(readText("v 1 2 " + std::string(100000, '0') + "3\n").g->position(0, 0).z, 3);
}

TEST(ReadOBJ, AByteOrderMarkDoesNotHideTheFirstLine) {
    const Read r = readText("\xEF\xBB\xBFv 1 2 3\nv 4 5 6\nv 7 8 9\nf 1 2 3\n");
    ASSERT_TRUE(r.g);
    EXPECT_EQ(r.g->V, 3);
    EXPECT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(readText("\xEF\xBB\xBF" "f 1 2 3\n").faces.size(), 1u);
    // Only at the start of the file.
    EXPECT_EQ(readText("v 1 2 3\n\xEF\xBB\xBFv 4 5 6\n").g->V, 1);
}

TEST(ReadOBJ, OnlyVerticesOrNothing) {
    EXPECT_TRUE(readText("v 1 2 3\n").faces.empty());
    EXPECT_FALSE(readText("# nothing\n").g);
    FaceList faces;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(orv::readOBJ("/nonexistent/x.obj", faces));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Opening file /nonexistent/x.obj failed!\n");
}

TEST(ReadOBJ, MalformedLinesNameFileAndLine) {
    EXPECT_EQ(errorOf("v 0 0 0\nf 1 2\n"), "m.obj, line 2: a face line has 2 indices; faces must be triangles");
    EXPECT_EQ(errorOf("\n\nf 1 2 3 4\n"), "m.obj, line 3: a face line has 4 indices; faces must be triangles");
    EXPECT_EQ(errorOf("f 1 0 2\n"), "m.obj, line 1: the face index 0 is below 1");
    EXPECT_EQ(errorOf("f -1 -2 -3\n"), "m.obj, line 1: the face index -1 is below 1");
    EXPECT_EQ(errorOf("f a b c\n"), "m.obj, line 1: the face index \"a\" has no number");
    EXPECT_EQ(errorOf("f /1 2 3\n"), "m.obj, line 1: the face index \"/1\" has no number");
    EXPECT_EQ(errorOf("f 1 2 99999999999\n"), "m.obj, line 1: the face index \"99999999999\" is out of range");
    EXPECT_EQ(errorOf("v 1 2\nv 1 2 3\n"), "m.obj, line 1: a vertex line needs three coordinates");
    EXPECT_EQ(errorOf("#\nv 1 x 3\n"), "m.obj, line 2: cannot read the vertex coordinate \"x\"");
    EXPECT_EQ(errorOf("v 1 2 inf\n"), "m.obj, line 1: cannot read the vertex coordinate \"inf\"");
    EXPECT_EQ(errorOf("v 1 2 1e\n"), "m.obj, line 1: cannot read the vertex coordinate \"1e\"");
    EXPECT_EQ(errorOf("v 1 2 1e999\n"), "m.obj, line 1: the vertex coordinate \"1e999\" is out of range");
    EXPECT_EQ(errorOf("f " + std::string(5000, '7') + " 1 2\n").substr(0, 39), "m.obj, line 1: the face index \"77777777");
    // Underflow is accepted as stream extraction accepts it.
    EXPECT_EQ(readText("v 1e-400 4.9e-324 -1e-310\n").g->position(0, 0).y, 4.9e-324);
    // Token forms stream extraction takes: 7abc gives 7, texture and normal parts are ignored.
    EXPECT_EQ(readText("f 7abc 8/x 9//\n").faces, (FaceList{{6, 7, 8}}));
}

// Coordinates are read by one conversion where the token allows it, by the
// checked grammar otherwise: the values and errors must be the same either
// way, for tokens at the end of the text without a line feed, longer than
// the conversion's window, with exponents, a point at either end, and text
// that only starts like a number.
TEST(ReadOBJ, CoordinateTokensReadAsTheGrammarSays) {
    const std::string digits60 = "0." + std::string(58, '3');
    const std::string long60 = "-1234567890123456789012345678901234567890.123456789012345678";
    struct Case {
        std::string token;
        double value;
    };
    const Case cases[] = {{"1", 1},         {"-0.25", -0.25},     {"1.", 1},       {"-.5", -0.5},       {".5", 0.5},
                          {"+2", 2},        {"1e3", 1000},       {"-1.5E-2", -0.015}, {"7e+1", 70},
                          {"0.97907069999999996", 0.97907069999999996}, {digits60, 1.0 / 3},
                          {long60, -1234567890123456789012345678901234567890.123456789012345678}};
    for (const Case& c : cases)
        for (const char* end : {"\n", "", " \r\n", "\t# note\n"}) {
            const std::string text = "v 0 0 " + c.token + end;
            EXPECT_EQ(readText(text).g->position(0, 0).z, c.value) << "'" << text << "'";
        }
    for (const std::string bad : {"1.5x", "1e", "1e+", "0x10", "-", "--1", "1..2", "1.5e3.5", "-inf", "nan", "1,5"}) {
        for (const char* end : {"\n", ""}) {
            EXPECT_EQ(errorOf("v 0 0 " + bad + end), "m.obj, line 1: cannot read the vertex coordinate \"" + bad + "\"")
                << bad;
        }
    }
    EXPECT_EQ(errorOf("v 0 0 -1e999"), "m.obj, line 1: the vertex coordinate \"-1e999\" is out of range");
    EXPECT_EQ(readText("v 0 0 1e-400").g->position(0, 0).z, 0.0);
}

TEST(OBJText, CoordinatesEqualTheStreamDefaultFormatting) {
    const double edges[] = {0.0, -0.0, 0.5, 0.1, 1234567.0, 1e-7, 123456.5, 999999.5, 9999995.0, 0.0001, 999999.0,
                            9.999995, 99999.95, 0.00099999951, 0.000099999951, 1e-5, 123456.0, 1e6, 1e-4,
                            0.00001, 1e16, 1e300, -1e-300, 4.9e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                            std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    for (double v : edges) EXPECT_EQ(charsText(v), streamText(v)) << v;
    EXPECT_EQ(charsText(1234567.0), "1.23457e+06");
    EXPECT_EQ(charsText(-0.0), "-0");

    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> coordinate(-2.0, 2.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    int mismatches = 0;
    for (int i = 0; i < 500000 && mismatches < 5; ++i) {
        double v;
        uint64_t bits = rng();
        switch (i % 5) {
            case 0: std::memcpy(&v, &bits, 8); break;  // every exponent, subnormals, NaNs
            case 1: v = coordinate(rng); break;
            case 2: v = std::round(coordinate(rng) * 1e7) / 1e7; break;  // many seventh digits 5: ties
            case 3: {  // within a few ulps of a six-digit tie, at every exponent
                const double tie = (static_cast<double>(rng() % 900000 + 100000) + 0.5) * std::pow(10.0, exponent(rng) / 2 - 5);
                v = tie;
                for (int k = static_cast<int>(rng() % 7) - 3; k != 0; k += k > 0 ? -1 : 1)
                    v = std::nextafter(v, k > 0 ? INFINITY : -INFINITY);
                break;
            }
            default: v = std::round(coordinate(rng) * 1e6) / 1e6 * std::pow(10.0, exponent(rng)); break;
        }
        if (charsText(v) != streamText(v)) {
            ++mismatches;
            ADD_FAILURE() << charsText(v) << " != " << streamText(v);
        }
    }
}

TEST(OBJText, FileLayoutAndFrameNames) {
    orv::GeometryT<double> g(2, 12);
    g.setPosition(1, 7, {0.5, -0.0, 1234567.0});
    const FaceList faces = {{0, 1, 1}};
    const std::string text = orv::objFrameText(g, 7, faces);
    // The attribution line ends with the date in the fixed ctime form.
    const size_t second = text.find('\n') + 1, third = text.find('\n', second) + 1;
    EXPECT_EQ(text.substr(0, second), "# OBJ data file\n");
    const std::string date = text.substr(third - 25, 24);
    char weekday[4], month[4];
    int day, h, m, s, year;
    EXPECT_EQ(std::sscanf(date.c_str(), "%3s %3s %2d %2d:%2d:%2d %4d", weekday, month, &day, &h, &m, &s, &year), 7);
    EXPECT_NE(std::string("SunMonTueWedThuFriSat").find(weekday), std::string::npos) << date;
    EXPECT_EQ(date[3], ' ');
    EXPECT_EQ(date[7], ' ');
    EXPECT_EQ(date[13], ':');
    EXPECT_EQ(text.substr(third), "# 2 vertices, 1 faces\nv 0 0 0\nv 0.5 -0 1.23457e+06\nf 1 2 2\n");

    orvtest::ScratchDir dir;
    const std::string prefix = (dir / "walkDec").string();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(orv::writeOBJFrames(faces, prefix, g));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.substr(0, prefix.size() + 7), prefix + "00.obj\r");
    EXPECT_EQ(out.substr(out.size() - 90), "COMPLETED!" + std::string(79, ' ') + "\n");
    EXPECT_EQ(orvtest::readFile(dir / "walkDec07.obj").substr(text.find("# 2")), text.substr(text.find("# 2")));
    EXPECT_TRUE(std::filesystem::exists(dir / "walkDec11.obj"));

    testing::internal::CaptureStdout();
    EXPECT_FALSE(orv::writeOBJFrames(faces, (dir / "missing" / "x").string(), g));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), (dir / "missing" / "x00.obj\r").string() + "Error: Creating file " +
                                                          (dir / "missing" / "x00.obj").string() + " (frame 0) failed!\n");
}

// The reader of later frames keeps flat, reused buffers; it must read every
// number to the same bits and refuse every line with the same words.
TEST(ReadOBJ, FrameBuffersReadWhatTheReaderReads) {
    const std::vector<std::string> texts = {
        "v 1e-320 4.9e-324 2.2250738585072011e-308\nv +1.5 .5 5.\nv -0 1E+3 -7e-2\n"
        "v 0.12345678901234567890123456789 123456789012345678901234567890 1e-400\n"
        "f 1 2 3 4\nf -4/1 -3//2 -2/3/4\n# comment\nvn 0 0 1\n",
        "\xEF\xBB\xBFv 3 2 1\nv 0 0 0\nv 1 1 1\nf 1 2 3\n",
        "v 1 2\n", "v 1 2 3\nf 1 2 0\n", "v 1 2 1e999\n", "v 1 2 3\nf 1 2 -5\n", "v 1 2 3 \nf 1 x 2\n",
        "v 1 2 3\nf 1 2\n", "v 1..2 2 3\n", "# nothing\n",
    };
    const orv::ObjFaceOptions options{.triangulate = true, .relativeIndices = true};
    orv::ObjFrameBuffers buffers;  // reused, as the loader does
    for (const std::string& text : texts) {
        std::string expected, got;
        FaceList faces;
        std::unique_ptr<orv::GeometryT<double>> g;
        try {
            g = orv::parseOBJ("m.obj", text, faces, options);
        } catch (const orv::Error& e) {
            expected = e.what();
        }
        buffers.text = text;
        try {
            orv::parseOBJFrame("m.obj", options, buffers);
        } catch (const orv::Error& e) {
            got = e.what();
        }
        EXPECT_EQ(got, expected) << text;
        if (!expected.empty()) continue;
        ASSERT_EQ(buffers.xyz.size(), g ? 3 * static_cast<size_t>(g->V) : 0) << text;
        if (g) {
            EXPECT_EQ(std::memcmp(buffers.xyz.data(), g->frame(0), buffers.xyz.size() * sizeof(double)), 0) << text;
        }
        std::vector<int> flat;
        for (const auto& face : faces) flat.insert(flat.end(), face.begin(), face.end());
        EXPECT_EQ(buffers.triangles, flat) << text;
    }
}

// Later frames that repeat the first frame's face lines take its triangles
// without parsing them; any difference before or within those lines (a
// vertex more, which moves relative ids; a face changed, added or cut) must
// parse as without the shortcut, errors included.
TEST(ReadOBJ, FaceTailsStandInOnlyForTheSameTextAfterAsManyVertices) {
    const orv::ObjFaceOptions options{.triangulate = true, .relativeIndices = true};
    const std::string faces = "f 1 2 3 4\n# a comment\nf -3 -2 -1\n";
    orv::ObjFrameBuffers first;
    first.text = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 2 2\n" + faces;
    orv::ObjFaceTail tail;
    orv::parseOBJFrame("0.obj", options, first, &tail);
    ASSERT_TRUE(tail.usable);
    EXPECT_EQ(tail.verticesBefore, 5u);
    EXPECT_EQ(tail.text, faces);
    EXPECT_EQ(tail.triangles, first.triangles);
    EXPECT_EQ(tail.polygonsSplit, 1);

    const std::vector<std::string> later = {
        "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nv 3 3 3\n" + faces,          // the shortcut
        "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nv 3 3 3\nv 4 4 4\n" + faces, // relative ids move
        "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n" + faces,                   // and here too
        "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nv 3 3 3\n" + faces + "f 1 2 5\n",
        "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nv 3 3 3\nf 1 2 3 4\n# a comment\nf -3 -1 -2\n",
        "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nv 3 3 3\nf 1 2 3 4\n",
        "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nv 3 3 3\n" + faces + "v 1 2\n",
        "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nv 3 3 3\nf 1 2 3 4\nf 1 2 -9\n",
    };
    orv::ObjFrameBuffers with, without;
    with.knownTail = &tail;
    for (const std::string& text : later) {
        std::string expected, got;
        without.text = with.text = text;
        try {
            orv::parseOBJFrame("1.obj", options, without);
        } catch (const orv::Error& e) {
            expected = e.what();
        }
        try {
            orv::parseOBJFrame("1.obj", options, with);
        } catch (const orv::Error& e) {
            got = e.what();
        }
        EXPECT_EQ(got, expected) << text;
        if (!expected.empty()) continue;
        EXPECT_EQ(with.xyz, without.xyz) << text;
        EXPECT_EQ(with.triangles, without.triangles) << text;
        EXPECT_EQ(with.polygonsSplit, without.polygonsSplit) << text;
    }

    // The shortcut is taken on the same text after as many vertices (a
    // planted tail shows it), and only then.
    orv::ObjFaceTail planted{"f 1 2 3\n", 3, {2, 1, 0}, 0, true};
    with.knownTail = &planted;
    with.text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    orv::parseOBJFrame("2.obj", options, with);
    EXPECT_EQ(with.triangles, (std::vector<int>{2, 1, 0}));
    with.text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 1\nf 1 2 3\n";
    orv::parseOBJFrame("2.obj", options, with);
    EXPECT_EQ(with.triangles, (std::vector<int>{0, 1, 2}));
    planted.usable = false;
    with.text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    orv::parseOBJFrame("2.obj", options, with);
    EXPECT_EQ(with.triangles, (std::vector<int>{0, 1, 2}));

    // A vertex after the faces makes a tail unusable: what follows the
    // first face line is then not faces alone.
    orv::ObjFrameBuffers mixed;
    mixed.text = "v 0 0 0\nv 1 0 0\nf 1 2 3\nv 0 1 0\n";
    orv::ObjFaceTail mixedTail;
    orv::parseOBJFrame("3.obj", options, mixed, &mixedTail);
    EXPECT_FALSE(mixedTail.usable);
}
