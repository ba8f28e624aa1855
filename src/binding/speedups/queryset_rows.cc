// _queryset_records and _queryset_json: the raw rows of a queryset's own SQL,
// as the database cursor returns them, turned into what the values_list
// route (serialize_values_list of values_list() rows) gives for the same rows.
//
// The Python side (zembra.django) has checked which converters Django would
// run on each column and hands over one reader per column (the plan). A
// reader either passes the raw value on unchanged (Django's converters would
// leave it as it is, or change nothing the serializer writes), or reads it
// natively into the typed value Django's converter would produce. Whenever a
// value is not of the kind the reader knows, or a conversion fails, the call
// returns None and the caller runs the values_list route instead, which then
// gives its own result or error: nothing here ever guesses.
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "binding/core/convert.h"
#include "binding/core/datetime_api.h"
#include "binding/core/frame.h"
#include "binding/core/python_text.h"
#include "binding/core/to_python.h"
#include "binding/django/model_value.h"
#include "binding/django/ordinary_errors.h"
#include "pure/text/base64.h"
#include "pure/text/decimal.h"
#include "binding/speedups/json_objects.h"
#include "binding/speedups/json_output.h"
#include "binding/speedups/model_record_writer.h"
#include "binding/speedups/records_form.h"
#include "binding/speedups/raw_decimal.h"
#include "binding/speedups/speedups_functions.h"
#include "binding/speedups/speedups_state.h"
#include "pure/json_writer/json_rewrite.h"
#include "pure/json_writer/typed_values.h"
#include "pure/rows/raw_values.h"

