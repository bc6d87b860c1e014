// OBJ speed: frame text through std::to_chars against the same text through
// std::ostream, parsing a frame's text, and connectivity reading on the largest mesh of ../shared/data.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "Decoder/MeshIO.h"

namespace fs = std::filesystem;

namespace {

constexpr int kVertices = 10000;

// A frame of plausible coordinates (a unit-sized mesh) and twice as many faces.
struct Frame {
    orv::GeometryT<double> g{kVertices, 1};
    orv::FaceList faces;
    Frame() {
        std::mt19937_64 rng(7);
        std::uniform_real_distribution<double> c(-1.0, 1.0);
        for (int v = 0; v < kVertices; ++v) g.setPosition(v, 0, {c(rng), c(rng), c(rng)});
        for (int k = 0; k < 2 * kVertices; ++k)
            faces.push_back({k % kVertices, (k * 7 + 1) % kVertices, (k * 13 + 2) % kVertices});
    }
};

const Frame& frame() {
    static const Frame f;
    return f;
}

void perVertex(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.counters["ns_per_vertex"] = benchmark::Counter(static_cast<double>(kVertices) * 1e-9,
                                                         benchmark::Counter::kIsIterationInvariantRate |
                                                             benchmark::Counter::kInvert);
}

void BM_ObjFrameText_ToChars(benchmark::State& state) {
    const Frame& f = frame();
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = orv::objFrameText(f.g, 0, f.faces);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    perVertex(state, bytes);
}
BENCHMARK(BM_ObjFrameText_ToChars)->Unit(benchmark::kMicrosecond);

// The same text as the stream's default formatting writes it.
void BM_ObjFrameText_Ostream(benchmark::State& state) {
    const Frame& f = frame();
    size_t bytes = 0;
    for (auto _ : state) {
        std::ostringstream os;
        os << "# OBJ data file\n# Reconstructed by orv " ORV_VERSION " on Mon Dec  7 21:14:18 2026\n# " << kVertices
           << " vertices, " << f.faces.size() << " faces\n";
        const double* xyz = f.g.frame(0);
        for (int v = 0; v < kVertices; ++v, xyz += 3) os << "v " << xyz[0] << ' ' << xyz[1] << ' ' << xyz[2] << '\n';
        for (const auto& face : f.faces) os << "f " << face[0] + 1 << ' ' << face[1] + 1 << ' ' << face[2] + 1 << '\n';
        const std::string text = os.str();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    perVertex(state, bytes);
}
BENCHMARK(BM_ObjFrameText_Ostream)->Unit(benchmark::kMicrosecond);

// Parsing one frame's text of %.17g coordinates (what exporters write) and
// triangle lines: the number reading every frame of a sequence goes through.
void BM_ParseOBJFrame(benchmark::State& state) {
    const Frame& f = frame();
    std::string text;
    char line[128];
    for (int v = 0; v < kVertices; ++v) {
        const orv::Vector3d p = f.g.position(v, 0);
        text.append(line, static_cast<size_t>(std::snprintf(line, sizeof line, "v %.17g %.17g %.17g\n", p.x, p.y, p.z)));
    }
    for (const orv::Face& face : f.faces)
        text.append(line, static_cast<size_t>(std::snprintf(line, sizeof line, "f %d %d %d\n", face[0] + 1, face[1] + 1,
                                                            face[2] + 1)));
    orv::ObjFrameBuffers buffers;
    for (auto _ : state) {
        buffers.text = text;
        orv::parseOBJFrame("bench.obj", orv::ObjFaceOptions{}, buffers);
        benchmark::DoNotOptimize(buffers.xyz.data());
    }
    perVertex(state, text.size());
}
BENCHMARK(BM_ParseOBJFrame)->Unit(benchmark::kMicrosecond);

// The first frame of horse-gallop (8,431 vertices, 16,843 faces), unpacked
// once into the cache folder the tests use.
fs::path largestMesh() {
    const fs::path archive = fs::path(ORV_SHARED_DIR) / "data" / "horse-gallop.tar.xz";
    const fs::path cache = fs::temp_directory_path() / "orv-shared-data";
    const fs::path file = cache / "horse-gallop" / "0001.obj";
    if (fs::exists(cache / "horse-gallop.done") && fs::exists(file)) return file;
    if (!fs::exists(archive)) return {};
    const fs::path scratch = cache / ("bench-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    const std::string cmd = "tar xJf '" + archive.string() + "' -C '" + scratch.string() + "' horse-gallop/0001.obj";
    const bool ok = std::system(cmd.c_str()) == 0;
    const fs::path unpacked = scratch / "horse-gallop" / "0001.obj";
    return ok && fs::exists(unpacked) ? unpacked : fs::path();
}

void BM_ReadOBJ_Connectivity(benchmark::State& state) {
    const fs::path path = largestMesh();
    if (path.empty()) {
        state.SkipWithError("../shared/data/horse-gallop.tar.xz is absent");
        return;
    }
    size_t faces = 0;
    for (auto _ : state) {
        orv::FaceList f;
        f.reserve(5000);
        auto g = orv::readOBJ(path.string(), f);
        faces = f.size();
        benchmark::DoNotOptimize(g.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(fs::file_size(path)) * state.iterations());
    state.counters["faces"] = static_cast<double>(faces);
    state.counters["ns_per_face"] = benchmark::Counter(static_cast<double>(faces) * 1e-9,
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReadOBJ_Connectivity)->Unit(benchmark::kMillisecond);

}  // namespace
