// Helpers shared by the test files: paths to the programs and to the shared
// data, running a program as a subprocess, scratch folders, and unpacking the
// real sequences (tests that need them skip when ../shared is absent).
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Decoder/MeshIO.h"

namespace orvtest {

struct RunResult {
    int exitCode = -1;   // the program's exit status (255 for exit(-1))
    std::string output;  // standard output and standard error together
};

std::string binPath(const std::string& program);  // e.g. binPath("OrvDec")
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::filesystem::path& cwd = {});

// A fresh empty folder, removed when the object goes away.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::filesystem::path sharedDir();  // ../shared beside the source tree
// Unpacks ../shared/data/<archive>.tar.xz once per test run and returns the
// folder of OBJ frames, or an empty path when the data is absent.
std::filesystem::path sequenceDir(const std::string& name);  // "horse-gallop", "pcow", ...
// The OBJ frame files of a sequence folder in natural (numeric) order.
std::vector<std::filesystem::path> sequenceFrames(const std::filesystem::path& dir);
// The first _maxFrames frames of a sequence folder as one geometry, with the
// first frame's faces in _faces; null when a frame cannot be read or its
// vertex count differs from the first frame's.
std::unique_ptr<orv::GeometryT<double>> loadSequence(const std::filesystem::path& dir, int _maxFrames,
                                                     orv::FaceList& _faces);

std::string readFile(const std::filesystem::path& p);
// OBJ frames prefix0 .. prefix(F-1) in one text, each without its second
// line (the writing time), so that two decodes compare as text.
std::string framesWithoutDate(const std::filesystem::path& dir, const std::string& prefix, int F);
void writeFile(const std::filesystem::path& p, const std::string& text);

}  // namespace orvtest

// Skips the current test with a clear message when the shared data is absent.
#define ORV_REQUIRE_SEQUENCE(var, name)                                                      \
    const std::filesystem::path var = ::orvtest::sequenceDir(name);                          \
    if (var.empty()) GTEST_SKIP() << "shared data for " << (name) << " is absent (../shared/data)"
