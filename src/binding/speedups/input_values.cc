#include "binding/speedups/input_values.h"

#include <charconv>
#include <cstring>
#include <string>

#include "binding/core/datetime_api.h"
#include "binding/core/imports.h"

namespace zembra::py {
namespace {

using input::Document;
using input::Node;
using input::NodeType;
using input::Value;
using input::ValueKind;

// zembra._input_support.<name>, looked up once per process.
Result<PyObject*> support(PyObject*& cell, const char* name) {
  if (!cell) {
    ZB_TRY(Object function, imported_attribute("zembra._input_support", name));
    cell = function.release();
  }
  return cell;
}

Result<Object> integer_text_to_python(const input::ExactNumber& n) {
  std::string text;
  input::append_integer(n, text);
  return checked(PyLong_FromString(text.c_str(), nullptr, 10));
}

// Where a __slots__ member of a class lives in its instances, or -1.
Py_ssize_t slot_offset(PyObject* cls, const char* name) {
  PyObject* descr = PyDict_GetItemString(reinterpret_cast<PyTypeObject*>(cls)->tp_dict, name);
  if (!descr || !Py_IS_TYPE(descr, &PyMemberDescr_Type)) return -1;
  const PyMemberDef* member = reinterpret_cast<PyMemberDescrObject*>(descr)->d_member;
  return member->type == Py_T_OBJECT_EX && !(member->flags & Py_READONLY) ? member->offset : -1;
}

// uuid.UUID(int=value) without running the class's checks again: an
// instance of the class with its two slots set, as the constructor does
// (stored directly when the slots are plain object members).
Result<Object> make_uuid(unsigned __int128 value) {
  static PyObject* safe_unknown = nullptr;
  static PyObject* int_name = nullptr;
  static PyObject* safe_name = nullptr;
  static Py_ssize_t int_offset = -1, safe_offset = -1;
  ZB_TRY(PyObject * cls, uuid_type());
  if (!safe_unknown) {
    ZB_TRY(Object safe_cls, imported_attribute("uuid", "SafeUUID"));
    ZB_TRY(Object unknown, checked(PyObject_GetAttrString(safe_cls.get(), "unknown")));
    int_name = PyUnicode_InternFromString("int");
    safe_name = PyUnicode_InternFromString("is_safe");
    if (!int_name || !safe_name) return python_error();
    int_offset = slot_offset(cls, "int");
    safe_offset = slot_offset(cls, "is_safe");
    safe_unknown = unknown.release();
  }
  unsigned char bytes[16];
  std::memcpy(bytes, &value, sizeof bytes);
  ZB_TRY(Object number, checked(PyLong_FromUnsignedNativeBytes(
                            bytes, sizeof bytes, Py_ASNATIVEBYTES_LITTLE_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER)));
  auto* type = reinterpret_cast<PyTypeObject*>(cls);
  ZB_TRY(Object uuid, checked(type->tp_alloc(type, 0)));
  if (int_offset >= 0 && safe_offset >= 0) {
    char* base = reinterpret_cast<char*>(uuid.get());
    *reinterpret_cast<PyObject**>(base + int_offset) = number.release();
    *reinterpret_cast<PyObject**>(base + safe_offset) = Py_NewRef(safe_unknown);
    // An int and an enum member cannot take part in a reference cycle; as
    // long as nothing else is stored in it, the collector can skip it.
    PyObject_GC_UnTrack(uuid.get());
    return uuid;
  }
  if (PyObject_GenericSetAttr(uuid.get(), int_name, number.get()) < 0) return python_error();
  if (PyObject_GenericSetAttr(uuid.get(), safe_name, safe_unknown) < 0) return python_error();
  return uuid;
}

Result<Object> make_decimal(const input::ExactNumber& n, KeptObjects* kept) {
  ZB_TRY(PyObject * cls, decimal_type());
  // "[-]<digits>E<exponent>": the constructor keeps the exponent as given.
  char exponent[24];
  exponent[0] = 'E';
  const auto written = std::to_chars(exponent + 1, exponent + sizeof exponent, n.exponent);
  const auto exponent_size = static_cast<int>(written.ptr - exponent);
  const std::size_t size = n.negative + n.digits.size() + static_cast<std::size_t>(exponent_size);
  ZB_TRY(Object arg, checked(PyUnicode_New(static_cast<Py_ssize_t>(size), 127)));
  char* out = static_cast<char*>(PyUnicode_DATA(arg.get()));
  if (n.negative) *out++ = '-';
  std::memcpy(out, n.digits.data(), n.digits.size());
  std::memcpy(out + n.digits.size(), exponent, static_cast<std::size_t>(exponent_size));
  // The type's own tp_new, as a call of the class would run it (its
  // tp_init is object's, which does nothing here).
  Object args;
  if (kept) {
    ZB_TRY(args, kept->one_tuple(std::move(arg)));
  } else {
    ZB_TRY(args, checked(PyTuple_New(1)));
    PyTuple_SET_ITEM(args.get(), 0, arg.release());
  }
  auto* type = reinterpret_cast<PyTypeObject*>(cls);
  return checked(type->tp_new(type, args.get(), nullptr));
}

Result<Object> make_datetime(const input::CivilDateTime& v, PyObject* zone) {
  return checked(PyDateTimeAPI->DateTime_FromDateAndTime(v.date.year, v.date.month, v.date.day, v.time.hour,
                                                         v.time.minute, v.time.second, v.time.microsecond, zone,
                                                         PyDateTimeAPI->DateTimeType));
}

Result<Object> fixed_zone(std::int64_t offset_us) {
  if (offset_us == 0) return Object::borrow(PyDateTime_TimeZone_UTC);
  const std::int64_t days = offset_us < 0 ? -1 : 0;
  const std::int64_t rest = offset_us - days * 86'400'000'000LL;
  ZB_TRY(Object delta, checked(PyDelta_FromDSU(static_cast<int>(days), static_cast<int>(rest / 1'000'000),
                                               static_cast<int>(rest % 1'000'000))));
  return checked(PyTimeZone_FromOffset(delta.get()));
}

Result<Object> node_value(const Document& doc, std::uint32_t index, const DictBody& body, KeptObjects* kept) {
  const Node& node = doc.nodes[index];
  switch (node.type) {
    case NodeType::Null:
      return Object::borrow(Py_None);
    case NodeType::True:
      return Object::borrow(Py_True);
    case NodeType::False:
      return Object::borrow(Py_False);
    case NodeType::Int:
      return checked(PyLong_FromLongLong(node.integer));
    case NodeType::BigInt:
      return integer_text_to_python(input::exact_from_integer_text(node.view()));
    case NodeType::Float:
      return checked(PyFloat_FromDouble(node.number));
    case NodeType::String:
      return text_to_python(node.view(), node.flags, kept);
    case NodeType::Foreign:
      return Object::borrow(body.foreign[node.foreign].get());
    case NodeType::Array: {
      if (body.from_dict) return Object::borrow(body.containers[node.foreign]);
      ZB_TRY(Object list, checked(PyList_New(node.size)));
      std::uint32_t child = index + 1;
      for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(node.size); ++i) {
        ZB_TRY(Object item, node_value(doc, child, body, kept));
        PyList_SET_ITEM(list.get(), i, item.release());
        child = doc.nodes[child].end;
      }
      return list;
    }
    case NodeType::Object: {
      if (body.from_dict) return Object::borrow(body.containers[node.foreign]);
      ZB_TRY(Object dict, checked(PyDict_New()));
      std::uint32_t child = index + 1;
      for (std::uint32_t i = 0; i < node.size; ++i) {
        ZB_TRY(Object key, node_value(doc, child, body, kept));
        const std::uint32_t value_index = child + 1;
        ZB_TRY(Object item, node_value(doc, value_index, body, kept));
        if (PyDict_SetItem(dict.get(), key.get(), item.get()) < 0) return python_error();
        child = doc.nodes[value_index].end;
      }
      return dict;
    }
  }
  return Object::borrow(Py_None);
}

// ---- dict bodies ----------------------------------------------------------

class DictReader {
 public:
  DictReader(Document& doc, DictBody& body) : doc_(doc), body_(body) {}

