// Owned buffers: the result arrays that kernels hand back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
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
// layer takes the whole block over with release(); the holder frees it with
// Series::free.
class Series {
public:
    // Bytes before the first element; a multiple of the allocation's
    // alignment, so the elements keep it.
    static constexpr std::size_t owner_room = 32;

    Series() = default;

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
        // Room for one element at least, so that every array's data pointer
        // points into its own buffer.
        const std::size_t elements = n == 0 ? 1 : n;
        return Series(
            static_cast<std::byte*>(::operator new(owner_room + elements * sizeof(double))), n);
    }

    // A private contiguous copy of a view, in index order.
    static Series copy_of(View<double> v, SourceLocation where = SourceLocation::current()) {
        Series s = for_overwrite(v.size(), where);
        for (std::size_t i = 0; i < v.size(); ++i) s[i] = v[i];
        return s;
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    double* data() noexcept { return elements_of(block_.get()); }
    const double* data() const noexcept { return elements_of(block_.get()); }
    double& operator[](std::size_t i) noexcept { return data()[i]; }
    const double& operator[](std::size_t i) const noexcept { return data()[i]; }

    // Checked access for a buffer index that inputs may push past the end.
    double& at(std::size_t i, SourceLocation where = SourceLocation::current()) {
        if (i >= size_) fail_index(size_, i, where);
        return data()[i];
    }

    // Hands the block over: owner_room bytes, then the elements (data() of
    // the series until then); it must later be passed to Series::free.
    std::byte* release() noexcept {
        size_ = 0;
        return block_.release();
    }
    static void free(std::byte* block) noexcept { ::operator delete(block); }

private:
    static double* elements_of(std::byte* block) noexcept {
        return block == nullptr ? nullptr : reinterpret_cast<double*>(block + owner_room);
    }

    struct Free {
        void operator()(std::byte* block) const noexcept { Series::free(block); }
    };

    Series(std::byte* block, std::size_t size) noexcept : block_(block), size_(size) {}

    std::unique_ptr<std::byte, Free> block_;
    std::size_t size_ = 0;
};

}  // namespace lumetra
