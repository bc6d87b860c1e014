// Library encoder and decoder together: generated animated meshes (a grid with
// a boundary, closed surfaces, isolated vertices) and the real sequences are
// encoded with encodeSequence and decoded with decodeAllFrames; the decoded
// positions must equal the encoder's reconstruction as doubles, and decoding
// fewer layers must never fail.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Common/Check.h"
#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Encoder/RedundancyMinCoder.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "TestSupport.h"

using namespace orv;

namespace {

struct Scene {
    Scene(FaceList f, int V, int F) : faces(std::move(f)), positions(V, F) {}
    FaceList faces;
    GeometryT<double> positions;
};

// A 9 x 7 grid (boundary), a 12 x 8 torus and an octahedron (closed), and
// three vertices in no face, all moving differently from frame to frame.
Scene makeScene(int F) {
    std::vector<Vector3d> rest;
    FaceList faces;
    const int W = 9, H = 7;
    for (int j = 0; j < H; ++j)
        for (int i = 0; i < W; ++i) rest.push_back({0.1 * i, 0.1 * j, 0.0});
    for (int j = 0; j + 1 < H; ++j)
        for (int i = 0; i + 1 < W; ++i) {
            const int a = j * W + i, b = a + 1, c = a + W, d = c + 1;
            faces.push_back({a, b, d});
            faces.push_back({a, d, c});
        }
    const int base = static_cast<int>(rest.size()), U = 12, R = 8;
    for (int u = 0; u < U; ++u)
        for (int r = 0; r < R; ++r) {
            const double phi = 6.283185307179586 * u / U, theta = 6.283185307179586 * r / R;
            const double rad = 0.5 + 0.15 * std::cos(theta);
            rest.push_back({2.0 + rad * std::cos(phi), rad * std::sin(phi), 0.15 * std::sin(theta)});
        }
    for (int u = 0; u < U; ++u)
        for (int r = 0; r < R; ++r) {
            const int a = base + u * R + r, b = base + ((u + 1) % U) * R + r;
            const int c = base + u * R + (r + 1) % R, d = base + ((u + 1) % U) * R + (r + 1) % R;
            faces.push_back({a, b, d});
            faces.push_back({a, d, c});
        }
    const int o = static_cast<int>(rest.size());
    const Vector3d oct[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const Vector3d& p : oct) rest.push_back({p.x * 0.3 - 1.5, p.y * 0.3, p.z * 0.3});
    const int octFaces[8][3] = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
    for (const auto& t : octFaces) faces.push_back({o + t[0], o + t[1], o + t[2]});
    for (int i = 0; i < 3; ++i) rest.push_back({-3.0 + i, 4.0, 1.0});

    const int V = static_cast<int>(rest.size());
    Scene s(faces, V, F);
    for (int f = 0; f < F; ++f)
        for (int v = 0; v < V; ++v) {
            const Vector3d& p = rest[v];
            const double t = 0.21 * f;
            s.positions.setPosition(v, f,
                                    {p.x + 0.02 * f, p.y + 0.05 * std::sin(t + 2.0 * p.x),
                                     p.z + 0.08 * std::sin(t + 3.0 * p.y) + 0.01 * std::cos(0.7 * v)});
        }
    return s;
}

struct Decoded {
    std::unique_ptr<DecoderContext> context;
    Settings settings;
};

Decoded decodeStream(const std::vector<uint8_t>& file, const FaceList& faces, int nSLdec, int nTLdec) {
    EXPECT_GE(file.size(), 4u);
    const uint32_t n = file[0] | file[1] << 8 | file[2] << 16 | static_cast<uint32_t>(file[3]) << 24;
    EXPECT_EQ(n, file.size() - 4);
    BitBuffer buffer(std::vector<uint8_t>(file.begin() + 4, file.end()));
    Decoded d;
    d.context = RedundancyMinCoder::readStreamHeader(buffer, d.settings);
    LODConnectivity lod(d.settings.nSL, faces, d.context->GDec.V);
    d.context->allLayerVertexOrders = lod.vertexOrder_;
    d.context->allLayerPredictors = lod.vertexPredictor_;
    decodeAllFrames(buffer, *d.context, d.settings, nSLdec ? nSLdec : d.settings.nSL,
                    nTLdec ? nTLdec : d.settings.nTL, false);
    EXPECT_EQ(buffer.bytesLeft(), 0);
    return d;
}

// Index of the first value that differs in its bits, or -1.
int64_t firstDifference(const GeometryT<double>& a, const GeometryT<double>& b) {
    for (int f = 0; f < a.F; ++f)
        for (int i = 0; i < 3 * a.V; ++i)
            if (std::memcmp(&a.frame(f)[i], &b.frame(f)[i], sizeof(double)) != 0)
                return static_cast<int64_t>(f) * 3 * a.V + i;
    return -1;
}

double maxError(const GeometryT<double>& a, const GeometryT<double>& b) {
    double e = 0;
    for (int f = 0; f < a.F; ++f)
        for (int i = 0; i < 3 * a.V; ++i) e = std::max(e, std::fabs(a.frame(f)[i] - b.frame(f)[i]));
    return e;
}

// Root mean square of the coordinate differences.
double rmsError(const GeometryT<double>& a, const GeometryT<double>& b) {
    double sum = 0;
    for (int f = 0; f < a.F; ++f)
        for (int i = 0; i < 3 * a.V; ++i) {
            const double d = a.frame(f)[i] - b.frame(f)[i];
            sum += d * d;
        }
    return std::sqrt(sum / (3.0 * a.V * a.F));
}

}  // namespace