  Status value(PyObject* obj, std::size_t depth) {
    if (obj == Py_None) return leaf(NodeType::Null);
    if (obj == Py_True) return leaf(NodeType::True);
    if (obj == Py_False) return leaf(NodeType::False);
    if (PyUnicode_Check(obj)) return text(obj);
    if (PyLong_Check(obj)) return integer(obj);
    if (PyFloat_Check(obj)) {
      ZB_CHECK_OK(leaf(NodeType::Float));
      doc_.nodes.back().number = PyFloat_AS_DOUBLE(obj);
      return {};
    }
    const bool is_dict = PyDict_Check(obj);
    if ((is_dict || PyList_Check(obj) || PyTuple_Check(obj)) && depth < input::kMaxDepth) {
      return container(obj, is_dict, depth + 1);
    }
    return foreign(obj);
  }

 private:
  Status leaf(NodeType type) {
    Node& node = doc_.nodes.emplace_back();
    node.type = type;
    node.end = static_cast<std::uint32_t>(doc_.nodes.size());
    return {};
  }

  Status text(PyObject* obj) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    std::uint8_t flags = PyUnicode_IS_ASCII(obj) ? 0 : input::kNonAscii;
    if (!data) {
      // Lone surrogates: kept as three-byte sequences, as the JSON reader
      // keeps escaped ones.
      if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return python_error();
      PyErr_Clear();
      ZB_TRY(Object bytes, checked(PyUnicode_AsEncodedString(obj, "utf-8", "surrogatepass")));
      data = PyBytes_AS_STRING(bytes.get());
      size = PyBytes_GET_SIZE(bytes.get());
      flags |= input::kSurrogate;
      body_.keep_alive.push_back(std::move(bytes));
    } else {
      body_.keep_alive.push_back(Object::borrow(obj));
    }
    ZB_CHECK_OK(leaf(NodeType::String));
    Node& node = doc_.nodes.back();
    node.text = data;
    node.size = static_cast<std::uint32_t>(size);
    node.flags = flags;
    return {};
  }

