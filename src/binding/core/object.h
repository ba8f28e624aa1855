// An owning handle for one strong reference to a Python object.
//
// Made only through the named factories: steal() takes over a new reference
// (the result of most C API calls), borrow() adds one. release() hands the
// reference back to the interpreter.
//
// A handle never touches the object when its thread has no interpreter
// state. CPython ends daemon threads at exit by unwinding their stacks from
// a failed attempt to take the interpreter lock (pthread_exit); the handles
// in the frames being unwound then leave their objects alone (the process is
// ending) instead of freeing them behind the finalizing main thread.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <utility>

namespace zembra::py {

// Set for good when an interpreter that loaded this code begins to exit
// (see watch_for_exit in frame.h), before CPython may end any thread. Until
// then the thread-state check below is skipped: it costs a call into the
// interpreter on every reference dropped.
inline constinit std::atomic<bool> exit_begun{false};

// Whether the calling thread may touch Python objects: false on a thread
// that CPython is ending at exit (it has no interpreter state).
inline bool may_touch_objects() noexcept {
  return !exit_begun.load(std::memory_order_acquire) || PyThreadState_GetUnchecked() != nullptr;
}

class Object {
 public:
  Object() noexcept = default;
  static Object steal(PyObject* p) noexcept { return Object(p); }
  static Object borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Object(p);
  }

  Object(const Object& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
  Object(Object&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Object& operator=(Object other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Object() {
    if (p_) drop(p_);
  }

  PyObject* get() const noexcept { return p_; }
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit Object(PyObject* p) noexcept : p_(p) {}
  static void drop(PyObject* p) noexcept {
    if (may_touch_objects()) Py_DECREF(p);
  }
  PyObject* p_ = nullptr;
};

}  // namespace zembra::py
