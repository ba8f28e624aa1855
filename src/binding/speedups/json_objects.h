// JSON text read straight into the objects the routes make of a JSONField
// value: the copy they take of what json.loads returns, i.e. lists, dicts
// whose keys come in ascending byte order (of equal keys, the last one's
// value), str, int, float, bool and None. No tree is built on the way.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "binding/core/error.h"

namespace zembra::py {

class JsonObjectReader {
 public:
  // Integers of more than max_int_digits digits are refused.
  explicit JsonObjectReader(std::size_t max_int_digits);
  ~JsonObjectReader();
  JsonObjectReader(const JsonObjectReader&) = delete;
  JsonObjectReader& operator=(const JsonObjectReader&) = delete;

  // The value; empty (no exception) when the text is not strict JSON
  // (text::parse_json) or holds an integer that is too long. Key objects
  // and scratch space are kept for the next text.
  Result<Object> read(std::string_view text);

 private:
  class Sink;
  std::unique_ptr<Sink> sink_;
};

}  // namespace zembra::py
