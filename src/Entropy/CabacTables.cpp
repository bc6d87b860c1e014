// Values of the H.264 arithmetic coder state tables. State 63 is a trap that
// is never left and always has an LPS range of 2; the residual coder reaches
// it only when a payload's state byte is 0 or 127.
#include "Entropy/CabacTables.h"

namespace orv::cabac {

constexpr uint8_t rangeTabLPS[64][4] = {
    {128, 176, 208, 240},
    {128, 167, 197, 227},
    {128, 158, 187, 216},
    {123, 150, 178, 205},
    {116, 142, 169, 195},
    {111, 135, 160, 185},
    {105, 128, 152, 175},
    {100, 122, 144, 166},
    { 95, 116, 137, 158},
    { 90, 110, 130, 150},
    { 85, 104, 123, 142},
    { 81,  99, 117, 135},
    { 77,  94, 111, 128},
    { 73,  89, 105, 122},
    { 69,  85, 100, 116},
    { 66,  80,  95, 110},
    { 62,  76,  90, 104},
    { 59,  72,  86,  99},
    { 56,  69,  81,  94},
    { 53,  65,  77,  89},
    { 51,  62,  73,  85},
    { 48,  59,  69,  80},
    { 46,  56,  66,  76},
    { 43,  53,  63,  72},
    { 41,  50,  59,  69},
    { 39,  48,  56,  65},
    { 37,  45,  54,  62},
    { 35,  43,  51,  59},
    { 33,  41,  48,  56},
    { 32,  39,  46,  53},
    { 30,  37,  43,  50},
    { 29,  35,  41,  48},
    { 27,  33,  39,  45},
    { 26,  31,  37,  43},
    { 24,  30,  35,  41},
    { 23,  28,  33,  39},
    { 22,  27,  32,  37},
    { 21,  26,  30,  35},
    { 20,  24,  29,  33},
    { 19,  23,  27,  31},
    { 18,  22,  26,  30},
    { 17,  21,  25,  28},
    { 16,  20,  23,  27},
    { 15,  19,  22,  25},
    { 14,  18,  21,  24},
    { 14,  17,  20,  23},
    { 13,  16,  19,  22},
    { 12,  15,  18,  21},
    { 12,  14,  17,  20},
    { 11,  14,  16,  19},
    { 11,  13,  15,  18},
    { 10,  12,  15,  17},
    { 10,  12,  14,  16},
    {  9,  11,  13,  15},
    {  9,  11,  12,  14},
    {  8,  10,  12,  14},
    {  8,   9,  11,  13},
    {  7,   9,  11,  12},
    {  7,   9,  10,  12},
    {  7,   8,  10,  11},
    {  6,   8,   9,  11},
    {  6,   7,   9,  10},
    {  6,   7,   8,   9},
    {  2,   2,   2,   2}};

constexpr uint8_t transIdxLPS[64] = {
     0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9, 11, 11, 12,
    13, 13, 15, 15, 16, 16, 18, 18, 19, 19, 21, 21, 22, 22, 23, 24,
    24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30, 31, 32, 32, 33,
    33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63};

constexpr uint8_t transIdxMPS[64] = {
     1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15, 16,
    17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32,
    33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48,
    49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 62, 63};

// The tables below are derived from those above when compiling; nothing is
// built at run time.
namespace {

// Over the packed context p = 2 * pStateIdx + valMPS, so a per-bin step is
// two loads with no test: the next packed context includes the valMPS flip
// of an LPS in state 0.
constexpr PackedRangeTable makePackedRangeTable() {
    PackedRangeTable t{};
    for (int p = 0; p < 128; ++p)
        for (int q = 0; q < 4; ++q)
            t.v[p][q] = rangeTabLPS[p >> 1][q];
    return t;
}

constexpr PackedNextTable makePackedNextTable() {
    PackedNextTable t{};
    for (int p = 0; p < 128; ++p) {
        const int s = p >> 1, mps = p & 1;
        t.v[p][0] = static_cast<uint8_t>(2 * transIdxMPS[s] + mps);
        t.v[p][1] = static_cast<uint8_t>(2 * transIdxLPS[s] + (s == 0 ? mps ^ 1 : mps));
    }
    return t;
}

}  // namespace

constexpr PackedRangeTable packedRangeLPS = makePackedRangeTable();
constexpr PackedNextTable packedNext = makePackedNextTable();

namespace {

constexpr int renormShift(unsigned _r) {
    int n = 0;
    while ((_r << n) < 256)
        ++n;
    return n;
}

constexpr RegisterTable makeRegisterTable() {
    RegisterTable t{};
    for (int p = 0; p < 128; ++p) {
        uint64_t r = static_cast<uint64_t>(p) << 32;
        for (int q = 0; q < 4; ++q)
            r |= uint64_t{packedRangeLPS.v[p][q]} << (8 * q);
        t.v[p] = r;
    }
    return t;
}

constexpr NextRegisterTable makeNextRegisterTable() {
    const RegisterTable reg = makeRegisterTable();
    NextRegisterTable t{};
    for (int p = 0; p < 128; ++p)
        for (int b = 0; b < 2; ++b)
            t.v[p][b] = reg.v[packedNext.v[p][b]];
    return t;
}

constexpr RenormLPSTable makeRenormLPSTable() {
    RenormLPSTable t{};
    for (int p = 0; p < 128; ++p)
        for (int q = 0; q < 4; ++q) {
            const unsigned r = packedRangeLPS.v[p][q];
            const int n = renormShift(r);
            t.v[p][q] = static_cast<uint16_t>((r << n) | (static_cast<unsigned>(n) << 9));
        }
    return t;
}

// _k MPS decisions from state _s and normalised range _r: the range after
// them in bits 0..8, the renormalisation shifts in bits 9 and up.
constexpr uint16_t mpsRun(int _s, unsigned _r, int _k) {
    unsigned shifts = 0;
    for (int i = 0; i < _k; ++i) {
        _r -= rangeTabLPS[_s][(_r >> 6) & 3];
        _s = transIdxMPS[_s];
        if (_r < 256) {
            _r <<= 1;
            ++shifts;
        }
    }
    return static_cast<uint16_t>(_r | (shifts << 9));
}

constexpr RunTable makeRunTable(int _k) {
    RunTable t{};
    for (unsigned r = 256; r <= 510; ++r)
        t.v[r] = mpsRun(62, r, _k);
    return t;
}

constexpr ClimbTable makeClimbTable() {
    ClimbTable t{};
    for (int s = kMpsClimbFirst; s < 62; ++s)
        for (unsigned r = 256; r <= 510; ++r)
            t.v[s - kMpsClimbFirst][r - 256] = mpsRun(s, r, kMpsRunShort);
    return t;
}

constexpr unsigned maxShifts(const RunTable& _t) {
    unsigned m = 0;
    for (unsigned r = 256; r <= 510; ++r)
        m = (_t.v[r] >> 9) > m ? (_t.v[r] >> 9) : m;
    return m;
}

}  // namespace

constexpr RegisterTable decoderRegister = makeRegisterTable();
constexpr NextRegisterTable decoderNext = makeNextRegisterTable();
constexpr RenormLPSTable decoderRenormLPS = makeRenormLPSTable();
constexpr RunTable mpsRun62Long = makeRunTable(kMpsRunLong);
constexpr RunTable mpsRun62Short = makeRunTable(kMpsRunShort);
constexpr ClimbTable mpsClimb = makeClimbTable();
// The decoding engine keeps at least 8 bits in hand before a run step, and a
// run's range depends on nothing but the state and the range because an MPS
// takes each state below 62 one up and leaves 62 where it is.
static_assert(maxShifts(mpsRun62Long) <= 8 && maxShifts(mpsRun62Short) <= 8);
static_assert([] {
    for (int s = kMpsClimbFirst; s < 62; ++s)
        for (unsigned r = 256; r <= 510; ++r)
            if ((mpsClimb.v[s - kMpsClimbFirst][r - 256] >> 9) > 8)
                return false;
    return true;
}());
static_assert([] {
    for (int s = 0; s < 62; ++s)
        if (transIdxMPS[s] != s + 1)
            return false;
    return transIdxMPS[62] == 62;
}());

}  // namespace orv::cabac
