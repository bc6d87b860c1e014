// Decoding speed of the connectivity codec: a 100,000-face torus in its own
// numbering and shuffled, the 300 x 300 grid plain and built of patches, and
// the real sequences' first frames when present, in the encoder's mode and
// in the modes it chose between.
// Counters: faces per second and coded bits per triangle.
#include <benchmark/benchmark.h>

#include "Connectivity/ConnectivityCodec.h"
#include "GeneratedMeshes.h"
#include "TestSupport.h"

namespace {

// _mode 0: the mode the encoder chooses.
void decodeBench(benchmark::State& _state, const std::vector<int32_t>& _idx, int32_t _V, uint8_t _mode = 0) {
    const std::vector<uint8_t> coded = _mode ? orv::encodeConnectivityInMode(_idx, _V, _mode) : orv::encodeConnectivity(_idx, _V);
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

// The 300 x 300 grid built of patches stitched together.
void BM_DecodePatchGrid300(benchmark::State& _state) {
    const auto m = orvtest::patchGridMesh(150, 150);
    decodeBench(_state, m.indices, m.vertexCount);
}
BENCHMARK(BM_DecodePatchGrid300)->Unit(benchmark::kMillisecond);

void BM_DecodeSequence(benchmark::State& _state, const char* _name, uint8_t _mode = 0) {
    const auto dir = orvtest::sequenceDir(_name);
    if (dir.empty()) {
        _state.SkipWithError("shared data absent (../shared/data)");
        return;
    }
    orv::FaceList faces;
    const auto g = orv::readOBJ(orvtest::sequenceFrames(dir).front().string(), faces);
    decodeBench(_state, orv::toFlatIndices(faces), g->V, _mode);
}
BENCHMARK_CAPTURE(BM_DecodeSequence, horse, "horse-gallop")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, pdance, "pdance")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, pcow, "pcow")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, chicken, "chickenCrossing")->Unit(benchmark::kMillisecond);
// The same in given modes: a mode the encoder prefers against the one it beat.
BENCHMARK_CAPTURE(BM_DecodeSequence, horseMode4, "horse-gallop", 4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, horseMode13, "horse-gallop", 13)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, pdanceMode10, "pdance", 10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, pdanceMode16, "pdance", 16)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, pcowMode10, "pcow", 10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeSequence, pcowMode16, "pcow", 16)->Unit(benchmark::kMillisecond);

}  // namespace
