// The JSON text writers: the layouts of the interpreter's float repr,
// integer edges, and the escapes and surrogate report of strings.
#include <cstdint>
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

ZB_TEST_MAIN()
