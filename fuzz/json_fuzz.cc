// Feeds arbitrary bytes to the JSON reader. Rejections must carry a position
// inside the text; acceptances must hold well-formed trees that survive being
// written out and read back unchanged.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pure/text/json.h"

using zembra::JsonArray;
using zembra::JsonBigInt;
using zembra::JsonObject;
using zembra::JsonValue;

namespace {

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "json_fuzz: %s\n", what);
  std::abort();
}

void write_hex_escape(std::uint32_t unit, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

// Writes a decoded string; with ascii_only every non-ASCII character becomes
// \u escapes (a surrogate pair above U+FFFF) so both decoding paths are used.
void write_string(const std::string& s, bool ascii_only, std::string& out) {
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      write_hex_escape(c, out);
      ++i;
    } else if (c < 0x80 || !ascii_only) {
      out += static_cast<char>(c);
      ++i;
    } else {
      // The reader guarantees valid UTF-8, so the lead byte gives the length.
      const std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      if (i + n > s.size()) die("decoded string is cut short");
      std::uint32_t cp = c & (0x7F >> n);
      for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
      if (cp >= 0x10000) {
        write_hex_escape(0xD800 + ((cp - 0x10000) >> 10), out);
        write_hex_escape(0xDC00 + ((cp - 0x10000) & 0x3FF), out);
      } else {
        write_hex_escape(cp, out);
      }
      i += n;
    }
  }
  out += '"';
}

template <class T>
void write_number(T n, std::string& out) {
  char digits[64];
  const auto result = std::to_chars(digits, digits + sizeof digits, n);
  out.append(digits, result.ptr);
}

void write(const JsonValue& v, bool ascii_only, std::string& out) {
  switch (v.type()) {
    case JsonValue::Type::Null: out += "null"; break;
    case JsonValue::Type::Bool: out += v.as<bool>() ? "true" : "false"; break;
    case JsonValue::Type::Int: write_number(v.as<std::int64_t>(), out); break;
    case JsonValue::Type::UInt:
      if (v.as<std::uint64_t>() <= INT64_MAX) die("UInt that fits Int");
      write_number(v.as<std::uint64_t>(), out);
      break;
    case JsonValue::Type::BigInt: out += v.as<JsonBigInt>().digits; break;
    case JsonValue::Type::Double: {
      const double d = v.as<double>();
      if (!std::isfinite(d)) die("non-finite double");
      const std::size_t start = out.size();
      write_number(d, out);
      // Keep it a double when read back: "100" or "-0" would be integers.
      if (out.find_first_of(".e", start) == std::string::npos) out += ".0";
      break;
    }
    case JsonValue::Type::String: write_string(v.as<std::string>(), ascii_only, out); break;
    case JsonValue::Type::Array: {
      out += '[';
      const auto& items = v.as<JsonArray>();
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        write(items[i], ascii_only, out);
      }
      out += ']';
      break;
    }
    case JsonValue::Type::Object: {
      out += '{';
      const auto& members = v.as<JsonObject>();
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (i) {
          if (!(members[i - 1].first < members[i].first)) die("object keys not strictly ascending");
          out += ", ";
        }
        write_string(members[i].first, ascii_only, out);
        out += ": ";
        write(members[i].second, ascii_only, out);
      }
      out += '}';
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = zembra::text::parse_json(text);
  if (!parsed) {
    const auto& error = parsed.error();
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n';
    if (error.line < 1 || error.line > lines || error.column > size) die("error position outside the text");
    if (zembra::text::message(error).find(" at line ") == std::string::npos) die("malformed message");
    return 0;
  }
  for (bool ascii_only : {false, true}) {
    std::string written;
    write(*parsed, ascii_only, written);
    auto again = zembra::text::parse_json(written);
    if (!again) die(zembra::text::message(again.error()).c_str());
    if (!(*again == *parsed)) die("tree changed after writing and reading back");
  }
  return 0;
}
