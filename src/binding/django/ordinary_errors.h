// Exceptions that the Django module turns into absence, defaults or message
// text. Only ordinary errors (instances of Exception) are absorbed:
// interrupts, exits, native panics, MemoryError and RecursionError always
// propagate.
#pragma once

#include <string>
#include <variant>

#include "binding/core/error.h"

namespace zembra::py {

// With an exception pending: clears it when it is ordinary, otherwise it
// stays pending and is returned as the error.
Status absorb_ordinary_error();

// With an exception pending: its text ("TypeName: str(exc)") when it is
// ordinary, the exception being cleared; otherwise it propagates.
Result<std::string> take_ordinary_error_text();

// A failure of r that is a pending Python exception, absorbed: the result is
// then on_absorbed(), which yields an error value. Other errors pass as they are.
template <class T, class OnAbsorbed>
Result<T> absorb_failure(Result<T>&& r, OnAbsorbed&& on_absorbed) {
  if (r || !std::holds_alternative<PythonRaised>(r.error())) return std::move(r);
  ZB_CHECK_OK(absorb_ordinary_error());
  return on_absorbed();
}

}  // namespace zembra::py
