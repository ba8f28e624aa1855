// Person-name check: length, a space, no digits, only letters, hyphens and
// spaces.
//
// The result is a bit set over four fixed rules, so checking a name never
// allocates; the binding turns the failed rules into their messages, in rule
// order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zembra::analytics {

// The rules in the order their messages are reported.
enum class NameRule : std::uint8_t {
  kLength = 0,      // more than kMaxNameLength code points
  kSpace = 1,       // no U+0020
  kDigits = 2,      // an ASCII digit
  kCharacters = 3,  // anything but ASCII letters, '-', ' ', digits, or Alphabetic from U+00AA up
};
inline constexpr std::size_t kNameRuleCount = 4;
inline constexpr std::size_t kMaxNameLength = 120;  // code points

inline constexpr std::array<std::string_view, kNameRuleCount> kNameRuleMessages = {
    "exceeds 120 characters",
    "must contain a space",
    "must not contain digits",
    "contains invalid characters",
};

constexpr std::string_view name_rule_message(NameRule rule) noexcept {
  return kNameRuleMessages[static_cast<std::size_t>(rule)];
}

// The failed rules of one name, iterable in reporting order.
class NameRuleList {
 public:
  const NameRule* begin() const noexcept { return rules_.data(); }
  const NameRule* end() const noexcept { return rules_.data() + size_; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  NameRule operator[](std::size_t i) const noexcept { return rules_[i]; }

 private:
  friend struct NameCheckResult;
  std::array<NameRule, kNameRuleCount> rules_{};
  std::size_t size_ = 0;
};

struct NameCheckResult {
  std::uint8_t failed = 0;  // bit r set when rule r failed

  constexpr bool valid() const noexcept { return failed == 0; }
  constexpr bool has(NameRule rule) const noexcept {
    return (failed >> static_cast<unsigned>(rule)) & 1u;
  }
  NameRuleList failed_rules() const noexcept {
    NameRuleList list;
    for (std::size_t r = 0; r < kNameRuleCount; ++r)
      if ((failed >> r) & 1u) list.rules_[list.size_++] = static_cast<NameRule>(r);
    return list;
  }
  friend bool operator==(const NameCheckResult&, const NameCheckResult&) = default;
};

// Checks one name given as UTF-8. All four rules are always evaluated. The
// text is expected to be valid UTF-8; a malformed byte is never read past the
// end and counts as one invalid character.
NameCheckResult check_name(std::string_view utf8) noexcept;

}  // namespace zembra::analytics
