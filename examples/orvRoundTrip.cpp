// Encodes a small generated animation (a rippling grid) with the installed
// library, decodes the stream again, and checks that every decoded position
// equals the encoder's own reconstruction bit for bit. Exit 0 when it does.
//   orvRoundTrip [STREAM.orv FACES.txt]   also writes the stream and its faces (zero-based)
#include <orv/orv.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    const int n = 24, V = n * n, F = 30;
    std::vector<int32_t> faces;
    for (int y = 0; y + 1 < n; ++y)
        for (int x = 0; x + 1 < n; ++x) {
            const int a = y * n + x, b = a + 1, c = a + n, d = c + 1;
            faces.insert(faces.end(), {a, b, d, a, d, c});
        }
    orv_encoder_options options;
    orv_encoder_options_default(&options);
    char err[256];
    orv_encoder* e = nullptr;
    if (orv_encoder_create(V, faces.data(), faces.size() / 3, &options, &e, err, sizeof err) != ORV_OK)
        return std::fprintf(stderr, "create: %s\n", err), 1;
    std::vector<double> frame(3 * V);
    for (int f = 0; f < F; ++f) {
        for (int v = 0; v < V; ++v) {
            const double x = v % n, y = v / n;
            frame[3 * v] = x;
            frame[3 * v + 1] = y;
            frame[3 * v + 2] = std::sin(0.4 * x + 0.2 * f) * std::cos(0.3 * y - 0.1 * f);
        }
        if (orv_encoder_add_frame(e, frame.data()) != ORV_OK) return std::fprintf(stderr, "%s\n", orv_encoder_error(e)), 1;
    }
    uint8_t* stream = nullptr;
    size_t size = 0;
    if (orv_encoder_finish(e, &stream, &size) != ORV_OK) return std::fprintf(stderr, "%s\n", orv_encoder_error(e)), 1;
    orv_encoder_quality q;
    orv_encoder_quality_get(e, &q);
    std::printf("%zu bytes, %.2f bits per vertex per frame, KG %.4f %%\n", size, q.bits_per_vertex_frame, q.kg_error);

    if (argc == 3) {
        FILE* out = std::fopen(argv[1], "wb");
        FILE* con = std::fopen(argv[2], "w");
        if (!out || !con || std::fwrite(stream, 1, size, out) != size) return std::fprintf(stderr, "cannot write\n"), 1;
        for (size_t i = 0; i < faces.size(); i += 3)
            std::fprintf(con, "%d %d %d\n", faces[i], faces[i + 1], faces[i + 2]);
        if (std::fclose(out) != 0 || std::fclose(con) != 0) return std::fprintf(stderr, "cannot write\n"), 1;
    }

    orv_decoder* d = nullptr;
    if (orv_decoder_create(stream, size, faces.data(), faces.size() / 3, 0, 0, &d, err, sizeof err) != ORV_OK)
        return std::fprintf(stderr, "decoder: %s\n", err), 1;
    std::vector<double> decoded(3 * V), expected(3 * V);
    int32_t f = 0, frames = 0;
    int status;
    while ((status = orv_decoder_read_frame(d, &f, decoded.data())) == 1) {
        orv_encoder_reconstruction(e, f, expected.data());
        if (f != frames++ || std::memcmp(decoded.data(), expected.data(), decoded.size() * sizeof(double)) != 0)
            return std::fprintf(stderr, "frame %d differs from the reconstruction\n", f), 1;
    }
    const bool ok = status == 0 && frames == F;
    orv_decoder_destroy(d);
    orv_encoder_destroy(e);
    orv_free(stream);
    std::printf("%s: %d frames decoded bit for bit\n", ok ? "ok" : "FAILED", frames);
    return ok ? 0 : 1;
}
