// CabacVx3Decoder: the two passes over a layer payload. Pass 1 yields the
// significance and sign of every value, pass 2 adds the magnitude bit planes.
// Payloads come from untrusted stream files, so every field is validated and
// each pass is confined to the bytes the chunk holds.
//
// The passes work on the non-zero values only: pass 1 lists their indices
// (appended without a branch on the bin) and decodes their signs in bulk,
// pass 2 gathers |x| - 1 per listed value, and the values are written out at
// the end. The lists live in per-thread buffers that are reused from chunk to
// chunk.
#include "Decoder/CabacVx3Decoder.h"

#include <string>

#include "Common/Check.h"
#include "Entropy/CabacEngine.h"

namespace orv {

namespace {

constexpr const char* kModule = "Decoder/CabacVx3Decoder";

[[noreturn]] void corrupt(const std::string& _what) {
    throw Error("corrupt layer payload: " + _what);
}

cabac::Context contextFromPayloadByte(uint8_t _c, const char* _which) {
    if (_c > 127)
        corrupt(std::string(_which) + " context state byte " + std::to_string(_c) + " is above 127");
    return cabac::contextFromStateByte(_c);
}

uint64_t contextRegister(cabac::Context _ctx) {
    return cabac::decoderRegister.v[(unsigned{_ctx.state} << 1) | _ctx.mps];
}

// The packed context p = 2 * pStateIdx + valMPS of a context register.
unsigned packedOf(uint64_t _k) {
    return static_cast<unsigned>(_k >> 32);
}

// The per-thread lists of one chunk: the indices of the non-zero values, their
// signs (~0u for negative) and their magnitudes |x| - 1. One spare entry each,
// for the unconditional append of pass 1.
struct Lists {
    std::vector<uint32_t> index, sign, magnitude;

