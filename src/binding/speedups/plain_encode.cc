// encode_json_plain: what json.dumps writes, without the typed forms, so a
// renderer can tell the values it must hand to its own encoder.
#include "binding/core/frame.h"
#include "binding/speedups/column_layout.h"
#include "binding/speedups/json_output.h"
#include "binding/speedups/value_writer.h"

namespace zembra::py {
namespace {

constexpr const char* kValueParams[] = {"value"};
constexpr CallSignature kEncodePlainSig{"encode_json_plain", nullptr, kValueParams, 1, {}};

Result<Object> encode_plain_body(PyObject*, Slots slots) {
  JsonOutput output;
  ZB_CHECK_OK(ValueWriter(output, false).write(slots[0]));
  return output.finish();
}

}  // namespace

PyMethodDef kEncodeJsonPlainDef = {
    "encode_json_plain", fast_method<kEncodePlainSig, encode_plain_body>(), METH_FASTCALL | METH_KEYWORDS,
    "encode_json_plain(value)\n--\n\n"
    "json.dumps(value, ensure_ascii=False, separators=(',', ':'),\n"
    "allow_nan=False).encode(), with its errors: objects the json module\n"
    "cannot encode raise TypeError."};

}  // namespace zembra::py
