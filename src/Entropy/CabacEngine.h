// The H.264 binary arithmetic coding engines (9-bit range and offset) used by
// the residual coder: an adaptive context, the decoding engine and its exact
// mirror, the encoding engine. Private to CabacVx3Decoder / CabacVx3Encoder;
// everything is inline so that the per-bin work stays in registers.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Entropy/CabacTables.h"

namespace orv::cabac {

// An adaptive binary context: H.264's (pStateIdx, valMPS).
struct Context {
    uint8_t state;
    uint8_t mps;
};

// The payload's state byte is H.264's preCtxState without the clipping to
// 1..126: 0 and 127 therefore start in the trap state 63, which is legal.
// The caller has checked that _c <= 127.
inline Context contextFromStateByte(unsigned _c) {
    if (_c <= 63)
        return Context{static_cast<uint8_t>(63 - _c), 0};
    return Context{static_cast<uint8_t>(_c - 64), 1};
}

// The decoding engines take a context as a register (see decoderRegister):
// the packed context p = 2 * pStateIdx + valMPS in bits 32 and up, its row of
// LPS ranges below. Registers from kSkipFrom on (states kMpsClimbFirst and up)
// are those from which skipMpsRun() skips runs of MPS decisions.
inline constexpr uint64_t kSkipFrom = uint64_t{2 * kMpsClimbFirst} << 32;

// Bit-serial decoding engine over one pass, the plain form of the standard's
// procedures. The decoder uses it only for a pass whose first nine bits are
// 510 or 511, which no encoder writes: there the offset is not below the
// range and can grow without bound, so ScaledDecodingEngine's representation
// does not apply, yet the bins must still be those of the standard. Bits come from [begin, end); reading past the
// end yields zero bits, and overran() tells afterwards whether any such bit
// was consumed, so the bin loops need no per-bit bounds test and the engine
// never touches memory outside the pass.
class SerialDecodingEngine {
public:
    SerialDecodingEngine(const uint8_t* _begin, const uint8_t* _end) : begin_(_begin), p_(_begin), end_(_end) {
        range_ = 510;
        offset_ = readBits(8);
        offset_ = (offset_ << 1) | readBits(1);
    }

    int decodePacked(unsigned& _p) {
        Context ctx{static_cast<uint8_t>(_p >> 1), static_cast<uint8_t>(_p & 1)};
        const int bin = decodeDecision(ctx);
        _p = (unsigned{ctx.state} << 1) | ctx.mps;
        return bin;
    }

    int decodeDecision(Context& _ctx) {
        const unsigned s = _ctx.state;
        const uint32_t rLPS = rangeTabLPS[s][(range_ >> 6) & 3];
        range_ -= rLPS;
        int bin;
        if (offset_ < range_) {
            bin = _ctx.mps;
            _ctx.state = transIdxMPS[s];
            if (range_ >= 256)
                return bin;
        } else {
            offset_ -= range_;
            range_ = rLPS;
            bin = _ctx.mps ^ 1;
            if (s == 0)
                _ctx.mps ^= 1;
            _ctx.state = transIdxLPS[s];
        }
        renormD();
        return bin;
    }

    int decodeBypass() {
        offset_ = (offset_ << 1) | readBits(1);
        if (offset_ >= range_) {
            offset_ -= range_;
            return 1;
        }
        return 0;
    }

    int decodeTerminate() {
        range_ -= 2;
        if (offset_ >= range_)
            return 1;
        if (range_ < 256)
            renormD();
        return 0;
    }

    int decodeRegister(uint64_t& _k) {
        unsigned p = static_cast<unsigned>(_k >> 32);
        const int bin = decodePacked(p);
        _k = decoderRegister.v[p];
        return bin;
    }

    // The scaled engine's shortcuts, done bin by bin.
    void decodeBypassMasks(size_t _n, uint32_t* _out) {
        for (size_t j = 0; j < _n; ++j)
            _out[j] = 0u - static_cast<uint32_t>(decodeBypass());
    }
    size_t skipMpsRun(uint64_t&, size_t) { return 0; }

