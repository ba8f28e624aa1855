// The ColumnLayout class of zembra._speedups.
#include "binding/speedups/column_layout.h"

#include <array>
#include <new>
#include <string_view>

#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/core/module_builder.h"
#include "binding/speedups/column_raw.h"
#include "binding/speedups/column_values.h"
#include "pure/json_writer/json_text.h"

namespace zembra::py {
namespace {

using django::FieldKindTag;

PyTypeObject* type_cell = nullptr;

struct KindName {
  std::string_view name;
  ColumnKind kind;
  FieldKindTag tag;  // the Django module's kind that converts its values
};

constexpr std::array<KindName, 16> kKinds = {{
    {"str", ColumnKind::Str, FieldKindTag::TextField},
    {"int", ColumnKind::Int, FieldKindTag::BigIntegerField},
    {"float", ColumnKind::Float, FieldKindTag::FloatField},
    {"bool", ColumnKind::Bool, FieldKindTag::BooleanField},
    {"decimal", ColumnKind::Decimal, FieldKindTag::DecimalField},
    {"date", ColumnKind::Date, FieldKindTag::DateField},
    {"time", ColumnKind::Time, FieldKindTag::TimeField},
    {"datetime", ColumnKind::DateTime, FieldKindTag::DateTimeField},
    {"uuid", ColumnKind::Uuid, FieldKindTag::UUIDField},
    {"bytes", ColumnKind::Bytes, FieldKindTag::BinaryField},
    {"json", ColumnKind::Json, FieldKindTag::JSONField},
    {"duration", ColumnKind::Duration, FieldKindTag::TextField},
    {"file", ColumnKind::File, FieldKindTag::TextField},
    {"many", ColumnKind::Many, FieldKindTag::TextField},
    {"call", ColumnKind::Json, FieldKindTag::JSONField},  // option call: the index of its callable
    {"nested", ColumnKind::Json, FieldKindTag::JSONField},  // option layout: a ColumnLayout
}};

Unexpected<PythonRaised> column_error(Py_ssize_t index, const char* message) {
  PyErr_Format(PyExc_ValueError, "column %zd: %s", index, message);
  return python_error();
}

Result<const KindName*> kind_named(PyObject* name, Py_ssize_t index) {
  if (!PyUnicode_Check(name)) return column_error(index, "the kind must be a str");
  ZB_TRY(std::string_view text, to_text(name));
  for (const KindName& k : kKinds)
    if (k.name == text) return &k;
  PyErr_Format(PyExc_ValueError, "column %zd: unknown kind %R", index, name);
  return python_error();
}

Result<Object> interned(PyObject* text, Py_ssize_t index, const char* what) {
  if (!PyUnicode_CheckExact(text)) {
    PyErr_Format(PyExc_TypeError, "column %zd: the %s must be a str", index, what);
    return python_error();
  }
  Py_INCREF(text);
  PyUnicode_InternInPlace(&text);
  return Object::steal(text);
}

django::FieldDescriptor descriptor_for(const KindName& kind, std::string_view name) {
  django::FieldDescriptor d;
  d.kind = django::FieldKind::with_payload(kind.tag, std::nullopt, std::nullopt, std::nullopt);
  d.name = std::string(name);
  d.nullable = true;
  return d;
}

// options.get(name), borrowed; null when absent.
Result<PyObject*> option(PyObject* options, const char* name) {
  if (!options) return nullptr;
  PyObject* found = PyDict_GetItemString(options, name);  // borrowed; the dict is held by the caller
  return found;
}

Result<Column> parse_column(PyObject* spec, Py_ssize_t index) {
  if (!PyTuple_Check(spec) || PyTuple_GET_SIZE(spec) < 3 || PyTuple_GET_SIZE(spec) > 4) {
    return column_error(index, "expected a tuple (key, attribute, kind[, options])");
  }
  PyObject* options = PyTuple_GET_SIZE(spec) == 4 ? PyTuple_GET_ITEM(spec, 3) : nullptr;
  if (options == Py_None) options = nullptr;
  if (options && !PyDict_Check(options)) return column_error(index, "the options must be a dict");

  Column column;
  ZB_TRY(column.key, interned(PyTuple_GET_ITEM(spec, 0), index, "key"));
  PyObject* attribute = PyTuple_GET_ITEM(spec, 1);
  if (PyTuple_Check(attribute)) {
    if (PyTuple_GET_SIZE(attribute) == 0) return column_error(index, "an attribute chain needs a name");
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(attribute); ++k) {
      ZB_TRY(Object name, interned(PyTuple_GET_ITEM(attribute, k), index, "attribute"));
      column.chain.push_back(std::move(name));
    }
    column.attribute = column.chain.back();
  } else {
    ZB_TRY(column.attribute, interned(attribute, index, "attribute"));
  }
  ZB_TRY(const KindName* kind, kind_named(PyTuple_GET_ITEM(spec, 2), index));
  ZB_TRY(std::string_view key_text, to_text(column.key.get()));
  column.kind = kind->kind;
  column.descriptor = descriptor_for(*kind, key_text);
  Buffer key_json;
  json::write_string(key_text, key_json);
  key_json.push_back(':');
  column.key_json = key_json.str();

