// The calling frame every function, constructor, property and repr of both
// modules goes through: argument binding with interpreter-style messages, a
// fault trap around the body, and the one place where errors are raised.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "binding/core/error.h"
#include "pure/common/forced_unwind.h"
#include "pure/common/stack_guard.h"

namespace zembra::py {

struct KeywordOnly {
  const char* name;
  bool required;
};

struct CallSignature {
  const char* function;    // "validate", or "__new__" for a constructor
  const char* class_name;  // the class of a constructor, else nullptr
  std::span<const char* const> positional;
  std::size_t required_positional;
  std::span<const KeywordOnly> keyword_only;

  constexpr std::size_t slot_count() const { return positional.size() + keyword_only.size(); }
};

// One borrowed object per parameter (positional first, then keyword-only);
// nullptr when the argument was not given.
using Slots = std::span<PyObject*>;

// Binds a vectorcall (positional array plus a tuple of keyword names).
// Allocates nothing unless an error message is built.
Status bind_arguments(const CallSignature& sig, PyObject* const* args, std::size_t nargs,
                      PyObject* kwnames, Slots slots);
// Binds a constructor call (positional tuple plus keyword dict).
Status bind_arguments(const CallSignature& sig, PyObject* args, PyObject* kwargs, Slots slots);

// Counts how deeply the current thread is inside the frame.
class FrameScope {
 public:
  FrameScope() noexcept;
  ~FrameScope();
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;
  static int depth() noexcept;
};

// Raises the in-flight C++ exception: std::bad_alloc as MemoryError, any
// other as PanicException. Must be called from a catch block that did not
// catch a forced unwind; a second fault while doing so ends the process.
void raise_current_fault() noexcept;

// Makes the interpreter set exit_begun (object.h) when it begins to exit,
// through an exit function of the interpreter's own (run before any thread
// can be ended). Every module's execution step calls it. When that cannot be
// arranged, exit_begun is set at once: the check is then always made.
void watch_for_exit();

// Raises RecursionError for a thread whose stack is nearly used up.
void raise_stack_exhausted();

// Fails with RecursionError when the thread's stack is nearly used up; for
// native code that recurses over nested data.
Status check_stack();

// With an exception pending: whether it is an ordinary error that a reader
// may turn into absence, a default or an "invalid" report. Interrupts,
// exits, native panics, MemoryError and RecursionError are not: they always
// propagate.
bool pending_error_is_ordinary();

// Runs a body that yields a new object; returns it, or null with the error
// raised. C++ exceptions thrown by the body become PanicException (running
// out of memory becomes MemoryError). A call made with the thread's stack
// nearly used up fails with RecursionError before the body runs.
//
// Not noexcept, nor are the functions the interpreter calls that run it: at
// interpreter exit CPython ends daemon threads by unwinding their stacks
// (abi::__forced_unwind) from any call that may run Python code or take the
// lock back, and that unwinding must pass through every frame of ours.
template <class Body>
PyObject* run_guarded(Body&& body) {
  FrameScope scope;
  try {
    if (stack_nearly_exhausted()) {
      raise_stack_exhausted();
      return nullptr;
    }
    Result<Object> result = body();
    if (result) {
      PyObject* out = std::move(result).value().release();
      if (out) return out;
      raise_error(Error{PythonRaised{}});
      return nullptr;
    }
    raise_error(std::move(result).error());
  } catch (...) {
    if (is_forced_unwind()) throw;
    raise_current_fault();
  }
  return nullptr;
}

// The same for bodies that yield a count (__len__) or a status (module exec).
template <class Body>
Py_ssize_t run_guarded_size(Body&& body) {
  FrameScope scope;
  try {
    if (stack_nearly_exhausted()) {
      raise_stack_exhausted();
      return -1;
    }
    Result<Py_ssize_t> result = body();
    if (result) return *result;
    raise_error(std::move(result).error());
  } catch (...) {
    if (is_forced_unwind()) throw;
    raise_current_fault();
  }
  return -1;
}

// Entry point for a module function with the fast calling convention.
// Body: Result<Object>(PyObject* module, Slots slots).
template <const CallSignature& Sig, auto Body>
PyObject* fast_function(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                        PyObject* kwnames) {
  return run_guarded([&]() -> Result<Object> {
    std::array<PyObject*, Sig.slot_count()> slots{};
    ZB_CHECK_OK(bind_arguments(Sig, args, PyVectorcall_NARGS(nargsf), kwnames, slots));
    return Body(module, Slots(slots));
  });
}

// Entry point for a type's tp_new. Body: Result<Object>(PyTypeObject*, Slots).
template <const CallSignature& Sig, auto Body>
PyObject* constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return run_guarded([&]() -> Result<Object> {
    std::array<PyObject*, Sig.slot_count()> slots{};
    ZB_CHECK_OK(bind_arguments(Sig, args, kwargs, slots));
    return Body(type, Slots(slots));
  });
}

// The same constructor for calls through the type's vectorcall slot, which
// spare the interpreter building an argument tuple and keyword dict.
template <const CallSignature& Sig, auto Body>
PyObject* vector_constructor(PyObject* type, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
  return run_guarded([&]() -> Result<Object> {
    std::array<PyObject*, Sig.slot_count()> slots{};
    ZB_CHECK_OK(bind_arguments(Sig, args, PyVectorcall_NARGS(nargsf), kwnames, slots));
    return Body(reinterpret_cast<PyTypeObject*>(type), Slots(slots));
  });
}

// A method table entry's function pointer for an entry of the fast calling
// convention with keywords (the table stores every kind under one type).
template <const CallSignature& Sig, auto Body>
constexpr PyCFunction fast_method() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fast_function<Sig, Body>));
}

}  // namespace zembra::py
