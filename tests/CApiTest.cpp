// The public API: encoding and decoding through orv.h (and orv.hpp) give the
// encoder's reconstruction bit for bit, seeks give what reading through
// gives, and every bad input (null pointers, truncated or corrupt streams,
// faces out of range, F = 0, duplicated or missing records, bad options)
// ends in a negative status with a message, never a crash. The C example
// program decodes to the same floats.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>

#include "Decoder/FrameRecordIndex.h"
#include "Encoder/RedundancyMinCoder.h"
#include "TestSupport.h"
#include "orv/orv.h"
#include "orv/orv.hpp"

namespace {

constexpr int W = 10, H = 8, V = W * H, F = 30;

std::vector<int32_t> gridFaces() {
    std::vector<int32_t> f;
    for (int j = 0; j + 1 < H; ++j)
        for (int i = 0; i + 1 < W; ++i) {
            const int a = j * W + i, b = a + 1, c = a + W, d = c + 1;
            f.insert(f.end(), {a, b, d, a, d, c});
        }
    return f;
}

std::vector<double> gridFrame(int f) {
    std::vector<double> p;
    for (int v = 0; v < V; ++v) {
        const double x = 0.1 * (v % W), y = 0.1 * (v / W);
        p.insert(p.end(), {x, y + 0.02 * std::sin(0.3 * f + x), 0.1 * std::cos(0.25 * f + 2 * x + y)});
    }
    return p;
}

// A stream file of the grid, encoded through the C API; the encoder's
// reconstruction of every frame in _rec.
std::vector<uint8_t> encodeGrid(std::vector<std::vector<double>>& _rec, orv_encoder_quality* _quality = nullptr) {
    const std::vector<int32_t> faces = gridFaces();
    orv_encoder_options o;
    orv_encoder_options_default(&o);
    o.spatial_layers = 3;
    o.temporal_layers = 3;
    orv_encoder* e = nullptr;
    char err[256];
    EXPECT_EQ(orv_encoder_create(V, faces.data(), faces.size() / 3, &o, &e, err, sizeof err), ORV_OK) << err;
    for (int f = 0; f < F; ++f) EXPECT_EQ(orv_encoder_add_frame(e, gridFrame(f).data()), ORV_OK);
    uint8_t* bytes = nullptr;
    size_t size = 0;
    EXPECT_EQ(orv_encoder_finish(e, &bytes, &size), ORV_OK) << orv_encoder_error(e);
    std::vector<uint8_t> stream(bytes, bytes + size);
    orv_free(bytes);
    _rec.assign(F, std::vector<double>(3 * V));
    for (int f = 0; f < F; ++f) EXPECT_EQ(orv_encoder_reconstruction(e, f, _rec[f].data()), ORV_OK);
    if (_quality) {
        EXPECT_EQ(orv_encoder_quality_get(e, _quality), ORV_OK);
    }
    orv_encoder_destroy(e);
    return stream;
}

// Expects creation to fail with _status and a message.
void expectCreateFails(const std::vector<uint8_t>& _stream, const std::vector<int32_t>& _faces, int _status,
                       const char* _text) {
    orv_decoder* d = reinterpret_cast<orv_decoder*>(1);
    char err[256] = "untouched";
    EXPECT_EQ(orv_decoder_create(_stream.data(), _stream.size(), _faces.data(), _faces.size() / 3, 0, 0, &d, err,
                                 sizeof err),
              _status)
        << err;
    EXPECT_EQ(d, nullptr);
    EXPECT_NE(std::string(err).find(_text), std::string::npos) << err;
}

}  // namespace

