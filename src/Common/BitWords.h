// BitWords: the width of a 64-bit word, and counting and selecting its set
// bits, and reading a short run of a row of such words: for the rank
// structures of the connectivity model (vertex sets kept as bit words with a
// Fenwick tree over the words' counts) and the encoder's residual cost model.
// The counts are written out rather than left to the builtins, which the
// baseline x86-64 target turns into library calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv {

// The per-byte counts of the set bits of _w, each in its own byte.
inline uint64_t byteCounts(uint64_t _w) {
    _w = _w - ((_w >> 1) & 0x5555555555555555ull);
    _w = (_w & 0x3333333333333333ull) + ((_w >> 2) & 0x3333333333333333ull);
    return (_w + (_w >> 4)) & 0x0F0F0F0F0F0F0F0Full;
}

// The number of bits up to the highest set one (0 for 0).
inline uint32_t bitWidth64(uint64_t _w) { return _w == 0 ? 0u : 64u - static_cast<uint32_t>(__builtin_clzll(_w)); }

inline int popcount64(uint64_t _w) { return static_cast<int>((byteCounts(_w) * 0x0101010101010101ull) >> 56); }

// The place (0..63) of the set bit of _w with _r set bits below it; _r is
// below popcount64(_w).
inline int selectBit(uint64_t _w, int _r) {
    // Byte k of the running sums: the set bits of bytes 0..k.
    const uint64_t sums = byteCounts(_w) * 0x0101010101010101ull;
    int byte = 0;
    while (byte < 7 && static_cast<int>((sums >> (8 * byte)) & 0xFF) <= _r) ++byte;
    if (byte > 0) _r -= static_cast<int>((sums >> (8 * (byte - 1))) & 0xFF);
    uint32_t bits = static_cast<uint32_t>(_w >> (8 * byte)) & 0xFFu;
    for (; _r > 0; --_r) bits &= bits - 1;
    return 8 * byte + __builtin_ctz(bits | 0x100u);
}

// Bit i set when bit _from + i of a row of _count words (_word(w), w <
// _count) is set, for i < _n (1..32); bits outside the row read as clear.
template <class Word>
uint32_t bitWindow(const Word& _word, size_t _count, int64_t _from, int _n) {
    const uint32_t mask = static_cast<uint32_t>((1ull << _n) - 1);
    if (_from < 0) return _from <= -_n ? 0u : bitWindow(_word, _count, 0, _n + static_cast<int>(_from)) << -_from & mask;
    const size_t w = static_cast<size_t>(_from) >> 6;
    if (w >= _count) return 0;
    const int off = static_cast<int>(_from & 63);
    uint64_t bits = _word(w) >> off;
    if (off != 0 && w + 1 < _count) bits |= _word(w + 1) << (64 - off);
    return static_cast<uint32_t>(bits) & mask;
}

}  // namespace orv
