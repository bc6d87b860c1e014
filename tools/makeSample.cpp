// makeSample: writes the project's own animated sample, a flag waving on its
// pole: a 72 x 48 grid (3,456 vertices, 6,674 triangles) with a free boundary,
// a travelling wave that grows away from the pole, a sag that breathes and a
// flutter along the free edge, so the motion is non-rigid everywhere but the
// pole. Deterministic: the same frames on every run.
//
// Usage: makeSample OUTDIR [frames]   (frames 1..65535, default 120)
// Writes OUTDIR/0.obj, OUTDIR/1.obj, ... with "v" and "f" lines only.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

constexpr int kColumns = 72;  // along the flag, away from the pole
constexpr int kRows = 48;
constexpr double kWidth = 2.0;
constexpr double kHeight = 1.3;
constexpr double kPi = 3.14159265358979323846;

struct Point {
    double x, y, z;
};

// Position of grid point (i, j) at time t (one unit = one wave period).
Point flagPoint(int _i, int _j, double _t) {
    const double u = static_cast<double>(_i) / (kColumns - 1);  // 0 at the pole
    const double v = static_cast<double>(_j) / (kRows - 1);
    const double phase = 2 * kPi * (1.6 * u - _t);
    const double amplitude = 0.22 * u * (0.8 + 0.2 * std::sin(2 * kPi * 0.37 * _t));
    Point p;
    p.x = kWidth * u - 0.06 * u * (1 - std::cos(phase));  // the cloth shortens where it folds
    p.y = kHeight * v - 0.18 * u * u * (1.1 + 0.4 * std::sin(2 * kPi * 0.23 * _t + 1.0));
    p.z = amplitude * std::sin(phase) + 0.05 * u * u * std::sin(2 * kPi * (2.5 * v + 1.3 * _t)) +
          0.03 * u * std::sin(2 * kPi * (0.7 * v - 0.5 * _t));
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::printf("Usage: makeSample OUTDIR [frames]\n"
                    "Writes an animated flag (%d vertices) as OUTDIR/0.obj, 1.obj, ... (default 120 frames).\n",
                    kColumns * kRows);
        return -1;
    }
    const std::string dir = argv[1];
    int frames = 120;
    if (argc == 3) {
        char* end = nullptr;
        const long n = std::strtol(argv[2], &end, 10);
        if (*argv[2] == '\0' || *end != '\0' || n < 1 || n > 65535) {
            std::printf("makeSample: frames must be a whole number from 1 to 65535 (got '%s')\n", argv[2]);
            return -1;
        }
        frames = static_cast<int>(n);
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::printf("makeSample: cannot create folder '%s': %s\n", dir.c_str(), ec.message().c_str());
        return -1;
    }
    std::string faces;
    for (int i = 0; i + 1 < kColumns; ++i)
        for (int j = 0; j + 1 < kRows; ++j) {
            const int a = i * kRows + j + 1, b = (i + 1) * kRows + j + 1, c = b + 1, d = a + 1;
            char line[96];
            // Alternating diagonals keep the triangulation symmetric.
            if ((i + j) % 2 == 0)
                std::snprintf(line, sizeof line, "f %d %d %d\nf %d %d %d\n", a, b, c, a, c, d);
            else
                std::snprintf(line, sizeof line, "f %d %d %d\nf %d %d %d\n", a, b, d, b, c, d);
            faces += line;
        }
    for (int f = 0; f < frames; ++f) {
        const double t = f / 40.0;  // 40 frames per wave period
        std::string text = "# orv sample: waving flag, frame " + std::to_string(f) + "\n";
        for (int i = 0; i < kColumns; ++i)
            for (int j = 0; j < kRows; ++j) {
                const Point p = flagPoint(i, j, t);
                char line[96];
                std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", p.x, p.y, p.z);
                text += line;
            }
        text += faces;
        const std::string path = (std::filesystem::path(dir) / (std::to_string(f) + ".obj")).string();
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fclose(out) != 0) {
            std::printf("makeSample: cannot write '%s': %s\n", path.c_str(), std::strerror(errno));
            return -1;
        }
    }
    std::printf("makeSample: %d frames of %d vertices and %d faces written to %s\n", frames, kColumns * kRows,
                2 * (kColumns - 1) * (kRows - 1), dir.c_str());
    return 0;
}
