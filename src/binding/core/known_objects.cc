#include "binding/core/known_objects.h"

#include <array>

#include "binding/core/datetime_api.h"
#include "binding/core/frame.h"
#include "binding/core/imports.h"
#include "binding/core/to_python.h"
#include "pure/text/datetime.h"

namespace zembra::py {
namespace {

Time time_of(int hour, int minute, int second, int micro) {
  return Time{static_cast<std::uint32_t>(hour * 3600 + minute * 60 + second),
              static_cast<std::uint32_t>(micro) * 1000u};
}

bool is_utc(PyObject* tzinfo) { return tzinfo == PyDateTime_TimeZone_UTC; }

// Written field by field in place: building the struct elsewhere and
// copying it costs more than the reads.
void read_wall_time(PyObject* value, DateTime& wall) {
  wall.date.year = PyDateTime_GET_YEAR(value);
  wall.date.month = static_cast<std::uint8_t>(PyDateTime_GET_MONTH(value));
  wall.date.day = static_cast<std::uint8_t>(PyDateTime_GET_DAY(value));
  wall.time = time_of(PyDateTime_DATE_GET_HOUR(value), PyDateTime_DATE_GET_MINUTE(value),
                      PyDateTime_DATE_GET_SECOND(value), PyDateTime_DATE_GET_MICROSECOND(value));
}

constexpr std::int64_t kMicrosPerDay = 86'400'000'000;

// A timedelta strictly between -1 and 1 day (the offsets the interpreter's
// datetime accepts), as microseconds into micros; false for anything else.
bool accepted_offset(PyObject* delta, std::int64_t& micros) {
  if (!PyDelta_Check(delta)) return false;
  std::int64_t v = std::int64_t(PyDateTime_DELTA_GET_DAYS(delta)) * kMicrosPerDay +
                   std::int64_t(PyDateTime_DELTA_GET_SECONDS(delta)) * 1'000'000 +
                   PyDateTime_DELTA_GET_MICROSECONDS(delta);
  if (v <= -kMicrosPerDay || v >= kMicrosPerDay) return false;
  micros = v;
  return true;
}

// The offsets of datetime.timezone objects, learned once per object. Each
// entry holds a reference to its object, so an address never stands for a
// later object. Few distinct offsets are in use at a time; past the table's
// size the oldest entry makes room.
class LearnedOffsets {
 public:
  bool find(PyObject* zone, std::int64_t& micros) {
    Lock lock(*this);
    for (const Entry& e : entries_) {
      if (e.zone == zone) {
        micros = e.micros;
        return true;
      }
    }
    return false;
  }

  void remember(PyObject* zone, std::int64_t micros) {
    Object evicted;
    {
      Lock lock(*this);
      Entry& slot = entries_[next_];
      next_ = (next_ + 1) % entries_.size();
      evicted = Object::steal(slot.zone);  // released outside the lock
      slot = Entry{Py_NewRef(zone), micros};
    }
  }

