// The elements of a view as one block, for kernels that read their data as
// plain arrays (vector loads, rows of a matrix, segments of a series).
#pragma once

#include <cstddef>
#include <vector>

#include "common/numeric.hpp"
#include "common/view.hpp"

namespace lumetra {

// The view's own memory when its elements are adjacent in index order, a
// private copy in index order otherwise (strided, reversed, broadcast): the
// same values either way, so a kernel computes the same bits from both.
class Contiguous {
public:
    explicit Contiguous(View<double> v, SourceLocation where = SourceLocation::current())
        : data_(v.data()), size_(v.size()) {
        if (v.contiguous()) return;
        copy_ = work_array<double>(size_, where);
        for (std::size_t i = 0; i < size_; ++i) copy_[i] = v[i];
        data_ = copy_.data();
    }
    Contiguous(const Contiguous&) = delete;
    Contiguous& operator=(const Contiguous&) = delete;

    const double* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    const double& operator[](std::size_t i) const noexcept { return data_[i]; }

private:
    std::vector<double> copy_;
    const double* data_;
    std::size_t size_;
};

}  // namespace lumetra
