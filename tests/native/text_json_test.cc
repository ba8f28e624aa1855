#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "check.h"
#include "pure/text/json.h"

using zembra::JsonArray;
using zembra::JsonBigInt;
using zembra::JsonObject;
using zembra::JsonValue;
using zembra::text::parse_json;

namespace {

std::string error_of(std::string_view text) {
  auto result = parse_json(text);
  return result ? std::string("<accepted>") : zembra::text::message(result.error());
}

bool parses_to(std::string_view text, const JsonValue& expected) {
  auto result = parse_json(text);
  if (!result) {
    std::printf("  rejected %.*s: %s\n", static_cast<int>(text.size()), text.data(),
                zembra::text::message(result.error()).c_str());
    return false;
  }
  return *result == expected;
}

std::string repeat(std::string_view part, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += part;
  return out;
}

}  // namespace

TEST_CASE("rejected texts name the reason and the position") {
  struct Case {
    std::string_view text;
    const char* message;
  };
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"\n\n", "EOF while parsing a value at line 3 column 0"},
      {"NaN", "expected value at line 1 column 1"},
      {"[1.0, NaN]", "expected value at line 1 column 7"},
      {"{\"x\": Infinity}", "expected value at line 1 column 7"},
      {"-Infinity", "invalid number at line 1 column 2"},
      {"[,1]", "expected value at line 1 column 2"},
      {"+1", "expected value at line 1 column 1"},
      {".5", "expected value at line 1 column 1"},
      {"'a'", "expected value at line 1 column 1"},
      {"\xEF\xBB\xBF" "1", "expected value at line 1 column 1"},
      {"1 2", "trailing characters at line 1 column 3"},
      {"{}x", "trailing characters at line 1 column 3"},
      {"[1]\n\n  x", "trailing characters at line 3 column 3"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"{\"a\":1 , }", "trailing comma at line 1 column 10"},
      {"{\n  \"a\": [1,\n  2,]}", "trailing comma at line 3 column 5"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1,", "EOF while parsing a list at line 1 column 3"},
      {"[1\n", "EOF while parsing a list at line 2 column 0"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[true}", "expected `,` or `]` at line 1 column 6"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\":", "EOF while parsing an object at line 1 column 5"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,2:3}", "key must be a string at line 1 column 8"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"a\\", "EOF while parsing a string at line 1 column 3"},
      {"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {std::string_view("\"\0\"", 3), "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      {"\"\\q\"", "invalid escape at line 1 column 3"},
      {"\"\\U0041\"", "invalid escape at line 1 column 3"},
      {"\"\\u12G4\"", "invalid hex escape at line 1 column 6"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 2"},
      {"\"\\ud800\\n\"", "lone leading surrogate in hex escape at line 1 column 2"},
      {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 2"},
      {"\"\\ud800\\ud800\"", "lone leading surrogate in hex escape at line 1 column 2"},
      {"\"\\ud800", "EOF while parsing a string at line 1 column 7"},
      {"\"x\\udc00\"", "lone trailing surrogate in hex escape at line 1 column 3"},
      {"\"\xFF\"", "invalid UTF-8 in string at line 1 column 2"},
      {"\"ab\x80\"", "invalid UTF-8 in string at line 1 column 4"},
      {"\"\xC0\xAF\"", "invalid UTF-8 in string at line 1 column 2"},          // overlong
      {"\"\xED\xA0\x80\"", "invalid UTF-8 in string at line 1 column 2"},      // encoded surrogate
      {"\"\xF4\x90\x80\x80\"", "invalid UTF-8 in string at line 1 column 2"},  // above U+10FFFF
      {"\"\xE2\x82\"", "invalid UTF-8 in string at line 1 column 2"},          // cut short
      {"\"\xE2\x82", "invalid UTF-8 in string at line 1 column 2"},
      {"tru", "EOF while parsing a value at line 1 column 3"},
      {"[nul", "EOF while parsing a value at line 1 column 4"},
      {"trUe", "invalid literal at line 1 column 3"},
      {"nan", "invalid literal at line 1 column 2"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"01", "invalid number at line 1 column 2"},
      {"-01", "invalid number at line 1 column 3"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1.e3", "invalid number at line 1 column 3"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"1e+", "EOF while parsing a value at line 1 column 3"},
      {"1ex", "invalid number at line 1 column 3"},
      {"0x10", "trailing characters at line 1 column 2"},
      {"1e400", "number out of range at line 1 column 1"},
      {"[0, -1.8e308]", "number out of range at line 1 column 5"},
      {"1.7976931348623159e308", "number out of range at line 1 column 1"},
      {"0.0001e99999999999999999999", "number out of range at line 1 column 1"},
  };
  for (const auto& c : cases) {
    const std::string got = error_of(c.text);
    if (got != c.message) std::printf("  %s\n    got %s\n", c.message, got.c_str());
    CHECK_EQ(got, std::string(c.message));
  }
}

TEST_CASE("nesting is limited to 128 levels") {
  CHECK(parse_json(repeat("[", 128) + repeat("]", 128)).ok());
  CHECK(parse_json(repeat("{\"a\":", 64) + repeat("[", 64) + "0" + repeat("]", 64) + repeat("}", 64)).ok());
  CHECK_EQ(error_of(repeat("[", 128)), std::string("EOF while parsing a list at line 1 column 128"));
  CHECK_EQ(error_of(repeat("[", 129) + repeat("]", 129)),
           std::string("recursion limit exceeded at line 1 column 129"));
  CHECK_EQ(error_of(repeat("{\"a\":", 128) + "[]"),
           std::string("recursion limit exceeded at line 1 column 641"));
  // Far deeper input fails the same way instead of exhausting the stack.
  CHECK_EQ(error_of(repeat("[", 100000)), std::string("recursion limit exceeded at line 1 column 129"));

  auto deep = parse_json(repeat("[", 128) + "7" + repeat("]", 128));
  CHECK(deep.ok());
  const JsonValue* v = &*deep;
  int levels = 0;
  while (v->is_array()) {
    CHECK_EQ(v->as<JsonArray>().size(), std::size_t{1});
    v = &v->as<JsonArray>()[0];
    ++levels;
  }
  CHECK_EQ(levels, 128);
  CHECK(*v == JsonValue(std::int64_t{7}));
}

TEST_CASE("integers keep every digit") {
  struct Case {
    const char* text;
    JsonValue expected;
  };
  const Case cases[] = {
      {"0", std::int64_t{0}},
      {"-0", std::int64_t{0}},
      {"42", std::int64_t{42}},
      {"-42", std::int64_t{-42}},
      {"9223372036854775807", std::int64_t{INT64_MAX}},
      {"9223372036854775808", std::uint64_t{9223372036854775808ull}},
      {"18446744073709551615", std::uint64_t{UINT64_MAX}},
      {"18446744073709551616", JsonBigInt{"18446744073709551616"}},
      {"-9223372036854775808", std::int64_t{INT64_MIN}},
      {"-9223372036854775809", JsonBigInt{"-9223372036854775809"}},
      {"-18446744073709551616", JsonBigInt{"-18446744073709551616"}},
      {"184467440737095516150", JsonBigInt{"184467440737095516150"}},
      {"[123456789012345678901234567890]", JsonArray{JsonBigInt{"123456789012345678901234567890"}}},
  };
  for (const auto& c : cases) {
    if (!parses_to(c.text, c.expected)) std::printf("  for %s\n", c.text);
    CHECK(parses_to(c.text, c.expected));
  }
}

TEST_CASE("numbers with a fraction or exponent are correctly rounded doubles") {
  struct Case {
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"0.1", 0.1},
      {"1e-7", 1e-7},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"5e-324", 5e-324},
      {"2.2250738585072011e-308", 2.2250738585072011e-308},
      {"0.30000000000000004", 0.30000000000000004},
      {"1.0", 1.0},
      {"1E2", 100.0},
      {"1e+2", 100.0},
      {"-2.5e-3", -2.5e-3},
      {"123456789012345678901234567890.5", 123456789012345678901234567890.5},
      {"1e-400", 0.0},
      {"-0.0", -0.0},
      {"-1e-400", -0.0},
      {"0e99999", 0.0},
  };
  for (const auto& c : cases) {
    auto result = parse_json(c.text);
    const bool exact = result && result->type() == JsonValue::Type::Double &&
                       std::bit_cast<std::uint64_t>(result->as<double>()) ==
                           std::bit_cast<std::uint64_t>(c.expected);
    if (!exact) std::printf("  for %s\n", c.text);
    CHECK(exact);
  }
}