  ZB_TRY(PyObject * places, option(options, "decimal_places"));
  if (places && places != Py_None) {
    if (column.kind != ColumnKind::Decimal) return column_error(index, "decimal_places belongs to decimal columns");
    long v = PyLong_Check(places) ? PyLong_AsLong(places) : -1;
    if (v == -1 && PyErr_Occurred()) return python_error();
    if (v < 0 || v > 255) return column_error(index, "decimal_places must be an int from 0 to 255");
    column.decimal_places = static_cast<int>(v);
  }
  ZB_TRY(PyObject * iso, option(options, "iso"));
  if (iso) {
    int truth = PyObject_IsTrue(iso);
    if (truth < 0) return python_error();
    if (truth && column.kind != ColumnKind::DateTime && column.kind != ColumnKind::Time) {
      return column_error(index, "iso belongs to datetime and time columns");
    }
    column.iso = truth != 0;
  }
  ZB_TRY(PyObject * represent, option(options, "represent"));
  if (represent && represent != Py_None) {
    if (!PyCallable_Check(represent)) return column_error(index, "represent must be callable or None");
    if (column.kind == ColumnKind::Many) return column_error(index, "represent does not belong to many columns");
    column.represent = Object::borrow(represent);
  }
  ZB_TRY(PyObject * represent_all, option(options, "represent_all"));
  if (represent_all) {
    int truth = PyObject_IsTrue(represent_all);
    if (truth < 0) return python_error();
    if (truth && !column.represent) return column_error(index, "represent_all needs represent");
    column.represent_all = truth != 0;
  }
  ZB_TRY(PyObject * fallback, option(options, "fallback"));
  if (fallback && fallback != Py_None) {
    if (!PyCallable_Check(fallback)) return column_error(index, "fallback must be callable or None");
    if (column.chain.empty()) return column_error(index, "fallback belongs to attribute chains");
    column.fallback = Object::borrow(fallback);
  }
  if (kind->name == "call") {
    ZB_TRY(PyObject * call, option(options, "call"));
    long v = call && PyLong_Check(call) ? PyLong_AsLong(call) : -1;
    if (v == -1 && PyErr_Occurred()) return python_error();
    if (v < 0 || v > 1'000'000) return column_error(index, "a call column needs the option call: an index");
    column.call = static_cast<int>(v);
  }
  if (kind->name == "nested") {
    ZB_TRY(PyObject * layout, option(options, "layout"));
    if (!layout || !PyObject_TypeCheck(layout, column_layout_type())) {
      return column_error(index, "a nested column needs the option layout: a ColumnLayout");
    }
    column.nested = Object::borrow(layout);
  }
  if (column.kind == ColumnKind::Many) {
    ZB_TRY(PyObject * group, option(options, "group_attribute"));
    if (group && group != Py_None) {
      ZB_TRY(column.group_attribute, interned(group, index, "group_attribute"));
    }
    ZB_TRY(PyObject * cache, option(options, "cache"));
    ZB_TRY(PyObject * item_attribute, option(options, "item_attribute"));
    ZB_TRY(PyObject * item_kind, option(options, "item_kind"));
    if (!cache || !item_attribute || !item_kind) {
      return column_error(index, "a many column needs the options cache, item_attribute and item_kind");
    }
    ZB_TRY(column.cache_name, interned(cache, index, "cache"));
    ZB_TRY(column.item_attribute, interned(item_attribute, index, "item_attribute"));
    ZB_TRY(const KindName* item, kind_named(item_kind, index));
    if (item->kind == ColumnKind::Many) return column_error(index, "the items of a many column cannot be many");
    column.item_kind = item->kind;
    column.item_descriptor = descriptor_for(*item, key_text);
  }
  return column;
}

ColumnLayoutObject* self_of(PyObject* self) { return reinterpret_cast<ColumnLayoutObject*>(self); }

constexpr const char* kNewParams[] = {"columns", "missing"};
constexpr KeywordOnly kNewKeywords[] = {{"skip", false}};
constexpr CallSignature kNewSig{"__new__", "ColumnLayout", kNewParams, 1, kNewKeywords};

Result<Object> layout_new(PyTypeObject* type, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("columns", to_instance(slots[0], &PyList_Type, "list")));
  PyObject* missing = slots[1] && slots[1] != Py_None ? slots[1] : nullptr;
  if (missing && !PyCallable_Check(missing)) {
    PyErr_SetString(PyExc_TypeError, "missing must be callable or None");
    return python_error();
  }
  std::vector<Column> columns;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    Object spec = Object::borrow(PyList_GET_ITEM(list, i));
    ZB_TRY(Column column, parse_column(spec.get(), i));
    columns.push_back(std::move(column));
  }
  ZB_TRY(Object self, checked(type->tp_alloc(type, 0)));
  ColumnLayoutObject* obj = self_of(self.get());
  new (&obj->columns) std::vector<Column>(std::move(columns));
  obj->missing = Py_XNewRef(missing);
  obj->skip = slots[2] ? Py_NewRef(slots[2]) : nullptr;
  return self;
}