TEST(CApi, EncodeDecodeRoundTripGivesTheReconstructionBitForBit) {
    std::vector<std::vector<double>> rec;
    orv_encoder_quality q{};
    const std::vector<uint8_t> stream = encodeGrid(rec, &q);
    EXPECT_EQ(q.vertex_count, V);
    EXPECT_EQ(q.frame_count, F);
    EXPECT_EQ(q.stream_bytes, stream.size());
    EXPECT_GT(q.kg_error, 0);
    EXPECT_GT(q.bits_per_vertex_frame, 0);
    EXPECT_LE(q.max_error, q.step_sizes[2]);
    const std::vector<int32_t> faces = gridFaces();
    orv_decoder* d = nullptr;
    char err[256];
    ASSERT_EQ(orv_decoder_create(stream.data(), stream.size(), faces.data(), faces.size() / 3, 0, 0, &d, err,
                                 sizeof err),
              ORV_OK)
        << err;
    orv_stream_info info{};
    ASSERT_EQ(orv_decoder_info(d, &info), ORV_OK);
    EXPECT_EQ(info.vertex_count, V);
    EXPECT_EQ(info.frame_count, F);
    EXPECT_EQ(info.spatial_layers, 3);
    EXPECT_EQ(info.temporal_layers, 3);
    EXPECT_EQ(orv_decoder_set_threads(d, 2), ORV_OK);
    std::vector<double> p(3 * V);
    int32_t frame = -1;
    for (int f = 0; f < F; ++f) {
        ASSERT_EQ(orv_decoder_read_frame(d, &frame, p.data()), 1);
        ASSERT_EQ(frame, f);
        ASSERT_EQ(std::memcmp(p.data(), rec[f].data(), p.size() * sizeof(double)), 0) << "frame " << f;
    }
    EXPECT_EQ(orv_decoder_read_frame(d, &frame, p.data()), 0);
    EXPECT_EQ(orv_decoder_read_frame(d, &frame, p.data()), 0);
    // Seek-then-read equals read-through.
    for (int target : {17, 2, 29, 0, 16}) {
        ASSERT_EQ(orv_decoder_seek(d, target), ORV_OK);
        for (int f = target; f < F; ++f) {
            ASSERT_EQ(orv_decoder_read_frame(d, &frame, p.data()), 1);
            ASSERT_EQ(frame, f);
            ASSERT_EQ(std::memcmp(p.data(), rec[f].data(), p.size() * sizeof(double)), 0) << target << " " << f;
        }
    }
    EXPECT_LT(orv_decoder_seek(d, F), 0);
    EXPECT_NE(std::string(orv_decoder_error(d)), "");
    orv_decoder_destroy(d);

    // The C++ wrapper over the same.
    orv::Decoder dec(stream, faces, 1, 1);
    EXPECT_EQ(dec.info().decoded_spatial_layers, 1);
    std::vector<double> q1;
    int n = 0;
    while (dec.readFrame(frame, q1)) ++n;
    EXPECT_EQ(n, F);
    EXPECT_THROW(dec.seek(-1), orv::Exception);
    EXPECT_THROW(orv::Decoder(std::vector<uint8_t>(stream.begin(), stream.begin() + 20), faces), orv::Exception);
}

