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
#include "LayeringMeshes.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

using orvtest::Mesh;

// The first frame of a shared sequence, or an empty path when the data is absent.
fs::path firstFrame(const std::string& name) {
    const fs::path dir = orvtest::sequenceDir(name);
    if (dir.empty()) return {};
    const auto frames = orvtest::sequenceFrames(dir);
    return frames.empty() ? fs::path() : frames.front();
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

Mesh icosphere7() { return orvtest::icosphereMesh(7); }      // 163,842 vertices, closed
Mesh grid320() { return orvtest::gridMesh(320, 320); }       // 103,041 vertices, with boundary

BENCHMARK_CAPTURE(realMesh, horse_gallop, std::string("horse-gallop"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(realMesh, pcow, std::string("pcow"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(realMesh, chickenCrossing, std::string("chickenCrossing"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(realMesh, pdance, std::string("pdance"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(generated, icosphere_163842, &icosphere7)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(generated, grid_103041, &grid320)->Unit(benchmark::kMillisecond);

}  // namespace