// The calls of a dump: a tuple, one callable per call column.
Result<PyObject*> call_of(PyObject* calls, const Column& column) {
  if (!calls || !PyTuple_Check(calls) || column.call >= PyTuple_GET_SIZE(calls)) {
    PyErr_Format(PyExc_TypeError, "the layout's call column %R needs calls: a tuple with callable %d",
                 column.key.get(), column.call);
    return python_error();
  }
  return PyTuple_GET_ITEM(calls, column.call);
}

// A hyperlink call: (prefix, suffix, link_type, attribute, fallback,
// negatives). An exact int attribute value v (v >= 0 unless negatives) gives
// link_type's str.__new__ of prefix + str(v) + suffix with its obj set to
// the object (None for None); any other value is fallback(object)'s.
Result<Object> link_of(PyObject* object, PyObject* spec) {
  if (PyTuple_GET_SIZE(spec) != 6 || !PyUnicode_Check(PyTuple_GET_ITEM(spec, 0)) ||
      !PyUnicode_Check(PyTuple_GET_ITEM(spec, 1)) || !PyType_Check(PyTuple_GET_ITEM(spec, 2)) ||
      !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(spec, 2)), &PyUnicode_Type)) {
    PyErr_SetString(PyExc_TypeError,
                    "a link call is (prefix, suffix, a str subclass, attribute, fallback, negatives)");
    return python_error();
  }
  ZB_TRY(Object value, checked(PyObject_GetAttr(object, PyTuple_GET_ITEM(spec, 3))));
  if (value.get() == Py_None) return value;
  int negatives = PyObject_IsTrue(PyTuple_GET_ITEM(spec, 5));
  if (negatives < 0) return python_error();
  bool fits = PyLong_CheckExact(value.get());
  if (fits && !negatives) {
    int overflow = 0;
    long small = PyLong_AsLongAndOverflow(value.get(), &overflow);
    fits = overflow > 0 || (overflow == 0 && small >= 0);
  }
  if (!fits) return checked(PyObject_CallOneArg(PyTuple_GET_ITEM(spec, 4), object));
  ZB_TRY(Object digits, checked(PyObject_Str(value.get())));
  ZB_TRY(Object head, checked(PyUnicode_Concat(PyTuple_GET_ITEM(spec, 0), digits.get())));
  ZB_TRY(Object url, checked(PyUnicode_Concat(head.get(), PyTuple_GET_ITEM(spec, 1))));
  ZB_TRY(Object args, checked(PyTuple_Pack(1, url.get())));
  auto* type = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(spec, 2));
  ZB_TRY(Object link, checked(PyUnicode_Type.tp_new(type, args.get(), nullptr)));
  static PyObject* obj_name = PyUnicode_InternFromString("obj");
  if (!obj_name) return python_error();
  ZB_CHECK_OK(checked_status(PyObject_SetAttr(link.get(), obj_name, object)));
  return link;
}

