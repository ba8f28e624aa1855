// _queryset_pg_records and _queryset_pg_json: the rows of a PostgreSQL query
// read straight from the libpq result that psycopg 3 holds after execute(),
// without building psycopg's Python values, into what the values_list route
// (serialize_values_list of values_list() rows) gives for the same rows.
//
// The caller (zembra.django) has checked what psycopg would do with each
// column (its loaders, the session's TimeZone, DateStyle and encoding) and
// hands over the plan of zembra._row_readers. Here every column's type oid
// must be one this file reads for the field's kind, the result must be in
// text format, and every value must have the exact text form the readers of
// pure/rows/pg_text.h know; anything else returns None and the caller runs
// the values_list route, which gives its own result or error.
#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/core/python_text.h"
#include "binding/core/to_python.h"
#include "binding/django/ordinary_errors.h"
#include "binding/speedups/json_objects.h"
#include "binding/speedups/json_output.h"
#include "binding/speedups/model_record_writer.h"
#include "binding/speedups/records_form.h"
#include "binding/speedups/speedups_functions.h"
#include "binding/speedups/speedups_state.h"
#include "pure/json_writer/json_rewrite.h"
#include "pure/json_writer/json_text.h"
#include "pure/json_writer/typed_values.h"
#include "pure/rows/pg_text.h"
#include "pure/rows/raw_values.h"
#include "pure/text/base64.h"

