#include "pure/json_writer/json_rewrite.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "pure/text/json.h"
#include "pure/json_writer/json_text.h"

namespace zembra::json {
namespace {

// One open array or object. An object's members are written into its own
// text, then copied out in key order when it closes; an array writes into
// the text its value goes to. Frames are reused by depth.
struct Frame {
  struct Member {
    std::size_t key_start;  // in keys
    std::size_t key_size;
    std::size_t value_start;  // in text
    std::size_t value_end;
  };
  bool is_object = false;
  std::size_t count = 0;      // values written so far (arrays)
  Buffer* target = nullptr;   // where the container's own text goes
  Buffer text;                // an object's member values
  std::string keys;           // an object's decoded keys
  std::vector<Member> members;
  std::vector<std::size_t> order;

  std::string_view key_of(std::size_t m) const {
    return std::string_view(keys).substr(members[m].key_start, members[m].key_size);
  }
};

}  // namespace

class JsonRewriter::Sink final : public text::JsonSink {
 public:
  explicit Sink(std::size_t max_int_digits) : max_int_digits_(max_int_digits) {}

  RewriteResult rewrite(std::string_view text, Buffer& out) {
    std::size_t start = out.size();
    out_ = &out;
    depth_ = 0;
    too_long_ = false;
    auto read = text::read_json(text, *this);
    if (read && *read) return RewriteResult::Written;
    out.truncate(start);
    return too_long_ ? RewriteResult::IntegerTooLong : RewriteResult::NotStrictJson;
  }

  bool null() override { return scalar("null"); }
  bool boolean(bool value) override { return scalar(value ? "true" : "false"); }
  bool integer(std::int64_t value) override {
    write_int(value, before_value());
    return after_value();
  }
  bool unsigned_integer(std::uint64_t value) override {
    write_uint(value, before_value());
    return after_value();
  }
  bool big_integer(std::string_view digits) override {
    // The interpreter's own text of the int: JSON already has no leading
    // zeros and no "+".
    if (digits.size() - (digits.starts_with('-') ? 1 : 0) > max_int_digits_) {
      too_long_ = true;
      return false;
    }
    return scalar(digits);
  }
  bool real(double value) override {
    write_float_repr(value, before_value());
    return after_value();
  }
  bool string(std::string_view text) override {
    write_string(text, before_value());
    return after_value();
  }
  bool key(std::string_view key) override {
    Frame& frame = *frames_[depth_ - 1];
    frame.members.push_back(Frame::Member{frame.keys.size(), key.size(), frame.text.size(), frame.text.size()});
    frame.keys.append(key);
    return true;
  }
  bool begin_array() override {
    Buffer& target = before_value();
    target.push_back('[');
    Frame& frame = open(false);
    frame.target = &target;
    return true;
  }
  bool end_array() override {
    Frame& frame = *frames_[--depth_];
    frame.target->push_back(']');
    return after_value();
  }
  bool begin_object() override {
    Buffer& target = before_value();
    Frame& frame = open(true);
    frame.target = &target;
    frame.text.clear();
    frame.keys.clear();
    frame.members.clear();
    return true;
  }
  bool end_object() override {
    Frame& frame = *frames_[--depth_];
    write_members(frame);
    return after_value();
  }

 private:
  Frame& open(bool is_object) {
    if (frames_.size() == depth_) frames_.push_back(std::make_unique<Frame>());
    Frame& frame = *frames_[depth_++];
    frame.is_object = is_object;
    frame.count = 0;
    return frame;
  }

  // Where the next value goes, after the comma that separates it from the
  // one before it in an array.
  Buffer& before_value() {
    if (depth_ == 0) return *out_;
    Frame& frame = *frames_[depth_ - 1];
    if (frame.is_object) return frame.text;
    if (frame.count++) frame.target->push_back(',');
    return *frame.target;
  }
  bool after_value() {
    if (depth_ != 0) {
      Frame& frame = *frames_[depth_ - 1];
      if (frame.is_object) frame.members.back().value_end = frame.text.size();
    }
    return true;
  }
  bool scalar(std::string_view text) {
    before_value().append(text);
    return after_value();
  }

  // The members in ascending key order; of equal keys the last one read.
  void write_members(Frame& frame) {
    std::size_t n = frame.members.size();
    frame.order.resize(n);
    for (std::size_t i = 0; i < n; ++i) frame.order[i] = i;
    auto less = [&](std::size_t a, std::size_t b) { return frame.key_of(a) < frame.key_of(b); };
    if (n > 32) {
      std::stable_sort(frame.order.begin(), frame.order.end(), less);
    } else {  // typical objects are small: no temporary buffer
      for (std::size_t i = 1; i < n; ++i) {
        std::size_t index = frame.order[i];
        std::size_t j = i;
        for (; j > 0 && less(index, frame.order[j - 1]); --j) frame.order[j] = frame.order[j - 1];
        frame.order[j] = index;
      }
    }
    Buffer& out = *frame.target;
    out.push_back('{');
    bool first = true;
    for (std::size_t k = 0; k < n; ++k) {
      std::size_t m = frame.order[k];
      if (k + 1 < n && frame.key_of(frame.order[k + 1]) == frame.key_of(m)) continue;
      if (!first) out.push_back(',');
      first = false;
      write_string(frame.key_of(m), out);
      out.push_back(':');
      const Frame::Member& member = frame.members[m];
      out.append(frame.text.view().substr(member.value_start, member.value_end - member.value_start));
    }
    out.push_back('}');
  }

  Buffer* out_ = nullptr;
  std::size_t max_int_digits_;
  std::vector<std::unique_ptr<Frame>> frames_;
  std::size_t depth_ = 0;
  bool too_long_ = false;
};

JsonRewriter::JsonRewriter(std::size_t max_int_digits) : sink_(std::make_unique<Sink>(max_int_digits)) {}
JsonRewriter::~JsonRewriter() = default;

RewriteResult JsonRewriter::rewrite(std::string_view text, Buffer& out) { return sink_->rewrite(text, out); }

}  // namespace zembra::json