// A chain's value; where an object on the way is None or a reading raises,
// the fallback's answer (it reads the chain again, as its owner does).
Result<Object> read_chain(PyObject* object, const Column& column) {
  Object value = Object::borrow(object);
  for (const Object& name : column.chain) {
    if (value.get() == Py_None) break;
    PyObject* next = PyObject_GetAttr(value.get(), name.get());
    if (!next) {
      if (!column.fallback || !PyErr_ExceptionMatches(PyExc_Exception)) return python_error();
      PyErr_Clear();
      value = Object::borrow(Py_None);
      break;
    }
    value = Object::steal(next);
  }
  if (value.get() == Py_None && column.fallback) return checked(PyObject_CallOneArg(column.fallback.get(), object));
  return value;
}

// The value of a column: dicts by key, anything else by attribute; the
// object itself for a to-many column.
Result<Object> read_column(PyObject* object, const Column& column, PyObject* calls) {
  if (column.kind == ColumnKind::Many) return Object::borrow(object);
  if (column.call >= 0) {
    ZB_TRY(PyObject * call, call_of(calls, column));
    if (PyTuple_Check(call)) return link_of(object, call);
    return checked(PyObject_CallOneArg(call, object));
  }
  if (!column.chain.empty()) return read_chain(object, column);
  if (PyDict_Check(object)) {
    PyObject* found = nullptr;
    if (PyDict_GetItemRef(object, column.attribute.get(), &found) < 0) return python_error();
    if (!found) {
      PyErr_SetObject(PyExc_KeyError, column.attribute.get());
      return python_error();
    }
    return Object::steal(found);
  }
  return checked(PyObject_GetAttr(object, column.attribute.get()));
}

// row[position] of a values_list() row.
Result<Object> read_position(PyObject* row, Py_ssize_t position) {
  if (PyTuple_CheckExact(row)) {
    if (position >= PyTuple_GET_SIZE(row)) {
      PyErr_SetString(PyExc_IndexError, "row has fewer values than the layout has columns");
      return python_error();
    }
    return Object::borrow(PyTuple_GET_ITEM(row, position));
  }
  return checked(PySequence_GetItem(row, position));
}

// Where a record's values come from: an object's attributes (or a dict's
// keys), or a row by position; raw rows hold cursor values to cook first.
struct Source {
  bool rows = false;
  const std::vector<RawColumn>* raw = nullptr;
  RawCook* cook = nullptr;
  PyObject* calls = nullptr;  // the callables of the call columns
  PyObject* groups = nullptr;  // to-many keys by output key, then by group attribute
};

// The keys of a to-many column from the groups of the dump, or empty where
// the column has none there.
Result<Object> grouped_keys(PyObject* record, const Column& column, const Source& source) {
  if (!source.groups || !column.group_attribute) return Object();
  PyObject* group = nullptr;
  if (PyDict_GetItemRef(source.groups, column.key.get(), &group) < 0) return python_error();
  Object held = Object::steal(group);
  if (!held) return Object();
  ZB_TRY(Object owner, checked(PyObject_GetAttr(record, column.group_attribute.get())));
  PyObject* keys = nullptr;
  if (PyDict_Check(held.get())) {
    if (PyDict_GetItemRef(held.get(), owner.get(), &keys) < 0) return python_error();
  } else {
    PyErr_SetString(PyExc_TypeError, "groups must map output keys to dicts");
    return python_error();
  }
  if (!keys) return checked(PyList_New(0));
  return Object::steal(keys);
}

