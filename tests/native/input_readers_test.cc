// The request readers' corner cases, with the answers of the interpreter's
// own json, int(), float(), Decimal(), fromisoformat() and ipaddress.
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "pure/input/json_document.h"
#include "pure/input/network.h"
#include "pure/input/number_text.h"
#include "pure/input/temporal.h"

using namespace zembra::input;

namespace {

std::string parse_error(std::string_view text, bool from_bytes = true) {
  Document doc;
  auto result = parse_document(text, from_bytes, doc);
  return result ? "" : result.error();
}

std::string decimal_text(std::string_view text) {
  auto n = python_decimal(text);
  if (!n) return "invalid";
  return (n->negative ? "-" : "") + n->digits + "E" + std::to_string(n->exponent);
}

}  // namespace

TEST_CASE("JSON errors in the json module's words and positions") {
  CHECK_EQ(parse_error("[1,]"), "Illegal trailing comma before end of array: line 1 column 3 (char 2)");
  CHECK_EQ(parse_error("{\"a\" 1}"), "Expecting ':' delimiter: line 1 column 6 (char 5)");
  CHECK_EQ(parse_error("\"\\u12"), "Invalid \\uXXXX escape: line 1 column 3 (char 2)");
  CHECK_EQ(parse_error("\"\\ud800\\udc0"), "Invalid \\uXXXX escape: line 1 column 9 (char 8)");
  CHECK_EQ(parse_error("\n\n  x"), "Expecting value: line 3 column 3 (char 4)");
  CHECK_EQ(parse_error("[\"\xC3\xA9\", x]"), "Expecting value: line 1 column 7 (char 6)");  // chars, not bytes
  CHECK_EQ(parse_error("1."), "Extra data: line 1 column 2 (char 1)");
  CHECK_EQ(parse_error("-Infinity"), "Out of range float values are not JSON compliant: '-Infinity'");
  CHECK_EQ(parse_error("\xEF\xBB\xBF{}"), "Unexpected UTF-8 BOM (decode using utf-8-sig): line 1 column 1 (char 0)");
  CHECK_EQ(parse_error("\"a\xFF\""), "'utf-8' codec can't decode byte 0xff in position 2: invalid start byte");
  CHECK_EQ(parse_error("\"\xE2\x82x\""), "'utf-8' codec can't decode bytes in position 1-2: invalid continuation byte");
  CHECK_EQ(parse_error("{}\xE2\x82"), "");  // an unfinished sequence at the very end is dropped
  CHECK_EQ(parse_error(std::string(1000, '[') + std::string(1000, ']')), "");
  CHECK_EQ(parse_error(std::string(1001, '[') + std::string(1001, ']')),
           "maximum recursion depth exceeded while decoding a JSON array from a unicode string");
}

TEST_CASE("JSON numbers and strings as the json module reads them") {
  Document doc;
  CHECK(parse_document("[1e400, -1e400, 1e-400, 123456789012345678901, \"\\ud800x\"]", true, doc).ok());
  CHECK(doc.nodes[1].number > 1e308 && doc.nodes[2].number < -1e308 && doc.nodes[3].number == 0.0);
  CHECK(doc.nodes[4].type == NodeType::BigInt && doc.nodes[4].view() == "123456789012345678901");
  CHECK(doc.nodes[5].view() == "\xED\xA0\x80x" && (doc.nodes[5].flags & kSurrogate));
  CHECK(parse_error(std::string(4301, '7')).find("Exceeds the limit (4300 digits)") == 0);
}

TEST_CASE("int(), float() and Decimal() of text") {
  CHECK(python_int(" \xD9\xA1\xD9\xA2_3 ")->digits == "123");
  CHECK(!python_int("1__0") && !python_int("_1") && !python_int("1_") && !python_int("0x10"));
  CHECK_EQ(python_hex_u128("0x_1f"), std::optional<unsigned __int128>(31));
  CHECK(!python_hex_u128("-1") && python_hex_u128("-0") == std::optional<unsigned __int128>(0));
  CHECK(python_float("1_0.5") == 10.5 && !python_float("1_.5") && !python_float("1e"));
  CHECK(python_float("1e400") > 1e308 && python_float("-nan").has_value());
  CHECK_EQ(decimal_text("_1_._5_"), "15E-1");  // Decimal() drops every separator
  CHECK_EQ(decimal_text("0.000"), "0E-3");
  CHECK_EQ(decimal_text("12e999999999999999998"), "12E999999999999999998");
  CHECK_EQ(decimal_text("12e999999999999999999"), "invalid");
  CHECK_EQ(decimal_text("1e-1999999999999999998"), "invalid");
  CHECK_EQ(decimal_text("1e99999999999999999999999999"), "invalid");
  CHECK_EQ(decimal_text("NaN"), "invalid");
  std::string text;
  for (double d : {1e16, 1e15, 1e-5, 1e-4, -0.0, 1.5e300}) {
    append_float_repr(d, text);
    text += ' ';
  }
  CHECK_EQ(text, "1e+16 1000000000000000.0 1e-05 0.0001 -0.0 1.5e+300 ");
  CHECK_EQ(exact_integer_part(1e23).digits, "99999999999999991611392");
}

