#include "binding/speedups/input_plan.h"

#include <new>
#include <string>

#include "binding/core/convert.h"
#include "binding/core/datetime_api.h"
#include "binding/core/frame.h"
#include "binding/core/imports.h"
#include "binding/core/module_builder.h"
#include "binding/core/python_text.h"

namespace zembra::py {
namespace {

using input::Bound;
using input::FieldRule;
using input::Kind;

PyTypeObject* type_cell = nullptr;

// A class or attribute name looked up once per process. Looking attributes
// up by fresh name objects would also fill the interpreter's type attribute
// cache with them.
Result<PyObject*> imported_once(PyObject*& cell, const char* module, const char* name) {
  if (!cell) {
    ZB_TRY(Object found, imported_attribute(module, name));
    cell = found.release();
  }
  return cell;
}

Result<PyObject*> interned(PyObject*& cell, const char* text) {
  if (!cell) cell = PyUnicode_InternFromString(text);
  if (!cell) return python_error();
  return cell;
}

Unexpected<PythonRaised> plan_error(PyObject* type, const std::string& field, const std::string& message) {
  const std::string text = field.empty() ? message : "field '" + field + "': " + message;
  PyErr_SetString(type, text.c_str());
  return python_error();
}

struct KindName {
  const char* name;
  Kind kind;
};
constexpr KindName kKinds[] = {
    {"integer", Kind::Integer}, {"float", Kind::Float},       {"decimal", Kind::Decimal},
    {"boolean", Kind::Boolean}, {"string", Kind::String},     {"email", Kind::Email},
    {"url", Kind::Url},         {"slug", Kind::Slug},         {"ip", Kind::Ip},
    {"uuid", Kind::Uuid},       {"date", Kind::Date},         {"time", Kind::Time},
    {"datetime", Kind::DateTime}, {"duration", Kind::Duration}, {"json", Kind::Json},
    {"choice", Kind::Choice},   {"primary_key", Kind::PrimaryKey}, {"many_primary_keys", Kind::ManyPrimaryKeys},
};

// A key of the field dict; nullptr (no error) when absent or None.
Result<PyObject*> entry(PyObject* dict, const char* key) {
  PyObject* value = nullptr;
  if (PyDict_GetItemStringRef(dict, key, &value) < 0) return python_error();
  Object owned = Object::steal(value);
  if (!value || value == Py_None) return static_cast<PyObject*>(nullptr);
  return owned.get();  // borrowed: the dict keeps it alive while compiling
}

Result<bool> flag(PyObject* dict, const char* key, bool fallback) {
  ZB_TRY(PyObject * value, entry(dict, key));
  if (!value) return fallback;
  const int truth = PyObject_IsTrue(value);
  if (truth < 0) return python_error();
  return truth == 1;
}

Result<std::string> text_entry(PyObject* dict, const char* key, const std::string& field) {
  ZB_TRY(PyObject * value, entry(dict, key));
  if (!value || !PyUnicode_Check(value)) return plan_error(PyExc_TypeError, field, std::string("'") + key + "' must be a str");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (!data) return python_error();
  return std::string(data, static_cast<std::size_t>(size));
}

Result<std::optional<std::int64_t>> count_entry(PyObject* dict, const char* key, const std::string& field) {
  ZB_TRY(PyObject * value, entry(dict, key));
  if (!value) return std::optional<std::int64_t>{};
  if (!PyLong_Check(value) || PyBool_Check(value)) {
    return plan_error(PyExc_TypeError, field, std::string("'") + key + "' must be an int or None");
  }
  const long long n = PyLong_AsLongLong(value);
  if (n == -1 && PyErr_Occurred()) return python_error();
  if (n < 0) return plan_error(PyExc_ValueError, field, std::string("'") + key + "' must not be negative");
  return std::optional<std::int64_t>(n);
}

Result<std::string> str_of(PyObject* value) {
  ZB_TRY(Object text, checked(PyObject_Str(value)));
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (!data) return python_error();
  return std::string(data, static_cast<std::size_t>(size));
}

// A numeric bound: its exact value, its nearest double and which side of
// the exact value that double lies on.
Result<Bound> number_bound(PyObject* value, const std::string& field, const char* key) {
  ZB_TRY(PyObject * decimal_cls, decimal_type());
  const bool is_int = PyLong_Check(value) && !PyBool_Check(value);
  const bool is_float = PyFloat_Check(value);
  const bool is_decimal = PyObject_IsInstance(value, decimal_cls) == 1;
  if (!is_int && !is_float && !is_decimal) {
    return plan_error(PyExc_TypeError, field, std::string("'") + key + "' must be an int, float or Decimal");
  }
  Bound bound;
  ZB_TRY(bound.text, str_of(value));
  // Decimal(value) is exact for all three types.
  ZB_TRY(Object exact, checked(PyObject_CallOneArg(decimal_cls, value)));
  ZB_TRY(std::string exact_text, str_of(exact.get()));
  if (exact_text == "NaN" || exact_text == "-NaN" || exact_text == "sNaN" || exact_text == "-sNaN") {
    return plan_error(PyExc_ValueError, field, std::string("'") + key + "' must not be NaN");
  }
  if (exact_text == "Infinity" || exact_text == "-Infinity") {
    const bool negative = exact_text[0] == '-';
    bound.exact.negative = negative;
    bound.exact.digits = "1";
    bound.exact.exponent = 4'000'000'000'000'000'000LL;  // beyond every readable number
    bound.approx = negative ? -HUGE_VAL : HUGE_VAL;
    return bound;
  }
  auto parsed = input::python_decimal(exact_text);
  if (!parsed) return plan_error(PyExc_ValueError, field, std::string("'") + key + "' is not a usable number");
  bound.exact = *parsed;
  if (is_int) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (n == -1 && PyErr_Occurred()) return python_error();
    bound.is_int64 = overflow == 0;
    bound.int64 = n;
  }
  const double approx = PyFloat_AsDouble(value);
  if (approx == -1.0 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return python_error();
    PyErr_Clear();
    bound.approx = bound.exact.negative ? -HUGE_VAL : HUGE_VAL;
    bound.approx_vs_exact = bound.exact.negative ? -1 : 1;
    return bound;
  }
  bound.approx = approx;
  ZB_TRY(Object approx_obj, checked(PyFloat_FromDouble(approx)));
  ZB_TRY(Object approx_exact, checked(PyObject_CallOneArg(decimal_cls, approx_obj.get())));
  ZB_TRY(std::string approx_text, str_of(approx_exact.get()));
  bound.approx_vs_exact = input::compare(*input::python_decimal(approx_text), bound.exact);
  return bound;
}

Result<Bound> duration_bound(PyObject* value, const std::string& field, const char* key) {
  if (!PyDelta_Check(value)) return plan_error(PyExc_TypeError, field, std::string("'") + key + "' must be a timedelta");
  Bound bound;
  ZB_TRY(bound.text, str_of(value));
  bound.micros = (static_cast<__int128>(PyDateTime_DELTA_GET_DAYS(value)) * 86400 + PyDateTime_DELTA_GET_SECONDS(value)) *
                     1'000'000 +
                 PyDateTime_DELTA_GET_MICROSECONDS(value);
  return bound;
}

Result<std::optional<Bound>> bound_entry(PyObject* dict, const char* key, const FieldRule& rule) {
  ZB_TRY(PyObject * value, entry(dict, key));
  if (!value) return std::optional<Bound>{};
  switch (rule.kind) {
    case Kind::Integer:
    case Kind::Float:
    case Kind::Decimal: {
      ZB_TRY(Bound bound, number_bound(value, rule.name, key));
      return std::optional<Bound>(std::move(bound));
    }
    case Kind::Duration: {
      ZB_TRY(Bound bound, duration_bound(value, rule.name, key));
      return std::optional<Bound>(std::move(bound));
    }
    default:
      return plan_error(PyExc_ValueError, rule.name,
                        std::string("'") + key + "' applies to integer, float, decimal and duration fields only");
  }
}

// str(key) as ChoiceField keys its choices (an Enum member by its value's
// text when that differs from its own).
Result<std::string> choice_text(PyObject* key) {
  static PyObject* enum_cell = nullptr;
  static PyObject* value_name = nullptr;
  ZB_TRY(PyObject * enum_cls, imported_once(enum_cell, "enum", "Enum"));
  const int is_enum = PyObject_IsInstance(key, enum_cls);
  if (is_enum < 0) return python_error();
  ZB_TRY(std::string own, str_of(key));
  if (is_enum) {
    ZB_TRY(PyObject * name, interned(value_name, "value"));
    ZB_TRY(Object inner, checked(PyObject_GetAttr(key, name)));
    ZB_TRY(std::string inner_text, str_of(inner.get()));
    if (inner_text != own) return inner_text;
  }
  return own;
}

Result<Object> callables_tuple(PyObject* value, const std::string& field) {
  ZB_TRY(Object items, checked(PySequence_Tuple(value)));
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i) {
    if (!PyCallable_Check(PyTuple_GET_ITEM(items.get(), i))) {
      return plan_error(PyExc_TypeError, field, "'validators' must hold callables");
    }
  }
  if (PyTuple_GET_SIZE(items.get()) == 0) return Object();
  return items;
}

