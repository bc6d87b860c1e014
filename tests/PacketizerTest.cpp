// The packetizer: the worked example byte for byte with its console dialogue,
// output names, repeated packetizing, and the refusal of corrupt streams.
#include <gtest/gtest.h>

#include <filesystem>

#include "StreamBuilder.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using orvtest::Record;

namespace {

const std::string kDashes = "---------------------------------------\n";
const std::string kUsage =
    "Usage: OrvPacketize orvfile [nSL] [nTL]\n\nOptions:\nnSL\tnumber of spatial layers to packetize per frame "
    "(nSL>0).\n   \tThis parameter does not affect frames of the base temporal layer.\nnTL\tnumber of temporal "
    "layers to packetize (nTL>0).\n\nDescription:\nOrvPacketize extracts parts of encoded data and packetizes these "
    "parts\nin a new orvfile. A packetized file contains always all spatial layers\nof the base temporal layer. If "
    "nSL and nTL are not specified, the number\nof spatial and temporal layers contained in the orvfile is "
    "printed.\n";

std::vector<uint8_t> chunk(int size, int seed) {
    std::vector<uint8_t> c(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i) c[static_cast<size_t>(i)] = static_cast<uint8_t>(seed * 31 + i * 7);
    return c;
}

// Five records, nSL = nTL = 3: frame 0, then frames 4, 2, 1, 3 of temporal layers 0, 1, 2, 2.
std::vector<Record> example(bool packetized12) {
    const int t[5] = {0, 0, 1, 2, 2};
    const int frame[5] = {0, 4, 2, 1, 3};
    const std::vector<int> rf[5] = {{}, {0}, {0, 4}, {0, 2}, {2, 4}};
    std::vector<Record> records;
    for (int r = 0; r < 5; ++r) {
        Record rec{t[r], frame[r], rf[r], {}};
        for (int l = 0; l < 3; ++l) {
            const bool kept = !packetized12 || r < 2 || (r == 2 && l == 0);
            rec.chunks.push_back(kept ? chunk(3 + r + 2 * l, 10 * r + l) : std::vector<uint8_t>{});
        }
        records.push_back(rec);
    }
    return records;
}

std::string exampleFile(bool packetized12) {
    return orvtest::streamFile(orvtest::bitStream(100, 5, orvtest::settings(3, 3), example(packetized12)));
}

std::vector<std::string> filesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(Packetizer, WorkedExampleByteForByteWithItsDialogue) {
    orvtest::ScratchDir dir;
    orvtest::writeFile(dir / "walk.orv", exampleFile(false));
    const auto r = orvtest::run("OrvPacketize", {"walk.orv", "1", "2"}, dir.path());
    const std::string expected = exampleFile(true);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "Reading data from file: walk.orv\nEmbedded bit stream contains:\n  3 spatial layers\n"
                        "  3 temporal layers\n" + kDashes + "Settings:\n  packetize 1/3 spatial layers\n"
                        "  packetize 2/3 temporal layers\n" + kDashes + "Packetizing...\n"
                        "  Packetizing frame 4\r  Packetizing frame 2\r  Packetizing frame 1\r  Packetizing frame 3\r"
                        "COMPLETED!" + std::string(29, ' ') + "\n" + kDashes +
                        "Writing packetized data into file:\n  walkPack12.orv\n  " +
                        std::to_string(expected.size()) + " bytes written\n");
    EXPECT_EQ(orvtest::readFile(dir / "walkPack12.orv"), expected);

    // Packetizing again with the same counts changes nothing.
    EXPECT_EQ(orvtest::run("OrvPacketize", {"walkPack12.orv", "1", "2"}, dir.path()).exitCode, 0);
    EXPECT_EQ(orvtest::readFile(dir / "walkPack12Pack12.orv"), expected);
    // Counts at or above the stream's keep everything.
    EXPECT_EQ(orvtest::run("OrvPacketize", {"walk.orv", "20", "9"}, dir.path()).exitCode, 0);
    EXPECT_EQ(orvtest::readFile(dir / "walkPack209.orv"), exampleFile(false));
    EXPECT_EQ(filesIn(dir.path()),
              (std::vector<std::string>{"walk.orv", "walkPack12.orv", "walkPack12Pack12.orv", "walkPack209.orv"}));
}

