#include "binding/speedups/json_output.h"

#include "pure/json_writer/json_text.h"

namespace zembra::py {

bool write_wide_str_object(PyObject* text, Buffer& out) {
  // From the code units rather than through PyUnicode_AsUTF8AndSize, which
  // would leave a UTF-8 copy with every str written.
  auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(text));
  const void* data = PyUnicode_DATA(text);
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
      return json::write_string_units(static_cast<const std::uint8_t*>(data), n, out);
    case PyUnicode_2BYTE_KIND:
      return json::write_string_units(static_cast<const std::uint16_t*>(data), n, out);
    default:
      return json::write_string_units(static_cast<const std::uint32_t*>(data), n, out);
  }
}

void reserve_like_first(Buffer& out, std::size_t first_size, Py_ssize_t count) {
  if (count < 2) return;
  std::size_t rest = static_cast<std::size_t>(count - 1) * (first_size + 1);
  out.reserve(rest + rest / 8);
}

namespace {

// Larger buffers are freed: a thread keeps at most this much between calls.
constexpr std::size_t kKeptCapacity = std::size_t{8} << 20;
thread_local std::unique_ptr<Buffer> spare_buffer;

}  // namespace

JsonOutput::JsonOutput() : buffer_(spare_buffer ? std::move(spare_buffer) : std::make_unique<Buffer>()) {}

JsonOutput::~JsonOutput() {
  if (buffer_->capacity() > kKeptCapacity) return;
  buffer_->clear();
  spare_buffer = std::move(buffer_);
}

Result<Object> JsonOutput::finish() const {
  auto size = static_cast<Py_ssize_t>(buffer_->size());
  if (!surrogates_) return checked(PyBytes_FromStringAndSize(buffer_->data(), size));
  ZB_TRY(Object text, checked(PyUnicode_DecodeUTF8(buffer_->data(), size, "surrogatepass")));
  return checked(PyUnicode_AsUTF8String(text.get()));
}

}  // namespace zembra::py