Status zone_entry(PyObject* dict, FieldRule& rule, FieldObjects& objects) {
  ZB_TRY(PyObject * zone, entry(dict, "default_timezone"));
  if (!zone) {
    rule.zone = input::ZoneMode::Naive;
    return {};
  }
  if (!PyTZInfo_Check(zone)) return plan_error(PyExc_TypeError, rule.name, "'default_timezone' must be a tzinfo or None");
  objects.zone = Object::borrow(zone);
  rule.zone = input::ZoneMode::Python;
  // datetime.timezone instances have one offset; so do the UTC zones of the
  // zoneinfo database. Every other zone is left to the interpreter.
  static PyObject* timezone_cell = nullptr;
  static PyObject* zoneinfo_cell = nullptr;
  static PyObject* key_name = nullptr;
  static PyObject* utcoffset_name = nullptr;
  ZB_TRY(PyObject * timezone_cls, imported_once(timezone_cell, "datetime", "timezone"));
  bool fixed = Py_IS_TYPE(zone, reinterpret_cast<PyTypeObject*>(timezone_cls));
  if (!fixed) {
    ZB_TRY(PyObject * zoneinfo_cls, imported_once(zoneinfo_cell, "zoneinfo", "ZoneInfo"));
    if (Py_IS_TYPE(zone, reinterpret_cast<PyTypeObject*>(zoneinfo_cls))) {
      ZB_TRY(PyObject * name, interned(key_name, "key"));
      ZB_TRY(Object key, checked(PyObject_GetAttr(zone, name)));
      fixed = PyUnicode_Check(key.get()) && (PyUnicode_CompareWithASCIIString(key.get(), "UTC") == 0 ||
                                              PyUnicode_CompareWithASCIIString(key.get(), "Etc/UTC") == 0);
    }
  }
  if (fixed) {
    ZB_TRY(PyObject * method, interned(utcoffset_name, "utcoffset"));
    ZB_TRY(Object offset, checked(PyObject_CallMethodOneArg(zone, method, Py_None)));
    if (PyDelta_Check(offset.get())) {
      rule.zone = input::ZoneMode::Fixed;
      rule.zone_offset_us =
          (static_cast<std::int64_t>(PyDateTime_DELTA_GET_DAYS(offset.get())) * 86400 +
           PyDateTime_DELTA_GET_SECONDS(offset.get())) *
              1'000'000LL +
          PyDateTime_DELTA_GET_MICROSECONDS(offset.get());
    }
  }
  return {};
}