namespace zembra::py {
namespace {

// The readers, by the codes zembra.django uses.
enum class Reader : std::uint8_t {
  Raw,                 // no converter, or one that changes nothing written
  Date,                // a date object (SQLite's converter keeps those)
  Time,                // a time object
  DateTime,            // an exact datetime: naive ones are read as UTC
  Bool,                // True or False
  Decimal,             // SQLite REAL or INTEGER, integers taken exactly
  DecimalRoundedInts,  // the same, integers rounded to 15 digits too
  UuidHex,             // 32 hex digits
  JsonText,            // JSON text, as json.loads reads it
};
constexpr long kReaderCount = 9;

struct Column {
  Reader reader = Reader::Raw;
  rows::DecimalColumn decimal;
};

Status bad_plan(const char* what) {
  PyErr_Format(PyExc_ValueError, "plan: %s", what);
  return python_error();
}

Result<std::uint32_t> plan_number(PyObject* obj) {
  long v = PyLong_Check(obj) ? PyLong_AsLong(obj) : -1;
  if (v == -1 && PyErr_Occurred()) return python_error();
  if (v < 0 || v > UINT32_MAX) {
    ZB_CHECK_OK(bad_plan("expected a small non-negative int"));
  }
  return static_cast<std::uint32_t>(v);
}

// plan: a tuple with one entry per field, a reader code or, for the decimal
// readers, (code, max_digits, decimal_places).
Result<std::vector<Column>> read_plan(PyObject* plan, std::size_t width) {
  if (!PyTuple_CheckExact(plan) || static_cast<std::size_t>(PyTuple_GET_SIZE(plan)) != width) {
    ZB_CHECK_OK(bad_plan("expected a tuple with one entry per schema field"));
  }
  std::vector<Column> columns(width);
  for (std::size_t i = 0; i < width; ++i) {
    PyObject* entry = PyTuple_GET_ITEM(plan, static_cast<Py_ssize_t>(i));
    PyObject* code = entry;
    if (PyTuple_CheckExact(entry)) {
      if (PyTuple_GET_SIZE(entry) != 3) ZB_CHECK_OK(bad_plan("a decimal entry is (code, max_digits, decimal_places)"));
      code = PyTuple_GET_ITEM(entry, 0);
      ZB_TRY(columns[i].decimal.max_digits, plan_number(PyTuple_GET_ITEM(entry, 1)));
      ZB_TRY(columns[i].decimal.decimal_places, plan_number(PyTuple_GET_ITEM(entry, 2)));
    }
    ZB_TRY(std::uint32_t reader, plan_number(code));
    if (reader >= kReaderCount) ZB_CHECK_OK(bad_plan("unknown reader"));
    columns[i].reader = static_cast<Reader>(reader);
    bool is_decimal = columns[i].reader == Reader::Decimal || columns[i].reader == Reader::DecimalRoundedInts;
    if (is_decimal != PyTuple_CheckExact(entry)) ZB_CHECK_OK(bad_plan("decimal readers, and only they, take digits"));
    columns[i].decimal.round_integers = columns[i].reader == Reader::DecimalRoundedInts;
  }
  return columns;
}

// What a raw value is for the output: itself (the route converts it as it
// converts values_list() values), a typed value, the ASCII text the route
// writes for it, JSON text for the output's own JSON reader, or refused.
enum class Read : std::uint8_t { Raw, Typed, Text, JsonText, Refused };

// The typed value or text of the value being read, reused from one value to
// the next.
struct ReadValue {
  FieldValue typed;
  std::string text;
  std::string_view json;  // the UTF-8 form the value's str object keeps
};

Result<Read> read_raw(PyObject* value, const Column& column, ReadValue& out) {
  switch (column.reader) {
    case Reader::Raw:
      return Read::Raw;
    case Reader::Date:
      return PyDate_Check(value) ? Read::Raw : Read::Refused;
    case Reader::Time:
      return PyTime_Check(value) ? Read::Raw : Read::Refused;
    case Reader::DateTime:
      // Django makes a naive value aware in the connection's zone, which the
      // caller has checked is UTC: the serializer writes both alike.
      return PyDateTime_CheckExact(value) ? Read::Raw : Read::Refused;
    case Reader::Bool:
      return value == Py_True || value == Py_False ? Read::Raw : Read::Refused;
    case Reader::Decimal:
    case Reader::DecimalRoundedInts: {
      std::optional<std::string> text = sqlite_decimal_text(value, column.decimal);
      if (!text) return Read::Refused;
      // The route reads the text of the converter's decimal and writes it
      // back; within 28 digits and 28 places it writes the same text.
      std::size_t digits = text->size() - (text->starts_with('-') ? 1 : 0) - (column.decimal.decimal_places ? 1 : 0);
      if (digits <= Decimal::kMaxScale && column.decimal.decimal_places <= Decimal::kMaxScale) {
        out.text = std::move(*text);
        return Read::Text;
      }
      auto parsed = text::parse_decimal(*text, text::DecimalMode::Rounding);
      if (!parsed) return Read::Refused;
      out.typed = *parsed;
      return Read::Typed;
    }
    case Reader::UuidHex: {
      if (!PyUnicode_CheckExact(value) || !PyUnicode_IS_ASCII(value)) return Read::Refused;
      std::string_view text(reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(value)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(value)));
      std::optional<Uuid> uuid = rows::uuid_from_hex(text);
      if (!uuid) return Read::Refused;
      out.typed = *uuid;
      return Read::Typed;
    }
    case Reader::JsonText: {
      if (!PyUnicode_CheckExact(value)) return Read::Refused;
      Py_ssize_t size = 0;
      const char* text = PyUnicode_AsUTF8AndSize(value, &size);
      if (!text) {  // a surrogate: json.loads would keep it, the route refuses it
        ZB_CHECK_OK(absorb_ordinary_error());
        return Read::Refused;
      }
      out.json = std::string_view(text, static_cast<std::size_t>(size));
      return Read::JsonText;
    }
  }
  return Read::Refused;
}

// Whether a str holds a surrogate code point (only the wider kinds can).
bool has_surrogate(PyObject* text) {
  int kind = PyUnicode_KIND(text);
  if (kind == PyUnicode_1BYTE_KIND) return false;
  const void* data = PyUnicode_DATA(text);
  for (Py_ssize_t i = 0, n = PyUnicode_GET_LENGTH(text); i < n; ++i) {
    Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c >= 0xD800 && c <= 0xDFFF) return true;
  }
  return false;
}

// Whether serialize_model_value would return the value itself.
bool kept_as_it_is(PyObject* value, django::FieldKindTag tag) {
  using django::FieldKindTag;
  switch (tag) {
    case FieldKindTag::CharField:
    case FieldKindTag::TextField:
    case FieldKindTag::EmailField:
    case FieldKindTag::URLField:
    case FieldKindTag::SlugField:
      return PyUnicode_CheckExact(value) && !has_surrogate(value);
    case FieldKindTag::IntegerField:
    case FieldKindTag::BigIntegerField: {
      if (!PyLong_CheckExact(value)) return false;
      int overflow = 0;
      PyLong_AsLongLongAndOverflow(value, &overflow);
      return !overflow;
    }
    case FieldKindTag::FloatField:
      return PyFloat_CheckExact(value) && std::isfinite(PyFloat_AS_DOUBLE(value));
    case FieldKindTag::BooleanField:
      return value == Py_True || value == Py_False;
    default:
      return false;
  }
}

