#include "binding/speedups/core_records.h"

#include <cmath>
#include <cstring>

#include "binding/core/dict_lookup.h"
#include "binding/core/direct_convert.h"
#include "binding/core/known_objects.h"
#include "binding/core/read_value.h"
#include "pure/serialization/float_rule.h"
#include "binding/speedups/value_writer.h"
#include "pure/json_writer/json_text.h"
#include "pure/json_writer/typed_values.h"

namespace zembra::py {
namespace {

// Equality of two exact str objects, as a dict compares them.
bool same_text(PyObject* a, PyObject* b) {
  if (a == b) return true;
  Py_ssize_t n = PyUnicode_GET_LENGTH(a);
  if (n != PyUnicode_GET_LENGTH(b) || PyUnicode_KIND(a) != PyUnicode_KIND(b)) return false;
  if (PyObject_Hash(a) != PyObject_Hash(b)) return false;  // both cached in the objects
  return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<std::size_t>(n) * PyUnicode_KIND(a)) == 0;
}

void append_text(const char* text, std::size_t size, Buffer& out) {
  json::detail::copy_bytes(out.reserve(size), text, size);
  out.commit(size);
}

}  // namespace

TypedRecordWriter::TypedRecordWriter(const SchemaObject& schema)
    : schema_(schema), layout_(schema.schema.names, schema.schema.sorted_order) {}

Status TypedRecordWriter::write(PyObject* record, Buffer& out) {
  const CompiledSchema& compiled = schema_.schema;
  std::size_t n = compiled.size();
  Buffer& stage = layout_->begin();
  std::size_t non_finite_at = n;
  double non_finite = 0;
  bool is_dict = PyDict_Check(record);
  for (std::size_t i = 0; i < n; ++i) {
    const SchemaField& field = compiled.fields[i];
    std::size_t start = stage.size();
    // A dict's entry is first looked for at the field's own position.
    ZB_TRY(Object raw, is_dict ? dict_lookup(record, schema_.keys[i].get(), static_cast<Py_ssize_t>(i))
                               : lookup_field(record, schema_.keys[i].get()));
    if (!raw || raw.get() == Py_None) {
      if (!field.rules.accepts_null()) return fail(CoreError::required(field.name));
      stage.append("null");
    } else {
      ZB_TRY(std::optional<double> bad, write_present(raw.get(), field, stage));
      if (bad && non_finite_at == n) {
        non_finite_at = i;
        non_finite = *bad;
      }
    }
    layout_->mark(i, start);
  }
  if (non_finite_at < n) return fail(*non_finite_float_error(compiled.fields[non_finite_at].name, non_finite));
  layout_->emit(out);
  return {};
}

Result<std::optional<double>> TypedRecordWriter::write_present(PyObject* value, const SchemaField& field,
                                                               Buffer& stage) {
  switch (field.rules.kind.tag) {
    case CoreKindTag::Str: {
      if (PyUnicode_CheckExact(value) && PyUnicode_IS_ASCII(value)) {
        // read_str's text, without its checks: an ASCII str has no others.
        write_str_object(value, stage);
        return std::optional<double>{};
      }
      ZB_TRY(std::string_view text, read_str(value));
      json::write_string(text, stage);
      return std::optional<double>{};
    }
    case CoreKindTag::Int: {
      ZB_TRY(std::int64_t v, read_int(value));
      json::write_int(v, stage);
      return std::optional<double>{};
    }
    case CoreKindTag::Float: {
      ZB_TRY(double v, read_float(value));
      if (!std::isfinite(v)) return std::optional<double>(v);
      json::write_float_repr(v, stage);
      return std::optional<double>{};
    }
    case CoreKindTag::Bool: {
      ZB_TRY(bool v, read_bool(value));
      stage.append(v ? "true" : "false");
      return std::optional<double>{};
    }
    case CoreKindTag::List:
    case CoreKindTag::Dict: {
      ZB_TRY(bool written, plain_.write(value, stage));
      if (written) return std::optional<double>{};
      break;
    }
    default:
      break;
  }
  ZB_TRY(FieldValue typed, read_present_value(value, field));
  json::write_field_value(typed, stage);
  return std::optional<double>{};
}

