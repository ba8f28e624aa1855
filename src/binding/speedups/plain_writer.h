// The typed route's form of a list or dict value, written directly.
//
// For a plain structure (exact lists, tuples and dicts with str keys, str
// without surrogates, ints within 64 bits, finite floats, bools and None,
// at most 128 levels) the typed route returns a copy in which tuples are
// lists and every dict lists its keys in ascending byte order; this writes
// that copy's JSON text without building it. Anything else is declined, and
// the caller takes the route's general conversion (through json.dumps).
#pragma once

#include <string_view>
#include <vector>

#include "binding/core/error.h"
#include "pure/common/buffer.h"

namespace zembra::py {

class PlainJsonWriter {
 public:
  // True when written; false (nothing written, no exception) when declined.
  Result<bool> write(PyObject* value, Buffer& out);

 private:
  struct Entry {
    std::string_view key;
    PyObject* value;
  };
  Result<bool> walk(PyObject* value, std::size_t depth, Buffer& out);

  // The entries of the dicts being written, innermost last: the calling
  // thread's, kept between calls (a walk runs no Python code, so no other
  // walk on the thread can interleave with it).
  std::vector<Entry>& entries_ = thread_entries();
  static std::vector<Entry>& thread_entries();
};

}  // namespace zembra::py