// A failure of a conversion refuses the rows: the values_list route then
// raises its own error. Exceptions that are not ordinary propagate.
Result<bool> refused_on_failure(Error&& error) {
  if (std::holds_alternative<PythonRaised>(error)) ZB_CHECK_OK(absorb_ordinary_error());
  return false;
}

// The row's first width values, borrowed; empty when it is not a tuple that
// long (cursors return tuples).
std::optional<std::span<PyObject* const>> row_values(PyObject* row, std::size_t width) {
  if (!PyTuple_CheckExact(row) || static_cast<std::size_t>(PyTuple_GET_SIZE(row)) < width) return std::nullopt;
  return std::span<PyObject* const>(&PyTuple_GET_ITEM(row, 0), width);
}

struct Call {
  PyObject* rows;
  const ModelSchemaObject* schema;
  std::vector<Column> columns;
};

Result<Call> bind_call(PyObject* module, Slots slots) {
  ZB_TRY(PyObject * rows, for_parameter("rows", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const ModelSchemaObject* schema, model_schema_argument(module, slots[1]));
  ZB_TRY(std::vector<Column> columns, read_plan(slots[2], schema->model.size()));
  ZB_CHECK_OK(ensure_datetime_api());
  return Call{rows, schema, std::move(columns)};
}

// Walks the rows as for_each_item does; each(row) -> Result<bool>, false
// refusing the rows and ending the walk.
template <class Each>
Result<bool> each_row(PyObject* rows, Each&& each) {
  Py_ssize_t initial = PyList_GET_SIZE(rows);
  for (Py_ssize_t i = 0; i < initial && i < PyList_GET_SIZE(rows); ++i) {
    Object row = Object::borrow(PyList_GET_ITEM(rows, i));
    ZB_TRY(bool accepted, each(row.get()));
    if (!accepted) return false;
  }
  return true;
}

// The route's dict value of one present raw value; empty when refused.
Result<Object> record_value(PyObject* value, const Column& column, const django::FieldDescriptor& d,
                            ReadValue& slot, JsonObjectReader& json) {
  ZB_TRY(Read read, read_raw(value, column, slot));
  if (read == Read::Refused) return Object();
  if (read == Read::Typed) return field_value_to_python(d.name, slot.typed);
  if (read == Read::Text) return ascii_text(slot.text);
  if (read == Read::JsonText) {
    // Whatever the strict reader takes, json.loads reads alike; the rest
    // (NaN, text Django hands on as a string, ...) is refused. JSON null
    // becomes None, which the route checks like a missing value.
    ZB_TRY(Object loaded, json.read(slot.json));
    if (loaded && loaded.get() == Py_None && !d.accepts_null()) return Object();
    return loaded;
  }
  // The route keeps exact str, int, float and bool values it can read as
  // they are (a str without asking for its UTF-8 form); bytes go to Base64
  // without a copy.
  if (kept_as_it_is(value, d.kind.tag)) return Object::borrow(value);
  if (d.kind.tag == django::FieldKindTag::BinaryField && PyBytes_CheckExact(value)) {
    Buffer base64;
    text::encode_base64(std::string_view(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value))),
                        base64);
    return ascii_text(base64.view());
  }
  bool non_finite = false;
  ZB_TRY(Object converted, serialize_model_value(value, d, non_finite));
  if (non_finite) return Object();  // the route's error for it comes from the values_list route
  return converted;
}

Result<Object> records_body(PyObject* module, Slots slots) {
  ZB_TRY(Call call, bind_call(module, slots));
  const auto& descriptors = call.schema->model.descriptors;
  std::size_t width = descriptors.size();
  ZB_TRY(Object out, checked(PyList_New(0)));
  // Every record starts as a copy of the schema's record template (the keys
  // in their order, None values), sized at once.
  PyObject* blank = call.schema->record_template.get();
  JsonObjectReader json(rows::kAlwaysReadableIntDigits);
  ReadValue slot;
  ZB_TRY(bool accepted, each_row(call.rows, [&](PyObject* row) -> Result<bool> {
    auto items = row_values(row, width);
    if (!items) return false;
    ZB_TRY(Object record, checked(PyDict_Copy(blank)));
    for (std::size_t i = 0; i < width; ++i) {
      PyObject* value = (*items)[i];
      if (value == Py_None) {
        if (!descriptors[i].accepts_null()) return false;
        continue;
      }
      Result<Object> converted = record_value(value, call.columns[i], descriptors[i], slot, json);
      if (!converted) return refused_on_failure(std::move(converted).error());
      if (!*converted) return false;
      // In field order, so of equal names the later field's value stays.
      ZB_CHECK_OK(checked_status(PyDict_SetItem(record.get(), call.schema->key_pointers[i], converted->get())));
    }
    ZB_CHECK_OK(checked_status(PyList_Append(out.get(), record.get())));
    return true;
  }));
  if (!accepted) return Object::borrow(Py_None);
  return out;
}