namespace zembra::py {
namespace {

using django::FieldKindTag;

// ---- the libpq that psycopg has loaded ----

struct Libpq {
  int (*ntuples)(const void*) = nullptr;
  int (*nfields)(const void*) = nullptr;
  unsigned (*ftype)(const void*, int) = nullptr;
  int (*fformat)(const void*, int) = nullptr;
  int (*getisnull)(const void*, int, int) = nullptr;
  char* (*getvalue)(const void*, int, int) = nullptr;
  int (*getlength)(const void*, int, int) = nullptr;
};

struct Found {
  std::string path;
  int count = 0;
};

int note_libpq(dl_phdr_info* info, std::size_t, void* data) {
  auto* found = static_cast<Found*>(data);
  const char* name = info->dlpi_name ? std::strrchr(info->dlpi_name, '/') : nullptr;
  name = name ? name + 1 : info->dlpi_name;
  if (name && std::strncmp(name, "libpq", 5) == 0 && (name[5] == '.' || name[5] == '-')) {
    found->path = info->dlpi_name;
    ++found->count;
  }
  return 0;
}

template <class F>
bool bind_symbol(void* handle, const char* name, F& out) {
  void* symbol = dlsym(handle, name);
  out = reinterpret_cast<F>(symbol);
  return symbol != nullptr;
}

// Looked up at the first call after psycopg has loaded its libpq. Exactly
// one libpq may be loaded: with two, a PGresult of one must never reach the
// other's functions. RTLD_NOLOAD keeps the library loaded while bound.
const Libpq* loaded_libpq() {
  static std::optional<Libpq> bound;
  if (bound) return &*bound;
  Found found;
  dl_iterate_phdr(note_libpq, &found);
  if (found.count != 1) return nullptr;
  void* handle = dlopen(found.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return nullptr;
  Libpq pq;
  if (!bind_symbol(handle, "PQntuples", pq.ntuples) || !bind_symbol(handle, "PQnfields", pq.nfields) ||
      !bind_symbol(handle, "PQftype", pq.ftype) || !bind_symbol(handle, "PQfformat", pq.fformat) ||
      !bind_symbol(handle, "PQgetisnull", pq.getisnull) || !bind_symbol(handle, "PQgetvalue", pq.getvalue) ||
      !bind_symbol(handle, "PQgetlength", pq.getlength)) {
    dlclose(handle);
    return nullptr;
  }
  bound = pq;
  return &*bound;
}

// ---- columns ----

// Type oids of the PostgreSQL catalog.
enum Oid : unsigned {
  kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kFloat4 = 700, kFloat8 = 701,
  kVarchar = 1043, kDate = 1082, kTime = 1083, kTimestamp = 1114, kTimestamptz = 1184, kNumeric = 1700,
  kUuid = 2950, kJsonb = 3802,
};

// Reader codes of zembra._row_readers that a column may have here.
constexpr long kRawCode = 0;
constexpr long kJsonTextCode = 8;

enum class Text : std::uint8_t { Str, Int, Float, Numeric, Bool, Date, Time, Timestamp, Timestamptz, Uuid, Bytea, Json };

// How a column of the field's kind and the result's type is read; nullopt
// for a pair the loaders would not give the serializer in a form read here.
std::optional<Text> text_reader(FieldKindTag kind, unsigned oid, bool json_text) {
  if (json_text) {
    return kind == FieldKindTag::JSONField && oid == kJsonb ? std::optional(Text::Json) : std::nullopt;
  }
  switch (kind) {
    case FieldKindTag::CharField:
    case FieldKindTag::TextField:
    case FieldKindTag::EmailField:
    case FieldKindTag::URLField:
    case FieldKindTag::SlugField:
      if (oid == kText || oid == kVarchar) return Text::Str;
      break;
    case FieldKindTag::IntegerField:
    case FieldKindTag::BigIntegerField:
      if (oid == kInt2 || oid == kInt4 || oid == kInt8) return Text::Int;
      break;
    case FieldKindTag::FloatField:
      if (oid == kFloat4 || oid == kFloat8) return Text::Float;
      break;
    case FieldKindTag::DecimalField:
      if (oid == kNumeric) return Text::Numeric;
      break;
    case FieldKindTag::BooleanField:
      if (oid == kBool) return Text::Bool;
      break;
    case FieldKindTag::DateField:
      if (oid == kDate) return Text::Date;
      break;
    case FieldKindTag::TimeField:
      if (oid == kTime) return Text::Time;
      break;
    case FieldKindTag::DateTimeField:
      if (oid == kTimestamptz) return Text::Timestamptz;
      if (oid == kTimestamp) return Text::Timestamp;
      break;
    case FieldKindTag::UUIDField:
      if (oid == kUuid) return Text::Uuid;
      break;
    case FieldKindTag::BinaryField:
      if (oid == kBytea) return Text::Bytea;
      break;
    case FieldKindTag::JSONField:
      break;
  }
  return std::nullopt;
}

// One value in the form the serializer gives it: typed, or a kind of its
// own (text, ints, floats, bools, bytes and JSON keep their own forms).
struct Value {
  enum class Kind : std::uint8_t { Typed, Str, Int, Float, Bool, Bytes, Json } kind = Kind::Typed;
  FieldValue typed;
  std::string_view text;  // Str and Json: the server's UTF-8 text
  std::int64_t int_value = 0;
  double float_value = 0;
  bool bool_value = false;
  std::string bytes;
};

template <class T>
bool typed(std::optional<T>&& v, Value& out) {
  if (!v) return false;
  out.kind = Value::Kind::Typed;
  out.typed = FieldValue(*v);
  return true;
}

// False when the text is not of the form the reader knows.
bool read_text(Text reader, std::string_view text, Value& out) {
  using K = Value::Kind;
  switch (reader) {
    case Text::Str:
      out.kind = K::Str;
      out.text = text;
      return true;
    case Text::Json:
      out.kind = K::Json;
      out.text = text;
      return true;
    case Text::Int: {
      auto v = rows::pg_int(text);
      out.kind = K::Int;
      out.int_value = v.value_or(0);
      return v.has_value();
    }
    case Text::Float: {
      auto v = rows::pg_float(text);
      out.kind = K::Float;
      out.float_value = v.value_or(0);
      return v.has_value();
    }
    case Text::Bool: {
      auto v = rows::pg_bool(text);
      out.kind = K::Bool;
      out.bool_value = v.value_or(false);
      return v.has_value();
    }
    case Text::Bytea:
      out.kind = K::Bytes;
      return rows::pg_bytea_hex(text, out.bytes);
    case Text::Numeric:
      return typed(rows::pg_numeric(text), out);
    case Text::Date:
      return typed(rows::pg_date(text), out);
    case Text::Time:
      return typed(rows::pg_time(text), out);
    case Text::Timestamp:
      return typed(rows::pg_timestamp(text), out);
    case Text::Timestamptz:
      return typed(rows::pg_timestamptz(text), out);
    case Text::Uuid:
      return typed(rows::pg_uuid(text), out);
  }
  return false;
}

// ---- the call ----

struct Call {
  const Libpq* pq = nullptr;
  Object owner;  // the psycopg PGresult object, which frees the result when it goes
  const void* result = nullptr;
  const ModelSchemaObject* schema = nullptr;
  std::vector<Text> readers;
  int rows = 0;
};

Status bad_plan(const char* what) {
  PyErr_Format(PyExc_ValueError, "plan: %s", what);
  return python_error();
}

// The PGresult* of a psycopg cursor (its pgresult) or of a psycopg PGresult
// object, which holder then keeps alive; null when there is none.
Result<const void*> pgresult_of(PyObject* source, Object& holder) {
  holder = Object::borrow(source);
  if (PyObject_HasAttrString(source, "pgresult_ptr") == 0) {
    ZB_TRY(holder, checked(PyObject_GetAttrString(source, "pgresult")));
    if (holder.get() == Py_None) return nullptr;
  }
  ZB_TRY(Object address, checked(PyObject_GetAttrString(holder.get(), "pgresult_ptr")));
  if (address.get() == Py_None) return nullptr;
  void* pointer = PyLong_AsVoidPtr(address.get());
  if (!pointer && PyErr_Occurred()) return python_error();
  return static_cast<const void*>(pointer);
}

// The call, or nullopt when the result is not one read here.
Result<std::optional<Call>> bind_call(PyObject* module, Slots slots) {
  ZB_TRY(const ModelSchemaObject* schema, model_schema_argument(module, slots[1]));
  const auto& descriptors = schema->model.descriptors;
  std::size_t width = descriptors.size();
  PyObject* plan = slots[2];
  if (!PyTuple_CheckExact(plan) || static_cast<std::size_t>(PyTuple_GET_SIZE(plan)) != width) {
    ZB_CHECK_OK(bad_plan("expected a tuple with one entry per schema field"));
  }
  Object owner;
  ZB_TRY(const void* result, pgresult_of(slots[0], owner));
  const Libpq* pq = loaded_libpq();
  if (!pq || !result || static_cast<std::size_t>(pq->nfields(result)) < width) return std::optional<Call>();
  Call call{pq, std::move(owner), result, schema, {}, pq->ntuples(result)};
  call.readers.reserve(width);
  for (std::size_t i = 0; i < width; ++i) {
    PyObject* entry = PyTuple_GET_ITEM(plan, static_cast<Py_ssize_t>(i));
    long code = PyLong_CheckExact(entry) ? PyLong_AsLong(entry) : -1;
    if (code == -1 && PyErr_Occurred()) return python_error();
    int column = static_cast<int>(i);
    if (code != kRawCode && code != kJsonTextCode) return std::optional<Call>();
    if (pq->fformat(result, column) != 0) return std::optional<Call>();
    auto reader = text_reader(descriptors[i].kind.tag, pq->ftype(result, column), code == kJsonTextCode);
    if (!reader) return std::optional<Call>();
    call.readers.push_back(*reader);
  }
  return std::optional<Call>(std::move(call));
}

std::string_view value_text(const Call& call, int row, int column) {
  return std::string_view(call.pq->getvalue(call.result, row, column),
                          static_cast<std::size_t>(call.pq->getlength(call.result, row, column)));
}

// A failure of a conversion refuses the rows; exceptions that are not
// ordinary propagate.
Result<bool> refused_on_failure(Error&& error) {
  if (std::holds_alternative<PythonRaised>(error)) ZB_CHECK_OK(absorb_ordinary_error());
  return false;
}

// The route's dict value; empty when refused.
Result<Object> record_value(const Value& v, const django::FieldDescriptor& d, JsonObjectReader& json) {
  using K = Value::Kind;
  switch (v.kind) {
    case K::Typed:
      return field_value_to_python(d.name, v.typed);
    case K::Str:
      return utf8_text(v.text);
    case K::Int:
      return checked(PyLong_FromLongLong(v.int_value));
    case K::Float:
      return checked(PyFloat_FromDouble(v.float_value));
    case K::Bool:
      return Object::borrow(v.bool_value ? Py_True : Py_False);
    case K::Bytes: {
      Buffer base64;
      text::encode_base64(v.bytes, base64);
      return ascii_text(base64.view());
    }
    case K::Json: {
      // As in queryset_rows.cc: what the strict reader takes json.loads reads
      // alike; JSON null is checked like a missing value.
      ZB_TRY(Object loaded, json.read(v.text));
      if (loaded && loaded.get() == Py_None && !d.accepts_null()) return Object();
      return loaded;
    }
  }
  return Object();
}

Result<Object> records_body(PyObject* module, Slots slots) {
  ZB_TRY(std::optional<Call> bound, bind_call(module, slots));
  if (!bound) return Object::borrow(Py_None);
  const Call& call = *bound;
  const auto& descriptors = call.schema->model.descriptors;
  std::size_t width = descriptors.size();
  ZB_TRY(Object out, checked(PyList_New(call.rows)));
  PyObject* blank = call.schema->record_template.get();
  JsonObjectReader json(rows::kAlwaysReadableIntDigits);
  Value value;
  for (int r = 0; r < call.rows; ++r) {
    ZB_TRY(Object record, checked(PyDict_Copy(blank)));
    for (std::size_t i = 0; i < width; ++i) {
      int column = static_cast<int>(i);
      if (call.pq->getisnull(call.result, r, column)) {
        if (!descriptors[i].accepts_null()) return Object::borrow(Py_None);
        continue;
      }
      if (!read_text(call.readers[i], value_text(call, r, column), value)) return Object::borrow(Py_None);
      Result<Object> converted = record_value(value, descriptors[i], json);
      if (!converted) {
        ZB_TRY(bool ignored, refused_on_failure(std::move(converted).error()));
        (void)ignored;
        return Object::borrow(Py_None);
      }
      if (!*converted) return Object::borrow(Py_None);
      // In field order, so of equal names the later field's value stays.
      ZB_CHECK_OK(checked_status(PyDict_SetItem(record.get(), call.schema->key_pointers[i], converted->get())));
    }
    PyList_SET_ITEM(out.get(), r, record.release());
  }
  return out;
}

// Writes one value into the record; false when refused.
bool write_value(const Value& v, const django::FieldDescriptor& d, std::size_t i, ModelRecordWriter& record,
                 json::JsonRewriter& rewriter) {
  using K = Value::Kind;
  return record.put(i, [&](Buffer& stage) {
    switch (v.kind) {
      case K::Typed:
        json::write_field_value(v.typed, stage);
        return true;
      case K::Str:
        json::write_string(v.text, stage);
        return true;
      case K::Int:
        json::write_int(v.int_value, stage);
        return true;
      case K::Float:
        json::write_float_repr(v.float_value, stage);
        return true;
      case K::Bool:
        stage.append(v.bool_value ? "true" : "false");
        return true;
      case K::Bytes:
        json::write_base64(v.bytes, stage);
        return true;
      case K::Json: {
        std::size_t start = stage.size();
        if (rewriter.rewrite(v.text, stage) != json::RewriteResult::Written) return false;
        if (!d.accepts_null() && stage.view().substr(start) == "null") {
          stage.truncate(start);
          return false;
        }
        return true;
      }
    }
    return false;
  });
}

Result<Object> json_body(PyObject* module, Slots slots) {
  ZB_TRY(RecordsForm form, records_form(slots[3]));
  ZB_TRY(std::optional<Call> bound, bind_call(module, slots));
  if (!bound) return Object::borrow(Py_None);
  const Call& call = *bound;
  const auto& descriptors = call.schema->model.descriptors;
  std::size_t width = descriptors.size();
  JsonOutput output;
  Buffer& out = output.buffer();
  ModelRecordWriter record(*call.schema);
  json::JsonRewriter rewriter(rows::kAlwaysReadableIntDigits);
  Value value;
  open_records(form, out);
  for (int r = 0; r < call.rows; ++r) {
    record.begin();
    for (std::size_t i = 0; i < width; ++i) {
      int column = static_cast<int>(i);
      if (call.pq->getisnull(call.result, r, column)) {
        if (!descriptors[i].accepts_null()) return Object::borrow(Py_None);
        record.set_null(i);
        continue;
      }
      if (!read_text(call.readers[i], value_text(call, r, column), value) ||
          !write_value(value, descriptors[i], i, record, rewriter)) {
        return Object::borrow(Py_None);
      }
    }
    before_record(form, r == 0, out);
    std::size_t start = out.size();
    Status finished = record.finish(out);
    if (!finished) {
      ZB_TRY(bool ignored, refused_on_failure(std::move(finished).error()));
      (void)ignored;
      return Object::borrow(Py_None);
    }
    after_record(form, out);
    if (r == 0) reserve_like_first(out, out.size() - start, call.rows);
  }
  close_records(form, out);
  return output.finish();
}

constexpr const char* kParams[] = {"cursor_or_result", "schema", "plan"};
constexpr KeywordOnly kJsonKeywords[] = {{"form", false}};
constexpr CallSignature kRecordsSig{"_queryset_pg_records", nullptr, kParams, 3, {}};
constexpr CallSignature kJsonSig{"_queryset_pg_json", nullptr, kParams, 3, kJsonKeywords};

}  // namespace

PyMethodDef kQuerysetPgRecordsDef = {
    "_queryset_pg_records", fast_method<kRecordsSig, records_body>(), METH_FASTCALL | METH_KEYWORDS,
    "_queryset_pg_records(cursor_or_result, schema, plan)\n--\n\n"
    "The rows of the PostgreSQL result a psycopg 3 cursor holds after\n"
    "execute() (or of a psycopg PGresult) as serialize_values_list() gives\n"
    "the values_list() rows, or None when the values_list route must run."};

PyMethodDef kQuerysetPgJsonDef = {
    "_queryset_pg_json", fast_method<kJsonSig, json_body>(), METH_FASTCALL | METH_KEYWORDS,
    "_queryset_pg_json(cursor_or_result, schema, plan, *, form=0)\n--\n\n"
    "The same as UTF-8 JSON bytes, or None. form: 0 a JSON array, 1 the\n"
    "records joined by ',' without brackets, 2 each record followed by a\n"
    "newline."};

}  // namespace zembra::py
