// The JSON text writers: the layouts of the interpreter's float repr,
// integer edges, and the escapes and surrogate report of strings.
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "check.h"
#include "pure/json_writer/json_text.h"

using namespace zembra;

namespace {

std::string repr(double v) {
  Buffer b;
  json::write_float_repr(v, b);
  return b.str();
}

template <class Unit>
std::string units(std::u32string_view text, bool& surrogate) {
  std::basic_string<Unit> data(text.begin(), text.end());
  Buffer b;
  surrogate = json::write_string_units(reinterpret_cast<const Unit*>(data.data()), data.size(), b);
  return b.str();
}

}  // namespace

TEST_CASE("float repr layouts") {
  CHECK_EQ(repr(0.0), "0.0");
  CHECK_EQ(repr(-0.0), "-0.0");
  CHECK_EQ(repr(100.0), "100.0");
  CHECK_EQ(repr(0.1), "0.1");
  CHECK_EQ(repr(1e15), "1000000000000000.0");
  CHECK_EQ(repr(1234567890123456.0), "1234567890123456.0");
  CHECK_EQ(repr(1e16), "1e+16");
  CHECK_EQ(repr(1.5e16), "1.5e+16");
  CHECK_EQ(repr(0.0001), "0.0001");
  CHECK_EQ(repr(0.00001), "1e-05");
  CHECK_EQ(repr(-1.25e-7), "-1.25e-07");
  CHECK_EQ(repr(5e-324), "5e-324");
  CHECK_EQ(repr(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
}

TEST_CASE("integers at the edges") {
  Buffer b;
  json::write_int(std::numeric_limits<std::int64_t>::min(), b);
  b.push_back(' ');
  json::write_int(0, b);
  b.push_back(' ');
  json::write_uint(std::numeric_limits<std::uint64_t>::max(), b);
  CHECK_EQ(b.str(), "-9223372036854775808 0 18446744073709551615");
}

TEST_CASE("string escapes and surrogates") {
  Buffer b;
  json::write_string("a\"\\\n\r\t\b\f\x01\x1f\x7f \xc3\xa9", b);
  CHECK_EQ(b.str(), "\"a\\\"\\\\\\n\\r\\t\\b\\f\\u0001\\u001f\x7f \xc3\xa9\"");
  // Long texts are written a slice at a time: the escapes on either side of
  // a slice's end must come out whole.
  std::string many(5000, '"');
  b.clear();
  json::write_string(many, b);
  CHECK_EQ(b.size(), 2 * many.size() + 2);
  bool surrogate = false;
  CHECK_EQ(units<std::uint16_t>(U"\u00e9\u20ac\n", surrogate), "\"\xc3\xa9\xe2\x82\xac\\n\"");
  CHECK(!surrogate);
  CHECK_EQ(units<std::uint16_t>(std::u32string(1, 0xD800), surrogate), "\"\xed\xa0\x80\"");
  CHECK(surrogate);
  CHECK_EQ(units<std::uint32_t>(U"\U0001F600", surrogate), "\"\xf0\x9f\x98\x80\"");
  CHECK(!surrogate);
  CHECK_EQ(units<std::uint8_t>(U"\u00ff\"", surrogate), "\"\xc3\xbf\\\"\"");
}

namespace {

// One byte at a time: the escapes of json_text.h, and with latin1 each byte
// read as a code point and encoded as UTF-8.
std::string reference_string(const std::string& bytes, bool latin1) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char esc[7];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else if (latin1 && c >= 0x80) {
          out += static_cast<char>(0xC0 | (c >> 6));
          out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace

TEST_CASE("block scans at every length and position") {
  // A special byte at every position of every length around the 4-, 8- and
  // 16-byte blocks, alone and in runs, and texts made only of it.
  const unsigned char specials[] = {'"', '\\', '\n', 0x00, 0x1f, 0x20, 0x7f, 0x80, 0xe9, 0xff};
  for (unsigned char special : specials) {
    for (std::size_t length = 0; length <= 40; ++length) {
      for (std::size_t at = 0; at <= length; ++at) {
        std::string text(length, 'a');
        if (at < length) text[at] = static_cast<char>(special);
        if (at == length) text.assign(length, static_cast<char>(special));
        bool utf8_valid = special < 0x80;
        if (utf8_valid) {
          Buffer b;
          json::write_string(text, b);
          CHECK_EQ(b.str(), reference_string(text, false));
        }
        Buffer units;
        json::write_string_units(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), units);
        CHECK_EQ(units.str(), reference_string(text, true));
      }
    }
  }
}

TEST_CASE("integers at every digit count") {
  std::uint64_t power = 1;
  for (int digits = 1; digits <= 20; ++digits) {
    for (std::uint64_t v : {power, power - 1, power + 1}) {
      Buffer b;
      json::write_uint(v, b);
      CHECK_EQ(b.str(), std::to_string(v));
      if (v <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        Buffer n;
        json::write_int(-static_cast<std::int64_t>(v), n);
        CHECK_EQ(n.str(), std::to_string(-static_cast<std::int64_t>(v)));
      }
    }
    if (digits < 20) power *= 10;
  }
}

ZB_TEST_MAIN()
