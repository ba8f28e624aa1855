// Serializing one record of a model: the values of its fields are gathered
// first, then turned into a dict whose keys come in ascending byte order of
// the field names.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "binding/core/error.h"
#include "pure/django_model/compiled_model.h"

namespace zembra::py {

class RecordBuilder {
 public:
  // keys[i] is the name of model.descriptors[i] as a str object; both must
  // outlive the builder, which is reused for every record of a call, and so
  // must the record template (see build_record_dict) when there is one.
  RecordBuilder(const django::CompiledModel& model, std::span<PyObject* const> keys,
                PyObject* record_template = nullptr);

  // Starts a record with every field null.
  void begin();
  // Converts the present, non-None value of field i.
  Status set(std::size_t i, PyObject* value);
  // The record's dict. A float that JSON cannot hold (the first one in field
  // order) fails as the serializer's error for the pseudo-field "<batch>".
  Result<Object> finish();

 private:
  const django::CompiledModel& model_;
  std::span<PyObject* const> keys_;
  std::vector<Object> values_;
  std::size_t first_non_finite_;
  PyObject* template_;
};

}  // namespace zembra::py
