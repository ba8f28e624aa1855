#include "binding/django/model_value.h"

#include <cmath>
#include <optional>
#include <string>

#include "binding/core/convert.h"
#include "binding/core/imports.h"
#include "binding/core/known_objects.h"
#include "binding/core/python_text.h"
#include "binding/core/read_value.h"
#include "binding/core/to_python.h"
#include "pure/common/buffer.h"
#include "pure/common/fault.h"
#include "binding/django/ordinary_errors.h"
#include "pure/text/datetime.h"
#include "pure/text/decimal.h"
#include "pure/text/json.h"
#include "pure/text/uuid.h"
#include "pure/validation/rules.h"

namespace zembra::py {
namespace {

using django::FieldDescriptor;
using django::FieldKindTag;

// A conversion call that failed: the exception is dropped for the type
// conversion error naming the expected type.
template <class T>
Result<T> expecting(Result<T>&& r, PyObject* value, const char* expected) {
  return absorb_failure(std::move(r), [&]() -> Result<T> {
    return fail(ModelError::type_conversion(expected, type_qualname(value, "unknown")));
  });
}

ModelError unparsable(const FieldDescriptor& d, std::string_view text, std::string_view kind) {
  std::string message = "cannot parse '";
  message += text;
  message += "' as ";
  message += kind;
  return ModelError::serialization(d.name, std::move(message));
}

// Text of a date or time that does not read; an aware instant outside the
// years 1 to 9999 says so.
ModelError unreadable(const FieldDescriptor& d, std::string_view text, std::string_view kind,
                      text::DateTimeError error) {
  if (error != text::DateTimeError::InstantOutOfRange) return unparsable(d, text, kind);
  std::string message = "cannot parse '";
  message += text;
  message += "' as ";
  message += kind;
  message += ": ";
  message += text::message(error);
  return ModelError::serialization(d.name, std::move(message));
}

// A failed Python call whose exception text goes into a message.
template <class T, class Make>
Result<T> described(Result<T>&& r, Make make) {
  if (r || !std::holds_alternative<PythonRaised>(r.error())) return std::move(r);
  ZB_TRY(std::string text, take_ordinary_error_text());
  return fail(make(std::move(text)));
}

// The decimal of str(value), which holder keeps.
Result<Decimal> model_decimal(PyObject* value, const FieldDescriptor& d, Object& holder) {
  ZB_TRY(std::string_view text, expecting(str_of(value, holder), value, "Decimal (via str)"));
  ZB_TRY(std::optional<std::string> plain, plain_decimal_text(value, text));
  auto parsed = text::parse_decimal(plain ? std::string_view(*plain) : text, text::DecimalMode::Rounding);
  if (!parsed) return fail(unparsable(d, text, "Decimal"));
  return *parsed;
}

// The serialized text of a decimal; str(value) itself when it already is
// that text, as it is for the interpreter's decimals without an exponent.
Result<Object> serialize_decimal(PyObject* value, const FieldDescriptor& d) {
  Object holder;
  ZB_TRY(Decimal decimal, model_decimal(value, d, holder));
  Buffer out;
  text::format_decimal(decimal, out);
  if (PyUnicode_CheckExact(holder.get()) && PyUnicode_IS_ASCII(holder.get()) &&
      std::string_view(reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(holder.get())),
                       static_cast<std::size_t>(PyUnicode_GET_LENGTH(holder.get()))) == out.view()) {
    return holder;
  }
  return ascii_text(out.view());
}

Result<FieldValue> convert_uuid(PyObject* value, const FieldDescriptor& d) {
  ZB_TRY(std::optional<Uuid> known, exact_uuid(value));
  if (known) return FieldValue(*known);
  Object holder;
  ZB_TRY(std::string_view text, expecting(str_of(value, holder), value, "UUID"));
  auto parsed = text::parse_uuid(text);
  if (!parsed) return fail(unparsable(d, text, "UUID"));
  return FieldValue(*parsed);
}

template <class Parse>
Result<FieldValue> convert_temporal(PyObject* value, const FieldDescriptor& d, const char* kind, Parse parse) {
  Object holder;
  ZB_TRY(std::string_view text, expecting(isoformat_of(value, holder), value, kind));
  auto parsed = parse(text);
  if (!parsed) return fail(unreadable(d, text, kind, parsed.error()));
  return FieldValue(*parsed);
}

Result<FieldValue> convert_datetime(PyObject* value, const FieldDescriptor& d) {
  DateTimeFields known;
  ZB_TRY(bool exact, expecting(exact_datetime(value, known), value, "datetime"));
  if (!exact) {
    return convert_temporal(value, d, "datetime", [](std::string_view t) {
      auto aware = text::parse_isoformat_instant(t);
      if (aware || aware.error() == text::DateTimeError::InstantOutOfRange) return aware;
      return text::parse_datetime(t, text::DateTimePattern::DateTimeFrac);
    });
  }
  auto utc = known.utc();
  if (utc) return FieldValue(*utc);
  Buffer text;  // the isoformat() text, for the message
  text::format_isoformat(known.wall, known.offset(), text);
  return fail(unreadable(d, text.view(), "datetime", utc.error()));
}

Result<FieldValue> convert_date(PyObject* value, const FieldDescriptor& d) {
  if (auto known = exact_date(value)) return FieldValue(*known);
  return convert_temporal(value, d, "date",
                          [](std::string_view t) { return text::parse_date(t, text::DateTimePattern::Date); });
}

Result<FieldValue> convert_time(PyObject* value, const FieldDescriptor& d) {
  if (auto known = exact_time(value)) return FieldValue(*known);
  return convert_temporal(value, d, "time",
                          [](std::string_view t) { return text::parse_time(t, text::DateTimePattern::TimeFrac); });
}

// json.dumps(value) read back as a JSON tree.
Result<JsonValue> convert_json(PyObject* value, const FieldDescriptor& d) {
  ZB_TRY(Object json, described(imported_module("json"), [](std::string text) {
           return ModelError::python("cannot import json module: " + text);
         }));
  static PyObject* dumps_name = PyUnicode_InternFromString("dumps");
  if (!dumps_name) return python_error();
  ZB_TRY(Object dumped, described(checked(PyObject_CallMethodOneArg(json.get(), dumps_name, value)),
                                  [&](std::string text) {
                                    return ModelError::serialization(d.name, "json.dumps failed: " + text);
                                  }));
  ZB_TRY(std::string_view text, described(to_text(dumped.get()), [](std::string error) {
           return ModelError::python("json.dumps returned non-string: " + error);
         }));
  auto parsed = text::parse_json(text);
  if (!parsed) return fail(ModelError::serialization(d.name, "invalid JSON: " + text::message(parsed.error())));
  return std::move(*parsed);
}

}  // namespace

