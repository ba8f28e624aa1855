#include "binding/direct_convert.h"

#include "binding/imports.h"
#include "binding/python_text.h"
#include "common/buffer.h"
#include "text/base64.h"

namespace zembra::py {
namespace {

Result<Object> base64_text(PyObject* value) {
  if (PyBytes_CheckExact(value)) {
    // Same text as base64.b64encode(value).decode("ascii"), without the calls.
    Buffer out;
    text::encode_base64(std::string_view(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value))),
                        out);
    return ascii_text(out.view());
  }
  ZB_TRY(Object encode, imported_attribute("base64", "b64encode"));
  ZB_TRY(Object encoded, checked(PyObject_CallOneArg(encode.get(), value)));
  return checked(PyObject_CallMethod(encoded.get(), "decode", "s", "ascii"));
}

}  // namespace

Result<Object> convert_direct(PyObject* value, CoreKindTag kind) {
  switch (kind) {
    case CoreKindTag::Decimal:
    case CoreKindTag::Uuid:
      return checked(PyObject_Str(value));
    case CoreKindTag::DateTime:
    case CoreKindTag::Date:
    case CoreKindTag::Time: {
      static PyObject* name = PyUnicode_InternFromString("isoformat");
      if (!name) return python_error();
      return checked(PyObject_CallMethodNoArgs(value, name));
    }
    case CoreKindTag::Bytes:
      return base64_text(value);
    default:
      return Object::borrow(value);
  }
}

}  // namespace zembra::py
