// Feeds arbitrary bytes to the request reader: the first bytes choose a
// plan (kinds and options), the rest is the body. Every body must be
// answered (parsed or refused with the json module's wording) and every
// answer must be well formed. The text readers behind the kinds also get
// the raw bytes, as text when they are valid UTF-8.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pure/input/network.h"
#include "pure/input/number_text.h"
#include "pure/input/request.h"
#include "pure/input/temporal.h"
#include "pure/input/unicode.h"

using namespace zembra::input;

namespace {

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "input_fuzz: %s\n", what);
  std::abort();
}

class FixedHost : public Host {
 public:
  bool text_of(const Document&, std::uint32_t, std::string& out) override {
    out = "[1, 2]";
    return true;
  }
  bool check(Check, std::string_view text, bool& valid) override {
    valid = !text.empty();
    return true;
  }
  // JSON text has no foreign nodes.
  bool duration_of(const Document&, std::uint32_t, Duration&) override { die("duration_of called"); }
  bool json_dumpable(const Document&, std::uint32_t, bool&) override { die("json_dumpable called"); }
};

Plan plan_from(const std::uint8_t* data, std::size_t size) {
  static const char* kNames[] = {"a", "b", "c", "d"};
  Plan plan;
  for (std::size_t i = 0; i < 4 && i < size; ++i) {
    FieldRule rule;
    rule.name = kNames[i];
    const std::uint8_t b = data[i];
    rule.kind = static_cast<Kind>(b % (static_cast<int>(Kind::ManyPrimaryKeys) + 1));
    rule.required = b & 0x20;
    rule.allow_null = b & 0x40;
    rule.allow_blank = b & 0x80;
    rule.key_kind = static_cast<KeyKind>((b >> 5) % 3);
    rule.protocol = static_cast<Protocol>((b >> 6) % 3);
    rule.zone = (b & 0x10) ? ZoneMode::Fixed : ZoneMode::Naive;
    rule.zone_offset_us = (b & 0x08) ? 19'800'000'000LL : 0;
    if (b & 0x08) rule.max_length = b % 7;
    if (rule.kind == Kind::Decimal && (b & 0x04)) {
      rule.max_digits = 1 + b % 9;
      rule.decimal_places = b % 3;
    }
    if (b & 0x02) {
      Bound bound;
      bound.exact = exact_from_int(b % 11);
      bound.approx = b % 11;
      bound.micros = (b % 11) * 1'000'000;
      bound.text = std::to_string(b % 11);
      rule.max_value = bound;
    }
    rule.choices = {{"1", 0}, {"a", 1}};
    plan.fields.push_back(rule);
  }
  if (!plan.finish()) die("names repeat");
  return plan;
}

bool is_utf8(std::string_view s) {
  Document doc;
  std::string quoted = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
    quoted += c;
  }
  quoted += '"';
  return parse_document(quoted, true, doc).ok() && doc.nodes[0].size == s.size();
}

void readers(std::string_view text) {
  if (auto d = read_date(text, false)) {
    if (!valid_date(d->year, d->month, d->day)) die("date out of range");
  }
  if (auto t = read_time(text, false)) {
    if (t->hour > 23 || t->minute > 59 || t->second > 59 || t->microsecond > 999999) die("time out of range");
  }
  if (auto dt = read_datetime(text, false)) {
    CivilDateTime utc;
    if (dt->aware && (dt->offset_us <= -86'400'000'000LL || dt->offset_us >= 86'400'000'000LL)) die("offset");
    (void)to_utc(*dt, utc);
  }
  Duration duration;
  if (read_duration(text, duration) == DurationRead::Ok) {
    if (duration.seconds < 0 || duration.seconds >= 86400 || duration.microseconds < 0 ||
        duration.microseconds >= 1'000'000 || duration.days < -999'999'999 || duration.days > 999'999'999) {
      die("duration not normalized");
    }
  }
  if (auto n = python_decimal(text)) {
    if (n->digits.empty() || (n->digits.size() > 1 && n->digits[0] == '0')) die("decimal digits");
  }
  (void)python_int(text);
  (void)python_float(text);
  (void)python_hex_u128(text);
  if (auto cleaned = clean_ipv6(text, true)) {
    if (!is_ipv4(*cleaned) && clean_ipv6(*cleaned, true) != cleaned) die("cleaned address is not stable");
  }
  (void)is_email(text);
  (void)is_url(text);
  (void)is_slug(text, true);
  (void)strip_spaces(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t head = size < 4 ? size : 4;
  const Plan plan = plan_from(data, head);
  const std::string_view body(reinterpret_cast<const char*>(data + head), size - head);
  Document doc;
  RequestResult result;
  FixedHost host;
  const ParseResult parsed = parse_document(body, true, doc);
  if (!parsed) {
    refuse_unparsable(parsed.error(), result);
    if (result.non_field_errors.size() != 1) die("one parse error");
  } else {
    if (doc.nodes.empty() || doc.nodes[0].end != doc.nodes.size()) die("tree does not cover the nodes");
    for (bool partial : {false, true}) {
      if (!read_request(plan, doc, {partial, true}, host, result)) die("host failed");
      if (!result.body_refused && result.fields.size() != plan.fields.size()) die("one result per field");
      for (const FieldResult& f : result.fields) {
        if (f.outcome == Outcome::Invalid && f.errors.empty()) die("invalid without errors");
        if (f.outcome == Outcome::Valid && f.value.kind == ValueKind::Text && !is_utf8(f.value.text_view()) &&
            !(f.value.text_flags & kSurrogate)) {
          die("text value is not UTF-8");
        }
      }
    }
  }
  if (is_utf8(body)) readers(body);
  return 0;
}