Result<Object> nested_dict(PyObject* value, const Column& column, ColumnValues& values);
Status nested_json(PyObject* value, const Column& column, ColumnValues& values, Buffer& out);

// Column i's value; empty when a raw value is refused.
Result<Object> read_value(PyObject* record, const Column& column, std::size_t i, const Source& source) {
  if (!source.rows) return read_column(record, column, source.calls);
  ZB_TRY(Object value, read_position(record, static_cast<Py_ssize_t>(i)));
  if (!source.raw || value.get() == Py_None) return value;
  return source.cook->cook(value.get(), (*source.raw)[i]);
}

// One record as a dict, keys in column order; empty when refused.
Result<Object> build_dict(PyObject* record, const ColumnLayoutObject& layout, const Source& source,
                          ColumnValues& values) {
  ZB_TRY(Object dict, checked(PyDict_New()));
  for (std::size_t i = 0; i < layout.columns.size(); ++i) {
    const Column& column = layout.columns[i];
    ZB_TRY(Object keys, grouped_keys(record, column, source));
    if (keys) {
      ZB_TRY(Object list, values.to_python(keys.get(), column, true));
      ZB_CHECK_OK(checked_status(PyDict_SetItem(dict.get(), column.key.get(), list.get())));
      continue;
    }
    ZB_TRY(Object value, read_value(record, column, i, source));
    if (!value) return Object();
    if (layout.skip && value.get() == layout.skip) continue;
    if (value.get() != Py_None) {
      if (column.nested) {
        ZB_TRY(value, nested_dict(value.get(), column, values));
      } else {
        ZB_TRY(value, values.to_python(value.get(), column, source.rows));
      }
    }
    ZB_CHECK_OK(checked_status(PyDict_SetItem(dict.get(), column.key.get(), value.get())));
  }
  return dict;
}

// One record as JSON text; false when refused.
Result<bool> write_record(PyObject* record, const ColumnLayoutObject& layout, const Source& source,
                          ColumnValues& values, Buffer& out) {
  char separator = '{';
  for (std::size_t i = 0; i < layout.columns.size(); ++i) {
    const Column& column = layout.columns[i];
    ZB_TRY(Object keys, grouped_keys(record, column, source));
    Object value = keys;
    if (!keys) {
      ZB_TRY(value, read_value(record, column, i, source));
      if (!value) return false;
      if (layout.skip && value.get() == layout.skip) continue;
    }
    out.push_back(separator);
    separator = ',';
    out.append(column.key_json);
    if (value.get() == Py_None) {
      out.append("null");
    } else if (column.nested) {
      ZB_CHECK_OK(nested_json(value.get(), column, values, out));
    } else {
      ZB_CHECK_OK(values.to_json(value.get(), column, out, source.rows || keys));
    }
  }
  if (separator == '{') out.push_back('{');  // every key left out
  out.push_back('}');
  return true;
}

// The to-many callback of a nested layout while its record is written.
class NestedMissing {
 public:
  NestedMissing(ColumnValues& values, const ColumnLayoutObject& nested) : values_(values), outer_(values.missing) {
    values.missing = nested.missing;
  }
  ~NestedMissing() { values_.missing = outer_; }
  NestedMissing(const NestedMissing&) = delete;
  NestedMissing& operator=(const NestedMissing&) = delete;

 private:
  ColumnValues& values_;
  PyObject* outer_;
};

// A nested layout's record of value.
Result<Object> nested_dict(PyObject* value, const Column& column, ColumnValues& values) {
  const ColumnLayoutObject& nested = *self_of(column.nested.get());
  NestedMissing scope(values, nested);
  return build_dict(value, nested, Source{}, values);
}

Status nested_json(PyObject* value, const Column& column, ColumnValues& values, Buffer& out) {
  const ColumnLayoutObject& nested = *self_of(column.nested.get());
  NestedMissing scope(values, nested);
  ZB_TRY(bool written, write_record(value, nested, Source{}, values, out));
  (void)written;  // only raw rows are refused
  return {};
}

