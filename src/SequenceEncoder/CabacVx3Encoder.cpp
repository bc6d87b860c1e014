// CabacVx3Encoder: writes a layer payload that CabacVx3Decoder reads back
// exactly. Besides the two passes it chooses the payload's free parameters:
// B (the fewest planes that hold every |x| - 1) and the two initial context
// states, picked by modelling the cost of the bins each context will code.
#include "SequenceEncoder/CabacVx3Encoder.h"

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
//
// The costs are floats, so all are whole multiples of 2^-kUnitShift; they are
// also kept as integers in that unit. Integer sums are exact in any order,
// which lets the simulation price a whole run of MPS bins at once, and they
// equal the double sums of the bin-by-bin loop (simulateCostSerial) as long
// as those are exact, i.e. below 2^53 units.
struct CostModel {
    static constexpr int kUnitShift = 31;
    std::array<float, 64> mps;
    std::array<float, 64> lps;
    std::array<double, 64> pLPS;
    std::array<uint64_t, 64> mpsUnits;
    std::array<uint64_t, 64> lpsUnits;
    // mpsBefore[s]: units of MPS bins in states 0..s-1, the climb an MPS run
    // makes (an MPS moves state s < 62 to s + 1; 62 and 63 stay).
    std::array<uint64_t, 63> mpsBefore;
    bool unitsExact = true;

    CostModel() {
        const double alpha = std::pow(0.01875 / 0.5, 1.0 / 63.0);
        for (int s = 0; s < 64; ++s) {
            const double p = s < 63 ? 0.5 * std::pow(alpha, s) : 2.0 / 384.0;
            pLPS[s] = p;
            mps[s] = static_cast<float>(-std::log2(1.0 - p));
            lps[s] = static_cast<float>(-std::log2(p));
        }
        auto toUnits = [this](float _bits) {
            const double u = std::ldexp(static_cast<double>(_bits), kUnitShift);
            if (u != std::floor(u) || u >= 0x1p40)
                unitsExact = false;
            return static_cast<uint64_t>(u);
        };
        for (int s = 0; s < 64; ++s) {
            mpsUnits[s] = toUnits(mps[s]);
            lpsUnits[s] = toUnits(lps[s]);
        }
        mpsBefore[0] = 0;
        for (int s = 1; s < 63; ++s)
            mpsBefore[s] = mpsBefore[s - 1] + mpsUnits[s - 1];
    }

    // Units of _k MPS bins from state _s, which then moves to
    // mpsRunState(_s, _k).
    uint64_t mpsRunUnits(unsigned _s, size_t _k) const {
        if (_s >= 62)
            return _k * mpsUnits[_s];
        const size_t climb = std::min<size_t>(_k, 62 - _s);
        return mpsBefore[_s + climb] - mpsBefore[_s] + (_k - climb) * mpsUnits[62];
    }
    static unsigned mpsRunState(unsigned _s, size_t _k) {
        return _s >= 62 ? _s : static_cast<unsigned>(std::min<size_t>(_s + _k, 62));
    }
};

const CostModel& costModel() {
    static const CostModel model;
    return model;
}

// A context's bins in coding order: bit i % 64 of words[i / 64] for i < n in
// each segment (one segment per pass over the values).
struct BinSegment {
    const uint64_t* words;
    size_t n;
};
using Bins = std::vector<BinSegment>;

// The modelled cost of the first _limit bins, bin by bin in double: what the
// choice of state bytes is defined by.
double simulateCostSerial(const Bins& _bins, unsigned _c, size_t _limit) {
    const CostModel& cm = costModel();
    Context ctx = cabac::contextFromStateByte(_c);
    double bits = 0;
    size_t t = 0;
    for (const BinSegment& seg : _bins)
        for (size_t i = 0; i < seg.n; ++i) {
            if (t++ == _limit)
                return bits;
            const unsigned s = ctx.state;
            if (static_cast<int>((seg.words[i / 64] >> (i % 64)) & 1u) == ctx.mps) {
                bits += cm.mps[s];
                ctx.state = cabac::transIdxMPS[s];
            } else {
                bits += cm.lps[s];
                if (s == 0)
                    ctx.mps ^= 1;
                ctx.state = cabac::transIdxLPS[s];
            }
        }
    return bits;
}

// The same sum, exactly, in units of 2^-kUnitShift, one step per LPS: the
// MPS bins between two LPS are priced as a run. _limit below 2^29 keeps it
// in 64 bits.
uint64_t simulateCostUnits(const Bins& _bins, unsigned _c, size_t _limit) {
    const CostModel& cm = costModel();
    const Context ctx = cabac::contextFromStateByte(_c);
    unsigned state = ctx.state;
    unsigned mps = ctx.mps;
    uint64_t units = 0;
    size_t left = _limit;
    for (const BinSegment& seg : _bins) {
        const size_t n = std::min(left, seg.n);
        left -= n;
        for (size_t b = 0; b * 64 < n; ++b) {
            const uint64_t w = seg.words[b];
            const int nb = static_cast<int>(std::min<size_t>(64, n - b * 64));
            int j = 0;
            while (j < nb) {
                const uint64_t lpsBins = (mps ? ~w : w) >> j;
                const int k = std::min(lpsBins != 0 ? std::countr_zero(lpsBins) : 64, nb - j);
                units += cm.mpsRunUnits(state, static_cast<size_t>(k));
                state = CostModel::mpsRunState(state, static_cast<size_t>(k));
                j += k;
                if (j == nb)
                    break;
                units += cm.lpsUnits[state];
                if (state == 0)
                    mps ^= 1;
                state = cabac::transIdxLPS[state];
                ++j;
            }
        }
        if (left == 0)
            break;
    }
    return units;
}

