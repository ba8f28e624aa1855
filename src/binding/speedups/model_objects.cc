// model_objects: model instances made from rows the way Django's iterator
// makes them for a plain model (see zembra/_instances.py for when that
// holds): each instance's __dict__ holds its state object first, then every
// concrete field's value under its attname; the state's own __dict__ holds
// what from_db sets on it.
#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/speedups/speedups_functions.h"

namespace zembra::py {
namespace {

constexpr const char* kParams[] = {"rows", "model", "attnames", "state_type", "state", "start", "pk_at"};
constexpr CallSignature kSig{"model_objects", nullptr, kParams, 7, {}};

Result<Object> new_plain(PyTypeObject* type) {
  static PyObject* no_args = PyTuple_New(0);
  if (!no_args) return python_error();
  return checked(PyBaseObject_Type.tp_new(type, no_args, nullptr));
}

Result<Object> dict_of(PyObject* object) { return checked(PyObject_GenericGetDict(object, nullptr)); }

Result<Py_ssize_t> index_of(PyObject* value, const char* name) {
  Py_ssize_t n = PyLong_Check(value) ? PyLong_AsSsize_t(value) : -1;
  if (n == -1 && PyErr_Occurred()) return python_error();
  if (n < 0) {
    PyErr_Format(PyExc_ValueError, "%s must be an int >= 0", name);
    return python_error();
  }
  return n;
}

Result<Object> model_objects_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * rows, for_parameter("rows", to_instance(slots[0], &PyList_Type, "list")));
  if (!PyType_Check(slots[1]) || !PyType_Check(slots[3])) {
    PyErr_SetString(PyExc_TypeError, "model and state_type must be classes");
    return python_error();
  }
  auto* model = reinterpret_cast<PyTypeObject*>(slots[1]);
  auto* state_type = reinterpret_cast<PyTypeObject*>(slots[3]);
  ZB_TRY(PyObject * attnames, for_parameter("attnames", to_instance(slots[2], &PyTuple_Type, "tuple")));
  ZB_TRY(PyObject * state, for_parameter("state", to_instance(slots[4], &PyDict_Type, "dict")));
  ZB_TRY(Py_ssize_t start, index_of(slots[5], "start"));
  ZB_TRY(Py_ssize_t pk_at, index_of(slots[6], "pk_at"));
  Py_ssize_t width = PyTuple_GET_SIZE(attnames);
  if (pk_at >= width) {
    PyErr_SetString(PyExc_ValueError, "pk_at must be below the number of attnames");
    return python_error();
  }
  static PyObject* state_name = PyUnicode_InternFromString("_state");
  if (!state_name) return python_error();
  Py_ssize_t n = PyList_GET_SIZE(rows);
  ZB_TRY(Object out, checked(PyList_New(n)));
  for (Py_ssize_t i = 0; i < n && i < PyList_GET_SIZE(rows); ++i) {
    Object row = Object::borrow(PyList_GET_ITEM(rows, i));
    ZB_TRY(Object values, checked(PySequence_Fast(row.get(), "each row must be a sequence")));
    if (PySequence_Fast_GET_SIZE(values.get()) < start + width) {
      PyErr_SetString(PyExc_ValueError, "a row is shorter than its model's columns");
      return python_error();
    }
    PyObject** cells = PySequence_Fast_ITEMS(values.get()) + start;
    if (cells[pk_at] == Py_None) {  // no related row (an outer join)
      PyList_SET_ITEM(out.get(), i, Py_NewRef(Py_None));
      continue;
    }
    ZB_TRY(Object object, new_plain(model));
    ZB_TRY(Object own, dict_of(object.get()));
    ZB_TRY(Object model_state, new_plain(state_type));
    ZB_TRY(Object state_values, dict_of(model_state.get()));
    ZB_CHECK_OK(checked_status(PyDict_SetItem(own.get(), state_name, model_state.get())));
    for (Py_ssize_t k = 0; k < width; ++k) {
      ZB_CHECK_OK(checked_status(PyDict_SetItem(own.get(), PyTuple_GET_ITEM(attnames, k), cells[k])));
    }
    ZB_CHECK_OK(checked_status(PyDict_Update(state_values.get(), state)));
    PyList_SET_ITEM(out.get(), i, object.release());
  }
  return out;
}

}  // namespace

PyMethodDef kModelObjectsDef = {
    "model_objects", fast_method<kSig, model_objects_body>(), METH_FASTCALL | METH_KEYWORDS,
    "model_objects(rows, model, attnames, state_type, state, start, pk_at)\n--\n\n"
    "One instance of model per row (None where row[start + pk_at] is None):\n"
    "made without calling the class, its __dict__ holding _state (a new\n"
    "state_type instance whose __dict__ is updated from state) and then\n"
    "attnames[k] = row[start + k] for each k."};

}  // namespace zembra::py
