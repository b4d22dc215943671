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

[[noreturn]] inline void fail(std::string message,
                              SourceLocation where = SourceLocation::current()) {
    throw Failure(std::move(message), where);
}

// An element past the end of an array argument.
[[noreturn]] inline void fail_view_index(SourceLocation where = SourceLocation::current()) {
    fail("ndarray: index out of bounds", where);
}

// An element past the end of a buffer the kernel owns (a copy, a work array).
[[noreturn]] inline void fail_index(std::size_t len, std::size_t index,
                                    SourceLocation where = SourceLocation::current()) {
    fail("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
             std::to_string(index),
         where);
}

[[noreturn]] inline void fail_remainder_by_zero(SourceLocation where = SourceLocation::current()) {
    fail("attempt to calculate the remainder with a divisor of zero", where);
}

[[noreturn]] inline void fail_range_end(std::size_t end, std::size_t len,
                                        SourceLocation where = SourceLocation::current()) {
    fail("range end index " + std::to_string(end) + " out of range for slice of length " +
             std::to_string(len),
         where);
}

[[noreturn]] inline void fail_range_start(std::size_t start, std::size_t len,
                                          SourceLocation where = SourceLocation::current()) {
    fail("range start index " + std::to_string(start) + " out of range for slice of length " +
             std::to_string(len),
         where);
}

// A buffer whose size in bytes would not fit the largest signed size.
[[noreturn]] inline void fail_capacity_overflow(SourceLocation where = SourceLocation::current()) {
    fail("capacity overflow", where);
}

// Three kernels read their series as one contiguous block.
[[noreturn]] inline void fail_not_contiguous(SourceLocation where = SourceLocation::current()) {
    fail("called `Option::unwrap()` on a `None` value", where);
}

}  // namespace lumetra
