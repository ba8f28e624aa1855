// Reading a model class's fields through the attributes every Django model
// and model field carry; Django itself is never imported.
#pragma once

#include <vector>

#include "binding/core/error.h"
#include "pure/django_model/field_kind.h"

namespace zembra::py {

// One descriptor per kept field of model_class._meta.get_fields(), in that
// order. Relations and fields of types the module does not describe are left
// out; an attribute that cannot be used gets its default. The failures that
// stop the reading are python-kind ModelErrors with their bare messages.
Result<std::vector<django::FieldDescriptor>> extract_descriptors(PyObject* model_class);

}  // namespace zembra::py
