// libFuzzer target: arbitrary bytes as a package file and as a coded triangle
// list (body in targets/PackageTarget.cpp, which the suite replays over the
// seed corpus).
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORV_BUILD_FUZZ=ON -DORV_SANITIZE=ON -DORV_BUILD_TESTS=OFF
//   ninja -C build-fuzz PackageFuzz && build-fuzz/fuzz/PackageFuzz -max_total_time=60
#include <cstddef>
#include <cstdint>

#include "targets/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvfuzz::packageOne(data, size);
    return 0;
}
