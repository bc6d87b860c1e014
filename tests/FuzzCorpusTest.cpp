// The seed corpora of the fuzz targets as regression tests: every file of
// fuzz/corpus/<Target>/ goes through the function its target calls, so a
// finding once fixed and added to a corpus stays fixed without clang or
// libFuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzTargets.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

void runCorpus(const std::string& _target, void (*_one)(const uint8_t*, size_t)) {
    const fs::path dir = fs::path(ORV_FUZZ_CORPUS_DIR) / _target;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    EXPECT_GE(files.size(), 3u);
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string bytes = orvtest::readFile(file);
        try {
            _one(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        } catch (const orvfuzz::Finding& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

}  // namespace

TEST(FuzzCorpus, ObjReader) { runCorpus("ObjReaderFuzz", orvfuzz::objReaderOne); }
TEST(FuzzCorpus, EncoderFrontEnd) { runCorpus("EncoderFrontEndFuzz", orvfuzz::encoderFrontEndOne); }
TEST(FuzzCorpus, Extraction) { runCorpus("ExtractionFuzz", orvfuzz::extractionOne); }
TEST(FuzzCorpus, CApi) { runCorpus("CApiFuzz", orvfuzz::capiOne); }
TEST(FuzzCorpus, Package) { runCorpus("PackageFuzz", orvfuzz::packageOne); }
TEST(FuzzCorpus, GltfReader) { runCorpus("GltfReaderFuzz", orvfuzz::gltfReaderOne); }
