// A model's fields compiled once: the descriptors, the core rules derived
// from them, and the order in which serialized records list their keys.
#pragma once

#include <cstddef>
#include <vector>

#include "pure/django_model/field_kind.h"
#include "pure/model/field_rules.h"

namespace zembra::django {

struct CompiledModel {
  std::vector<FieldDescriptor> descriptors;
  // to_field_rules of each descriptor, in the same order.
  std::vector<SchemaField> fields;
  // Positions in ascending byte order of the names. Equal names keep their
  // descriptor order, so the later one's value wins in a serialized record.
  std::vector<std::size_t> sorted_order;

  std::size_t size() const { return descriptors.size(); }
};

CompiledModel compile_model(std::vector<FieldDescriptor> descriptors);

}  // namespace zembra::django
