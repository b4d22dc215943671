// Owned buffers: the result arrays that kernels hand back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "common/failure.hpp"
#include "common/numeric.hpp"
#include "common/view.hpp"

namespace lumetra {

// A contiguous, move-only buffer of doubles that becomes a NumPy array's data.
// The binding layer takes the buffer over with release(); the array's holder
// object frees it with Series::free.
class Series {
public:
    Series() = default;

    // n zeros.
    static Series zeros(std::size_t n, SourceLocation where = SourceLocation::current()) {
        check_capacity<double>(n, where);
        // Never a null pointer, also for n = 0, so the holder always has a
        // buffer to own.
        return Series(std::unique_ptr<double[]>(new double[n == 0 ? 1 : n]()), n);
    }

    // n elements left uninitialised, for a kernel that writes every one of
    // them before it returns the series; this saves the zeroing pass of
    // zeros(n) over a long result.
    static Series for_overwrite(std::size_t n, SourceLocation where = SourceLocation::current()) {
        check_capacity<double>(n, where);
        return Series(std::make_unique_for_overwrite<double[]>(n == 0 ? 1 : n), n);
    }

    // A private contiguous copy of a view, in index order.
    static Series copy_of(View<double> v, SourceLocation where = SourceLocation::current()) {
        Series s = zeros(v.size(), where);
        for (std::size_t i = 0; i < v.size(); ++i) s.data_[i] = v[i];
        return s;
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    double* data() noexcept { return data_.get(); }
    const double* data() const noexcept { return data_.get(); }
    double& operator[](std::size_t i) noexcept { return data_[i]; }
    const double& operator[](std::size_t i) const noexcept { return data_[i]; }

    // Checked access for a buffer index that inputs may push past the end.
    double& at(std::size_t i, SourceLocation where = SourceLocation::current()) {
        if (i >= size_) fail_index(size_, i, where);
        return data_[i];
    }

    // Hands the buffer over; it must later be passed to Series::free.
    double* release() noexcept {
        size_ = 0;
        return data_.release();
    }
    static void free(double* data) noexcept { delete[] data; }

private:
    Series(std::unique_ptr<double[]> data, std::size_t size) noexcept
        : data_(std::move(data)), size_(size) {}

    std::unique_ptr<double[]> data_;
    std::size_t size_ = 0;
};

}  // namespace lumetra
