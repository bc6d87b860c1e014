// OrvEnc's FRAME arguments: natural order, folders, numbered patterns, and the
// refusal of frames that do not fit together, each error naming the file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "EncoderApp/FrameSource.h"
#include "TestSupport.h"

namespace {

using orvtest::ScratchDir;
using orvtest::writeFile;

const char* kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

std::string names(const std::vector<std::string>& paths) {
    std::string s;
    for (const auto& p : paths) s += std::filesystem::path(p).filename().string() + " ";
    return s;
}

// Expects an orv::Error whose message holds every one of _parts.
template <typename Fn>
void expectError(Fn&& _fn, const std::vector<std::string>& _parts) {
    try {
        _fn();
        ADD_FAILURE() << "no error";
    } catch (const orv::Error& e) {
        for (const auto& part : _parts) EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
}

TEST(FrameSource, NaturalOrder) {
    EXPECT_TRUE(orv::naturalLess("2.obj", "10.obj"));
    EXPECT_FALSE(orv::naturalLess("10.obj", "2.obj"));
    EXPECT_TRUE(orv::naturalLess("frame9", "frame10"));
    EXPECT_TRUE(orv::naturalLess("a2b3", "a2b10"));
    EXPECT_TRUE(orv::naturalLess("a.obj", "b.obj"));
    EXPECT_TRUE(orv::naturalLess("x", "x1"));
    // Equal numbers with different padding still order strictly and stably.
    EXPECT_NE(orv::naturalLess("007.obj", "7.obj"), orv::naturalLess("7.obj", "007.obj"));
    EXPECT_FALSE(orv::naturalLess("7.obj", "7.obj"));
}

TEST(FrameSource, FolderIsTakenInNaturalOrderAndOnlyObjFiles) {
    ScratchDir dir;
    for (const char* n : {"10.obj", "2.obj", "1.obj", "notes.txt", "3.OBJ"}) writeFile(dir / n, kTriangle);
    std::filesystem::create_directories(dir / "sub.obj");
    EXPECT_EQ(names(orv::expandFrameArguments({dir.path().string()})), "1.obj 2.obj 3.OBJ 10.obj ");
}

TEST(FrameSource, PatternsProbeTheFirstNumberAndStopAtAGap) {
    ScratchDir dir;
    for (const char* n : {"f0001.obj", "f0002.obj", "f0003.obj", "f0005.obj"}) writeFile(dir / n, kTriangle);
    EXPECT_EQ(names(orv::expandFrameArguments({(dir / "f%04d.obj").string()})), "f0001.obj f0002.obj f0003.obj ");
    writeFile(dir / "f0000.obj", kTriangle);
    EXPECT_EQ(names(orv::expandFrameArguments({(dir / "f%04d.obj").string()})),
              "f0000.obj f0001.obj f0002.obj f0003.obj ");
    EXPECT_EQ(orv::formatFramePattern("a%%b%3d.obj", 7), "a%b  7.obj");
    expectError([&] { orv::expandFrameArguments({(dir / "g%d.obj").string()}); }, {"no frame matches", "g%d.obj"});
    expectError([&] { orv::formatFramePattern("%d_%d.obj", 1); }, {"exactly one"});
    expectError([&] { orv::formatFramePattern("%s.obj", 1); }, {"%04d"});
}

TEST(FrameSource, ArgumentsJoinInOrder) {
    ScratchDir dir;
    writeFile(dir / "b.obj", kTriangle);
    writeFile(dir / "a.obj", kTriangle);
    EXPECT_EQ(names(orv::expandFrameArguments({(dir / "b.obj").string(), (dir / "a.obj").string()})), "b.obj a.obj ");
    expectError([&] { orv::expandFrameArguments({(dir / "missing.obj").string()}); }, {"missing.obj", "does not exist"});
    std::filesystem::create_directories(dir / "empty");
    expectError([&] { orv::expandFrameArguments({(dir / "empty").string()}); }, {"empty", "no .obj"});
    expectError([&] { orv::expandFrameArguments({}); }, {"no frames"});
}

TEST(FrameSource, LoadsPositionsOfEveryFrameAndFacesOfTheFirst) {
    ScratchDir dir;
    writeFile(dir / "0.obj", kTriangle);
    writeFile(dir / "1.obj", "v 0 0 1\nv 1 0 1\nv 0 1 1.5\nf 1 2 3\n");
    int calls = 0;
    const orv::LoadedAnimation anim = orv::loadAnimation(
        {(dir / "0.obj").string(), (dir / "1.obj").string()}, [&](int done, int total) {
            ++calls;
            EXPECT_EQ(done, calls);
            EXPECT_EQ(total, 2);
        });
    EXPECT_EQ(calls, 2);
    ASSERT_EQ(anim.positions.V, 3);
    ASSERT_EQ(anim.positions.F, 2);
    EXPECT_EQ(anim.positions.position(2, 1), (orv::Vector3d{0, 1, 1.5}));
    EXPECT_EQ(anim.faces, (orv::FaceList{{0, 1, 2}}));
}

TEST(FrameSource, FramesThatDoNotFitTogetherAreNamed) {
    ScratchDir dir;
    const std::string first = (dir / "0.obj").string(), second = (dir / "1.obj").string();
    writeFile(first, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n");
    auto load = [&] { orv::loadAnimation({first, second}); };

    writeFile(second, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 2 4 3\n");
    expectError(load, {"1.obj", "3 vertices", "0.obj", "has 4"});
    writeFile(second, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 3 4\n");
    expectError(load, {"1.obj", "face 2 is 2 3 4", "2 4 3"});
    writeFile(second, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\n");
    expectError(load, {"1.obj", "1 faces", "has 2"});
    writeFile(second, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\nf 1 2 4\n");
    expectError(load, {"1.obj", "3 faces", "has 2"});
    writeFile(second, "# nothing\n");
    expectError(load, {"1.obj", "no vertices"});
    writeFile(second, "v 0 0 0\nv 1 nan 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n");
    expectError(load, {"1.obj"});
    writeFile(second, "v 0 0 0\nv 1 1e999 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n");
    expectError(load, {"1.obj"});
    std::filesystem::remove(second);
    expectError(load, {"cannot read", "1.obj"});
}

// Later frames are read by several threads: the animation, and the error of
// the first bad frame in frame order, are the same for any thread count.
TEST(FrameSource, ThreadCountChangesNeitherTheAnimationNorTheError) {
    ScratchDir dir;
    std::vector<std::string> paths;
    for (int f = 0; f < 23; ++f) {
        std::string text;
        for (int v = 0; v < 5; ++v)
            text += "v " + std::to_string(v * 0.37 + f * 1e-3) + " " + std::to_string(f) + "e-7 ." + std::to_string(v) + "\n";
        text += "f 1 2 3 4\nf -3 -2 -1\n";  // a quad split into two triangles, relative ids
        paths.push_back((dir / (std::to_string(f) + ".obj")).string());
        writeFile(paths.back(), text);
    }
    const orv::LoadedAnimation one = orv::loadAnimation(paths, {}, 1);
    EXPECT_EQ(one.polygonsSplit, 1);
    EXPECT_EQ(one.faces, (orv::FaceList{{0, 1, 2}, {0, 2, 3}, {2, 3, 4}}));
    for (int threads : {2, 5, 64}) {
        int calls = 0, last = 0;
        const orv::LoadedAnimation many = orv::loadAnimation(paths, [&](int done, int) {
            ++calls;
            EXPECT_GT(done, last);  // reported from one thread, never backwards
            last = done;
        }, threads);
        EXPECT_EQ(last, 23);
        EXPECT_LE(calls, 23);
        EXPECT_EQ(many.faces, one.faces);
        EXPECT_EQ(many.polygonsSplit, one.polygonsSplit);
        ASSERT_EQ(many.positions.F, 23);
        EXPECT_EQ(std::memcmp(many.positions.frame(0), one.positions.frame(0), sizeof(double) * 3 * 5 * 23), 0);
    }
    // Frames 7 (a face differs) and 15 (unreadable text) are bad; 7 is named.
    writeFile(paths[15], "v 0 0 x\n");
    writeFile(paths[7], "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 2 2 2\nf 1 2 3 4\nf 1 2 5\n");
    for (int threads : {1, 2, 5})
        expectError([&] { orv::loadAnimation(paths, {}, threads); }, {"7.obj", "face 3 is 1 2 5", "3 4 5"});
    writeFile(paths[7], "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 2 2 2\nf 1 2 3 4\nf -3 -2 -1\n");
    for (int threads : {1, 3}) expectError([&] { orv::loadAnimation(paths, {}, threads); }, {"15.obj", "line 1", "\"x\""});
}

TEST(FrameSource, FirstFrameMustCarryUsableConnectivity) {
    ScratchDir dir;
    const std::string first = (dir / "0.obj").string();
    writeFile(first, "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    expectError([&] { orv::loadAnimation({first}); }, {"0.obj", "no faces"});
    writeFile(first, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n");
    expectError([&] { orv::loadAnimation({first}); }, {"0.obj"});
    expectError([&] { orv::loadAnimation({}); }, {"no frames"});
    // The frame count field has 16 bits: refused before any file is read.
    expectError([&] { orv::loadAnimation(std::vector<std::string>(65536, first)); }, {"too many frames", "65535"});
}

}  // namespace
