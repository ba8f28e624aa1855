#include "pure/input/convert.h"

#include "pure/input/messages.h"
#include "pure/input/unicode.h"

namespace zembra::input {
namespace detail {

bool scalar_text(const Node& node, std::string& out) {
  switch (node.type) {
    case NodeType::String:
      out.assign(node.view());
      return true;
    case NodeType::Int:
      out = std::to_string(node.integer);
      return true;
    case NodeType::BigInt:
      out.assign(node.view());
      return true;
    case NodeType::Float:
      out.clear();
      append_float_repr(node.number, out);
      return true;
    case NodeType::True:
      out = "True";
      return true;
    case NodeType::False:
      out = "False";
      return true;
    case NodeType::Null:
      out = "None";
      return true;
    default:
      return false;
  }
}

bool any_text(const Document& doc, std::uint32_t index, Host& host, std::string& out, bool& host_failed) {
  host_failed = false;
  if (scalar_text(doc.nodes[index], out)) return true;
  if (!host.text_of(doc, index, out)) {
    host_failed = true;
    return false;
  }
  return true;
}

}  // namespace detail

namespace {

bool is_text_kind(Kind kind) {
  return kind == Kind::String || kind == Kind::Email || kind == Kind::Url || kind == Kind::Slug || kind == Kind::Ip;
}

}  // namespace

bool convert_field(const FieldRule& rule, const Document& doc, std::uint32_t node, bool partial, Host& host,
                   FieldResult& out) {
  out.reset();
  if (node == kNoNode) {
    if (!partial && rule.required) out.fail(msg::kRequired, "required");
    return true;
  }
  const Node& data = doc.nodes[node];
  // Emptiness as each field class sees it, before the null check.
  if (is_text_kind(rule.kind) && data.type == NodeType::String) {
    const std::string_view text = data.view();
    if (text.empty() || (rule.trim_whitespace && strip_spaces(text).empty())) {
      if (!rule.allow_blank) {
        out.fail(msg::kBlank, "blank");
      } else {
        out.outcome = Outcome::Valid;
        out.value.set_text(std::string(), 0);
      }
      return true;
    }
  }
  bool is_null = data.type == NodeType::Null;
  if (rule.kind == Kind::Decimal && rule.allow_null && data.type == NodeType::String &&
      strip_spaces(data.view()).empty()) {
    is_null = true;
  }
  if (rule.kind == Kind::PrimaryKey && data.type == NodeType::String && data.size == 0) is_null = true;
  if (is_null) {
    if (!rule.allow_null) {
      out.fail(msg::kNull, "null");
    } else {
      out.outcome = Outcome::Valid;
      out.value.kind = ValueKind::Null;
    }
    return true;
  }
  switch (rule.kind) {
    case Kind::String:
    case Kind::Email:
    case Kind::Url:
    case Kind::Slug:
    case Kind::Ip:
      return detail::convert_text_kind(rule, doc, node, host, out);
    case Kind::Integer:
    case Kind::Float:
    case Kind::Decimal:
      return detail::convert_number_kind(rule, doc, node, host, out);
    default:
      return detail::convert_other_kind(rule, doc, node, host, out);
  }
}

}  // namespace zembra::input
