// validate and validate_many.
#include "binding/convert.h"
#include "binding/core_functions.h"
#include "binding/frame.h"
#include "binding/schema_type.h"

namespace zembra::py {
namespace {

constexpr const char* kValidateParams[] = {"data", "schema"};
constexpr const char* kValidateManyParams[] = {"data_list", "schema"};
constexpr CallSignature kValidateSig{"validate", nullptr, kValidateParams, 2, {}};
constexpr CallSignature kValidateManySig{"validate_many", nullptr, kValidateManyParams, 2, {}};

Result<Object> validate_body(PyObject*, Slots slots) {
  ZB_TRY(const SchemaObject* schema, for_parameter("schema", to_schema(slots[1])));
  (void)schema;
  PyErr_SetString(PyExc_NotImplementedError, "not available in this build");
  return python_error();
}

Result<Object> validate_many_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("data_list", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const SchemaObject* schema, for_parameter("schema", to_schema(slots[1])));
  (void)list;
  (void)schema;
  PyErr_SetString(PyExc_NotImplementedError, "not available in this build");
  return python_error();
}

}  // namespace

PyMethodDef kValidateDef = {
    "validate", fast_method<kValidateSig, validate_body>(),
    METH_FASTCALL | METH_KEYWORDS,
    "validate(data, schema)\n--\n\nValidates a Python dict or object against a schema.\n\n"
    "Returns a dict with `is_valid`, `valid_count`, `error_count`, and `errors`."};

PyMethodDef kValidateManyDef = {
    "validate_many", fast_method<kValidateManySig, validate_many_body>(),
    METH_FASTCALL | METH_KEYWORDS,
    "validate_many(data_list, schema)\n--\n\nValidates a list of dicts or objects against a schema.\n\n"
    "Returns a combined validation report. For dict inputs, validates inline\n"
    "without creating intermediate FieldValue representations \u2014 avoids heap\n"
    "allocations for str fields (uses Python `len()` directly) and skips\n"
    "extraction entirely for bool fields (type check only)."};

}  // namespace zembra::py
