// libFuzzer target: arbitrary bytes as a package file, and the same bytes as
// a coded triangle list on their own. Malformed input may only end in
// orv::Error; a decoded list must re-encode and decode to itself.
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORV_BUILD_FUZZ=ON -DORV_SANITIZE=ON -DORV_BUILD_TESTS=OFF
//   ninja -C build-fuzz PackageFuzz && build-fuzz/fuzz/PackageFuzz -max_total_time=60
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Common/Check.h"
#include "Connectivity/ConnectivityCodec.h"
#include "Package/Package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* _data, size_t _size) {
    try {
        orv::parsePackage(_data, _size, "fuzz");
    } catch (const orv::Error&) {
    }
    try {
        const orv::Connectivity c = orv::decodeConnectivity(_data, _size);
        const std::vector<uint8_t> again = orv::encodeConnectivity(c.indices, c.vertexCount);
        if (orv::decodeConnectivity(again.data(), again.size()).indices != c.indices) std::abort();
    } catch (const orv::Error&) {
    }
    return 0;
}
