// The streaming decoder against the full one in the same run, in million
// vertex-frames per second: decodeAllFrames (the whole sequence in memory)
// and StreamingDecoder handing out every frame in display order, both from
// the parsed stream with the layering ready; and the time to seek to the
// last frame and decode it, against decoding everything. On pdance when the
// shared data is present, else on a generated grid. Peak memory is measured
// per process by tools/streamingSequence.
//
// BM_StreamingDecodeThreads reads every frame on 1 and 2 threads (wall
// time), on the same sequence and on a generated grid of 100,000 vertices;
// "batch" is the most records decoded at once.
//
//   cmake -S . -B build -G Ninja -DORV_BUILD_BENCH=ON && ninja -C build StreamingDecodeBench
//   build/bench/StreamingDecodeBench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Decoder/FrameDecoder.h"
#include "Decoder/LODConnectivity.h"
#include "Decoder/StreamingDecoder.h"
#include "Encoder/RedundancyMinCoder.h"
#include "SequenceEncoder/SequenceEncoder.h"
#include "TestSupport.h"

using namespace orv;

namespace {

struct Prepared {
    std::string name;
    std::vector<uint8_t> bits;  // the bit stream
    int V = 0, F = 0;
    std::unique_ptr<LODConnectivity> layering;
};

// A W x H grid of F frames, waving.
void makeGrid(int _W, int _H, int _F, FaceList& _faces, std::unique_ptr<GeometryT<double>>& _g) {
    for (int j = 0; j + 1 < _H; ++j)
        for (int i = 0; i + 1 < _W; ++i) {
            const int a = j * _W + i;
            _faces.push_back({a, a + 1, a + _W + 1});
            _faces.push_back({a, a + _W + 1, a + _W});
        }
    _g = std::make_unique<GeometryT<double>>(_W * _H, _F);
    for (int f = 0; f < _F; ++f)
        for (int v = 0; v < _W * _H; ++v) {
            const double x = 0.01 * (v % _W), y = 0.01 * (v / _W);
            _g->setPosition(v, f, {x, y, 0.05 * std::sin(0.2 * f + 7 * x + 3 * y)});
        }
}

Prepared prepare(const std::string& _name, const GeometryT<double>& _g, const FaceList& _faces) {
    Prepared s;
    s.name = _name;
    const double steps[3] = {1e-3, 2e-3, 2e-3};
    const EncodedSequence enc = encodeSequence(_g, _faces, Settings{}, steps);
    s.bits.assign(enc.streamFile.begin() + 4, enc.streamFile.end());
    s.V = _g.V;
    s.F = _g.F;
    s.layering = std::make_unique<LODConnectivity>(Settings{}.nSL, _faces, s.V);
    return s;
}

Prepared& prepared() {
    static Prepared p = [] {
        FaceList faces;
        std::unique_ptr<GeometryT<double>> g;
        const auto dir = orvtest::sequenceDir("pdance");
        if (!dir.empty()) g = orvtest::loadSequence(dir, 1000, faces);
        if (g) return prepare("pdance", *g, faces);
        makeGrid(100, 80, 161, faces, g);
        return prepare("grid", *g, faces);
    }();
    return p;
}

// 400 x 250 vertices, 65 frames.
Prepared& large() {
    static Prepared p = [] {
        FaceList faces;
        std::unique_ptr<GeometryT<double>> g;
        makeGrid(400, 250, 65, faces, g);
        return prepare("grid", *g, faces);
    }();
    return p;
}

void rate(benchmark::State& _state, const Prepared& _p, int64_t _frames) {
    _state.counters["Mvf/s"] = benchmark::Counter(static_cast<double>(_p.V) * static_cast<double>(_frames) / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
    _state.SetLabel(_p.name + ", V " + std::to_string(_p.V) + ", F " + std::to_string(_p.F));
}

void BM_FullDecode(benchmark::State& _state) {
    const Prepared& p = prepared();
    for (auto _ : _state) {
        BitBuffer buffer(p.bits);
        Settings settings;
        auto context = RedundancyMinCoder::readStreamHeader(buffer, settings);
        context->allLayerVertexOrders = p.layering->vertexOrder_;
        context->allLayerPredictors = p.layering->vertexPredictor_;
        decodeAllFrames(buffer, *context, settings, settings.nSL, settings.nTL, false);
        benchmark::DoNotOptimize(context->GDec.frame(p.F - 1));
    }
    rate(_state, p, p.F);
}

std::unique_ptr<StreamingDecoder> open(BitBuffer& _buffer, Settings& _settings, StreamHeader& _header,
                                       const Prepared& _p) {
    _header = RedundancyMinCoder::readCheckedStreamHeader(_buffer, _settings);
    return std::make_unique<StreamingDecoder>(_buffer, _settings, _header, _p.layering->vertexOrder_,
                                              _p.layering->vertexPredictor_, _settings.nSL, _settings.nTL,
                                              StreamingDecoder::Positions::Window);
}

void BM_StreamingDecode(benchmark::State& _state) {
    const Prepared& p = prepared();
    std::vector<double> out(3 * static_cast<size_t>(p.V));
    for (auto _ : _state) {
        BitBuffer buffer(p.bits);
        Settings settings;
        StreamHeader header;
        auto d = open(buffer, settings, header, p);
        int f;
        while (d->next(f, out.data())) benchmark::DoNotOptimize(out.data());
    }
    rate(_state, p, p.F);
}

// Every frame on range(1) threads; range(0) 0: the sequence of the other
// benchmarks, 1: the 100,000-vertex grid.
void BM_StreamingDecodeThreads(benchmark::State& _state) {
    const Prepared& p = _state.range(0) == 0 ? prepared() : large();
    const int threads = static_cast<int>(_state.range(1));
    std::vector<double> out(3 * static_cast<size_t>(p.V));
    size_t batch = 0;
    for (auto _ : _state) {
        BitBuffer buffer(p.bits);
        Settings settings;
        StreamHeader header;
        auto d = open(buffer, settings, header, p);
        d->setThreads(threads);
        int f;
        while (d->next(f, out.data())) benchmark::DoNotOptimize(out.data());
        batch = d->largestBatch();
    }
    rate(_state, p, p.F);
    _state.counters["threads"] = threads;
    _state.counters["batch"] = static_cast<double>(batch);
}

// Seeking to the last frame and decoding it; "records" is what it decoded.
void BM_SeekToLastFrame(benchmark::State& _state) {
    const Prepared& p = prepared();
    std::vector<double> out(3 * static_cast<size_t>(p.V));
    int64_t records = 0;
    for (auto _ : _state) {
        BitBuffer buffer(p.bits);
        Settings settings;
        StreamHeader header;
        auto d = open(buffer, settings, header, p);
        d->seek(p.F - 1);
        int f;
        d->next(f, out.data());
        benchmark::DoNotOptimize(out.data());
        records = d->recordsDecoded();
    }
    _state.counters["records"] = static_cast<double>(records);
    _state.SetLabel(p.name + ", frame " + std::to_string(p.F - 1) + " of " + std::to_string(p.F));
}

BENCHMARK(BM_FullDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_StreamingDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SeekToLastFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_StreamingDecodeThreads)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"large", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

}  // namespace
