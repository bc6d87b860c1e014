// CabacVx3Encoder: the mirror of CabacVx3Decoder. Writes the payload of one
// layer chunk (state bytes, B and both passes, each ended like an H.264 slice)
// so that the decoder's pass lengths come out exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

class CabacVx3Encoder {
public:
    // Chooses B as the smallest that fits and both state bytes from the bin
    // statistics. Values must satisfy |x| - 1 < 2^31.
    static std::vector<uint8_t> encodeValues(const std::vector<int>& _values);
    // Same with fixed state bytes and B (tests, experiments).
    static std::vector<uint8_t> encodeValues(const std::vector<int>& _values, uint8_t _sigState, uint8_t _magState,
                                             int _B);
    // Approximate payload size in bits of encodeValues(_values), from a model
    // of the adaptive contexts; for rate decisions without encoding.
    static size_t estimateBits(const std::vector<int>& _values);
};

}  // namespace orv
