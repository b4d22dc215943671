#include "binding/buffers.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/series.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace lumetra::binding::buffers {

namespace {

// Bytes before the first element; a multiple of the allocation's alignment,
// so the elements keep it. The owner may use the first owner_bytes of them;
// the last word records the shared allocation that the room lies in, if any.
constexpr std::size_t room_bytes = 32;

// The count of rooms of one allocation not yet given back, padded so that the
// rooms after it keep the allocation's alignment.
struct Group {
    std::size_t parts;
};
constexpr std::size_t group_header = 32;
static_assert(owner_bytes + sizeof(Group*) <= room_bytes && sizeof(Group) <= group_header);

std::size_t room_and_elements(std::size_t n) noexcept {
    // Room for one element at least, so that every array's data pointer
    // points into its own buffer.
    return room_bytes + (n == 0 ? 1 : n) * sizeof(double);
}

// A room and its elements within a group, rounded up to keep the next room
// at the allocation's alignment.
std::size_t part_bytes(std::size_t n) noexcept {
    return (room_and_elements(n) + 15) & ~std::size_t{15};
}

// Blocks from this size on (NumPy's threshold for the same advice) are
// offered to the operating system for transparent huge pages.
constexpr std::size_t huge_block = std::size_t{1} << 22;

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
void advise_huge_pages(void* block, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t page = 4096;
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(block) + bytes;
    (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

// At least this many bytes, or std::bad_alloc.
std::byte* allocate(std::size_t bytes) {
    void* block = std::malloc(bytes);
    if (block == nullptr) throw std::bad_alloc();
    if (bytes >= huge_block) advise_huge_pages(block, bytes);
    return static_cast<std::byte*>(block);
}

void set_group(std::byte* room, Group* group) noexcept {
    std::memcpy(room + owner_bytes, &group, sizeof group);
}

double* elements_of(std::byte* room) noexcept {
    return reinterpret_cast<double*>(room + room_bytes);
}

}  // namespace

std::byte* room_of(double* elements) noexcept {
    return reinterpret_cast<std::byte*>(elements) - room_bytes;
}

// Every room is given back under the interpreter's lock (or within the one
// call that made it), so the count needs no atomic operations.
void free_room(std::byte* room) noexcept {
    Group* group;
    std::memcpy(&group, room + owner_bytes, sizeof group);
    if (group == nullptr) {
        std::free(room);
    } else if (--group->parts == 0) {
        std::free(group);
    }
}

}  // namespace lumetra::binding::buffers

namespace lumetra {

namespace buffers = binding::buffers;

double* SeriesMemory::allocate(std::size_t n) {
    std::byte* room = buffers::allocate(buffers::room_and_elements(n));
    buffers::set_group(room, nullptr);
    return buffers::elements_of(room);
}

void SeriesMemory::allocate_parts(std::span<Series> parts) {
    // Each part fits a signed size, so the total cannot wrap before it is
    // compared.
    std::size_t total = buffers::group_header;
    for (const Series& part : parts) {
        total += buffers::part_bytes(part.size());
        if (total > static_cast<std::size_t>(PTRDIFF_MAX)) throw std::bad_alloc();
    }
    std::byte* block = buffers::allocate(total);
    auto* shared = new (block) buffers::Group{parts.size()};
    std::byte* room = block + buffers::group_header;
    for (Series& part : parts) {
        buffers::set_group(room, shared);
        part.data_ = buffers::elements_of(room);
        room += buffers::part_bytes(part.size());
    }
}

void SeriesMemory::release(double* elements) noexcept {
    buffers::free_room(buffers::room_of(elements));
}

}  // namespace lumetra
