// BitBuffer: the fixed-size byte array with one bit cursor through which every
// stream is read and written. Values go most significant bit first; the bits of
// a byte fill from its top bit down. Positions are 64-bit so that streams of
// 256 MiB and more (2^31 bits) stay addressable.
#pragma once

#include <cstdint>
#include <vector>

namespace orv {

class BitBuffer {
public:
    // For writing: n bytes, zero-filled so that skipped bits are reproducible.
    explicit BitBuffer(int64_t n);
    // For reading: takes over the bytes read from a file.
    explicit BitBuffer(std::vector<uint8_t> bytes);

    void putBit(bool b);
    void putBits(uint32_t value, int n);
    bool getBit();
    uint32_t getBits(int n);
    void putBytes(const uint8_t* src, int64_t _nBytes);
    void getBytes(uint8_t* dst, int64_t _nBytes);
    // getBytes without the copy: the next _nBytes bytes where they lie, valid
    // as long as the buffer is. The position must be byte-aligned.
    const uint8_t* viewBytes(int64_t _nBytes);
    void nextByte();
    int64_t padToByte();

    int64_t bitPosition() const { return bp_; }
    // Moves the cursor to a position inside the buffer (or just past its end),
    // for readers that revisit parts of a stream they scanned before.
    void setBitPosition(int64_t _bp);
    int64_t size() const { return nBytes_; }
    // Bytes not yet consumed from the current (byte-aligned or not) position.
    int64_t bytesLeft() const { return nBytes_ - (bp_ + 7) / 8; }
    const uint8_t* data() const { return data_.data(); }

private:
    int64_t nBytes_;
    std::vector<uint8_t> data_;
    int64_t bp_ = 0;
};

}  // namespace orv