Result<FieldValue> convert_model_value(PyObject* value, const FieldDescriptor& d) {
  switch (d.kind.tag) {
    case FieldKindTag::CharField:
    case FieldKindTag::TextField:
    case FieldKindTag::EmailField:
    case FieldKindTag::URLField:
    case FieldKindTag::SlugField: {
      ZB_TRY(std::string_view text, expecting(read_str(value), value, "str"));
      return FieldValue(std::string(text));
    }
    case FieldKindTag::IntegerField: {
      ZB_TRY(std::int64_t v, expecting(read_int(value), value, "int"));
      return FieldValue(v);
    }
    case FieldKindTag::BigIntegerField: {
      ZB_TRY(std::int64_t v, expecting(read_int(value), value, "int (i64)"));
      return FieldValue(v);
    }
    case FieldKindTag::FloatField: {
      ZB_TRY(double v, expecting(read_float(value), value, "float"));
      return FieldValue(v);
    }
    case FieldKindTag::DecimalField: {
      Object holder;
      ZB_TRY(Decimal decimal, model_decimal(value, d, holder));
      return FieldValue(decimal);
    }
    case FieldKindTag::BooleanField: {
      ZB_TRY(bool v, expecting(read_bool(value), value, "bool"));
      return FieldValue(v);
    }
    case FieldKindTag::DateField:
      return convert_date(value, d);
    case FieldKindTag::TimeField:
      return convert_time(value, d);
    case FieldKindTag::DateTimeField:
      return convert_datetime(value, d);
    case FieldKindTag::UUIDField:
      return convert_uuid(value, d);
    case FieldKindTag::JSONField: {
      ZB_TRY(JsonValue tree, convert_json(value, d));
      return FieldValue(std::move(tree));
    }
    case FieldKindTag::BinaryField: {
      ZB_TRY(ByteString bytes, expecting(read_bytes(value), value, "bytes"));
      return FieldValue(std::move(bytes));
    }
  }
  raise_fault("unknown Django field kind");
}

