// The one exception type that kernels throw for a condition they do not
// handle. The binding layer turns it into the Python exception that callers
// see; kernels never include a Python header and never throw anything else
// (apart from std::bad_alloc, which the allocator may raise).
#pragma once

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <string>
#include <utility>

namespace lumetra {

class Failure {
public:
    explicit Failure(std::string message,
                     std::source_location where = std::source_location::current())
        : message_(std::move(message)), where_(where) {}

    const std::string& message() const noexcept { return message_; }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

// The messages below are part of the module's interface: callers match on
// them, so their wording is fixed.

[[noreturn]] inline void fail(std::string message,
                              std::source_location where = std::source_location::current()) {
    throw Failure(std::move(message), where);
}

// An element past the end of an array argument.
[[noreturn]] inline void fail_view_index(
    std::source_location where = std::source_location::current()) {
    fail("ndarray: index out of bounds", where);
}

// An element past the end of a buffer the kernel owns (a copy, a work array).
[[noreturn]] inline void fail_index(std::size_t len, std::size_t index,
                                    std::source_location where = std::source_location::current()) {
    fail("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
             std::to_string(index),
         where);
}

[[noreturn]] inline void fail_remainder_by_zero(
    std::source_location where = std::source_location::current()) {
    fail("attempt to calculate the remainder with a divisor of zero", where);
}

[[noreturn]] inline void fail_range_end(
    std::size_t end, std::size_t len,
    std::source_location where = std::source_location::current()) {
    fail("range end index " + std::to_string(end) + " out of range for slice of length " +
             std::to_string(len),
         where);
}

[[noreturn]] inline void fail_range_start(
    std::size_t start, std::size_t len,
    std::source_location where = std::source_location::current()) {
    fail("range start index " + std::to_string(start) + " out of range for slice of length " +
             std::to_string(len),
         where);
}

// A buffer whose size in bytes would not fit the largest signed size.
[[noreturn]] inline void fail_capacity_overflow(
    std::source_location where = std::source_location::current()) {
    fail("capacity overflow", where);
}

// Three kernels read their series as one contiguous block.
[[noreturn]] inline void fail_not_contiguous(
    std::source_location where = std::source_location::current()) {
    fail("called `Option::unwrap()` on a `None` value", where);
}

}  // namespace lumetra