  Status integer(PyObject* obj) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (n == -1 && PyErr_Occurred()) return python_error();
    if (!overflow) {
      ZB_CHECK_OK(leaf(NodeType::Int));
      doc_.nodes.back().integer = n;
      return {};
    }
    // int.__repr__, not str(): a subclass's __str__ has no say in the digits.
    Object digits = Object::steal(PyLong_Type.tp_repr(obj));
    if (!digits) {
      // Beyond the interpreter's digit limit the int has no text; the
      // fields report it as the framework's own str() failure leads them to.
      if (!PyErr_ExceptionMatches(PyExc_ValueError)) return python_error();
      PyErr_Clear();
      return foreign_node(obj, input::Foreign::LongInteger);
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(digits.get(), &size);
    if (!data) return python_error();
    body_.keep_alive.push_back(std::move(digits));
    ZB_CHECK_OK(leaf(NodeType::BigInt));
    Node& node = doc_.nodes.back();
    node.text = data;
    node.size = static_cast<std::uint32_t>(size);
    return {};
  }

  // A member's key as json.dumps takes keys: text, or an int, float, bool or
  // None it writes as text; anything else a foreign node it refuses. (The
  // fields match text keys only, as a dict lookup by name does.)
  Status key(PyObject* obj) {
    if (PyUnicode_Check(obj)) return text(obj);
    if (obj == Py_None || PyBool_Check(obj) || PyLong_Check(obj) || PyFloat_Check(obj)) return value(obj, 0);
    return foreign(obj);
  }

