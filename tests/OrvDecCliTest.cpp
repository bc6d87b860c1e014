// The decoder's command-line dialogue up to its report block: usage text,
// order of lines, exit statuses and the one-line errors for bad input.
#include <gtest/gtest.h>

#include "StreamBuilder.h"
#include "TestSupport.h"

namespace {

const std::string kUsage =
    "Usage: OrvDec orvfile confile [nSL] [nTL]\n\nOptions:\nnSL\tnumber of spatial layers to decode per frame "
    "(nSL>0).\n   \tThis parameter does not affect frames of the base temporal layer.\nnTL\tnumber of temporal "
    "layers to decode (nTL>0).\n\nDescription:\nOrvDec decodes animated mesh geometry in a scalable fashion from a "
    "orvfile.\nIf nSL and nTL are not specified all spatial and temporal layers contained\nin the orvfile are "
    "decoded. For frames of the base temporal layer always all\nspatial layers are decoded. Geometry of not decoded "
    "layers is interpolated.\n";
const std::string kTetra = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf 1 3 2\nf 1 2 4\nf 2 3 4\nf 1 4 3\n";
const std::string kReading = "Reading connectivity from file: tetra.obj\nReading data from file: tetra.orv\n";

// A valid tetrahedron stream: 4 vertices, one frame, 2 spatial layers, all residuals zero.
std::string tetraStream(int V = 4, int F = 1, int nSL = 2) {
    return orvtest::streamFile(orvtest::bitStream(V, F, orvtest::settings(nSL, 1), {{0, 0, {}, {{}, {}}}}));
}

class OrvDecCli : public testing::Test {
protected:
    void SetUp() override {
        orvtest::writeFile(dir_ / "tetra.obj", kTetra);
        orvtest::writeFile(dir_ / "tetra.orv", tetraStream());
    }
    orvtest::RunResult run(const std::vector<std::string>& args) { return orvtest::run("OrvDec", args, dir_.path()); }
    orvtest::ScratchDir dir_;
};

}  // namespace

TEST_F(OrvDecCli, ReportBlockWithDefaultAndRequestedCounts) {
    auto report = [](int s, int t) {
        return kReading + "Embedded bit stream contains:\n  2 spatial layers\n  1 temporal layers\n"
                          "---------------------------------------\nSettings:\n  decode " +
               std::to_string(s) + "/2 spatial layers\n  decode " + std::to_string(t) + "/1 temporal layers\n";
    };
    EXPECT_EQ(run({"tetra.orv", "tetra.obj"}).output.substr(0, report(2, 1).size()), report(2, 1));
    EXPECT_EQ(run({"tetra.orv", "tetra.obj", "9"}).output.substr(0, report(9, 1).size()), report(9, 1));
    EXPECT_EQ(run({"tetra.orv", "tetra.obj", " 12abc", "+3"}).output.substr(0, report(12, 3).size()), report(12, 3));
}

TEST_F(OrvDecCli, BadCountsAndArgumentCountsGiveTheUsageText) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"tetra.orv", "tetra.obj", "0"}, {"tetra.orv", "tetra.obj", "abc"}, {"tetra.orv", "tetra.obj", "3", "-1"}}) {
        const auto r = run(args);
        EXPECT_EQ(r.exitCode, 255);
        EXPECT_EQ(r.output, kReading + kUsage);
    }
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"tetra.orv"}, {"a", "b", "1", "2", "3"}}) {
        const auto r = run(args);
        EXPECT_EQ(r.exitCode, 255);
        EXPECT_EQ(r.output, kUsage);
    }
}

TEST_F(OrvDecCli, BadFilesEndWithOneLineAndStatus255) {
    auto expect = [&](const std::vector<std::string>& args, const std::string& output) {
        const auto r = run(args);
        EXPECT_EQ(r.exitCode, 255);
        EXPECT_EQ(r.output, output);
    };
    const std::string conLine = "Reading connectivity from file: tetra.obj\n";
    expect({"ab", "tetra.obj"}, "Error: The stream file name ab is shorter than four characters!\n");
    expect({"tetra.orv", "none.obj"}, "Reading connectivity from file: none.obj\nError: Opening file none.obj failed!\n");
    orvtest::writeFile(dir_ / "points.obj", "v 1 2 3\n");
    expect({"tetra.orv", "points.obj"}, "Reading connectivity from file: points.obj\n");
    orvtest::writeFile(dir_ / "quad.obj", kTetra + "f 1 2 3 4\n");
    expect({"tetra.orv", "quad.obj"}, "Reading connectivity from file: quad.obj\n"
                                      "Error: quad.obj, line 9: a face line has 4 indices; faces must be triangles\n");
    expect({"none.orv", "tetra.obj"}, conLine + "Error: Opening file none.orv failed!\n");

    auto badStream = [&](const std::string& bytes, const std::string& problem) {
        orvtest::writeFile(dir_ / "bad.orv", bytes);
        const auto r = run({"bad.orv", "tetra.obj", "0"});
        EXPECT_EQ(r.exitCode, 255);
        const std::string prefix = conLine + "Reading data from file: bad.orv\nError: bad.orv: " + problem;
        EXPECT_EQ(r.output.substr(0, prefix.size()), prefix) << r.output;
        EXPECT_EQ(r.output.back(), '\n');
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 3);
    };
    badStream(tetraStream().substr(0, 20), "the file is shorter than its length field promises");
    badStream(tetraStream(4, 0), "the stream header announces 0 frames");
    badStream(tetraStream(4, 2), "the stream header announces 2 frame records");
    badStream(tetraStream(4, 1, 0), "the stream header announces 0 spatial layers");
    badStream(tetraStream(1 << 29, 1), "the stream header announces 536870912 vertices x 1 frames, which need 66.0 GiB");
    // A face naming a vertex the stream does not have is the connectivity's fault.
    orvtest::writeFile(dir_ / "small.orv", tetraStream(3));
    const auto r = run({"small.orv", "tetra.obj"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.output.find("\nError: tetra.obj: face 2 names vertex 4, but the stream has 3 vertices\n"),
              std::string::npos)
        << r.output;
}

// The records are scanned before any is decoded: a stream missing frames or
// repeating one is refused by name, and no frame is written.
TEST_F(OrvDecCli, MissingAndRepeatedFrameRecordsAreRefusedBeforeDecoding) {
    auto refused = [&](const std::vector<orvtest::Record>& _records, int _F, const std::string& _problem) {
        orvtest::writeFile(dir_ / "bad.orv",
                           orvtest::streamFile(orvtest::bitStream(4, _F, orvtest::settings(2, 2), _records)));
        const auto r = run({"bad.orv", "tetra.obj"});
        EXPECT_EQ(r.exitCode, 255);
        const std::string line = "\nError: bad.orv: " + _problem + "\n";
        ASSERT_GE(r.output.size(), line.size());
        EXPECT_EQ(r.output.substr(r.output.size() - line.size()), line) << r.output;
        EXPECT_EQ(r.output.find("Decoding frame"), std::string::npos) << r.output;
        EXPECT_FALSE(std::filesystem::exists(dir_ / "badDec000.obj"));
    };
    const orvtest::Record first{0, 0, {}, {{}, {}}};
    refused({first, {1, 1, {0}, {std::vector<uint8_t>(16, 0), {}}}}, 3,
            "the stream header announces 3 frames, but the stream ends after 2 complete frame records (truncated "
            "stream)");
    refused({first, {1, 0, {0}, {{}, {}}}}, 2, "corrupt stream: frame 0 appears in two frame records (1 and 2)");
}
