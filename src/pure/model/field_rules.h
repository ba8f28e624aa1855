// What a Field holds, and one named field of a compiled schema.
#pragma once

#include <string>

#include "pure/model/core_kind.h"

namespace zembra {

struct FieldRules {
  CoreKind kind;
  bool nullable = false;
  // The field has a default: a missing or None value is accepted as null.
  bool has_default = false;

  // Absence and None are accepted as null.
  bool accepts_null() const { return nullable || has_default; }
};

struct SchemaField {
  std::string name;
  FieldRules rules;
};

}  // namespace zembra