Status compile_field(PyObject* dict, std::size_t position, FieldRule& rule, FieldObjects& objects) {
  if (!PyDict_Check(dict)) {
    return plan_error(PyExc_TypeError, "", "field " + std::to_string(position) + " must be a dict");
  }
  ZB_TRY(rule.name, text_entry(dict, "name", "#" + std::to_string(position)));
  ZB_TRY(Object name, checked(PyUnicode_FromStringAndSize(rule.name.data(), static_cast<Py_ssize_t>(rule.name.size()))));
  PyObject* raw = name.release();
  PyUnicode_InternInPlace(&raw);
  objects.name = Object::steal(raw);

  ZB_TRY(std::string kind, text_entry(dict, "kind", rule.name));
  bool known = false;
  for (const KindName& k : kKinds) {
    if (kind == k.name) {
      rule.kind = k.kind;
      known = true;
    }
  }
  if (!known) return plan_error(PyExc_ValueError, rule.name, "unknown kind '" + kind + "'");

  ZB_TRY(rule.required, flag(dict, "required", true));
  ZB_TRY(rule.allow_null, flag(dict, "allow_null", false));
  // REST framework keeps allow_null off its list fields (ManyRelatedField).
  if (rule.kind == Kind::ManyPrimaryKeys) rule.allow_null = false;
  ZB_TRY(rule.allow_blank, flag(dict, "allow_blank", false));
  ZB_TRY(rule.trim_whitespace, flag(dict, "trim_whitespace", true));
  ZB_TRY(rule.allow_empty, flag(dict, "allow_empty", true));
  ZB_TRY(rule.allow_unicode, flag(dict, "allow_unicode", false));
  ZB_TRY(rule.max_length, count_entry(dict, "max_length", rule.name));
  ZB_TRY(rule.min_length, count_entry(dict, "min_length", rule.name));
  ZB_TRY(rule.max_digits, count_entry(dict, "max_digits", rule.name));
  ZB_TRY(rule.decimal_places, count_entry(dict, "decimal_places", rule.name));
  ZB_TRY(rule.min_value, bound_entry(dict, "min_value", rule));
  ZB_TRY(rule.max_value, bound_entry(dict, "max_value", rule));

  if (rule.kind == Kind::Ip) {
    ZB_TRY(PyObject * protocol, entry(dict, "protocol"));
    if (protocol) {
      ZB_TRY(std::string text, str_of(protocol));
      for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      if (text == "both") {
        rule.protocol = input::Protocol::Both;
      } else if (text == "ipv4") {
        rule.protocol = input::Protocol::Ipv4;
      } else if (text == "ipv6") {
        rule.protocol = input::Protocol::Ipv6;
      } else {
        return plan_error(PyExc_ValueError, rule.name, "'protocol' must be 'both', 'ipv4' or 'ipv6'");
      }
    }
  }
  if (rule.kind == Kind::PrimaryKey || rule.kind == Kind::ManyPrimaryKeys) {
    ZB_TRY(PyObject * key_kind, entry(dict, "key_kind"));
    std::string text = "integer";
    if (key_kind) {
      ZB_TRY(text, str_of(key_kind));
    }
    if (text == "integer") {
      rule.key_kind = input::KeyKind::Integer;
    } else if (text == "string" || text == "email" || text == "url" || text == "slug" || text == "ip") {
      rule.key_kind = input::KeyKind::String;
    } else if (text == "uuid") {
      rule.key_kind = input::KeyKind::Uuid;
    } else {
      return plan_error(PyExc_ValueError, rule.name, "'key_kind' must be 'integer', 'string' or 'uuid'");
    }
  }
  if (rule.kind == Kind::Choice) {
    ZB_TRY(PyObject * choices, entry(dict, "choices"));
    if (!choices) return plan_error(PyExc_ValueError, rule.name, "a choice field needs 'choices'");
    // The framework keys its choices by a dict: of equal keys (1, 1.0 and
    // True) the first is kept.
    ZB_TRY(Object unique, checked(PyDict_New()));
    ZB_TRY(Object given, checked(PySequence_Tuple(choices)));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(given.get()); ++i) {
      if (PyDict_SetDefaultRef(unique.get(), PyTuple_GET_ITEM(given.get(), i), Py_None, nullptr) < 0) {
        return python_error();
      }
    }
    ZB_TRY(Object keys, checked(PyDict_Keys(unique.get())));
    ZB_TRY(objects.choice_keys, checked(PySequence_Tuple(keys.get())));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(objects.choice_keys.get()); ++i) {
      ZB_TRY(std::string text, choice_text(PyTuple_GET_ITEM(objects.choice_keys.get(), i)));
      rule.choices[text] = static_cast<std::size_t>(i);
    }
  }
  ZB_TRY(PyObject * validators, entry(dict, "validators"));
  if (validators) {
      ZB_TRY(objects.validators, callables_tuple(validators, rule.name));
    }
  if (rule.kind == Kind::DateTime) ZB_CHECK_OK(zone_entry(dict, rule, objects));
  return {};
}

