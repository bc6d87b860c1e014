// streamingSequence: long generated streams for the streaming decoder's
// memory and speed figures, and a decode of them through the public API that
// reports its peak resident memory.
//
//   streamingSequence make OUT.orv OUT_con.obj V F   writes a stream of a waving
//       grid of about V vertices and F frames (F = 1 + 8k): frame 0 and two
//       groups of 8 are encoded (4 temporal layers), and the second group's
//       records are repeated with shifted frame numbers (its references are
//       relative, so every copy refers to the group before it). Long
//       sequences are made this way without holding V x F positions.
//   streamingSequence decode IN.orv CON.obj          decodes every frame with
//       orv_decoder_read_frame and prints frames, a checksum, the seconds,
//       the stream bytes and the peak resident memory.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Decoder/FrameRecordIndex.h"
#include "Decoder/MeshIO.h"
#include "Encoder/RedundancyMinCoder.h"
#include "Entropy/StreamFile.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "orv/orv.h"

namespace {

int make(const std::string& _out, const std::string& _con, int _V, int _F) {
    if (_F < 17 || (_F - 1) % 8 != 0) {
        std::fprintf(stderr, "F must be 1 + 8k, at least 17\n");
        return 1;
    }
    const int W = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(_V)))), H = (_V + W - 1) / W;
    const int V = W * H, F0 = 17;
    orv::FaceList faces;
    for (int j = 0; j + 1 < H; ++j)
        for (int i = 0; i + 1 < W; ++i) {
            const int a = j * W + i, b = a + 1, c = a + W, d = c + 1;
            faces.push_back({a, b, d});
            faces.push_back({a, d, c});
        }
    orv::GeometryT<double> g(V, F0);
    for (int f = 0; f < F0; ++f)
        for (int v = 0; v < V; ++v) {
            const double x = static_cast<double>(v % W) / W, y = static_cast<double>(v / W) / H, t = 0.2 * f;
            g.setPosition(v, f, {x, y + 0.01 * std::sin(t + 6 * x), 0.05 * std::sin(t + 9 * x + 4 * y)});
        }
    orv::Settings settings;
    settings.nSL = 8;
    settings.nTL = 4;
    const double steps[3] = {1.0 / 1024, 1.0 / 512, 1.0 / 512};
    const orv::EncodedSequence enc = orv::encodeSequence(g, faces, settings, steps);

    std::vector<uint8_t> bits(enc.streamFile.begin() + 4, enc.streamFile.end());
    orv::BitBuffer probe(bits);
    orv::Settings s;
    const orv::StreamHeader h = orv::RedundancyMinCoder::readCheckedStreamHeader(probe, s);
    const orv::FrameRecordIndex index = orv::scanFrameRecords(probe, s, h.F);
    // Records 9..16 are the second group (frames 9..16).
    const size_t groupBegin = static_cast<size_t>(index.records[9].bitOffset / 8);
    std::vector<uint8_t> out(bits.begin(), bits.begin() + static_cast<long>(groupBegin));
    out[4] = static_cast<uint8_t>(_F >> 8);  // F, after V (4 bytes)
    out[5] = static_cast<uint8_t>(_F);
    for (int base = 8; base + 8 < _F; base += 8)
        for (size_t r = 9; r <= 16; ++r) {
            const size_t begin = static_cast<size_t>(index.records[r].bitOffset / 8);
            const size_t end = r + 1 < index.records.size() ? static_cast<size_t>(index.records[r + 1].bitOffset / 8)
                                                            : bits.size();
            const size_t at = out.size();
            out.insert(out.end(), bits.begin() + static_cast<long>(begin), bits.begin() + static_cast<long>(end));
            const int frame = index.records[r].frame - 8 + base;
            out[at + 1] = static_cast<uint8_t>(frame >> 8);
            out[at + 2] = static_cast<uint8_t>(frame);
        }
    orv::writeStreamFile(_out, out.data(), out.size());
    std::FILE* c = std::fopen(_con.c_str(), "w");
    if (!c) return 1;
    for (const orv::Face& f : faces) std::fprintf(c, "f %d %d %d\n", f[0] + 1, f[1] + 1, f[2] + 1);
    std::fclose(c);
    std::printf("%s: %d vertices, %d frames, %zu bytes\n", _out.c_str(), V, _F, out.size() + 4);
    return 0;
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

int decode(const std::string& _in, const std::string& _con) {
    orv::FaceList faces;
    orv::readOBJ(_con, faces);
    std::vector<int32_t> ids;
    for (const orv::Face& f : faces) ids.insert(ids.end(), f.begin(), f.end());
    orv::FaceList().swap(faces);
    size_t streamBytes = 0;
    orv_decoder* d = nullptr;
    char err[256];
    const auto t0 = std::chrono::steady_clock::now();
    {
        std::ifstream in(_in, std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        streamBytes = file.size();
        if (orv_decoder_create(file.data(), file.size(), ids.data(), ids.size() / 3, 0, 0, &d, err, sizeof err) < 0) {
            std::fprintf(stderr, "%s: %s\n", _in.c_str(), err);
            return 1;
        }
    }
    std::vector<int32_t>().swap(ids);
    orv_stream_info info{};
    orv_decoder_info(d, &info);
    std::vector<double> p(3 * static_cast<size_t>(info.vertex_count));
    int32_t frame;
    int status, frames = 0;
    double sum = 0;
    while ((status = orv_decoder_read_frame(d, &frame, p.data())) == 1) {
        ++frames;
        sum += p[static_cast<size_t>(frame) % p.size()];
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (status < 0) std::fprintf(stderr, "%s: %s\n", _in.c_str(), orv_decoder_error(d));
    orv_decoder_destroy(d);
    const double vf = static_cast<double>(info.vertex_count) * frames;
    std::printf("frames %d  V %d  checksum %.17g  %.2f s  %.2f M vertex-frames/s  stream %zu bytes  peak RSS %ld KiB"
                "  (%.1f MB beyond the stream bytes)\n",
                frames, info.vertex_count, sum, seconds, vf / seconds / 1e6, streamBytes, peakKiB(),
                (peakKiB() * 1024.0 - static_cast<double>(streamBytes)) / 1e6);
    return status < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 6 && std::strcmp(argv[1], "make") == 0)
            return make(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
        if (argc == 4 && std::strcmp(argv[1], "decode") == 0) return decode(argv[2], argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "streamingSequence: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: streamingSequence make OUT.orv OUT_con.obj V F | decode IN.orv CON.obj\n");
    return 2;
}
