#include "pure/input/request.h"

#include <string>
#include <unordered_set>

#include "pure/input/convert.h"
#include "pure/input/messages.h"

namespace zembra::input {

bool Plan::finish() {
  index.clear();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!index.emplace(fields[i].name, i).second) return false;
  }
  return true;
}

void refuse_unparsable(std::string_view detail, RequestResult& out) {
  out.body_refused = true;
  out.fields.clear();
  out.non_field_errors.clear();
  out.non_field_errors.push_back({"JSON parse error - " + std::string(detail), "parse_error"});
}

bool read_request(const Plan& plan, const Document& doc, const ReadOptions& options, Host& host, RequestResult& out) {
  out.body_refused = false;
  out.non_field_errors.clear();
  const Node& root = doc.nodes[0];
  if (root.type != NodeType::Object) {
    out.body_refused = true;
    out.fields.clear();
    if (root.type == NodeType::Null) {
      out.non_field_errors.push_back({msg::kNoData, "null"});
    } else {
      const char* name = "object";
      switch (root.type) {
        case NodeType::Array: name = "list"; break;
        case NodeType::String: name = "str"; break;
        case NodeType::Int:
        case NodeType::BigInt: name = "int"; break;
        case NodeType::Float: name = "float"; break;
        case NodeType::True:
        case NodeType::False: name = "bool"; break;
        default: break;
      }
      out.non_field_errors.push_back(
          {std::string("Invalid data. Expected a dictionary, but got ") + name + ".", "invalid"});
    }
    return true;
  }
  // Members to fields; a repeated key's last value counts, as in a dict.
  std::vector<std::uint32_t>& found = out.found;
  found.assign(plan.fields.size(), kNoNode);
  std::unordered_set<std::string_view> unknown_seen;  // allocates only when used
  std::size_t guess = 0;  // bodies usually list the fields in plan order
  for (std::uint32_t i = 1; i < root.end;) {
    const Node& key = doc.nodes[i];
    const std::uint32_t key_index = i;
    const std::uint32_t value = i + 1;
    i = doc.nodes[value].end;
    if (key.type != NodeType::String) {
      // A dict body's key that is not text (1, None) names no field.
      if (options.reject_unknown) {
        std::string name;
        bool host_failed;
        if (!detail::any_text(doc, key_index, host, name, host_failed)) return false;
        out.non_field_errors.push_back({"Unknown field \"" + name + "\".", "unknown_field"});
      }
      continue;
    }
    const std::string_view name = key.view();
    std::size_t field;
    if (guess < plan.fields.size() && plan.fields[guess].name == name) {
      field = guess;
    } else if (auto it = plan.index.find(name); it != plan.index.end()) {
      field = it->second;
    } else {
      if (options.reject_unknown && unknown_seen.insert(name).second) {  // first sighting only
        out.non_field_errors.push_back({"Unknown field \"" + std::string(name) + "\".", "unknown_field"});
      }
      continue;
    }
    found[field] = value;
    guess = field + 1;
  }
  out.fields.resize(plan.fields.size());  // kept between reads: resets reuse storage
  for (std::size_t f = 0; f < plan.fields.size(); ++f) {
    if (!convert_field(plan.fields[f], doc, found[f], options.partial, host, out.fields[f])) return false;
  }
  return true;
}

}  // namespace zembra::input
