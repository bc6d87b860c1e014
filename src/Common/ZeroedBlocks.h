// ZeroedBlocks: zero-filled memory for the large per-frame arrays (positions,
// reconstructions, details). A block of several megabytes is first touched a
// page at a time as frames are coded, and on virtual machines each 4 KiB page
// fault costs microseconds: an encode of a few hundred frames spent a fifth of
// its time in them. Large blocks are therefore mapped with the advice to back
// them by huge pages (where the system allows it; elsewhere, and in builds
// checked by AddressSanitizer, this is calloc),
// which turns 512 faults into one. The memory still comes zeroed from the
// system, so pages never reached cost nothing.
#pragma once

#include <cstddef>

namespace orv {

// Blocks from this size on are mapped directly, their length rounded up to
// whole huge pages (an untouched tail costs nothing).
constexpr size_t kLargeZeroedBlock = size_t{1} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

// _bytes of zeroed memory, or nullptr when there is none (_bytes 0 gives
// nullptr too). Release it with freeZeroed and the same _bytes.
void* allocateZeroed(size_t _bytes);
void freeZeroed(void* _p, size_t _bytes);

}  // namespace orv