DictRecordWriter::DictRecordWriter(const SchemaObject& schema, JsonOutput& output)
    : schema_(schema), output_(output), values_(output, false),
      replacements_(schema.schema.conversion_indices.size()) {}

Status DictRecordWriter::convert(PyObject* record) {
  const CompiledSchema& compiled = schema_.schema;
  texts_.clear();
  unplaced_ = 0;
  placed_ends_ = 0;
  far_ends_ = false;
  for (std::size_t k = 0; k < compiled.conversion_indices.size(); ++k) {
    std::size_t position = compiled.conversion_indices[k];
    const SchemaField& field = compiled.fields[position];
    PyObject* key = schema_.keys[position].get();
    Replacement& replacement = replacements_[k];
    replacement.object = Object();
    replacement.kind = Replacement::Kind::Keep;
    // The route looks the field up in its copy of the record, which holds
    // the same entries: dict_lookup's steps, noting where the entry is.
    Object value;
    Py_ssize_t pos = static_cast<Py_ssize_t>(position);
    PyObject* found_key;
    PyObject* found_value;
    if (PyDict_Next(record, &pos, &found_key, &found_value) && found_key == key) {
      value = Object::borrow(found_value);
      replacement.entry_end = pos;
    } else {
      ZB_TRY(value, dict_lookup(record, key, static_cast<Py_ssize_t>(position)));
      replacement.entry_end = -1;
    }
    if (!value || value.get() == Py_None) {
      if (!field.rules.accepts_null()) return fail(CoreError::required(field.name));
      continue;
    }
    // The texts the route builds from the interpreter's own types without
    // calling back into Python, written here as JSON strings directly.
    CoreKindTag kind = field.rules.kind.tag;
    std::size_t start = texts_.size();
    bool written = false;
    if (kind == CoreKindTag::Uuid) {
      ZB_TRY(std::optional<Uuid> known, exact_uuid(value.get()));
      if (known) {
        json::write_uuid(*known, texts_);
        written = true;
      }
    } else if (kind == CoreKindTag::DateTime || kind == CoreKindTag::Date || kind == CoreKindTag::Time) {
      texts_.push_back('"');
      ZB_TRY(written, write_exact_isoformat(value.get(), texts_));
      if (written) {
        texts_.push_back('"');
      } else {
        texts_.truncate(start);
      }
    } else if (kind == CoreKindTag::Bytes && PyBytes_CheckExact(value.get())) {
      json::write_base64(
          std::string_view(PyBytes_AS_STRING(value.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(value.get()))),
          texts_);
      written = true;
    }
    if (written) {
      replacement.kind = Replacement::Kind::Text;
      replacement.start = start;
      replacement.end = texts_.size();
    } else {
      ZB_TRY(replacement.object, convert_direct(value.get(), kind));
      replacement.kind = Replacement::Kind::Object;
    }
    unplaced_ += replacement.entry_end < 0;
    if (replacement.entry_end >= 64) {
      far_ends_ = true;
    } else if (replacement.entry_end >= 0) {
      placed_ends_ |= std::uint64_t{1} << replacement.entry_end;
    }
  }
  return {};
}

const DictRecordWriter::Replacement* DictRecordWriter::take_replacement(PyObject* key, Py_ssize_t pos) {
  const CompiledSchema& compiled = schema_.schema;
  auto field_key = [&](std::size_t k) { return schema_.keys[compiled.conversion_indices[k]].get(); };
  auto usable = [&](const Replacement& r) { return r.kind != Replacement::Kind::Keep && !r.matched; };
  // Found where the lookup found it: the same entry, unless code run by a
  // conversion changed the record (then the key tells).
  for (std::size_t k = 0; k < replacements_.size(); ++k) {
    Replacement& r = replacements_[k];
    if (usable(r) && r.entry_end == pos && key == field_key(k)) {
      r.matched = true;
      return &r;
    }
  }
  if (!unplaced_) return nullptr;
  for (std::size_t k = 0; k < replacements_.size(); ++k) {
    Replacement& r = replacements_[k];
    if (usable(r) && r.entry_end < 0 && same_text(key, field_key(k))) {
      r.matched = true;
      return &r;
    }
  }
  return nullptr;
}