TEST(Packetizer, ReportsLayersAndNamesOutputs) {
    orvtest::ScratchDir dir;
    fs::create_directories(dir / "data");
    orvtest::writeFile(dir / "data/walk", exampleFile(false));
    auto r = orvtest::run("OrvPacketize", {"data/walk"}, dir.path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "Reading data from file: data/walk\nEmbedded bit stream contains:\n  3 spatial layers\n"
                        "  3 temporal layers\n");
    EXPECT_EQ(orvtest::run("OrvPacketize", {"data/walk", " +3x"}, dir.path()).exitCode, 0);  // nTL stays 3
    EXPECT_EQ(orvtest::run("OrvPacketize", {"data/walk", "12", "2"}, dir.path()).exitCode, 0);
    EXPECT_EQ(filesIn(dir / "data"), (std::vector<std::string>{"Pack122.orv", "Pack33.orv", "walk"}));
}

TEST(Packetizer, OneRecordIsCopiedWholeEvenWhenTheHeaderSaysNoFrames) {
    orvtest::ScratchDir dir;
    const Record first{2, 0, {}, {chunk(5, 1), chunk(0, 2)}};
    for (int F : {0, 1}) {
        const std::string file = orvtest::streamFile(orvtest::bitStream(100, F, orvtest::settings(2, 3), {first}));
        orvtest::writeFile(dir / "one.orv", file);
        const auto r = orvtest::run("OrvPacketize", {"one.orv", "1", "1"}, dir.path());
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.output.find("  Packetizing frame"), std::string::npos);
        EXPECT_EQ(orvtest::readFile(dir / "onePack11.orv"), file);
    }
}

TEST(Packetizer, BadArgumentsGiveTheUsageText) {
    orvtest::ScratchDir dir;
    orvtest::writeFile(dir / "walk.orv", exampleFile(false));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{}, {"a", "1", "2", "3"}}) {
        const auto r = orvtest::run("OrvPacketize", args, dir.path());
        EXPECT_EQ(r.exitCode, 255);
        EXPECT_EQ(r.output, kUsage);
    }
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"walk.orv", "0"}, {"walk.orv", "abc"}, {"walk.orv", "2", "-1"}}) {
        const auto r = orvtest::run("OrvPacketize", args, dir.path());
        EXPECT_EQ(r.exitCode, 255);
        EXPECT_EQ(r.output, "Reading data from file: walk.orv\n" + kUsage) << args[1];
    }
}

