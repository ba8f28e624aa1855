// Boolean, UUID, date and time, duration, JSON, choice and related-key fields.
#include <array>
#include <cmath>
#include <cstdint>

#include "pure/input/convert.h"
#include "pure/input/messages.h"
#include "pure/input/unicode.h"

namespace zembra::input::detail {
namespace {

Foreign foreign_kind(const Node& node) { return static_cast<Foreign>(node.flags); }

bool convert_boolean(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host, FieldResult& out) {
  const Node& data = doc.nodes[index];
  int truth = -1;  // 1 true, 0 false, 2 null
  switch (data.type) {
    case NodeType::True:
      truth = 1;
      break;
    case NodeType::False:
      truth = 0;
      break;
    case NodeType::Int:
      truth = data.integer == 1 ? 1 : data.integer == 0 ? 0 : -1;
      break;
    case NodeType::Float:
      truth = data.number == 1.0 ? 1 : data.number == 0.0 ? 0 : -1;
      break;
    case NodeType::String: {
      // The framework lower-cases first; no text beyond ASCII lower-cases
      // into one of the words.
      const std::string_view text = data.view();
      if (!is_ascii(text) || text.size() > 5) break;
      std::string lower;
      for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      if (lower == "t" || lower == "y" || lower == "yes" || lower == "true" || lower == "on" || lower == "1") {
        truth = 1;
      } else if (lower == "f" || lower == "n" || lower == "no" || lower == "false" || lower == "off" || lower == "0") {
        truth = 0;
      } else if ((lower == "null" || lower.empty()) && rule.allow_null) {
        truth = 2;
      }
      break;
    }
    case NodeType::Foreign:
      if (foreign_kind(data) == Foreign::Decimal) {
        // Decimal('1') equals 1, so it is in the framework's true set.
        std::string text;
        bool host_failed;
        if (!any_text(doc, index, host, text, host_failed)) return !host_failed;
        if (auto n = python_decimal(text)) {
          if (n->is_zero()) {
            truth = 0;
          } else if (!n->negative && compare(*n, exact_from_int(1)) == 0) {
            truth = 1;
          }
        }
      }
      break;
    default:
      break;
  }
  if (truth < 0) {
    out.fail(msg::kBoolean, "invalid");
    return true;
  }
  out.outcome = Outcome::Valid;
  if (truth == 2) {
    out.value.kind = ValueKind::Null;
  } else {
    out.value.kind = ValueKind::Bool;
    out.value.boolean = truth == 1;
  }
  return true;
}

// Every non-overlapping occurrence of `what` removed, left to right.
std::string remove_all(std::string_view text, std::string_view what) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(what, start);
    if (at == std::string_view::npos) break;
    out.append(text.substr(start, at - start));
    start = at + what.size();
  }
  out.append(text.substr(start));
  return out;
}

// The usual forms, 32 hex digits or 8-4-4-4-12 with dashes, read directly.
// The value of each hex digit byte; 0xFF for every other byte.
constexpr std::array<std::uint8_t, 256> kHexDigits = [] {
  std::array<std::uint8_t, 256> table{};
  for (auto& v : table) v = 0xFF;
  for (int c = 0; c < 10; ++c) table['0' + c] = static_cast<std::uint8_t>(c);
  for (int c = 0; c < 6; ++c) {
    table['a' + c] = static_cast<std::uint8_t>(10 + c);
    table['A' + c] = static_cast<std::uint8_t>(10 + c);
  }
  return table;
}();

// N hex digits at p into value; `bad` collects a high bit for any other byte.
template <std::size_t N>
inline void read_hex(const char* p, std::uint64_t& value, std::uint8_t& bad) {
  for (std::size_t i = 0; i < N; ++i) {
    const std::uint8_t d = kHexDigits[static_cast<unsigned char>(p[i])];
    bad |= d;
    value = (value << 4) | (d & 0x0F);
  }
}