Status DictRecordWriter::write(PyObject* record) {
  Buffer& out = output_.buffer();
  std::size_t start = out.size();
  std::size_t pending = 0;
  for (Replacement& r : replacements_) {
    r.matched = false;
    pending += r.kind != Replacement::Kind::Keep;
  }
  out.push_back('{');
  bool first = true;
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  while (PyDict_Next(record, &pos, &key, &value)) {
    // Keys that are exact str compare as text, so each entry finds its
    // replacement here. Any other key could equal a field's name by its own
    // rules: such a record is written again, from an actual copy.
    if (Py_TYPE(key) != &PyUnicode_Type) {
      out.truncate(start);
      return write_copy(record);
    }
    if (!first) out.push_back(',');
    first = false;
    write_key(key, pos - 1, out);
    // Only where a replacement's entry was found, unless some were not.
    bool may_replace = pending && (unplaced_ || far_ends_ || (pos < 64 && (placed_ends_ >> pos & 1)));
    const Replacement* replacement = may_replace ? take_replacement(key, pos) : nullptr;
    if (!replacement) {
      if (values_.write_plain_scalar(value)) continue;
      // Writing a container may run code that changes the record.
      Object held_value = Object::borrow(value);
      ZB_CHECK_OK(values_.write(held_value.get()));
      continue;
    }
    --pending;
    if (replacement->kind == Replacement::Kind::Text) {
      append_text(texts_.data() + replacement->start, replacement->end - replacement->start, out);
    } else {
      ZB_CHECK_OK(values_.write(replacement->object.get()));
    }
  }
  out.push_back('}');
  return {};
}

void DictRecordWriter::write_key(PyObject* key, Py_ssize_t at, Buffer& out) {
  if (at < 0 || at >= kCachedKeys) {
    output_.note_surrogates(write_str_object(key, out));
    out.push_back(':');
    return;
  }
  auto slot = static_cast<std::size_t>(at);
  if (slot >= key_texts_.size()) key_texts_.resize(slot + 1);
  KeyText& cached = key_texts_[slot];
  if (cached.key.get() != key) {
    if (cached.key && same_text(key, cached.key.get())) {
      cached.key = Object::borrow(key);
    } else {
      if (key_buffer_.size() > kKeyBufferLimit) {
        // Keys that differ record after record: start over rather than grow.
        key_buffer_.clear();
        for (KeyText& other : key_texts_) other.key = Object();
      }
      cached.start = key_buffer_.size();
      cached.surrogates = write_str_object(key, key_buffer_);
      key_buffer_.push_back(':');
      cached.end = key_buffer_.size();
      cached.key = Object::borrow(key);
    }
  }
  output_.note_surrogates(cached.surrogates);
  append_text(key_buffer_.data() + cached.start, cached.end - cached.start, out);
}

Status DictRecordWriter::write_copy(PyObject* record) {
  const CompiledSchema& compiled = schema_.schema;
  ZB_TRY(Object copy, checked(PyDict_Copy(record)));
  for (std::size_t k = 0; k < replacements_.size(); ++k) {
    const Replacement& replacement = replacements_[k];
    if (replacement.kind == Replacement::Kind::Keep) continue;
    Object converted = replacement.object;
    if (replacement.kind == Replacement::Kind::Text) {
      // The text without its quotes: the str the route put there.
      std::string_view text = texts_.view().substr(replacement.start + 1, replacement.end - replacement.start - 2);
      ZB_TRY(converted, checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))));
    }
    ZB_CHECK_OK(checked_status(
        PyDict_SetItem(copy.get(), schema_.keys[compiled.conversion_indices[k]].get(), converted.get())));
  }
  return values_.write(copy.get());
}

}  // namespace zembra::py
