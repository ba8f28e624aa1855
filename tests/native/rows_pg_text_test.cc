// PostgreSQL's text forms of column values: what each reader takes, and the
// forms it must refuse so that the values_list route decides.
#include <string>

#include "check.h"
#include "pure/json_writer/typed_values.h"
#include "pure/rows/pg_text.h"
#include "pure/text/decimal.h"

using namespace zembra;

namespace {

template <class T, class Write>
std::string shown(const std::optional<T>& v, Write write) {
  if (!v) return "<refused>";
  Buffer out;
  write(*v, out);
  return out.str();
}

std::string numeric(std::string_view t) { return shown(rows::pg_numeric(t), text::format_decimal); }
std::string stamp(std::string_view t) { return shown(rows::pg_timestamptz(t), json::write_datetime); }
std::string time(std::string_view t) { return shown(rows::pg_time(t), json::write_time); }

}  // namespace

TEST_CASE("numeric: plain texts read, exponent-written decimals and specials refused") {
  CHECK_EQ(numeric("-123.4500"), "-123.4500");
  CHECK_EQ(numeric("0.000001"), "0.000001");      // str(Decimal) still plain
  CHECK_EQ(numeric("0.0000001"), "<refused>");    // str(Decimal) is 1E-7
  CHECK_EQ(numeric("0.0000000"), "<refused>");    // 0E-7
  CHECK_EQ(numeric("10.0000001"), "10.0000001");
  for (const char* special : {"NaN", "Infinity", "-Infinity", "", "-", "+1", "1e5", " 1"}) {
    CHECK_EQ(numeric(special), "<refused>");
  }
}

TEST_CASE("dates, times and timestamps in the ISO style of a UTC session") {
  CHECK_EQ(stamp("2024-05-01 12:30:00.123456+00"), "\"2024-05-01T12:30:00.123456+00:00\"");
  CHECK_EQ(stamp("0001-01-01 00:00:00+00"), "\"0001-01-01T00:00:00+00:00\"");
  for (const char* refused : {"2024-05-01 12:30:00+02", "2024-05-01 12:30:00", "infinity", "12024-05-01 00:00:00+00",
                              "0001-01-01 00:00:00+00 BC", "2023-02-29 00:00:00+00", "2024-05-01 12:30:00.1234567+00",
                              "2024-05-01T12:30:00+00", "2024-05-01 12:30:00.+00"}) {
    CHECK_EQ(stamp(refused), "<refused>");
  }
  CHECK_EQ(time("10:20:30.01"), "\"10:20:30.010\"");
  CHECK_EQ(time("24:00:00"), "<refused>");
  CHECK(rows::pg_timestamp("2024-05-01 12:30:00").has_value());
  CHECK(!rows::pg_date("2024-5-01").has_value());
}

TEST_CASE("other scalars: ints, floats, bools, uuids, bytea hex") {
  CHECK_EQ(rows::pg_int("-9223372036854775808").value_or(0), INT64_MIN);
  CHECK(!rows::pg_int("9223372036854775808") && !rows::pg_int("+1") && !rows::pg_int(""));
  CHECK_EQ(rows::pg_float("1e+100").value_or(0), 1e100);
  CHECK(!rows::pg_float("NaN") && !rows::pg_float("Infinity") && !rows::pg_float("inf") && !rows::pg_float("1e400"));
  CHECK(rows::pg_bool("t") == std::optional(true) && !rows::pg_bool("true"));
  CHECK(rows::pg_uuid("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11").has_value());
  CHECK(!rows::pg_uuid("a0eebc999c0b4ef8bb6d6bb9bd380a11"));
  std::string bytes;
  CHECK(rows::pg_bytea_hex("\\x00ff41", bytes) && bytes == std::string("\0\xff" "A", 3));
  CHECK(rows::pg_bytea_hex("\\x", bytes) && bytes.empty());
  CHECK(!rows::pg_bytea_hex("\\000", bytes) && !rows::pg_bytea_hex("\\x0", bytes) && !rows::pg_bytea_hex("ab", bytes));
}

ZB_TEST_MAIN()
