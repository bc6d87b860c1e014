// OrvEnc as a program: help and version, argument errors, frames that do not
// fit together, unreadable input, output that is never left half-written, and
// round trips through OrvDec that reproduce the encoder's own reconstruction.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "EncoderApp/EncoderOptions.h"
#include "Encoder/FrameCodingOrderGen.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using orvtest::readFile;
using orvtest::run;
using orvtest::ScratchDir;
using orvtest::writeFile;

namespace {

// A small waving grid: _nx x _ny vertices, _F frames named 0.obj, 1.obj, ...
void writeGridFrames(const fs::path& _dir, int _nx, int _ny, int _F) {
    fs::create_directories(_dir);
    for (int f = 0; f < _F; ++f) {
        std::ostringstream s;
        s.precision(9);
        for (int i = 0; i < _nx; ++i)
            for (int j = 0; j < _ny; ++j) {
                const double u = i / double(_nx - 1), v = j / double(_ny - 1);
                s << "v " << u + 0.02 * std::sin(3.0 * v + 0.4 * f) << " " << v << " "
                  << 0.2 * u * std::sin(6.0 * u - 0.5 * f) + 0.05 * v * v << "\n";
            }
        for (int i = 0; i + 1 < _nx; ++i)
            for (int j = 0; j + 1 < _ny; ++j) {
                const int a = i * _ny + j + 1, b = a + _ny;
                s << "f " << a << " " << b << " " << b + 1 << "\nf " << a << " " << b + 1 << " " << a + 1 << "\n";
            }
        writeFile(_dir / (std::to_string(f) + ".obj"), s.str());
    }
}

int lineCount(const std::string& _s) {
    int n = 0;
    for (char c : _s) n += c == '\n';
    return n;
}

// The lines of an OBJ text that carry data (comments hold a date).
std::string dataLines(const std::string& _text) {
    std::istringstream in(_text);
    std::string line, out;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#') out += line + "\n";
    return out;
}

// Progress may come first, but the error is the last line and the only one.
void expectOneErrorLine(const std::string& _output) {
    ASSERT_FALSE(_output.empty());
    ASSERT_EQ(_output.back(), '\n') << _output;
    const size_t start = _output.rfind('\n', _output.size() - 2);
    const std::string last = _output.substr(start == std::string::npos ? 0 : start + 1);
    EXPECT_EQ(last.rfind("OrvEnc: ", 0), 0u) << _output;
    EXPECT_EQ(_output.find("\nOrvEnc: "), start == std::string::npos ? std::string::npos : start) << _output;
}

std::vector<std::string> listDir(const fs::path& _dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(_dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(OrvEncCli, HelpAndVersion) {
    for (const char* flag : {"--help", "-h"}) {
        const auto r = run("OrvEnc", {flag});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.output.rfind("Usage: OrvEnc [options] -o OUT.orv FRAME...\n", 0), 0u) << r.output;
        for (const char* option : {"--spatial-layers", "--temporal-layers", "--precision", "--steps", "--effort",
                                   "(default 1)", "--target-kg", "--target-max-error", "--target-bpvf",
                                   "--ref-first-frame", "--base-layer-pred", "--connectivity", "--quiet"})
            EXPECT_NE(r.output.find(option), std::string::npos) << option;
    }
    const auto v = run("OrvEnc", {"--version"});
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_EQ(v.output, std::string("OrvEnc ") + ORV_VERSION + "\n");
}

TEST(OrvEncCli, BadArgumentsGiveOneLineAndStatus255) {
    ScratchDir dir;
    writeGridFrames(dir / "in", 6, 5, 3);
    const std::string in = (dir / "in").string(), out = (dir / "s.orv").string();
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{}, "-o OUT.orv"},
        {{in}, "-o OUT.orv"},
        {{"-o", out}, "no frames"},
        {{"-s", "0", "-o", out, in}, "--spatial-layers must be a whole number from 1 to 255"},
        {{"-s", "300", "-o", out, in}, "from 1 to 255"},
        {{"-t", "0", "-o", out, in}, "--temporal-layers"},
        {{"-p", "40", "-o", out, in}, "--precision must be a whole number from 1 to 24"},
        {{"--steps", "-0.5", "-o", out, in}, "positive finite"},
        {{"--steps", "0,1,1", "-o", out, in}, "positive finite"},
        {{"--bogus", "-o", out, in}, "unknown option '--bogus'"},
        {{"-e", "3", "-o", out, in}, "--effort must be a whole number from 0 to 2"},
        {{"-e", "2", "--steps", "0.01", "-o", out, in}, "--steps sets the step sizes for plain rounding"},
        {{"--target-kg", "1", "--target-max-error", "0.01", "-o", out, in}, "only one of"},
        {{"--target-kg", "1", "-p", "10", "-o", out, in}, "leave out --precision and --steps"},
        {{"--base-layer-pred=x", "-o", out, in}, "'global' or 'local'"},
        {{"--threads", "0", "-o", out, in}, "--threads must be a whole number from 1 to 256"},
        {{"-j", "x", "-o", out, in}, "--threads"},
        {{"-o", out, (dir / "nothere").string()}, "does not exist"},
        {{"-o", out, (dir / "none%03d.obj").string()}, "no frame matches"},
    };
    for (const Case& c : cases) {
        const auto r = run("OrvEnc", c.args);
        EXPECT_EQ(r.exitCode, 255) << r.output;
        EXPECT_EQ(lineCount(r.output), 1) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST(OrvEncCli, TemporalLayersBeyondTheFrameHeaderSayWhatWorks) {
    ScratchDir dir;
    fs::create_directories(dir / "in");
    for (int f = 0; f < 300; ++f) writeFile(dir / "in" / (std::to_string(f) + ".obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const auto r = run("OrvEnc", {"-t", "8", "-o", (dir / "s.orv").string(), (dir / "in").string()});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(lineCount(r.output), 1) << r.output;
    EXPECT_NE(r.output.find("use --temporal-layers 7 or fewer"), std::string::npos) << r.output;
    // Key frames that reference frame 0 allow one layer more.
    const auto refFirst = run("OrvEnc", {"-t", "9", "--ref-first-frame", "-o", (dir / "s.orv").string(),
                                         (dir / "in").string()});
    EXPECT_NE(refFirst.output.find("use --temporal-layers 8 or fewer"), std::string::npos) << refFirst.output;
    const auto ok = run("OrvEnc", {"-q", "-t", "8", "--ref-first-frame", "-s", "1", "-o", (dir / "s.orv").string(),
                                   (dir / "in").string()});
    EXPECT_EQ(ok.exitCode, 0) << ok.output;
}

// The count that OrvEnc accepts must be exactly the one whose coding order
// every frame header can express.
TEST(OrvEncCli, TemporalLayerLimitMatchesTheCodingOrder) {
    for (int F : {1, 2, 9, 64, 127, 128, 129, 130, 200, 256, 257, 300, 1000}) {
        for (bool refFirst : {false, true}) {
            int fits = 0;
            for (int nTL = 1; nTL <= 12; ++nTL) {
                std::vector<int> f, tl;
                std::vector<std::vector<int>> rf;
                orv::generateFrameCodingOrder(f, rf, tl, F, nTL, refFirst, refFirst ? 0 : -1);
                bool ok = true;
                for (size_t p = 0; p < f.size(); ++p)
                    for (int r : rf[p]) ok = ok && (r == 0 || std::abs(r - f[p]) < 127);
                if (!ok) break;
                fits = nTL;
            }
            EXPECT_EQ(std::min(orv::maxTemporalLayers(F, refFirst), 12), fits) << "F " << F << " refFirst " << refFirst;
        }
    }
}

TEST(OrvEncCli, FramesThatDoNotMatchAreNamed) {
    ScratchDir dir;
    writeGridFrames(dir / "in", 6, 5, 4);
    const fs::path out = dir / "s.orv";
    // Frame 2 loses its last vertex and the faces that used it.
    std::string text = readFile(dir / "in" / "2.obj");
    writeGridFrames(dir / "small", 6, 4, 1);
    fs::copy_file(dir / "small" / "0.obj", dir / "in" / "2.obj", fs::copy_options::overwrite_existing);
    auto r = run("OrvEnc", {"-o", out.string(), (dir / "in").string()});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.output.find("2.obj' has 24 vertices"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("has 30"), std::string::npos) << r.output;
    // Same vertices, one face turned around.
    const size_t at = text.find("\nf ");
    std::string face = text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    std::istringstream fs_(face.substr(2));
    int a, b, c;
    fs_ >> a >> b >> c;
    text.replace(at + 1, face.size(), "f " + std::to_string(a) + " " + std::to_string(c) + " " + std::to_string(b));
    writeFile(dir / "in" / "2.obj", text);
    r = run("OrvEnc", {"-o", out.string(), (dir / "in").string()});
    EXPECT_EQ(r.exitCode, 255);
    expectOneErrorLine(r.output);
    EXPECT_NE(r.output.find("2.obj': face 1 is"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(out));
}

TEST(OrvEncCli, UnreadableAndMalformedFrames) {
    ScratchDir dir;
    writeGridFrames(dir / "in", 6, 5, 3);
    const std::string out = (dir / "s.orv").string();
    writeFile(dir / "in" / "1.obj", "v 0 0 0\nv 1 zero 0\n");
    auto r = run("OrvEnc", {"-o", out, (dir / "in").string()});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.output.find("1.obj"), std::string::npos) << r.output;
    // A folder named like a frame file holds no frames.
    fs::remove(dir / "in" / "1.obj");
    fs::create_directories(dir / "in" / "1.obj");
    r = run("OrvEnc", {"-o", out, (dir / "in" / "0.obj").string(), (dir / "in" / "1.obj").string()});
    EXPECT_EQ(r.exitCode, 255);
    expectOneErrorLine(r.output);
    EXPECT_NE(r.output.find("1.obj' holds no .obj file"), std::string::npos) << r.output;
    // Permissions only stop a user who is not root.
    if (geteuid() != 0) {
        fs::permissions(dir / "in" / "2.obj", fs::perms::none);
        r = run("OrvEnc", {"-o", out, (dir / "in" / "0.obj").string(), (dir / "in" / "2.obj").string()});
        EXPECT_EQ(r.exitCode, 255);
        EXPECT_NE(r.output.find("cannot read frame file"), std::string::npos) << r.output;
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST(OrvEncCli, FailuresLeaveEarlierOutputUntouchedAndNoTemporaryFiles) {
    ScratchDir dir;
    writeGridFrames(dir / "in", 6, 5, 3);
    fs::create_directories(dir / "out");
    const fs::path out = dir / "out" / "s.orv", con = dir / "out" / "s_con.obj";
    writeFile(out, "old stream");
    writeFile(con, "old connectivity");
    // A failure while loading.
    writeFile(dir / "in" / "2.obj", "v 0 0 0\n");
    auto r = run("OrvEnc", {"-o", out.string(), (dir / "in").string()});
    EXPECT_EQ(r.exitCode, 255);
    // A failure inside the library encoder: residuals this fine do not fit.
    writeGridFrames(dir / "in", 6, 5, 3);
    r = run("OrvEnc", {"--steps", "1e-300", "-o", out.string(), (dir / "in").string()});
    EXPECT_EQ(r.exitCode, 255) << r.output;
    expectOneErrorLine(r.output);
    // A connectivity file that cannot be created.
    r = run("OrvEnc", {"-c", (dir / "no" / "such" / "c.obj").string(), "-o", out.string(), (dir / "in").string()});
    EXPECT_EQ(r.exitCode, 255) << r.output;
    EXPECT_EQ(readFile(out), "old stream");
    EXPECT_EQ(readFile(con), "old connectivity");
    EXPECT_EQ(listDir(dir / "out"), (std::vector<std::string>{"s.orv", "s_con.obj"}));
    // An output folder that does not exist.
    r = run("OrvEnc", {"-o", (dir / "missing" / "s.orv").string(), (dir / "in").string()});
    EXPECT_EQ(r.exitCode, 255) << r.output;
    EXPECT_FALSE(fs::exists(dir / "missing"));
    // Success replaces both.
    r = run("OrvEnc", {"-q", "-o", out.string(), (dir / "in").string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, "");
    EXPECT_NE(readFile(out), "old stream");
    EXPECT_EQ(readFile(con).find("# "), 0u);
    EXPECT_EQ(listDir(dir / "out"), (std::vector<std::string>{"s.orv", "s_con.obj"}));
}

// A step the stream header can carry but the decoders refuse is refused
// before anything is written, whether given or derived from a precision; a
// step just inside the rule decodes.
TEST(OrvEncCli, StepsTheDecodersRefuseAreNotWritten) {
    ScratchDir dir;
    writeGridFrames(dir / "in", 6, 5, 3);
    fs::create_directories(dir / "huge");
    for (int f = 0; f < 3; ++f)
        writeFile(dir / "huge" / (std::to_string(f) + ".obj"),
                  "v 0 0 0\nv 1e300 0 0\nv 0 1e300 " + std::to_string(f) + "e299\nf 1 2 3\n");
    const fs::path out = dir / "s.orv";
    const std::vector<std::vector<std::string>> refused = {
        {"--steps", "1.64e296", (dir / "in").string()},
        {"--steps", "0.001,0.001,1e300", (dir / "in").string()},
        {"--steps", "1e-3,1e308,1e-3", (dir / "in").string()},
        {"-e", "0", "-p", "2", (dir / "huge").string()},
        {"-p", "1", (dir / "huge").string()},
    };
    for (std::vector<std::string> args : refused) {
        args.insert(args.begin(), {"-o", out.string()});
        const auto r = run("OrvEnc", args);
        EXPECT_EQ(r.exitCode, 255) << r.output;
        expectOneErrorLine(r.output);
        EXPECT_NE(r.output.find("about 1.6e296"), std::string::npos) << r.output;
        EXPECT_FALSE(fs::exists(out)) << args[args.size() - 2];
        EXPECT_FALSE(fs::exists(dir / "s_con.obj"));
    }
    const auto enc = run("OrvEnc", {"-q", "--steps", "1.63e296", "-o", out.string(), (dir / "in").string()});
    ASSERT_EQ(enc.exitCode, 0) << enc.output;
    const auto dec = run("OrvDec", {"s.orv", "s_con.obj"}, dir.path());
    EXPECT_EQ(dec.exitCode, 0) << dec.output;
}

TEST(OrvEncCli, ReportAndFrameArgumentForms) {
    ScratchDir dir;
    writeGridFrames(dir / "in", 7, 6, 12);
    const auto r = run("OrvEnc", {"-o", (dir / "a.orv").string(), (dir / "in").string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    for (const char* item : {"42 x 12", "8 spatial, 4 temporal", "step sizes", "bits per vertex per frame",
                             "compression ratio", "M vertex-frames/s", "RMSE / diagonal", "max error / diag",
                             "KG error", "Decode with: OrvDec"})
        EXPECT_NE(r.output.find(item), std::string::npos) << item << "\n" << r.output;
    // Not a terminal: no carriage returns.
    EXPECT_EQ(r.output.find('\r'), std::string::npos);
    // A pattern and a list name the same frames as the folder: same stream.
    ASSERT_EQ(run("OrvEnc", {"-q", "-o", (dir / "b.orv").string(), (dir / "in" / "%d.obj").string()}).exitCode, 0);
    std::vector<std::string> list = {"-q", "-o", (dir / "c.orv").string()};
    for (int f = 0; f < 12; ++f) list.push_back((dir / "in" / (std::to_string(f) + ".obj")).string());
    ASSERT_EQ(run("OrvEnc", list).exitCode, 0);
    EXPECT_EQ(readFile(dir / "a.orv"), readFile(dir / "b.orv"));
    EXPECT_EQ(readFile(dir / "a.orv"), readFile(dir / "c.orv"));
}

// OrvEnc's reconstruction is what OrvDec decodes, digit for digit, whatever
// the options.
TEST(OrvEncCli, RoundTripThroughOrvDecReproducesTheReconstruction) {
    const std::vector<std::vector<std::string>> optionSets = {
        {},
        {"-s", "3", "-t", "2"},
        {"--ref-first-frame", "--base-layer-pred", "global", "-t", "3"},
        {"-p", "14,11,9", "-s", "5"},
        {"--steps", "0.002,0.004,0.01", "-s", "1", "-t", "1"},
        {"-p", "6", "-t", "5", "-s", "12"},
        {"--effort", "0"},
        {"-e", "2"},
        {"-e", "2", "-p", "10,9,8", "--ref-first-frame"},
        {"--target-kg", "0.3", "-e", "2", "-s", "4"},
    };
    ScratchDir dir;
    writeGridFrames(dir / "in", 12, 9, 17);
    int k = 0;
    for (const auto& options : optionSets) {
        const std::string name = "s" + std::to_string(k++);
        const fs::path rec = dir / (name + "rec");
        std::vector<std::string> args = options;
        for (const std::string& a : std::vector<std::string>{"-q", "--write-reconstruction", rec.string(), "-o",
                                                             (dir / (name + ".orv")).string(), (dir / "in").string()})
            args.push_back(a);
        const auto enc = run("OrvEnc", args);
        ASSERT_EQ(enc.exitCode, 0) << enc.output;
        const auto dec = run("OrvDec", {name + ".orv", name + "_con.obj"}, dir.path());
        ASSERT_EQ(dec.exitCode, 0) << dec.output;
        for (int f = 0; f < 17; ++f) {
            char number[8];
            std::snprintf(number, sizeof number, "%02d", f);
            const std::string decoded = readFile(dir / (name + "Dec" + number + ".obj"));
            const std::string reconstructed = readFile(rec / (std::string(number) + ".obj"));
            ASSERT_FALSE(dataLines(decoded).empty());
            ASSERT_EQ(dataLines(decoded), dataLines(reconstructed)) << "options set " << k - 1 << ", frame " << f;
        }
    }
}

// Effort 2 chooses its steps and layout by trial, its layer count only unless
// -s is given; the report shows the count and the three steps really used.
TEST(OrvEncCli, EffortLayersAndSteps) {
    ScratchDir dir;
    writeGridFrames(dir / "in", 9, 8, 6);
    const std::string in = (dir / "in").string();
    auto r = run("OrvEnc", {"-e", "2", "-p", "10", "-o", (dir / "a.orv").string(), in});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("effort            : 2 (trials chose "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("/ 2^10)"), std::string::npos) << r.output;
    const auto at = r.output.find("step sizes        : q0 ");
    ASSERT_NE(at, std::string::npos);
    double q0 = 0, q1 = 0, q2 = 0;
    ASSERT_EQ(std::sscanf(r.output.c_str() + at, "step sizes : q0 %lf, q1 %lf, q2 %lf", &q0, &q1, &q2), 3);
    // The candidates' ratios: q0 one of q, 0.6 q, q/8; q1 one of q, q/2.
    const double r0 = q0 / q2, r1 = q1 / q2;
    EXPECT_TRUE(std::fabs(r0 - 1) < 1e-5 || std::fabs(r0 - 0.6) < 1e-5 || std::fabs(r0 - 0.125) < 1e-5) << r0;
    EXPECT_TRUE(std::fabs(r1 - 1) < 1e-5 || std::fabs(r1 - 0.5) < 1e-5) << r1;
    // The layout is one the trials try from the default: nSL 8 +- 2 (twice),
    // nTL 4 +- 1.
    int nSL = 0, nTL = 0;
    const auto layers = r.output.find("layers            : ");
    ASSERT_NE(layers, std::string::npos);
    ASSERT_EQ(std::sscanf(r.output.c_str() + layers, "layers : %d spatial, %d temporal", &nSL, &nTL), 2) << r.output;
    EXPECT_TRUE(nSL >= 4 && nSL <= 12 && nSL % 2 == 0) << nSL;
    EXPECT_TRUE(nTL >= 3 && nTL <= 5) << nTL;
    r = run("OrvEnc", {"-e", "2", "--spatial-layers", "3", "-o", (dir / "b.orv").string(), in});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("layers            : 3 spatial,"), std::string::npos) << r.output;
    // Explicit steps without an effort are plain rounding with exactly those steps.
    r = run("OrvEnc", {"--steps", "0.002,0.004,0.01", "-o", (dir / "c.orv").string(), in});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("q0 0.002, q1 0.004, q2 0.01"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("effort            : 0"), std::string::npos) << r.output;
}

double numberAfter(const std::string& _text, const std::string& _label) {
    const size_t at = _text.find(_label);
    return at == std::string::npos ? -1.0 : std::stod(_text.substr(at + _label.size()));
}

// A KG target is met within the search's encodes and the report says how many;
// a target out of reach is a warning, and the closest stream is still written.
TEST(OrvEncCli, TargetsSearchTheStep) {
    ScratchDir dir;
    writeGridFrames(dir / "in", 12, 9, 10);
    const std::string in = (dir / "in").string();
    auto r = run("OrvEnc", {"--target-kg", "0.4", "-o", (dir / "a.orv").string(), in});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Search encode 1:"), std::string::npos) << r.output;
    const size_t at = r.output.find("target            : KG error <= 0.4 % met after ");
    ASSERT_NE(at, std::string::npos) << r.output;
    const int encodes = std::atoi(r.output.c_str() + r.output.find("after ", at) + 6);
    EXPECT_GE(encodes, 1);
    EXPECT_LE(encodes, 8);
    EXPECT_NE(r.output.find("Search encode " + std::to_string(encodes) + ":"), std::string::npos) << r.output;
    const double kg = numberAfter(r.output, "KG error          : ");
    EXPECT_LE(kg, 0.4);
    EXPECT_GT(kg, 0.3);
    EXPECT_EQ(r.output.find("warning"), std::string::npos);

    // A size target holds for the whole file, length field included.
    r = run("OrvEnc", {"--target-bpvf", "8", "-o", (dir / "c.orv").string(), in});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("bits per vertex per frame <= 8 met"), std::string::npos) << r.output;
    EXPECT_LE(8.0 * static_cast<double>(fs::file_size(dir / "c.orv")) / (108 * 10), 8.0);

    r = run("OrvEnc", {"-q", "--target-bpvf", "1e-6", "-o", (dir / "b.orv").string(), in});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.rfind("OrvEnc: warning: bits per vertex per frame <= 1e-06 not met in ", 0), 0u) << r.output;
    EXPECT_EQ(lineCount(r.output), 1) << r.output;
    EXPECT_TRUE(fs::exists(dir / "b.orv"));
}

// The demo's chain on a short run of the bundled sample: the sample is
// deterministic, and objCompare measures on OrvDec's files what OrvEnc
// reported for its own reconstruction (up to OBJ text rounding).
TEST(OrvEncCli, BundledSampleThroughTheDemoChain) {
    // The tools are built with everything, not as dependencies of the tests.
    for (const char* tool : {"makeSample", "objCompare"})
        if (!fs::exists(orvtest::binPath(tool))) GTEST_SKIP() << tool << " is not built";
    ScratchDir dir;
    ASSERT_EQ(run("makeSample", {(dir / "a").string(), "6"}).exitCode, 0);
    ASSERT_EQ(run("makeSample", {(dir / "b").string(), "6"}).exitCode, 0);
    for (int f = 0; f < 6; ++f) {
        const std::string name = std::to_string(f) + ".obj";
        EXPECT_EQ(readFile(dir / "a" / name), readFile(dir / "b" / name)) << name;
    }
    EXPECT_NE(readFile(dir / "a" / "0.obj"), readFile(dir / "a" / "5.obj"));
    const auto same = run("objCompare", {(dir / "a").string(), (dir / "b").string()});
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_NE(same.output.find("frames 6, vertices 3456: RMSE/diag 0.0000e+00, max/diag 0.0000e+00, KG 0.00000"),
              std::string::npos)
        << same.output;

    const auto enc = run("OrvEnc", {"-o", (dir / "flag.orv").string(), (dir / "a").string()});
    ASSERT_EQ(enc.exitCode, 0) << enc.output;
    ASSERT_EQ(run("OrvDec", {"flag.orv", "flag_con.obj"}, dir.path()).exitCode, 0);
    const auto cmp = run("objCompare", {(dir / "a").string(), (dir / "flagDec%d.obj").string()});
    ASSERT_EQ(cmp.exitCode, 0) << cmp.output;
    const double kgEnc = numberAfter(enc.output, "KG error          : ");
    const double kgDec = numberAfter(cmp.output, "KG ");
    EXPECT_GT(kgEnc, 0.0);
    EXPECT_NEAR(kgDec, kgEnc, 0.02 * kgEnc) << enc.output << cmp.output;
    EXPECT_EQ(run("objCompare", {(dir / "a").string()}).exitCode, 255);
}

}  // namespace

// An output or connectivity name that reaches one of the input frames (by
// another spelling, a symbolic or a hard link) is refused before anything is
// read, and the frame stays as it was.
TEST(OrvEncCliInputs, OutputsNamingAnInputAreRefused) {
    ScratchDir dir;
    writeGridFrames(dir / "frames", 4, 3, 3);
    const std::string before = readFile(dir / "frames" / "1.obj");
    fs::create_symlink("frames/1.obj", dir / "link.obj");
    fs::create_hard_link(dir / "frames" / "2.obj", dir / "hard.obj");
    const std::vector<std::vector<std::string>> cases = {
        {"-o", "frames/./1.obj", "frames"},
        {"-o", "link.obj", "frames"},
        {"-o", "x.orv", "-c", "frames/../frames/1.obj", "frames"},
        {"-o", "x.orv", "-c", "hard.obj", "frames"},
        {"-o", dir.path().string() + "/frames/0.obj", "frames/0.obj", "frames/1.obj"},
    };
    for (const auto& args : cases) {
        const auto r = run("OrvEnc", args, dir.path());
        EXPECT_EQ(r.exitCode, 255) << r.output;
        EXPECT_NE(r.output.find("is the input frame"), std::string::npos) << r.output;
        EXPECT_EQ(lineCount(r.output), 1) << r.output;
    }
    EXPECT_EQ(readFile(dir / "frames" / "1.obj"), before);
    EXPECT_FALSE(fs::exists(dir / "x.orv"));
}

// The thread count is a matter of speed only: every effort and a searched
// target give the same bytes for 1, 2 and 5 threads.
TEST(OrvEncCli, StreamsAreTheSameForAnyThreadCount) {
    ScratchDir dir;
    writeGridFrames(dir / "in", 9, 7, 13);
    const std::string in = (dir / "in").string();
    const std::vector<std::vector<std::string>> settings = {
        {"-e", "0"}, {"-e", "1"}, {"-e", "2"}, {"--target-kg", "0.3"}, {"--target-bpvf", "6", "-e", "2"}};
    for (size_t k = 0; k < settings.size(); ++k) {
        std::string first;
        for (const char* threads : {"1", "2", "5"}) {
            const std::string out = (dir / ("s" + std::to_string(k) + "_" + threads + ".orv")).string();
            std::vector<std::string> args = settings[k];
            for (const std::string& a : {std::string("-q"), std::string("--threads"), std::string(threads),
                                         std::string("-o"), out, in})
                args.push_back(a);
            const auto r = run("OrvEnc", args);
            ASSERT_EQ(r.exitCode, 0) << r.output;
            const std::string bytes = readFile(out);
            ASSERT_FALSE(bytes.empty());
            if (first.empty()) first = bytes;
            EXPECT_EQ(bytes, first) << settings[k][0] << " " << settings[k][1] << " with " << threads << " threads";
        }
    }
}
