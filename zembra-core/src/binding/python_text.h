// Building and reading str objects for the text forms.
#pragma once

#include <string_view>

#include "binding/error.h"

namespace zembra::py {

// A new str from ASCII text (the text forms of decimals, dates, UUIDs, Base64).
Result<Object> ascii_text(std::string_view text);
// A new str from UTF-8 text.
Result<Object> utf8_text(std::string_view text);

// Text of an exception for messages: "TypeName: str(exc)".
std::string exception_text(PyObject* exc);

}  // namespace zembra::py
