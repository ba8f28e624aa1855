// Descriptor dicts: the plain-dict form in which field descriptors are
// handed to Python and read back.
//
// Keys, in the order they are written: "name", "type", "nullable",
// "has_default", then "max_length" (the limited text kinds, and BinaryField
// when it has one) or "max_digits" and "decimal_places" (DecimalField).
#pragma once

#include <span>
#include <vector>

#include "binding/core/error.h"
#include "pure/django_model/field_kind.h"

namespace zembra::py {

// A new list with one new dict per descriptor.
Result<Object> write_descriptor_dicts(std::span<const django::FieldDescriptor> descriptors);

// The descriptors of a list of mappings, read by subscription with str keys.
// The four required keys must be present ("name" and "type" str, the flags
// bool); the numeric keys fall back to their defaults when missing or
// unusable, and a "type" that is none of the sixteen names reads as
// TextField. The first element that fails stops the reading.
Result<std::vector<django::FieldDescriptor>> read_descriptor_dicts(PyObject* list);

}  // namespace zembra::py
