#include "pure/text/datetime.h"

#include <optional>
#include <string>

#include "check.h"

using namespace zembra;
using namespace zembra::text;
using P = DateTimePattern;
using Err = DateTimeError;

namespace {

template <class T>
std::optional<Err> error_of(const Expected<T, Err>& r) {
  return r ? std::nullopt : std::optional<Err>(r.error());
}

std::string date_text(const Date& d) {
  Buffer b;
  format_date(d, b);
  return b.str();
}
std::string time_text(const Time& t) {
  Buffer b;
  format_time(t, b);
  return b.str();
}

}  // namespace

TEST_CASE("messages") {
  CHECK_EQ(message(Err::OutOfRange), "input is out of range");
  CHECK_EQ(message(Err::Impossible), "no possible date and time matching input");
  CHECK_EQ(message(Err::NotEnough), "input is not enough for unique date and time");
  CHECK_EQ(message(Err::Invalid), "input contains invalid characters");
  CHECK_EQ(message(Err::TooShort), "premature end of input");
  CHECK_EQ(message(Err::TooLong), "trailing input");
  CHECK_EQ(message(Err::BadFormat), "bad or unsupported format string");
}

TEST_CASE("pattern readers: errors") {
  struct Row { const char* text; P pattern; Err want; };
  const Row rows[] = {
      // isoformat of a date read as a datetime
      {"2024-05-01", P::DateTimeFrac, Err::TooShort},
      {"2024-05-01 10:00:00", P::DateTimeFrac, Err::Invalid},
      {"2024-05-01T10:00:00+02:00", P::DateTimeFrac, Err::TooLong},
      {"2024-05-01T10:00:00.5", P::DateTime, Err::TooLong},
      {"10:00:00+02:00", P::TimeFrac, Err::TooLong},
      {"10:00:00.", P::TimeFrac, Err::TooShort},
      {"10:00:00.x", P::TimeFrac, Err::Invalid},
      {"10:00", P::Time, Err::TooShort},
      {"", P::Date, Err::TooShort},
      {"+", P::Date, Err::TooShort},
      {"-x", P::Date, Err::Invalid},
      {"x2024-05-01", P::Date, Err::Invalid},
      {" 2024-05-01", P::Date, Err::Invalid},
      {"20245-05-01", P::Date, Err::Invalid},  // four unsigned digits at most
      {"2024-123-01", P::Date, Err::Invalid},
      {"2024/05/01", P::Date, Err::Invalid},
      {"2024-05-01t10:00:00", P::DateTime, Err::Invalid},
      {"2024-13-01", P::Date, Err::OutOfRange},
      {"2024-05-32", P::Date, Err::OutOfRange},
      {"24:00:00", P::Time, Err::OutOfRange},
      {"10:60:00", P::Time, Err::OutOfRange},
      {"10:00:61", P::Time, Err::OutOfRange},
      {"+2147483648-01-01", P::Date, Err::OutOfRange},
      {"-2147483649-01-01", P::Date, Err::OutOfRange},
      {"2024-13-01x", P::Date, Err::OutOfRange},  // fields are checked as they are read
      {"2024-02-30", P::Date, Err::Impossible},
      {"2023-02-29", P::Date, Err::Impossible},
      {"1900-02-29", P::Date, Err::Impossible},
      {"2024-02-30T10:00:00", P::DateTime, Err::Impossible},
      {"2024-02-30x", P::Date, Err::TooLong},  // trailing input is found before the calendar check
  };
  for (const Row& r : rows) {
    const bool date_only = r.pattern == P::Date;
    const bool time_only = r.pattern == P::Time || r.pattern == P::TimeFrac;
    std::optional<Err> got = date_only   ? error_of(parse_date(r.text, r.pattern))
                             : time_only ? error_of(parse_time(r.text, r.pattern))
                                         : error_of(parse_datetime(r.text, r.pattern));
    if (got != r.want) std::printf("  input '%s'\n", r.text);
    CHECK(got == r.want);
  }
}

