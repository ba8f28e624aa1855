#include "pure/json_writer/typed_values.h"

#include "pure/text/base64.h"
#include "pure/text/datetime.h"
#include "pure/text/decimal.h"
#include "pure/text/uuid.h"
#include "pure/json_writer/json_text.h"

namespace zembra::json {
namespace {

// The text forms need no escapes: digits, signs, separators and Base64.
template <class Format, class T>
void quoted(Format format, const T& value, Buffer& out) {
  out.push_back('"');
  format(value, out);
  out.push_back('"');
}

struct TreeWriter {
  Buffer& out;
  void operator()(std::monostate) const { out.append("null"); }
  void operator()(bool b) const { out.append(b ? "true" : "false"); }
  void operator()(std::int64_t v) const { write_int(v, out); }
  void operator()(std::uint64_t v) const { write_uint(v, out); }
  void operator()(const JsonBigInt& v) const { out.append(v.digits); }
  void operator()(double v) const { write_float_repr(v, out); }
  void operator()(const std::string& s) const { write_string(s, out); }
  void operator()(const JsonArray& items) const {
    out.push_back('[');
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i) out.push_back(',');
      write_json_value(items[i], out);
    }
    out.push_back(']');
  }
  void operator()(const JsonObject& entries) const {
    out.push_back('{');
    bool first = true;
    for (const auto& [key, value] : entries) {
      if (!first) out.push_back(',');
      first = false;
      write_string(key, out);
      out.push_back(':');
      write_json_value(value, out);
    }
    out.push_back('}');
  }
};

}  // namespace

void write_decimal(const Decimal& value, Buffer& out) { quoted(text::format_decimal, value, out); }
void write_date(const Date& value, Buffer& out) { quoted(text::format_date, value, out); }
void write_time(const Time& value, Buffer& out) { quoted(text::format_time, value, out); }
void write_datetime(const DateTime& value, Buffer& out) { quoted(text::format_datetime_utc, value, out); }
void write_uuid(const Uuid& value, Buffer& out) { quoted(text::format_uuid, value, out); }
void write_base64(std::string_view bytes, Buffer& out) { quoted(text::encode_base64, bytes, out); }

void write_json_value(const JsonValue& value, Buffer& out) { std::visit(TreeWriter{out}, value.storage()); }

void write_field_value(const FieldValue& value, Buffer& out) {
  struct Visitor {
    Buffer& out;
    void operator()(const std::string& s) const { write_string(s, out); }
    void operator()(std::int64_t v) const { write_int(v, out); }
    void operator()(double v) const { write_float_repr(v, out); }
    void operator()(const Decimal& v) const { write_decimal(v, out); }
    void operator()(bool b) const { out.append(b ? "true" : "false"); }
    void operator()(const Date& v) const { write_date(v, out); }
    void operator()(const Time& v) const { write_time(v, out); }
    void operator()(const DateTime& v) const { write_datetime(v, out); }
    void operator()(const Uuid& v) const { write_uuid(v, out); }
    void operator()(const JsonValue& v) const { write_json_value(v, out); }
    void operator()(const ByteString& v) const { write_base64(v.data, out); }
    void operator()(const Null&) const { out.append("null"); }
  };
  std::visit(Visitor{out}, value);
}

}  // namespace zembra::json
