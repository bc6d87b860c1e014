// Decoding speed of the connectivity codec: a 100,000-face torus in its own
// numbering and shuffled, the 300 x 300 grid, and the real sequences' first
// frames when present.
// Counters: faces per second and coded bits per triangle.
#include <benchmark/benchmark.h>

#include "Connectivity/ConnectivityCodec.h"
#include "GeneratedMeshes.h"
#include "TestSupport.h"

namespace {

void decodeBench(benchmark::State& _state, const std::vector<int32_t>& _idx, int32_t _V) {
    const std::vector<uint8_t> coded = orv::encodeConnectivity(_idx, _V);
    for (auto _ : _state) {
        orv::Connectivity c = orv::decodeConnectivity(coded.data(), coded.size());
        benchmark::DoNotOptimize(c.indices.data());
    }
    const double F = static_cast<double>(_idx.size() / 3);
    _state.counters["faces/s"] = benchmark::Counter(F, benchmark::Counter::kIsIterationInvariantRate);
    _state.counters["bits/tri"] = 8.0 * static_cast<double>(coded.size()) / F;
}

void BM_DecodeTorus100k(benchmark::State& _state) {
    const auto m = orvtest::torusMesh(200, 250);
    decodeBench(_state, m.indices, m.vertexCount);
}
BENCHMARK(BM_DecodeTorus100k)->Unit(benchmark::kMillisecond);

void BM_DecodeTorus100kShuffledVertices(benchmark::State& _state) {
    const auto m = orvtest::shuffledVertices(orvtest::torusMesh(200, 250));
    decodeBench(_state, m.indices, m.vertexCount);
}
BENCHMARK(BM_DecodeTorus100kShuffledVertices)->Unit(benchmark::kMillisecond);

void BM_DecodeTorus100kShuffledFaces(benchmark::State& _state) {
    const auto m = orvtest::shuffledFaces(orvtest::torusMesh(200, 250));
    decodeBench(_state, m.indices, m.vertexCount);
}
BENCHMARK(BM_DecodeTorus100kShuffledFaces)->Unit(benchmark::kMillisecond);

// The 300 x 300 grid of the size figures (178,802 faces), numbered in rows.
void BM_DecodeGrid300(benchmark::State& _state) {
    const auto m = orvtest::gridMesh(300, 300);
    decodeBench(_state, m.indices, m.vertexCount);
}
BENCHMARK(BM_DecodeGrid300)->Unit(benchmark::kMillisecond);

void BM_DecodeSequence(benchmark::State& _state, const char* _name) {
    const auto dir = orvtest::sequenceDir(_name);
    if (dir.empty()) {
        _state.SkipWithError("shared data absent (../shared/data)");
        return;
    }
    orv::FaceList faces;
    const auto g = orv::readOBJ(orvtest::sequenceFrames(dir).front().string(), faces);
    decodeBench(_state, orv::toFlatIndices(faces), g->V);
}
BENCHMARK_CAPTURE(BM_DecodeSequence, horse, "horse-gallop")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, pdance, "pdance")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, pcow, "pcow")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, chicken, "chickenCrossing")->Unit(benchmark::kMillisecond);

}  // namespace
