// Interpreter objects kept from one read of a plan to the next: short str
// objects and a spare argument tuple.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "binding/core/error.h"

namespace zembra::py {

// Short texts repeat between requests (keys inside JSON fields, enumerated
// words, addresses of one sender): each ASCII text of up to kMaxSize bytes
// is made into a str once and shared while it stays in this direct-mapped
// table. A str is immutable, so sharing changes nothing a caller can see but
// identity. Not thread-safe: each one belongs to a leased scratch.
class KeptObjects {
 public:
  static constexpr std::size_t kMaxSize = 64;

  // A tuple of one item holding `item`: the one of the previous call when
  // nothing else holds it any more (the argument tuple of a constructor is
  // not kept by the object it makes), else a new one.
  Result<Object> one_tuple(Object item) {
    if (spare_ && Py_REFCNT(spare_.get()) == 1) {
      if (PyTuple_SetItem(spare_.get(), 0, item.release()) < 0) return python_error();
      return spare_;
    }
    ZB_TRY(Object tuple, checked(PyTuple_New(1)));
    PyTuple_SET_ITEM(tuple.get(), 0, item.release());
    spare_ = tuple;
    return tuple;
  }

  // A str of the ASCII text (any size; only short ones are kept).
  Result<Object> ascii(std::string_view text) {
    const std::size_t n = text.size();
    if (n > kMaxSize) return make(text);
    if (!slots_) slots_ = std::make_unique<std::array<Object, kSlots>>();
    const Words words = ends(text.data(), n);
    const std::uint64_t h = (words.first ^ (words.last * 0xC2B2AE3D27D4EB4Full) ^ (n << 57)) * 0x9E3779B97F4A7C15ull;
    Object& slot = (*slots_)[static_cast<std::size_t>(h >> 56)];  // kSlots == 256
    if (PyObject* s = slot.get(); s && static_cast<std::size_t>(PyUnicode_GET_LENGTH(s)) == n) {
      const char* data = static_cast<const char*>(PyUnicode_DATA(s));
      // Up to 16 bytes, the two words are the whole text.
      if (ends(data, n) == words && (n <= 16 || same_middle(data, text.data(), n))) return slot;
    }
    ZB_TRY(Object str, make(text));
    slot = str;
    return str;
  }

 private:
  static constexpr std::size_t kSlots = 256;

  struct Words {
    std::uint64_t first = 0, last = 0;
    bool operator==(const Words&) const = default;
  };

  // The first and last eight bytes (overlapping when fewer than 16); a
  // text shorter than eight is packed into first.
  static Words ends(const char* p, std::size_t n) {
    Words w;
    if (n >= 8) {
      std::memcpy(&w.first, p, 8);
      std::memcpy(&w.last, p + n - 8, 8);
    } else if (n >= 4) {
      std::uint32_t a, b;
      std::memcpy(&a, p, 4);
      std::memcpy(&b, p + n - 4, 4);
      w.first = a | (static_cast<std::uint64_t>(b) << 32);
    } else {
      for (std::size_t i = 0; i < n; ++i) w.first |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    }
    return w;
  }

  // Bytes [8, n - 8) of two texts of n > 16 bytes, eight at a time.
  static bool same_middle(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 8; i < n - 8; i += 8) {
      const std::size_t at = i < n - 16 ? i : n - 16;
      std::uint64_t x, y;
      std::memcpy(&x, a + at, 8);
      std::memcpy(&y, b + at, 8);
      if (x != y) return false;
    }
    return true;
  }

  static Result<Object> make(std::string_view text) {
    ZB_TRY(Object str, checked(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127)));
    std::memcpy(PyUnicode_DATA(str.get()), text.data(), text.size());
    return str;
  }

  std::unique_ptr<std::array<Object, kSlots>> slots_;  // made on first use
  Object spare_;
};

}  // namespace zembra::py
