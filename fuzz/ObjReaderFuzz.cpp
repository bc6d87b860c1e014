// libFuzzer target: see objReaderOne in targets/FuzzTargets.h. Its seed corpus
// fuzz/corpus/ObjReaderFuzz/ also runs in the test suite (FuzzCorpusTest).
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORV_BUILD_FUZZ=ON -DORV_SANITIZE=ON -DORV_BUILD_TESTS=OFF
//   ninja -C build-fuzz ObjReaderFuzz && build-fuzz/fuzz/ObjReaderFuzz -max_total_time=60 fuzz/corpus/ObjReaderFuzz
#include <cstddef>
#include <cstdint>

#include "targets/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvfuzz::objReaderOne(data, size);
    return 0;
}
