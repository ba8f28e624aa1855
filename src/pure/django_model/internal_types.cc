#include "pure/django_model/internal_types.h"

#include <array>
#include <utility>

namespace zembra::django {
namespace {

using Tag = FieldKindTag;

constexpr std::array<std::pair<std::string_view, Tag>, 21> kInternalTypes = {{
    {"CharField", Tag::CharField},
    {"TextField", Tag::TextField},
    {"IntegerField", Tag::IntegerField},
    {"SmallIntegerField", Tag::IntegerField},
    {"PositiveIntegerField", Tag::IntegerField},
    {"PositiveSmallIntegerField", Tag::IntegerField},
    {"BigIntegerField", Tag::BigIntegerField},
    {"PositiveBigIntegerField", Tag::BigIntegerField},
    {"FloatField", Tag::FloatField},
    {"DecimalField", Tag::DecimalField},
    {"BooleanField", Tag::BooleanField},
    {"NullBooleanField", Tag::BooleanField},
    {"DateField", Tag::DateField},
    {"TimeField", Tag::TimeField},
    {"DateTimeField", Tag::DateTimeField},
    {"UUIDField", Tag::UUIDField},
    {"JSONField", Tag::JSONField},
    {"BinaryField", Tag::BinaryField},
    {"EmailField", Tag::EmailField},
    {"URLField", Tag::URLField},
    {"SlugField", Tag::SlugField},
}};

}  // namespace

std::optional<FieldKindTag> kind_for_internal_type(std::string_view internal_type) {
  for (const auto& [name, tag] : kInternalTypes)
    if (name == internal_type) return tag;
  return std::nullopt;
}

}  // namespace zembra::django