std::optional<unsigned __int128> plain_uuid(std::string_view text) {
  std::uint64_t high = 0, low = 0;
  std::uint8_t bad = 0;
  const char* p = text.data();
  if (text.size() == 32) {
    read_hex<16>(p, high, bad);
    read_hex<16>(p + 16, low, bad);
  } else if (text.size() == 36) {
    if (p[8] != '-' || p[13] != '-' || p[18] != '-' || p[23] != '-') return std::nullopt;
    read_hex<8>(p, high, bad);
    read_hex<4>(p + 9, high, bad);
    read_hex<4>(p + 14, high, bad);
    read_hex<4>(p + 19, low, bad);
    read_hex<12>(p + 24, low, bad);
  } else {
    return std::nullopt;
  }
  if (bad & 0xF0) return std::nullopt;
  return (static_cast<unsigned __int128>(high) << 64) | low;
}

// uuid.UUID(hex=text).
std::optional<unsigned __int128> uuid_from_text(std::string_view text) {
  if (auto value = plain_uuid(text)) return value;
  std::string s = remove_all(remove_all(text, "urn:"), "uuid:");
  std::size_t begin = 0, end = s.size();
  while (begin < end && (s[begin] == '{' || s[begin] == '}')) ++begin;
  while (end > begin && (s[end - 1] == '{' || s[end - 1] == '}')) --end;
  std::string hex;
  for (std::size_t i = begin; i < end; ++i) {
    if (s[i] != '-') hex += s[i];
  }
  if (code_point_count(hex) != 32) return std::nullopt;
  return python_hex_u128(hex);
}

// uuid.UUID(int=n): 0 <= n < 2**128.
std::optional<unsigned __int128> uuid_from_int(const Node& data) {
  if (data.type == NodeType::Int) {
    if (data.integer < 0) return std::nullopt;
    return static_cast<unsigned __int128>(data.integer);
  }
  if (data.type == NodeType::True || data.type == NodeType::False) return data.type == NodeType::True ? 1 : 0;
  if (data.type == NodeType::BigInt) {
    const ExactNumber n = exact_from_integer_text(data.view());
    if (n.negative || n.digits.size() > 39) return std::nullopt;
    unsigned __int128 value = 0;
    constexpr unsigned __int128 kMax = ~static_cast<unsigned __int128>(0);
    for (char c : n.digits) {
      const unsigned d = static_cast<unsigned>(c - '0');
      if (value > (kMax - d) / 10) return std::nullopt;
      value = value * 10 + d;
    }
    return value;
  }
  return std::nullopt;
}

bool convert_uuid(const Node& data, std::uint32_t index, FieldResult& out) {
  std::optional<unsigned __int128> value;
  if (data.type == NodeType::String) {
    value = uuid_from_text(data.view());
  } else if (data.type == NodeType::Foreign && foreign_kind(data) == Foreign::Uuid) {
    out.outcome = Outcome::Valid;
    out.value.kind = ValueKind::Foreign;
    out.value.node = index;
    return true;
  } else {
    value = uuid_from_int(data);
  }
  if (!value) {
    out.fail(msg::kUuid, "invalid");
    return true;
  }
  out.outcome = Outcome::Valid;
  out.value.kind = ValueKind::Uuid;
  out.value.uuid = *value;
  return true;
}