TEST_CASE("strings decode escapes and keep UTF-8") {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"\"\"", ""},
      {"\"plain text that is longer than eight bytes\"", "plain text that is longer than eight bytes"},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {R"("\u0041\u00e9\u20AC")", "A\xC3\xA9\xE2\x82\xAC"},
      {R"("\ud83d\ude00!")", "\xF0\x9F\x98\x80!"},
      {R"("\uDBFF\uDFFF")", "\xF4\x8F\xBF\xBF"},
      {R"("a\u0000b")", std::string_view("a\0b", 3)},
      {"\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\x7F\"", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\x7F"},
  };
  for (const auto& c : cases) CHECK(parses_to(c.text, JsonValue(std::string(c.expected))));

  // Special bytes are found wherever they fall relative to 8-byte blocks.
  for (std::size_t at = 0; at < 20; ++at) {
    const std::string pad(at, 'a');
    CHECK(parses_to("\"" + pad + "\\n" + pad + "\"", JsonValue(pad + "\n" + pad)));
    CHECK(parses_to("\"" + pad + "\xC3\xA9" + pad + "\"", JsonValue(pad + "\xC3\xA9" + pad)));
    const std::string column = std::to_string(at + 2);
    CHECK_EQ(error_of("\"" + pad + "\x1F" + pad + "\""),
             "control character (\\u0000-\\u001F) found while parsing a string at line 1 column " + column);
    CHECK_EQ(error_of("\"" + pad + "\xFE" + pad + "\""), "invalid UTF-8 in string at line 1 column " + column);
    CHECK_EQ(error_of("\"" + pad), "EOF while parsing a string at line 1 column " + std::to_string(at + 1));
  }
}

