// The state tables of the H.264 binary arithmetic coder (ITU-T H.264 Tables
// 9-44 and 9-45), shared by the residual encoder and decoder. A context's
// state index selects the LPS sub-range (by the two bits below the top of the
// 9-bit range) and the next state after an MPS or an LPS.
#pragma once

#include <cstdint>

namespace orv::cabac {

// Width of the LPS sub-range, indexed [state][(codIRange >> 6) & 3].
extern const uint8_t rangeTabLPS[64][4];
// Next state after coding the least / most probable symbol.
extern const uint8_t transIdxLPS[64];
extern const uint8_t transIdxMPS[64];

// A table with one Entry per packed context p = 2 * pStateIdx + valMPS
// (a struct, so that it can be built by a constexpr function).
template <class Entry>
struct PackedContextTable {
    Entry v[128];
};

// The LPS sub-range [p][(codIRange >> 6) & 3], and the next packed context
// [p][bin != valMPS].
using PackedRangeTable = PackedContextTable<uint8_t[4]>;
using PackedNextTable = PackedContextTable<uint8_t[2]>;
extern const PackedRangeTable packedRangeLPS;
extern const PackedNextTable packedNext;

// The decoding engine's tables. Its context register holds the packed
// context p in bits 32 and up and, below, the four codIRangeLPS of its state
// (range quarter q in byte q), so that the MPS path needs no table lookup
// that waits for the range: decoderRegister[p] is the register of p, and
// decoderNext[p][bin != valMPS] the register of the next packed context.
// decoderRenormLPS[p][q] is, for the LPS path, codIRangeLPS renormalised to
// 256..510 (bits 0..8) with the renormalisation shift (bits 9 and up).
using RegisterTable = PackedContextTable<uint64_t>;
using NextRegisterTable = PackedContextTable<uint64_t[2]>;
using RenormLPSTable = PackedContextTable<uint16_t[4]>;
extern const RegisterTable decoderRegister;
extern const NextRegisterTable decoderNext;
extern const RenormLPSTable decoderRenormLPS;

// Runs of MPS decisions. An MPS moves a context up one state until state 62,
// which it does not leave. mpsRun62Long/Short: in state 62, indexed by the
// normalised range (256..510), the range after kMpsRunLong (kMpsRunShort) MPS
// decisions in bits 0..8 and the number of renormalisation shifts they take in
// bits 9 and up (at most 8). mpsClimb[s - kMpsClimbFirst][r - 256]: the same
// for kMpsRunShort MPS decisions from state s, kMpsClimbFirst <= s < 62.
inline constexpr int kMpsRunLong = 16;
inline constexpr int kMpsRunShort = 4;
inline constexpr int kMpsClimbFirst = 38;
struct RunTable {
    uint16_t v[512];
};
struct ClimbTable {
    uint16_t v[62 - kMpsClimbFirst][256];
};
extern const RunTable mpsRun62Long;
extern const RunTable mpsRun62Short;
extern const ClimbTable mpsClimb;

}  // namespace orv::cabac
