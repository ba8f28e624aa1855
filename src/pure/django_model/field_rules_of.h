// The core field rules a model field is validated and serialized with.
#pragma once

#include "pure/django_model/field_kind.h"
#include "pure/model/field_rules.h"

namespace zembra::django {

// IntegerField carries the 32-bit range; the limited text kinds and
// BinaryField their max_length; DecimalField its digit counts. Email, URL and
// slug fields are length-limited text only: no format rule is attached.
FieldRules to_field_rules(const FieldDescriptor& descriptor);

inline SchemaField to_schema_field(const FieldDescriptor& descriptor) {
  return SchemaField{descriptor.name, to_field_rules(descriptor)};
}

}  // namespace zembra::django
