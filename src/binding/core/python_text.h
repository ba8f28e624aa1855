// Building and reading str objects for the text forms.
#pragma once

#include <string_view>

#include "binding/core/error.h"

namespace zembra::py {

// A new str from ASCII text (the text forms of decimals, dates, UUIDs, Base64).
Result<Object> ascii_text(std::string_view text);
// A new str from UTF-8 text.
Result<Object> utf8_text(std::string_view text);

// Whether a str holds a lone surrogate, which UTF-8 cannot carry. Only
// texts beyond Latin-1 can hold one.
bool has_surrogates(PyObject* text);

// Text of an exception for messages: "TypeName: str(exc)".
std::string exception_text(PyObject* exc);

}  // namespace zembra::py