TEST(EndToEnd, GeneratedSequencesDecodeToTheEncodersReconstruction) {
    const double q[3] = {0.002, 0.003, 0.004};
    for (int F : {1, 2, 13, 100}) {
        const Scene scene = makeScene(F);
        for (int nTL = 1; nTL <= 5; ++nTL)
            for (int refFirst = 0; refFirst < 2; ++refFirst)
                for (int blp = 0; blp < 2; ++blp) {
                    SCOPED_TRACE("F " + std::to_string(F) + " nTL " + std::to_string(nTL) + " refFirstFrame " +
                                 std::to_string(refFirst) + " baseLayerPred " + std::to_string(blp));
                    Settings s;
                    s.nSL = 4;
                    s.nTL = nTL;
                    s.refFirstFrame = refFirst != 0;
                    s.baseLayerPred = blp;
                    int records = 0;
                    const EncodedSequence enc =
                        encodeSequence(scene.positions, scene.faces, s, q, [&](int done, int total) {
                            EXPECT_EQ(total, F);
                            records = done;
                        });
                    EXPECT_EQ(records, F);
                    const Decoded dec = decodeStream(enc.streamFile, scene.faces, 0, 0);
                    EXPECT_EQ(dec.settings.nTL, nTL);
                    EXPECT_EQ(dec.settings.baseLayerPred, blp);
                    ASSERT_EQ(firstDifference(dec.context->GDec, enc.reconstruction), -1);
                    // Closed loop: the error stays of the order of the steps.
                    EXPECT_LT(maxError(enc.reconstruction, scene.positions), 0.01);
                }
    }
}

// Scalability: every layer added brings the decoded sequence closer to the
// original (requests beyond the stream's layer counts change nothing).
TEST(EndToEnd, FewerLayersDecodeWithoutFailure) {
    const Scene scene = makeScene(13);
    const double q[3] = {0.001, 0.001, 0.002};
    Settings s;
    s.nSL = 4;
    s.nTL = 3;
    const EncodedSequence enc = encodeSequence(scene.positions, scene.faces, s, q);
    std::string report = "max error against the original, (nSLdec, nTLdec):";
    double rms[6][5] = {};
    for (int a = 1; a <= 5; ++a)
        for (int b = 1; b <= 4; ++b) {
            const Decoded dec = decodeStream(enc.streamFile, scene.faces, a, b);
            rms[a][b] = rmsError(dec.context->GDec, scene.positions);
            char entry[48];
            std::snprintf(entry, sizeof entry, " (%d,%d) %.4g", a, b, maxError(dec.context->GDec, scene.positions));
            report += entry;
            // Frames of temporal layer 0 (here 0, 4, 8, 12) are always complete.
            for (int f : {0, 4, 8, 12})
                for (int i = 0; i < 3 * scene.positions.V; ++i)
                    ASSERT_EQ(dec.context->GDec.frame(f)[i], enc.reconstruction.frame(f)[i]);
            if (a >= 4 && b >= 3) {
                EXPECT_EQ(firstDifference(dec.context->GDec, enc.reconstruction), -1);
            }
        }
    RecordProperty("layer_errors", report);
    std::printf("%s\n", report.c_str());
    // Spatial layers first, within every temporal depth that has frames
    // beyond temporal layer 0 to decode (b >= 2): the error never rises and
    // all spatial layers beat the base layer alone, clearly so once every
    // frame is decoded (b >= 3; at b = 2 the predicted odd frames dominate).
    for (int b = 2; b <= 4; ++b) {
        for (int a = 2; a <= 5; ++a) EXPECT_LE(rms[a][b], rms[a - 1][b]) << "nSLdec " << a << ", nTLdec " << b;
        EXPECT_LT(rms[4][b], (b >= 3 ? 0.5 : 1.0) * rms[1][b]) << "nTLdec " << b;
    }
    // Then temporal layers, with all spatial layers.
    for (int b = 2; b <= 4; ++b) EXPECT_LE(rms[4][b], rms[4][b - 1]) << "nTLdec " << b;
    EXPECT_LT(rms[4][3], rms[4][1]);
    EXPECT_EQ(rms[5][4], rms[4][3]);
}

