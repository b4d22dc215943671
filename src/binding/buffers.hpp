// The memory of result arrays: every series' elements are preceded, in the
// same allocation, by room for the object that owns them once they are an
// array's data (results.cpp's holder), so that handing a series over to NumPy
// allocates nothing more. This file defines the allocator hook that
// common/series.hpp declares.
#pragma once

#include <cstddef>

namespace lumetra::binding::buffers {

// The bytes of a room that its owner may use.
inline constexpr std::size_t owner_bytes = 24;

// The room before a series' elements (which SeriesMemory made).
std::byte* room_of(double* elements) noexcept;

// Gives a room back, with its elements: its own allocation is freed, or its
// share of one allocation, which is freed with the last share.
void free_room(std::byte* room) noexcept;

}  // namespace lumetra::binding::buffers
