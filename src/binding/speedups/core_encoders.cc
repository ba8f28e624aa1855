// serialize_json, serialize_many_json and encode_json.
#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/core/list_walk.h"
#include "binding/speedups/core_records.h"
#include "binding/speedups/speedups_functions.h"
#include "binding/speedups/speedups_state.h"
#include "binding/speedups/value_writer.h"

namespace zembra::py {
namespace {

constexpr const char* kValueParams[] = {"value"};
constexpr const char* kSerializeParams[] = {"data", "schema"};
constexpr const char* kSerializeManyParams[] = {"data_list", "schema"};
constexpr CallSignature kEncodeJsonSig{"encode_json", nullptr, kValueParams, 1, {}};
constexpr CallSignature kSerializeJsonSig{"serialize_json", nullptr, kSerializeParams, 2, {}};
constexpr CallSignature kSerializeManyJsonSig{"serialize_many_json", nullptr, kSerializeManyParams, 2, {}};

Result<Object> encode_json_body(PyObject*, Slots slots) {
  JsonOutput output;
  ZB_CHECK_OK(ValueWriter(output, true).write(slots[0]));
  return output.finish();
}

Result<Object> serialize_json_body(PyObject* module, Slots slots) {
  ZB_TRY(const SchemaObject* schema, core_schema_argument(module, slots[1]));
  JsonOutput output;
  TypedRecordWriter records(*schema);
  ZB_CHECK_OK(records.write(slots[0], output.buffer()));
  return output.finish();
}

// The dict route converts every record before json.dumps sees any of them,
// so an error of the json module's (in a value passed through) only counts
// once the route has gone through the remaining records without failing.
Result<Object> serialize_many_json_body(PyObject* module, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("data_list", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const SchemaObject* schema, core_schema_argument(module, slots[1]));
  JsonOutput output;
  Buffer& out = output.buffer();
  TypedRecordWriter typed(*schema);
  DictRecordWriter dicts(*schema, output);
  Object json_error;
  Buffer discarded;
  out.push_back('[');
  Py_ssize_t index = 0;
  ZB_CHECK_OK(for_each_item(list, [&](PyObject* item) -> Status {
    bool is_dict = PyDict_Check(item);
    if (json_error) {
      if (is_dict) return dicts.convert(item);
      discarded.clear();
      return typed.write(item, discarded);
    }
    if (index) out.push_back(',');
    std::size_t start = out.size();
    if (!is_dict) {
      ZB_CHECK_OK(typed.write(item, out));
    } else {
      ZB_CHECK_OK(dicts.convert(item));
      Status written = dicts.write(item);
      if (!written && std::holds_alternative<PythonRaised>(written.error())) {
        json_error = Object::steal(PyErr_GetRaisedException());
        return {};
      }
      ZB_CHECK_OK(std::move(written));
    }
    if (index++ == 0) reserve_like_first(out, out.size() - start, PyList_GET_SIZE(list));
    return {};
  }));
  if (json_error) {
    PyErr_SetRaisedException(json_error.release());
    return python_error();
  }
  out.push_back(']');
  return output.finish();
}

}  // namespace

PyMethodDef kEncodeJsonDef = {
    "encode_json", fast_method<kEncodeJsonSig, encode_json_body>(), METH_FASTCALL | METH_KEYWORDS,
    "encode_json(value)\n--\n\n"
    "Encodes a JSON-ready value as UTF-8 JSON bytes.\n\n"
    "The text is json.dumps(value, ensure_ascii=False, separators=(\",\", \":\"),\n"
    "allow_nan=False) encoded as UTF-8, with the same errors, except that\n"
    "Decimal, UUID, datetime, date, time, bytes and bytearray values are\n"
    "written in the typed route's text forms."};

PyMethodDef kSerializeJsonDef = {
    "serialize_json", fast_method<kSerializeJsonSig, serialize_json_body>(), METH_FASTCALL | METH_KEYWORDS,
    "serialize_json(data, schema)\n--\n\n"
    "serialize(data, schema) as UTF-8 JSON bytes, written directly."};

PyMethodDef kSerializeManyJsonDef = {
    "serialize_many_json", fast_method<kSerializeManyJsonSig, serialize_many_json_body>(),
    METH_FASTCALL | METH_KEYWORDS,
    "serialize_many_json(data_list, schema)\n--\n\n"
    "serialize_many(data_list, schema) as UTF-8 JSON bytes, written directly."};

}  // namespace zembra::py
