// Field rules: every message, code and params combination, and the decimal
// text counts.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <cstdlib>
#include <new>
#include <random>

#include "check.h"
#include "pure/validation/code_points.h"
#include "pure/validation/rules.h"

// Counts heap allocations so the tests can assert that passing values cost none.
static long g_allocations = 0;
void* operator new(std::size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace zembra;

namespace {

struct Want {
  std::string message;
  std::string code;
  std::vector<std::pair<std::string, std::string>> params;
};

SchemaField field_of(CoreKind kind, bool nullable = false, bool has_default = false) {
  return SchemaField{"f", FieldRules{kind, nullable, has_default}};
}

JsonValue array() { return JsonValue(JsonArray{}); }
JsonValue object() { return JsonValue(JsonObject{}); }

bool same(const std::vector<FieldError>& got, const std::vector<Want>& want, const std::string& field) {
  if (got.size() != want.size()) return false;
  for (std::size_t i = 0; i < got.size(); ++i) {
    const FieldError& g = got[i];
    const Want& w = want[i];
    if (g.field != field || g.message != w.message || g.code != w.code || g.params.size() != w.params.size())
      return false;
    // Insertion order is kept, so compare positionally.
    for (std::size_t j = 0; j < w.params.size(); ++j)
      if (g.params[j] != w.params[j]) return false;
  }
  return true;
}

void report(const char* label, const std::vector<FieldError>& got) {
  std::printf("  case %s gave %zu errors\n", label, got.size());
  for (const FieldError& e : got) {
    std::printf("    [%s] %s {", e.code.c_str(), e.message.c_str());
    for (const auto& [k, v] : e.params) std::printf(" %s=%s", k.c_str(), v.c_str());
    std::printf(" }\n");
  }
}

constexpr auto kStr = CoreKindTag::Str;
constexpr auto kInt = CoreKindTag::Int;
constexpr auto kFloat = CoreKindTag::Float;
constexpr auto kDec = CoreKindTag::Decimal;

Decimal dec(std::uint64_t mantissa, std::uint8_t scale) { return Decimal{mantissa, scale, false}; }

}  // namespace

TEST_CASE("check_value messages, codes and params") {
  const double inf = std::numeric_limits<double>::infinity();
  const std::int64_t i64_min = std::numeric_limits<std::int64_t>::min();
  struct Case {
    const char* label;
    SchemaField field;
    FieldValue value;
    std::vector<Want> want;
  } cases[] = {
      // Text length in code points, not bytes.
      {"str over max", field_of({.tag = kStr, .max_length = 5}), std::string("h\xC3\xA9llo!"),
       {{"Ensure this value has at most 5 characters (it has 6).", "max_length",
         {{"max_length", "5"}, {"length", "6"}}}}},
      {"str at max", field_of({.tag = kStr, .max_length = 6}), std::string("h\xC3\xA9llo!"), {}},
      {"str under min", field_of({.tag = kStr, .min_length = 3}), std::string("\xF0\x9F\x98\x80\xF0\x9F\x98\x80"),
       {{"Ensure this value has at least 3 characters (it has 2).", "min_length",
         {{"min_length", "3"}, {"length", "2"}}}}},
      {"str contradicting limits", field_of({.tag = kStr, .max_length = 2, .min_length = 5}), std::string("abcd"),
       {{"Ensure this value has at most 2 characters (it has 4).", "max_length",
         {{"max_length", "2"}, {"length", "4"}}},
        {"Ensure this value has at least 5 characters (it has 4).", "min_length",
         {{"min_length", "5"}, {"length", "4"}}}}},
      {"str no limits", field_of({.tag = kStr}), std::string(1000, 'x'), {}},
      {"int under min", field_of({.tag = kInt, .min_int = 0}), std::int64_t{-5},
       {{"Ensure this value is greater than or equal to 0.", "min_value", {{"min_value", "0"}}}}},
      {"int over negative max", field_of({.tag = kInt, .max_int = -3}), std::int64_t{0},
       {{"Ensure this value is less than or equal to -3.", "max_value", {{"max_value", "-3"}}}}},
      {"int extreme bound", field_of({.tag = kInt, .max_int = i64_min}), std::int64_t{0},
       {{"Ensure this value is less than or equal to -9223372036854775808.", "max_value",
         {{"max_value", "-9223372036854775808"}}}}},
      {"int contradicting bounds", field_of({.tag = kInt, .min_int = 10, .max_int = 5}), std::int64_t{7},
       {{"Ensure this value is greater than or equal to 10.", "min_value", {{"min_value", "10"}}},
        {"Ensure this value is less than or equal to 5.", "max_value", {{"max_value", "5"}}}}},
      {"int at bounds", field_of({.tag = kInt, .min_int = 7, .max_int = 7}), std::int64_t{7}, {}},
      {"float over max", field_of({.tag = kFloat, .max_float = 100.0}), 150.5,
       {{"Ensure this value is less than or equal to 100.", "max_value", {{"max_value", "100"}}}}},
      {"float under min", field_of({.tag = kFloat, .min_float = 1e-7}), 0.0,
       {{"Ensure this value is greater than or equal to 0.0000001.", "min_value", {{"min_value", "0.0000001"}}}}},
      {"float under fractional min", field_of({.tag = kFloat, .min_float = -0.5}), -1.0,
       {{"Ensure this value is greater than or equal to -0.5.", "min_value", {{"min_value", "-0.5"}}}}},
      {"float infinite max", field_of({.tag = kFloat, .max_float = -inf}), 0.0,
       {{"Ensure this value is less than or equal to -inf.", "max_value", {{"max_value", "-inf"}}}}},
      {"float NaN passes", field_of({.tag = kFloat, .min_float = 0.0, .max_float = 1.0}), std::nan(""), {}},
      {"Decimal both counts", field_of({.tag = kDec, .max_digits = 5, .decimal_places = 2}), dec(1234567, 3),
       {{"Ensure that there are no more than 5 digits in total.", "max_digits", {{"max_digits", "5"}}},
        {"Ensure that there are no more than 2 decimal places.", "max_decimal_places",
         {{"decimal_places", "2"}}}}},
      {"Decimal leading zeros do not count", field_of({.tag = kDec, .max_digits = 3}), dec(1, 3), {}},
      {"Decimal trailing zeros count", field_of({.tag = kDec, .max_digits = 3}), dec(1500, 3),
       {{"Ensure that there are no more than 3 digits in total.", "max_digits", {{"max_digits", "3"}}}}},
      {"Decimal zero has one digit", field_of({.tag = kDec, .max_digits = 0}), dec(0, 0),
       {{"Ensure that there are no more than 0 digits in total.", "max_digits", {{"max_digits", "0"}}}}},
      {"Decimal 29 digits", field_of({.tag = kDec, .max_digits = 28}), Decimal{Decimal::kMaxMantissa, 0, true},
       {{"Ensure that there are no more than 28 digits in total.", "max_digits", {{"max_digits", "28"}}}}},
      {"Decimal 29 digits fit", field_of({.tag = kDec, .max_digits = 29, .decimal_places = 28}),
       Decimal{Decimal::kMaxMantissa, 28, false}, {}},
      {"bytes over max", field_of({.tag = CoreKindTag::Bytes, .max_length = 3}), ByteString{"abcd"},
       {{"Ensure this value has at most 3 bytes (it has 4).", "max_length", {{"max_length", "3"}}}}},
      {"bytes ignore min", field_of({.tag = CoreKindTag::Bytes, .min_length = 9}), ByteString{"ab"}, {}},
      {"list holds array", field_of({.tag = CoreKindTag::List}), array(), {}},
      {"list holds object", field_of({.tag = CoreKindTag::List}), object(), {{"Expected a list.", "invalid", {}}}},
      {"dict holds object", field_of({.tag = CoreKindTag::Dict}), object(), {}},
      {"dict holds array", field_of({.tag = CoreKindTag::Dict}), array(), {{"Expected a dict.", "invalid", {}}}},
      {"dict holds number", field_of({.tag = CoreKindTag::Dict}), JsonValue(std::int64_t{1}),
       {{"Expected a dict.", "invalid", {}}}},
      {"bool", field_of({.tag = CoreKindTag::Bool}), true, {}},
      {"date", field_of({.tag = CoreKindTag::Date}), Date{}, {}},
      {"time", field_of({.tag = CoreKindTag::Time}), Time{}, {}},
      {"datetime", field_of({.tag = CoreKindTag::DateTime}), DateTime{}, {}},
      {"UUID", field_of({.tag = CoreKindTag::Uuid}), Uuid{}, {}},
      {"required", field_of({.tag = kInt, .min_int = 5}), Null{}, {{"This field is required.", "required", {}}}},
      {"nullable null", field_of({.tag = kInt, .min_int = 5}, true), Null{}, {}},
      {"default null", field_of({.tag = kStr, .min_length = 5}, false, true), Null{}, {}},
      {"int holds str", field_of({.tag = kInt, .min_int = 5}), std::string("x"),
       {{"Invalid type: expected int, got str.", "invalid", {}}}},
      {"UUID holds JSON", field_of({.tag = CoreKindTag::Uuid}), array(),
       {{"Invalid type: expected UUID, got JSON.", "invalid", {}}}},
      {"Decimal holds float", field_of({.tag = kDec}), 1.5,
       {{"Invalid type: expected Decimal, got float.", "invalid", {}}}},
      {"datetime holds date", field_of({.tag = CoreKindTag::DateTime}), Date{},
       {{"Invalid type: expected datetime, got date.", "invalid", {}}}},
      {"list holds bytes", field_of({.tag = CoreKindTag::List}), ByteString{},
       {{"Invalid type: expected list, got bytes.", "invalid", {}}}},
      {"str holds bool", field_of({.tag = kStr}), false, {{"Invalid type: expected str, got bool.", "invalid", {}}}},
  };
  for (const Case& c : cases) {
    std::vector<FieldError> got;
    check_value(c.field, c.value, got);
    bool ok = same(got, c.want, "f");
    if (!ok) report(c.label, got);
    CHECK(ok);
  }
}

TEST_CASE("passing values allocate nothing") {
  const SchemaField text = field_of({.tag = kStr, .max_length = 100, .min_length = 1});
  const SchemaField number = field_of({.tag = kFloat, .min_float = 0.0, .max_float = 1.0});
  const SchemaField decimal = field_of({.tag = kDec, .max_digits = 10, .decimal_places = 2});
  const SchemaField nullable = field_of({.tag = kInt}, true);
  const FieldValue values[] = {std::string(64, 'x'), 0.5, dec(12345, 2), Null{}};
  std::vector<FieldError> out;
  long before = g_allocations;
  check_value(text, values[0], out);
  check_value(number, values[1], out);
  check_value(decimal, values[2], out);
  check_value(nullable, values[3], out);
  CHECK_EQ(g_allocations - before, 0);
  CHECK(out.empty());
  check_value(number, 2.0, out);  // the counter does see the failure path
  CHECK(g_allocations - before > 0);
}

TEST_CASE("code points match a byte-by-byte count") {
  std::mt19937 rng(7);
  const char pieces[][5] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\x80", "\xFF"};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    std::uint64_t expected = 0;
    int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) {
      const char* piece = pieces[rng() % 6];
      text += piece;
      for (const char* c = piece; *c; ++c) expected += (static_cast<unsigned char>(*c) & 0xC0) != 0x80;
    }
    CHECK_EQ(count_code_points(text), expected);
  }
}