TEST_CASE("pattern readers: values") {
  struct Row { const char* text; P pattern; Date date; std::uint32_t seconds, nanos; };
  const Row rows[] = {
      {"2024-05-01T10:00:00", P::DateTime, {2024, 5, 1}, 36000, 0},
      {"2024-05-01T10:00:00.123456", P::DateTimeFrac, {2024, 5, 1}, 36000, 123456000},
      {"2024-05-01T10:00:00", P::DateTimeFrac, {2024, 5, 1}, 36000, 0},
      {"2024-5-1T1:2:3", P::DateTime, {2024, 5, 1}, 3723, 0},
      {"0001-01-01T00:00:00.000000001", P::DateTimeFrac, {1, 1, 1}, 0, 1},
      {"9999-12-31T23:59:59.999999999", P::DateTimeFrac, {9999, 12, 31}, 86399, 999999999},
      {"24-02-29T00:00:00.1234567891234", P::DateTimeFrac, {24, 2, 29}, 0, 123456789},
      {"+12345-06-07T08:09:10", P::DateTime, {12345, 6, 7}, 29350, 0},
      {"-0001-12-31T00:00:00", P::DateTime, {-1, 12, 31}, 0, 0},
      {"+0002024-05-01T00:00:00", P::DateTime, {2024, 5, 1}, 0, 0},
      {"-2147483648-01-01T00:00:00", P::DateTime, {INT32_MIN, 1, 1}, 0, 0},
      // a leap second is held as the last nanosecond of second 59
      {"2016-12-31T23:59:60.5", P::DateTimeFrac, {2016, 12, 31}, 86399, 999999999},
  };
  for (const Row& r : rows) {
    auto got = parse_datetime(r.text, r.pattern);
    CHECK(got && *got == (DateTime{r.date, {r.seconds, r.nanos}}));
  }
  auto t = parse_time("10:00:00.500000", P::TimeFrac);
  CHECK(t && *t == (Time{36000, 500000000}));
  auto d = parse_date("2024-05-01", P::Date);
  CHECK(d && *d == (Date{2024, 5, 1}));
}

TEST_CASE("pattern readers: missing parts and bad patterns") {
  CHECK(error_of(parse_date("10:00:00", P::Time)) == Err::NotEnough);
  CHECK(error_of(parse_time("2024-05-01", P::Date)) == Err::NotEnough);
  CHECK(error_of(parse_datetime("2024-05-01", P::Date)) == Err::NotEnough);
  CHECK(error_of(parse_datetime("2024-02-30", P::Date)) == Err::Impossible);
  CHECK(error_of(parse_datetime("10:00:00", P::TimeFrac)) == Err::NotEnough);
  // the text is read first: its own errors come before NotEnough
  CHECK(error_of(parse_date("10:00:0x", P::Time)) == Err::TooLong);
  CHECK(error_of(parse_date("2024-05-01", static_cast<P>(99))) == Err::BadFormat);
  // a date pattern that also carries a time yields the date part
  auto d = parse_date("2024-05-01T10:00:00", P::DateTime);
  CHECK(d && *d == (Date{2024, 5, 1}));
}

TEST_CASE("rfc3339: converted to UTC") {
  struct Row { const char* text; Date date; std::uint32_t seconds, nanos; };
  // Expected values computed with Python's datetime.
  const Row rows[] = {
      {"2024-01-01T00:30:00+01:00", {2023, 12, 31}, 84600, 0},
      {"2023-12-31T23:30:00-01:00", {2024, 1, 1}, 1800, 0},
      {"2024-02-29T23:00:00-02:00", {2024, 3, 1}, 3600, 0},
      {"2024-03-01T00:00:00+00:01", {2024, 2, 29}, 86340, 0},
      {"2024-03-02T00:00:00+00:01", {2024, 3, 1}, 86340, 0},
      {"2023-03-01T00:00:00+00:01", {2023, 2, 28}, 86340, 0},
      {"2100-03-01T05:00:00+06:00", {2100, 2, 28}, 82800, 0},
      {"2000-02-28T20:00:00-04:00", {2000, 2, 29}, 0, 0},
      {"2024-04-30T23:59:59.999999-00:01", {2024, 5, 1}, 59, 999999000},
      {"2024-05-01T10:00:00+02:00", {2024, 5, 1}, 28800, 0},
      {"9999-12-31T23:59:59-00:00", {9999, 12, 31}, 86399, 0},
      {"2008-11-29 01:04:52-23:59", {2008, 11, 30}, 3832, 0},
      {"3518-08-11 13:04:15.095119-19:57", {3518, 8, 12}, 32475, 95119000},
      {"2019-12-22t11:38:31.608064-23:59", {2019, 12, 23}, 41851, 608064000},
      {"0004-07-05t19:01:04+17:56", {4, 7, 5}, 3904, 0},
      {"7928-03-14 03:47:21.776314+08:41", {7928, 3, 13}, 68781, 776314000},
      // extra fraction digits are ignored, not rounded
      {"2024-05-01T10:00:00.1234567899999Z", {2024, 5, 1}, 36000, 123456789},
      {"2024-05-01t10:00:00.5z", {2024, 5, 1}, 36000, 500000000},
      {"0000-01-01T00:30:00+01:00", {-1, 12, 31}, 84600, 0},
      {"2016-12-31T23:59:60Z", {2016, 12, 31}, 86399, 999999999},
  };
  for (const Row& r : rows) {
    auto got = parse_rfc3339(r.text);
    if (!got || !(*got == DateTime{r.date, {r.seconds, r.nanos}})) std::printf("  input '%s'\n", r.text);
    CHECK(got && *got == (DateTime{r.date, {r.seconds, r.nanos}}));
  }
}

