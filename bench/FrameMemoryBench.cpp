// Fresh per-frame memory: what an encode pays to allocate a V x F geometry
// (reconstruction, details) and write it frame by frame, through the zeroed
// blocks the geometries use against plain calloc of the same size. On
// machines where a page fault is dear (virtual machines) this was a fifth of
// an encode. V = 7,061 (pdance); F = 17 (an effort trial) and 201 (the
// whole sequence).
//
//   cmake -S . -B build-bench -G Ninja -DORV_BUILD_BENCH=ON && ninja -C build-bench FrameMemoryBench
//   build-bench/bench/FrameMemoryBench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "Mesh/GeometryT.h"

namespace {

constexpr int kVertices = 7061;

void writeFrames(double* _p, size_t _perFrame, int _F) {
    for (int f = 0; f < _F; ++f) {
        double* frame = _p + _perFrame * static_cast<size_t>(f);
        for (size_t i = 0; i < _perFrame; ++i) frame[i] = static_cast<double>(i) * 0.5;
    }
}

void BM_GeometryFirstTouch(benchmark::State& _state) {
    const int F = static_cast<int>(_state.range(0));
    for (auto _ : _state) {
        orv::GeometryT<double> g(kVertices, F);
        writeFrames(g.frame(0), 3 * static_cast<size_t>(kVertices), F);
        benchmark::DoNotOptimize(g.frame(F - 1));
    }
    _state.SetBytesProcessed(_state.iterations() * int64_t{24} * kVertices * F);
}
BENCHMARK(BM_GeometryFirstTouch)->Arg(17)->Arg(201)->Unit(benchmark::kMillisecond);

void BM_CallocFirstTouch(benchmark::State& _state) {
    const int F = static_cast<int>(_state.range(0));
    const size_t n = 3 * static_cast<size_t>(kVertices) * static_cast<size_t>(F);
    for (auto _ : _state) {
        auto* p = static_cast<double*>(std::calloc(n, sizeof(double)));
        writeFrames(p, 3 * static_cast<size_t>(kVertices), F);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
    _state.SetBytesProcessed(_state.iterations() * int64_t{24} * kVertices * F);
}
BENCHMARK(BM_CallocFirstTouch)->Arg(17)->Arg(201)->Unit(benchmark::kMillisecond);

}  // namespace
