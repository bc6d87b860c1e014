// Encodes a small generated animation (a rippling grid) with the installed
// library through its C++ interface (orv/orv.hpp), decodes the stream again on
// one thread and on two, seeks back into it, and checks that every decoded
// position equals the encoder's own reconstruction bit for bit. Exit 0 when
// it does.
//   orvRoundTrip [STREAM.orv FACES.txt]   also writes the stream and its faces (zero-based)
#include <orv/orv.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

// Reads frames from the decoder's place to the end; the number of frames that
// equal the reconstruction bit for bit, or -1 at the first that does not.
int matchingFrames(orv::Decoder& _decoder, const std::vector<std::vector<double>>& _reconstruction, int _first) {
    std::vector<double> p;
    int32_t f = 0;
    int n = 0;
    while (_decoder.readFrame(f, p)) {
        const std::vector<double>& want = _reconstruction[static_cast<size_t>(f)];
        if (f != _first + n || std::memcmp(p.data(), want.data(), p.size() * sizeof(double)) != 0) {
            std::fprintf(stderr, "frame %d differs from the reconstruction\n", f);
            return -1;
        }
        ++n;
    }
    return n;
}

}  // namespace

int main(int argc, char** argv) try {
    const int n = 24, V = n * n, F = 30;
    std::vector<int32_t> faces;
    for (int y = 0; y + 1 < n; ++y)
        for (int x = 0; x + 1 < n; ++x) {
            const int a = y * n + x, b = a + 1, c = a + n, d = c + 1;
            faces.insert(faces.end(), {a, b, d, a, d, c});
        }
    orv::Encoder encoder(V, faces);
    std::vector<double> frame(3 * V);
    for (int f = 0; f < F; ++f) {
        for (int v = 0; v < V; ++v) {
            const double x = v % n, y = v / n;
            frame[3 * v] = x;
            frame[3 * v + 1] = y;
            frame[3 * v + 2] = std::sin(0.4 * x + 0.2 * f) * std::cos(0.3 * y - 0.1 * f);
        }
        encoder.addFrame(frame);
    }
    const std::vector<uint8_t> stream = encoder.finish();
    const orv_encoder_quality q = encoder.quality();
    std::printf("%zu bytes, %.2f bits per vertex per frame, KG %.4f %%\n", stream.size(), q.bits_per_vertex_frame,
                q.kg_error);
    std::vector<std::vector<double>> reconstruction;
    for (int f = 0; f < F; ++f) reconstruction.push_back(encoder.reconstruction(f));

    if (argc == 3) {
        std::ofstream out(argv[1], std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
        std::ofstream con(argv[2]);
        for (size_t i = 0; i < faces.size(); i += 3) con << faces[i] << ' ' << faces[i + 1] << ' ' << faces[i + 2] << '\n';
        if (!out.flush() || !con.flush()) return std::fprintf(stderr, "cannot write %s or %s\n", argv[1], argv[2]), 1;
    }

    bool ok = true;
    for (int threads : {1, 2}) {
        orv::Decoder decoder(stream, faces);
        decoder.setThreads(threads);
        ok = ok && matchingFrames(decoder, reconstruction, 0) == F;
        decoder.seek(F / 2);
        ok = ok && matchingFrames(decoder, reconstruction, F / 2) == F - F / 2;
    }
    std::printf("%s: %d frames decoded bit for bit on 1 and 2 threads, and after a seek\n", ok ? "ok" : "FAILED", F);
    return ok ? 0 : 1;
} catch (const orv::Exception& e) {
    std::fprintf(stderr, "orvRoundTrip: %s (status %d)\n", e.what(), e.status());
    return 1;
}