// The rule's zone applied to a parsed datetime (DateTimeField's
// enforce_timezone) where it can be done natively.
bool enforce_zone(const FieldRule& rule, CivilDateTime parsed, FieldResult& out) {
  CivilDateTime result = parsed;
  switch (rule.zone) {
    case ZoneMode::Naive:
      if (parsed.aware && !to_utc(parsed, result)) {
        out.fail(msg::kDateTimeOverflow, "overflow");
        return true;
      }
      result.aware = false;
      break;
    case ZoneMode::Fixed: {
      CivilDateTime utc;
      if (parsed.aware && parsed.offset_us == rule.zone_offset_us) {
        break;  // already shown at the zone's offset
      }
      if (!parsed.aware && parsed.date.year > 1 && parsed.date.year < 9999) {
        result.aware = true;  // a day's offset cannot leave the year range
        result.offset_us = rule.zone_offset_us;
        break;
      }
      if (parsed.aware) {
        if (!to_utc(parsed, utc) || !from_utc(utc, rule.zone_offset_us, result)) {
          out.fail(msg::kDateTimeOverflow, "overflow");
          return true;
        }
      } else {
        result.aware = true;
        result.offset_us = rule.zone_offset_us;
        if (!to_utc(result, utc)) {
          out.fail(msg::kDateTimeOverflow, "overflow");
          return true;
        }
      }
      break;
    }
    case ZoneMode::Python:
      out.value.needs_zone = true;
      break;
  }
  out.outcome = Outcome::Valid;
  out.value.kind = ValueKind::DateTime;
  out.value.datetime = result;
  return true;
}

bool convert_temporal(const FieldRule& rule, const Node& data, std::uint32_t index, FieldResult& out) {
  out.value.node = index;  // for a foreign value passed through
  const bool is_text = data.type == NodeType::String;
  const Foreign foreign = data.type == NodeType::Foreign ? foreign_kind(data) : Foreign::Other;
  const bool surrogate = (data.flags & kSurrogate) != 0;
  switch (rule.kind) {
    case Kind::Date: {
      if (foreign == Foreign::DateTime) {
        out.fail(msg::kDateGotDateTime, "datetime");
        return true;
      }
      if (foreign == Foreign::Date) {
        out.outcome = Outcome::Valid;
        out.value.kind = ValueKind::Foreign;
        return true;
      }
      const auto date = is_text ? read_date(data.view(), surrogate) : std::nullopt;
      if (!date) {
        out.fail(msg::kDate, "invalid");
        return true;
      }
      out.outcome = Outcome::Valid;
      out.value.kind = ValueKind::Date;
      out.value.datetime.date = *date;
      return true;
    }
    case Kind::Time: {
      if (foreign == Foreign::Time) {
        out.outcome = Outcome::Valid;
        out.value.kind = ValueKind::Foreign;
        return true;
      }
      const auto time = is_text ? read_time(data.view(), surrogate) : std::nullopt;
      if (!time) {
        out.fail(msg::kTime, "invalid");
        return true;
      }
      out.outcome = Outcome::Valid;
      out.value.kind = ValueKind::Time;
      out.value.datetime.time = *time;
      return true;
    }
    default: {
      if (foreign == Foreign::Date) {
        out.fail(msg::kDateTimeGotDate, "date");
        return true;
      }
      if (foreign == Foreign::DateTime) {
        out.outcome = Outcome::Valid;
        out.value.kind = ValueKind::Foreign;
        out.value.needs_zone = true;
        return true;
      }
      const auto datetime = is_text ? read_datetime(data.view(), surrogate) : std::nullopt;
      if (!datetime) {
        out.fail(msg::kDateTime, "invalid");
        return true;
      }
      return enforce_zone(rule, *datetime, out);
    }
  }
}

bool convert_duration(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host, FieldResult& out) {
  const Node& data = doc.nodes[index];
  if (data.type == NodeType::Foreign && foreign_kind(data) == Foreign::Timedelta) {
    // Passed through as it is, but held to the bounds like a parsed one.
    Value bounded;
    bounded.kind = ValueKind::Duration;
    if (!host.duration_of(doc, index, bounded.duration)) return false;
    out.outcome = Outcome::Valid;
    out.value.kind = ValueKind::Foreign;
    out.value.node = index;
    check_bounds(rule, bounded, out);
    return true;
  }
  std::string text;
  if (data.type == NodeType::Array || data.type == NodeType::Object) {
    text = "[";  // str() of a list or dict never reads as a duration
  } else {
    bool host_failed;
    if (!any_text(doc, index, host, text, host_failed)) return !host_failed;
  }
  Duration duration;
  switch (read_duration(text, duration)) {
    case DurationRead::Invalid:
      out.fail(msg::kDuration, "invalid");
      return true;
    case DurationRead::Overflow:
      out.fail(msg::kDurationOverflow, "overflow");
      return true;
    case DurationRead::Ok:
      break;
  }
  out.outcome = Outcome::Valid;
  out.value.kind = ValueKind::Duration;
  out.value.duration = duration;
  check_bounds(rule, out.value, out);
  return true;
}

