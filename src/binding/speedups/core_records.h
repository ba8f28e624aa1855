// Records of the core schema's routes, written as JSON.
#pragma once

#include <vector>

#include "binding/core/error.h"
#include "binding/core/schema_type.h"
#include "binding/speedups/json_output.h"
#include "binding/speedups/plain_writer.h"
#include "binding/speedups/record_layout.h"
#include "binding/speedups/value_writer.h"

namespace zembra::py {

// The typed route (serialize, and serialize_many's items that are not
// dicts): every field read and converted by its kind, in field order; the
// first non-finite float fails once all fields were read; keys in ascending
// byte order.
class TypedRecordWriter {
 public:
  explicit TypedRecordWriter(const SchemaObject& schema);
  Status write(PyObject* record, Buffer& out);

 private:
  // The value's JSON text into stage; a non-finite float is returned
  // instead of written.
  Result<std::optional<double>> write_present(PyObject* value, const SchemaField& field, Buffer& stage);

  const SchemaObject& schema_;
  KeptRecordLayout layout_;
  PlainJsonWriter plain_;
};

// serialize_many's dict route: the record's own entries in its own order,
// with the fields that change form replaced by their direct conversions
// (str(), isoformat(), Base64) and everything else passed to the json
// module's rules unchanged.
class DictRecordWriter {
 public:
  // Passed-through values are written to output.
  DictRecordWriter(const SchemaObject& schema, JsonOutput& output);
  // The route's step: looks the converted fields up and converts them (the
  // errors are the route's).
  Status convert(PyObject* record);
  // The record as the route's copy with those conversions (the errors are
  // the json module's). Call after convert() on the same record.
  Status write(PyObject* record);

 private:
  struct Replacement {
    enum class Kind : std::uint8_t { Keep, Text, Object } kind = Kind::Keep;
    std::size_t start = 0;  // Text: the JSON string in texts_
    std::size_t end = 0;
    Object object;  // Object: the converted object
    // Where the record's walk stands just after the field's entry, when the
    // lookup found it at its likely position (else -1).
    Py_ssize_t entry_end = -1;
    bool matched = false;  // its entry was met while writing the record
  };
  Status write_copy(PyObject* record);
  // The key's JSON string and ':', from the text kept for the entry's
  // position when the same key (or an equal str) was there before.
  void write_key(PyObject* key, Py_ssize_t at, Buffer& out);
  // The replacement of the entry with this key, the walk standing at pos
  // just after it; each is taken once per record.
  const Replacement* take_replacement(PyObject* key, Py_ssize_t pos);

  const SchemaObject& schema_;
  JsonOutput& output_;
  ValueWriter values_;
  std::vector<Replacement> replacements_;  // one per converted field
  std::size_t unplaced_ = 0;  // replacements without entry_end
  std::uint64_t placed_ends_ = 0;  // bit e set when a replacement's entry_end is e
  bool far_ends_ = false;  // some entry_end is 64 or more
  Buffer texts_;
  struct KeyText {
    Object key;  // held, so that its address names it until it is replaced
    std::size_t start = 0;  // in key_buffer_
    std::size_t end = 0;
    bool surrogates = false;
  };
  static constexpr Py_ssize_t kCachedKeys = 64;
  static constexpr std::size_t kKeyBufferLimit = 1 << 16;
  std::vector<KeyText> key_texts_;  // by entry position
  Buffer key_buffer_;
};

}  // namespace zembra::py
