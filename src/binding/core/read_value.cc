#include "binding/core/read_value.h"

#include <string>
#include <string_view>

#include "binding/core/convert.h"
#include "binding/core/imports.h"
#include "binding/core/known_objects.h"
#include "pure/common/fault.h"
#include "pure/text/json.h"
#include "pure/text/uuid.h"

namespace zembra::py {
namespace {

constexpr const char* kOutOfRange = "out of range integral type conversion attempted";

CoreError kind_type_error(const SchemaField& field, std::string detail) {
  return CoreError::type(field.name, std::string(kind_name(field.rules.kind.tag)), std::move(detail));
}

Result<FieldValue> read_decimal(PyObject* value, const SchemaField& field) {
  ZB_TRY(std::string text, decimal_text_of(value));
  auto parsed = text::parse_decimal(text, text::DecimalMode::Exact);
  if (!parsed) return fail(kind_type_error(field, "invalid decimal string: " + std::string(message(parsed.error()))));
  return FieldValue(*parsed);
}

Result<FieldValue> read_uuid(PyObject* value, const SchemaField& field) {
  ZB_TRY(std::optional<Uuid> known, exact_uuid(value));
  if (known) return FieldValue(*known);
  Object holder;
  ZB_TRY(std::string_view text, str_of(value, holder));
  auto parsed = text::parse_uuid(text);
  if (!parsed) return fail(kind_type_error(field, "invalid UUID: " + message(parsed.error())));
  return FieldValue(*parsed);
}

template <class Parse>
Result<FieldValue> read_temporal(PyObject* value, const SchemaField& field, Parse parse) {
  Object holder;
  ZB_TRY(std::string_view text, isoformat_of(value, holder));
  auto parsed = parse(text);
  if (!parsed) return fail(kind_type_error(field, "could not parse: " + std::string(message(parsed.error()))));
  return FieldValue(*parsed);
}

Result<FieldValue> read_datetime(PyObject* value, const SchemaField& field) {
  DateTimeFields known;
  ZB_TRY(bool exact, exact_datetime(value, known));
  if (!exact) return read_temporal(value, field, parse_datetime_attempts);
  auto utc = known.utc();
  if (!utc) return fail(kind_type_error(field, "could not parse: " + std::string(message(utc.error()))));
  return FieldValue(*utc);
}

// json.dumps writes the non-finite floats as NaN, Infinity and -Infinity,
// none of which JSON has. The reader refuses the first two at their start as
// an unexpected value, but -Infinity after its sign as a malformed number;
// it gets the same report as the others, at the start of the value.
text::JsonError as_non_finite_literal(std::string_view text, text::JsonError error) {
  // json.dumps writes a single line, so the column is the byte offset + 1.
  if (error.code != text::JsonErrorCode::InvalidNumber || error.line != 1 || error.column < 2) return error;
  const std::size_t at = error.column - 1;
  if (at > text.size() || text[at - 1] != '-' || !text.substr(at).starts_with("Infinity")) return error;
  return text::JsonError{text::JsonErrorCode::ExpectedValue, error.line, error.column - 1};
}

Result<FieldValue> read_json(PyObject* value, const SchemaField& field) {
  Object holder;
  ZB_TRY(std::string_view text, json_dumps_of(value, holder));
  auto parsed = text::parse_json(text);
  if (!parsed) {
    return fail(kind_type_error(field, "invalid JSON: " + message(as_non_finite_literal(text, parsed.error()))));
  }
  return FieldValue(std::move(*parsed));
}

}  // namespace

Result<Object> lookup_field(PyObject* record, PyObject* key) {
  PyObject* found = nullptr;
  if (PyDict_Check(record)) {
    if (PyDict_GetItemRef(record, key, &found) < 0) return python_error();
    return Object::steal(found);
  }
  return optional_attribute(record, key);
}

Result<Object> optional_attribute(PyObject* object, PyObject* name) {
  // As getattr(object, name, None): only AttributeError means absence; any
  // other exception (a failed deferred load, an interrupt) propagates.
  PyObject* found = nullptr;
  if (PyObject_GetOptionalAttr(object, name, &found) < 0) return python_error();
  return Object::steal(found);
}

Result<FieldValue> null_or_required(const SchemaField& field) {
  if (field.rules.accepts_null()) return FieldValue(Null{});
  return fail(CoreError::required(field.name));
}

Result<FieldValue> read_field_value(PyObject* record, PyObject* key, const SchemaField& field) {
  ZB_TRY(Object value, lookup_field(record, key));
  if (!value || value.get() == Py_None) return null_or_required(field);
  return read_present_value(value.get(), field);
}

Result<FieldValue> read_present_value(PyObject* value, const SchemaField& field) {
  switch (field.rules.kind.tag) {
    case CoreKindTag::Str: {
      ZB_TRY(std::string_view text, read_str(value));
      return FieldValue(std::string(text));
    }
    case CoreKindTag::Int: {
      ZB_TRY(std::int64_t v, read_int(value));
      return FieldValue(v);
    }
    case CoreKindTag::Float: {
      ZB_TRY(double v, read_float(value));
      return FieldValue(v);
    }
    case CoreKindTag::Bool: {
      ZB_TRY(bool v, read_bool(value));
      return FieldValue(v);
    }
    case CoreKindTag::Decimal:
      return read_decimal(value, field);
    case CoreKindTag::Uuid:
      return read_uuid(value, field);
    case CoreKindTag::DateTime:
      return read_datetime(value, field);
    case CoreKindTag::Date:
      if (auto known = exact_date(value)) return FieldValue(*known);
      return read_temporal(value, field, [](std::string_view t) {
        return text::parse_date(t, text::DateTimePattern::Date);
      });
    case CoreKindTag::Time:
      if (auto known = exact_time(value)) return FieldValue(*known);
      return read_temporal(value, field, parse_time_attempts);
    case CoreKindTag::List:
    case CoreKindTag::Dict:
      return read_json(value, field);
    case CoreKindTag::Bytes: {
      ZB_TRY(ByteString bytes, read_bytes(value));
      return FieldValue(std::move(bytes));
    }
  }
  raise_fault("unknown field kind");
}

Result<std::string_view> read_str(PyObject* value) { return to_text(value); }

Result<std::int64_t> read_int(PyObject* value) {
  long long v = PyLong_AsLongLong(value);
  if (v == -1 && PyErr_Occurred()) return python_error();
  return static_cast<std::int64_t>(v);
}

Result<double> read_float(PyObject* value) {
  double v = PyFloat_AsDouble(value);
  if (v == -1.0 && PyErr_Occurred()) return python_error();
  return v;
}

Result<bool> read_bool(PyObject* value) { return to_bool(value); }

Result<ByteString> read_bytes(PyObject* value) {
  if (PyBytes_Check(value)) {
    return ByteString{std::string(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value)))};
  }
  if (PyByteArray_Check(value)) {
    return ByteString{
        std::string(PyByteArray_AS_STRING(value), static_cast<std::size_t>(PyByteArray_GET_SIZE(value)))};
  }
  if (PyUnicode_Check(value)) {
    PyErr_SetString(PyExc_TypeError, kRefusedStrMessage);
    return python_error();
  }
  if (!PySequence_Check(value)) return wrong_type(value, "Sequence");
  ByteString out;
  // As bytes() does: only a TypeError from the size query is discarded.
  Py_ssize_t hint = PyObject_LengthHint(value, 0);
  if (hint < 0) return python_error();
  out.data.reserve(static_cast<std::size_t>(hint));
  ZB_TRY(Object iter, checked(PyObject_GetIter(value)));
  while (PyObject* raw = PyIter_Next(iter.get())) {
    Object item = Object::steal(raw);
    ZB_TRY(std::int64_t v, read_int(item.get()));
    if (v < 0 || v > 255) {
      PyErr_SetString(PyExc_OverflowError, kOutOfRange);
      return python_error();
    }
    out.data.push_back(static_cast<char>(v));
  }
  if (PyErr_Occurred()) return python_error();
  return out;
}

