// Unsigned LEB128 numbers for the small headers of the connectivity payload
// and the package file: 7 bits a byte, low bits first, at most 10 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

inline void appendVarUInt(std::vector<uint8_t>& _out, uint64_t _v) {
    while (_v >= 0x80) {
        _out.push_back(static_cast<uint8_t>(_v | 0x80));
        _v >>= 7;
    }
    _out.push_back(static_cast<uint8_t>(_v));
}

// Reads one number at _pos; false (and _pos unchanged) when the bytes end
// first or the number does not fit in 64 bits.
inline bool readVarUInt(const uint8_t* _data, size_t _size, size_t& _pos, uint64_t& _v) {
    uint64_t value = 0;
    size_t p = _pos;
    for (int shift = 0; shift < 64; shift += 7) {
        if (p >= _size) return false;
        const uint8_t byte = _data[p++];
        if (shift == 63 && (byte & 0x7E) != 0) return false;
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            _v = value;
            _pos = p;
            return true;
        }
    }
    return false;
}

}  // namespace orv