// Modelled cost of the first _limit bins when the context starts from state
// byte _c (the bin-by-bin double sum, computed exactly whenever it is exact).
double simulateCost(const Bins& _bins, unsigned _c, size_t _limit) {
    const CostModel& cm = costModel();
    if (cm.unitsExact && _limit < (size_t{1} << 29)) {
        const uint64_t units = simulateCostUnits(_bins, _c, _limit);
        if (units < (uint64_t{1} << 53))
            return std::ldexp(static_cast<double>(units), -CostModel::kUnitShift);
    }
    return simulateCostSerial(_bins, _c, _limit);
}

// The adaptive (non-trap) state byte whose LPS probability is nearest, on a
// log scale, to a fraction _p of ones.
unsigned stateByteForFraction(double _p) {
    const CostModel& cm = costModel();
    const bool mpsOne = _p > 0.5;
    const double pl = std::max(mpsOne ? 1.0 - _p : _p, 1e-6);
    // pLPS falls by a factor alpha per state, so the log distance grows by
    // -log(alpha) > 0.05 per state away from where pLPS crosses pl: the
    // nearest state lies within two of the crossing, and a scan of that
    // window finds the same (first) minimum as a scan of all 63.
    int cross = 0;
    while (cross < 62 && cm.pLPS[cross] > pl)
        ++cross;
    int best = std::max(0, cross - 2);
    double bestDistance = std::fabs(std::log(cm.pLPS[best] / pl));
    for (int s = best + 1, end = std::min(62, cross + 2); s <= end; ++s) {
        const double d = std::fabs(std::log(cm.pLPS[s] / pl));
        if (d < bestDistance) {
            best = s;
            bestDistance = d;
        }
    }
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
Choice chooseStateByte(const Bins& _bins, size_t _nBins, size_t _nOnes) {
    if (_nBins == 0)
        return Choice{63, 0.0};
    constexpr size_t kPrefix = 256;
    constexpr size_t kEarly = 24;
    size_t earlyOnes = 0, t = 0;
    for (const BinSegment& seg : _bins)
        for (size_t i = 0; i < seg.n && t < kEarly; ++i, ++t)
            earlyOnes += (seg.words[i / 64] >> (i % 64)) & 1u;
    const unsigned candidates[] = {63, 64, stateByteForFraction(static_cast<double>(_nOnes) / _nBins),
                                   stateByteForFraction(static_cast<double>(earlyOnes) / t)};
    Choice best{63, 0.0};
    double bestPrefix = 0;
    for (size_t i = 0; i < std::size(candidates); ++i) {
        // A repeated candidate costs the same and so cannot win.
        if (std::find(candidates, candidates + i, candidates[i]) != candidates + i)
            continue;
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

size_t wordsFor(size_t _bins) { return (_bins + 63) / 64; }

// Everything the passes need, gathered once. Bins are kept as bit strings,
// so runs of equal bins are found a word at a time.
struct Analysis {
    std::vector<uint64_t> significance;  // bit i: value i is not zero
    std::vector<uint32_t> mags;          // |x| - 1 of the non-zero values, in index order
    size_t magOnes = 0;                  // ones among all bits of mags (buildPlanes)
    int minB = 0;
    std::vector<uint64_t> planes;  // B bit strings of wordsFor(mags.size()) words, plane B - 1 first
    int B = 0;
};

// Without branches on the values: whether a residual is zero is close to a
// coin toss on real layers.
Analysis analyse(const std::vector<int>& _values) {
    Analysis a;
    const size_t n = _values.size();
    a.mags.resize(n);
    a.significance.assign(wordsFor(n), 0);
    uint32_t* mags = a.mags.data();
    size_t nMags = 0;
    uint32_t maxMag = 0;
    for (size_t b = 0; b * 64 < n; ++b) {
        uint64_t word = 0;
        for (size_t j = 0, end = std::min<size_t>(64, n - b * 64); j < end; ++j) {
            const int x = _values[b * 64 + j];
            const uint32_t m = magnitudeMinusOne(x);
            mags[nMags] = m;
            const uint32_t nz = x != 0 ? 1u : 0u;
            nMags += nz;
            maxMag |= m & (0u - nz);
            word |= uint64_t{nz} << j;
        }
        a.significance[b] = word;
    }
    a.mags.resize(nMags);
    a.minB = 32 - std::countl_zero(maxMag);
    return a;
}

// Fills _a.planes for _B >= _a.minB planes, and _a.magOnes. A plane with no
// one in a block of 64 magnitudes (the common case high up) is left zero
// without a look at the bits.
void buildPlanes(Analysis& _a, int _B) {
    const size_t nw = wordsFor(_a.mags.size());
    _a.B = _B;
    _a.planes.assign(nw * static_cast<size_t>(_B), 0);
    const uint32_t* mags = _a.mags.data();
    size_t ones = 0;
    for (size_t b = 0; b < nw; ++b) {
        const size_t begin = 64 * b, count = std::min<size_t>(64, _a.mags.size() - begin);
        uint32_t any = 0;
        for (size_t j = 0; j < count; ++j)
            any |= mags[begin + j];
        for (int k = 0; k < _a.minB; ++k) {
            if (((any >> k) & 1u) == 0)
                continue;
            uint64_t w = 0;
            for (size_t j = 0; j < count; ++j)
                w |= uint64_t{(mags[begin + j] >> k) & 1u} << j;
            _a.planes[static_cast<size_t>(_B - 1 - k) * nw + b] = w;
            ones += static_cast<size_t>(std::popcount(w));
        }
    }
    _a.magOnes = ones;
}

Bins planeBins(const Analysis& _a) {
    const size_t nw = wordsFor(_a.mags.size());
    Bins bins;
    for (int r = 0; r < _a.B; ++r)
        bins.push_back(BinSegment{_a.planes.data() + static_cast<size_t>(r) * nw, _a.mags.size()});
    return bins;
}

struct AutoChoice {
    Choice sig;
    Choice mag;
};

// _a.planes must hold minB planes.
AutoChoice chooseStates(const std::vector<int>& _values, const Analysis& _a) {
    const Bins sig{BinSegment{_a.significance.data(), _values.size()}};
    return AutoChoice{chooseStateByte(sig, _values.size(), _a.mags.size()),
                      chooseStateByte(planeBins(_a), _a.mags.size() * static_cast<size_t>(_a.minB), _a.magOnes)};
}

std::vector<uint8_t> encodeAnalysed(const std::vector<int>& _values, const Analysis& _a, unsigned _sigState,
                                    unsigned _magState) {
    std::vector<uint8_t> out;
    out.reserve(16 + _values.size() / 4 + _a.mags.size() * static_cast<size_t>(_a.B) / 8);

    out.push_back(static_cast<uint8_t>(_sigState));
    {
        Context ctx = cabac::contextFromStateByte(_sigState);
        cabac::EncodingEngine engine(out);
        engine.encodeDecisionWords(ctx, _a.significance.data(), _values.size());
        // The signs of the non-zero values, sixteen bypass bins at a time.
        uint32_t signs = 0;
        int nSigns = 0;
        for (int x : _values) {
            const int nz = x != 0 ? 1 : 0;
            signs = (signs << nz) | (x < 0 ? 1u : 0u);
            nSigns += nz;
            if (nSigns == 16) {
                engine.encodeBypassBits(signs, 16);
                signs = 0;
                nSigns = 0;
            }
        }
        if (nSigns != 0)
            engine.encodeBypassBits(signs, nSigns);
        engine.finish();
    }

    out.push_back(static_cast<uint8_t>(_magState));
    out.push_back(static_cast<uint8_t>(_a.B));
    {
        Context ctx = cabac::contextFromStateByte(_magState);
        cabac::EncodingEngine engine(out);
        for (const BinSegment& plane : planeBins(_a))
            engine.encodeDecisionWords(ctx, plane.words, plane.n);
        engine.finish();
    }
    return out;
}

}  // namespace

std::vector<uint8_t> CabacVx3Encoder::encodeValues(const std::vector<int>& _values) {
    Analysis a = analyse(_values);
    buildPlanes(a, a.minB);
    const AutoChoice c = chooseStates(_values, a);
    return encodeAnalysed(_values, a, c.sig.stateByte, c.mag.stateByte);
}

std::vector<uint8_t> CabacVx3Encoder::encodeValues(const std::vector<int>& _values, uint8_t _sigState,
                                                   uint8_t _magState, int _B) {
    if (_sigState > 127 || _magState > 127)
        throw Error("residual coder: context state bytes must be 0..127");
    if (_B < 0 || _B > 31)
        throw Error("residual coder: B must be 0..31, not " + std::to_string(_B));
    Analysis a = analyse(_values);
    if (a.minB > _B)
        throw Error("residual coder: a residual magnitude needs " + std::to_string(a.minB) + " bit planes, B is " +
                    std::to_string(_B));
    buildPlanes(a, _B);
    return encodeAnalysed(_values, a, _sigState, _magState);
}

size_t CabacVx3Encoder::estimateBits(const std::vector<int>& _values) {
    Analysis a = analyse(_values);
    buildPlanes(a, a.minB);
    const AutoChoice c = chooseStates(_values, a);
    // Three header bytes, then per pass the 9 bits of terminate and flush and
    // on average half a byte of padding.
    const double bits = 24.0 + 2 * (9.0 + 4.0) + c.sig.bits + static_cast<double>(a.mags.size()) + c.mag.bits;
    return static_cast<size_t>(std::lround(bits));
}

}  // namespace orv