Result<std::string_view> str_of(PyObject* value, Object& holder) {
  ZB_TRY(holder, checked(PyObject_Str(value)));
  return read_str(holder.get());
}

Result<std::string_view> isoformat_of(PyObject* value, Object& holder) {
  static PyObject* name = PyUnicode_InternFromString("isoformat");
  if (!name) return python_error();
  ZB_TRY(holder, checked(PyObject_CallMethodNoArgs(value, name)));
  return read_str(holder.get());
}

Result<std::string_view> json_dumps_of(PyObject* value, Object& holder) {
  ZB_TRY(Object dumps, imported_attribute("json", "dumps"));
  ZB_TRY(holder, checked(PyObject_CallOneArg(dumps.get(), value)));
  return read_str(holder.get());
}

Result<std::string> decimal_text_of(PyObject* value) {
  Object holder;
  ZB_TRY(std::string_view text, str_of(value, holder));
  ZB_TRY(std::optional<std::string> plain, plain_decimal_text(value, text));
  if (plain) return std::move(*plain);
  return std::string(text);
}

Result<std::optional<std::string>> plain_decimal_text(PyObject* value, std::string_view text) {
  if (text.find_first_of("eE") == std::string_view::npos) return std::optional<std::string>{};
  // The interpreter's decimal writes an exponent for some values
  // (Decimal("1E+2"), Decimal("1E-7")); read them as the same value in
  // plain text. Texts and other objects keep the plain grammar.
  ZB_TRY(PyObject * decimal_cls, decimal_type());
  int is_decimal = PyObject_IsInstance(value, decimal_cls);
  if (is_decimal < 0) return python_error();
  if (!is_decimal) return std::optional<std::string>{};
  return text::expand_exponent(text);
}

Expected<DateTime, text::DateTimeError> parse_datetime_attempts(std::string_view text) {
  auto aware = text::parse_isoformat_instant(text);
  if (aware || aware.error() == text::DateTimeError::InstantOutOfRange) return aware;
  auto frac = text::parse_datetime(text, text::DateTimePattern::DateTimeFrac);
  if (frac) return frac;
  return text::parse_datetime(text, text::DateTimePattern::DateTime);
}

Expected<Time, text::DateTimeError> parse_time_attempts(std::string_view text) {
  auto frac = text::parse_time(text, text::DateTimePattern::TimeFrac);
  if (frac) return frac;
  return text::parse_time(text, text::DateTimePattern::Time);
}

}  // namespace zembra::py