 private:
  struct Entry {
    PyObject* zone = nullptr;
    std::int64_t micros = 0;
  };
#ifdef Py_GIL_DISABLED
  struct Lock {
    explicit Lock(LearnedOffsets& o) : mutex(o.mutex_) { PyMutex_Lock(&mutex); }
    ~Lock() { PyMutex_Unlock(&mutex); }
    PyMutex& mutex;
  };
  PyMutex mutex_{};
#else
  struct Lock {
    explicit Lock(LearnedOffsets&) {}
  };
#endif
  std::array<Entry, 16> entries_{};
  std::size_t next_ = 0;
};

// Kept for the process (never destroyed: its references must not be
// dropped after the interpreter is gone).
LearnedOffsets& learned_offsets() {
  static LearnedOffsets* table = new LearnedOffsets();
  return *table;
}

PyObject* utcoffset_name() {
  static PyObject* name = PyUnicode_InternFromString("utcoffset");
  return name;
}

// What value.utcoffset() gives for an exact datetime with a tzinfo, into
// fields (aware stays false for None). Filled in place: this runs once per
// value on the hottest routes, where copying the fields out costs more than
// reading them.
Status read_utc_offset(PyObject* value, PyObject* tz, DateTimeFields& fields) {
  if (is_utc(tz)) {
    fields.aware = true;
    fields.offset_micros = 0;
    return {};
  }
  const bool fixed = Py_TYPE(tz) == Py_TYPE(PyDateTime_TimeZone_UTC);
  if (fixed && learned_offsets().find(tz, fields.offset_micros)) {
    fields.aware = true;
    return {};
  }
  PyObject* name = utcoffset_name();
  if (!name) return python_error();
  // The call isoformat() makes, with the tzinfo's result checked here
  // rather than through the datetime's own method, which costs several
  // times more. A timezone's offset does not depend on the datetime.
  PyObject* args[2] = {tz, fixed ? Py_None : value};
  ZB_TRY(Object got, checked(PyObject_VectorcallMethod(name, args, 2, nullptr)));
  if (got.get() == Py_None) return {};
  if (!accepted_offset(got.get(), fields.offset_micros)) {
    // A result the interpreter refuses: the datetime's own method raises
    // the error isoformat() would raise (asking the tzinfo once more).
    ZB_TRY(got, checked(PyObject_CallMethodNoArgs(value, name)));
    if (got.get() == Py_None || !accepted_offset(got.get(), fields.offset_micros)) return {};
  } else if (fixed) {
    learned_offsets().remember(tz, fields.offset_micros);
  }
  fields.aware = true;
  return {};
}

void write_2(Buffer& out, int v) {
  out.push_back(static_cast<char>('0' + v / 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

void write_date(Buffer& out, int year, int month, int day) {
  char* p = out.reserve(10);
  p[0] = static_cast<char>('0' + year / 1000);
  p[1] = static_cast<char>('0' + year / 100 % 10);
  p[2] = static_cast<char>('0' + year / 10 % 10);
  p[3] = static_cast<char>('0' + year % 10);
  p[4] = '-';
  p[5] = static_cast<char>('0' + month / 10);
  p[6] = static_cast<char>('0' + month % 10);
  p[7] = '-';
  p[8] = static_cast<char>('0' + day / 10);
  p[9] = static_cast<char>('0' + day % 10);
  out.commit(10);
}

// The interpreter's isoformat: microseconds only when non-zero, 6 digits.
void write_time(Buffer& out, int hour, int minute, int second, int micro) {
  write_2(out, hour);
  out.push_back(':');
  write_2(out, minute);
  out.push_back(':');
  write_2(out, second);
  if (micro) {
    out.push_back('.');
    char* p = out.reserve(6);
    for (int i = 5; i >= 0; --i, micro /= 10) p[i] = static_cast<char>('0' + micro % 10);
    out.commit(6);
  }
}

}  // namespace

Result<bool> exact_datetime(PyObject* value, DateTimeFields& fields) {
  if (!datetime_api_ready() || !PyDateTime_CheckExact(value)) return false;
  read_wall_time(value, fields.wall);
  fields.aware = false;
  fields.offset_micros = 0;
  PyObject* tz = PyDateTime_DATE_GET_TZINFO(value);
  if (tz != Py_None) ZB_CHECK_OK(read_utc_offset(value, tz, fields));
  return true;
}

std::optional<Date> exact_date(PyObject* value) {
  if (!datetime_api_ready() || !PyDate_CheckExact(value)) return std::nullopt;
  return Date{PyDateTime_GET_YEAR(value), static_cast<std::uint8_t>(PyDateTime_GET_MONTH(value)),
              static_cast<std::uint8_t>(PyDateTime_GET_DAY(value))};
}

std::optional<Time> exact_time(PyObject* value) {
  if (!datetime_api_ready() || !PyTime_CheckExact(value)) return std::nullopt;
  if (PyDateTime_TIME_GET_TZINFO(value) != Py_None) return std::nullopt;
  return time_of(PyDateTime_TIME_GET_HOUR(value), PyDateTime_TIME_GET_MINUTE(value),
                 PyDateTime_TIME_GET_SECOND(value), PyDateTime_TIME_GET_MICROSECOND(value));
}

namespace {

PyObject* int_attribute_name() {
  static PyObject* name = PyUnicode_InternFromString("int");
  return name;
}

// Where UUID keeps its number: the offset of the `int` slot in its
// instances, read once from the class's member descriptor and trusted while
// the class's version tag (which any change to the class or its bases
// resets) stays the one seen then. The generic attribute read of the same
// slot is the larger part of writing a UUID.
class UuidIntSlot {
 public:
  // The instance's number, borrowed; nullptr when the slot cannot be read
  // this way (then the attribute is read as usual).
  PyObject* read(PyObject* value, PyTypeObject* type) {
#ifdef Py_GIL_DISABLED
    (void)value;
    (void)type;
    return nullptr;
#else
    if (type != type_ || type->tp_version_tag != version_ || version_ == 0) learn(type);
    if (offset_ < 0) return nullptr;
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(value) + offset_);
#endif
  }

 private:
  void learn(PyTypeObject* type) {
    type_ = type;
    offset_ = -1;
    version_ = 0;
    if (!PyUnstable_Type_AssignVersionTag(type)) return;
    // Unreadable this way stays known as such until the class changes.
    unsigned int tag = type->tp_version_tag;
    version_ = tag;
    PyObject* name = int_attribute_name();
    if (!name) {
      PyErr_Clear();
      return;
    }
    // The class attribute of a slot is its member descriptor itself.
    PyObject* found = PyObject_GetAttr(reinterpret_cast<PyObject*>(type), name);
    if (!found) {
      PyErr_Clear();
      return;
    }
    Object descriptor = Object::steal(found);
    if (Py_TYPE(found) != &PyMemberDescr_Type) return;
    auto* member = reinterpret_cast<PyMemberDescrObject*>(found);
    if (member->d_common.d_type != type || member->d_member->type != Py_T_OBJECT_EX ||
        member->d_member->offset <= 0) {
      return;
    }
    // A class changed while the descriptor was looked up is learned anew.
    if (type->tp_version_tag != tag) {
      version_ = 0;
      return;
    }
    offset_ = member->d_member->offset;
  }

  PyTypeObject* type_ = nullptr;  // compared only, never dereferenced once stale
  unsigned int version_ = 0;
  Py_ssize_t offset_ = -1;
};

}  // namespace

Result<std::optional<Uuid>> exact_uuid(PyObject* value) {
  ZB_TRY(PyObject * type, uuid_type());
  if (reinterpret_cast<PyObject*>(Py_TYPE(value)) != type) return std::optional<Uuid>{};
  static UuidIntSlot int_slot;
  Object holder;
  PyObject* number = int_slot.read(value, Py_TYPE(value));
  if (!number) {
    PyObject* name = int_attribute_name();
    if (!name) return python_error();
    if (PyObject_GetOptionalAttr(value, name, &number) < 0) {
      PyErr_Clear();
      return std::optional<Uuid>{};
    }
    holder = Object::steal(number);
  }
  if (!number || !PyLong_CheckExact(number)) return std::optional<Uuid>{};
  Uuid out;
  Py_ssize_t needed = PyLong_AsNativeBytes(number, out.bytes.data(), 16,
                                           Py_ASNATIVEBYTES_BIG_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER |
                                               Py_ASNATIVEBYTES_REJECT_NEGATIVE);
  if (needed < 0) {
    PyErr_Clear();
    return std::optional<Uuid>{};
  }
  if (needed > 16) return std::optional<Uuid>{};
  return std::optional<Uuid>(out);
}

Result<bool> write_exact_isoformat(PyObject* value, Buffer& out) {
  if (!datetime_api_ready()) return false;
  if (PyDateTime_CheckExact(value)) {
    DateTimeFields fields;
    ZB_TRY(bool exact, exact_datetime(value, fields));
    (void)exact;
    text::format_isoformat(fields.wall, fields.offset(), out);
    return true;
  }
  if (PyDate_CheckExact(value)) {
    write_date(out, PyDateTime_GET_YEAR(value), PyDateTime_GET_MONTH(value), PyDateTime_GET_DAY(value));
    return true;
  }
  if (PyTime_CheckExact(value) && PyDateTime_TIME_GET_TZINFO(value) == Py_None) {
    write_time(out, PyDateTime_TIME_GET_HOUR(value), PyDateTime_TIME_GET_MINUTE(value),
               PyDateTime_TIME_GET_SECOND(value), PyDateTime_TIME_GET_MICROSECOND(value));
    return true;
  }
  return false;
}

Result<bool> exact_isoformat_succeeds(PyObject* value) {
  if (!datetime_api_ready()) return false;
  if (PyDateTime_CheckExact(value)) {
    PyObject* tz = PyDateTime_DATE_GET_TZINFO(value);
    DateTimeFields ignored;
    if (tz != Py_None) ZB_CHECK_OK(read_utc_offset(value, tz, ignored));
    return true;
  }
  return PyDate_CheckExact(value) || (PyTime_CheckExact(value) && PyDateTime_TIME_GET_TZINFO(value) == Py_None);
}

}  // namespace zembra::py