    // Bits taken from the pass so far: 9 at initialisation, one per
    // renormalisation step and per bypass bin.
    uint64_t bitsRead() const { return 8 * (static_cast<uint64_t>(p_ - begin_) + padBytes_) - cached_; }
    // Bytes fetched, counting a byte as soon as its first bit is used.
    uint64_t bytesFetched() const { return (bitsRead() + 7) / 8; }
    bool overran() const { return bitsRead() > 8 * static_cast<uint64_t>(end_ - begin_); }

private:
    // Scales the range back to 9 bits in one step; the offset takes exactly as
    // many fresh bits as the range doubled. Only called with codIRange < 256.
    void renormD() {
        const int shift = std::countl_zero(range_) - 23;
        range_ <<= shift;
        offset_ = (offset_ << shift) | readBits(shift);
    }

    // _k in 1..8.
    uint32_t readBits(int _k) {
        if (cached_ < _k)
            refill();
        const uint32_t v = static_cast<uint32_t>(cache_ >> (64 - _k));
        cache_ <<= _k;
        cached_ -= _k;
        return v;
    }

    // Tops the cache up; called only when fewer than 8 bits are left. Past
    // the end of the pass it supplies zero bytes (counted, never read).
    void refill() {
        if (end_ - p_ >= 8) {
            uint64_t w = 0;
            for (int i = 0; i < 8; ++i)
                w = (w << 8) | p_[i];
            const int nb = (64 - cached_) >> 3;
            const uint64_t keep = ~uint64_t{0} << (64 - 8 * nb);
            cache_ |= (w & keep) >> cached_;
            p_ += nb;
            cached_ += 8 * nb;
            return;
        }
        while (cached_ <= 56) {
            if (p_ < end_)
                cache_ |= static_cast<uint64_t>(*p_++) << (56 - cached_);
            else
                ++padBytes_;
            cached_ += 8;
        }
    }

    uint32_t range_ = 0;
    uint32_t offset_ = 0;
    uint64_t cache_ = 0;  // unread bits, left-aligned
    int cached_ = 0;      // number of valid bits in cache_
    const uint8_t* begin_;
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t padBytes_ = 0;  // zero bytes supplied past the end
};

// Decoding engine over one pass, for passes whose offset starts below the
// range (always so for an encoder's output; see startsInRange()). It keeps the
// standard's codIRange as it is (9 bits, 256..510 between bins) and the offset
// scaled by 2^c, where c is the number of bits fetched ahead of the offset:
// value_ = codIOffset * 2^c + those c bits. Renormalising by n bits is then
// just c -= n, and a decision compares value_ with the MPS sub-range shifted
// by c. The MPS/LPS test stays a branch: residual bins are skewed enough that
// the predicted path beats a select chain (measured on the real sequences).
//
// Two shortcuts give the standard's bins, range, offset and bit count exactly:
// - A run of MPS decisions only shrinks the scaled range (range_ << c), and
//   the offset does not move, so the next K decisions are all MPS exactly
//   when value_ is below the scaled range after K of them. An MPS takes the
//   state one up (62 stays), so that range depends on the state and the
//   range only: mpsClimb and mpsRun62Long/Short hold it.
// - n bypass bins are the n-bit quotient of value_ by (range_ << (c - n)),
//   their long division; the remainder is the new value_.
// Bits come from [begin, end); reading past the end yields zero bits, and
// overran() tells afterwards whether any such bit was consumed.
class ScaledDecodingEngine {
public:
    // True when the pass's first nine bits (codIOffset after initialisation)
    // are below 510: the offset then stays below the range for good.
    static bool startsInRange(const uint8_t* _begin, const uint8_t* _end) {
        const unsigned b0 = _begin < _end ? _begin[0] : 0;
        const unsigned b1 = _end - _begin >= 2 ? _begin[1] : 0;
        return ((b0 << 1) | (b1 >> 7)) < 510;
    }

    ScaledDecodingEngine(const uint8_t* _begin, const uint8_t* _end) : begin_(_begin), p_(_begin), end_(_end) {
        for (int i = 0; i < 7; ++i)
            value_ = (value_ << 8) | nextByte();
        range_ = 510;
        c_ = 47;
    }

