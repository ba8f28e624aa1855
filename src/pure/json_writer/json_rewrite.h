// JSON text written again in the form the routes give a JSONField value:
// what json.dumps (ensure_ascii=False, compact separators) writes for the
// value json.loads reads from the text, with the keys of every object in
// ascending byte order and, of equal keys, the last one's value. Nothing is
// built on the way: values are copied from one text to the other, and only
// the members of each object are gathered to be put in order.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "pure/common/buffer.h"

namespace zembra::json {

enum class RewriteResult : unsigned char {
  Written,
  NotStrictJson,     // not accepted by text::parse_json
  IntegerTooLong,    // an integer of more than max_int_digits digits
};

class JsonRewriter {
 public:
  // Integers of more than max_int_digits digits are refused.
  explicit JsonRewriter(std::size_t max_int_digits);
  ~JsonRewriter();
  JsonRewriter(const JsonRewriter&) = delete;
  JsonRewriter& operator=(const JsonRewriter&) = delete;

  // Appends the rewritten text to out when Written; otherwise out keeps what
  // it held before. The scratch space of one call is kept for the next.
  RewriteResult rewrite(std::string_view text, Buffer& out);

 private:
  class Sink;
  std::unique_ptr<Sink> sink_;
};

}  // namespace zembra::json
