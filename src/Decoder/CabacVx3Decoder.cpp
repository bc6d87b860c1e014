// CabacVx3Decoder: the two passes over a layer payload. Pass 1 yields the
// significance and sign of every value, pass 2 adds the magnitude bit planes.
// Payloads come from untrusted stream files, so every field is validated and
// each pass is confined to the bytes the chunk holds.
#include "Decoder/CabacVx3Decoder.h"

#include <string>

#include "Common/Check.h"
#include "Entropy/CabacEngine.h"

namespace orv {

namespace {

[[noreturn]] void corrupt(const std::string& _what) {
    throw Error("corrupt layer payload: " + _what);
}

cabac::Context contextFromPayloadByte(uint8_t _c, const char* _which) {
    if (_c > 127)
        corrupt(std::string(_which) + " context state byte " + std::to_string(_c) + " is above 127");
    return cabac::contextFromStateByte(_c);
}

// Pass 1 over [_begin, _end): fills _res with 0, +1 or -1 and returns the pass
// length L1 and the number of non-zero values.
struct SignificanceResult {
    size_t length;
    size_t nNonZero;
};

SignificanceResult decodeSignificance(uint8_t _state, const uint8_t* _begin, const uint8_t* _end, size_t _nValues,
                                      int* _res) {
    cabac::Context ctx = contextFromPayloadByte(_state, "significance");
    cabac::DecodingEngine engine(_begin, _end);
    size_t nNonZero = 0;
    for (size_t i = 0; i < _nValues; ++i) {
        const int bin = engine.decodeDecision(ctx);
        _res[i] = bin;
        nNonZero += static_cast<size_t>(bin);
    }
    for (size_t i = 0; i < _nValues; ++i) {
        if (_res[i] != 0)
            _res[i] = engine.decodeBypass() ? -1 : 1;
    }
    engine.decodeTerminate();
    if (engine.overran())
        corrupt("pass 1 needs more bytes than the chunk holds");
    return SignificanceResult{static_cast<size_t>(engine.bytesFetched()), nNonZero};
}

// Pass 2 over [_begin, _end): adds the B magnitude planes to the non-zero
// values of _res and returns the pass length L2. Magnitudes are gathered as
// unsigned |x| - 1 first, so a hostile payload cannot overflow int.
size_t decodeMagnitudes(uint8_t _state, unsigned _B, const uint8_t* _begin, const uint8_t* _end, size_t _nValues,
                        size_t _nNonZero, int* _res) {
    cabac::Context ctx = contextFromPayloadByte(_state, "magnitude");
    cabac::DecodingEngine engine(_begin, _end);
    if (_nNonZero != 0 && _B != 0) {
        std::vector<uint32_t> mag(_nNonZero, 0);
        for (unsigned k = _B; k-- > 0;) {
            const uint32_t bit = uint32_t{1} << k;
            for (uint32_t& m : mag) {
                if (engine.decodeDecision(ctx))
                    m |= bit;
            }
        }
        if (engine.overran())
            corrupt("pass 2 needs more bytes than the chunk holds");
        size_t j = 0;
        for (size_t i = 0; i < _nValues; ++i) {
            if (_res[i] == 0)
                continue;
            const uint32_t m = mag[j++];
            if (_res[i] > 0) {
                // 1 + m must stay within INT32_MAX; -1 - m reaches at most INT32_MIN.
                if (m > 0x7FFFFFFEu)
                    corrupt("magnitude does not fit a 32-bit signed integer");
                _res[i] = static_cast<int>(m + 1);
            } else {
                _res[i] = static_cast<int>(-static_cast<int64_t>(m) - 1);
            }
        }
    }
    engine.decodeTerminate();
    if (engine.overran())
        corrupt("pass 2 needs more bytes than the chunk holds");
    return static_cast<size_t>(engine.bytesFetched());
}

}  // namespace

size_t CabacVx3Decoder::decodeValues(const uint8_t* _payload, size_t _size, size_t _nValues, std::vector<int>& _res) {
    _res.assign(_nValues, 0);
    if (_size < 1)
        corrupt("empty payload");
    const uint8_t* const end = _payload + _size;

    const SignificanceResult pass1 = decodeSignificance(_payload[0], _payload + 1, end, _nValues, _res.data());
    const size_t magPos = 1 + pass1.length;
    if (_size < magPos + 2)
        corrupt("payload ends before the magnitude state byte and B");
    const uint8_t magState = _payload[magPos];
    const uint8_t B = _payload[magPos + 1];
    if (B > 31)
        corrupt("B = " + std::to_string(B) + " is above 31");
    const size_t length2 =
        decodeMagnitudes(magState, B, _payload + magPos + 2, end, _nValues, pass1.nNonZero, _res.data());

    ORV_CHECK(_res.size()==_nValues, "Decoder/CabacVx3Decoder");
    return magPos + 2 + length2;
}

}  // namespace orv
