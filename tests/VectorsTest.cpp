// Streams made by an independent encoder, with the positions an independent
// decoder reconstructs from them: the library must reproduce every decoded
// double bit for bit, fully and with reduced layer counts. Skips cleanly when
// the vectors or the sequences they were made from are absent.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Encoder/RedundancyMinCoder.h"
#include "TestSupport.h"

using namespace orv;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readBitStream(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 4) return {};
    const uint32_t n = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    if (bytes.size() < 4 + static_cast<size_t>(n)) return {};
    return std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 4 + n);
}

std::vector<double> readPositions(const fs::path& xz) {
    std::vector<double> values;
    FILE* pipe = popen(("xz -dc '" + xz.string() + "'").c_str(), "r");
    if (!pipe) return values;
    double buf[4096];
    size_t got;
    while ((got = fread(buf, sizeof(double), 4096, pipe)) > 0) values.insert(values.end(), buf, buf + got);
    pclose(pipe);
    return values;
}

struct Vector {
    const char* stream;
    const char* sequence;
    int nSLdec;  // 0: the stream's own counts
    int nTLdec;
    const char* positions;
    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const Vector& v, std::ostream* os) { *os << v.positions; }
};

class Vectors : public ::testing::TestWithParam<Vector> {};

}  // namespace

TEST_P(Vectors, DecodeBitForBit) {
    const Vector& t = GetParam();
    const fs::path dir = orvtest::sharedDir() / "vectors";
    if (!fs::exists(dir / t.stream) || !fs::exists(dir / t.positions))
        GTEST_SKIP() << "stream vectors are absent (../shared/vectors)";
    ORV_REQUIRE_SEQUENCE(seq, t.sequence);
    const auto frames = orvtest::sequenceFrames(seq);
    ASSERT_FALSE(frames.empty());
    FaceList faces;
    ASSERT_TRUE(readOBJ(frames.front().string(), faces));

    BitBuffer buffer(readBitStream(dir / t.stream));
    ASSERT_GT(buffer.size(), 0);
    Settings settings;
    std::unique_ptr<DecoderContext> context = RedundancyMinCoder::readStreamHeader(buffer, settings);
    const int V = context->GDec.V, F = context->GDec.F;
    LODConnectivity lod(settings.nSL, faces, V);
    context->allLayerVertexOrders = lod.vertexOrder_;
    context->allLayerPredictors = lod.vertexPredictor_;
    decodeAllFrames(buffer, *context, settings, t.nSLdec ? t.nSLdec : settings.nSL,
                    t.nTLdec ? t.nTLdec : settings.nTL, false);

    const std::vector<double> expected = readPositions(dir / t.positions);
    if (expected.empty()) GTEST_SKIP() << "cannot decompress " << t.positions << " (is xz installed?)";
    ASSERT_EQ(expected.size(), 3u * V * F);
    for (int f = 0; f < F; ++f)
        for (int i = 0; i < 3 * V; ++i) {
            const double got = context->GDec.frame(f)[i], want = expected[3 * static_cast<size_t>(V) * f + i];
            ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0)
                << "first difference: frame " << f << ", vertex " << i / 3 << ", component " << i % 3 << ": got "
                << got << ", expected " << want;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Shared, Vectors,
    ::testing::Values(Vector{"horse10.orv", "horse-gallop", 0, 0, "horse10.f64.xz"},
                      Vector{"horse10.orv", "horse-gallop", 2, 2, "horse10_s2t2.f64.xz"},
                      Vector{"cow17.orv", "pcow", 0, 0, "cow17.f64.xz"},
                      Vector{"cow17.orv", "pcow", 1, 2, "cow17_s1t2.f64.xz"},
                      Vector{"chicken9.orv", "chickenCrossing", 0, 0, "chicken9.f64.xz"},
                      Vector{"chicken9.orv", "chickenCrossing", 1, 1, "chicken9_s1t1.f64.xz"}),
    [](const ::testing::TestParamInfo<Vector>& info) {
        std::string name = info.param.positions;
        name = name.substr(0, name.find('.'));
        return name;
    });
