#include "binding/core/direct_convert.h"

#include "binding/core/imports.h"
#include "binding/core/known_objects.h"
#include "binding/core/python_text.h"
#include "pure/common/buffer.h"
#include "pure/text/base64.h"
#include "pure/text/uuid.h"

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
      return checked(PyObject_Str(value));
    case CoreKindTag::Uuid: {
      ZB_TRY(std::optional<Uuid> known, exact_uuid(value));
      if (!known) return checked(PyObject_Str(value));
      Buffer out;
      text::format_uuid(*known, out);
      return ascii_text(out.view());
    }
    case CoreKindTag::DateTime:
    case CoreKindTag::Date:
    case CoreKindTag::Time: {
      Buffer out;
      ZB_TRY(bool written, write_exact_isoformat(value, out));
      if (written) return ascii_text(out.view());
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
