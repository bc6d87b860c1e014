// CabacVx3Encoder: writes a layer payload that CabacVx3Decoder reads back
// exactly. Besides the two passes it chooses the payload's free parameters:
// B (the fewest planes that hold every |x| - 1) and the two initial context
// states, picked by modelling the cost of the bins each context will code.
#include "Encoder/CabacVx3Encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <string>

#include "Common/Check.h"
#include "Entropy/CabacEngine.h"

namespace orv {

namespace {

using cabac::Context;

// |x| - 1 of a non-zero value, without overflow for INT32_MIN.
uint32_t magnitudeMinusOne(int _x) {
    const uint32_t a = _x < 0 ? 0u - static_cast<uint32_t>(_x) : static_cast<uint32_t>(_x);
    return a - 1;
}

// Cost in bits of coding the MPS / LPS in each state. The LPS probability of
// state s is 0.5 * alpha^s with alpha^63 = 0.01875/0.5, as the H.264 tables
// were designed; the trap state 63 codes its LPS with a range of 2 out of
// about 384.
struct CostModel {
    std::array<float, 64> mps;
    std::array<float, 64> lps;
    std::array<double, 64> pLPS;

    CostModel() {
        const double alpha = std::pow(0.01875 / 0.5, 1.0 / 63.0);
        for (int s = 0; s < 64; ++s) {
            const double p = s < 63 ? 0.5 * std::pow(alpha, s) : 2.0 / 384.0;
            pLPS[s] = p;
            mps[s] = static_cast<float>(-std::log2(1.0 - p));
            lps[s] = static_cast<float>(-std::log2(p));
        }
    }
};

const CostModel& costModel() {
    static const CostModel model;
    return model;
}

// Visits the bins a context codes, in coding order; the visitor returns false
// to stop early.
struct SignificanceBins {
    const std::vector<int>& values;
    template <class Visit>
    void forEach(Visit&& _visit) const {
        for (int x : values)
            if (!_visit(x != 0 ? 1 : 0))
                return;
    }
};

struct MagnitudeBins {
    const std::vector<uint32_t>& mags;
    int B;
    template <class Visit>
    void forEach(Visit&& _visit) const {
        for (int k = B - 1; k >= 0; --k)
            for (uint32_t m : mags)
                if (!_visit(static_cast<int>((m >> k) & 1u)))
                    return;
    }
};

// Modelled cost of the first _limit bins when the context starts from state
// byte _c.
template <class Bins>
double simulateCost(const Bins& _bins, unsigned _c, size_t _limit) {
    const CostModel& cm = costModel();
    Context ctx = cabac::contextFromStateByte(_c);
    double bits = 0;
    size_t t = 0;
    _bins.forEach([&](int _bin) {
        if (t++ == _limit)
            return false;
        const unsigned s = ctx.state;
        if (_bin == ctx.mps) {
            bits += cm.mps[s];
            ctx.state = cabac::transIdxMPS[s];
        } else {
            bits += cm.lps[s];
            if (s == 0)
                ctx.mps ^= 1;
            ctx.state = cabac::transIdxLPS[s];
        }
        return true;
    });
    return bits;
}

// The adaptive (non-trap) state byte whose LPS probability is nearest, on a
// log scale, to a fraction _p of ones.
unsigned stateByteForFraction(double _p) {
    const CostModel& cm = costModel();
    const bool mpsOne = _p > 0.5;
    const double pl = std::max(mpsOne ? 1.0 - _p : _p, 1e-6);
    int best = 0;
    for (int s = 1; s < 63; ++s)
        if (std::fabs(std::log(cm.pLPS[s] / pl)) < std::fabs(std::log(cm.pLPS[best] / pl)))
            best = s;
    return mpsOne ? 64u + static_cast<unsigned>(best) : 63u - static_cast<unsigned>(best);
}

struct Choice {
    unsigned stateByte;
    double bits;  // modelled cost of all the context's bins
};

// Chooses a context's initial state byte. Adaptive starting points differ
// only until the context has learnt the statistics, so they are compared on
// a prefix. The trap states (bytes 0 and 127) never adapt; they win only for
// long, almost constant bin strings, where their cost follows from the
// counts of ones and zeros.
template <class Bins>
Choice chooseStateByte(const Bins& _bins, size_t _nBins, size_t _nOnes) {
    if (_nBins == 0)
        return Choice{63, 0.0};
    constexpr size_t kPrefix = 256;
    constexpr size_t kEarly = 24;
    size_t earlyOnes = 0, t = 0;
    _bins.forEach([&](int _bin) {
        earlyOnes += static_cast<size_t>(_bin);
        return ++t < kEarly;
    });
    const unsigned candidates[] = {63, 64, stateByteForFraction(static_cast<double>(_nOnes) / _nBins),
                                   stateByteForFraction(static_cast<double>(earlyOnes) / t)};
    Choice best{63, 0.0};
    double bestPrefix = 0;
    for (size_t i = 0; i < std::size(candidates); ++i) {
        const double c = simulateCost(_bins, candidates[i], kPrefix);
        if (i == 0 || c < bestPrefix) {
            bestPrefix = c;
            best.stateByte = candidates[i];
        }
    }
    if (_nBins <= kPrefix) {
        best.bits = bestPrefix;
        return best;
    }
    best.bits = simulateCost(_bins, best.stateByte, _nBins);
    const CostModel& cm = costModel();
    const size_t nMinority = std::min(_nOnes, _nBins - _nOnes);
    if (nMinority * cm.lps[63] < best.bits) {
        const double trap = static_cast<double>(_nBins - nMinority) * cm.mps[63] + nMinority * cm.lps[63];
        if (trap < best.bits)
            best = Choice{_nOnes * 2 > _nBins ? 127u : 0u, trap};
    }
    return best;
}

// Everything the passes need, gathered once.
struct Analysis {
    std::vector<uint32_t> mags;  // |x| - 1 of the non-zero values, in index order
    uint32_t maxMag = 0;
    int minB = 0;
};

Analysis analyse(const std::vector<int>& _values) {
    Analysis a;
    for (int x : _values) {
        if (x != 0) {
            const uint32_t m = magnitudeMinusOne(x);
            a.mags.push_back(m);
            a.maxMag |= m;
        }
    }
    a.minB = 32 - std::countl_zero(a.maxMag);
    return a;
}

size_t countOnes(const MagnitudeBins& _bins) {
    size_t ones = 0;
    for (int k = 0; k < _bins.B; ++k)
        for (uint32_t m : _bins.mags)
            ones += (m >> k) & 1u;
    return ones;
}

struct AutoChoice {
    Choice sig;
    Choice mag;
};

AutoChoice chooseStates(const std::vector<int>& _values, const Analysis& _a) {
    const MagnitudeBins magBins{_a.mags, _a.minB};
    return AutoChoice{chooseStateByte(SignificanceBins{_values}, _values.size(), _a.mags.size()),
                      chooseStateByte(magBins, _a.mags.size() * static_cast<size_t>(_a.minB), countOnes(magBins))};
}

std::vector<uint8_t> encodeAnalysed(const std::vector<int>& _values, const Analysis& _a, unsigned _sigState,
                                    unsigned _magState, int _B) {
    std::vector<uint8_t> out;
    out.reserve(16 + _values.size() / 4 + _a.mags.size() * static_cast<size_t>(_B) / 8);

    out.push_back(static_cast<uint8_t>(_sigState));
    {
        Context ctx = cabac::contextFromStateByte(_sigState);
        cabac::EncodingEngine engine(out);
        const int* v = _values.data();
        engine.encodeDecisions(ctx, _values.size(), [v](size_t i) { return v[i] != 0 ? 1 : 0; });
        for (int x : _values)
            if (x != 0)
                engine.encodeBypass(x < 0 ? 1 : 0);
        engine.finish();
    }

    out.push_back(static_cast<uint8_t>(_magState));
    out.push_back(static_cast<uint8_t>(_B));
    {
        Context ctx = cabac::contextFromStateByte(_magState);
        cabac::EncodingEngine engine(out);
        const uint32_t* mags = _a.mags.data();
        for (int k = _B - 1; k >= 0; --k)
            engine.encodeDecisions(ctx, _a.mags.size(),
                                   [mags, k](size_t i) { return static_cast<int>((mags[i] >> k) & 1u); });
        engine.finish();
    }
    return out;
}

}  // namespace

std::vector<uint8_t> CabacVx3Encoder::encodeValues(const std::vector<int>& _values) {
    const Analysis a = analyse(_values);
    const AutoChoice c = chooseStates(_values, a);
    return encodeAnalysed(_values, a, c.sig.stateByte, c.mag.stateByte, a.minB);
}

std::vector<uint8_t> CabacVx3Encoder::encodeValues(const std::vector<int>& _values, uint8_t _sigState,
                                                   uint8_t _magState, int _B) {
    if (_sigState > 127 || _magState > 127)
        throw Error("residual coder: context state bytes must be 0..127");
    if (_B < 0 || _B > 31)
        throw Error("residual coder: B must be 0..31, not " + std::to_string(_B));
    const Analysis a = analyse(_values);
    if (a.minB > _B)
        throw Error("residual coder: a residual magnitude needs " + std::to_string(a.minB) + " bit planes, B is " +
                    std::to_string(_B));
    return encodeAnalysed(_values, a, _sigState, _magState, _B);
}

size_t CabacVx3Encoder::estimateBits(const std::vector<int>& _values) {
    const Analysis a = analyse(_values);
    const AutoChoice c = chooseStates(_values, a);
    // Three header bytes, then per pass the 9 bits of terminate and flush and
    // on average half a byte of padding.
    const double bits = 24.0 + 2 * (9.0 + 4.0) + c.sig.bits + static_cast<double>(a.mags.size()) + c.mag.bits;
    return static_cast<size_t>(std::lround(bits));
}

}  // namespace orv