  Status container(PyObject* obj, bool is_dict, std::size_t depth) {
    const auto index = static_cast<std::uint32_t>(doc_.nodes.size());
    doc_.nodes.emplace_back().type = is_dict ? NodeType::Object : NodeType::Array;
    doc_.nodes[index].foreign = body_.containers.size();
    body_.containers.push_back(obj);
    std::uint32_t count = 0;
    if (is_dict) {
      // Items as the dict gives them (a subclass's items() included, as a
      // QueryDict gives each key's last value).
      ZB_TRY(Object items, checked(PyDict_CheckExact(obj) ? PyDict_Items(obj) : PyMapping_Items(obj)));
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);
        ZB_CHECK_OK(key(PyTuple_GET_ITEM(pair, 0)));
        ZB_CHECK_OK(value(PyTuple_GET_ITEM(pair, 1), depth));
        ++count;
      }
      body_.keep_alive.push_back(std::move(items));  // holds every key and value read
    } else {
      ZB_TRY(Object items, checked(PySequence_Tuple(obj)));
      for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i) {
        ZB_CHECK_OK(value(PyTuple_GET_ITEM(items.get(), i), depth));
        ++count;
      }
      body_.keep_alive.push_back(std::move(items));
    }
    Node& node = doc_.nodes[index];
    node.size = count;
    node.end = static_cast<std::uint32_t>(doc_.nodes.size());
    return {};
  }

  Status foreign(PyObject* obj) {
    input::Foreign kind = input::Foreign::Other;
    ZB_TRY(PyObject * uuid_cls, uuid_type());
    ZB_TRY(PyObject * decimal_cls, decimal_type());
    if (PyDateTime_Check(obj)) {
      kind = input::Foreign::DateTime;
    } else if (PyDate_Check(obj)) {
      kind = input::Foreign::Date;
    } else if (PyTime_Check(obj)) {
      kind = input::Foreign::Time;
    } else if (PyDelta_Check(obj)) {
      kind = input::Foreign::Timedelta;
    } else if (PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(uuid_cls))) {
      kind = input::Foreign::Uuid;
    } else if (PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(decimal_cls))) {
      kind = input::Foreign::Decimal;
    }
    return foreign_node(obj, kind);
  }

  Status foreign_node(PyObject* obj, input::Foreign kind) {
    ZB_CHECK_OK(leaf(NodeType::Foreign));
    Node& node = doc_.nodes.back();
    node.flags = static_cast<std::uint8_t>(kind);
    node.foreign = body_.foreign.size();
    body_.foreign.push_back(Object::borrow(obj));
    return {};
  }

  Document& doc_;
  DictBody& body_;
};

}  // namespace

Result<Object> text_to_python(std::string_view text, std::uint8_t flags, KeptObjects* kept) {
  const auto size = static_cast<Py_ssize_t>(text.size());
  if (!(flags & input::kNonAscii)) {
    if (kept) return kept->ascii(text);
    ZB_TRY(Object str, checked(PyUnicode_New(size, 127)));
    std::memcpy(PyUnicode_DATA(str.get()), text.data(), text.size());
    return str;
  }
  return checked(PyUnicode_DecodeUTF8(text.data(), size, (flags & input::kSurrogate) ? "surrogatepass" : nullptr));
}

Status document_from_dict(PyObject* dict, Document& doc, DictBody& body) {
  ZB_CHECK_OK(ensure_datetime_api());
  doc.clear();
  body.from_dict = true;
  return DictReader(doc, body).value(dict, 0);
}

Result<Object> node_to_python(const Document& doc, std::uint32_t index, const DictBody& body) {
  return node_value(doc, index, body, nullptr);
}

Result<Object> value_to_python(const Value& value, const Document& doc, const DictBody& body,
                               const FieldObjects& objects, const input::FieldRule& rule, KeptObjects* kept) {
  ZB_CHECK_OK(ensure_datetime_api());
  switch (value.kind) {
    case ValueKind::Null:
      return Object::borrow(Py_None);
    case ValueKind::Bool:
      return Object::borrow(value.boolean ? Py_True : Py_False);
    case ValueKind::Int:
      return checked(PyLong_FromLongLong(value.integer));
    case ValueKind::BigInt:
      return integer_text_to_python(value.exact);
    case ValueKind::Float:
      return checked(PyFloat_FromDouble(value.number));
    case ValueKind::Decimal:
      return make_decimal(value.exact, kept);
    case ValueKind::Text:
      return text_to_python(value.text_view(), value.text_flags, kept);
    case ValueKind::Date:
      return checked(PyDate_FromDate(value.datetime.date.year, value.datetime.date.month, value.datetime.date.day));
    case ValueKind::Time:
      return checked(PyTime_FromTime(value.datetime.time.hour, value.datetime.time.minute, value.datetime.time.second,
                                     value.datetime.time.microsecond));
    case ValueKind::DateTime: {
      if (value.needs_zone) {
        // Built as parsed; apply_zone converts it.
        if (!value.datetime.aware) return make_datetime(value.datetime, Py_None);
        ZB_TRY(Object zone, fixed_zone(value.datetime.offset_us));
        return make_datetime(value.datetime, zone.get());
      }
      PyObject* zone = rule.zone == input::ZoneMode::Fixed ? objects.zone.get() : Py_None;
      return make_datetime(value.datetime, zone);
    }
    case ValueKind::Uuid:
      return make_uuid(value.uuid);
    case ValueKind::Duration:
      return checked(PyDelta_FromDSU(static_cast<int>(value.duration.days), static_cast<int>(value.duration.seconds),
                                     static_cast<int>(value.duration.microseconds)));
    case ValueKind::Node:
      return node_value(doc, value.node, body, kept);
    case ValueKind::Choice:
      return Object::borrow(PyTuple_GET_ITEM(objects.choice_keys.get(), static_cast<Py_ssize_t>(value.choice)));
    case ValueKind::Foreign:
      return node_value(doc, value.node, body, kept);
    case ValueKind::Keys: {
      ZB_TRY(Object list, checked(PyList_New(static_cast<Py_ssize_t>(value.items.size()))));
      for (std::size_t i = 0; i < value.items.size(); ++i) {
        ZB_TRY(Object item, value_to_python(value.items[i], doc, body, objects, rule, kept));
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
      }
      return list;
    }
  }
  return Object::borrow(Py_None);
}

