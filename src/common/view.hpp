// Read-only strided views of one-dimensional array arguments.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/failure.hpp"

namespace lumetra {

// v[i] is the element that NumPy shows at index i: the step is in elements and
// may be zero (a broadcast view) or negative (a reversed view). A view never
// owns, never writes and never outlives the call that made it.
template <class T>
class View {
public:
    constexpr View() = default;
    constexpr View(const T* data, std::size_t size, std::ptrdiff_t step) noexcept
        : data_(data), size_(size), step_(step) {}

    constexpr std::size_t size() const noexcept { return size_; }
    constexpr bool empty() const noexcept { return size_ == 0; }
    constexpr std::ptrdiff_t step() const noexcept { return step_; }
    constexpr const T* data() const noexcept { return data_; }

    // Unchecked access: the caller has established i < size().
    constexpr const T& operator[](std::size_t i) const noexcept {
        return data_[static_cast<std::ptrdiff_t>(i) * step_];
    }

    // Checked access for the indices that callers may push past the end.
    const T& at(std::size_t i, SourceLocation where = SourceLocation::current()) const {
        if (i >= size_) fail_view_index(where);
        return (*this)[i];
    }

    // The elements as one block, for the kernels that need them contiguous.
    // A view of fewer than two elements is contiguous whatever its step.
    bool contiguous() const noexcept { return step_ == 1 || size_ < 2; }

private:
    const T* data_ = nullptr;
    std::size_t size_ = 0;
    std::ptrdiff_t step_ = 1;
};

}  // namespace lumetra
