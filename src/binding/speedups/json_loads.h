// JSON text read into the objects json.loads makes of it, in document order
// (of equal keys in an object, the first one's place and the last one's
// value), without calling the json module.
#pragma once

#include <memory>
#include <string_view>

#include "binding/core/error.h"

namespace zembra::py {

class JsonLoads {
 public:
  JsonLoads();
  ~JsonLoads();
  JsonLoads(const JsonLoads&) = delete;
  JsonLoads& operator=(const JsonLoads&) = delete;

  // json.loads(text); empty (no exception) where the strict reader refuses
  // what json.loads may still read (NaN, lone surrogates, deep nesting,
  // integers beyond the interpreter's digit limit): the caller asks
  // json.loads itself then.
  Result<Object> read(std::string_view text);

 private:
  class Sink;
  std::unique_ptr<Sink> sink_;
};

}  // namespace zembra::py
