#include "binding/speedups/json_loads.h"

#include <vector>

#include "binding/django/ordinary_errors.h"
#include "pure/text/json.h"

namespace zembra::py {

class JsonLoads::Sink final : public text::JsonSink {
 public:
  void reset() {
    stack_.clear();
    root_ = Object();
    failed_ = false;
  }
  Object take_root() { return std::move(root_); }
  bool failed() const { return failed_; }

  bool null() override { return put(Object::borrow(Py_None)); }
  bool boolean(bool value) override { return put(Object::borrow(value ? Py_True : Py_False)); }
  bool integer(std::int64_t value) override { return put(Object::steal(PyLong_FromLongLong(value))); }
  bool unsigned_integer(std::uint64_t value) override {
    return put(Object::steal(PyLong_FromUnsignedLongLong(value)));
  }
  bool big_integer(std::string_view digits) override {
    // PyLong_FromString applies the interpreter's limit on digits, as
    // json.loads does; past it the caller asks json.loads.
    std::string text(digits);
    return put(Object::steal(PyLong_FromString(text.c_str(), nullptr, 10)));
  }
  bool real(double value) override { return put(Object::steal(PyFloat_FromDouble(value))); }
  bool string(std::string_view text) override { return put(decoded(text)); }
  bool key(std::string_view key) override {
    stack_.back().key = decoded(key);
    if (!stack_.back().key) return fail();
    return true;
  }
  bool begin_array() override { return open(PyList_New(0)); }
  bool begin_object() override { return open(PyDict_New()); }
  bool end_array() override { return close(); }
  bool end_object() override { return close(); }

 private:
  struct Level {
    Object container;
    Object key;
  };

  static Object decoded(std::string_view text) {
    return Object::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
  }
  bool fail() {
    failed_ = true;
    return false;
  }
  bool put(Object value) {
    if (!value) return fail();
    if (stack_.empty()) {
      root_ = std::move(value);
      return true;
    }
    Level& level = stack_.back();
    int rc = PyList_Check(level.container.get()) ? PyList_Append(level.container.get(), value.get())
                                                  : PyDict_SetItem(level.container.get(), level.key.get(), value.get());
    return rc == 0 || fail();
  }
  bool open(PyObject* container) {
    if (!container) return fail();
    stack_.push_back(Level{Object::steal(container), Object()});
    return true;
  }
  bool close() {
    Object done = std::move(stack_.back().container);
    stack_.pop_back();
    return put(std::move(done));
  }

  std::vector<Level> stack_;
  Object root_;
  bool failed_ = false;
};

JsonLoads::JsonLoads() : sink_(std::make_unique<Sink>()) {}
JsonLoads::~JsonLoads() = default;

Result<Object> JsonLoads::read(std::string_view text) {
  sink_->reset();
  auto done = text::read_json(text, *sink_);
  bool failed = sink_->failed();
  Object root = sink_->take_root();
  sink_->reset();
  if (failed) {
    ZB_CHECK_OK(absorb_ordinary_error());
    return Object();
  }
  if (!done || !*done) return Object();
  return root;
}

}  // namespace zembra::py
