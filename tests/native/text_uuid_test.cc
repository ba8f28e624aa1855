#include <cctype>
#include <random>
#include <string>

#include "check.h"
#include "pure/text/uuid.h"

using zembra::Buffer;
using zembra::Uuid;
using namespace zembra::text;

namespace {

// The parsed UUID written back, or the error message.
std::string outcome(std::string_view text) {
  auto r = parse_uuid(text);
  if (!r) return message(r.error());
  Buffer b;
  format_uuid(*r, b);
  return b.str();
}

const char kCanonical[] = "67e55044-10b1-426f-9247-bb680e5fe0c8";

}  // namespace

TEST_CASE("uuid: the four forms, any letter case") {
  const char* forms[] = {
      "67e5504410b1426f9247bb680e5fe0c8",
      "67E5504410B1426F9247BB680E5FE0C8",
      "67e55044-10b1-426f-9247-bb680e5fe0c8",
      "67E55044-10b1-426F-9247-BB680E5fe0c8",
      "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
      "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8",
      "urn:uuid:67E55044-10B1-426F-9247-BB680E5FE0C8",
  };
  for (const char* t : forms) CHECK_EQ(outcome(t), kCanonical);
  auto r = parse_uuid(kCanonical);
  CHECK(r.ok());
  if (r) {
    CHECK_EQ(r->bytes[0], 0x67);
    CHECK_EQ(r->bytes[15], 0xc8);
  }
}

TEST_CASE("uuid: error messages, first applicable wins") {
  struct Row {
    std::string text;
    std::string expected;
  };
  const Row rows[] = {
      {"1234", "invalid length: expected length 32 for simple format, found 4"},
      {"", "invalid length: expected length 32 for simple format, found 0"},
      {"67e5504410b1426f9247bb680e5fe0c8a", "invalid length: expected length 32 for simple format, found 33"},
      {"67e5g04410b1426f9247bb680e5fe0c8", "invalid character: found `g` at 5"},
      {"67e55044-10b1-426f-9247-bb680e5fe0c8 ", "invalid character: found ` ` at 37"},
      {"67e55044-10b1-426f-9247-bb680e5fe0c", "invalid group length in group 4: expected 12, found 11"},
      {"67e5504-410b1-426f-9247-bb680e5fe0c8", "invalid group length in group 0: expected 8, found 7"},
      {"67e55044-10b1-426f-9247bb680e5fe0c8", "invalid group count: expected 5, found 4"},
      {"67e55044-10b1-426f-9247-bb68-0e5fe0c8", "invalid group count: expected 5, found 6"},
      {"-", "invalid group count: expected 5, found 2"},
      {"--------", "invalid group count: expected 5, found 9"},
      {"----", "invalid group length in group 0: expected 8, found 0"},
      // 38 characters without braces, 45 without the prefix.
      {"0067e55044-10b1-426f-9247-bb680e5fe0c8", "invalid group length in group 0: expected 8, found 10"},
      {"67e5504410b1426f9247bb680e5fe0c8aaaaaa", "invalid length: expected length 32 for simple format, found 38"},
      {"urn:uuix:67e55044-10b1-426f-9247-bb680e5fe0c8", "invalid character: found `u` at 1"},
      {"URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8", "invalid character: found `U` at 1"},
      // Wrappers count in positions and never ask for the simple form.
      {"urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0cZ", "invalid character: found `Z` at 45"},
      {"urn:uuid:{67e55044-10b1-426f-9247-bb680e5fe0c8}", "invalid character: found `{` at 10"},
      {"urn:uuid:67e5504410b1426f9247bb680e5fe0c8", "invalid group count: expected 5, found 1"},
      {"urn:uuid:", "invalid group count: expected 5, found 1"},
      {"{67e5504410b1426f9247bb680e5fe0c8}", "invalid group count: expected 5, found 1"},
      {"{1234}", "invalid group count: expected 5, found 1"},
      {"{}", "invalid group count: expected 5, found 1"},
      {"{67e55044-10b1-426f-9247-bb680e5fe0c8-}", "invalid group count: expected 5, found 6"},
      {"{67e55044-10b1-426f-9247-bb680e5fe0c}", "invalid group length in group 4: expected 12, found 11"},
      {"{67e55044-10b1-426f-9x47-bb680e5fe0c8}", "invalid character: found `x` at 22"},
      {"{67e55044-10b1-426f-9247-bb680e5fe0c8]", "invalid character: found `{` at 1"},
      {"{67e55044-10b1-426f-9247-bb680e5fe0c8}}", "invalid character: found `}` at 38"},
      {"{", "invalid character: found `{` at 1"},
      {"}", "invalid character: found `}` at 1"},
      // Non-ASCII characters are shown whole; bytes that are not UTF-8 as U+FFFD.
      {"67e55044-10b1-426f-9247-bb680e5fe0\xC3\xA9", "invalid character: found `\xC3\xA9` at 35"},
      {"\xF0\x9F\x98\x80", "invalid character: found `\xF0\x9F\x98\x80` at 1"},
      {"ab\xFF", "invalid character: found `\xEF\xBF\xBD` at 3"},
      {"ab\xE2\x82", "invalid character: found `\xEF\xBF\xBD` at 3"},
      {"ab\xED\xA0\x80", "invalid character: found `\xEF\xBF\xBD` at 3"},
      {std::string("ab\0", 3), std::string("invalid character: found `\0` at 3", 33)},
  };
  for (const Row& row : rows) {
    std::string got = outcome(row.text);
    if (got != row.expected) std::printf("  %s: got %s\n", row.text.c_str(), got.c_str());
    CHECK_EQ(got, row.expected);
  }
}

TEST_CASE("uuid: a wrong character at each separator, in every wrapper") {
  struct Wrapper {
    std::string before, after;
  };
  const Wrapper wrappers[] = {{"", ""}, {"{", "}"}, {"urn:uuid:", ""}};
  for (const Wrapper& w : wrappers) {
    for (std::size_t at : {8u, 13u, 18u, 23u}) {
      // A hex digit leaves four groups; another character is itself the fault.
      std::string body = kCanonical;
      body[at] = 'a';
      CHECK_EQ(outcome(w.before + body + w.after), std::string("invalid group count: expected 5, found 4"));
      body[at] = 'x';
      CHECK_EQ(outcome(w.before + body + w.after),
               "invalid character: found `x` at " + std::to_string(w.before.size() + at + 1));
      body[at] = '-';
      CHECK_EQ(outcome(w.before + body + w.after), std::string(kCanonical));
    }
  }
}

TEST_CASE("uuid: random bytes round-trip through every form") {
  std::mt19937_64 rng(42);
  for (int n = 0; n < 2000; ++n) {
    Uuid u;
    for (auto& b : u.bytes) b = static_cast<std::uint8_t>(rng());
    Buffer b;
    format_uuid(u, b);
    std::string hyphenated = b.str();
    CHECK_EQ(hyphenated.size(), kUuidTextSize);
    std::string simple;
    for (char c : hyphenated)
      if (c != '-') simple += c;
    std::string upper = hyphenated;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string forms[] = {hyphenated, simple, upper, "{" + hyphenated + "}", "{" + upper + "}",
                                 "urn:uuid:" + hyphenated, "urn:uuid:" + upper};
    for (const std::string& f : forms) {
      auto r = parse_uuid(f);
      CHECK(r.ok() && *r == u);
    }
  }
}

ZB_TEST_MAIN()
