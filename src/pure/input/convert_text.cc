// String, email, URL, slug and IP address fields (DRF's CharField family).
#include <cstdio>

#include "pure/input/convert.h"
#include "pure/input/messages.h"
#include "pure/input/network.h"
#include "pure/input/unicode.h"

namespace zembra::input::detail {
namespace {

std::string surrogate_message(std::string_view text) {
  for (const char* p = text.data(); p != text.data() + text.size();) {
    const char32_t c = next_code_point(p);
    if (c >= 0xD800 && c <= 0xDFFF) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "Surrogate characters are not allowed: U+%X.", static_cast<unsigned>(c));
      return buffer;
    }
  }
  return {};
}

}  // namespace

bool convert_text_kind(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host,
                       FieldResult& out) {
  const Node& data = doc.nodes[index];
  Value& value = out.value;
  // to_internal_value: str as it is, numbers through str(), nothing else.
  if (rule.kind == Kind::Ip) {
    if (data.type != NodeType::String) {
      out.fail(msg::kIpBoth, "invalid");
      return true;
    }
    const std::string_view raw = data.view();
    if (raw.find(':') != std::string_view::npos && rule.protocol != Protocol::Ipv4) {
      auto cleaned = clean_ipv6(raw, rule.protocol == Protocol::Both);
      if (!cleaned) {
        out.fail(msg::kIpBoth, "invalid");
        return true;
      }
      value.set_text(std::move(*cleaned), 0);  // as cleaned, not stripped
    }
  }
  std::uint8_t flags = 0;
  std::string_view text;
  if (value.text_owned) {
    text = value.owned;
  } else switch (data.type) {
    case NodeType::String:
      text = data.view();
      flags = data.flags;
      break;
    case NodeType::Int:
    case NodeType::BigInt:
    case NodeType::Float:
      scalar_text(data, value.owned);
      text = value.owned;
      value.text_owned = true;
      break;
    default:
      // CharField's "invalid", in each subclass's own words.
      out.fail(rule.kind == Kind::Email ? msg::kEmail
               : rule.kind == Kind::Url ? msg::kUrl
               : rule.kind == Kind::Slug ? msg::kSlug
                                         : msg::kNotString,
               "invalid");
      return true;
  }
  if (value.text_owned) {
    value.kind = ValueKind::Text;  // a number's text has no spaces to trim
  } else {
    if (rule.trim_whitespace) text = strip_spaces(text);
    value.set_text_view(text, flags);
  }
  out.outcome = Outcome::Valid;

  // Validators, in the order the framework appends them.
  auto& errors = out.errors;
  if (rule.max_length || rule.min_length) {
    // flags are clear for ASCII text (also for a number's text).
    const auto length = static_cast<std::int64_t>((flags & kNonAscii) ? code_point_count(text) : text.size());
    if (rule.max_length && length > *rule.max_length) {
      errors.push_back({"Ensure this field has no more than " + std::to_string(*rule.max_length) + " characters.",
                        "max_length"});
    }
    if (rule.min_length && length < *rule.min_length) {
      errors.push_back(
          {"Ensure this field has at least " + std::to_string(*rule.min_length) + " characters.", "min_length"});
    }
  }
  if (text.find('\0') != std::string_view::npos) errors.push_back({msg::kNullCharacters, "null_characters_not_allowed"});
  if (flags & kSurrogate) {
    std::string message = surrogate_message(text);
    if (!message.empty()) errors.push_back({std::move(message), "surrogate_characters_not_allowed"});
  }
  switch (rule.kind) {
    case Kind::Email:
      if (!is_email(text)) errors.push_back({msg::kEmail, "invalid"});
      break;
    case Kind::Url: {
      std::optional<bool> valid = is_url(text);
      if (!valid) {
        bool answer = false;
        if (!host.check(Host::Check::Url, text, answer)) return false;
        valid = answer;
      }
      if (!*valid) errors.push_back({msg::kUrl, "invalid"});
      break;
    }
    case Kind::Slug: {
      std::optional<bool> valid = is_slug(text, rule.allow_unicode);
      if (!valid) {
        bool answer = false;
        if (!host.check(Host::Check::UnicodeSlug, text, answer)) return false;
        valid = answer;
      }
      if (!*valid) errors.push_back({rule.allow_unicode ? msg::kUnicodeSlug : msg::kSlug, "invalid"});
      break;
    }
    case Kind::Ip:
      if (rule.protocol == Protocol::Both && !is_ipv4(text) && !is_ipv6(text)) {
        errors.push_back({msg::kIpBoth, "invalid"});
      } else if (rule.protocol == Protocol::Ipv4 && !is_ipv4(text)) {
        errors.push_back({msg::kIpv4, "invalid"});
      } else if (rule.protocol == Protocol::Ipv6 && !is_ipv6(text)) {
        errors.push_back({msg::kIpv6, "invalid"});
      }
      break;
    default:
      break;
  }
  return true;
}

}  // namespace zembra::input::detail
