// Integer, float and decimal fields, and the min/max checks of all numbers.
#include <cmath>

#include "pure/input/convert.h"
#include "pure/input/messages.h"
#include "pure/input/unicode.h"

namespace zembra::input::detail {
namespace {

constexpr std::size_t kMaxStringLength = 1000;

// IntegerField drops a trailing "." + zeros + whitespace (r"\.0*\s*$") so
// that "1.0" reads as 1.
std::string_view drop_zero_fraction(std::string_view text) {
  const std::size_t point = text.rfind('.');
  if (point == std::string_view::npos) return text;
  const char* p = text.data() + point + 1;
  const char* end = text.data() + text.size();
  while (p != end && *p == '0') ++p;
  while (p != end) {
    if (!is_space(next_code_point(p))) return text;
  }
  return text.substr(0, point);
}

}  // namespace

void set_integer(const ExactNumber& n, Value& value) {
  constexpr std::string_view kMax = "9223372036854775807";
  const bool fits = n.digits.size() < kMax.size() ||
                    (n.digits.size() == kMax.size() && (n.digits <= kMax || (n.negative && n.digits == "9223372036854775808")));
  if (fits) {
    std::uint64_t magnitude = 0;
    for (char c : n.digits) magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
    value.kind = ValueKind::Int;
    value.integer = n.negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  } else {
    value.kind = ValueKind::BigInt;
    value.exact = n;
  }
}

namespace {

int compare_to(const Value& value, const Bound& bound) {
  switch (value.kind) {
    case ValueKind::Int:
      if (bound.is_int64) return value.integer < bound.int64 ? -1 : value.integer > bound.int64 ? 1 : 0;
      return compare(exact_from_int(value.integer), bound.exact);
    case ValueKind::Float:
      if (value.number < bound.approx) return -1;
      if (value.number > bound.approx) return 1;
      return bound.approx_vs_exact;
    case ValueKind::Duration: {
      const __int128 micros = (static_cast<__int128>(value.duration.days) * 86400 + value.duration.seconds) * 1'000'000 +
                              value.duration.microseconds;
      return micros < bound.micros ? -1 : micros > bound.micros ? 1 : 0;
    }
    default:  // BigInt, Decimal
      return compare(value.exact, bound.exact);
  }
}

bool convert_integer(const Node& data, const Document& doc, std::uint32_t index, Host& host, FieldResult& out) {
  std::optional<ExactNumber> n;
  std::string text;
  switch (data.type) {
    case NodeType::Int:
      out.value.kind = ValueKind::Int;
      out.value.integer = data.integer;
      out.outcome = Outcome::Valid;
      return true;
    case NodeType::BigInt:
      n = exact_from_integer_text(data.view());
      break;
    case NodeType::String:
      if (more_code_points_than(data.view(), kMaxStringLength)) {
        out.fail(msg::kTooLong, "max_string_length");
        return true;
      }
      n = python_int(drop_zero_fraction(data.view()));
      break;
    case NodeType::Float:
      append_float_repr(data.number, text);
      n = python_int(drop_zero_fraction(text));
      break;
    case NodeType::Foreign:
      if (static_cast<Foreign>(data.flags) == Foreign::Decimal) {
        bool host_failed;
        if (!any_text(doc, index, host, text, host_failed)) return !host_failed;
        n = python_int(drop_zero_fraction(text));
      }
      break;
    default:
      break;
  }
  if (!n) {
    out.fail(msg::kInteger, "invalid");
    return true;
  }
  set_integer(*n, out.value);
  out.outcome = Outcome::Valid;
  return true;
}

bool convert_float(const Node& data, const Document& doc, std::uint32_t index, Host& host, FieldResult& out) {
  std::optional<double> number;
  switch (data.type) {
    case NodeType::Float:
      number = data.number;
      break;
    case NodeType::Int:
      number = static_cast<double>(data.integer);
      break;
    case NodeType::BigInt:
      number = decimal_text_to_double(data.view());
      if (std::isinf(*number)) {
        out.fail(msg::kFloatOverflow, "overflow");
        return true;
      }
      break;
    case NodeType::Foreign:
      if (static_cast<Foreign>(data.flags) == Foreign::LongInteger) {
        // At least 640 digits (the lowest limit the interpreter accepts):
        // always beyond a double, as float(value) finds.
        out.fail(msg::kFloatOverflow, "overflow");
        return true;
      }
      if (static_cast<Foreign>(data.flags) == Foreign::Decimal) {
        std::string text;
        bool host_failed;
        if (!any_text(doc, index, host, text, host_failed)) return !host_failed;
        number = python_float(text);
      }
      break;
    case NodeType::True:
      number = 1.0;
      break;
    case NodeType::False:
      number = 0.0;
      break;
    case NodeType::String:
      if (more_code_points_than(data.view(), kMaxStringLength)) {
        out.fail(msg::kTooLong, "max_string_length");
        return true;
      }
      number = python_float(data.view());
      break;
    default:
      break;
  }
  if (!number || !std::isfinite(*number)) {
    out.fail(msg::kNumber, "invalid");
    return true;
  }
  out.value.kind = ValueKind::Float;
  out.value.number = *number;
  out.outcome = Outcome::Valid;
  return true;
}

bool convert_decimal(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host, FieldResult& out) {
  std::string text;
  std::string_view view;
  const Node& data = doc.nodes[index];
  if (data.type == NodeType::String) {
    view = data.view();
  } else if (data.type == NodeType::Foreign && static_cast<Foreign>(data.flags) == Foreign::LongInteger) {
    // The framework's str() of it fails (a server error there); under the
    // default limit of 4300 digits its text would exceed the length guard.
    out.fail(msg::kTooLong, "max_string_length");
    return true;
  } else {
    bool host_failed;
    if (!any_text(doc, index, host, text, host_failed)) return !host_failed;
    view = text;
  }
  const std::string_view stripped = strip_spaces(view);
  if (more_code_points_than(stripped, kMaxStringLength)) {
    out.fail(msg::kTooLong, "max_string_length");
    return true;
  }
  std::optional<ExactNumber> parsed = python_decimal(stripped);
  if (!parsed) {
    out.fail(msg::kNumber, "invalid");
    return true;
  }
  ExactNumber& n = *parsed;
  // validate_precision: digits in total, after and before the point.
  const auto length = static_cast<std::int64_t>(n.digits.size());
  std::int64_t total, whole, places;
  if (n.exponent >= 0) {
    total = whole = length + n.exponent;
    places = 0;
  } else if (length > -n.exponent) {
    total = length;
    whole = length + n.exponent;
    places = -n.exponent;
  } else {
    total = places = -n.exponent;
    whole = 0;
  }
  if (rule.max_digits && total > *rule.max_digits) {
    out.fail("Ensure that there are no more than " + std::to_string(*rule.max_digits) + " digits in total.",
             "max_digits");
    return true;
  }
  if (rule.decimal_places && places > *rule.decimal_places) {
    out.fail("Ensure that there are no more than " + std::to_string(*rule.decimal_places) + " decimal places.",
             "max_decimal_places");
    return true;
  }
  if (rule.max_digits && rule.decimal_places && whole > *rule.max_digits - *rule.decimal_places) {
    out.fail("Ensure that there are no more than " + std::to_string(*rule.max_digits - *rule.decimal_places) +
                 " digits before the decimal point.",
             "max_whole_digits");
    return true;
  }
  if (rule.decimal_places) {
    // quantize() to the places; it only adds zeros here (the places were
    // checked), within the context's precision: max_digits, else 28.
    const std::int64_t target = -*rule.decimal_places;
    const std::int64_t extra = n.exponent - target;
    const std::int64_t precision = rule.max_digits ? *rule.max_digits : 28;
    if (!n.is_zero()) {
      if (length + extra > precision) {
        out.fail(msg::kNumber, "invalid");
        return true;
      }
      n.digits.append(static_cast<std::size_t>(extra), '0');
    }
    n.exponent = target;
  }
  out.value.kind = ValueKind::Decimal;
  out.value.exact = std::move(n);
  out.outcome = Outcome::Valid;
  return true;
}

}  // namespace

void check_bounds(const FieldRule& rule, const Value& value, FieldResult& out) {
  if (rule.max_value && compare_to(value, *rule.max_value) > 0) {
    out.errors.push_back({"Ensure this value is less than or equal to " + rule.max_value->text + ".", "max_value"});
  }
  if (rule.min_value && compare_to(value, *rule.min_value) < 0) {
    out.errors.push_back({"Ensure this value is greater than or equal to " + rule.min_value->text + ".", "min_value"});
  }
}

bool convert_number_kind(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host,
                         FieldResult& out) {
  const Node& data = doc.nodes[index];
  bool ok;
  switch (rule.kind) {
    case Kind::Integer:
      ok = convert_integer(data, doc, index, host, out);
      break;
    case Kind::Float:
      ok = convert_float(data, doc, index, host, out);
      break;
    default:
      ok = convert_decimal(rule, doc, index, host, out);
      break;
  }
  if (ok && out.outcome == Outcome::Valid) check_bounds(rule, out.value, out);
  return ok;
}

}  // namespace zembra::input::detail
