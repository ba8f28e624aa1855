// ID format check, person-name check and the Alphabetic table.
#include <string>
#include <string_view>
#include <vector>

#include "pure/analytics/ids.h"
#include "pure/analytics/names.h"
#include "pure/analytics/unicode_alphabetic.h"
#include "check.h"

using namespace zembra::analytics;

namespace {

std::string repeat(std::string_view s, int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += s;
  return out;
}

// The messages of a name, joined with '|', in reporting order.
std::string messages_of(std::string_view name) {
  // Copy into a buffer of exactly the name's size so a read past the end
  // is caught by the address sanitizer.
  std::vector<char> exact(name.begin(), name.end());
  const NameCheckResult r = check_name(std::string_view(exact.data(), exact.size()));
  std::string out;
  for (NameRule rule : r.failed_rules()) {
    if (!out.empty()) out += '|';
    out += name_rule_message(rule);
  }
  if (r.valid() != out.empty()) out += "<valid flag disagrees>";
  return out;
}

}  // namespace

TEST_CASE("ID: the pattern and each of its byte tests") {
  static_assert(check_id("12345678-1234"));
  CHECK(check_id("00000000-0000"));
  CHECK(check_id("99999999-9999"));
  const char* refused[] = {
      "1234567-81234", "12345678-123", "12345678_1234", "a2345678-1234", "12345678-12345", " 12345678-1234",
      "12345678-1234 ", "", "123456781234", "12345678--1234",
      "\xef\xbc\x91" "2345678-1234",  // fullwidth one: right digit count, wrong bytes
      "\xd9\xa1\xd9\xa2\xd9\xa3\xd9\xa4-1234",  // Arabic-Indic digits
  };
  for (const char* id : refused) CHECK(!check_id(id));
  // Every position: a neighbour of the expected byte range must be refused.
  for (std::size_t pos = 0; pos < kIdLength; ++pos) {
    const std::string_view bad = pos == kIdHyphenIndex ? "0,./ " : "/:-aA ";
    for (char c : bad) {
      std::string id = "12345678-1234";
      id[pos] = c;
      CHECK(!check_id(id));
    }
    std::string with_nul = "12345678-1234";
    with_nul[pos] = '\0';
    CHECK(!check_id(with_nul));
  }
}

TEST_CASE("name: messages in rule order") {
  const struct {
    std::string name;
    std::string expected;
  } cases[] = {
      {"John Smith", ""},
      {"John", "must contain a space"},
      {"John Smith2", "must not contain digits"},
      {"John O'Brien", "contains invalid characters"},
      {"Mary-Jane \xc3\x85sa \xc3\x98verg\xc3\xa5rd", ""},  // Mary-Jane Åsa Øvergård
      {"R2D2", "must contain a space|must not contain digits"},
      {"R2-D2!", "must contain a space|must not contain digits|contains invalid characters"},
      {"", "must contain a space"},
      {" ", ""},
      {"John\tSmith", "must contain a space|contains invalid characters"},
      {"John\xc2\xa0Smith", "must contain a space|contains invalid characters"},  // no-break space
      {"John\xe3\x80\x80Smith", "must contain a space|contains invalid characters"},  // ideographic space
      {"J. Smith", "contains invalid characters"},
      {"John Smith\xd9\xa3", "contains invalid characters"},  // Arabic-Indic three: not an ASCII digit
      {"\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd \xd0\x9f\xd0\xb5\xd1\x82\xd1\x80\xd0\xbe\xd0\xb2", ""},  // Иван Петров
      {"\xe7\x8e\x8b \xe5\xb0\x8f\xe6\x98\x8e", ""},  // 王 小明
      {"\xf0\xa0\x80\x80 \xf0\xa0\x80\x81", ""},  // CJK extension B letters (4-byte)
      {"John \xf0\x9f\x98\x80", "contains invalid characters"},  // emoji
      {"Jos\xc3\xa9 Smith", ""},  // precomposed é
      {"Jose\xcc\x81 Smith", "contains invalid characters"},  // combining acute is not Alphabetic
      {"\xc2\xaa \xc2\xba", ""},  // ª º, the first Alphabetic characters above ASCII
      {"\xc2\xa9 Smith", "contains invalid characters"},  // ©
      {"A \xc3\x97 B", "contains invalid characters"},  // ×
      {"1 2", "must not contain digits"},
  };
  for (const auto& c : cases) {
    const std::string got = messages_of(c.name);
    if (got != c.expected) {
      std::printf("  \"%s\": got [%s], expected [%s]\n", c.name.c_str(), got.c_str(), c.expected.c_str());
      ++zbtest::failures();
    }
  }
}

