#include "binding/speedups/json_objects.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "binding/core/to_python.h"
#include "pure/text/json.h"

namespace zembra::py {
namespace {

// One open array or object: its values, and an object's keys (their bytes
// for ordering, their objects for the dict).
struct Frame {
  bool is_object = false;
  std::vector<Object> values;
  std::string key_bytes;
  std::vector<std::pair<std::size_t, std::size_t>> key_spans;
  std::vector<Object> keys;
  std::vector<std::size_t> order;

  std::string_view key_of(std::size_t m) const {
    return std::string_view(key_bytes).substr(key_spans[m].first, key_spans[m].second);
  }
  void clear() {
    values.clear();
    key_bytes.clear();
    key_spans.clear();
    keys.clear();
  }
};

// Keys, and short strings such as tags and enumerated values, repeat from
// one record to the next: each short text is made into a str object once
// and shared while it stays in this direct-mapped cache (str objects are
// immutable, so sharing them changes nothing a caller can observe but
// identity).
class StrObjects {
 public:
  Result<Object> get(std::string_view bytes) {
    if (bytes.size() > kMaxCachedSize) return decode(bytes);
    // The text as three zero-padded words: compared and hashed a word at a
    // time.
    std::array<std::uint64_t, 3> words{};
    std::memcpy(words.data(), bytes.data(), bytes.size());
    std::uint64_t hash = (words[0] * 0x9E3779B97F4A7C15ull) ^ (words[1] * 0xC2B2AE3D27D4EB4Full) ^
                         (words[2] * 0x165667B19E3779F9ull) ^ bytes.size();
    Entry& e = entries_[(hash >> 32) % kSlots];
    if (e.object && e.words == words && e.size == bytes.size()) return e.object;
    ZB_TRY(Object text, decode(bytes));
    e.words = words;
    e.size = bytes.size();
    e.object = text;
    return text;
  }

 private:
  static constexpr std::size_t kMaxCachedSize = 24;
  static constexpr std::size_t kSlots = 256;

  static Result<Object> decode(std::string_view bytes) {
    return checked(PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr));
  }

  struct Entry {
    std::array<std::uint64_t, 3> words{};
    std::size_t size = 0;
    Object object;
  };
  std::array<Entry, kSlots> entries_;
};

}  // namespace

class JsonObjectReader::Sink final : public text::JsonSink {
 public:
  explicit Sink(std::size_t max_int_digits) : max_int_digits_(max_int_digits) {}

  Result<Object> read(std::string_view text) {
    for (std::size_t d = 0; d < depth_; ++d) frames_[d].clear();  // left by a text that failed
    depth_ = 0;
    failed_ = false;
    result_ = Object();
    auto read = text::read_json(text, *this);
    if (failed_) return python_error();
    if (!read || !*read) return Object();
    return std::move(result_);
  }

  bool null() override { return put(Object::borrow(Py_None)); }
  bool boolean(bool value) override { return put(Object::borrow(value ? Py_True : Py_False)); }
  bool integer(std::int64_t value) override { return put(Object::steal(PyLong_FromLongLong(value))); }
  bool unsigned_integer(std::uint64_t value) override {
    return put(Object::steal(PyLong_FromUnsignedLongLong(value)));
  }
  bool big_integer(std::string_view digits) override {
    if (digits.size() - (digits.starts_with('-') ? 1 : 0) > max_int_digits_) return false;
    std::string text(digits);
    return put(Object::steal(PyLong_FromString(text.c_str(), nullptr, 10)));
  }
  bool real(double value) override { return put(Object::steal(PyFloat_FromDouble(value))); }
  bool string(std::string_view text) override {
    Result<Object> object = strings_.get(text);
    if (!object) return fail();
    return put(std::move(object).value());
  }
  bool key(std::string_view key) override {
    Frame& frame = frames_[depth_ - 1];
    Result<Object> object = strings_.get(key);
    if (!object) return fail();
    frame.key_spans.emplace_back(frame.key_bytes.size(), key.size());
    frame.key_bytes.append(key);
    frame.keys.push_back(std::move(object).value());
    return true;
  }
  bool begin_array() override { return open(false); }
  bool begin_object() override { return open(true); }
  bool end_array() override {
    Frame& frame = frames_[--depth_];
    Object list = Object::steal(PyList_New(static_cast<Py_ssize_t>(frame.values.size())));
    if (!list) return fail();
    for (std::size_t i = 0; i < frame.values.size(); ++i)
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), frame.values[i].release());
    frame.clear();
    return put(std::move(list));
  }
  bool end_object() override {
    Frame& frame = frames_[--depth_];
    Object dict = build_dict(frame);
    frame.clear();
    return put(std::move(dict));
  }

 private:
  bool fail() {
    failed_ = true;
    return false;
  }
  bool open(bool is_object) {
    if (frames_.size() == depth_) frames_.emplace_back();
    frames_[depth_++].is_object = is_object;
    return true;
  }
  bool put(Object value) {
    if (!value) return fail();
    if (depth_ == 0) {
      result_ = std::move(value);
    } else {
      frames_[depth_ - 1].values.push_back(std::move(value));
    }
    return true;
  }

  // The members in ascending key order, of equal keys the last one read;
  // untracked by the garbage collector when no value needs tracking, as
  // the routes' copies are.
  Object build_dict(Frame& frame) {
    std::size_t n = frame.values.size();
    frame.order.resize(n);
    for (std::size_t i = 0; i < n; ++i) frame.order[i] = i;
    auto less = [&](std::size_t a, std::size_t b) { return frame.key_of(a) < frame.key_of(b); };
    if (n > 32) {
      std::stable_sort(frame.order.begin(), frame.order.end(), less);
    } else {
      for (std::size_t i = 1; i < n; ++i) {
        std::size_t index = frame.order[i];
        std::size_t j = i;
        for (; j > 0 && less(index, frame.order[j - 1]); --j) frame.order[j] = frame.order[j - 1];
        frame.order[j] = index;
      }
    }
    Object dict = Object::steal(PyDict_New());
    if (!dict) return dict;
    bool atomic = true;
    for (std::size_t k = 0; k < n; ++k) {
      std::size_t m = frame.order[k];
      if (k + 1 < n && frame.key_of(frame.order[k + 1]) == frame.key_of(m)) continue;
      PyObject* value = frame.values[m].get();
      atomic = atomic && !may_be_tracked(value);
      if (PyDict_SetItem(dict.get(), frame.keys[m].get(), value) < 0) return Object();
    }
    if (atomic) PyObject_GC_UnTrack(dict.get());
    return dict;
  }

  std::size_t max_int_digits_;
  std::vector<Frame> frames_;
  std::size_t depth_ = 0;
  bool failed_ = false;
  Object result_;
  StrObjects strings_;
};

JsonObjectReader::JsonObjectReader(std::size_t max_int_digits) : sink_(std::make_unique<Sink>(max_int_digits)) {}
JsonObjectReader::~JsonObjectReader() = default;

Result<Object> JsonObjectReader::read(std::string_view text) { return sink_->read(text); }

}  // namespace zembra::py
