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

// The bin loops, written once for both engines; Engine::decodePacked is one
// decision with a packed context (2 * pStateIdx + valMPS) held in a local.
template <class Engine>
SignificanceResult significanceWith(Engine& engine, cabac::Context _ctx, size_t _nValues, int* _res) {
    unsigned p = (unsigned{_ctx.state} << 1) | _ctx.mps;
    size_t nNonZero = 0;
    for (size_t i = 0; i < _nValues; ++i) {
        const int bin = engine.decodePacked(p);
        _res[i] = bin;
        nNonZero += static_cast<size_t>(bin);
    }
    for (size_t i = 0; i < _nValues; ++i) {
        if (_res[i] != 0)
            _res[i] = 1 - 2 * engine.decodeBypass();
    }
    engine.decodeTerminate();
    if (engine.overran())
        corrupt("pass 1 needs more bytes than the chunk holds");
    return SignificanceResult{static_cast<size_t>(engine.bytesFetched()), nNonZero};
}

SignificanceResult decodeSignificance(uint8_t _state, const uint8_t* _begin, const uint8_t* _end, size_t _nValues,
                                      int* _res) {
    const cabac::Context ctx = contextFromPayloadByte(_state, "significance");
    if (cabac::ScaledDecodingEngine::startsInRange(_begin, _end)) {
        cabac::ScaledDecodingEngine engine(_begin, _end);
        return significanceWith(engine, ctx, _nValues, _res);
    }
    cabac::SerialDecodingEngine engine(_begin, _end);
    return significanceWith(engine, ctx, _nValues, _res);
}

// Pass 2: adds the B magnitude planes to the non-zero values of _res and
// returns the pass length L2. Magnitudes are gathered as unsigned |x| - 1
// first, so a hostile payload cannot overflow int.
template <class Engine>
size_t magnitudesWith(Engine& engine, cabac::Context _ctx, unsigned _B, size_t _nValues, size_t _nNonZero,
                      int* _res) {
    if (_nNonZero != 0 && _B != 0) {
        unsigned p = (unsigned{_ctx.state} << 1) | _ctx.mps;
        // One spare entry: the merge below reads mg[j] for zeros too.
        std::vector<uint32_t> mag(_nNonZero + 1, 0);
        uint32_t* const mg = mag.data();
        for (unsigned k = _B; k-- > 0;) {
            for (size_t j = 0; j < _nNonZero; ++j)
                mg[j] |= static_cast<uint32_t>(engine.decodePacked(p)) << k;
        }
        if (engine.overran())
            corrupt("pass 2 needs more bytes than the chunk holds");
        // Without branches on the values, which are too irregular to
        // predict: zeros stay 0, and j advances past each non-zero value.
        size_t j = 0;
        uint32_t tooLarge = 0;
        for (size_t i = 0; i < _nValues; ++i) {
            const int r = _res[i];
            const uint32_t m = mg[j];
            j += static_cast<size_t>(r != 0);
            // 1 + m must stay within INT32_MAX; -1 - m reaches at most INT32_MIN.
            tooLarge |= static_cast<uint32_t>(r > 0) & static_cast<uint32_t>(m > 0x7FFFFFFEu);
            const int mag1 = static_cast<int>(m + 1);  // wraps to INT32_MIN only for m = 2^31 - 1
            const int neg = static_cast<int>(0u - m - 1u);
            _res[i] = r > 0 ? mag1 : (r < 0 ? neg : 0);
        }
        if (tooLarge)
            corrupt("magnitude does not fit a 32-bit signed integer");
    }
    engine.decodeTerminate();
    if (engine.overran())
        corrupt("pass 2 needs more bytes than the chunk holds");
    return static_cast<size_t>(engine.bytesFetched());
}

size_t decodeMagnitudes(uint8_t _state, unsigned _B, const uint8_t* _begin, const uint8_t* _end, size_t _nValues,
                        size_t _nNonZero, int* _res) {
    const cabac::Context ctx = contextFromPayloadByte(_state, "magnitude");
    if (cabac::ScaledDecodingEngine::startsInRange(_begin, _end)) {
        cabac::ScaledDecodingEngine engine(_begin, _end);
        return magnitudesWith(engine, ctx, _B, _nValues, _nNonZero, _res);
    }
    cabac::SerialDecodingEngine engine(_begin, _end);
    return magnitudesWith(engine, ctx, _B, _nValues, _nNonZero, _res);
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
