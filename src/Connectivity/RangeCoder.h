// RangeCoder: an adaptive binary range coder (11-bit probabilities that move
// a 32nd of the way towards each coded bit) for the connectivity codec. The
// decoder never reads outside its buffer: past the end it counts the bytes it
// would have needed, so a truncated payload is detected instead of read over.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

using BitProb = uint16_t;
constexpr BitProb kProbHalf = 1024;

class RangeEncoder {
public:
    explicit RangeEncoder(std::vector<uint8_t>& _out) : out_(_out) {}

    // Where the bits go: with a tally set, the ideal cost of every decision
    // is added to the entry of the current category (figures only).
    void setTally(double* _tally) { tally_ = _tally; }
    void setCategory(int _category) { category_ = _category; }

    void bit(BitProb& _p, int _bit) {
        if (tally_) tally_[category_] -= std::log2((_bit ? 2048.0 - _p : _p) / 2048.0);
        const uint32_t bound = (range_ >> 11) * _p;
        if (_bit == 0) {
            range_ = bound;
            _p = static_cast<BitProb>(_p + ((2048 - _p) >> 5));
        } else {
            low_ += bound;
            range_ -= bound;
            _p = static_cast<BitProb>(_p - (_p >> 5));
        }
        while (range_ < (1u << 24)) {
            range_ <<= 8;
            shiftLow();
        }
    }

    // _n (at most 32) bits at probability one half, most significant first.
    void direct(uint32_t _value, int _n) {
        if (tally_) tally_[category_] += _n;
        for (int i = _n - 1; i >= 0; --i) {
            range_ >>= 1;
            if ((_value >> i) & 1u) low_ += range_;
            while (range_ < (1u << 24)) {
                range_ <<= 8;
                shiftLow();
            }
        }
    }

    void finish() {
        for (int i = 0; i < 5; ++i) shiftLow();
    }

private:
    void shiftLow() {
        if (static_cast<uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
            const uint8_t carry = static_cast<uint8_t>(low_ >> 32);
            uint8_t pending = cache_;
            do {
                out_.push_back(static_cast<uint8_t>(pending + carry));
                pending = 0xFF;
            } while (--cacheSize_ != 0);
            cache_ = static_cast<uint8_t>(low_ >> 24);
        }
        ++cacheSize_;
        low_ = (low_ & 0x00FFFFFFu) << 8;
    }

    std::vector<uint8_t>& out_;
    double* tally_ = nullptr;
    int category_ = 0;
    uint64_t low_ = 0;
    uint32_t range_ = 0xFFFFFFFFu;
    uint8_t cache_ = 0;
    uint64_t cacheSize_ = 1;
};

class RangeDecoder {
public:
    RangeDecoder(const uint8_t* _data, size_t _size) : p_(_data), end_(_data + _size) {
        leadingZero_ = nextByte() == 0;
        for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | nextByte();
    }

    // False when the payload cannot have come from the encoder (its first
    // byte is always zero and the code starts below the full range).
    bool validStart() const { return leadingZero_ && code_ != 0xFFFFFFFFu; }
    // Bytes the decoder needed beyond the payload (a truncated payload).
    size_t overrun() const { return overrun_; }
    // Bytes of the payload the decoder never read (trailing garbage).
    size_t unread() const { return static_cast<size_t>(end_ - p_); }

    int bit(BitProb& _p) {
        const uint32_t bound = (range_ >> 11) * _p;
        int b;
        if (code_ < bound) {
            range_ = bound;
            _p = static_cast<BitProb>(_p + ((2048 - _p) >> 5));
            b = 0;
        } else {
            code_ -= bound;
            range_ -= bound;
            _p = static_cast<BitProb>(_p - (_p >> 5));
            b = 1;
        }
        if (range_ < (1u << 24)) {
            range_ <<= 8;
            code_ = (code_ << 8) | nextByte();
        }
        return b;
    }

    uint32_t direct(int _n) {
        uint32_t value = 0;
        for (int i = 0; i < _n; ++i) {
            range_ >>= 1;
            uint32_t b = 0;
            if (code_ >= range_) {
                code_ -= range_;
                b = 1;
            }
            value = (value << 1) | b;
            if (range_ < (1u << 24)) {
                range_ <<= 8;
                code_ = (code_ << 8) | nextByte();
            }
        }
        return value;
    }

private:
    uint32_t nextByte() {
        if (p_ < end_) return *p_++;
        ++overrun_;
        return 0;
    }

    const uint8_t* p_;
    const uint8_t* end_;
    uint32_t range_ = 0xFFFFFFFFu;
    uint32_t code_ = 0;
    size_t overrun_ = 0;
    bool leadingZero_ = false;
};

}  // namespace orv