// Writes one present raw value into the record; false when refused.
Result<bool> write_value(PyObject* value, const Column& column, const django::FieldDescriptor& d, std::size_t i,
                         ReadValue& slot, ModelRecordWriter& record, json::JsonRewriter& rewriter) {
  ZB_TRY(Read read, read_raw(value, column, slot));
  switch (read) {
    case Read::Refused:
      return false;
    case Read::Typed:
      return record.put(i, [&](Buffer& stage) {
        json::write_field_value(slot.typed, stage);
        return true;
      });
    case Read::Text:
      return record.put(i, [&](Buffer& stage) {
        stage.push_back('"');
        stage.append(slot.text);
        stage.push_back('"');
        return true;
      });
    case Read::JsonText:
      return record.put(i, [&](Buffer& stage) {
        std::size_t start = stage.size();
        if (rewriter.rewrite(slot.json, stage) != json::RewriteResult::Written) return false;
        if (!d.accepts_null() && stage.view().substr(start) == "null") {  // JSON null, as in record_value
          stage.truncate(start);
          return false;
        }
        return true;
      });
    case Read::Raw:
      break;
  }
  Status written = record.set(i, value);
  if (!written) return refused_on_failure(std::move(written).error());
  return true;
}

Result<Object> json_body(PyObject* module, Slots slots) {
  ZB_TRY(RecordsForm form, records_form(slots[3]));
  ZB_TRY(Call call, bind_call(module, slots));
  const auto& descriptors = call.schema->model.descriptors;
  std::size_t width = descriptors.size();
  JsonOutput output;
  Buffer& out = output.buffer();
  ModelRecordWriter record(*call.schema);
  json::JsonRewriter rewriter(rows::kAlwaysReadableIntDigits);
  ReadValue slot;
  open_records(form, out);
  const std::size_t opening = out.size();
  Py_ssize_t count = PyList_GET_SIZE(call.rows);
  ZB_TRY(bool accepted, each_row(call.rows, [&](PyObject* row) -> Result<bool> {
    auto items = row_values(row, width);
    if (!items) return false;
    record.begin();
    for (std::size_t i = 0; i < width; ++i) {
      PyObject* value = (*items)[i];
      if (value == Py_None) {
        if (!descriptors[i].accepts_null()) return false;
        record.set_null(i);
        continue;
      }
      ZB_TRY(bool written, write_value(value, call.columns[i], descriptors[i], i, slot, record, rewriter));
      if (!written) return false;
    }
    bool first = out.size() == opening;
    before_record(form, first, out);
    std::size_t start = out.size();
    Status finished = record.finish(out);
    if (!finished) return refused_on_failure(std::move(finished).error());
    after_record(form, out);
    if (first) reserve_like_first(out, out.size() - start, count);
    return true;
  }));
  if (!accepted) return Object::borrow(Py_None);
  close_records(form, out);
  return output.finish();
}

constexpr const char* kParams[] = {"rows", "schema", "plan"};
constexpr const char* kJsonParams[] = {"rows", "schema", "plan", "form"};
constexpr CallSignature kRecordsSig{"_queryset_records", nullptr, kParams, 3, {}};
constexpr CallSignature kJsonSig{"_queryset_json", nullptr, kJsonParams, 3, {}};

}  // namespace

PyMethodDef kQuerysetRecordsDef = {
    "_queryset_records", fast_method<kRecordsSig, records_body>(), METH_FASTCALL | METH_KEYWORDS,
    "_queryset_records(rows, schema, plan)\n--\n\n"
    "The raw cursor rows of a queryset as serialize_values_list() gives the\n"
    "values_list() rows, or None when the values_list route must run\n"
    "(zembra.django.serialize_queryset)."};

PyMethodDef kQuerysetJsonDef = {
    "_queryset_json", fast_method<kJsonSig, json_body>(), METH_FASTCALL | METH_KEYWORDS,
    "_queryset_json(rows, schema, plan, form=0)\n--\n\n"
    "The same as UTF-8 JSON bytes, or None (zembra.django.serialize_queryset_json):\n"
    "form 0 a JSON array, 1 the records joined by commas without brackets (a\n"
    "chunk of a streamed array), 2 each record followed by a newline."};

}  // namespace zembra::py