    // One decision with the context register _k (see decoderRegister).
    [[gnu::always_inline]] int decodeRegister(uint64_t& _k) {
        refill();
        const unsigned p = static_cast<unsigned>(_k >> 32);
        // codIRangeLPS is byte (codIRange >> 6) & 3 of the register.
        const uint32_t rLPS = (static_cast<uint32_t>(_k) >> ((range_ >> 3) & 0x18)) & 0xFF;
        const uint32_t rMPS = range_ - rLPS;
        const uint64_t scaledMPS = uint64_t{rMPS} << c_;
        const int mps = static_cast<int>(p & 1);
        if (value_ < scaledMPS) {
            // An MPS leaves at least 128: one renormalisation step at most.
            const unsigned n = rMPS < 256;
            range_ = rMPS << n;
            c_ -= n;
            _k = decoderNext.v[p][0];
            return mps;
        }
        const unsigned lps = decoderRenormLPS.v[p][(range_ >> 6) & 3];
        value_ -= scaledMPS;
        range_ = lps & 0x1FF;
        c_ -= lps >> 9;
        _k = decoderNext.v[p][1];
        return mps ^ 1;
    }

    // One decision with packed context _p (2 * pStateIdx + valMPS).
    int decodePacked(unsigned& _p) {
        uint64_t k = decoderRegister.v[_p];
        const int bin = decodeRegister(k);
        _p = static_cast<unsigned>(k >> 32);
        return bin;
    }

    int decodeDecision(Context& _ctx) {
        unsigned p = (unsigned{_ctx.state} << 1) | _ctx.mps;
        const int bin = decodePacked(p);
        _ctx.state = static_cast<uint8_t>(p >> 1);
        _ctx.mps = static_cast<uint8_t>(p & 1);
        return bin;
    }

    [[gnu::always_inline]] int decodeBypass() {
        refill();
        --c_;
        const uint64_t r = uint64_t{range_} << c_;
        const unsigned bin = value_ >= r;
        value_ -= r & (uint64_t{0} - bin);
        return static_cast<int>(bin);
    }

    // _n bypass bins, bin j stored as _out[j] = bin ? ~0u : 0, a long
    // division at a time.
    void decodeBypassMasks(size_t _n, uint32_t* _out) {
        while (_n != 0) {
            refill();
            const unsigned m = _n < c_ ? static_cast<unsigned>(_n) : c_;
            c_ -= m;
            const uint64_t d = uint64_t{range_} << c_;
            const uint64_t q = value_ / d;  // below 2^m since value_ < d << m
            value_ -= q * d;
            for (unsigned j = 0; j < m; ++j)
                _out[j] = 0u - static_cast<uint32_t>((q >> (m - 1 - j)) & 1);
            _out += m;
            _n -= m;
        }
    }

    // For a context register _k from kSkipFrom on: skips the longest run
    // of whole blocks of MPS decisions, at most _max decisions, that the code
    // holds (blocks of kMpsRunShort while the state climbs to 62, then blocks
    // of kMpsRunLong and kMpsRunShort), updates _k and returns the number of
    // decisions skipped. Unless _max stopped it, an LPS follows within the
    // next kMpsRunShort decisions, which are decoded one by one.
    [[gnu::always_inline]] size_t skipMpsRun(uint64_t& _k, size_t _max) {
        unsigned p = static_cast<unsigned>(_k >> 32);
        if (p >= 126)
            return 0;  // state 63, the trap, is not worth a table
        size_t done = 0;
        while (p < 124 && _max - done >= static_cast<size_t>(kMpsRunShort)) {
            refill();
            if (!takeMpsRun(mpsClimb.v[(p >> 1) - kMpsClimbFirst][range_ - 256])) {
                _k = decoderRegister.v[p];
                return done;
            }
            done += kMpsRunShort;
            p = p + 2 * kMpsRunShort < 124 ? p + 2 * kMpsRunShort : 124 | (p & 1);
        }
        if (p >= 124) {
            skipState62Runs(mpsRun62Long, kMpsRunLong, _max, done);
            skipState62Runs(mpsRun62Short, kMpsRunShort, _max, done);
        }
        _k = decoderRegister.v[p];
        return done;
    }