TEST_CASE("errors append after earlier ones and name their field") {
  std::vector<FieldError> out;
  SchemaField a{"age", FieldRules{{.tag = kInt, .max_int = 100}}};
  SchemaField b{"name", FieldRules{{.tag = kStr}}};
  check_value(a, std::int64_t{200}, out);
  check_value(b, Null{}, out);
  CHECK_EQ(out.size(), 2u);
  CHECK_EQ(out[0].field, "age");
  CHECK_EQ(out[1].field, "name");
  CHECK_EQ(out[1].code, "required");
}

TEST_CASE("inline checker messages") {
  const std::pair<CoreKindTag, const char*> kinds[] = {
      {CoreKindTag::Str, "Invalid type: expected str."},
      {CoreKindTag::Int, "Invalid type: expected int."},
      {CoreKindTag::Float, "Invalid type: expected float."},
      {CoreKindTag::Bool, "Invalid type: expected bool."},
      {CoreKindTag::Decimal, "Invalid type: expected Decimal."},
      {CoreKindTag::DateTime, "Invalid type: expected datetime."},
      {CoreKindTag::Date, "Invalid type: expected date."},
      {CoreKindTag::Time, "Invalid type: expected time."},
      {CoreKindTag::Uuid, "Invalid type: expected UUID."},
      {CoreKindTag::List, "Expected a list."},
      {CoreKindTag::Dict, "Expected a dict."},
      {CoreKindTag::Bytes, "Invalid type: expected bytes."},
  };
  for (const auto& [tag, message] : kinds) {
    std::vector<FieldError> out;
    add_invalid_type_error(field_of({.tag = tag}), out);
    CHECK(same(out, {{message, "invalid", {}}}, "f"));
  }

  std::vector<FieldError> out;
  check_required(field_of({.tag = kStr}, true), out);
  check_required(field_of({.tag = kStr}, false, true), out);
  CHECK(out.empty());

  // Lengths from len() can exceed anything a FieldValue holds.
  const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
  check_length_limits(field_of({.tag = kStr, .max_length = huge - 1}), huge, out);
  CHECK(same(out,
             {{"Ensure this value has at most 18446744073709551614 characters (it has 18446744073709551615).",
               "max_length",
               {{"max_length", "18446744073709551614"}, {"length", "18446744073709551615"}}}},
             "f"));

  // Counts taken from text can exceed 32 bits.
  out.clear();
  check_decimal_counts(field_of({.tag = kDec, .max_digits = 4294967295u, .decimal_places = 4294967295u}),
                       4294967296ull, 4294967295ull, out);
  CHECK(same(out, {{"Ensure that there are no more than 4294967295 digits in total.", "max_digits",
                    {{"max_digits", "4294967295"}}}},
             "f"));
}

