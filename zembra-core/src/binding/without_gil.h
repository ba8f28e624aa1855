// Running pure native work with the interpreter lock released.
#pragma once

#include <type_traits>
#include <utility>

#include "binding/object.h"

namespace zembra::py {

// Releases the lock, runs work, and takes the lock back whether the work
// finished or threw; returns the work's result or rethrows its failure.
// The work must not touch Python objects.
template <class Work>
decltype(auto) without_interpreter_lock(Work&& work) {
  struct Reacquire {
    PyThreadState* state;
    ~Reacquire() { PyEval_RestoreThread(state); }
  } reacquire{PyEval_SaveThread()};
  return std::forward<Work>(work)();
}

}  // namespace zembra::py
