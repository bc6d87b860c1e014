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

// Indexed by the packed context p = 2 * pStateIdx + valMPS: the LPS sub-range
// [p][(codIRange >> 6) & 3], and the next packed context [p][bin != valMPS].
extern const uint8_t packedRangeLPS[128][4];
extern const uint8_t packedNext[128][2];

}  // namespace orv::cabac
