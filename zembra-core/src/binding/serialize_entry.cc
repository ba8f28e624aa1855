// serialize and serialize_many.
#include "binding/convert.h"
#include "binding/core_functions.h"
#include "binding/frame.h"
#include "binding/schema_type.h"

namespace zembra::py {
namespace {

constexpr const char* kSerializeParams[] = {"data", "schema"};
constexpr const char* kSerializeManyParams[] = {"data_list", "schema"};
constexpr CallSignature kSerializeSig{"serialize", nullptr, kSerializeParams, 2, {}};
constexpr CallSignature kSerializeManySig{"serialize_many", nullptr, kSerializeManyParams, 2, {}};

Result<Object> serialize_body(PyObject*, Slots slots) {
  ZB_TRY(const SchemaObject* schema, for_parameter("schema", to_schema(slots[1])));
  (void)schema;
  PyErr_SetString(PyExc_NotImplementedError, "not available in this build");
  return python_error();
}

Result<Object> serialize_many_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("data_list", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const SchemaObject* schema, for_parameter("schema", to_schema(slots[1])));
  (void)list;
  (void)schema;
  PyErr_SetString(PyExc_NotImplementedError, "not available in this build");
  return python_error();
}

}  // namespace

PyMethodDef kSerializeDef = {
    "serialize", fast_method<kSerializeSig, serialize_body>(),
    METH_FASTCALL | METH_KEYWORDS,
    "serialize(data, schema)\n--\n\nSerializes a Python dict or object using a precompiled schema.\n\n"
    "Accepts either a dict (keys are field names) or any object with\n"
    "attributes matching the schema field names.\n\n"
    "Returns a dict of serialized field values (JSON-compatible)."};

PyMethodDef kSerializeManyDef = {
    "serialize_many", fast_method<kSerializeManySig, serialize_many_body>(),
    METH_FASTCALL | METH_KEYWORDS,
    "serialize_many(data_list, schema)\n--\n\nSerializes a list of dicts or objects using a precompiled schema.\n\n"
    "Returns a list of dicts. For dict inputs, uses `PyDict_Copy` to shallow-copy\n"
    "the entire input dict in one C call, then only overwrites fields that need\n"
    "conversion (Decimal\u2192str, UUID\u2192str, DateTime\u2192isoformat, Bytes\u2192base64).\n"
    "Passthrough fields (str, int, float, bool, list, dict) are never touched."};

}  // namespace zembra::py
