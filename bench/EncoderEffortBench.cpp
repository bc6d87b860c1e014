// Encoding speed of each effort level in million vertex-frames per second,
// on 1 and 2 threads (wall time): encodeSequence with RdOptions::forEffort(e)
// (layering included) on the sequences unpacked under ORV_DATA (default
// /tmp/orvdata: one folder of OBJ frames per sequence), at 11 bits of
// precision (step = diagonal / 2048). ORV_BENCH_FRAMES limits every sequence
// to its first N frames; the streams are the same on any thread count.
//
//   cmake -S . -B build-bench -G Ninja -DORV_BUILD_BENCH=ON && ninja -C build-bench EncoderEffortBench
//   build-bench/bench/EncoderEffortBench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "EncoderApp/FrameSource.h"
#include "SequenceEncoder/QualityMetrics.h"
#include "SequenceEncoder/RateDistortionOptions.h"
#include "SequenceEncoder/SequenceEncoder.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

std::unique_ptr<LoadedAnimation> load(const std::string& _name) {
    const char* root = std::getenv("ORV_DATA");
    const fs::path dir = fs::path(root ? root : "/tmp/orvdata") / _name;
    if (!fs::is_directory(dir)) return nullptr;
    auto anim = std::make_unique<LoadedAnimation>(loadAnimation(expandFrameArguments({dir.string()})));
    const char* limit = std::getenv("ORV_BENCH_FRAMES");
    const int n = limit ? std::atoi(limit) : 0;
    if (n > 0 && n < anim->positions.F) {
        GeometryT<double> sub(anim->positions.V, n);
        for (int f = 0; f < n; ++f)
            std::copy(anim->positions.frame(f), anim->positions.frame(f) + 3 * static_cast<size_t>(sub.V),
                      sub.frame(f));
        anim->positions = std::move(sub);
    }
    return anim;
}

void encodeEffort(benchmark::State& _state, const std::string& _name) {
    static std::string loadedName;
    static std::unique_ptr<LoadedAnimation> anim;
    if (loadedName != _name) {
        anim = load(_name);
        loadedName = _name;
    }
    if (!anim) {
        _state.SkipWithError(("sequence " + _name + " not unpacked under ORV_DATA").c_str());
        return;
    }
    const int effort = static_cast<int>(_state.range(0));
    const int threads = static_cast<int>(_state.range(1));
    const RdOptions options = RdOptions::forEffort(effort);
    const double q = sequenceBoundingBox(anim->positions).diagonal() / 2048.0;
    for (auto _ : _state) {
        EncodedSequence enc = encodeSequence(anim->positions, anim->faces, Settings{}, q, options, {}, threads);
        benchmark::DoNotOptimize(enc.streamFile.data());
    }
    const double vf = static_cast<double>(anim->positions.V) * anim->positions.F;
    _state.counters["MVF/s"] =
        benchmark::Counter(vf / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    _state.counters["V"] = anim->positions.V;
    _state.counters["F"] = anim->positions.F;
    _state.counters["threads"] = threads;
}

}  // namespace

#define ORV_EFFORT_BENCH(label, name)                                                              \
    BENCHMARK_CAPTURE(encodeEffort, label, std::string(name))                                     \
        ->ArgsProduct({benchmark::CreateDenseRange(0, kMaxEffort, 1), {1, 2}})                      \
        ->ArgNames({"effort", "threads"})                                                           \
        ->UseRealTime()                                                                             \
        ->Unit(benchmark::kMillisecond)                                                             \
        ->MinTime(2.0)

ORV_EFFORT_BENCH(horse, "horse-gallop");
ORV_EFFORT_BENCH(pcow, "pcow");
ORV_EFFORT_BENCH(pdance, "pdance");
ORV_EFFORT_BENCH(chicken, "chickenCrossing");
