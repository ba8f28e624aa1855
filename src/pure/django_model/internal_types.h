// Django's internal type names (what a model field's get_internal_type()
// returns) and the field kind each one is described as.
#pragma once

#include <optional>
#include <string_view>

#include "pure/django_model/field_kind.h"

namespace zembra::django {

// The kind for an internal type name, aliases folded in (SmallIntegerField
// is an IntegerField, NullBooleanField a BooleanField, ...). Any other name,
// automatic keys, relations, files, durations and addresses among them,
// gives nullopt: such fields are left out of a model's descriptors.
std::optional<FieldKindTag> kind_for_internal_type(std::string_view internal_type);

}  // namespace zembra::django
