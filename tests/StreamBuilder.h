// Builds stream files for tests: the real header and frame header writers
// with chunks of arbitrary bytes (the packetizer never looks inside them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Encoder/RedundancyMinCoder.h"
#include "Entropy/BitBuffer.h"

namespace orvtest {

struct Record {
    int t = 0;
    int frame = 0;
    std::vector<int> rf;
    std::vector<std::vector<uint8_t>> chunks;
};

// The bit stream (without the file's length field).
inline std::vector<uint8_t> bitStream(int V, int F, const orv::Settings& s, const std::vector<Record>& records,
                                      double q0 = 0.5, double q1 = 0.25, double q2 = 0.125) {
    size_t size = 64;
    for (const Record& r : records) {
        size += 5;
        for (const auto& c : r.chunks) size += 4 + c.size();
    }
    orv::BitBuffer b(static_cast<int64_t>(size));
    const double q[3] = {q0, q1, q2};
    orv::RedundancyMinCoder::writeStreamHeader(b, s, V, F, q);
    for (const Record& r : records) {
        orv::RedundancyMinCoder::writeFrameHeader(b, r.t, r.frame, r.rf);
        for (const auto& c : r.chunks) {
            b.putBits(static_cast<uint32_t>(c.size()), 32);
            b.putBytes(c.data(), static_cast<int64_t>(c.size()));
        }
    }
    const int64_t n = b.padToByte();
    return std::vector<uint8_t>(b.data(), b.data() + n);
}

// A stream file: 4-byte little-endian length, then the bit stream.
inline std::string streamFile(const std::vector<uint8_t>& bits) {
    const uint32_t n = static_cast<uint32_t>(bits.size());
    std::string s{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                  static_cast<char>(n >> 24)};
    s.append(bits.begin(), bits.end());
    return s;
}

inline orv::Settings settings(int nSL, int nTL) {
    orv::Settings s;
    s.nSL = nSL;
    s.nTL = nTL;
    return s;
}

}  // namespace orvtest