TEST_CASE("rfc3339: errors") {
  struct Row { const char* text; Err want; };
  const Row rows[] = {
      {"2024-05-01 10:00:00", Err::TooShort},  // no offset
      {"2024-05-01T10:00:00.123456", Err::TooShort},
      {"2024-05-01", Err::TooShort},
      {"2024-05-01T10:00:00+02", Err::TooShort},
      {"2024-05-01T10:00:00.Z", Err::Invalid},
      {"2024-05-01T10:00:00 +02:00", Err::Invalid},
      {"2024-05-01T10:00:00+0200", Err::Invalid},
      {"2024-05-01X10:00:00Z", Err::Invalid},
      {"24-05-01T10:00:00Z", Err::Invalid},
      {"+2024-05-01T10:00:00Z", Err::Invalid},
      {"2024-05-01T10:00:00+24:00", Err::OutOfRange},
      {"2024-05-01T10:00:00-00:60", Err::OutOfRange},
      {"2024-05-01T24:00:00Z", Err::OutOfRange},
      {"2024-05-01T10:00:61Z", Err::OutOfRange},
      {"2024-05-01T10:00:00Zx", Err::TooLong},
      {"2024-05-01T10:00:00+02:00:00", Err::TooLong},
      {"2023-02-29T10:00:00Z", Err::Impossible},
      {"2024-06-31T10:00:00+01:00", Err::Impossible},
  };
  for (const Row& r : rows) {
    if (error_of(parse_rfc3339(r.text)) != r.want) std::printf("  input '%s'\n", r.text);
    CHECK(error_of(parse_rfc3339(r.text)) == r.want);
  }
}

TEST_CASE("writers: fraction rule and forms") {
  struct Row { std::uint32_t nanos; const char* text; };
  const Row rows[] = {
      {0, "10:00:00"},
      {500000000, "10:00:00.500"},
      {1000000, "10:00:00.001"},
      {123456000, "10:00:00.123456"},
      {1000, "10:00:00.000001"},
      {1, "10:00:00.000000001"},
      {999999999, "10:00:00.999999999"},
  };
  for (const Row& r : rows) CHECK_EQ(time_text({36000, r.nanos}), r.text);
  CHECK_EQ(time_text({86399, 0}), "23:59:59");
  CHECK_EQ(date_text({2024, 5, 1}), "2024-05-01");
  CHECK_EQ(date_text({0, 1, 1}), "0000-01-01");
  CHECK_EQ(date_text({-1, 12, 31}), "-0001-12-31");
  CHECK_EQ(date_text({10000, 1, 1}), "+10000-01-01");
  CHECK_EQ(date_text({INT32_MIN, 1, 1}), "-2147483648-01-01");
  Buffer b;
  format_datetime_utc({{2024, 5, 1}, {28800, 0}}, b);
  CHECK_EQ(b.view(), "2024-05-01T08:00:00+00:00");
  b.clear();
  format_datetime_utc({{2024, 5, 1}, {36000, 1}}, b);
  CHECK_EQ(b.view(), "2024-05-01T10:00:00.000000001+00:00");
  // a value that breaks the field ranges still stays within the stated size
  b.clear();
  format_datetime_utc({{INT32_MIN, 255, 255}, {~0u, ~0u}}, b);
  CHECK(b.size() <= kMaxDateTimeText);
}

