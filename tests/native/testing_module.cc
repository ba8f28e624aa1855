// A test-only module (never installed) that reaches parts of the calling
// frame no public entry point can trigger on purpose.
#include <new>
#include <stdexcept>
#include <vector>

#include "binding/core/frame.h"
#include "binding/core/module_builder.h"
#include "binding/core/panic.h"
#include "pure/common/fault.h"
#include "pure/parallel/algorithm/map.h"
#include "pure/parallel/global_pool.h"

namespace zembra::py {
namespace {

constexpr const char* kMessageParam[] = {"message"};
constexpr CallSignature kFaultSig{"fault", nullptr, kMessageParam, 1, {}};

Result<Object> fault_body(PyObject*, Slots slots) {
  if (slots[0] == Py_None) throw 42;  // a fault that carries no text
  raise_fault(PyUnicode_AsUTF8(slots[0]));
}

Result<Object> bad_alloc_body(PyObject*, Slots) { throw std::bad_alloc(); }

Result<Object> panic_type_body(PyObject*, Slots) {
  return checked(Py_NewRef(panic_exception_type()));
}

// Calls back into Python; a PanicException coming back is resumed.
Result<Object> call_body(PyObject*, Slots slots) { return checked(PyObject_CallNoArgs(slots[0])); }

constexpr const char* kNoParams[] = {""};
constexpr CallSignature kBadAllocSig{"bad_alloc", nullptr, std::span<const char* const>(kNoParams, 0), 0, {}};
constexpr CallSignature kPanicTypeSig{"panic_type", nullptr, std::span<const char* const>(kNoParams, 0), 0, {}};
constexpr const char* kCallableParam[] = {"callable"};
constexpr CallSignature kCallSig{"call", nullptr, kCallableParam, 1, {}};

// Exercises every binding message: a, b required; c optional; *, d, e.
constexpr const char* kBindPositional[] = {"a", "b", "c"};
constexpr KeywordOnly kBindKeywords[] = {{"d", false}, {"e", true}};
constexpr CallSignature kBindSig{"bind", nullptr, kBindPositional, 2, kBindKeywords};
Result<Object> bind_body(PyObject*, Slots slots) {
  Object out = Object::steal(PyTuple_New(static_cast<Py_ssize_t>(slots.size())));
  if (!out) return python_error();
  for (std::size_t i = 0; i < slots.size(); ++i)
    PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), Py_NewRef(slots[i] ? slots[i] : Py_None));
  return out;
}

// parallel_map over range(n) on the process-wide pool; the item fail_at
// (when not None) throws inside its task.
constexpr const char* kPoolParams[] = {"n", "fail_at"};
constexpr CallSignature kPoolMapSig{"pool_map", nullptr, kPoolParams, 2, {}};
Result<Object> pool_map_body(PyObject*, Slots slots) {
  long long n = PyLong_AsLongLong(slots[0]);
  if (n == -1 && PyErr_Occurred()) return python_error();
  long long fail_at = slots[1] == Py_None ? -1 : PyLong_AsLongLong(slots[1]);
  std::vector<long long> items(static_cast<std::size_t>(n));
  for (long long i = 0; i < n; ++i) items[static_cast<std::size_t>(i)] = i;
  auto squares = parallel::parallel_map(items, [fail_at](long long i) {
    if (i == fail_at) raise_fault("task " + std::to_string(i) + " failed");
    return i * i;
  });
  Object out = Object::steal(PyList_New(0));
  if (!out) return python_error();
  for (long long v : squares) {
    Object item = Object::steal(PyLong_FromLongLong(v));
    if (!item || PyList_Append(out.get(), item.get()) < 0) return python_error();
  }
  return out;
}

// A parallel map over n items whose middle task runs out of memory on a
// worker; the failure is carried back to the calling thread.
constexpr const char* kCountParam[] = {"n"};
constexpr CallSignature kPoolBadAllocSig{"pool_bad_alloc", nullptr, kCountParam, 1, {}};
Result<Object> pool_bad_alloc_body(PyObject*, Slots slots) {
  long long n = PyLong_AsLongLong(slots[0]);
  if (n == -1 && PyErr_Occurred()) return python_error();
  std::vector<long long> items(static_cast<std::size_t>(n));
  for (long long i = 0; i < n; ++i) items[static_cast<std::size_t>(i)] = i;
  auto out = parallel::parallel_map(items, [n](long long i) -> long long {
    if (i == n / 2) throw std::bad_alloc();
    return i;
  });
  return checked(PyLong_FromSize_t(out.size()));
}

// Floors for the benchmarks: reading the inputs of compute_risk_batch and
// validate_names_batch and building result objects of the same shape, with
// nothing computed in between.

