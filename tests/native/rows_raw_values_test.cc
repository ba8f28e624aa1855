// The raw-value readers of the queryset route: SQLite's decimal rounding,
// UUID hex, and JSON text rewritten as the routes write a JSON value.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "check.h"
#include "pure/text/json.h"
#include "pure/json_writer/json_rewrite.h"
#include "pure/json_writer/typed_values.h"
#include "pure/rows/raw_values.h"

using namespace zembra;

namespace {

std::string dec(double v, std::uint32_t digits, std::uint32_t places) {
  auto text = rows::sqlite_decimal_text(v, rows::DecimalColumn{digits, places, false});
  return text ? *text : "<none>";
}

std::string dec_int(std::int64_t v, std::uint32_t digits, std::uint32_t places, bool round = false) {
  auto text = rows::sqlite_decimal_text(v, rows::DecimalColumn{digits, places, round});
  return text ? *text : "<none>";
}

std::string rewrite(std::string_view text, std::size_t max_digits = 640) {
  json::JsonRewriter rewriter(max_digits);
  Buffer out;
  out.append("<");
  switch (rewriter.rewrite(text, out)) {
    case json::RewriteResult::Written:
      return out.str().substr(1);
    case json::RewriteResult::IntegerTooLong:
      return out.str() == "<" ? "<too long>" : "<dirty>";
    case json::RewriteResult::NotStrictJson:
      return out.str() == "<" ? "<refused>" : "<dirty>";
  }
  return "";
}

// What the routes write for the tree the strict reader builds.
std::string via_tree(std::string_view text) {
  auto tree = text::parse_json(text);
  if (!tree) return "<refused>";
  Buffer out;
  json::write_json_value(*tree, out);
  return out.str();
}

}  // namespace

TEST_CASE("REAL decimals: 15 digits half even, then quantized half even") {
  CHECK_EQ(dec(1986.98, 10, 2), "1986.98");
  CHECK_EQ(dec(0.125, 5, 2), "0.12");   // exact tie, even digit kept
  CHECK_EQ(dec(0.375, 5, 2), "0.38");   // exact tie, rounded to even
  CHECK_EQ(dec(0.1 + 0.2, 5, 2), "0.30");
  // The doubles lie just below 1.005 and 2.675; at 15 digits they are ties.
  CHECK_EQ(dec(1.005, 6, 2), "1.00");
  CHECK_EQ(dec(2.675, 6, 2), "2.68");
  CHECK_EQ(dec(-0.0, 5, 2), "-0.00");   // the sign of a zero stays
  CHECK_EQ(dec(-1e-300, 5, 2), "-0.00");
  CHECK_EQ(dec(5e-324, 3, 0), "0");
  CHECK_EQ(dec(123.0, 3, 0), "123");
  CHECK_EQ(dec(1234.0, 3, 0), "<none>");  // more digits than max_digits
  CHECK_EQ(dec(999.996, 5, 2), "<none>");  // rounds up to 1000.00
  CHECK_EQ(dec(0.1, 40, 30), "0.100000000000000000000000000000");
  CHECK_EQ(dec(1e22, 40, 2), "10000000000000000000000.00");
  CHECK_EQ(dec(1234567890123456789.0, 25, 0), "1234567890123460000");
  CHECK_EQ(dec(std::numeric_limits<double>::infinity(), 10, 2), "<none>");
  CHECK_EQ(dec(std::numeric_limits<double>::quiet_NaN(), 10, 2), "<none>");
  CHECK_EQ(dec(1.5, 0, 0), "<none>");  // no precision at all
}

TEST_CASE("INTEGER decimals: exact, or rounded to 15 digits by older converters") {
  CHECK_EQ(dec_int(42, 5, 2), "42.00");
  CHECK_EQ(dec_int(-7, 5, 0), "-7");
  CHECK_EQ(dec_int(0, 1, 0), "0");
  CHECK_EQ(dec_int(1234567890123456789, 19, 0, false), "1234567890123456789");
  CHECK_EQ(dec_int(1234567890123456789, 19, 0, true), "1234567890123460000");
  CHECK_EQ(dec_int(1234567890123455000, 19, 0, true), "1234567890123460000");  // tie, to even
  CHECK_EQ(dec_int(std::numeric_limits<std::int64_t>::min(), 19, 0, false), "-9223372036854775808");
  CHECK_EQ(dec_int(100000, 5, 0, false), "<none>");
}

TEST_CASE("UUIDs of exactly 32 hex digits") {
  auto uuid = rows::uuid_from_hex("0123456789abcdefABCDEF0123456789");
  CHECK(uuid.has_value());
  CHECK_EQ(int(uuid->bytes[0]), 0x01);
  CHECK_EQ(int(uuid->bytes[7]), 0xef);
  CHECK_EQ(int(uuid->bytes[8]), 0xab);
  CHECK(!rows::uuid_from_hex("0123456789abcdef0123456789abcde").has_value());
  CHECK(!rows::uuid_from_hex("0123456789abcdef0123456789abcdeg").has_value());
  CHECK(!rows::uuid_from_hex("01234567-89ab-cdef-0123-456789abcdef").has_value());
}

TEST_CASE("rewritten JSON is what the routes write for the strict reader's tree") {
  const char* texts[] = {
      "null", " true ", "-0", "-0.0", "1E2", "1e-400", "12345678901234567890", "-98765432109876543210987",
      R"({"b": 1, "a": [1.5, {"d": {}, "c": []}], "a": "again"})", R"("\u00e9\ud83d\ude00\n\u0001\/")",
      R"([[], {}, [{}], {"": {"": null}}])", R"({"ü": 1, "u": 2, "z": 3, "é": 4, "e": 5})",
      "[1, 2.50, 3e+2, -4E-2]", R"({"k": 1, "k": {"x": [1, {"k": 2, "k": 3}]}})"};
  for (const char* text : texts) CHECK_EQ(rewrite(text), via_tree(text));
}

TEST_CASE("rewriting refuses what the strict reader refuses, leaving the output as it was") {
  for (const char* text : {"", "NaN", "[1,]", R"("\ud800")", "{\"a\":", "1e400", "[1] x", "\xef\xbb\xbf{}"})
    CHECK_EQ(rewrite(text), "<refused>");
  CHECK_EQ(rewrite("[1, 123456789012345678901234567890]", 25), "<too long>");
  CHECK_EQ(rewrite("[1, 123456789012345678901234567890]", 30), "[1,123456789012345678901234567890]");
}

ZB_TEST_MAIN()
