#include "binding/core/inline_checks.h"

#include "binding/core/frame.h"
#include "binding/core/imports.h"
#include "binding/core/known_objects.h"
#include "binding/core/read_value.h"
#include "pure/text/uuid.h"
#include "pure/validation/rules.h"

namespace zembra::py {
namespace {

// A failed examination: ordinary exceptions become the invalid error;
// interrupts, native panics and running out of memory or stack keep going up.
Status invalid(const SchemaField& field, std::vector<FieldError>& errors) {
  if (PyErr_Occurred()) {
    if (!pending_error_is_ordinary()) return python_error();
    PyErr_Clear();
  }
  add_invalid_type_error(field, errors);
  return {};
}

Status check_length(const SchemaField& field, PyObject* value, std::vector<FieldError>& errors, bool bytes) {
  Py_ssize_t length = PyUnicode_CheckExact(value) ? PyUnicode_GET_LENGTH(value) : PyObject_Length(value);
  if (length < 0) return invalid(field, errors);
  if (bytes) {
    check_bytes_length(field, static_cast<std::uint64_t>(length), errors);
  } else {
    check_length_limits(field, static_cast<std::uint64_t>(length), errors);
  }
  return {};
}

Status check_decimal(const SchemaField& field, PyObject* value, std::vector<FieldError>& errors) {
  const CoreKind& kind = field.rules.kind;
  if (!kind.max_digits && !kind.decimal_places) {
    // str() of the interpreter's decimal cannot fail; nothing else to check.
    ZB_TRY(PyObject * decimal_cls, decimal_type());
    if (reinterpret_cast<PyObject*>(Py_TYPE(value)) == decimal_cls) return {};
  }
  Object text = Object::steal(PyObject_Str(value));
  if (!text) return invalid(field, errors);
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (!utf8) return invalid(field, errors);
  DecimalCounts counts = count_decimal_text(std::string_view(utf8, static_cast<std::size_t>(size)));
  check_decimal_counts(field, counts.digits, counts.places, errors);
  return {};
}

Status check_temporal(const SchemaField& field, PyObject* value, std::vector<FieldError>& errors) {
  Result<bool> known = exact_isoformat_succeeds(value);
  if (!known) return invalid(field, errors);
  if (*known) return {};
  Object result = Object::steal(PyObject_CallMethod(value, "isoformat", nullptr));
  if (!result) return invalid(field, errors);
  return {};
}

Status check_uuid(const SchemaField& field, PyObject* value, std::vector<FieldError>& errors) {
  ZB_TRY(std::optional<Uuid> known, exact_uuid(value));
  if (known) return {};
  Object holder;
  auto text = str_of(value, holder);
  if (!text) return invalid(field, errors);
  if (!text::parse_uuid(*text)) add_invalid_type_error(field, errors);
  return {};
}

}  // namespace

Status check_object_inline(const SchemaField& field, PyObject* value, std::vector<FieldError>& errors) {
  switch (field.rules.kind.tag) {
    case CoreKindTag::Str:
      return check_length(field, value, errors, false);
    case CoreKindTag::Bytes:
      return check_length(field, value, errors, true);
    case CoreKindTag::Int: {
      long long v = PyLong_AsLongLong(value);
      if (v == -1 && PyErr_Occurred()) return invalid(field, errors);
      check_int_bounds(field, v, errors);
      return {};
    }
    case CoreKindTag::Float: {
      double v = PyFloat_AsDouble(value);
      if (v == -1.0 && PyErr_Occurred()) return invalid(field, errors);
      check_float_bounds(field, v, errors);
      return {};
    }
    case CoreKindTag::Bool:
      if (!PyBool_Check(value)) add_invalid_type_error(field, errors);
      return {};
    case CoreKindTag::Decimal:
      return check_decimal(field, value, errors);
    case CoreKindTag::DateTime:
    case CoreKindTag::Date:
    case CoreKindTag::Time:
      return check_temporal(field, value, errors);
    case CoreKindTag::Uuid:
      return check_uuid(field, value, errors);
    case CoreKindTag::List:
      if (!PyList_Check(value)) add_shape_error(field, errors);
      return {};
    case CoreKindTag::Dict:
      if (!PyDict_Check(value)) add_shape_error(field, errors);
      return {};
  }
  return {};
}

}  // namespace zembra::py