// The items of a list, tuple or any other iterable (a query set is
// evaluated once, as list() would).
Result<Object> items_of(PyObject* items, const char* parameter) {
  if (PyList_Check(items) || PyTuple_Check(items)) return Object::borrow(items);
  if (PyUnicode_Check(items) || PyBytes_Check(items) || PyDict_Check(items)) {
    (void)wrong_type(items, "list");
    add_parameter_note(parameter);
    return python_error();
  }
  return for_parameter(parameter, checked(PySequence_List(items)));
}

constexpr const char* kOneParams[] = {"instance", "calls"};
constexpr const char* kManyParams[] = {"instances", "calls"};
constexpr const char* kRowsParams[] = {"rows"};
constexpr KeywordOnly kDumpKeywords[] = {{"groups", false}};
constexpr CallSignature kDumpSig{"dump", nullptr, kOneParams, 1, kDumpKeywords};
constexpr CallSignature kDumpManySig{"dump_many", nullptr, kManyParams, 1, kDumpKeywords};
constexpr CallSignature kDumpJsonSig{"dump_json", nullptr, kOneParams, 1, kDumpKeywords};
constexpr CallSignature kDumpManyJsonSig{"dump_many_json", nullptr, kManyParams, 1, kDumpKeywords};
constexpr CallSignature kRowsSig{"rows", nullptr, kRowsParams, 1, {}};
constexpr CallSignature kRowsJsonSig{"rows_json", nullptr, kRowsParams, 1, {}};
constexpr const char* kRawParams[] = {"rows", "plan"};
constexpr CallSignature kRawRowsSig{"raw_rows", nullptr, kRawParams, 2, {}};
constexpr CallSignature kRawRowsJsonSig{"raw_rows_json", nullptr, kRawParams, 2, {}};

Result<Source> instances_source(Slots slots) {
  Source source;
  source.calls = slots[1] && slots[1] != Py_None ? slots[1] : nullptr;
  if (slots[2] && slots[2] != Py_None) {
    if (!PyDict_Check(slots[2])) {
      PyErr_SetString(PyExc_TypeError, "groups must be a dict or None");
      return python_error();
    }
    source.groups = slots[2];
  }
  return source;
}

Result<Object> dump_body(PyObject* self, Slots slots) {
  ColumnValues values(nullptr);
  values.missing = self_of(self)->missing;
  ZB_TRY(Source source, instances_source(slots));
  return build_dict(slots[0], *self_of(self), source, values);
}

// The records of a list or iterable as dicts; None when raw rows are refused.
Status rows_readable(const ColumnLayoutObject& layout, const Source& source) {
  if (!source.rows) return {};
  for (const Column& column : layout.columns) {
    if (column.call >= 0) {
      PyErr_Format(PyExc_TypeError, "the call column %R needs objects, not rows", column.key.get());
      return python_error();
    }
  }
  return {};
}

Result<Object> many_dicts(PyObject* self, PyObject* argument, const char* parameter, Source source) {
  const ColumnLayoutObject& layout = *self_of(self);
  ZB_CHECK_OK(rows_readable(layout, source));
  ZB_TRY(Object items, items_of(argument, parameter));
  ColumnValues values(nullptr);
  values.missing = layout.missing;
  values.cooked_rows = source.raw != nullptr;
  Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
  ZB_TRY(Object list, checked(PyList_New(n)));
  for (Py_ssize_t i = 0; i < n && i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
    Object item = Object::borrow(PySequence_Fast_GET_ITEM(items.get(), i));
    ZB_TRY(Object dict, build_dict(item.get(), layout, source, values));
    if (!dict) return Object::borrow(Py_None);
    PyList_SET_ITEM(list.get(), i, dict.release());
  }
  return list;
}

// The same as JSON bytes; None when raw rows are refused.
Result<Object> many_json(PyObject* self, PyObject* argument, const char* parameter, Source source) {
  const ColumnLayoutObject& layout = *self_of(self);
  ZB_CHECK_OK(rows_readable(layout, source));
  ZB_TRY(Object items, items_of(argument, parameter));
  JsonOutput output;
  Buffer& out = output.buffer();
  ColumnValues values(&output);
  values.missing = layout.missing;
  values.cooked_rows = source.raw != nullptr;
  out.push_back('[');
  Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
  for (Py_ssize_t i = 0; i < n && i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
    if (i) out.push_back(',');
    std::size_t start = out.size();
    Object item = Object::borrow(PySequence_Fast_GET_ITEM(items.get(), i));
    ZB_TRY(bool written, write_record(item.get(), layout, source, values, out));
    if (!written) return Object::borrow(Py_None);
    if (i == 0) reserve_like_first(out, out.size() - start, n);
  }
  out.push_back(']');
  return output.finish();
}

