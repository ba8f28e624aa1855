#include "pure/django_model/field_rules_of.h"

#include <cstdint>
#include <limits>

namespace zembra::django {

FieldRules to_field_rules(const FieldDescriptor& descriptor) {
  FieldRules rules;
  rules.nullable = descriptor.nullable;
  rules.has_default = descriptor.has_default;
  CoreKind& core = rules.kind;
  const FieldKind& kind = descriptor.kind;
  switch (kind.tag) {
    case FieldKindTag::CharField:
    case FieldKindTag::EmailField:
    case FieldKindTag::URLField:
    case FieldKindTag::SlugField:
      core.tag = CoreKindTag::Str;
      core.max_length = kind.max_length;
      break;
    case FieldKindTag::TextField:
      core.tag = CoreKindTag::Str;
      break;
    case FieldKindTag::IntegerField:
      core.tag = CoreKindTag::Int;
      core.min_int = std::numeric_limits<std::int32_t>::min();
      core.max_int = std::numeric_limits<std::int32_t>::max();
      break;
    case FieldKindTag::BigIntegerField:
      core.tag = CoreKindTag::Int;
      break;
    case FieldKindTag::FloatField:
      core.tag = CoreKindTag::Float;
      break;
    case FieldKindTag::DecimalField:
      core.tag = CoreKindTag::Decimal;
      core.max_digits = kind.max_digits;
      core.decimal_places = kind.decimal_places;
      break;
    case FieldKindTag::BooleanField:
      core.tag = CoreKindTag::Bool;
      break;
    case FieldKindTag::DateField:
      core.tag = CoreKindTag::Date;
      break;
    case FieldKindTag::TimeField:
      core.tag = CoreKindTag::Time;
      break;
    case FieldKindTag::DateTimeField:
      core.tag = CoreKindTag::DateTime;
      break;
    case FieldKindTag::UUIDField:
      core.tag = CoreKindTag::Uuid;
      break;
    case FieldKindTag::JSONField:
      core.tag = CoreKindTag::Dict;
      break;
    case FieldKindTag::BinaryField:
      core.tag = CoreKindTag::Bytes;
      core.max_length = kind.max_length;
      break;
  }
  return rules;
}

}  // namespace zembra::django
