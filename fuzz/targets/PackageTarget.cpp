// Body of PackageFuzz: arbitrary bytes as a package file, and the same bytes
// as a coded triangle list on their own. Malformed input may only end in
// orv::Error; a decoded list must re-encode and decode to itself.
#include <cstddef>
#include <cstdint>

#include "Common/Check.h"
#include "Connectivity/ConnectivityCodec.h"
#include "Package/Package.h"
#include "FuzzTargets.h"

namespace orvfuzz {

void packageOne(const uint8_t* _data, size_t _size) {
    try {
        orv::parsePackage(_data, _size, "fuzz");
    } catch (const orv::Error&) {
    }
    orv::Connectivity c;
    try {
        c = orv::decodeConnectivity(_data, _size);
    } catch (const orv::Error&) {
        return;
    }
    const std::vector<uint8_t> again = orv::encodeConnectivity(c.indices, c.vertexCount);
    if (orv::decodeConnectivity(again.data(), again.size()).indices != c.indices)
        throw Finding("a decoded triangle list does not survive re-encoding");
}

}  // namespace orvfuzz