    // A terminating bin 1 ends the pass: the range is left as it was, so the
    // bit count does not include a renormalisation that does not happen.
    int decodeTerminate() {
        refill();
        const uint32_t r = range_ - 2;
        if (value_ >= (uint64_t{r} << c_))
            return 1;
        const unsigned n = r < 256;
        range_ = r << n;
        c_ -= n;
        return 0;
    }

    uint64_t bitsRead() const { return 8 * (static_cast<uint64_t>(p_ - begin_) + padBytes_) - c_; }
    uint64_t bytesFetched() const { return (bitsRead() + 7) / 8; }
    bool overran() const { return bitsRead() > 8 * static_cast<uint64_t>(end_ - begin_); }

private:
    // Takes a run of MPS decisions given by its table entry _e (the range
    // after it in bits 0..8, its renormalisation shifts above) when the offset
    // lies below that range, that is, when every decision of the run is MPS.
    [[gnu::always_inline]] bool takeMpsRun(unsigned _e) {
        const unsigned s = _e >> 9;
        if (value_ >= (uint64_t{_e & 0x1FF} << (c_ - s)))
            return false;
        range_ = _e & 0x1FF;
        c_ -= s;
        return true;
    }

    // Whole runs of _n MPS decisions in state 62, while the code holds them
    // and _done stays within _max.
    [[gnu::always_inline]] void skipState62Runs(const RunTable& _t, int _n, size_t _max, size_t& _done) {
        while (_max - _done >= static_cast<size_t>(_n)) {
            refill();
            if (!takeMpsRun(_t.v[range_]))
                return;
            _done += static_cast<size_t>(_n);
        }
    }

    // A decision takes at most 7 bits and a run step at most 8, so c >= 8
    // before each is enough. With c < 8, value_ is below 2^(c+9), so six more
    // bytes keep it within 64 bits.
    [[gnu::always_inline]] void refill() {
        if (c_ >= 8) [[likely]]
            return;
        refillSlow();
    }

    void refillSlow() {
        if (end_ - p_ >= 8) {
            uint64_t w;
            std::memcpy(&w, p_, 8);
            if constexpr (std::endian::native == std::endian::little)
                w = __builtin_bswap64(w);
            value_ = (value_ << 48) | (w >> 16);
            p_ += 6;
        } else {
            for (int i = 0; i < 6; ++i)
                value_ = (value_ << 8) | nextByte();
        }
        c_ += 48;
    }

    unsigned nextByte() {
        if (p_ < end_)
            return *p_++;
        ++padBytes_;
        return 0;
    }

    uint64_t value_ = 0;
    uint32_t range_ = 0;  // codIRange, 256..510 between bins
    unsigned c_ = 0;      // bits fetched ahead of the offset
    const uint8_t* begin_;
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t padBytes_ = 0;  // zero bytes supplied past the end
};

// Encoding engine over one pass (H.264 clause 9.3.4.2), appending bytes to
// the caller's list. finish() ends the pass like a slice: terminating bin 1,
// the flush, then zero bits to the byte boundary.
//
// The bits are those of the standard's bit-serial PutBit procedure, produced
// a byte at a time. Seen as one long number, the low end of the interval
// (with every renormalisation a doubling) is written most significant bit
// first, starting one bit below its top bit, which the interval invariant
// keeps zero (that is the standard's suppressed first bit). low_ holds the 10
// bits of the standard's register plus queue_ bits above them that are not
// written yet and, one place higher, a possible carry into written bytes. A
// finished byte of 0xFF is held back (outstanding_) until a later byte shows
// whether a carry turns it into 0x00 and increments the byte before it.
class EncodingEngine {
public:
    explicit EncodingEngine(std::vector<uint8_t>& _out) : out_(_out), start_(_out.size()) {}

    void encodeDecision(Context& _ctx, int _bin) {
        const unsigned s = _ctx.state;
        const uint32_t rLPS = rangeTabLPS[s][(range_ >> 6) & 3];
        range_ -= rLPS;
        if (_bin != _ctx.mps) {
            low_ += range_;
            range_ = rLPS;
            if (s == 0)
                _ctx.mps ^= 1;
            _ctx.state = transIdxLPS[s];
        } else {
            _ctx.state = transIdxMPS[s];
            if (range_ >= 256)
                return;
        }
        renormE();
    }