Result<Object> serialize_model_value(PyObject* value, const FieldDescriptor& d, bool& non_finite) {
  switch (d.kind.tag) {
    case FieldKindTag::CharField:
    case FieldKindTag::TextField:
    case FieldKindTag::EmailField:
    case FieldKindTag::URLField:
    case FieldKindTag::SlugField: {
      ZB_TRY(std::string_view text, expecting(read_str(value), value, "str"));
      if (PyUnicode_CheckExact(value)) return Object::borrow(value);
      return utf8_text(text);
    }
    case FieldKindTag::IntegerField:
    case FieldKindTag::BigIntegerField: {
      const char* expected = d.kind.tag == FieldKindTag::IntegerField ? "int" : "int (i64)";
      ZB_TRY(std::int64_t v, expecting(read_int(value), value, expected));
      if (PyLong_CheckExact(value)) return Object::borrow(value);
      return checked(PyLong_FromLongLong(v));
    }
    case FieldKindTag::FloatField: {
      ZB_TRY(double v, expecting(read_float(value), value, "float"));
      non_finite = !std::isfinite(v);
      if (PyFloat_CheckExact(value)) return Object::borrow(value);
      return checked(PyFloat_FromDouble(v));
    }
    case FieldKindTag::BooleanField: {
      ZB_TRY(bool v, expecting(read_bool(value), value, "bool"));
      return Object::borrow(v ? Py_True : Py_False);
    }
    case FieldKindTag::DecimalField:
      return serialize_decimal(value, d);
    case FieldKindTag::JSONField: {
      ZB_TRY(Object copy, plain_json_copy(value));
      if (copy) return copy;
      ZB_TRY(JsonValue tree, convert_json(value, d));
      return json_to_python(tree);
    }
    default: {
      ZB_TRY(FieldValue typed, convert_model_value(value, d));
      return field_value_to_python(d.name, typed);
    }
  }
}

Result<FieldValue> check_model_value(PyObject* value, const FieldDescriptor& d) {
  if (d.kind.tag != FieldKindTag::JSONField) return convert_model_value(value, d);
  ZB_TRY(std::optional<JsonShape> shape, plain_json_shape(value));
  if (!shape) {
    ZB_TRY(JsonValue ignored, convert_json(value, d));
    (void)ignored;
  }
  return FieldValue(JsonValue(JsonObject{}));
}

Status check_model_field(PyObject* value, const FieldDescriptor& d, const SchemaField& field,
                         std::vector<FieldError>& errors) {
  // The interpreter's own types, checked without the typed value; anything
  // else (and every failure) takes the general path below.
  switch (field.rules.kind.tag) {
    case CoreKindTag::Str:
      if (PyUnicode_CheckExact(value) && PyUnicode_KIND(value) == PyUnicode_1BYTE_KIND) {
        // One byte per code point and no surrogates: it reads as UTF-8
        // without fail, and its length is the code point count.
        check_length_limits(field, static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(value)), errors);
        return {};
      }
      break;
    case CoreKindTag::Int:
      if (PyLong_CheckExact(value)) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (!overflow) {
          check_int_bounds(field, v, errors);
          return {};
        }
      }
      break;
    case CoreKindTag::Float:
      if (PyFloat_CheckExact(value)) {
        check_float_bounds(field, PyFloat_AS_DOUBLE(value), errors);
        return {};
      }
      break;
    case CoreKindTag::Bool:
      if (PyBool_Check(value)) return {};  // booleans have no rules
      break;
    case CoreKindTag::Date:
      if (exact_date(value)) return {};  // nor have dates
      break;
    default:
      break;
  }
  ZB_TRY(FieldValue typed, check_model_value(value, d));
  check_value(field, typed, errors);
  return {};
}

}  // namespace zembra::py
