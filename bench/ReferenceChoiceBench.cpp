// What choosing references costs: the signatures and the per-record choice
// over the hierarchy of the default 4 temporal layers, on the sequences
// unpacked under ORV_DATA (default /tmp/orvdata: one folder of OBJ frames per
// sequence), at 12 bits of precision, beside a whole effort-1 encode with and
// without the choice.
//
//   cmake -S . -B build -G Ninja -DORV_BUILD_BENCH=ON && ninja -C build ReferenceChoiceBench
//   build/bench/ReferenceChoiceBench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "Encoder/FrameCodingOrderGen.h"
#include "EncoderApp/FrameSource.h"
#include "SequenceEncoder/QualityMetrics.h"
#include "SequenceEncoder/ReferenceChoice.h"
#include "SequenceEncoder/SequenceEncoder.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

const LoadedAnimation* sequence(const std::string& _name) {
    static std::string loadedName;
    static std::unique_ptr<LoadedAnimation> anim;
    if (loadedName != _name) {
        const char* root = std::getenv("ORV_DATA");
        const fs::path dir = fs::path(root ? root : "/tmp/orvdata") / _name;
        anim = fs::is_directory(dir)
                   ? std::make_unique<LoadedAnimation>(loadAnimation(expandFrameArguments({dir.string()})))
                   : nullptr;
        loadedName = _name;
    }
    return anim.get();
}

void choose(benchmark::State& _state, const std::string& _name) {
    const LoadedAnimation* anim = sequence(_name);
    if (!anim) return _state.SkipWithError(("sequence " + _name + " not unpacked under ORV_DATA").c_str());
    const int F = anim->positions.F;
    const double q = sequenceBoundingBox(anim->positions).diagonal() / 4096.0;
    std::vector<int> frames, layers;
    std::vector<std::vector<int>> refs;
    int changed = 0;
    for (auto _ : _state) {
        generateFrameCodingOrder(frames, refs, layers, F, 4, false, -1);
        const FrameSignatures s = frameSignatures(anim->positions, anim->faces);
        changed = chooseReferences(s, frames, layers, refs, q, false).framesChanged;
        benchmark::DoNotOptimize(refs.data());
    }
    _state.counters["changed"] = changed;
    _state.counters["Mvf/s"] = benchmark::Counter(static_cast<double>(anim->positions.V) * F * 1e-6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void encode(benchmark::State& _state, const std::string& _name) {
    const LoadedAnimation* anim = sequence(_name);
    if (!anim) return _state.SkipWithError(("sequence " + _name + " not unpacked under ORV_DATA").c_str());
    RdOptions options = RdOptions::forEffort(1);
    options.chooseReferences = _state.range(0) != 0;
    const double q = sequenceBoundingBox(anim->positions).diagonal() / 4096.0;
    size_t bytes = 0;
    for (auto _ : _state) {
        const EncodedSequence enc = encodeSequence(anim->positions, anim->faces, Settings{}, q, options);
        bytes = enc.streamFile.size();
        benchmark::DoNotOptimize(enc.streamFile.data());
    }
    _state.counters["bytes"] = static_cast<double>(bytes);
    _state.counters["Mvf/s"] = benchmark::Counter(static_cast<double>(anim->positions.V) * anim->positions.F * 1e-6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

#define ORV_SEQUENCE_BENCH(name)                                                                          \
    BENCHMARK_CAPTURE(choose, name, #name)->Unit(benchmark::kMillisecond);                                \
    BENCHMARK_CAPTURE(encode, name, #name)->Arg(0)->Arg(1)->ArgName("choose")->Unit(benchmark::kMillisecond)

ORV_SEQUENCE_BENCH(horse-gallop);
ORV_SEQUENCE_BENCH(pdance);
ORV_SEQUENCE_BENCH(pcow);
ORV_SEQUENCE_BENCH(chickenCrossing);