    // _n decisions with one context, bin i given by _bin(i): the same steps
    // as encodeDecision, with the registers kept in locals across the run.
    template <class BinAt>
    void encodeDecisions(Context& _ctx, size_t _n, BinAt&& _bin) {
        uint32_t range = range_;
        uint64_t low = low_;
        int queue = queue_;
        unsigned state = _ctx.state;
        int mps = _ctx.mps;
        for (size_t i = 0; i < _n; ++i) {
            const uint32_t rLPS = rangeTabLPS[state][(range >> 6) & 3];
            range -= rLPS;
            if (_bin(i) != mps) {
                low += range;
                range = rLPS;
                if (state == 0)
                    mps ^= 1;
                state = transIdxLPS[state];
            } else {
                state = transIdxMPS[state];
                if (range >= 256)
                    continue;
            }
            const int shift = std::countl_zero(range) - 23;
            range <<= shift;
            low <<= shift;
            queue += shift;
            if (queue >= 8) {
                const int below = queue + 2;
                emit(static_cast<uint32_t>(low >> below));
                low &= (uint64_t{1} << below) - 1;
                queue -= 8;
            }
        }
        range_ = range;
        low_ = low;
        queue_ = queue;
        _ctx.state = static_cast<uint8_t>(state);
        _ctx.mps = static_cast<uint8_t>(mps);
    }

    // _n decisions with one context, bin i being bit i % 64 of _words[i / 64].
    // A skewed context settles in state 62, which an MPS leaves unchanged,
    // and an MPS only shifts low_; so there a run of k MPS bins (found in the
    // word) is two table steps (kRun62) instead of k decisions. That is where
    // residual magnitudes spend most bins: the high planes are nearly empty.
    void encodeDecisionWords(Context& _ctx, const uint64_t* _words, size_t _n) {
        uint32_t range = range_;
        uint64_t low = low_;
        int queue = queue_;
        unsigned p = (unsigned{_ctx.state} << 1) | _ctx.mps;  // packed context
        for (size_t b = 0; b * 64 < _n; ++b) {
            const uint64_t w = _words[b];
            const int nb = _n - b * 64 < 64 ? static_cast<int>(_n - b * 64) : 64;
            int j = 0;
            while (j < nb) {
                if ((p >> 1) == 62) {
                    const uint64_t lps = ((p & 1) ? ~w : w) >> j;
                    int k = lps != 0 ? std::countr_zero(lps) : 64;
                    k = k < nb - j ? k : nb - j;
                    if (k != 0) {
                        const uint16_t e1 = kRun62.eights[k >> 3][range - 256];
                        const uint16_t e2 = kRun62.ones[k & 7][(e1 & 511u) - 256];
                        range = e2 & 511u;
                        const int shift = (e1 >> 9) + (e2 >> 9);
                        low <<= shift;
                        queue += shift;
                        while (queue >= 8)
                            emitFrom(low, queue);
                        j += k;
                        if (j == nb)
                            break;
                    }
                }
                // No branch on the bin: significance bins and the low
                // magnitude planes are close to a coin toss.
                const unsigned lps = static_cast<unsigned>((w >> j) ^ p) & 1u;
                const uint32_t rLPS = packedRangeLPS.v[p][(range >> 6) & 3];
                const uint32_t rMPS = range - rLPS;
                p = packedNext.v[p][lps];
                low += lps ? rMPS : 0;
                range = lps ? rLPS : rMPS;
                ++j;
                const int shift = std::countl_zero(range) - 23;
                range <<= shift;
                low <<= shift;
                queue += shift;
                if (queue >= 8)
                    emitFrom(low, queue);
            }
        }
        range_ = range;
        low_ = low;
        queue_ = queue;
        _ctx.state = static_cast<uint8_t>(p >> 1);
        _ctx.mps = static_cast<uint8_t>(p & 1);
    }

    // _n bypass bins at once, the first in the highest of the _n low bits of
    // _bins: n doublings of low_ with the range added for each 1 come to
    // low_ * 2^n + range_ * _bins. _n in 1..16.
    void encodeBypassBits(uint32_t _bins, int _n) {
        low_ = (low_ << _n) + uint64_t{range_} * _bins;
        queue_ += _n;
        while (queue_ >= 8)
            emitTop();
    }

