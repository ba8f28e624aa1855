// Every text a date/time reader accepts must hold a value within the field
// ranges, and must write back to a text that reads to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pure/text/datetime.h"

using namespace zembra;
using namespace zembra::text;

namespace {

void require(bool cond) {
  if (!cond) std::abort();
}

void check_value(const Date& d) {
  require(d.month >= 1 && d.month <= 12);
  require(d.day >= 1 && d.day <= days_in_month(d.year, d.month));
}
void check_value(const Time& t) { require(t.seconds < 86400 && t.nanos < 1'000'000'000); }

void round_trip(const Date& d) {
  check_value(d);
  Buffer b;
  format_date(d, b);
  require(b.size() <= kMaxDateText);
  auto again = parse_date(b.view(), DateTimePattern::Date);
  require(again && *again == d);
}

void round_trip(const Time& t) {
  check_value(t);
  Buffer b;
  format_time(t, b);
  require(b.size() <= kMaxTimeText);
  auto again = parse_time(b.view(), DateTimePattern::TimeFrac);
  require(again && *again == t);
}

void round_trip(const DateTime& v) {
  check_value(v.date);
  check_value(v.time);
  Buffer b;
  format_datetime_utc(v, b);
  require(b.size() <= kMaxDateTimeText);
  std::string_view text = b.view();
  // RFC 3339 holds four-digit years only.
  if (v.date.year >= 0 && v.date.year <= 9999) {
    auto again = parse_rfc3339(text);
    require(again && *again == v);
  }
  auto naive = parse_datetime(text.substr(0, text.size() - 6), DateTimePattern::DateTimeFrac);
  require(naive && *naive == v);
}

constexpr DateTimePattern kPatterns[] = {DateTimePattern::Date, DateTimePattern::TimeFrac,
                                         DateTimePattern::Time, DateTimePattern::DateTimeFrac,
                                         DateTimePattern::DateTime};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto v = parse_rfc3339(text)) round_trip(*v);
  for (DateTimePattern p : kPatterns) {
    auto d = parse_date(text, p);
    if (d) round_trip(*d);
    else require(!message(d.error()).empty());
    if (auto t = parse_time(text, p)) round_trip(*t);
    if (auto v = parse_datetime(text, p)) round_trip(*v);
  }
  return 0;
}