TEST_CASE("writers and readers round-trip") {
  const DateTime values[] = {
      {{2024, 2, 29}, {0, 0}},          {{1, 1, 1}, {86399, 999999999}},
      {{9999, 12, 31}, {43200, 1000}},  {{1970, 1, 1}, {1, 5000000}},
      {{-44, 3, 15}, {3600, 0}},        {{123456, 7, 8}, {7322, 123456789}},
  };
  for (const DateTime& v : values) {
    Buffer b;
    format_datetime_utc(v, b);
    std::string_view text = b.view();
    if (v.date.year >= 0 && v.date.year <= 9999) {
      auto r = parse_rfc3339(text);
      CHECK(r && *r == v);
    }
    auto naive = parse_datetime(text.substr(0, text.size() - 6), P::DateTimeFrac);
    CHECK(naive && *naive == v);
    auto d = parse_date(date_text(v.date), P::Date);
    CHECK(d && *d == v.date);
    auto t = parse_time(time_text(v.time), P::TimeFrac);
    CHECK(t && *t == v.time);
  }
}

TEST_CASE("isoformat instants: long offsets, the UTC range, and the writer") {
  struct Row { const char* text; Date date; std::uint32_t seconds, nanos; };
  // Expected values computed with Python's datetime.
  const Row rows[] = {
      {"1890-01-01T12:00:00+00:19:32", {1890, 1, 1}, 42028, 0},
      {"2024-05-01T10:00:00-02:00:00.000007", {2024, 5, 1}, 43200, 7000},
      {"2024-01-01T00:00:00.000001+00:00:00.5", {2023, 12, 31}, 86399, 500001000},
      {"0001-01-01T02:00:00+02:00", {1, 1, 1}, 0, 0},
      {"9999-12-31T21:59:59.999999-02:00", {9999, 12, 31}, 86399, 999999000},
      {"2024-05-01T10:00:00Z", {2024, 5, 1}, 36000, 0},
  };
  for (const Row& r : rows) {
    auto got = parse_isoformat_instant(r.text);
    if (!got || !(*got == DateTime{r.date, {r.seconds, r.nanos}})) std::printf("  input '%s'\n", r.text);
    CHECK(got && *got == (DateTime{r.date, {r.seconds, r.nanos}}));
  }
  struct Bad { const char* text; Err want; };
  const Bad bad[] = {
      {"0001-01-01T00:00:00+02:00", Err::InstantOutOfRange},
      {"9999-12-31T23:00:00-02:00", Err::InstantOutOfRange},
      {"0000-06-01T00:00:00Z", Err::InstantOutOfRange},
      {"2024-05-01T10:00:00+02:00:60", Err::OutOfRange},
      {"2024-05-01T10:00:00+02:00:5", Err::TooShort},
      {"2024-05-01T10:00:00+02:00:05.", Err::TooShort},
      {"2024-05-01T10:00:00+02:00:05.1234567", Err::TooLong},
      {"2024-05-01T10:00:00Z:00", Err::TooLong},
  };
  for (const Bad& r : bad) {
    if (error_of(parse_isoformat_instant(r.text)) != r.want) std::printf("  input '%s'\n", r.text);
    CHECK(error_of(parse_isoformat_instant(r.text)) == r.want);
  }
  struct Written { DateTime wall; std::optional<std::int64_t> offset; const char* text; };
  const Written written[] = {
      {{{2024, 5, 1}, {36000, 0}}, std::nullopt, "2024-05-01T10:00:00"},
      {{{2024, 5, 1}, {36000, 500000000}}, 0, "2024-05-01T10:00:00.500000+00:00"},
      {{{1, 1, 1}, {0, 999}}, -1, "0001-01-01T00:00:00-00:00:00.000001"},
      {{{1890, 1, 1}, {43200, 0}}, 1172000000, "1890-01-01T12:00:00+00:19:32"},
      {{{9999, 12, 31}, {86399, 999999000}}, -86399999999, "9999-12-31T23:59:59.999999-23:59:59.999999"},
  };
  for (const Written& w : written) {
    Buffer b;
    format_isoformat(w.wall, w.offset, b);
    CHECK_EQ(b.view(), w.text);
    CHECK(b.size() <= kMaxIsoformatText);
  }
}

ZB_TEST_MAIN()
