// Speed of the residual entropy coder on residual lists shaped like those of
// real layers (mostly zeros, geometric magnitudes), and the payload size the
// automatic state-byte choice saves against the fixed equiprobable start.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "Decoder/CabacVx3Decoder.h"
#include "SequenceEncoder/CabacVx3Encoder.h"

namespace {

// n values; each is zero with probability _pZero, otherwise a random sign
// times 1 + Geometric(_pGeo).
std::vector<int> residualList(size_t _n, double _pZero, double _pGeo, unsigned _seed) {
    std::mt19937 rng(_seed);
    std::bernoulli_distribution zero(_pZero);
    std::geometric_distribution<int> geo(_pGeo);
    std::vector<int> v(_n, 0);
    for (int& x : v)
        if (!zero(rng))
            x = (1 + geo(rng)) * (rng() & 1 ? -1 : 1);
    return v;
}

// Bins coded for a list with B planes: significance, sign and magnitude bins
// plus the two terminating bins.
double binCount(const std::vector<int>& _v) {
    size_t nz = 0;
    unsigned maxMag = 0;
    for (int x : _v)
        if (x != 0) {
            ++nz;
            maxMag |= static_cast<unsigned>(x < 0 ? -static_cast<int64_t>(x) : x) - 1u;
        }
    int B = 0;
    while (maxMag >> B)
        ++B;
    return static_cast<double>(_v.size() + nz + nz * static_cast<size_t>(B) + 2);
}

// Arguments: n, percentage of zeros.
void BM_Decode(benchmark::State& _state) {
    const auto v = residualList(static_cast<size_t>(_state.range(0)), _state.range(1) / 100.0, 0.5, 1);
    const auto payload = orv::CabacVx3Encoder::encodeValues(v);
    std::vector<int> res;
    for (auto _ : _state) {
        orv::CabacVx3Decoder::decodeValues(payload.data(), payload.size(), v.size(), res);
        benchmark::DoNotOptimize(res.data());
    }
    const double iters = static_cast<double>(_state.iterations());
    _state.counters["Mbins/s"] = benchmark::Counter(binCount(v) * iters * 1e-6, benchmark::Counter::kIsRate);
    _state.counters["Mvalues/s"] = benchmark::Counter(v.size() * iters * 1e-6, benchmark::Counter::kIsRate);
    _state.counters["bits/value"] = 8.0 * payload.size() / v.size();
}
BENCHMARK(BM_Decode)->Args({300000, 70})->Args({300000, 90})->Args({300000, 40})->Args({3000, 70});

void BM_EncodeAuto(benchmark::State& _state) {
    const auto v = residualList(static_cast<size_t>(_state.range(0)), _state.range(1) / 100.0, 0.5, 2);
    for (auto _ : _state) {
        auto payload = orv::CabacVx3Encoder::encodeValues(v);
        benchmark::DoNotOptimize(payload.data());
    }
    const double iters = static_cast<double>(_state.iterations());
    _state.counters["Mbins/s"] = benchmark::Counter(binCount(v) * iters * 1e-6, benchmark::Counter::kIsRate);
    _state.counters["Mvalues/s"] = benchmark::Counter(v.size() * iters * 1e-6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeAuto)->Args({300000, 70})->Args({300000, 90})->Args({3000, 70});

void BM_EstimateBits(benchmark::State& _state) {
    const auto v = residualList(static_cast<size_t>(_state.range(0)), _state.range(1) / 100.0, 0.5, 3);
    for (auto _ : _state)
        benchmark::DoNotOptimize(orv::CabacVx3Encoder::estimateBits(v));
    _state.counters["Mvalues/s"] =
        benchmark::Counter(v.size() * static_cast<double>(_state.iterations()) * 1e-6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EstimateBits)->Args({300000, 70})->Args({3000, 70});

// Payload bytes of the automatic choice against state bytes 63/64 with the
// same B, summed over many layer-sized lists. Arguments: values per list,
// percentage of zeros.
void BM_StateByteSaving(benchmark::State& _state) {
    const size_t n = static_cast<size_t>(_state.range(0));
    const double pZero = _state.range(1) / 100.0;
    std::vector<std::vector<int>> lists;
    for (unsigned s = 0; s < 200; ++s)
        lists.push_back(residualList(n, pZero, 0.3 + 0.003 * s, 100 + s));
    double autoBytes = 0, fixedBytes = 0;
    for (auto _ : _state) {
        autoBytes = fixedBytes = 0;
        for (const auto& v : lists) {
            const auto a = orv::CabacVx3Encoder::encodeValues(v);
            // Same B as the automatic choice: the smallest that fits.
            unsigned maxMag = 0;
            for (int x : v)
                if (x != 0)
                    maxMag |= static_cast<unsigned>(x < 0 ? -static_cast<int64_t>(x) : x) - 1u;
            int B = 0;
            while (maxMag >> B)
                ++B;
            const auto f = orv::CabacVx3Encoder::encodeValues(v, 63, 64, B);
            autoBytes += a.size();
            fixedBytes += f.size();
        }
    }
    _state.counters["bytesAuto"] = autoBytes;
    _state.counters["bytesFixed6364"] = fixedBytes;
    _state.counters["saving%"] = 100.0 * (fixedBytes - autoBytes) / fixedBytes;
}
BENCHMARK(BM_StateByteSaving)
    ->Args({30, 70})
    ->Args({300, 70})
    ->Args({3000, 70})
    ->Args({30, 95})
    ->Args({300, 95})
    ->Args({3000, 95})
    ->Args({3000, 100})
    ->Unit(benchmark::kMillisecond);

}  // namespace
