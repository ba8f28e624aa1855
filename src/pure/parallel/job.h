// Units of work that move between threads, and the slot that carries a
// task's outcome (its value or the exception it threw) back to the thread
// that waits for it.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "pure/common/forced_unwind.h"

namespace zembra::parallel {

class WorkerPool;
struct Worker;

// What a task returning void yields through join().
using Unit = std::monostate;

template <class R>
using ValueOrUnit = std::conditional_t<std::is_void_v<R>, Unit, R>;

// A queued piece of work. It lives in the frame of the thread that waits for
// it, so whoever runs it must not touch it after signalling completion.
struct Job {
  // `migrated`: the job runs on another thread than the one that made it.
  using ExecuteFn = void (*)(Job*, bool migrated) noexcept;

  explicit Job(ExecuteFn fn, Worker* queued_by = nullptr) noexcept : execute_fn(fn), origin(queued_by) {}

  void execute(bool migrated) noexcept { execute_fn(this, migrated); }

  ExecuteFn execute_fn;
  Worker* origin;  // the worker that queued it; nullptr from outside
};

// Holds a task's result or the exception it threw. The unwinding that ends a
// thread (pthread_exit) is not a task's failure: it is never captured and
// goes on up (through a noexcept job runner it ends the process, which is
// better than leaving the job's waiter waiting forever).
template <class R>
class ResultSlot {
 public:
  template <class F, class... Args>
  void run(F& fn, Args&&... args) {
    try {
      if constexpr (std::is_void_v<R>) {
        std::invoke(fn, std::forward<Args>(args)...);
        value_.emplace();
      } else {
        value_.emplace(std::invoke(fn, std::forward<Args>(args)...));
      }
    } catch (...) {
      if (is_forced_unwind()) throw;
      error_ = std::current_exception();
    }
  }

  bool failed() const noexcept { return static_cast<bool>(error_); }
  void rethrow_if_failed() const {
    if (error_) std::rethrow_exception(error_);
  }
  // The value; rethrows the task's exception instead when it failed.
  ValueOrUnit<R> take() {
    rethrow_if_failed();
    return std::move(*value_);
  }

 private:
  std::optional<ValueOrUnit<R>> value_;
  std::exception_ptr error_;
};

}  // namespace zembra::parallel
