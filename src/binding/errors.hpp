// How failures become Python exceptions.
#pragma once

#include <string_view>

#include "binding/python.hpp"
#include "common/failure.hpp"

namespace lumetra::binding {

// Writes the short report to standard error and raises PanicException with
// the failure's message as its single argument.
void raise_panic(const Failure& failure) noexcept;
void raise_panic(std::string_view message, const SourceLocation& where) noexcept;

// Called from inside a catch block: maps the exception being handled. A
// Failure becomes PanicException, std::bad_alloc MemoryError, a length error
// "capacity overflow", anything else PanicException with what it says.
void raise_current_exception() noexcept;

// Applies the argument rule to the exception being raised by the conversion
// of parameter `name`: an exception of exactly TypeError is replaced by a
// TypeError "argument '<name>': <message>" carrying the original's cause;
// any other exception is left as it is.
void prefix_argument_error(const char* name);

// The __qualname__ of the object's type, for conversion messages.
Ref type_qualname(PyObject* object);

}  // namespace lumetra::binding
