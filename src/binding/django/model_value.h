// Values read from model instances, rows and value dicts, converted by the
// Django field type of their descriptor.
//
// Every function takes a value that is present and not None; absence and
// None are the callers' business. Failures are ModelErrors: a value of the
// wrong Python type is a type conversion error, text that does not parse a
// serialization error for the field. Exceptions that are not ordinary errors
// (interrupts, native panics) propagate unchanged.
#pragma once

#include <vector>

#include "binding/core/error.h"
#include "pure/django_model/field_kind.h"
#include "pure/model/field_rules.h"
#include "pure/model/field_value.h"
#include "pure/validation/field_error.h"

namespace zembra::py {

// The typed value of a model field.
Result<FieldValue> convert_model_value(PyObject* value, const django::FieldDescriptor& descriptor);

// The serialized form of the same value as a Python object: what the typed
// value would become through its JSON form, built directly where that would
// only copy the value back (plain text, integers, floats, booleans, plain
// JSON structures). Sets non_finite for a float that JSON cannot hold; the
// caller reports it once every field has been read.
Result<Object> serialize_model_value(PyObject* value, const django::FieldDescriptor& descriptor,
                                     bool& non_finite);

// The typed value that validation checks. A JSONField may hold any JSON
// value, so once its value converts it stands in as an empty object, which
// the field's rules accept.
Result<FieldValue> check_model_value(PyObject* value, const django::FieldDescriptor& descriptor);

// check_model_value followed by the field's rules: the errors of the value,
// appended to errors. Text of the interpreter's own str type is measured in
// place rather than copied.
Status check_model_field(PyObject* value, const django::FieldDescriptor& descriptor, const SchemaField& field,
                         std::vector<FieldError>& errors);

}  // namespace zembra::py