// Whether json.dumps(value, allow_nan=False) succeeds: not with an infinite
// float (a number too large for a double); a foreign object anywhere inside
// is the interpreter's to judge (its encoder may take it, as an int too long
// to write may not).
enum class Dumpable : std::uint8_t { Yes, No, AskHost };

Dumpable dumpability(const Document& doc, std::uint32_t index) {
  const std::uint32_t end = doc.nodes[index].end;
  Dumpable answer = Dumpable::Yes;
  for (std::uint32_t i = index; i < end; ++i) {
    const Node& n = doc.nodes[i];
    if (n.type == NodeType::Foreign) answer = Dumpable::AskHost;
    if (n.type == NodeType::Float && !std::isfinite(n.number)) return Dumpable::No;
  }
  return answer;
}

bool convert_choice(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host, FieldResult& out) {
  const Node& data = doc.nodes[index];
  if (data.type == NodeType::String && data.size == 0 && rule.allow_blank) {
    out.outcome = Outcome::Valid;
    out.value.set_text(std::string(), 0);
    return true;
  }
  std::string key;
  bool host_failed;
  if (!any_text(doc, index, host, key, host_failed)) return !host_failed;
  const auto it = rule.choices.find(key);
  if (it == rule.choices.end()) {
    out.fail("\"" + key + "\" is not a valid choice.", "invalid_choice");
    return true;
  }
  out.outcome = Outcome::Valid;
  out.value.kind = ValueKind::Choice;
  out.value.choice = it->second;
  return true;
}

// The interpreter's type names for the framework's messages.
const char* type_name(const Node& data) {
  switch (data.type) {
    case NodeType::String: return "str";
    case NodeType::Int:
    case NodeType::BigInt: return "int";
    case NodeType::Float: return "float";
    case NodeType::True:
    case NodeType::False: return "bool";
    case NodeType::Array: return "list";
    case NodeType::Object: return "dict";
    case NodeType::Null: return "NoneType";
    default: return "object";
  }
}

// One related key, as queryset.get(pk=data) reads it before the lookup
// (PrimaryKeyRelatedField.to_internal_value); the existence check is the
// caller's. false only when the host failed.
bool read_key(KeyKind kind, const Document& doc, std::uint32_t index, Host& host, Value& key, FieldResult& out) {
  const Node& data = doc.nodes[index];
  auto incorrect = [&] {
    out.fail(std::string("Incorrect type. Expected pk value, received ") + type_name(data) + ".", "incorrect_type");
    return true;
  };
  if (data.type == NodeType::True || data.type == NodeType::False) return incorrect();
  if (data.type == NodeType::Null) {
    key.kind = ValueKind::Null;
    return true;
  }
  switch (kind) {
    case KeyKind::Integer: {
      // int(data)
      std::optional<ExactNumber> n;
      if (data.type == NodeType::Int) {
        key.kind = ValueKind::Int;
        key.integer = data.integer;
        return true;
      }
      if (data.type == NodeType::BigInt) n = exact_from_integer_text(data.view());
      if (data.type == NodeType::String) n = python_int(data.view());
      if (data.type == NodeType::Float && std::isfinite(data.number)) n = exact_integer_part(data.number);
      if (!n) return incorrect();
      set_integer(*n, key);
      return true;
    }
    case KeyKind::String: {
      std::string text;
      bool host_failed;
      if (data.type == NodeType::String) {
        key.set_text_view(data.view(), data.flags);
        return true;
      }
      if (!any_text(doc, index, host, text, host_failed)) return !host_failed;
      const std::uint8_t flags = is_ascii(text) ? 0 : kNonAscii | kSurrogate;  // str() may hold lone surrogates
      key.set_text(std::move(text), flags);
      return true;
    }
    case KeyKind::Uuid: {
      std::optional<unsigned __int128> value;
      if (data.type == NodeType::String) {
        value = uuid_from_text(data.view());
      } else if (data.type == NodeType::Foreign && foreign_kind(data) == Foreign::Uuid) {
        key.kind = ValueKind::Foreign;
        key.node = index;
        return true;
      } else {
        value = uuid_from_int(data);
      }
      if (!value) {
        std::string text;
        bool host_failed;
        if (!any_text(doc, index, host, text, host_failed)) return !host_failed;
        out.fail("\xE2\x80\x9C" + text + "\xE2\x80\x9D is not a valid UUID.", "invalid");
        return true;
      }
      key.kind = ValueKind::Uuid;
      key.uuid = *value;
      return true;
    }
  }
  return true;
}