Result<Object> apply_zone(PyObject* datetime, PyObject* zone, input::Message* error) {
  static PyObject* cell = nullptr;
  ZB_TRY(PyObject * function, support(cell, "enforce_zone"));
  ZB_TRY(Object pair, checked(PyObject_CallFunctionObjArgs(function, datetime, zone ? zone : Py_None, nullptr)));
  if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
    PyErr_SetString(PyExc_TypeError, "enforce_zone() must return a pair");
    return python_error();
  }
  PyObject* result = PyTuple_GET_ITEM(pair.get(), 0);
  if (result != Py_None) return Object::borrow(result);
  PyObject* problem = PyTuple_GET_ITEM(pair.get(), 1);
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(PyTuple_GET_ITEM(problem, 0), &size);
  if (!text) return python_error();
  error->text.assign(text, static_cast<std::size_t>(size));
  const char* code = PyUnicode_AsUTF8(PyTuple_GET_ITEM(problem, 1));
  if (!code) return python_error();
  error->code = std::strcmp(code, "overflow") == 0 ? "overflow" : "make_aware";
  return Object();
}

Result<Object> run_validators(PyObject* validators, PyObject* value) {
  static PyObject* cell = nullptr;
  ZB_TRY(PyObject * function, support(cell, "run_validators"));
  return checked(PyObject_CallFunctionObjArgs(function, validators, value, nullptr));
}

bool InputHost::text_of(const Document& doc, std::uint32_t node, std::string& out) {
  Result<Object> obj = node_value(doc, node, body_, nullptr);
  if (!obj) return false;
  Object text = Object::steal(PyObject_Str(obj->get()));
  if (!text) return false;
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (data) {
    out.assign(data, static_cast<std::size_t>(size));
    return true;
  }
  if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
  PyErr_Clear();
  Object bytes = Object::steal(PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass"));
  if (!bytes) return false;
  out.assign(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
  return true;
}

bool InputHost::duration_of(const Document& doc, std::uint32_t node, input::Duration& out) {
  PyObject* delta = body_.foreign[doc.nodes[node].foreign].get();
  out.days = PyDateTime_DELTA_GET_DAYS(delta);
  out.seconds = PyDateTime_DELTA_GET_SECONDS(delta);
  out.microseconds = PyDateTime_DELTA_GET_MICROSECONDS(delta);
  return true;
}

bool InputHost::json_dumpable(const Document& doc, std::uint32_t node, bool& dumpable) {
  static PyObject* cell = nullptr;
  Result<PyObject*> function = support(cell, "json_dumpable");
  if (!function) return false;
  Result<Object> value = node_value(doc, node, body_, nullptr);
  if (!value) return false;
  Object answer = Object::steal(PyObject_CallOneArg(*function, value->get()));
  if (!answer) return false;
  const int truth = PyObject_IsTrue(answer.get());
  if (truth < 0) return false;
  dumpable = truth == 1;
  return true;
}

bool InputHost::check(Check check, std::string_view text, bool& valid) {
  static PyObject* url_cell = nullptr;
  static PyObject* slug_cell = nullptr;
  Result<PyObject*> function =
      check == Check::Url ? support(url_cell, "check_url") : support(slug_cell, "check_unicode_slug");
  if (!function) return false;
  Result<Object> arg = text_to_python(text, input::kNonAscii | input::kSurrogate);
  if (!arg) return false;
  Object answer = Object::steal(PyObject_CallOneArg(*function, arg->get()));
  if (!answer) return false;
  const int truth = PyObject_IsTrue(answer.get());
  if (truth < 0) return false;
  valid = truth == 1;
  return true;
}

}  // namespace zembra::py