TEST(CApi, BadDecoderInputsGiveANegativeStatusAndAMessage) {
    std::vector<std::vector<double>> rec;
    const std::vector<uint8_t> stream = encodeGrid(rec);
    const std::vector<int32_t> faces = gridFaces();
    char err[256];
    orv_decoder* d = nullptr;
    // Null pointers.
    EXPECT_EQ(orv_decoder_create(nullptr, 10, faces.data(), 1, 0, 0, &d, err, sizeof err), ORV_E_ARGUMENT);
    EXPECT_NE(err[0], '\0');
    EXPECT_EQ(orv_decoder_create(stream.data(), stream.size(), nullptr, 3, 0, 0, &d, err, sizeof err), ORV_E_ARGUMENT);
    EXPECT_EQ(orv_decoder_create(stream.data(), stream.size(), faces.data(), 1, 0, 0, nullptr, nullptr, 0),
              ORV_E_ARGUMENT);
    EXPECT_EQ(orv_decoder_create(stream.data(), stream.size(), faces.data(), 1, -1, 0, &d, err, sizeof err),
              ORV_E_ARGUMENT);
    EXPECT_EQ(orv_decoder_read_frame(nullptr, nullptr, nullptr), ORV_E_ARGUMENT);
    EXPECT_EQ(orv_decoder_seek(nullptr, 0), ORV_E_ARGUMENT);
    EXPECT_EQ(orv_decoder_info(nullptr, nullptr), ORV_E_ARGUMENT);
    EXPECT_STREQ(orv_decoder_error(nullptr), "");
    orv_decoder_destroy(nullptr);
    // A short message buffer is truncated, not overrun.
    char tiny[8];
    EXPECT_LT(orv_decoder_create(stream.data(), 3, faces.data(), 1, 0, 0, &d, tiny, sizeof tiny), 0);
    EXPECT_EQ(std::strlen(tiny), 7u);

    // Truncated: the length field promises more; or the records run out.
    expectCreateFails(std::vector<uint8_t>(stream.begin(), stream.end() - 10), faces, ORV_E_STREAM,
                      "shorter than its length field");
    expectCreateFails(std::vector<uint8_t>(stream.begin(), stream.begin() + 20), faces, ORV_E_STREAM, "shorter");
    auto withLength = [](std::vector<uint8_t> s) {
        const size_t n = s.size() - 4;
        for (int i = 0; i < 4; ++i) s[i] = static_cast<uint8_t>(n >> (8 * i));
        return s;
    };
    orv::BitBuffer probe(std::vector<uint8_t>(stream.begin() + 4, stream.end()));
    orv::Settings settings;
    const orv::StreamHeader header = orv::RedundancyMinCoder::readCheckedStreamHeader(probe, settings);
    const orv::FrameRecordIndex index = orv::scanFrameRecords(probe, settings, header.F);
    const size_t lastRecord = 4 + static_cast<size_t>(index.records.back().bitOffset / 8);
    expectCreateFails(withLength(std::vector<uint8_t>(stream.begin(), stream.begin() + lastRecord + 3)), faces,
                      ORV_E_STREAM, "ends after 29 complete frame records");
    // F = 0.
    std::vector<uint8_t> none = stream;
    none[8] = none[9] = 0;
    expectCreateFails(none, faces, ORV_E_STREAM, "0 frames");
    // A frame number in two records.
    std::vector<uint8_t> dup = stream;
    const size_t at = 4 + static_cast<size_t>(index.records[3].bitOffset / 8);
    dup[at + 1] = static_cast<uint8_t>(index.records[2].frame >> 8);
    dup[at + 2] = static_cast<uint8_t>(index.records[2].frame);
    expectCreateFails(dup, faces, ORV_E_STREAM, "appears in two frame records");
    // Faces out of range, none, or from another mesh.
    std::vector<int32_t> beyond = faces;
    beyond[4] = V;
    expectCreateFails(stream, beyond, ORV_E_FACES, "names vertex");
    beyond[4] = -1;
    expectCreateFails(stream, beyond, ORV_E_FACES, "names vertex");
    expectCreateFails(stream, {}, ORV_E_FACES, "no faces");
    // Garbage payloads fail while reading, and the failure sticks.
    std::vector<uint8_t> garbled = stream;
    for (size_t i = 4 + static_cast<size_t>(index.records[1].bitOffset / 8) + 9; i < garbled.size(); i += 3)
        garbled[i] ^= 0x5a;
    d = nullptr;
    const int created = orv_decoder_create(garbled.data(), garbled.size(), faces.data(), faces.size() / 3, 0, 0, &d,
                                           err, sizeof err);
    if (created == ORV_OK) {
        std::vector<double> p(3 * V);
        int32_t frame;
        int s;
        while ((s = orv_decoder_read_frame(d, &frame, p.data())) == 1) {
        }
        if (s < 0) {
            EXPECT_NE(std::string(orv_decoder_error(d)), "");
            EXPECT_EQ(orv_decoder_read_frame(d, &frame, p.data()), s);
        }
        orv_decoder_destroy(d);
    } else {
        EXPECT_LT(created, 0);
        EXPECT_NE(err[0], '\0');
    }
}

