// The datetime module's C API, imported on first use.
//
// PyDateTimeAPI is a static of each translation unit that includes
// <datetime.h>, so every unit imports its own copy: these helpers have
// internal linkage for that reason.
#pragma once

#include "binding/core/error.h"

#include <datetime.h>  // after Python.h

namespace zembra::py {
namespace {

// False (and no exception) when the module cannot be imported: callers then
// treat values as not being datetime objects.
[[maybe_unused]] bool datetime_api_ready() {
  if (!PyDateTimeAPI) {
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI) {
      PyErr_Clear();
      return false;
    }
  }
  return true;
}

// The import's exception as an error value.
[[maybe_unused]] Status ensure_datetime_api() {
  if (!PyDateTimeAPI) {
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI) return python_error();
  }
  return {};
}

}  // namespace
}  // namespace zembra::py