TEST_CASE("surrogate pairs at the edges of both ranges") {
  auto escape = [](unsigned u) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", u);
    return std::string(text);
  };
  auto utf8 = [](unsigned cp) {
    std::string out;
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
    return out;
  };
  const unsigned highs[] = {0xD800, 0xDBFF};
  const unsigned seconds[] = {0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFF};
  for (unsigned high : highs) {
    for (unsigned low : seconds) {
      const std::string text = "\"" + escape(high) + escape(low) + "\"";
      if (low >= 0xDC00 && low <= 0xDFFF) {
        CHECK(parses_to(text, JsonValue(utf8(0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00)))));
      } else {
        CHECK_EQ(error_of(text), std::string("lone leading surrogate in hex escape at line 1 column 2"));
      }
    }
  }
  // Alone, the ends of the trailing range are refused and their neighbours read.
  for (unsigned low : {0xDC00u, 0xDFFFu})
    CHECK_EQ(error_of("\"" + escape(low) + "\""), std::string("lone trailing surrogate in hex escape at line 1 column 2"));
  CHECK(parses_to("\"" + escape(0xD7FF) + escape(0xE000) + "\"", JsonValue(std::string("\xED\x9F\xBF\xEE\x80\x80"))));
}

TEST_CASE("objects keep unique keys in byte order") {
  struct Case {
    const char* text;
    JsonObject expected;
  };
  const JsonValue one = std::int64_t{1}, two = std::int64_t{2}, three = std::int64_t{3};
  const Case cases[] = {
      {R"({"b":1,"a":2,"B":3})", {{"B", three}, {"a", two}, {"b", one}}},
      {R"({"a":1,"b":2,"a":3})", {{"a", three}, {"b", two}}},
      {R"({"k":1,"k":2,"k":3})", {{"k", three}}},
      {R"({"b":1,"a":2,"b":3,"a":1})", {{"a", one}, {"b", three}}},
      {"{\"\xC3\xA9\":1,\"z\":2}", {{"z", two}, {"\xC3\xA9", one}}},
      {"{\"\xC3\xA9\":1,\"\\u00e9\":2}", {{"\xC3\xA9", two}}},
      {R"({"ab":1,"a":2,"":3})", {{"", three}, {"a", two}, {"ab", one}}},
      {R"({ "a" : 1 , "b" : 2 })", {{"a", one}, {"b", two}}},
  };
  for (const auto& c : cases) {
    if (!parses_to(c.text, JsonValue(c.expected))) std::printf("  for %s\n", c.text);
    CHECK(parses_to(c.text, JsonValue(c.expected)));
  }
}

TEST_CASE("sibling containers and large objects are built independently") {
  // Containers at one depth share scratch space; nothing may leak between them.
  const JsonValue one = std::int64_t{1}, two = std::int64_t{2};
  CHECK(parses_to(R"([{"b":1,"a":2},{"c":1},{},[1,2],[2],{"a":1,"a":2}])",
                  JsonArray{JsonObject{{"a", two}, {"b", one}}, JsonObject{{"c", one}}, JsonObject{},
                            JsonArray{one, two}, JsonArray{two}, JsonObject{{"a", two}}}));

  // Past the small-object size: 100 keys written in descending order, each
  // repeated with a later value that must win.
  std::string text = "{";
  JsonObject expected;
  for (int i = 99; i >= 0; --i) {
    const std::string key = "k" + std::to_string(1000 + i);
    text += "\"" + key + "\":" + std::to_string(i) + ",\"" + key + "\":" + std::to_string(-i) + ",";
    expected.emplace(expected.begin(), key, JsonValue(std::int64_t{-i}));  // ascending: equal-length keys
  }
  text.back() = '}';
  CHECK(parses_to(text, JsonValue(expected)));
}

TEST_CASE("documents as the standard encoder writes them") {
  const std::string_view text =
      R"({"tags": ["x", "y"], "id": 7, "score": 0.25, "meta": {"ok": true, "none": null, "n": []}, "e": {}})";
  const JsonValue expected = JsonObject{
      {"e", JsonObject{}},
      {"id", std::int64_t{7}},
      {"meta", JsonObject{{"n", JsonArray{}}, {"none", JsonValue()}, {"ok", true}}},
      {"score", 0.25},
      {"tags", JsonArray{std::string("x"), std::string("y")}},
  };
  CHECK(parses_to(text, expected));
  CHECK(parses_to(" \t\r\n[ ] \n", JsonArray{}));
  CHECK(parses_to("[false,null,true]", JsonArray{false, JsonValue(), true}));
}

ZB_TEST_MAIN()
