// Owned buffers: the result arrays that kernels hand back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "common/failure.hpp"
#include "common/numeric.hpp"
#include "common/view.hpp"

namespace lumetra {

// A contiguous, move-only buffer of doubles that becomes a NumPy array's data.
// The elements are preceded, in the same allocation, by room for the object
// that owns them once they are an array's data (the binding layer's holder),
// so that handing a series over to NumPy allocates nothing more. The binding
// layer takes the room over with release(); the holder gives it back with
// Series::free.
//
// Several series can share one allocation (group()), each with its own
// room; the allocation is freed with the last of them.
class Series {
public:
    // Bytes before the first element; a multiple of the allocation's
    // alignment, so the elements keep it. The owner may use the first
    // owner_bytes of them; the last word records the shared allocation that
    // the room lies in, if any.
    static constexpr std::size_t owner_room = 32;
    static constexpr std::size_t owner_bytes = 24;

    Series() = default;
    Series(Series&& other) noexcept
        : room_(std::exchange(other.room_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          nan_free_(other.nan_free_) {}
    Series& operator=(Series&& other) noexcept {
        if (this != &other) {
            if (room_ != nullptr) free(room_);
            room_ = std::exchange(other.room_, nullptr);
            size_ = std::exchange(other.size_, 0);
            nan_free_ = other.nan_free_;
        }
        return *this;
    }
    ~Series() {
        if (room_ != nullptr) free(room_);
    }

    // n zeros.
    static Series zeros(std::size_t n, SourceLocation where = SourceLocation::current()) {
        Series s = for_overwrite(n, where);
        std::fill_n(s.data(), n, 0.0);
        return s;
    }

    // n elements left uninitialised, for a kernel that writes every one of
    // them before it returns the series; this saves the zeroing pass of
    // zeros(n) over a long result.
    static Series for_overwrite(std::size_t n, SourceLocation where = SourceLocation::current()) {
        check_capacity<double>(n, where);
        std::byte* room = allocate(room_and_elements(n));
        set_group(room, nullptr);
        return Series(room, n);
    }

    // A private contiguous copy of a view, in index order.
    static Series copy_of(View<double> v, SourceLocation where = SourceLocation::current()) {
        Series s = for_overwrite(v.size(), where);
        for (std::size_t i = 0; i < v.size(); ++i) s[i] = v[i];
        return s;
    }

    // count series, of sizes size_of(0), size_of(1), ..., elements left
    // uninitialised, in one allocation: for results that are made together
    // in great numbers, one allocation and one release instead of one per
    // series (and no trimming and faulting of the heap's top as a thousand
    // small blocks come and go). The allocation is freed with the last of
    // them. The sizes are checked in order, as a for_overwrite call for each
    // would check them.
    template <class SizeOf>
    static std::vector<Series> group(std::size_t count, SizeOf&& size_of,
                                     SourceLocation where = SourceLocation::current()) {
        std::size_t total = group_header;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t n = size_of(i);
            check_capacity<double>(n, where);
            // Each part fits a signed size, so the total cannot wrap before
            // it is compared.
            total += part_bytes(n);
            if (total > static_cast<std::size_t>(PTRDIFF_MAX)) throw std::bad_alloc();
        }
        std::vector<Series> parts;
        parts.reserve(count);
        if (count == 0) return parts;
        std::byte* block = allocate(total);
        Group* shared = new (block) Group{count};
        std::byte* room = block + group_header;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t n = size_of(i);
            set_group(room, shared);
            parts.push_back(Series(room, n));
            room += part_bytes(n);
        }
        return parts;
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    double* data() noexcept { return elements_of(room_); }
    const double* data() const noexcept { return elements_of(room_); }
    double& operator[](std::size_t i) noexcept { return data()[i]; }
    const double& operator[](std::size_t i) const noexcept { return data()[i]; }

    // Checked access for a buffer index that inputs may push past the end.
    double& at(std::size_t i, SourceLocation where = SourceLocation::current()) {
        if (i >= size_) fail_index(size_, i, where);
        return data()[i];
    }

    // Whether the kernel that filled the series has seen every value as it
    // wrote it and found no NaN among them. The binding layer hands out every
    // NaN as the one quiet NaN that Python writes, which takes a pass over
    // the values; a series known to hold none is spared that pass. Unknown
    // (false) unless the kernel says so, after its last write.
    bool known_nan_free() const noexcept { return nan_free_; }
    void set_known_nan_free(bool known) noexcept { nan_free_ = known; }

    // Hands the room over: owner_room bytes, then the elements (data() of
    // the series until then); it must later be passed to Series::free.
    std::byte* release() noexcept {
        size_ = 0;
        return std::exchange(room_, nullptr);
    }

    // Gives a room back: its own allocation is freed, or its share of one
    // allocation, which is freed with the last share. Every room is given
    // back under the interpreter's lock (or within the one call that made
    // it), so the count needs no atomic operations.
    static void free(std::byte* room) noexcept {
        Group* group;
        std::memcpy(&group, room + owner_bytes, sizeof group);
        if (group == nullptr) {
            std::free(room);
        } else if (--group->parts == 0) {
            std::free(group);
        }
    }

private:
    struct Group {
        std::size_t parts;  // the rooms not yet given back
    };
    static_assert(owner_bytes + sizeof(Group*) <= owner_room);
    // The group's count, padded so that the rooms keep the allocation's
    // alignment.
    static constexpr std::size_t group_header = 32;

    static std::size_t room_and_elements(std::size_t n) noexcept {
        // Room for one element at least, so that every array's data pointer
        // points into its own buffer.
        return owner_room + (n == 0 ? 1 : n) * sizeof(double);
    }

    // A room and its elements within a group, rounded up to keep the next
    // room at the allocation's alignment.
    static std::size_t part_bytes(std::size_t n) noexcept {
        return (room_and_elements(n) + 15) & ~std::size_t{15};
    }

    // At least this many bytes, or std::bad_alloc.
    static std::byte* allocate(std::size_t bytes) {
        if (bytes >= huge_block) return allocate_huge(bytes);
        void* block = std::malloc(bytes);
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<std::byte*>(block);
    }

    // Blocks from this size on (NumPy's threshold for the same advice) are
    // offered to the operating system for transparent huge pages.
    static constexpr std::size_t huge_block = std::size_t{1} << 22;
    static std::byte* allocate_huge(std::size_t bytes);

    static void set_group(std::byte* room, Group* group) noexcept {
        std::memcpy(room + owner_bytes, &group, sizeof group);
    }

    static double* elements_of(std::byte* room) noexcept {
        return room == nullptr ? nullptr : reinterpret_cast<double*>(room + owner_room);
    }

    Series(std::byte* room, std::size_t size) noexcept : room_(room), size_(size) {}

    std::byte* room_ = nullptr;
    std::size_t size_ = 0;
    bool nan_free_ = false;
};

}  // namespace lumetra