TEST(CApi, BadEncoderInputsGiveANegativeStatusAndAMessage) {
    const std::vector<int32_t> faces = gridFaces();
    char err[256];
    orv_encoder* e = nullptr;
    auto createFails = [&](int32_t _V, const int32_t* _faces, size_t _n, const orv_encoder_options* _o,
                           const char* _text) {
        err[0] = '\0';
        EXPECT_LT(orv_encoder_create(_V, _faces, _n, _o, &e, err, sizeof err), 0);
        EXPECT_EQ(e, nullptr);
        EXPECT_NE(std::string(err).find(_text), std::string::npos) << err;
    };
    createFails(0, faces.data(), faces.size() / 3, nullptr, "vertex_count");
    createFails(V, nullptr, 3, nullptr, "no faces");
    createFails(V - 1, faces.data(), faces.size() / 3, nullptr, "names vertex");
    orv_encoder_options o;
    orv_encoder_options_default(&o);
    o.effort = 3;
    createFails(V, faces.data(), faces.size() / 3, &o, "effort");
    orv_encoder_options_default(&o);
    o.steps[0] = 1;
    createFails(V, faces.data(), faces.size() / 3, &o, "steps");
    // Steps the header can carry but the decoders refuse.
    for (double big : {1.64e296, 1e308}) {
        orv_encoder_options_default(&o);
        o.steps[0] = o.steps[1] = 1e-3;
        o.steps[2] = big;
        createFails(V, faces.data(), faces.size() / 3, &o, "about 1.6e296");
    }
    orv_encoder_options_default(&o);
    o.target = ORV_TARGET_KG;
    createFails(V, faces.data(), faces.size() / 3, &o, "target_value");

    ASSERT_EQ(orv_encoder_create(V, faces.data(), faces.size() / 3, nullptr, &e, err, sizeof err), ORV_OK);
    uint8_t* bytes = nullptr;
    size_t size = 0;
    EXPECT_EQ(orv_encoder_finish(e, &bytes, &size), ORV_E_ARGUMENT);  // F = 0
    EXPECT_NE(std::string(orv_encoder_error(e)).find("no frames"), std::string::npos);
    EXPECT_EQ(orv_encoder_add_frame(e, nullptr), ORV_E_ARGUMENT);
    std::vector<double> p = gridFrame(0);
    p[5] = std::nan("");
    EXPECT_EQ(orv_encoder_add_frame(e, p.data()), ORV_E_ARGUMENT);
    EXPECT_NE(std::string(orv_encoder_error(e)).find("not finite"), std::string::npos);
    orv_encoder_quality q;
    EXPECT_EQ(orv_encoder_quality_get(e, &q), ORV_E_ARGUMENT);
    EXPECT_EQ(orv_encoder_finish(e, nullptr, &size), ORV_E_ARGUMENT);
    orv_encoder_destroy(e);

    // A precision on a mesh this large derives a step the decoders refuse:
    // finish fails and hands out no stream.
    ASSERT_EQ(orv_encoder_create(V, faces.data(), faces.size() / 3, nullptr, &e, err, sizeof err), ORV_OK);
    for (int f = 0; f < 3; ++f) {
        std::vector<double> huge = gridFrame(f);
        for (double& c : huge) c *= 1e300;
        ASSERT_EQ(orv_encoder_add_frame(e, huge.data()), ORV_OK);
    }
    bytes = nullptr;
    size = 0;
    EXPECT_LT(orv_encoder_finish(e, &bytes, &size), 0);
    EXPECT_EQ(bytes, nullptr);
    EXPECT_NE(std::string(orv_encoder_error(e)).find("about 1.6e296"), std::string::npos) << orv_encoder_error(e);
    orv_encoder_destroy(e);
    EXPECT_EQ(orv_encoder_add_frame(nullptr, p.data()), ORV_E_ARGUMENT);
    EXPECT_STREQ(orv_encoder_error(nullptr), "");
}

TEST(CApi, TargetSearchAndTheCppEncoder) {
    orv_encoder_options o = orv::Encoder::defaults();
    o.target = ORV_TARGET_KG;
    o.target_value = 0.5;
    o.spatial_layers = 3;
    orv::Encoder enc(V, gridFaces(), o);
    for (int f = 0; f < 12; ++f) enc.addFrame(gridFrame(f));
    const std::vector<uint8_t> stream = enc.finish();
    const orv_encoder_quality q = enc.quality();
    EXPECT_EQ(q.target_met, 1);
    EXPECT_LE(q.kg_error, 0.5);
    EXPECT_GE(q.encodes, 1);
    orv::Decoder dec(stream, gridFaces());
    std::vector<double> p;
    int32_t frame;
    while (dec.readFrame(frame, p)) ASSERT_EQ(p, enc.reconstruction(frame));
    EXPECT_THROW(enc.finish(), orv::Exception);
}

