// The native form of a Schema: fields in declaration order, compiled once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <string>
#include <vector>

#include "pure/model/field_rules.h"

namespace zembra {

struct CompiledSchema {
  std::vector<SchemaField> fields;
  std::vector<std::string> names;
  // Ascending positions of the fields whose values change form when
  // serialized; the dict route converts only these.
  std::vector<std::size_t> conversion_indices;
  // Positions in ascending byte order of the names: serialized records list
  // their keys in this order, sorted once here rather than per record.
  std::vector<std::size_t> sorted_order;

  void add(std::string name, const FieldRules& rules) {
    if (kind_changes_form(rules.kind.tag)) conversion_indices.push_back(fields.size());
    names.push_back(name);
    fields.push_back(SchemaField{std::move(name), rules});
  }
  // Call once after the last add().
  void finish() {
    sorted_order.resize(fields.size());
    std::iota(sorted_order.begin(), sorted_order.end(), std::size_t{0});
    std::sort(sorted_order.begin(), sorted_order.end(),
              [this](std::size_t a, std::size_t b) { return names[a] < names[b]; });
  }
  std::size_t size() const { return fields.size(); }
};

}  // namespace zembra