    void reserve(size_t _n) {
        if (index.size() < _n + 1) {
            index.resize(_n + 1);
            sign.resize(_n + 1);
            magnitude.resize(_n + 1);
        }
    }
};

Lists& threadLists() {
    thread_local Lists lists;
    return lists;
}

// _n decisions with the context register _k. _bin(j, bin) takes decision j;
// _run(j, count, mps) takes count decisions mps from j on, skipped in one go
// (Engine::skipMpsRun) when the context is in a state that MPS runs are
// likely from. A skip stops short of the next LPS, so the decisions up to it
// are decoded one by one before the next skip is tried. Below kSkipFrom the
// decisions stay in a loop of their own until the context climbs out of it:
// the mid states are where most decisions are, and the tighter loop is
// measurably faster there.
template <class Engine, class Bin, class Run>
[[gnu::always_inline]] inline void decodeDecisions(Engine& _engine, uint64_t& _k, size_t _n, Bin&& _bin,
                                                   Run&& _run) {
    size_t j = 0;
    while (j < _n) {
        if (_k >= cabac::kSkipFrom) {
            const int mps = static_cast<int>(packedOf(_k) & 1);
            const size_t run = _engine.skipMpsRun(_k, _n - j);
            if (run != 0) {
                _run(j, run, mps);
                j += run;
            }
            while (j < _n) {
                const int bin = _engine.decodeRegister(_k);
                _bin(j, bin);
                ++j;
                if (bin != mps)
                    break;
            }
            continue;
        }
        do {
            _bin(j, _engine.decodeRegister(_k));
            ++j;
        } while (j < _n && _k < cabac::kSkipFrom);
    }
}

// Pass 1 over [_begin, _end): lists the non-zero values and their signs and
// returns the pass length L1 and the number of non-zero values.
struct SignificanceResult {
    size_t length;
    size_t nNonZero;
};

template <class Engine>
SignificanceResult significanceWith(Engine& _engine, cabac::Context _ctx, size_t _nValues, Lists& _lists) {
    uint64_t ctx = contextRegister(_ctx);
    uint32_t* const index = _lists.index.data();
    size_t nNonZero = 0;
    decodeDecisions(
        _engine, ctx, _nValues,
        [&](size_t _i, int _bin) {
            index[nNonZero] = static_cast<uint32_t>(_i);
            nNonZero += static_cast<size_t>(_bin);
        },
        [&](size_t _i, size_t _count, unsigned _mps) {
            if (_mps) {
                for (size_t t = 0; t < _count; ++t)
                    index[nNonZero + t] = static_cast<uint32_t>(_i + t);
                nNonZero += _count;
            }
        });
    _engine.decodeBypassMasks(nNonZero, _lists.sign.data());
    _engine.decodeTerminate();
    if (_engine.overran())
        corrupt("pass 1 needs more bytes than the chunk holds");
    return SignificanceResult{static_cast<size_t>(_engine.bytesFetched()), nNonZero};
}

SignificanceResult decodeSignificance(uint8_t _state, const uint8_t* _begin, const uint8_t* _end, size_t _nValues,
                                      Lists& _lists) {
    const cabac::Context ctx = contextFromPayloadByte(_state, "significance");
    if (cabac::ScaledDecodingEngine::startsInRange(_begin, _end)) {
        cabac::ScaledDecodingEngine engine(_begin, _end);
        return significanceWith(engine, ctx, _nValues, _lists);
    }
    cabac::SerialDecodingEngine engine(_begin, _end);
    return significanceWith(engine, ctx, _nValues, _lists);
}

// Pass 2: gathers the B magnitude planes of the _nNonZero listed values and
// returns the pass length L2. A skipped run of MPS 0 (the long stretches of
// zeros in the high planes) leaves the magnitudes as they are.
template <class Engine>
size_t magnitudesWith(Engine& _engine, cabac::Context _ctx, unsigned _B, size_t _nNonZero, Lists& _lists) {
    if (_nNonZero != 0 && _B != 0) {
        uint64_t ctx = contextRegister(_ctx);
        uint32_t* const mg = _lists.magnitude.data();
        for (size_t j = 0; j < _nNonZero; ++j)
            mg[j] = 0;
        for (unsigned k = _B; k-- > 0;) {
            decodeDecisions(
                _engine, ctx, _nNonZero, [&](size_t _j, int _bin) { mg[_j] |= static_cast<uint32_t>(_bin) << k; },
                [&](size_t _j, size_t _count, unsigned _mps) {
                    if (_mps) {
                        for (size_t t = 0; t < _count; ++t)
                            mg[_j + t] |= uint32_t{1} << k;
                    }
                });
        }
        if (_engine.overran())
            corrupt("pass 2 needs more bytes than the chunk holds");
        // 1 + m must stay within INT32_MAX for a positive value; -1 - m
        // reaches at most INT32_MIN.
        const uint32_t* const sign = _lists.sign.data();
        uint32_t tooLarge = 0;
        for (size_t j = 0; j < _nNonZero; ++j)
            tooLarge |= ~sign[j] & static_cast<uint32_t>(mg[j] > 0x7FFFFFFEu);
        if (tooLarge)
            corrupt("magnitude does not fit a 32-bit signed integer");
    }
    _engine.decodeTerminate();
    if (_engine.overran())
        corrupt("pass 2 needs more bytes than the chunk holds");
    return static_cast<size_t>(_engine.bytesFetched());
}

size_t decodeMagnitudes(uint8_t _state, unsigned _B, const uint8_t* _begin, const uint8_t* _end, size_t _nNonZero,
                        Lists& _lists) {
    const cabac::Context ctx = contextFromPayloadByte(_state, "magnitude");
    if (cabac::ScaledDecodingEngine::startsInRange(_begin, _end)) {
        cabac::ScaledDecodingEngine engine(_begin, _end);
        return magnitudesWith(engine, ctx, _B, _nNonZero, _lists);
    }
    cabac::SerialDecodingEngine engine(_begin, _end);
    return magnitudesWith(engine, ctx, _B, _nNonZero, _lists);
}

}  // namespace

size_t CabacVx3Decoder::decodeValues(const uint8_t* _payload, size_t _size, size_t _nValues, int* _out) {
    ORV_CHECK(_nValues <= 0xFFFFFFFFu, kModule);
    if (_size < 1)
        corrupt("empty payload");
    const uint8_t* const end = _payload + _size;
    Lists& lists = threadLists();
    lists.reserve(_nValues);

    const SignificanceResult pass1 = decodeSignificance(_payload[0], _payload + 1, end, _nValues, lists);
    const size_t magPos = 1 + pass1.length;
    if (_size < magPos + 2)
        corrupt("payload ends before the magnitude state byte and B");
    const uint8_t magState = _payload[magPos];
    const uint8_t B = _payload[magPos + 1];
    if (B > 31)
        corrupt("B = " + std::to_string(B) + " is above 31");
    const size_t length2 = decodeMagnitudes(magState, B, _payload + magPos + 2, end, pass1.nNonZero, lists);

    // Zeros everywhere, then ±(1 + m) at the listed values; with no plane
    // decoded every magnitude m is 0.
    for (size_t i = 0; i < _nValues; ++i)
        _out[i] = 0;
    const uint32_t* const index = lists.index.data();
    const uint32_t* const sign = lists.sign.data();
    const uint32_t* const mg = lists.magnitude.data();
    if (pass1.nNonZero != 0 && B != 0) {
        for (size_t j = 0; j < pass1.nNonZero; ++j)
            _out[index[j]] = static_cast<int>(((mg[j] + 1u) ^ sign[j]) - sign[j]);
    } else {
        for (size_t j = 0; j < pass1.nNonZero; ++j)
            _out[index[j]] = static_cast<int>((1u ^ sign[j]) - sign[j]);
    }
    return magPos + 2 + length2;
}

size_t CabacVx3Decoder::decodeValues(const uint8_t* _payload, size_t _size, size_t _nValues, std::vector<int>& _res) {
    _res.assign(_nValues, 0);
    const size_t used = decodeValues(_payload, _size, _nValues, _res.data());
    ORV_CHECK(_res.size()==_nValues, "Decoder/CabacVx3Decoder");
    return used;
}

}  // namespace orv
