// The native form of a Schema: fields in declaration order, compiled once.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/field_rules.h"

namespace zembra {

struct CompiledSchema {
  std::vector<SchemaField> fields;
  std::vector<std::string> names;
  // Ascending positions of the fields whose values change form when
  // serialized; the dict route converts only these.
  std::vector<std::size_t> conversion_indices;

  void add(std::string name, const FieldRules& rules) {
    if (kind_changes_form(rules.kind.tag)) conversion_indices.push_back(fields.size());
    names.push_back(name);
    fields.push_back(SchemaField{std::move(name), rules});
  }
  std::size_t size() const { return fields.size(); }
};

}  // namespace zembra
