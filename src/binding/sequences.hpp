// Sequence kinds, which only batch_ets_filter takes: a sequence of K (its
// y_list of arrays, its params_list of tuples), a tuple of (K1, ..., KN), and
// a sequence of float inside such a tuple (a seasonal vector), with the store
// that keeps the numbers of the last until the kernel has returned.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/arguments.hpp"
#include "binding/numpy_api.hpp"
#include "binding/python.hpp"
#include "common/view.hpp"

namespace lumetra::binding {

// Storage for the numbers of sequence-of-float arguments (std::span<const
// double>), kept until the kernel has returned. The items of one sequence
// argument share one store, which grows by whole chunks that never move, so
// that a span handed out stays valid while more numbers are stored: the
// numbers of a thousand short items take a few allocations, not a thousand.
// The first numbers go into a chunk within the store itself, so that a call
// with a few numbers allocates nothing for them.
class NumberStore {
public:
    NumberStore() noexcept = default;
    NumberStore(const NumberStore&) = delete;  // spans point into it
    NumberStore& operator=(const NumberStore&) = delete;

    // Room for n numbers; throws std::bad_alloc when there is none.
    double* take(std::size_t n);

private:
    static constexpr std::size_t inline_chunk = 32;
    double first_[inline_chunk];
    std::vector<std::unique_ptr<double[]>> chunks_;
    double* next_ = first_;
    std::size_t left_ = inline_chunk;
};

// Arg<T>::load with the store of an enclosing sequence, for the kinds that
// take one.
template <class A>
bool load_arg(A& arg, PyObject* object, NumberStore& store) {
    if constexpr (requires { arg.load(object, store); }) {
        return arg.load(object, store);
    } else {
        return arg.load(object);
    }
}

// Whether Arg<T> keeps pointers into the object it loaded, so that the object
// must stay alive until get(). Scalars are read by value, a sequence holds its
// own items, and a span of numbers points into a store.
template <class T>
inline constexpr bool keeps_object = !std::is_arithmetic_v<T>;
template <class T>
inline constexpr bool keeps_object<std::vector<T>> = false;
template <>
inline constexpr bool keeps_object<std::span<const double>> = false;
template <class... T>
inline constexpr bool keeps_object<std::tuple<T...>> = (keeps_object<T> || ...);

// sequence of K: any object that passes the sequence test and is not a str.
// Returns an iterator over it, or raises and returns a null Ref.
Ref iterate_sequence(PyObject* object);

// Calls load_item(item) for the items of a sequence argument, in order, each
// item held by a strong reference for the duration of the call (Python code
// run by a conversion may drop the container's own reference), until one
// call returns false. Raises and returns false for an object that is not a
// sequence, or when load_item or the iteration fails.
//
// Exact lists and tuples are read by index, which visits the same items as
// their iterators would: a list's length is read again before every item, so
// a list changed by a conversion is followed as its iterator would follow it.
// Everything else is iterated.
template <class LoadItem>
bool load_items(PyObject* object, LoadItem&& load_item) {
    if (PyList_CheckExact(object)) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(object); ++i)
            if (!load_item(Ref::borrow(PyList_GET_ITEM(object, i)))) return false;
        return true;
    }
    if (PyTuple_CheckExact(object)) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(object); ++i)
            if (!load_item(Ref::borrow(PyTuple_GET_ITEM(object, i)))) return false;
        return true;
    }
    Ref iterator = iterate_sequence(object);
    if (!iterator) return false;
    for (;;) {
        Ref item(PyIter_Next(iterator.get()));
        if (!item) return !PyErr_Occurred();
        if (!load_item(std::move(item))) return false;
    }
}

// The item count of an exact list or tuple (read without running Python
// code), or 0 when it is not known beforehand.
inline std::size_t known_length(PyObject* object) noexcept {
    if (PyList_CheckExact(object) || PyTuple_CheckExact(object))
        return static_cast<std::size_t>(Py_SIZE(object));
    return 0;
}

// Items whose Args point into them (array views) stay loaded as Args, each
// with a strong reference to its item, and are finished with the arguments
// once every argument is loaded. Items read by value are converted straight
// into the values that get() hands over.
template <class T, bool Keeps = keeps_object<T>>
struct SequenceItems;

template <class T>
struct SequenceItems<T, true> {
    struct Held {
        Ref object;
        Arg<T> arg;
    };
    std::vector<Held> items;

    void reserve(std::size_t n) { items.reserve(n); }
    bool load(Ref item) {
        Held& held = items.emplace_back();
        held.object = std::move(item);
        return held.arg.load(held.object.get());
    }
    bool finish() {
        for (Held& held : items)
            if (!finish_arg(held.arg)) return false;
        return true;
    }
    std::vector<T> take() {
        std::vector<T> values;
        values.reserve(items.size());
        for (Held& held : items) values.push_back(held.arg.get());
        return values;
    }
};

template <class T>
struct SequenceItems<T, false> {
    std::vector<T> values;
    NumberStore store;  // the numbers that the values' spans show, if any

    void reserve(std::size_t n) { values.reserve(n); }
    // The item's own exception, unchanged, is the sequence's.
    bool load(Ref item) {
        Arg<T> arg;
        if (!load_arg(arg, item.get(), store) || !finish_arg(arg)) return false;
        values.push_back(arg.get());
        return true;
    }
    static bool finish() noexcept { return true; }
    std::vector<T> take() { return std::move(values); }
};

