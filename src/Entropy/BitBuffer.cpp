// Bit and block access for BitBuffer. Every access is bounds-checked before a
// byte is touched; the block checks are done in 64 bits so a lying byte count
// near 2^31 cannot wrap around and slip past them.
#include "Entropy/BitBuffer.h"

#include <cstring>

#include "Common/Check.h"

namespace orv {

static constexpr const char* kModule = "Entropy/BitBuffer";

BitBuffer::BitBuffer(int64_t n) : nBytes_(n < 0 ? 0 : n), data_(static_cast<size_t>(nBytes_), 0) {}

BitBuffer::BitBuffer(std::vector<uint8_t> bytes)
    : nBytes_(static_cast<int64_t>(bytes.size())), data_(std::move(bytes)) {}

void BitBuffer::putBit(bool b) {
    ORV_CHECK(bp_<8*nBytes_, kModule);
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (bp_ % 8));
    if (b)
        data_[static_cast<size_t>(bp_ / 8)] |= mask;
    else
        data_[static_cast<size_t>(bp_ / 8)] &= static_cast<uint8_t>(~mask);
    ++bp_;
}

void BitBuffer::putBits(uint32_t value, int n) {
    if (n < 1) return;
    uint32_t mask = 1u << (n - 1);
    for (int i = 0; i < n; ++i, mask >>= 1) putBit((value & mask) != 0);
}

bool BitBuffer::getBit() {
    ORV_CHECK(bp_<8*nBytes_, kModule);
    const bool b = ((data_[static_cast<size_t>(bp_ / 8)] >> (7 - bp_ % 8)) & 1) != 0;
    ++bp_;
    return b;
}

uint32_t BitBuffer::getBits(int n) {
    if (n < 1) return 0;
    uint32_t result = 0;
    uint32_t mask = 1u << (n - 1);
    for (int i = 0; i < n; ++i, mask >>= 1)
        if (getBit()) result |= mask;
    return result;
}

void BitBuffer::putBytes(const uint8_t* src, int64_t _nBytes) {
    ORV_CHECK(_nBytes>=0, kModule);
    ORV_CHECK(bp_%8==0, kModule);
    ORV_CHECK(bp_/8+_nBytes<=nBytes_, kModule);
    if (_nBytes > 0) std::memcpy(data_.data() + bp_ / 8, src, static_cast<size_t>(_nBytes));
    bp_ += 8 * _nBytes;
}

void BitBuffer::getBytes(uint8_t* dst, int64_t _nBytes) {
    ORV_CHECK(_nBytes>=0, kModule);
    ORV_CHECK(bp_%8==0, kModule);
    ORV_CHECK(bp_/8+_nBytes<=nBytes_, kModule);
    if (_nBytes > 0) std::memcpy(dst, data_.data() + bp_ / 8, static_cast<size_t>(_nBytes));
    bp_ += 8 * _nBytes;
}

void BitBuffer::setBitPosition(int64_t _bp) {
    ORV_CHECK(0<=_bp && _bp<=8*nBytes_, kModule);
    bp_ = _bp;
}

const uint8_t* BitBuffer::viewBytes(int64_t _nBytes) {
    ORV_CHECK(_nBytes>=0, kModule);
    ORV_CHECK(bp_%8==0, kModule);
    ORV_CHECK(bp_/8+_nBytes<=nBytes_, kModule);
    const uint8_t* const at = data_.data() + bp_ / 8;
    bp_ += 8 * _nBytes;
    return at;
}

void BitBuffer::nextByte() {
    bp_ = (bp_ | 7) + 1;
    ORV_CHECK(bp_<8*nBytes_, kModule);
}

int64_t BitBuffer::padToByte() {
    while (bp_ % 8 != 0) putBit(false);
    ORV_CHECK((bp_%8)==0, kModule);
    return bp_ / 8;
}

}  // namespace orv
