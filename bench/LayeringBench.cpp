// Benchmark of the layered decomposition (nSL = 8): the first frame of each
// real sequence in ../shared/data (skipped when absent) and generated meshes
// of over 100,000 vertices. Reports CPU milliseconds per decomposition and
// CPU nanoseconds per vertex; the label carries the per-layer vertex counts.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"

namespace fs = std::filesystem;

namespace {

struct Mesh {
    orv::FaceList faces;
    int V = 0;
};

// Unpacks a sequence archive once into the cache the tests use and returns
// the path of its first frame, or an empty path when the data is absent.
fs::path firstFrame(const std::string& name) {
    const fs::path archive = fs::path(ORV_SHARED_DIR) / "data" / (name + ".tar.xz");
    if (!fs::exists(archive)) return {};
    const fs::path cache = fs::temp_directory_path() / "orv-shared-data";
    const fs::path marker = cache / (name + ".done");
    if (!fs::exists(marker)) {
        fs::create_directories(cache);
        const std::string cmd = "tar xJf '" + archive.string() + "' -C '" + cache.string() + "'";
        if (std::system(cmd.c_str()) != 0) return {};
        std::system(("touch '" + marker.string() + "'").c_str());
    }
    fs::path best;
    long bestNumber = -1;
    for (const auto& e : fs::directory_iterator(cache / name)) {
        if (e.path().extension() != ".obj") continue;
        long number = 0;
        for (char c : e.path().stem().string())
            if (c >= '0' && c <= '9') number = number * 10 + (c - '0');
        if (bestNumber < 0 || number < bestNumber) {
            bestNumber = number;
            best = e.path();
        }
    }
    return best;
}

// Icosahedron with every triangle split into four, `levels` times.
Mesh icosphere(int levels) {
    Mesh m;
    m.V = 12;
    m.faces = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
               {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
               {3, 8, 9},  {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
    for (int l = 0; l < levels; ++l) {
        std::map<std::pair<int, int>, int> mid;
        auto midpoint = [&](int a, int b) {
            const auto key = std::minmax(a, b);
            const auto it = mid.find(key);
            if (it != mid.end()) return it->second;
            mid[key] = m.V;
            return m.V++;
        };
        orv::FaceList next;
        for (const auto& f : m.faces) {
            const int a = midpoint(f[0], f[1]), b = midpoint(f[1], f[2]), c = midpoint(f[2], f[0]);
            next.push_back({f[0], a, c});
            next.push_back({f[1], b, a});
            next.push_back({f[2], c, b});
            next.push_back({a, b, c});
        }
        m.faces = std::move(next);
    }
    return m;
}

// A w x h grid with boundary, each quad split along the same diagonal.
Mesh grid(int w, int h) {
    Mesh m;
    m.V = (w + 1) * (h + 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = y * (w + 1) + x, b = a + 1, c = a + w + 2, d = a + w + 1;
            m.faces.push_back({a, b, c});
            m.faces.push_back({a, c, d});
        }
    return m;
}

// Process CPU time: the figures should not depend on what else the machine
// is running.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void runDecomposition(benchmark::State& state, const Mesh& m) {
    std::string counts;
    double seconds = 0;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        const orv::LODConnectivity lod(8, m.faces, m.V);
        seconds += cpuSeconds() - t0;
        benchmark::DoNotOptimize(lod.vertexOrder_.data());
        if (counts.empty())
            for (const auto& layer : lod.vertexOrder_) counts += (counts.empty() ? "" : "/") + std::to_string(layer.size());
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["V"] = m.V;
    state.counters["ms"] = seconds * 1e3 / iterations;
    state.counters["ns_per_vertex"] = seconds * 1e9 / iterations / m.V;
    state.SetLabel("layers " + counts);
}

void realMesh(benchmark::State& state, const std::string& name) {
    const fs::path path = firstFrame(name);
    Mesh m;
    if (!path.empty()) {
        const auto geometry = orv::readOBJ(path.string(), m.faces);
        if (geometry) m.V = geometry->V;
    }
    if (m.V == 0) {
        state.SkipWithError(("shared data for " + name + " is absent").c_str());
        return;
    }
    runDecomposition(state, m);
}

void generated(benchmark::State& state, Mesh (*make)()) {
    const Mesh m = make();
    runDecomposition(state, m);
}

Mesh icosphere7() { return icosphere(7); }      // 163,842 vertices, closed
Mesh grid320() { return grid(320, 320); }       // 103,041 vertices, with boundary

BENCHMARK_CAPTURE(realMesh, horse_gallop, std::string("horse-gallop"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(realMesh, pcow, std::string("pcow"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(realMesh, chickenCrossing, std::string("chickenCrossing"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(realMesh, pdance, std::string("pdance"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(generated, icosphere_163842, &icosphere7)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(generated, grid_103041, &grid320)->Unit(benchmark::kMillisecond);

}  // namespace
