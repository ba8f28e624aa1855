#include "pure/django_model/compiled_model.h"

#include <algorithm>
#include <numeric>

#include "pure/django_model/field_rules_of.h"

namespace zembra::django {

CompiledModel compile_model(std::vector<FieldDescriptor> descriptors) {
  CompiledModel model;
  model.fields.reserve(descriptors.size());
  for (const FieldDescriptor& d : descriptors) model.fields.push_back(to_schema_field(d));
  model.sorted_order.resize(descriptors.size());
  std::iota(model.sorted_order.begin(), model.sorted_order.end(), std::size_t{0});
  std::stable_sort(model.sorted_order.begin(), model.sorted_order.end(),
                   [&](std::size_t a, std::size_t b) { return descriptors[a].name < descriptors[b].name; });
  model.descriptors = std::move(descriptors);
  return model;
}

}  // namespace zembra::django