bool convert_many_keys(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host, FieldResult& out) {
  const Node& data = doc.nodes[index];
  if (data.type != NodeType::Array && data.type != NodeType::Object) {
    out.fail(std::string("Expected a list of items but got type \"") + type_name(data) + "\".", "not_a_list");
    return true;
  }
  if (!rule.allow_empty && data.size == 0) {
    out.fail(msg::kEmptyList, "empty");
    return true;
  }
  Value& value = out.value;
  value.kind = ValueKind::Keys;
  value.items.reserve(data.size);
  // Items of a list; for an object, its keys (what iterating a dict gives).
  const bool keys_only = data.type == NodeType::Object;
  std::uint32_t i = index + 1;
  while (i < data.end) {
    Value key;
    if (!read_key(rule.key_kind, doc, i, host, key, out)) return false;
    if (out.outcome == Outcome::Invalid) {
      value.items.clear();
      value.kind = ValueKind::Null;
      return true;
    }
    key.node = key.kind == ValueKind::Foreign ? key.node : i;
    value.items.push_back(std::move(key));
    i = doc.nodes[i].end;
    if (keys_only) i = doc.nodes[i].end;  // skip the member's value
  }
  out.outcome = Outcome::Valid;
  return true;
}

}  // namespace

bool convert_other_kind(const FieldRule& rule, const Document& doc, std::uint32_t index, Host& host,
                        FieldResult& out) {
  const Node& data = doc.nodes[index];
  switch (rule.kind) {
    case Kind::Boolean:
      return convert_boolean(rule, doc, index, host, out);
    case Kind::Uuid:
      return convert_uuid(data, index, out);
    case Kind::Date:
    case Kind::Time:
    case Kind::DateTime:
      return convert_temporal(rule, data, index, out);
    case Kind::Duration:
      return convert_duration(rule, doc, index, host, out);
    case Kind::Json: {
      bool dumpable = true;
      switch (dumpability(doc, index)) {
        case Dumpable::Yes:
          break;
        case Dumpable::No:
          dumpable = false;
          break;
        case Dumpable::AskHost:
          if (!host.json_dumpable(doc, index, dumpable)) return false;
          break;
      }
      if (!dumpable) {
        out.fail(msg::kJson, "invalid");
      } else {
        out.outcome = Outcome::Valid;
        out.value.kind = ValueKind::Node;
        out.value.node = index;
      }
      return true;
    }
    case Kind::Choice:
      return convert_choice(rule, doc, index, host, out);
    case Kind::PrimaryKey: {
      Value key;
      if (!read_key(rule.key_kind, doc, index, host, key, out)) return false;
      if (out.outcome != Outcome::Invalid) {
        if (key.kind == ValueKind::Foreign) key.node = index;
        out.outcome = Outcome::Valid;
        out.value = std::move(key);
      }
      return true;
    }
    default:
      return convert_many_keys(rule, doc, index, host, out);
  }
}

}  // namespace zembra::input::detail
