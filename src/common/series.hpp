// Owned buffers: the result arrays that kernels hand back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "common/failure.hpp"
#include "common/numeric.hpp"
#include "common/view.hpp"

namespace lumetra {

class Series;

// The allocator hook: where the elements of every Series live. Kernels ask
// only for elements; the program that hands series on (the binding layer,
// binding/buffers.cpp) defines these and may keep what it needs in the same
// allocation. Every function fails with std::bad_alloc when memory runs out.
struct SeriesMemory {
    // Room for n doubles.
    static double* allocate(std::size_t n);
    // Room for every series of parts, each as long as its size(), in one
    // allocation that is freed with the last of them.
    static void allocate_parts(std::span<Series> parts);
    // Gives back elements that allocate() or allocate_parts() made.
    static void release(double* elements) noexcept;
};

// A contiguous, move-only buffer of doubles: a kernel's result, filled by the
// kernel and handed over to the binding layer whole.
class Series {
public:
    Series() = default;
    Series(Series&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          may_hold_nan_(other.may_hold_nan_) {}
    Series& operator=(Series&& other) noexcept {
        if (this != &other) {
            if (data_ != nullptr) SeriesMemory::release(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            may_hold_nan_ = other.may_hold_nan_;
        }
        return *this;
    }
    ~Series() {
        if (data_ != nullptr) SeriesMemory::release(data_);
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
        return Series(SeriesMemory::allocate(n), n);
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
    // small blocks come and go). The sizes are checked in order, as a
    // for_overwrite call for each would check them.
    template <class SizeOf>
    static std::vector<Series> group(std::size_t count, SizeOf&& size_of,
                                     SourceLocation where = SourceLocation::current()) {
        std::vector<Series> parts(count);
        for (std::size_t i = 0; i < count; ++i) {
            parts[i].size_ = size_of(i);
            check_capacity<double>(parts[i].size_, where);
        }
        if (count > 0) SeriesMemory::allocate_parts(parts);
        return parts;
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    double* data() noexcept { return data_; }
    const double* data() const noexcept { return data_; }
    double& operator[](std::size_t i) noexcept { return data_[i]; }
    const double& operator[](std::size_t i) const noexcept { return data_[i]; }

    // Checked access for a buffer index that inputs may push past the end.
    double& at(std::size_t i, SourceLocation where = SourceLocation::current()) {
        if (i >= size_) fail_index(size_, i, where);
        return data_[i];
    }

    // Whether a NaN may be among the values: true unless the kernel saw every
    // value it wrote and none was NaN (through a SeriesWriter, or the ETS
    // batch's lanes), which spares the binding layer its NaN pass
    // (series_writer.hpp says when that is worth it).
    bool may_hold_nan() const noexcept { return may_hold_nan_; }
    void set_may_hold_nan(bool nan) noexcept { may_hold_nan_ = nan; }

    // Hands the elements over (data() until then); the new owner gives them
    // back with SeriesMemory::release.
    double* release() noexcept {
        size_ = 0;
        return std::exchange(data_, nullptr);
    }

private:
    friend struct SeriesMemory;

    Series(double* data, std::size_t size) noexcept : data_(data), size_(size) {}

    double* data_ = nullptr;
    std::size_t size_ = 0;
    bool may_hold_nan_ = true;
};

}  // namespace lumetra
