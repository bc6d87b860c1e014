// Geometry coding speed in million vertex-frames per second: the decoding
// phase (decodeAllFrames on a parsed header and a ready layering, no file
// writing) and the library encoder (encodeSequence, layering included; plain,
// and effort 1's dead zone on both geometry paths), on
// every sequence of ../shared/data and on a generated large one.
//
//   cmake -S . -B build-bench -G Ninja -DORV_BUILD_BENCH=ON && ninja -C build-bench GeometryBench
//   build-bench/bench/GeometryBench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/MeshIO.h"
#include "Encoder/GeometryCoder.h"
#include "Encoder/RedundancyMinCoder.h"
#include "SequenceEncoder/RateDistortionOptions.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

struct Sequence {
    FaceList faces;
    std::unique_ptr<GeometryT<double>> positions;
    double q[3] = {0, 0, 0};
    std::unique_ptr<EncodedSequence> encoded;  // (GeometryT is not move-assignable)
    std::unique_ptr<LODConnectivity> layering;
};


// Steps of about 1/5000 of the first frame's bounding-box diagonal.
void chooseSteps(Sequence& s) {
    const GeometryT<double>& g = *s.positions;
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (int i = 0; i < 3 * g.V; ++i) {
        lo[i % 3] = std::min(lo[i % 3], g.frame(0)[i]);
        hi[i % 3] = std::max(hi[i % 3], g.frame(0)[i]);
    }
    const double diag = std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                  (hi[2] - lo[2]) * (hi[2] - lo[2]));
    s.q[0] = s.q[1] = diag / 5000;
    s.q[2] = diag / 2500;
}

void prepare(Sequence& s) {
    chooseSteps(s);
    s.encoded = std::make_unique<EncodedSequence>(encodeSequence(*s.positions, s.faces, Settings{}, s.q));
    s.layering = std::make_unique<LODConnectivity>(Settings{}.nSL, s.faces, s.positions->V);
}

Sequence* loadSequence(const std::string& name) {
    const fs::path dir = orvtest::sequenceDir(name);
    if (dir.empty()) return nullptr;
    auto* s = new Sequence;
    s->positions = orvtest::loadSequence(dir, std::numeric_limits<int>::max(), s->faces);
    if (!s->positions) return nullptr;
    prepare(*s);
    return s;
}

// A 300 x 300 grid waving over 60 frames: 5.4 million vertex-frames.
Sequence* generatedSequence() {
    auto* s = new Sequence;
    const int W = 300, F = 60;
    for (int j = 0; j + 1 < W; ++j)
        for (int i = 0; i + 1 < W; ++i) {
            const int a = j * W + i;
            s->faces.push_back({a, a + 1, a + W + 1});
            s->faces.push_back({a, a + W + 1, a + W});
        }
    s->positions = std::make_unique<GeometryT<double>>(W * W, F);
    for (int f = 0; f < F; ++f)
        for (int v = 0; v < W * W; ++v) {
            const double x = (v % W) / double(W), y = (v / W) / double(W);
            s->positions->setPosition(v, f, {x, y, 0.05 * std::sin(10 * x + 0.2 * f) * std::cos(7 * y - 0.1 * f)});
        }
    prepare(*s);
    return s;
}

void setRate(benchmark::State& state, const Sequence& s) {
    const double vf = static_cast<double>(s.positions->V) * s.positions->F;
    state.counters["Mvf_per_s"] = benchmark::Counter(vf * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["stream_kB"] = static_cast<double>(s.encoded->streamFile.size()) / 1000.0;
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// The context's arrays come from calloc as untouched zero pages; touching
// them here keeps the allocation's page faults out of the decoding figure, as
// the zero-filling of the arrays was kept out before.
template <class T>
void prefault(GeometryT<T>& _g) {
    if (_g.V > 0 && _g.F > 0) std::memset(_g.frame(0), 0, sizeof(T) * 3 * static_cast<size_t>(_g.V) * _g.F);
}

void prefault(DecoderContext& _c) {
    prefault(_c.GDec);
    prefault(_c.GDetail);
    prefault(_c.GQuant);
    prefault(_c.GFrames);
}

void decodeBench(benchmark::State& state, Sequence* s) {
    if (!s) {
        state.SkipWithError("sequence absent");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        BitBuffer buffer(std::vector<uint8_t>(s->encoded->streamFile.begin() + 4, s->encoded->streamFile.end()));
        Settings settings;
        auto context = RedundancyMinCoder::readStreamHeader(buffer, settings);
        context->allLayerVertexOrders = s->layering->vertexOrder_;
        context->allLayerPredictors = s->layering->vertexPredictor_;
        prefault(*context);
        state.ResumeTiming();
        decodeAllFrames(buffer, *context, settings, settings.nSL, settings.nTL, false);
        benchmark::DoNotOptimize(context->GDec.frame(0));
        state.PauseTiming();
        context.reset();
        state.ResumeTiming();
    }
    setRate(state, *s);
}

void encodeBench(benchmark::State& state, Sequence* s) {
    if (!s) {
        state.SkipWithError("sequence absent");
        return;
    }
    for (auto _ : state) {
        EncodedSequence e = encodeSequence(*s->positions, s->faces, Settings{}, s->q);
        benchmark::DoNotOptimize(e.streamFile.data());
    }
    setRate(state, *s);
}

// Effort 1's fixed candidate (a finer first frame, a dead zone with the
// vertex guard) without its trials, on the AVX2 or the portable geometry
// path: the dead zone's enhancement passes are what the AVX2 path decides
// four vertices at a time.
void encodeDeadZoneBench(benchmark::State& state, Sequence* s, bool _simd) {
    if (!s) {
        state.SkipWithError("sequence absent");
        return;
    }
    const bool before = geometrySimd();
    if (setGeometrySimd(_simd) != _simd) {
        setGeometrySimd(before);
        state.SkipWithError("no AVX2 on this processor");
        return;
    }
    const RdOptions options = RdOptions::fixedForEffort(1);
    for (auto _ : state) {
        EncodedSequence e = encodeSequence(*s->positions, s->faces, Settings{}, s->q[2], options);
        benchmark::DoNotOptimize(e.streamFile.data());
    }
    setGeometrySimd(before);
    setRate(state, *s);
}

// Sequences load on first use, so listing or filtering benchmarks stays cheap.
Sequence* cached(const std::string& name) {
    static std::map<std::string, Sequence*> loaded;
    auto it = loaded.find(name);
    if (it != loaded.end()) return it->second;
    Sequence* s = name == "generated-grid" ? generatedSequence() : loadSequence(name);
    loaded[name] = s;
    return s;
}

const int registered = [] {
    for (const char* name : {"horse-gallop", "chickenCrossing", "pcow", "pdance", "generated-grid"}) {
        const std::string n = name;
        benchmark::RegisterBenchmark(("BM_Decode/" + n).c_str(),
                                     [n](benchmark::State& st) { decodeBench(st, cached(n)); })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0);
        benchmark::RegisterBenchmark(("BM_Encode/" + n).c_str(),
                                     [n](benchmark::State& st) { encodeBench(st, cached(n)); })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0);
        for (bool simd : {true, false})
            benchmark::RegisterBenchmark(("BM_EncodeDeadZone/" + n + (simd ? "/avx2" : "/portable")).c_str(),
                                         [n, simd](benchmark::State& st) { encodeDeadZoneBench(st, cached(n), simd); })
                ->Unit(benchmark::kMillisecond)
                ->MinTime(1.0);
    }
    return 0;
}();

}  // namespace
