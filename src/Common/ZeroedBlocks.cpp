// Large zeroed blocks as huge-page mappings (see ZeroedBlocks.h).
#include "Common/ZeroedBlocks.h"

#include <cstdint>
#include <cstdlib>

// Under AddressSanitizer every block comes from calloc: a mapping rounded up
// to whole huge pages would let a write past the end go unnoticed.
#if defined(__SANITIZE_ADDRESS__)
#define ORV_ADDRESS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORV_ADDRESS_CHECKED 1
#endif
#endif

#if defined(__linux__) && !defined(__EMSCRIPTEN__) && !defined(ORV_ADDRESS_CHECKED)
#include <sys/mman.h>
#define ORV_MAPPED_BLOCKS 1
#endif

namespace orv {

#ifdef ORV_MAPPED_BLOCKS
namespace {

size_t mappedLength(size_t _bytes) { return (_bytes + (kHugePage - 1)) / kHugePage * kHugePage; }

}  // namespace
#endif

void* allocateZeroed(size_t _bytes) {
    if (_bytes == 0) return nullptr;
#ifdef ORV_MAPPED_BLOCKS
    if (_bytes >= kLargeZeroedBlock && _bytes <= SIZE_MAX - kHugePage) {
        const size_t length = mappedLength(_bytes);
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return nullptr;
        // Only advice: refused (no transparent huge pages), the block works
        // with ordinary pages.
        (void)madvise(p, length, MADV_HUGEPAGE);
        return p;
    }
#endif
    return std::calloc(_bytes, 1);
}

void freeZeroed(void* _p, [[maybe_unused]] size_t _bytes) {
    if (_p == nullptr) return;
#ifdef ORV_MAPPED_BLOCKS
    if (_bytes >= kLargeZeroedBlock && _bytes <= SIZE_MAX - kHugePage) {
        munmap(_p, mappedLength(_bytes));
        return;
    }
#endif
    std::free(_p);
}

}  // namespace orv