TEST(CApi, TheCExampleDecodesToTheSameFloats) {
    std::vector<std::vector<double>> rec;
    const std::vector<uint8_t> stream = encodeGrid(rec);
    orvtest::ScratchDir dir;
    {
        std::ofstream s(dir / "grid.orv", std::ios::binary);
        s.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
        std::ofstream f(dir / "faces.txt");
        for (int32_t i : gridFaces()) f << i << '\n';
    }
    const auto r = orvtest::run("decode_raw", {"grid.orv", "faces.txt"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.output;
    ASSERT_EQ(r.output.size(), sizeof(float) * 3 * V * F);
    for (int f = 0; f < F; ++f)
        for (int i = 0; i < 3 * V; ++i) {
            float got;
            std::memcpy(&got, r.output.data() + sizeof(float) * (3 * V * f + i), sizeof got);
            ASSERT_EQ(got, static_cast<float>(rec[f][i])) << f << " " << i;
        }
    const auto bad = orvtest::run("decode_raw", {"faces.txt", "faces.txt"}, dir.path());
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.output.find("orv: "), std::string::npos);
}

namespace {

// Every frame a decoder gives from where it stands to the end.
std::vector<double> readRest(orv_decoder* _d) {
    std::vector<double> all, p(3 * V);
    int32_t frame;
    int s;
    while ((s = orv_decoder_read_frame(_d, &frame, p.data())) == 1) all.insert(all.end(), p.begin(), p.end());
    EXPECT_EQ(s, 0) << orv_decoder_error(_d);
    return all;
}

orv_decoder* openGrid(const std::vector<uint8_t>& _stream, int _nsl, int _ntl) {
    const std::vector<int32_t> faces = gridFaces();
    orv_decoder* d = nullptr;
    char err[256];
    EXPECT_EQ(orv_decoder_create(_stream.data(), _stream.size(), faces.data(), faces.size() / 3, _nsl, _ntl, &d, err,
                                 sizeof err),
              ORV_OK)
        << err;
    return d;
}

}  // namespace

TEST(CApi, EncoderThreadsGiveTheSameStreamAndBadCountsAreRefused) {
    const std::vector<int32_t> faces = gridFaces();
    std::vector<std::vector<double>> rec;
    const std::vector<uint8_t> one = encodeGrid(rec);
    for (int n : {2, 5, 1000}) {
        SCOPED_TRACE(n);
        orv::Encoder enc(V, faces);
        enc.setThreads(n);
        for (int f = 0; f < F; ++f) enc.addFrame(gridFrame(f));
        orv_encoder_options o;
        orv_encoder_options_default(&o);
        o.spatial_layers = 3;
        o.temporal_layers = 3;
        orv_encoder* e = nullptr;
        char err[256];
        ASSERT_EQ(orv_encoder_create(V, faces.data(), faces.size() / 3, &o, &e, err, sizeof err), ORV_OK) << err;
        EXPECT_EQ(orv_encoder_set_threads(e, 0), ORV_E_ARGUMENT);
        EXPECT_NE(std::string(orv_encoder_error(e)).find("at least 1 thread"), std::string::npos);
        ASSERT_EQ(orv_encoder_set_threads(e, n), ORV_OK);
        for (int f = 0; f < F; ++f) ASSERT_EQ(orv_encoder_add_frame(e, gridFrame(f).data()), ORV_OK);
        uint8_t* bytes = nullptr;
        size_t size = 0;
        ASSERT_EQ(orv_encoder_finish(e, &bytes, &size), ORV_OK) << orv_encoder_error(e);
        EXPECT_TRUE(std::vector<uint8_t>(bytes, bytes + size) == one);
        orv_free(bytes);
        orv_encoder_destroy(e);
        EXPECT_FALSE(enc.finish().empty());
    }
    EXPECT_EQ(orv_encoder_set_threads(nullptr, 2), ORV_E_ARGUMENT);
}

// A loop of 6 frames that the hierarchy's neighbours predict poorly: the
// chosen references (the same phase one cycle back) must pay off, and the
// switch must really turn them off.
TEST(CApi, ReferenceChoiceFollowsItsSwitchAndRefusesOtherValues) {
    const std::vector<int32_t> faces = gridFaces();
    auto loop = [](int f) {
        std::vector<double> p;
        const double t = 2 * M_PI * f / 6;
        for (int v = 0; v < V; ++v) {
            const double x = 0.1 * (v % W), y = 0.1 * (v / W);
            p.insert(p.end(), {x + 0.3 * f, y + 0.05 * std::sin(2 * t + 4 * x), 0.2 * std::sin(t + 5 * x)});
        }
        return p;
    };
    auto encode = [&](int _on) {
        orv::Encoder enc(V, faces);
        if (_on >= 0) enc.setReferenceChoice(_on == 1);
        for (int f = 0; f < F; ++f) enc.addFrame(loop(f));
        return enc.finish();
    };
    const std::vector<uint8_t> byDefault = encode(-1), chosen = encode(1), fixed = encode(0);
    EXPECT_TRUE(byDefault == chosen);
    EXPECT_LT(chosen.size(), fixed.size());

    orv_encoder* e = nullptr;
    char err[256];
    ASSERT_EQ(orv_encoder_create(V, faces.data(), faces.size() / 3, nullptr, &e, err, sizeof err), ORV_OK) << err;
    EXPECT_EQ(orv_encoder_set_reference_choice(e, 2), ORV_E_ARGUMENT);
    EXPECT_NE(std::string(orv_encoder_error(e)).find("0 or 1"), std::string::npos);
    orv_encoder_destroy(e);
    EXPECT_EQ(orv_encoder_set_reference_choice(nullptr, 0), ORV_E_ARGUMENT);
}

TEST(CApi, ThreadsGiveTheReconstructionBitForBitAndBadCountsAreRefused) {
    std::vector<std::vector<double>> rec;
    const std::vector<uint8_t> stream = encodeGrid(rec);
    for (int n : {1, 2, 3, 8}) {
        SCOPED_TRACE(n);
        orv_decoder* d = openGrid(stream, 0, 0);
        ASSERT_NE(d, nullptr);
        ASSERT_EQ(orv_decoder_set_threads(d, n), ORV_OK);
        for (int target : {0, 19, 3, 29, 12}) {
            ASSERT_EQ(orv_decoder_seek(d, target), ORV_OK);
            const std::vector<double> got = readRest(d);
            ASSERT_EQ(got.size(), 3 * static_cast<size_t>(V) * (F - target));
            for (int f = target; f < F; ++f)
                ASSERT_EQ(std::memcmp(got.data() + 3 * V * (f - target), rec[f].data(), 3 * V * sizeof(double)), 0)
                    << "from " << target << ", frame " << f;
        }
        // A bad count is refused and changes nothing.
        EXPECT_EQ(orv_decoder_set_threads(d, 0), ORV_E_ARGUMENT);
        EXPECT_NE(std::string(orv_decoder_error(d)).find("at least 1 thread"), std::string::npos);
        EXPECT_EQ(orv_decoder_set_threads(d, -2), ORV_E_ARGUMENT);
        ASSERT_EQ(orv_decoder_seek(d, 25), ORV_OK);
        EXPECT_EQ(readRest(d).size(), 3 * static_cast<size_t>(V) * 5);
        orv_decoder_destroy(d);
    }
    EXPECT_EQ(orv_decoder_set_threads(nullptr, 2), ORV_E_ARGUMENT);
    orv::Decoder dec(stream, gridFaces());
    try {
        dec.setThreads(0);
        ADD_FAILURE() << "0 threads accepted";
    } catch (const orv::Exception& e) {
        EXPECT_EQ(e.status(), ORV_E_ARGUMENT);
    }
    dec.setThreads(4);
    std::vector<double> p;
    int32_t frame;
    while (dec.readFrame(frame, p)) ASSERT_EQ(p, rec[frame]);
}

TEST(CApi, InfoReportsTheLayersDecodedWhenMoreAreAskedFor) {
    std::vector<std::vector<double>> rec;
    const std::vector<uint8_t> stream = encodeGrid(rec);  // 3 spatial, 3 temporal layers
    for (auto [nsl, ntl, wantSL, wantTL] : {std::tuple{9, 7, 3, 3}, {2, 4, 2, 3}, {5, 1, 3, 1}, {0, 0, 3, 3}}) {
        SCOPED_TRACE(testing::Message() << "asked " << nsl << "/" << ntl);
        orv_decoder* d = openGrid(stream, nsl, ntl);
        ASSERT_NE(d, nullptr);
        orv_stream_info info{};
        ASSERT_EQ(orv_decoder_info(d, &info), ORV_OK);
        EXPECT_EQ(info.decoded_spatial_layers, wantSL);
        EXPECT_EQ(info.decoded_temporal_layers, wantTL);
        // ... and decodes exactly what asking for those gives.
        orv_decoder* exact = openGrid(stream, wantSL, wantTL);
        EXPECT_EQ(readRest(d), readRest(exact));
        orv_decoder_destroy(exact);
        orv_decoder_destroy(d);
    }
}