    void encodeBypass(int _bin) {
        low_ <<= 1;
        if (_bin)
            low_ += range_;
        if (++queue_ >= 8)
            emitTop();
    }

    void finish() {
        // EncodeTerminate with bin 1, then EncodeFlush: the two bits below
        // the held ones, the stop bit 1, zeros to the byte boundary.
        range_ -= 2;
        low_ += range_;
        range_ = 2;
        renormE();
        uint64_t v = ((low_ >> 8) << 1) | 1;
        int nBits = queue_ + 3;
        const int pad = (8 - nBits % 8) % 8;
        v <<= pad;
        nBits += pad;
        while (nBits > 0) {
            nBits -= 8;
            emit(static_cast<uint32_t>(v >> nBits));
            v &= (uint64_t{1} << nBits) - 1;
        }
        out_.insert(out_.end(), outstanding_, 0xFF);
        outstanding_ = 0;
    }

private:
    // MPS runs in state 62 from a 9-bit range r: ones[k][r - 256] for k
    // decisions, eights[k][r - 256] for 8k, each holding the range after the
    // run (bits 0..8) and the number of renormalisation doublings it took
    // (bits 9..15). Built from row 62 of rangeTabLPS, which the tests check
    // against the shared table.
    struct Run62Tables {
        uint16_t ones[8][256];
        uint16_t eights[9][256];
    };
    static constexpr Run62Tables kRun62 = [] {
        constexpr uint32_t lps62[4] = {6, 7, 8, 9};
        Run62Tables t{};
        for (uint32_t r0 = 256; r0 < 511; ++r0) {
            uint32_t r = r0, shifts = 0;
            for (int k = 0; k <= 64; ++k) {
                if (k < 8)
                    t.ones[k][r0 - 256] = static_cast<uint16_t>(r | (shifts << 9));
                if (k % 8 == 0)
                    t.eights[k / 8][r0 - 256] = static_cast<uint16_t>(r | (shifts << 9));
                r -= lps62[(r >> 6) & 3];
                while (r < 256) {
                    r <<= 1;
                    ++shifts;
                }
            }
        }
        return t;
    }();

    // Only called with range_ < 256.
    void renormE() {
        const int shift = std::countl_zero(range_) - 23;
        range_ <<= shift;
        low_ <<= shift;
        queue_ += shift;
        if (queue_ >= 8)
            emitTop();
    }

    // emitTop() on registers held in locals.
    void emitFrom(uint64_t& _low, int& _queue) {
        const int below = _queue + 2;
        emit(static_cast<uint32_t>(_low >> below));
        _low &= (uint64_t{1} << below) - 1;
        _queue -= 8;
    }

    // Moves the top 8 held bits (and the carry above them) out of low_.
    void emitTop() {
        const int below = queue_ + 2;
        emit(static_cast<uint32_t>(low_ >> below));
        low_ &= (uint64_t{1} << below) - 1;
        queue_ -= 8;
    }

    // _out: a finished byte in bits 0..7, a carry into the bytes before it
    // in bit 8. Once per eight bits: kept out of line so the bin loops keep
    // their registers.
    [[gnu::noinline]] void emit(uint32_t _out) {
        if (_out & 0x100) {
            // The byte before the held 0xFF run is never 0xFF itself; in the
            // pass's first byte the carry would reach the zero top bit, which
            // the interval invariant rules out.
            if (out_.size() > start_)
                ++out_.back();
            out_.insert(out_.end(), outstanding_, 0x00);
            outstanding_ = 0;
        }
        const uint8_t byte = static_cast<uint8_t>(_out);
        if (byte == 0xFF) {
            ++outstanding_;
            return;
        }
        if (outstanding_ != 0) {
            out_.insert(out_.end(), outstanding_, 0xFF);
            outstanding_ = 0;
        }
        out_.push_back(byte);
    }

    std::vector<uint8_t>& out_;
    size_t start_;
    uint64_t low_ = 0;
    uint32_t range_ = 510;
    int queue_ = -1;
    size_t outstanding_ = 0;
};

}  // namespace orv::cabac
