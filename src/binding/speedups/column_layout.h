// The column layout of the model layer: for each output key, the attribute
// to read and the kind that says how its value is written.
//
// A layout is compiled once from a list of column descriptions (made by
// zembra.django.ModelResource from a model's fields) and then turns model
// instances, or values_list() rows, into JSON-ready dicts or JSON bytes.
// Keys come out in column order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/core/error.h"
#include "pure/django_model/field_kind.h"

namespace zembra::py {

enum class ColumnKind : std::uint8_t {
  Str,       // text (str() for anything else)
  Int,       // int() of the value
  Float,     // float() of the value
  Bool,      // truth value
  Decimal,   // plain decimal text, at the column's places when given
  Date,      // the typed route's text forms
  Time,
  DateTime,
  Uuid,
  Bytes,     // Base64 of bytes, bytearray or any buffer
  Json,      // the value as it is
  Duration,  // django.utils.duration.duration_string
  File,      // a file field's stored name; null when empty
  Many,      // the keys of a prefetched to-many relation, as a list
};

struct Column {
  Object key;          // the output key
  Object attribute;    // interned: the attribute (or dict key) to read
  // Several attributes read one after another (the attribute given as a
  // tuple): owner.username. An object's chain that meets None, or whose
  // reading raises, is answered by `fallback`(object) instead.
  std::vector<Object> chain;
  Object fallback;
  // A column whose value is calls[call](object), the calls given to each
  // dump; the answer is written as it is.
  int call = -1;
  // A ColumnLayout: the value (an object, or None) is written as that
  // layout's record.
  Object nested;
  std::string key_json;  // "key": as JSON text
  ColumnKind kind = ColumnKind::Str;
  int decimal_places = -1;  // Decimal: rescale when >= 0
  // DateTime and Time: isoformat()'s text ("Z" for UTC, microseconds in six
  // digits) instead of the typed route's.
  bool iso = false;
  // The descriptor the Django module's conversions take for the typed kinds.
  django::FieldDescriptor descriptor;
  // Called as represent(value) for a value that is not of the kind's own
  // type (an attribute assigned but not yet reloaded: "False" in a boolean
  // field, text in a date field), or that the kind's conversion refuses;
  // its answer is written as it is. Empty: such values raise.
  Object represent;
  // Every value goes to represent (a column the native conversions cannot
  // hold exactly, such as decimals wider than 28 digits).
  bool represent_all = false;
  // Many: the prefetch cache's name, the key attribute of each related
  // object and the kind of that key.
  Object cache_name;
  Object item_attribute;
  // The attribute whose value finds an object's keys in the groups given
  // to a dump (the keys of a whole list read at once); empty: no groups.
  Object group_attribute;
  ColumnKind item_kind = ColumnKind::Int;
  django::FieldDescriptor item_descriptor;
};

struct ColumnLayoutObject {
  PyObject_HEAD
  std::vector<Column> columns;
  // Called as missing(instance, key) for a to-many column whose objects
  // were not prefetched; returns the keys or raises.
  PyObject* missing;
  // A value (of a call or a chain's fallback) that is this object leaves
  // its key out of the record; null when nothing is left out.
  PyObject* skip;
};

PyTypeObject* column_layout_type();

// The module function encode_json_plain (plain_encode.cc).
extern PyMethodDef kEncodeJsonPlainDef;

}  // namespace zembra::py
