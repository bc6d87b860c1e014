// libFuzzer target: see capiOne in targets/FuzzTargets.h. Its seed corpus
// fuzz/corpus/CApiFuzz/ also runs in the test suite (FuzzCorpusTest).
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORV_BUILD_FUZZ=ON -DORV_SANITIZE=ON -DORV_BUILD_TESTS=OFF
//   ninja -C build-fuzz CApiFuzz && build-fuzz/fuzz/CApiFuzz -max_total_time=60 fuzz/corpus/CApiFuzz
#include <cstddef>
#include <cstdint>

#include "targets/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvfuzz::capiOne(data, size);
    return 0;
}
