#include "binding/core/report.h"

#include <array>

#include "binding/core/python_text.h"

namespace zembra::py {
namespace {

// Key strings, interned once for the process.
struct ReportKeys {
  PyObject* valid_count;
  PyObject* error_count;
  PyObject* is_valid;
  PyObject* errors;
  PyObject* field;
  PyObject* message;
  PyObject* code;
  PyObject* params;
};

const ReportKeys* report_keys() {
  static ReportKeys keys{};
  static bool ready = false;
  if (!ready) {
    std::array<std::pair<PyObject**, const char*>, 8> names = {{
        {&keys.valid_count, "valid_count"}, {&keys.error_count, "error_count"}, {&keys.is_valid, "is_valid"},
        {&keys.errors, "errors"}, {&keys.field, "field"}, {&keys.message, "message"}, {&keys.code, "code"},
        {&keys.params, "params"},
    }};
    for (auto& [slot, text] : names) {
      if (!*slot) *slot = PyUnicode_InternFromString(text);
      if (!*slot) return nullptr;
    }
    ready = true;
  }
  return &keys;
}

Status set_item(PyObject* dict, PyObject* key, const Result<Object>& value) {
  if (!value) return python_error();
  return checked_status(PyDict_SetItem(dict, key, value->get()));
}

Result<Object> error_dict(const FieldError& error, const ReportKeys& keys) {
  ZB_TRY(Object dict, checked(PyDict_New()));
  ZB_CHECK_OK(set_item(dict.get(), keys.field, utf8_text(error.field)));
  ZB_CHECK_OK(set_item(dict.get(), keys.message, utf8_text(error.message)));
  ZB_CHECK_OK(set_item(dict.get(), keys.code, ascii_text(error.code)));
  ZB_TRY(Object params, checked(PyDict_New()));
  for (const auto& [name, value] : error.params) {
    ZB_TRY(Object k, utf8_text(name));
    ZB_TRY(Object v, utf8_text(value));
    ZB_CHECK_OK(checked_status(PyDict_SetItem(params.get(), k.get(), v.get())));
  }
  ZB_CHECK_OK(checked_status(PyDict_SetItem(dict.get(), keys.params, params.get())));
  return dict;
}

// The report of a valid record without its counts and list: each report is
// a copy of it, sized once (it is never handed out, so never changes).
PyObject* report_template(const ReportKeys& keys) {
  static PyObject* cell = nullptr;
  if (cell) return cell;
  Object dict = Object::steal(PyDict_New());
  if (!dict) return nullptr;
  for (PyObject* key : {keys.valid_count, keys.error_count, keys.is_valid, keys.errors}) {
    if (PyDict_SetItem(dict.get(), key, key == keys.is_valid ? Py_True : Py_None) < 0) return nullptr;
  }
  cell = dict.release();
  return cell;
}

}  // namespace

Result<Object> build_report(const std::vector<FieldError>& errors, std::size_t valid_count) {
  const ReportKeys* keys = report_keys();
  if (!keys) return python_error();
  PyObject* templ = report_template(*keys);
  if (!templ) return python_error();
  ZB_TRY(Object report, checked(PyDict_Copy(templ)));
  ZB_CHECK_OK(set_item(report.get(), keys->valid_count, checked(PyLong_FromSize_t(valid_count))));
  ZB_CHECK_OK(set_item(report.get(), keys->error_count, checked(PyLong_FromSize_t(errors.size()))));
  if (!errors.empty()) ZB_CHECK_OK(checked_status(PyDict_SetItem(report.get(), keys->is_valid, Py_False)));
  ZB_TRY(Object list, checked(PyList_New(static_cast<Py_ssize_t>(errors.size()))));
  for (std::size_t i = 0; i < errors.size(); ++i) {
    ZB_TRY(Object item, error_dict(errors[i], *keys));
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  ZB_CHECK_OK(checked_status(PyDict_SetItem(report.get(), keys->errors, list.get())));
  return report;
}

}  // namespace zembra::py
