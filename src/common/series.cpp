#include "common/series.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace lumetra {

// A large result is written once, in full, by a kernel that makes a pass or
// two over memory for it; if its pages are new to the process, taking them
// one 4 KiB page fault at a time costs about as much as that arithmetic. So
// the kernel is asked to back the whole pages of the block with transparent
// huge pages (where they are enabled only on request), exactly as NumPy asks
// for its own large arrays. The block itself comes from malloc like any
// other: a block freed and asked for again is reused without new faults. (An
// allocation aligned to 2 MiB would make the C library map and unmap every
// such block anew.) The advice is only advice: if it is refused, the block is
// used as it is.
std::byte* Series::allocate_huge(std::size_t bytes) {
    void* block = std::malloc(bytes);
    if (block == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t page = 4096;
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(block) + bytes;
    (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
    return static_cast<std::byte*>(block);
}

}  // namespace lumetra