TEST_CASE("name: length counts code points, not bytes") {
  const struct {
    std::string letter;  // one code point of 1 to 4 bytes
  } letters[] = {{"a"}, {"\xc3\x98"}, {"\xe7\x8e\x8b"}, {"\xf0\xa0\x80\x80"}};
  for (const auto& l : letters) {
    const std::string ok = repeat(l.letter, 60) + " " + repeat(l.letter, 59);  // 120
    const std::string over = ok + l.letter;                                  // 121
    CHECK_EQ(messages_of(ok), std::string());
    CHECK_EQ(messages_of(over), std::string("exceeds 120 characters"));
    CHECK_EQ(messages_of(repeat(l.letter, 121) + "1!"),
             std::string("exceeds 120 characters|must contain a space|must not contain digits|"
                         "contains invalid characters"));
  }
}

TEST_CASE("name: malformed UTF-8 stays in bounds and is invalid") {
  const std::string cases[] = {
      "Jo \xff",  "Jo \xc3",           "Jo \xe7\x8e", "Jo \xf0\xa0\x80", "Jo \x80",
      "Jo \xc0\xaf", "Jo \xed\xa0\x80", "Jo \xf4\x90\x80\x80", "Jo \xc3 x",
  };
  for (const auto& name : cases) CHECK_EQ(messages_of(name), std::string("contains invalid characters"));
  // Each stray byte counts as one character.
  CHECK_EQ(messages_of(repeat("\x80", 121) + " "), std::string("exceeds 120 characters|contains invalid characters"));
}

TEST_CASE("name: result helpers") {
  const NameCheckResult r = check_name("R2-D2!");
  CHECK(!r.valid());
  CHECK(!r.has(NameRule::kLength));
  CHECK(r.has(NameRule::kSpace) && r.has(NameRule::kDigits) && r.has(NameRule::kCharacters));
  const NameRuleList list = r.failed_rules();
  CHECK_EQ(list.size(), std::size_t{3});
  CHECK(list[0] == NameRule::kSpace && list[2] == NameRule::kCharacters);
  CHECK(check_name("Ann Lee").failed_rules().empty());
}

TEST_CASE("Alphabetic table: boundaries") {
  const struct {
    char32_t cp;
    bool alphabetic;
  } cases[] = {
      {'A', true},      {'@', false},     {'z', true},      {'0', false},     {0x00A9, false},
      {0x00AA, true},   {0x00B5, true},   {0x00BA, true},   {0x00BB, false},  {0x00D7, false},
      {0x00F7, false},  {0x00F8, true},   {0x00FF, true},   {0x0100, true},   {0x02C1, true},
      {0x02C2, false},  {0x0301, false},  {0x0345, true},   {0x0663, false},  {0x3000, false},
      {0x4E00, true},   {0x1F600, false}, {0x20000, true},  {0x323AF, true},  {0x323B0, false},
      {0x10FFFF, false}, {0x110000, false}, {0xFFFFFFFF, false},
  };
  for (const auto& c : cases) {
    if (is_alphabetic(c.cp) != c.alphabetic) {
      std::printf("  U+%04X: expected %d\n", unsigned(c.cp), c.alphabetic);
      ++zbtest::failures();
    }
  }
  CHECK(!alphabetic_unicode_version().empty());
}

TEST_CASE("Alphabetic table: sorted, disjoint, and searched exactly") {
  const auto ranges = alphabetic_ranges();
  CHECK(!ranges.empty());
  for (std::size_t k = 0; k < ranges.size(); ++k) {
    const CodePointRange r = ranges[k];
    CHECK(r.first <= r.last);
    if (k > 0) CHECK(ranges[k - 1].last + 1 < r.first);  // merged: never adjacent
    CHECK(is_alphabetic(r.last));
    CHECK(!is_alphabetic(r.last + 1));
    if (r.first >= 0x100) {
      CHECK(is_alphabetic(r.first));
      CHECK(!is_alphabetic(r.first - 1));
    }
  }
}

ZB_TEST_MAIN()