Result<Object> dump_many_body(PyObject* self, Slots slots) {
  ZB_TRY(Source source, instances_source(slots));
  return many_dicts(self, slots[0], "instances", source);
}
Result<Object> rows_body(PyObject* self, Slots slots) { return many_dicts(self, slots[0], "rows", {true}); }
Result<Object> dump_many_json_body(PyObject* self, Slots slots) {
  ZB_TRY(Source source, instances_source(slots));
  return many_json(self, slots[0], "instances", source);
}
Result<Object> rows_json_body(PyObject* self, Slots slots) { return many_json(self, slots[0], "rows", {true}); }

template <bool Json>
Result<Object> raw_rows_body(PyObject* self, Slots slots) {
  ZB_TRY(PyObject * rows, for_parameter("rows", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(std::vector<RawColumn> plan, read_raw_plan(slots[1], self_of(self)->columns.size()));
  for (std::size_t i = 0; i < plan.size(); ++i) {
    plan[i].uuid_object = self_of(self)->columns[i].kind == ColumnKind::Json;
  }
  RawCook cook;
  Source source{true, &plan, &cook};
  return Json ? many_json(self, rows, "rows", source) : many_dicts(self, rows, "rows", source);
}

Result<Object> dump_json_body(PyObject* self, Slots slots) {
  JsonOutput output;
  ColumnValues values(&output);
  values.missing = self_of(self)->missing;
  ZB_TRY(Source source, instances_source(slots));
  ZB_TRY(bool written, write_record(slots[0], *self_of(self), source, values, output.buffer()));
  (void)written;  // only raw rows are refused
  return output.finish();
}

PyObject* layout_keys(PyObject* self, void*) noexcept {
  return run_guarded([&]() -> Result<Object> {
    const auto& columns = self_of(self)->columns;
    ZB_TRY(Object list, checked(PyList_New(static_cast<Py_ssize_t>(columns.size()))));
    for (std::size_t i = 0; i < columns.size(); ++i) {
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(columns[i].key.get()));
    }
    return list;
  });
}

Py_ssize_t layout_len(PyObject* self) noexcept { return static_cast<Py_ssize_t>(self_of(self)->columns.size()); }

PyObject* layout_repr(PyObject* self) noexcept {
  return PyUnicode_FromFormat("ColumnLayout(%zd columns)", layout_len(self));
}

int layout_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(self_of(self)->missing);
  Py_VISIT(self_of(self)->skip);
  for (const Column& column : self_of(self)->columns) {
    Py_VISIT(column.represent.get());
    Py_VISIT(column.fallback.get());
    Py_VISIT(column.nested.get());
  }
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int layout_clear(PyObject* self) {
  Py_CLEAR(self_of(self)->missing);
  Py_CLEAR(self_of(self)->skip);
  // A represent or fallback callable may hold what holds this layout (a
  // field bound to a serializer whose class keeps the layout).
  for (Column& column : self_of(self)->columns) {
    column.represent = Object();
    column.fallback = Object();
    column.nested = Object();
  }
  return 0;
}

void layout_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  layout_clear(self);
  self_of(self)->columns.~vector();
  type->tp_free(self);
  Py_DECREF(type);
}

