// The byte-level pieces of the package file that its reader and writer share:
// the magic, the section tags and the little-endian field helpers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orv {

constexpr uint8_t kPackageMagic[8] = {'O', 'R', 'V', 'P', 'K', 'G', '\r', '\n'};

// Section tags, four ASCII letters each.
constexpr char kTagMeta[] = "META";
constexpr char kTagConnectivity[] = "CONN";
constexpr char kTagTexCoords[] = "TEXC";
constexpr char kTagStream[] = "STRM";

inline void appendLE(std::vector<uint8_t>& _out, uint64_t _v, int _bytes) {
    for (int i = 0; i < _bytes; ++i) _out.push_back(static_cast<uint8_t>(_v >> (8 * i)));
}
inline uint64_t readLE(const uint8_t* _p, int _bytes) {
    uint64_t v = 0;
    for (int i = 0; i < _bytes; ++i) v |= static_cast<uint64_t>(_p[i]) << (8 * i);
    return v;
}
inline void appendDouble(std::vector<uint8_t>& _out, double _d) {
    uint64_t bits;
    std::memcpy(&bits, &_d, 8);
    appendLE(_out, bits, 8);
}
inline double readDouble(const uint8_t* _p) {
    const uint64_t bits = readLE(_p, 8);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

// The vertex count in a stream file's header: the first 32 bits of the bit
// stream, most significant first, after the 4-byte length. _size >= 8.
inline uint32_t streamFileVertexCount(const uint8_t* _stream) {
    return (static_cast<uint32_t>(_stream[4]) << 24) | (static_cast<uint32_t>(_stream[5]) << 16) |
           (static_cast<uint32_t>(_stream[6]) << 8) | _stream[7];
}

}  // namespace orv
