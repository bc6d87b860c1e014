// libFuzzer target: arbitrary bytes as a glTF/glb animation for OrvEnc (body in
// targets/GltfReaderTarget.cpp, which the suite replays over the seed corpus).
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORV_BUILD_FUZZ=ON -DORV_SANITIZE=ON -DORV_BUILD_TESTS=OFF
//   ninja -C build-fuzz GltfReaderFuzz && build-fuzz/fuzz/GltfReaderFuzz -max_total_time=60
#include <cstddef>
#include <cstdint>

#include "targets/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvfuzz::gltfReaderOne(data, size);
    return 0;
}