constexpr const char* kFloorRiskParams[] = {"records", "keys"};
constexpr CallSignature kFloorRiskSig{"floor_risk", nullptr, kFloorRiskParams, 2, {}};
// One float per record: the sum of its values at keys (a list of str),
// each read as compute_risk_batch reads it (the entry at its usual position
// first, by hash otherwise).
Result<Object> floor_risk_body(PyObject*, Slots slots) {
  PyObject* records = slots[0];
  PyObject* keys = slots[1];
  if (!PyList_Check(records) || !PyList_Check(keys)) {
    PyErr_SetString(PyExc_TypeError, "lists expected");
    return python_error();
  }
  Py_ssize_t n = PyList_GET_SIZE(records);
  std::vector<double> sums(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* record = PyList_GET_ITEM(records, i);
    double sum = 0;
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(keys); ++k) {
      PyObject* key = PyList_GET_ITEM(keys, k);
      Py_ssize_t pos = k;
      PyObject* found_key;
      PyObject* value = nullptr;
      if (!PyDict_Next(record, &pos, &found_key, &value) || found_key != key) {
        value = PyDict_GetItemWithError(record, key);
        if (!value && PyErr_Occurred()) return python_error();
      }
      if (value && PyFloat_CheckExact(value)) sum += PyFloat_AS_DOUBLE(value);
    }
    sums[static_cast<std::size_t>(i)] = sum;
  }
  Object out = Object::steal(PyList_New(n));
  if (!out) return python_error();
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* v = PyFloat_FromDouble(sums[static_cast<std::size_t>(i)]);
    if (!v) return python_error();
    PyList_SET_ITEM(out.get(), i, v);
  }
  return out;
}

constexpr const char* kFloorNamesParams[] = {"names"};
constexpr CallSignature kFloorNamesSig{"floor_names", nullptr, kFloorNamesParams, 1, {}};
// {"valid": True, "errors": []} per name, after reading the name's UTF-8.
Result<Object> floor_names_body(PyObject*, Slots slots) {
  PyObject* names = slots[0];
  if (!PyList_Check(names)) {
    PyErr_SetString(PyExc_TypeError, "list expected");
    return python_error();
  }
  static PyObject* valid_key = PyUnicode_InternFromString("valid");
  static PyObject* errors_key = PyUnicode_InternFromString("errors");
  Py_ssize_t n = PyList_GET_SIZE(names);
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (!PyUnicode_AsUTF8AndSize(PyList_GET_ITEM(names, i), nullptr)) return python_error();
  }
  bool was_enabled = PyGC_Disable();
  Object shape = Object::steal(PyDict_New());
  Object out = Object::steal(PyList_New(n));
  bool ok = shape && out && PyDict_SetItem(shape.get(), valid_key, Py_True) == 0 &&
            PyDict_SetItem(shape.get(), errors_key, Py_None) == 0;
  for (Py_ssize_t i = 0; ok && i < n; ++i) {
    Object dict = Object::steal(PyDict_Copy(shape.get()));
    Object errors = Object::steal(PyList_New(0));
    ok = dict && errors && PyDict_SetItem(dict.get(), errors_key, errors.get()) == 0;
    if (ok) PyList_SET_ITEM(out.get(), i, dict.release());
  }
  if (was_enabled) PyGC_Enable();
  if (!ok) return python_error();
  return out;
}

constexpr const char* kFourPositional[] = {"w", "x", "y", "z"};
constexpr CallSignature kFourSig{"four", nullptr, kFourPositional, 4, {}};

PyMethodDef kMethods[] = {
    {"fault", fast_method<kFaultSig, fault_body>(), METH_FASTCALL | METH_KEYWORDS,
     nullptr},
    {"bad_alloc", fast_method<kBadAllocSig, bad_alloc_body>(),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"panic_type", fast_method<kPanicTypeSig, panic_type_body>(),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"call", fast_method<kCallSig, call_body>(), METH_FASTCALL | METH_KEYWORDS,
     nullptr},
    {"bind", fast_method<kBindSig, bind_body>(), METH_FASTCALL | METH_KEYWORDS,
     nullptr},
    {"pool_map", fast_method<kPoolMapSig, pool_map_body>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"pool_bad_alloc", fast_method<kPoolBadAllocSig, pool_bad_alloc_body>(), METH_FASTCALL | METH_KEYWORDS,
     nullptr},
    {"floor_risk", fast_method<kFloorRiskSig, floor_risk_body>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"floor_names", fast_method<kFloorNamesSig, floor_names_body>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"four", fast_method<kFourSig, bind_body>(), METH_FASTCALL | METH_KEYWORDS,
     nullptr},
    {nullptr, nullptr, 0, nullptr},
};

Status register_testing(PyObject* module) {
  for (PyMethodDef* def = kMethods; def->ml_name; ++def) ZB_CHECK_OK(add_function(module, def));
  return {};
}

int exec_testing(PyObject* module) { return execute_module(module, register_testing); }

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_testing)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "_zembra_testing", nullptr, 0, nullptr, kSlots,
                       nullptr,               nullptr,           nullptr};

}  // namespace
}  // namespace zembra::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__zembra_testing(void) {
  return PyModuleDef_Init(&zembra::py::kModule);
}
