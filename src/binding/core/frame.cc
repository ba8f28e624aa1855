#include "binding/core/frame.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "binding/core/panic.h"

namespace zembra::py {
namespace {

thread_local int frame_depth = 0;

std::string display_name(const CallSignature& sig) {
  std::string name;
  if (sig.class_name) {
    name += sig.class_name;
    name += '.';
  }
  name += sig.function;
  name += "()";
  return name;
}

// The whole message: PyErr_SetString would stop at a NUL character, which
// texts quoted in messages (values, keyword names) may hold.
void set_error_text(PyObject* type, std::string_view message) {
  Object text = Object::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (text) PyErr_SetObject(type, text.get());
}

Unexpected<PythonRaised> type_error(const std::string& message) {
  set_error_text(PyExc_TypeError, message);
  return python_error();
}

Unexpected<PythonRaised> too_many_positional(const CallSignature& sig, std::size_t given) {
  std::size_t n = sig.positional.size();
  std::string message = display_name(sig) + " takes ";
  if (sig.required_positional == n) {
    message += std::to_string(n);
  } else {
    message += "from " + std::to_string(sig.required_positional) + " to " + std::to_string(n);
  }
  message += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
  return type_error(message);
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string join_names(const std::string* names, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      if (count == 2) {
        out += " and ";
      } else {
        out += (i + 1 == count) ? ", and " : ", ";
      }
    }
    out += "'" + names[i] + "'";
  }
  return out;
}

Unexpected<PythonRaised> missing(const CallSignature& sig, const char* what, std::string* names,
                                 std::size_t count) {
  std::string message = display_name(sig) + " missing " + std::to_string(count) + " required " + what +
                        (count == 1 ? " argument: " : " arguments: ") + join_names(names, count);
  return type_error(message);
}

// Places one keyword argument; name is a str object.
Status bind_keyword(const CallSignature& sig, PyObject* name, PyObject* value, Slots slots) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name, &size);
  if (!text) return python_error();
  std::string_view key(text, static_cast<std::size_t>(size));
  std::size_t npos = sig.positional.size();
  std::size_t index = sig.slot_count();
  for (std::size_t i = 0; i < sig.keyword_only.size(); ++i) {
    if (key == sig.keyword_only[i].name) {
      index = npos + i;
      break;
    }
  }
  if (index == sig.slot_count()) {
    for (std::size_t i = 0; i < npos; ++i) {
      if (key == sig.positional[i]) {
        index = i;
        break;
      }
    }
  }
  if (index == sig.slot_count()) {
    return type_error(display_name(sig) + " got an unexpected keyword argument '" + std::string(key) + "'");
  }
  if (slots[index]) {
    return type_error(display_name(sig) + " got multiple values for argument '" + std::string(key) + "'");
  }
  slots[index] = value;
  return {};
}

Status check_missing(const CallSignature& sig, Slots slots) {
  std::size_t npos = sig.positional.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i < sig.required_positional; ++i) count += slots[i] == nullptr;
  if (count) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < sig.required_positional; ++i)
      if (!slots[i]) names.emplace_back(sig.positional[i]);
    return missing(sig, "positional", names.data(), names.size());
  }
  std::vector<std::string> names;
  for (std::size_t i = 0; i < sig.keyword_only.size(); ++i)
    if (sig.keyword_only[i].required && !slots[npos + i]) names.emplace_back(sig.keyword_only[i].name);
  if (!names.empty()) return missing(sig, "keyword", names.data(), names.size());
  return {};
}

}  // namespace

Status bind_arguments(const CallSignature& sig, PyObject* const* args, std::size_t nargs, PyObject* kwnames,
                      Slots slots) {
  if (nargs > sig.positional.size()) return too_many_positional(sig, nargs);
  for (std::size_t i = 0; i < nargs; ++i) slots[i] = args[i];
  if (kwnames) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < nkw; ++i) {
      ZB_CHECK_OK(bind_keyword(sig, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots));
    }
  }
  return check_missing(sig, slots);
}

Status bind_arguments(const CallSignature& sig, PyObject* args, PyObject* kwargs, Slots slots) {
  std::size_t nargs = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
  if (nargs > sig.positional.size()) return too_many_positional(sig, nargs);
  for (std::size_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GET_ITEM(args, i);
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      ZB_CHECK_OK(bind_keyword(sig, key, value, slots));
    }
  }
  return check_missing(sig, slots);
}

FrameScope::FrameScope() noexcept { ++frame_depth; }
FrameScope::~FrameScope() { --frame_depth; }
int FrameScope::depth() noexcept { return frame_depth; }

void raise_current_fault() noexcept {
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      // Also when a worker ran out of memory and the failure was carried
      // over to this thread: the interpreter's answer to that is MemoryError.
      PyErr_NoMemory();
    } catch (const std::exception& e) {
      raise_panic(e.what());
    } catch (...) {
      raise_panic(nullptr);
    }
  } catch (...) {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
}

namespace {

PyObject* note_exit(PyObject*, PyObject*) {
  exit_begun.store(true, std::memory_order_seq_cst);
  Py_RETURN_NONE;
}

PyMethodDef kExitWatchDef = {"_zembra_exit_watch", note_exit, METH_NOARGS, nullptr};

}  // namespace

void watch_for_exit() {
  if (exit_begun.load(std::memory_order_acquire)) return;
  Object atexit = Object::steal(PyImport_ImportModule("atexit"));
  Object watch = Object::steal(PyCFunction_New(&kExitWatchDef, nullptr));
  Object done;
  if (atexit && watch) done = Object::steal(PyObject_CallMethod(atexit.get(), "register", "O", watch.get()));
  if (!done) {
    PyErr_Clear();
    exit_begun.store(true, std::memory_order_seq_cst);
  }
}

void raise_stack_exhausted() {
  PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded (the thread's stack is nearly used up)");
}

Status check_stack() {
  if (!stack_nearly_exhausted()) return {};
  raise_stack_exhausted();
  return python_error();
}

bool pending_error_is_ordinary() {
  return PyErr_ExceptionMatches(PyExc_Exception) && !PyErr_ExceptionMatches(PyExc_MemoryError) &&
         !PyErr_ExceptionMatches(PyExc_RecursionError);
}

void raise_error(Error&& error) {
  if (auto* core = std::get_if<CoreError>(&error)) {
    PyObject* type = core->exception_class() == ExceptionClass::TypeError ? PyExc_TypeError : PyExc_ValueError;
    set_error_text(type, core->message());
  } else if (auto* model = std::get_if<ModelError>(&error)) {
    PyObject* type = model->exception_class() == ExceptionClass::TypeError ? PyExc_TypeError : PyExc_ValueError;
    set_error_text(type, model->exception_text());
  } else if (!PyErr_Occurred()) {
    raise_panic("native code reported a Python error without setting one");
  } else {
    resume_panic_if_any();
  }
}

}  // namespace zembra::py
