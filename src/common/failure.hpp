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

// Where a failure was raised, for the report on standard error. The standard
// library provides it only when the compiler has the builtin behind it (Clang
// 14 with libstdc++ 12 does not); elsewhere the older per-item builtins, which
// GCC and Clang both have, give the same file, line and column.
#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
class SourceLocation {
public:
    static constexpr SourceLocation current(
        const char* file = __builtin_FILE(), std::uint_least32_t line = __builtin_LINE(),
        std::uint_least32_t column = __builtin_COLUMN()) noexcept {
        SourceLocation where;
        where.file_ = file;
        where.line_ = line;
        where.column_ = column;
        return where;
    }
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr std::uint_least32_t line() const noexcept { return line_; }
    constexpr std::uint_least32_t column() const noexcept { return column_; }

private:
    const char* file_ = "";
    std::uint_least32_t line_ = 0;
    std::uint_least32_t column_ = 0;
};
#endif

class Failure {
public:
    explicit Failure(std::string message, SourceLocation where = SourceLocation::current())
        : message_(std::move(message)), where_(where) {}

    const std::string& message() const noexcept { return message_; }
    const SourceLocation& where() const noexcept { return where_; }

private:
    std::string message_;
    SourceLocation where_;
};

// The messages below are part of the module's interface: callers match on
// them, so their wording is fixed.

// (The branches that the coverage counters find where the functions below
// build a message are its strings' allocations failing.)
// GCOVR_EXCL_BR_START
[[noreturn]] inline void fail(std::string message,
                              SourceLocation where = SourceLocation::current()) {
    throw Failure(std::move(message), where);
}

// An element past the end of an array argument.
[[noreturn]] inline void fail_view_index(SourceLocation where = SourceLocation::current()) {
    fail("ndarray: index out of bounds", where);
}

// A message that names two sizes: before, x, between, y.
[[noreturn]] inline void fail_sizes(const std::string& before, std::size_t x, const char* between,
                                    std::size_t y, SourceLocation where) {
    fail(before + std::to_string(x) + between + std::to_string(y), where);
}

// An element past the end of a buffer the kernel owns (a copy, a work array).
[[noreturn]] inline void fail_index(std::size_t len, std::size_t index,
                                    SourceLocation where = SourceLocation::current()) {
    fail_sizes("index out of bounds: the len is ", len, " but the index is ", index, where);
}

[[noreturn]] inline void fail_remainder_by_zero(SourceLocation where = SourceLocation::current()) {
    fail("attempt to calculate the remainder with a divisor of zero", where);
}

// A range of a slice that starts or ends past the slice's length.
[[noreturn]] inline void fail_range(const char* bound, std::size_t index, std::size_t len,
                                    SourceLocation where) {
    fail_sizes(std::string("range ") + bound + " index ", index,
               " out of range for slice of length ", len, where);
}

[[noreturn]] inline void fail_range_end(std::size_t end, std::size_t len,
                                        SourceLocation where = SourceLocation::current()) {
    fail_range("end", end, len, where);
}

[[noreturn]] inline void fail_range_start(std::size_t start, std::size_t len,
                                          SourceLocation where = SourceLocation::current()) {
    fail_range("start", start, len, where);
}

// A buffer whose size in bytes would not fit the largest signed size.
[[noreturn]] inline void fail_capacity_overflow(SourceLocation where = SourceLocation::current()) {
    fail("capacity overflow", where);
}

// A result array with more elements than the largest signed size.
[[noreturn]] inline void fail_shape_too_large(SourceLocation where = SourceLocation::current()) {
    fail("ndarray: Shape too large, product of non-zero axis lengths overflows isize", where);
}

// The element of rank `index` asked of a selection over `len` values, where
// no such rank exists.
[[noreturn]] inline void fail_selection_index(std::size_t index, std::size_t len,
                                              SourceLocation where = SourceLocation::current()) {
    fail_sizes("partition_at_index index ", index, " greater than length of slice ", len, where);
}
// GCOVR_EXCL_BR_STOP

}  // namespace lumetra