TEST(Packetizer, CorruptStreamsAndUnwritableOutputsFailCleanly) {
    orvtest::ScratchDir dir;
    auto failWith = [&](const std::string& file, const std::string& bytes, const std::vector<std::string>& args,
                        const std::string& message) {
        if (!bytes.empty()) orvtest::writeFile(dir / file, bytes);
        const auto r = orvtest::run("OrvPacketize", args, dir.path());
        EXPECT_EQ(r.exitCode, 255) << r.output;
        EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Error"), r.output.rfind("Error")) << r.output;  // one error line
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (!e.is_directory()) {
                const std::string name = e.path().filename().string();
                EXPECT_TRUE(name.find("Pack") == std::string::npos && name.find(".tmp") == std::string::npos) << name;
            }
        std::error_code ec;
        fs::remove(dir / file, ec);
    };
    const std::string good = exampleFile(false);
    failWith("ab", good, {"ab", "1"}, "Error: The stream file name ab is shorter than four characters!");
    failWith("none.orv", "", {"none.orv", "1"}, "Error: Opening file none.orv failed!");
    failWith("t.orv", good.substr(0, good.size() - 1), {"t.orv", "1"},
             "Error: t.orv: the file is shorter than its length field promises");
    failWith("s.orv", "\x01\x00", {"s.orv"}, "Error: s.orv: the file is shorter than its 4-byte length field");
    // A header promising more records than there are.
    failWith("f.orv", orvtest::streamFile(orvtest::bitStream(100, 9, orvtest::settings(3, 3), example(false))),
             {"f.orv", "1"}, "Error: f.orv: the stream ends inside a frame header (truncated stream)");
    failWith("g.orv", orvtest::streamFile(orvtest::bitStream(100, 60000, orvtest::settings(3, 3), example(false))),
             {"g.orv", "1"}, "Error: g.orv: the stream header announces 60000 frame records");
    failWith("z.orv", orvtest::streamFile(orvtest::bitStream(100, 1, orvtest::settings(0, 3), {{}})),
             {"z.orv", "1"}, "0 spatial layers");
    // A header OrvDec would refuse is refused here too, not copied on.
    failWith("n.orv", orvtest::streamFile(orvtest::bitStream(100, 9, orvtest::settings(3, 255), example(false))),
             {"n.orv", "1", "1"}, "Error: n.orv: the stream header gives 255 temporal layers; a stream holds 1 to 31");
    failWith("q.orv",
             orvtest::streamFile(orvtest::bitStream(100, 9, orvtest::settings(3, 3), example(false), 0.5, -1, 0.1)),
             {"q.orv", "1"}, "Error: q.orv: the stream header gives the step size q1 = -1;");
    failWith("h.orv", orvtest::streamFile(std::vector<uint8_t>(good.begin() + 4, good.begin() + 24)), {"h.orv", "1"},
             "Error: h.orv: the stream is 20 bytes long, too short for its 33-byte header");
    // A chunk count running past the end of the stream.
    std::string lying = good;
    lying[4 + 33 + 5] = '\x7F';
    failWith("c.orv", lying, {"c.orv", "1"},
             "Error: c.orv: the chunk of layer 0 of frame 0 announces 2130706435 bytes, but only");
    // Offset -127 (sign 1, magnitude 127) reads but cannot be written again.
    std::string offset = good;
    const size_t second = 4 + 33 + 5 + 3 * 4 + 3 + 5 + 7;
    ASSERT_EQ(offset[second + 2], '\x04');  // frame 4
    offset[second + 3] = '\xFF';
    failWith("o.orv", offset, {"o.orv", "1"}, "Error: o.orv: corrupt frame header of frame 4: reference offset -127");
    // Outputs that cannot be created: a name too long for the file system, a folder.
    const std::string longName(248, 'w');
    failWith(longName + ".orv", good, {longName + ".orv", "1", "2"},
             "Error: Creating file " + longName + "Pack12.orv failed!");
    // A name just within the limit works.
    const std::string longest(245, 'w');
    orvtest::writeFile(dir / (longest + ".orv"), good);
    EXPECT_EQ(orvtest::run("OrvPacketize", {longest + ".orv", "1", "2"}, dir.path()).exitCode, 0);
    EXPECT_EQ(orvtest::readFile(dir / (longest + "Pack12.orv")), exampleFile(true));
    fs::remove(dir / (longest + "Pack12.orv"));
    fs::create_directories(dir / "dPack12.orv");
    failWith("d.orv", good, {"d.orv", "1", "2"}, "Error: Creating file dPack12.orv failed!");
}

TEST(Packetizer, IndependentVectorsSurviveAFullPacketizing) {
    const fs::path vectors = orvtest::sharedDir() / "vectors";
    if (!fs::exists(vectors / "horse10.orv")) GTEST_SKIP() << "../shared/vectors is absent";
    orvtest::ScratchDir dir;
    for (const std::string name : {"horse10", "cow17", "chicken9"}) {
        const std::string bytes = orvtest::readFile(vectors / (name + ".orv"));
        orvtest::writeFile(dir / (name + ".orv"), bytes);
        EXPECT_EQ(orvtest::run("OrvPacketize", {name + ".orv", "9", "9"}, dir.path()).exitCode, 0);
        EXPECT_EQ(orvtest::readFile(dir / (name + "Pack99.orv")), bytes) << name;
    }
}
