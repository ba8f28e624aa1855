// PanicException: raised when native code fails fatally.
#pragma once

#include "binding/core/object.h"

namespace zembra::py {

// The exception type (a borrowed reference; null with an exception set on
// failure). One class per interpreter, created on first use and shared by
// every extension module built with this code.
PyObject* panic_exception_type();

// Sets PanicException with the fault's message (a fixed text when null).
void raise_panic(const char* message);

// When the pending exception is a PanicException that came back through
// Python, reports it on standard error before it continues upwards.
void resume_panic_if_any();

}  // namespace zembra::py