TEST_CASE("dates, times and datetimes as fromisoformat() and Django's patterns read them") {
  auto date = [](std::string_view t) { return read_date(t, false).has_value(); };
  CHECK(date("2024-05-01") && date("20240501xy") && date("2020-W53-7") && date("2024-5-1") && date("2024-05-01\n"));
  CHECK(!date("2024-W53") && !date("0000-01-01") && !date("2024-02-30"));
  CHECK(read_date("\xD9\xA2\xD9\xA0\xD9\xA2\xD9\xA4-\xD9\xA0\xD9\xA5-\xD9\xA0\xD9\xA1", false)->year == 2024);
  auto time = [](std::string_view t) { return read_time(t, false); };
  CHECK(time(std::string_view("12\0", 3))->hour == 12);  // the interpreter stops at the NUL
  CHECK(time("12:30:45:123")->microsecond == 123000 && time("12.5")->microsecond == 500000);
  CHECK(!time("24:00") && !time("12:30+24:00") && !time("1230451"));
  const auto dt = read_datetime("2024-05-01T10:00:00.1234567+05:30", false);
  CHECK(dt && dt->aware && dt->offset_us == 19'800'000'000LL && dt->time.microsecond == 123456);
  CHECK(read_datetime("2024-01-01\xED\xA0\x80" "12:30", true)->time.hour == 12);  // a surrogate separator
  CHECK(read_datetime("I\xC5\xBFo-8601", false)->date.year == 1900);  // strptime(text, "iso-8601")
  CivilDateTime utc;
  CHECK(!to_utc(*read_datetime("0001-01-01T00:00:00+01:00", false), utc));
}

TEST_CASE("durations with the interpreter's float arithmetic") {
  Duration d;
  CHECK(read_duration("P0.3333333333D", d) == DurationRead::Ok && d.seconds == 28799 && d.microseconds == 999997);
  CHECK(read_duration("1 days, -1:00:00", d) == DurationRead::Ok && d.days == 0 && d.seconds == 82800);
  CHECK(read_duration("\n", d) == DurationRead::Ok && d.days == 0 && d.seconds == 0);
  CHECK(read_duration("-999999999 days", d) == DurationRead::Ok && d.days == -999999999);
  CHECK(read_duration("1000000000 days", d) == DurationRead::Overflow);
  CHECK(read_duration("1e3", d) == DurationRead::Invalid);
}

TEST_CASE("addresses, emails, URLs and slugs") {
  CHECK_EQ(clean_ipv6("0:0:0:0:0:ffff:1.2.3.4", true), std::optional<std::string>("1.2.3.4"));
  CHECK_EQ(clean_ipv6("::ffff:1.2.3.4", false), std::optional<std::string>("::ffff:1.2.3.4"));
  CHECK_EQ(clean_ipv6("2001:DB8:0:0:1:0:0:1", true), std::optional<std::string>("2001:db8::1:0:0:1"));
  CHECK(is_ipv6("fe80::1%eth0") && !is_ipv6("1::2::3") && !is_ipv4("1.2.3.04") && !is_ipv6("1:2:3:4:5:6:7:8:9"));
  CHECK(is_email("\"a\\\"b\"@c.de") && is_email("a@[::1]") && is_email("\xE2\x84\xAA@b.com") && !is_email("a@b.1com"));
  CHECK(is_url("http://u?x@host.com/") == true && is_url("http://[1.2.3.4]/") == false);
  CHECK(is_url("http://a.b.cd.") == true && is_url("http://a.b.c.") == false && !is_url("http://ex\xC3\xA4mple.com"));
  CHECK(is_slug("abc\n", false) == true && is_slug("abc\n", true) == false && !is_slug("\xC3\xBC", true));
}

ZB_TEST_MAIN()
