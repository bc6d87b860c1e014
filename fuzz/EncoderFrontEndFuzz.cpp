// libFuzzer target: see encoderFrontEndOne in targets/FuzzTargets.h. Its seed corpus
// fuzz/corpus/EncoderFrontEndFuzz/ also runs in the test suite (FuzzCorpusTest).
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORV_BUILD_FUZZ=ON -DORV_SANITIZE=ON -DORV_BUILD_TESTS=OFF
//   ninja -C build-fuzz EncoderFrontEndFuzz && build-fuzz/fuzz/EncoderFrontEndFuzz -max_total_time=60 fuzz/corpus/EncoderFrontEndFuzz
#include <cstddef>
#include <cstdint>

#include "targets/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvfuzz::encoderFrontEndOne(data, size);
    return 0;
}
