// Which geometry path runs: the AVX2 sweeps where the processor has them and
// the environment does not turn them off (ORV_GEOMETRY_SIMD=0), else the
// portable one; a process-wide choice that tests flip to compare the two.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "Encoder/GeometryCoder.h"
#include "Encoder/GeometryKernels.h"

namespace orv {

namespace {

bool avx2Available() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool available = geometry_kernels::avx2Built() && __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

bool simdByDefault() {
    const char* env = std::getenv("ORV_GEOMETRY_SIMD");
    return avx2Available() && !(env && std::strcmp(env, "0") == 0);
}

std::atomic<bool>& simdChoice() {
    static std::atomic<bool> choice{simdByDefault()};
    return choice;
}

}  // namespace

bool setGeometrySimd(bool _on) {
    simdChoice().store(_on && avx2Available(), std::memory_order_relaxed);
    return geometrySimd();
}

bool geometrySimd() { return simdChoice().load(std::memory_order_relaxed); }

}  // namespace orv
