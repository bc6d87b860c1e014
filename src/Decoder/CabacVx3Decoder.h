// CabacVx3Decoder: turns a layer payload into its integer residuals with the
// H.264 binary arithmetic decoding engine and two adaptive contexts.
//
// Payload: significance state byte, pass 1 (significance bins, then sign bins
// in bypass, then a terminating bin), magnitude state byte, B, pass 2
// (magnitude bit planes B-1..0 of |x|-1, then a terminating bin).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

class CabacVx3Decoder {
public:
    // Decodes _nValues integers from the _size bytes at _payload. Returns the
    // number of bytes consumed (1 + L1 + 2 + L2). A corrupt payload (state byte
    // above 127, B above 31, a magnitude beyond 32 bits, a pass running past
    // the payload) throws orv::Error; nothing outside the payload is read.
    static size_t decodeValues(const uint8_t* _payload, size_t _size, size_t _nValues, std::vector<int>& _res);
    // The same into _out[0.._nValues), which is written only once the whole
    // payload has been decoded and checked.
    static size_t decodeValues(const uint8_t* _payload, size_t _size, size_t _nValues, int* _out);
};

}  // namespace orv
