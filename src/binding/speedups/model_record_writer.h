// One record of a model as JSON text: values converted by their Django field
// type in field order, then listed by name.
#pragma once

#include <cstddef>
#include <optional>

#include "binding/core/error.h"
#include "binding/django/model_schema_type.h"
#include "binding/speedups/plain_writer.h"
#include "binding/speedups/record_layout.h"

namespace zembra::py {

class ModelRecordWriter {
 public:
  explicit ModelRecordWriter(const ModelSchemaObject& schema);

  void begin();
  void set_null(std::size_t i);
  // Converts the present, non-None value of field i.
  Status set(std::size_t i, PyObject* value);
  // Field i's value in its final form, written by write(Buffer&) -> bool;
  // false when it wrote nothing.
  template <class Write>
  bool put(std::size_t i, Write&& write) {
    std::size_t start = stage_->size();
    if (!write(*stage_)) return false;
    layout_->mark(i, start);
    return true;
  }
  // Appends the record. The first non-finite float (in field order) fails
  // as the serializer's error for the pseudo-field "<batch>".
  Status finish(Buffer& out);

 private:
  // The value's JSON text; a non-finite float is returned instead.
  Result<std::optional<double>> write_value(PyObject* value, const django::FieldDescriptor& d);

  const ModelSchemaObject& schema_;
  KeptRecordLayout layout_;
  PlainJsonWriter plain_;
  Buffer* stage_ = nullptr;
  std::size_t non_finite_at_ = 0;
  double non_finite_ = 0;
};

}  // namespace zembra::py
