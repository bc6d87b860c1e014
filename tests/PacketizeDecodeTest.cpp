// Packetizing keeps exactly what the decoder uses: for every pair of requested
// layer counts, OrvPacketize (a, b) followed by OrvDec (a, b) writes the same
// frames as OrvDec (a, b) on the original stream.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "SequenceEncoder/SequenceEncoder.h"
#include "LayeringMeshes.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

}  // namespace

TEST(PacketizeThenDecode, SameFramesAsDecodingTheOriginalForEveryLayerRequest) {
    const orvtest::Mesh mesh = orvtest::disjointUnion(orvtest::gridMesh(9, 7), orvtest::torusMesh(8, 6));
    const int F = 11;
    orv::GeometryT<double> positions(mesh.V, F);
    for (int f = 0; f < F; ++f)
        for (int v = 0; v < mesh.V; ++v) {
            const double t = 0.3 * f, a = 0.37 * v;
            positions.setPosition(v, f, {std::cos(a) + 0.1 * t, std::sin(a * 1.3) * (1.0 + 0.05 * f), 0.2 * std::sin(a + t)});
        }
    orv::Settings settings;
    settings.nSL = 4;
    settings.nTL = 3;
    const double q[3] = {0.001, 0.002, 0.004};
    const orv::EncodedSequence encoded = orv::encodeSequence(positions, mesh.faces, settings, q);

    orvtest::ScratchDir dir;
    {
        std::ofstream stream(dir / "anim.orv", std::ios::binary);
        stream.write(reinterpret_cast<const char*>(encoded.streamFile.data()),
                     static_cast<std::streamsize>(encoded.streamFile.size()));
        std::ofstream con(dir / "anim_con.obj");
        for (const auto& face : mesh.faces) con << "f " << face[0] + 1 << " " << face[1] + 1 << " " << face[2] + 1 << "\n";
    }

    for (int a = 1; a <= settings.nSL + 1; ++a)
        for (int b = 1; b <= settings.nTL + 1; ++b) {
            SCOPED_TRACE("layers " + std::to_string(a) + " " + std::to_string(b));
            const std::string sa = std::to_string(a), sb = std::to_string(b);
            ASSERT_EQ(orvtest::run("OrvDec", {"anim.orv", "anim_con.obj", sa, sb}, dir.path()).exitCode, 0);
            const auto pack = orvtest::run("OrvPacketize", {"anim.orv", sa, sb}, dir.path());
            ASSERT_EQ(pack.exitCode, 0) << pack.output;
            const std::string packed = "animPack" + sa + sb;
            ASSERT_EQ(orvtest::run("OrvDec", {packed + ".orv", "anim_con.obj", sa, sb}, dir.path()).exitCode, 0);
            EXPECT_EQ(orvtest::framesWithoutDate(dir.path(), "animDec", F),
                      orvtest::framesWithoutDate(dir.path(), packed + "Dec", F));
            if (a >= settings.nSL && b >= settings.nTL)  // nothing dropped: the stream itself is unchanged
                EXPECT_EQ(fs::file_size(dir / (packed + ".orv")), encoded.streamFile.size());
            else
                EXPECT_LE(fs::file_size(dir / (packed + ".orv")), encoded.streamFile.size());
        }
}
