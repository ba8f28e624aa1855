#include "pure/validation/check_all.h"

#include <numeric>
#include <string_view>
#include <unordered_set>

#include "pure/parallel/algorithm/map.h"
#include "pure/validation/rules.h"

namespace zembra {

std::vector<FieldError> check_all(std::span<const SchemaField> fields, std::span<const FieldValue> values) {
  std::vector<FieldError> errors;
  if (fields.size() < kParallelFieldThreshold) {
    for (std::size_t i = 0; i < fields.size(); ++i) check_value(fields[i], values[i], errors);
    return errors;
  }
  std::vector<std::size_t> positions(fields.size());
  std::iota(positions.begin(), positions.end(), std::size_t{0});
  auto per_field = parallel::parallel_map(std::span<const std::size_t>(positions), [&](std::size_t i) {
    std::vector<FieldError> found;
    check_value(fields[i], values[i], found);
    return found;
  });
  for (auto& found : per_field)
    for (auto& error : found) errors.push_back(std::move(error));
  return errors;
}

std::size_t count_valid_fields(std::size_t field_count, const std::vector<FieldError>& errors) {
  std::unordered_set<std::string_view> names;
  for (const FieldError& error : errors) names.insert(error.field);
  return names.size() >= field_count ? 0 : field_count - names.size();
}

}  // namespace zembra