constexpr const char* kPlanPositional[] = {"fields"};
constexpr CallSignature kPlanSignature{"__new__", "InputPlan", kPlanPositional, 1, {}};

Result<Object> plan_new(PyTypeObject* type, Slots slots) {
  ZB_CHECK_OK(ensure_datetime_api());
  ZB_TRY(Object fields, checked(PySequence_Fast(slots[0], "InputPlan() expects a list of field dicts")));
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(fields.get());
  input::Plan plan;
  std::vector<FieldObjects> objects(static_cast<std::size_t>(count));
  plan.fields.resize(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    ZB_CHECK_OK(compile_field(PySequence_Fast_GET_ITEM(fields.get(), i), k, plan.fields[k], objects[k]));
  }
  if (!plan.finish()) return plan_error(PyExc_ValueError, "", "field names must be unique");
  ZB_TRY(Object template_dict, checked(PyDict_New()));
  for (const FieldObjects& f : objects) {
    if (PyDict_SetItem(template_dict.get(), f.name.get(), Py_None) < 0) return python_error();
  }
  ZB_TRY(Object self, checked(type->tp_alloc(type, 0)));
  auto* obj = reinterpret_cast<InputPlanObject*>(self.get());
  new (&obj->plan) input::Plan(std::move(plan));
  new (&obj->objects) std::vector<FieldObjects>(std::move(objects));
  new (&obj->template_dict) Object(std::move(template_dict));
  new (&obj->scratch) std::unique_ptr<ReadScratch>(std::make_unique<ReadScratch>());
  new (&obj->scratch_taken) std::atomic<bool>(false);
  return self;
}

