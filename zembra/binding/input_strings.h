// Short str objects shared from one read of a plan to the next.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "binding/error.h"

namespace zembra::py {

// Short texts repeat between requests (keys inside JSON fields, enumerated
// words, addresses of one sender): each ASCII text of up to kMaxSize bytes
// is made into a str once and shared while it stays in this direct-mapped
// table. A str is immutable, so sharing changes nothing a caller can see but
// identity. Not thread-safe: each one belongs to a leased scratch.
class ShortStrings {
 public:
  static constexpr std::size_t kMaxSize = 64;

  // A str of the ASCII text (any size; only short ones are kept).
  Result<Object> ascii(std::string_view text) {
    if (text.size() > kMaxSize) return make(text);
    if (!slots_) slots_ = std::make_unique<std::array<Object, kSlots>>();
    Object& slot = (*slots_)[slot_of(text)];
    if (PyObject* s = slot.get();
        s && static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)) == text.size() &&
        std::memcmp(PyUnicode_DATA(s), text.data(), text.size()) == 0) {
      return slot;
    }
    ZB_TRY(Object str, make(text));
    slot = str;
    return str;
  }

 private:
  static constexpr std::size_t kSlots = 256;

  static Result<Object> make(std::string_view text) {
    ZB_TRY(Object str, checked(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127)));
    std::memcpy(PyUnicode_DATA(str.get()), text.data(), text.size());
    return str;
  }

  // From the size and the first and last (up to) eight bytes: texts that
  // differ only in between share a slot, and the later one takes it.
  static std::size_t slot_of(std::string_view text) {
    std::uint64_t first = 0, last = 0;
    const std::size_t n = text.size();
    if (n >= 8) {
      std::memcpy(&first, text.data(), 8);
      std::memcpy(&last, text.data() + n - 8, 8);
    } else {
      std::memcpy(&first, text.data(), n);
    }
    const std::uint64_t h = (first * 0x9E3779B97F4A7C15ull) ^ (last * 0xC2B2AE3D27D4EB4Full) ^ n;
    return static_cast<std::size_t>((h ^ (h >> 29)) * 0x165667B19E3779F9ull >> 56);  // kSlots == 256
  }

  std::unique_ptr<std::array<Object, kSlots>> slots_;  // made on first use
};

}  // namespace zembra::py