// A sequence of floats whose items can be read without converting each one:
// stores them, in index order, and points `out` at them. These are a
// one-dimensional float64 array that its type iterates as ndarray does
// (iteration yields NumPy float64 scalars, whose float conversion reads their
// double unchanged) and a list or tuple whose items are all exact floats. No
// Python code runs between two items on either road, so the copy gives the
// values (NaN bits included) that converting the items one by one gives.
// Returns false, having read nothing, for any other object, which then takes
// the sequence protocol. Throws std::bad_alloc (MemoryError) when the copy
// cannot be stored, as the protocol's growing copy would.
bool copy_floats(PyObject* object, NumberStore& store, std::span<const double>& out);

template <class T>
struct Arg<std::vector<T>> {
    SequenceItems<T> items;

    bool load(PyObject* object) {
        items.reserve(known_length(object));
        return load_items(object, [&](Ref item) { return items.load(std::move(item)); });
    }

    bool finish() { return items.finish(); }

    // Hands the values over; called once, after every argument is finished.
    std::vector<T> get() { return items.take(); }
};

// The rows of a two-dimensional float64 array given as a sequence of
// FloatArray1 (a batch's y_list). Iterating the array would make a view of
// each row, holding a pointer into the array's buffer as it is then; but a
// conversion run later may resize the array in place
// (ndarray.resize(refcheck=False)) and free that buffer, which the views
// would still point into. So no row view is made: the array is kept, with the
// number of rows that iterating it would yield, and each row's pointer,
// length and stride are taken from the array itself by finish(), after the
// last conversion, like those of any other array argument.
class MatrixRows {
public:
    // Whether object is such an array: an ndarray (or a subclass that
    // iterates as ndarray does) of two dimensions with a dtype equivalent to
    // float64. Then it is taken; anything else is left to the sequence
    // protocol. Runs no Python code and raises nothing; NumPy's table is
    // loaded.
    bool load(PyObject* object) noexcept;

    bool taken() const noexcept { return array_ != nullptr; }

    // The array checked again, as load() found it, and holding at least the
    // rows it had then: else the TypeError that a row's conversion raises.
    // Elements at addresses not aligned for a double are copied, row by row,
    // into an aligned private buffer.
    bool finish();

    // The first rows() rows of the array as finish() found it.
    std::vector<View<double>> views() const;

private:
    static bool is_matrix(PyObject* object) noexcept;

    PyArrayObject* array_ = nullptr;  // borrowed: the caller's argument keeps it alive
    std::size_t rows_ = 0;
    std::unique_ptr<double[]> copy_;
    // The layout that views() hands over, set by finish(): row i starts at
    // data_ + i * row_step_ (in bytes) and has columns_ elements step_ apart.
    const char* data_ = nullptr;
    std::ptrdiff_t row_step_ = 0;
    std::size_t columns_ = 0;
    std::ptrdiff_t step_ = 1;
};

template <>
struct Arg<std::vector<View<double>>> {
    MatrixRows matrix;
    SequenceItems<View<double>> items;

    bool load(PyObject* object) {
        if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object)) {
            if (!numpy_api::ready()) return false;
            if (matrix.load(object)) return true;
        }
        items.reserve(known_length(object));
        return load_items(object, [&](Ref item) { return items.load(std::move(item)); });
    }

    bool finish() { return matrix.taken() ? matrix.finish() : items.finish(); }

    std::vector<View<double>> get() { return matrix.taken() ? matrix.views() : items.take(); }
};

// sequence of float: the numbers, copied, as a span into a store (the
// enclosing sequence's, or the argument's own).
template <>
struct Arg<std::span<const double>> {
    std::span<const double> value;
    NumberStore own;

    bool load(PyObject* object) { return load(object, own); }
    bool load(PyObject* object, NumberStore& store) {
        if (copy_floats(object, store, value)) return true;
        // Any other sequence: each item converted as a float, in order.
        Arg<std::vector<double>> items;
        if (!items.load(object)) return false;
        const std::vector<double> numbers = items.get();
        double* stored = store.take(numbers.size());
        std::copy(numbers.begin(), numbers.end(), stored);
        value = std::span<const double>(stored, numbers.size());
        return true;
    }
    std::span<const double> get() const noexcept { return value; }
};

// tuple of (K1, ..., KN): a tuple (or subclass) of exactly N items. Raises and
// returns false for anything else.
bool check_tuple(PyObject* object, std::size_t length);

template <class... T>
struct Arg<std::tuple<T...>> {
    std::tuple<Arg<T>...> items;
    NumberStore own;  // for spans of numbers, unless an enclosing sequence gives its store

    // The items are borrowed from the tuple, which cannot change them; the
    // caller keeps the tuple alive.
    bool load(PyObject* object, NumberStore& store) {
        if (!check_tuple(object, sizeof...(T))) return false;
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return (load_arg(std::get<I>(items),
                             PyTuple_GET_ITEM(object, static_cast<Py_ssize_t>(I)), store) &&
                    ...);
        }(std::index_sequence_for<T...>{});
    }
    bool load(PyObject* object) { return load(object, own); }

    bool finish() {
        return std::apply([](auto&... item) { return (finish_arg(item) && ...); }, items);
    }

    // Hands the values over; called once, after every argument is finished.
    std::tuple<T...> get() {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return std::tuple<T...>(std::get<I>(items).get()...);
        }(std::index_sequence_for<T...>{});
    }
};

}  // namespace lumetra::binding
