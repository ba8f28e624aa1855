// Running pure native work with the interpreter lock released.
#pragma once

#include <type_traits>
#include <utility>

#include "binding/core/object.h"
#include "pure/common/forced_unwind.h"

namespace zembra::py {

// Releases the lock, runs work, and takes the lock back whether the work
// finished or threw; returns the work's result or rethrows its failure.
// The work must not touch Python objects.
//
// The lock is taken back in ordinary code, never in a destructor: at
// interpreter exit CPython ends a daemon thread right there by unwinding
// its stack (pthread_exit), and that unwinding must travel up through the
// callers untouched. A forced unwind that began inside the work passes
// through without taking the lock back.
template <class Work>
std::invoke_result_t<Work> without_interpreter_lock(Work&& work) {
  using R = std::invoke_result_t<Work>;
  PyThreadState* state = PyEval_SaveThread();
  auto run = [&]() -> R {
    try {
      return std::forward<Work>(work)();
    } catch (...) {
      if (!is_forced_unwind()) PyEval_RestoreThread(state);
      throw;
    }
  };
  if constexpr (std::is_void_v<R>) {
    run();
    PyEval_RestoreThread(state);
  } else {
    R result = run();
    PyEval_RestoreThread(state);
    return result;
  }
}

}  // namespace zembra::py