TEST_CASE("param map keeps insertion order and replaces duplicates") {
  ParamMap m;
  m.set("b", "1");
  m.set("a", "2");
  m.set("c", "3");  // beyond the inline entries
  m.set("a", "4");
  CHECK_EQ(m.size(), 3u);
  std::string order;
  for (const auto& [k, v] : m) order += k + v;
  CHECK_EQ(order, "b1a4c3");
  CHECK(m.find("z") == nullptr);
  ParamMap n;
  n.set("c", "3");
  n.set("a", "4");
  n.set("b", "1");
  CHECK(m == n);
}

TEST_CASE("count_decimal_text") {
  struct Case {
    const char* text;
    std::uint64_t digits, places;
  } cases[] = {
      {"123.45", 5, 2},  {"0.001", 1, 3},      {"1.50", 3, 2},      {"007", 1, 0},
      {"0", 1, 0},       {"1E+2", 3, 0},       {"1E-7", 1, 7},      {"1.5E-7", 2, 8},
      {"NaN", 3, 0},     {"Infinity", 8, 0},   {"-Infinity", 8, 0}, {"-123.45", 5, 2},
      {"+5", 2, 0},      {"--5", 2, 0},        {"", 1, 0},          {"-", 1, 0},
      {"0.000", 1, 3},   {"00.0012", 2, 4},    {".5", 1, 1},        {"5.", 1, 0},
      {"1.2.3", 4, 3},   {"12.345e2", 7, 1},   {"1.5e1", 3, 0},     {"1e", 1, 0},
      {"1e+", 1, 0},     {"1e-", 1, 0},        {"1e5e3", 1, 0},     {"1e2.5", 1, 0},
      {"1E 2", 1, 0},    {"0e5", 6, 0},        {"abc", 3, 0},       {"1_000", 5, 0},
      {"\xC3\xA9", 1, 0},
      {"1e2147483647", 2147483648ull, 0},      {"1e2147483648", 1, 0},
      {"1e-2147483648", 1, 2147483648ull},     {"1e-2147483649", 1, 0},
      {"1.25e-2147483648", 3, 2147483650ull},  {"1e+0002", 3, 0},
      {"1e99999999999999999999999", 1, 0},
  };
  for (const Case& c : cases) {
    DecimalCounts got = count_decimal_text(c.text);
    if (got.digits != c.digits || got.places != c.places)
      std::printf("  '%s' gave (%llu, %llu)\n", c.text, (unsigned long long)got.digits,
                  (unsigned long long)got.places);
    CHECK(got == (DecimalCounts{c.digits, c.places}));
  }
}

ZB_TEST_MAIN()