PyObject* plan_repr(PyObject* self) noexcept {
  return run_guarded([&]() -> Result<Object> {
    const std::size_t n = reinterpret_cast<InputPlanObject*>(self)->plan.fields.size();
    return ascii_text("InputPlan(" + std::to_string(n) + (n == 1 ? " field)" : " fields)"));
  });
}

Py_ssize_t plan_len(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(reinterpret_cast<InputPlanObject*>(self)->plan.fields.size());
}

int plan_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  for (const FieldObjects& f : reinterpret_cast<InputPlanObject*>(self)->objects) {
    Py_VISIT(f.validators.get());
    Py_VISIT(f.choice_keys.get());
    Py_VISIT(f.zone.get());
  }
  return 0;
}

int plan_clear(PyObject* self) {
  for (FieldObjects& f : reinterpret_cast<InputPlanObject*>(self)->objects) {
    f.validators = Object();
    f.choice_keys = Object();
    f.zone = Object();
  }
  return 0;
}

void plan_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  auto* obj = reinterpret_cast<InputPlanObject*>(self);
  obj->scratch.~unique_ptr();
  obj->template_dict.~Object();
  obj->objects.~vector();
  obj->plan.~Plan();
  type->tp_free(self);
  Py_DECREF(type);
}

constexpr const char* kPlanDoc =
    "InputPlan(fields)\n--\n\n"
    "The input rules of a list of fields, compiled once for parse_input().\n\n"
    "Each field is a dict with 'name', 'kind' and the rules of the matching\n"
    "REST framework serializer field (see the zembra stub for every key).\n"
    "Immutable; one plan may serve any number of threads.";

PyType_Slot kPlanSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&constructor<kPlanSignature, plan_new>)},
    {Py_tp_repr, reinterpret_cast<void*>(&plan_repr)},
    {Py_mp_length, reinterpret_cast<void*>(&plan_len)},
    {Py_tp_traverse, reinterpret_cast<void*>(&plan_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&plan_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&plan_dealloc)},
    {Py_tp_doc, const_cast<char*>(kPlanDoc)},
    {0, nullptr},
};

PyType_Spec kPlanSpec = {
    "zembra.InputPlan",
    sizeof(InputPlanObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
    kPlanSlots,
};

}  // namespace

PyTypeObject* input_plan_type() {
  return create_type_once(type_cell, &kPlanSpec, &vector_constructor<kPlanSignature, plan_new>);
}

Result<const InputPlanObject*> input_plan_argument(PyObject* obj) {
  PyTypeObject* type = input_plan_type();
  if (!type) return python_error();
  ZB_TRY(PyObject * checked_obj, for_parameter("plan", to_instance(obj, type, "InputPlan")));
  return reinterpret_cast<const InputPlanObject*>(checked_obj);
}

}  // namespace zembra::py