TEST(EndToEnd, EncoderRefusesInputItCannotCode) {
    Scene scene = makeScene(3);
    const double q[3] = {0.01, 0.01, 0.01};
    Settings s;
    auto refuses = [&](const GeometryT<double>& p, const FaceList& faces, const Settings& st, const double* qs,
                       const char* needle) {
        try {
            encodeSequence(p, faces, st, qs);
            ADD_FAILURE() << "accepted; expected an error mentioning " << needle;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
        }
    };
    const double zero[3] = {0.01, 0.0, 0.01}, nan[3] = {0.01, 0.01, std::nan("")};
    refuses(scene.positions, scene.faces, s, zero, "positive");
    refuses(scene.positions, scene.faces, s, nan, "positive");
    FaceList bad = scene.faces;
    bad.push_back({0, 1, scene.positions.V});
    refuses(scene.positions, bad, s, q, "names vertex");
    bad.back() = {0, 1};
    refuses(scene.positions, bad, s, q, "triangles");
    Settings st = s;
    st.nSL = 0;
    refuses(scene.positions, scene.faces, st, q, "nSL");
    st = s;
    st.nTL = 32;
    refuses(scene.positions, scene.faces, st, q, "nTL");
    GeometryT<double> p = scene.positions;
    p.setPosition(5, 2, {0, std::nan(""), 0});
    refuses(p, scene.faces, s, q, "not finite");
    refuses(GeometryT<double>(scene.positions.V, 0), scene.faces, s, q, "frames");
    const double tiny[3] = {1e-12, 1e-12, 1e-12};
    refuses(scene.positions, scene.faces, s, tiny, "32-bit");

    // References the frame header cannot hold, found before anything is coded.
    const Scene longer = makeScene(300);
    st = s;
    st.nSL = 2;
    st.nTL = 8;
    refuses(longer.positions, longer.faces, st, q, "nTL <= 7 works with refFirstFrame 0");
    st.refFirstFrame = true;
    EXPECT_NO_THROW(encodeSequence(longer.positions, longer.faces, st, q));
    st.nTL = 9;
    refuses(longer.positions, longer.faces, st, q, "cannot be coded");
}

TEST(EndToEnd, RealSequencesDecodeToTheEncodersReconstruction) {
    for (const char* name : {"horse-gallop", "chickenCrossing", "pcow", "pdance"}) {
        SCOPED_TRACE(name);
        const auto dir = orvtest::sequenceDir(name);
        if (dir.empty()) GTEST_SKIP() << "shared data for " << name << " is absent (../shared/data)";
        FaceList faces;
        const auto loaded = orvtest::loadSequence(dir, 24, faces);
        ASSERT_TRUE(loaded);
        const GeometryT<double>& positions = *loaded;
        Settings s;  // 8 spatial and 4 temporal layers, local base layer
        const double q[3] = {0.0005, 0.0005, 0.001};
        const EncodedSequence enc = encodeSequence(positions, faces, s, q);
        const Decoded dec = decodeStream(enc.streamFile, faces, 0, 0);
        ASSERT_EQ(firstDifference(dec.context->GDec, enc.reconstruction), -1);
        EXPECT_LT(maxError(enc.reconstruction, positions), 0.002);
    }
}