PyMethodDef kLayoutMethods[] = {
    {"dump", fast_method<kDumpSig, dump_body>(), METH_FASTCALL | METH_KEYWORDS,
     "dump($self, instance, calls=None, *, groups=None)\n--\n\nThe instance as a JSON-ready dict, keys in column order; calls: the\ncallables of the call columns, by index."},
    {"dump_many", fast_method<kDumpManySig, dump_many_body>(), METH_FASTCALL | METH_KEYWORDS,
     "dump_many($self, instances, calls=None, *, groups=None)\n--\n\nA list of dump(instance, calls) for a list or any iterable."},
    {"dump_json", fast_method<kDumpJsonSig, dump_json_body>(), METH_FASTCALL | METH_KEYWORDS,
     "dump_json($self, instance, calls=None, *, groups=None)\n--\n\nencode_json(dump(instance, calls)), written directly."},
    {"dump_many_json", fast_method<kDumpManyJsonSig, dump_many_json_body>(), METH_FASTCALL | METH_KEYWORDS,
     "dump_many_json($self, instances, calls=None, *, groups=None)\n--\n\nencode_json(dump_many(instances, calls)), written directly."},
    {"rows", fast_method<kRowsSig, rows_body>(), METH_FASTCALL | METH_KEYWORDS,
     "rows($self, rows)\n--\n\nRows of one value per column, in column order, as dicts (a to-many\ncolumn's value is an iterable of its keys)."},
    {"rows_json", fast_method<kRowsJsonSig, rows_json_body>(), METH_FASTCALL | METH_KEYWORDS,
     "rows_json($self, rows)\n--\n\nencode_json(rows(rows)), written directly."},
    {"raw_rows", fast_method<kRawRowsSig, raw_rows_body<false>>(), METH_FASTCALL | METH_KEYWORDS,
     "raw_rows($self, rows, plan)\n--\n\nrows() of a cursor's rows, whose raw values are read as the query set\n"
     "route's plan says (one reader per column); None when a value is not what\nits reader expects."},
    {"raw_rows_json", fast_method<kRawRowsJsonSig, raw_rows_body<true>>(), METH_FASTCALL | METH_KEYWORDS,
     "raw_rows_json($self, rows, plan)\n--\n\nraw_rows() as JSON bytes, or None."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kLayoutGetSet[] = {
    {"keys", layout_keys, nullptr, "The output keys in column order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kLayoutDoc =
    "ColumnLayout(columns, missing=None, *, skip=None)\n--\n\n"
    "Output keys, the attributes they are read from and the kinds that say\n"
    "how each value is written. columns: a list of (key, attribute, kind[,\n"
    "options]); kinds: str, int, float, bool, decimal (option decimal_places),\n"
    "date, time, datetime (option iso: isoformat() text, UTC as Z), uuid, bytes,\n"
    "json, duration, file, many (options\n"
    "cache, item_attribute, item_kind). Option represent: a callable whose\n"
    "answer is written for a value not of the kind's own type (for every value\n"
    "with represent_all). missing(instance,\n"
    "key) gives the keys of a to-many column whose objects were not prefetched.\n"
    "An attribute given as a tuple of names is a chain (option fallback: a\n"
    "callable answering for an object whose chain meets None or raises); kind\n"
    "call (option call: an index) writes calls[index](object) as it is (a\n"
    "tuple there is a link: prefix, suffix, str subclass, attribute,\n"
    "fallback, negatives). A\n"
    "value that is skip leaves its key out. Kind nested (option layout: a\n"
    "ColumnLayout) writes the value as that layout's record. A many column's\n"
    "option group_attribute finds an object's keys in the dump's groups\n"
    "({key: {attribute value: keys}}) where those have the column's key.";

PyType_Slot kLayoutSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&constructor<kNewSig, layout_new>)},
    {Py_tp_repr, reinterpret_cast<void*>(&layout_repr)},
    {Py_mp_length, reinterpret_cast<void*>(&layout_len)},
    {Py_tp_methods, kLayoutMethods},
    {Py_tp_getset, kLayoutGetSet},
    {Py_tp_traverse, reinterpret_cast<void*>(&layout_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&layout_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&layout_dealloc)},
    {Py_tp_doc, const_cast<char*>(kLayoutDoc)},
    {0, nullptr},
};

PyType_Spec kLayoutSpec = {
    "zembra._speedups.ColumnLayout",
    sizeof(ColumnLayoutObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
    kLayoutSlots,
};

}  // namespace

PyTypeObject* column_layout_type() {
  return create_type_once(type_cell, &kLayoutSpec, &vector_constructor<kNewSig, layout_new>);
}

}  // namespace zembra::py
