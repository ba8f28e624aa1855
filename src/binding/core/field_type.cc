#include "binding/core/field_type.h"

#include <new>
#include <optional>
#include <string>

#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/core/module_builder.h"

namespace zembra::py {
namespace {

PyTypeObject* type_cell = nullptr;

constexpr const char* kFieldPositional[] = {"python_type"};
constexpr KeywordOnly kFieldKeywords[] = {
    {"max_length", false}, {"min_length", false}, {"min_value", false}, {"max_value", false},
    {"max_digits", false}, {"decimal_places", false}, {"nullable", false}, {"default", false},
};
constexpr CallSignature kFieldSignature{"__new__", "Field", kFieldPositional, 1, kFieldKeywords};

enum Slot : std::size_t {
  kPythonType, kMaxLength, kMinLength, kMinValue, kMaxValue, kMaxDigits, kDecimalPlaces, kNullable, kDefault
};

// An optional keyword argument; None counts as not given.
PyObject* given(Slots slots, Slot slot) {
  PyObject* obj = slots[slot];
  return obj == Py_None ? nullptr : obj;
}

template <class T, class Convert>
Result<std::optional<T>> optional_arg(Slots slots, Slot slot, const char* name, Convert convert) {
  PyObject* obj = given(slots, slot);
  if (!obj) return std::optional<T>{};
  ZB_TRY(T value, for_parameter(name, convert(obj)));
  return std::optional<T>(value);
}

Result<bool> flag_arg(Slots slots, Slot slot, const char* name) {
  if (!slots[slot]) return false;
  return for_parameter(name, to_bool(slots[slot]));
}

// Which constraint groups were given, for the fit checks.
struct Given {
  bool lengths;  // max_length or min_length
  bool values;   // min_value or max_value
  bool digits;   // max_digits or decimal_places
};

// The constraints that do not fit the type, as the schema error message.
std::optional<std::string> constraint_misfit(std::string_view name, std::optional<CoreKindTag> kind, Given g) {
  std::string n(name);
  if (!kind) {
    return "unsupported type: '" + n +
           "'. Supported: str, int, float, bool, Decimal, datetime, date, time, UUID, list, dict, bytes";
  }
  switch (*kind) {
    case CoreKindTag::Str:
      if (g.values) return "Field(str) does not support min_value/max_value. Use max_length/min_length instead.";
      if (g.digits) return "Field(str) does not support max_digits/decimal_places.";
      return std::nullopt;
    case CoreKindTag::Int:
    case CoreKindTag::Float:
      if (g.lengths)
        return "Field(" + n + ") does not support max_length/min_length. Use min_value/max_value instead.";
      if (g.digits) return "Field(" + n + ") does not support max_digits/decimal_places.";
      return std::nullopt;
    case CoreKindTag::Decimal:
      if (g.lengths)
        return "Field(Decimal) does not support max_length/min_length. Use max_digits/decimal_places instead.";
      if (g.values)
        return "Field(Decimal) does not support min_value/max_value. Use max_digits/decimal_places instead.";
      return std::nullopt;
    case CoreKindTag::Bytes:
      if (g.values || g.digits)
        return "Field(bytes) only supports max_length. Not min_value/max_value or max_digits.";
      return std::nullopt;
    default:
      if (g.lengths || g.values || g.digits)
        return "Field(" + n + ") does not support constraints. Only nullable and default are valid.";
      return std::nullopt;
  }
}

Result<std::optional<std::int64_t>> int_bound(PyObject* obj) {
  if (!obj) return std::optional<std::int64_t>{};
  long long value = PyLong_AsLongLong(obj);
  if (value == -1 && PyErr_Occurred()) return python_error();
  return std::optional<std::int64_t>(value);
}

Result<std::optional<double>> float_bound(PyObject* obj) {
  if (!obj) return std::optional<double>{};
  double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) return python_error();
  return std::optional<double>(value);
}

Result<Object> field_new(PyTypeObject* type, Slots slots) {
  ZB_TRY(auto max_length, (optional_arg<std::uint64_t>(slots, kMaxLength, "max_length", to_u64)));
  ZB_TRY(auto min_length, (optional_arg<std::uint64_t>(slots, kMinLength, "min_length", to_u64)));
  PyObject* min_value = given(slots, kMinValue);
  PyObject* max_value = given(slots, kMaxValue);
  ZB_TRY(auto max_digits, (optional_arg<std::uint32_t>(slots, kMaxDigits, "max_digits", to_u32)));
  ZB_TRY(auto decimal_places, (optional_arg<std::uint32_t>(slots, kDecimalPlaces, "decimal_places", to_u32)));
  ZB_TRY(bool nullable, flag_arg(slots, kNullable, "nullable"));
  ZB_TRY(bool has_default, flag_arg(slots, kDefault, "default"));

  ZB_TRY(Object name_obj, checked(PyObject_GetAttrString(slots[kPythonType], "__name__")));
  ZB_TRY(std::string_view name, to_text(name_obj.get()));

  std::optional<CoreKindTag> kind = kind_from_name(name);
  Given g{max_length || min_length, min_value || max_value, max_digits || decimal_places};
  if (auto misfit = constraint_misfit(name, kind, g)) return fail(CoreError::schema(std::move(*misfit)));

  FieldRules rules;
  rules.kind.tag = *kind;
  rules.nullable = nullable;
  rules.has_default = has_default;
  switch (*kind) {
    case CoreKindTag::Str:
      rules.kind.max_length = max_length;
      rules.kind.min_length = min_length;
      break;
    case CoreKindTag::Int: {
      ZB_TRY(rules.kind.min_int, int_bound(min_value));
      ZB_TRY(rules.kind.max_int, int_bound(max_value));
      break;
    }
    case CoreKindTag::Float: {
      ZB_TRY(rules.kind.min_float, float_bound(min_value));
      ZB_TRY(rules.kind.max_float, float_bound(max_value));
      break;
    }
    case CoreKindTag::Decimal:
      rules.kind.max_digits = max_digits;
      rules.kind.decimal_places = decimal_places;
      break;
    case CoreKindTag::Bytes:
      rules.kind.max_length = max_length;  // a min_length is accepted but not kept
      break;
    default:
      break;
  }

  ZB_TRY(Object self, checked(type->tp_alloc(type, 0)));
  new (&reinterpret_cast<FieldObject*>(self.get())->rules) FieldRules(std::move(rules));
  return self;
}

PyObject* field_repr(PyObject* self) {
  return run_guarded([&]() -> Result<Object> {
    const FieldRules& rules = reinterpret_cast<FieldObject*>(self)->rules;
    std::string text = "Field(";
    text += kind_name(rules.kind.tag);
    text += rules.nullable ? ", nullable=true)" : ", nullable=false)";
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  });
}

void field_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<FieldObject*>(self)->rules.~FieldRules();
  type->tp_free(self);
  Py_DECREF(type);
}

constexpr const char* kFieldDoc =
    "Field(python_type, *, max_length=None, min_length=None, min_value=None, max_value=None, max_digits=None, "
    "decimal_places=None, nullable=False, default=False)\n--\n\n"
    "Defines a single field's type and constraints.\n\n"
    "Python usage:\n```python\nfrom zembra_core import Field\nfrom decimal import Decimal\n"
    "from datetime import datetime\n\nField(str, max_length=100)\nField(int, min_value=0, max_value=150)\n"
    "Field(Decimal, max_digits=10, decimal_places=2)\nField(datetime)\nField(str, nullable=True)\n```";

PyType_Slot kFieldSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&constructor<kFieldSignature, field_new>)},
    {Py_tp_repr, reinterpret_cast<void*>(&field_repr)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&field_dealloc)},
    {Py_tp_doc, const_cast<char*>(kFieldDoc)},
    {0, nullptr},
};

PyType_Spec kFieldSpec = {
    "builtins.Field",
    sizeof(FieldObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    kFieldSlots,
};

}  // namespace

PyTypeObject* field_type() {
  return create_type_once(type_cell, &kFieldSpec, &vector_constructor<kFieldSignature, field_new>);
}

}  // namespace zembra::py
