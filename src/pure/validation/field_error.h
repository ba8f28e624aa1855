// One validation error: the field, its message, a machine code and the
// limits the message names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembra {

enum class ErrorCode : std::uint8_t {
  Required,
  Invalid,
  MaxLength,
  MinLength,
  MinValue,
  MaxValue,
  MaxDigits,
  MaxDecimalPlaces,
};

inline constexpr std::array<std::string_view, 8> kErrorCodeTexts = {
    "required",  "invalid",   "max_length", "min_length",
    "min_value", "max_value", "max_digits", "max_decimal_places"};

constexpr std::string_view code_text(ErrorCode code) {
  return kErrorCodeTexts[static_cast<std::size_t>(code)];
}

inline constexpr std::string_view kCodeRequired = code_text(ErrorCode::Required);
inline constexpr std::string_view kCodeInvalid = code_text(ErrorCode::Invalid);
inline constexpr std::string_view kCodeMaxLength = code_text(ErrorCode::MaxLength);
inline constexpr std::string_view kCodeMinLength = code_text(ErrorCode::MinLength);
inline constexpr std::string_view kCodeMinValue = code_text(ErrorCode::MinValue);
inline constexpr std::string_view kCodeMaxValue = code_text(ErrorCode::MaxValue);
inline constexpr std::string_view kCodeMaxDigits = code_text(ErrorCode::MaxDigits);
inline constexpr std::string_view kCodeMaxDecimalPlaces = code_text(ErrorCode::MaxDecimalPlaces);

// A map from text to text that iterates in insertion order. Errors carry at
// most two entries, which live inline; more spill to the heap.
class ParamMap {
 public:
  using Entry = std::pair<std::string, std::string>;
  static constexpr std::size_t kInline = 2;

  class const_iterator {
   public:
    const_iterator(const ParamMap* map, std::size_t i) : map_(map), i_(i) {}
    const Entry& operator*() const { return (*map_)[i_]; }
    const Entry* operator->() const { return &(*map_)[i_]; }
    const_iterator& operator++() {
      ++i_;
      return *this;
    }
    friend bool operator==(const const_iterator&, const const_iterator&) = default;

   private:
    const ParamMap* map_;
    std::size_t i_;
  };

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const Entry& operator[](std::size_t i) const { return i < kInline ? inline_[i] : spill_[i - kInline]; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

  const std::string* find(std::string_view key) const {
    for (std::size_t i = 0; i < size_; ++i)
      if ((*this)[i].first == key) return &(*this)[i].second;
    return nullptr;
  }

  // Inserts key, or replaces its value when present.
  void set(std::string key, std::string value) {
    for (std::size_t i = 0; i < size_; ++i) {
      Entry& e = i < kInline ? inline_[i] : spill_[i - kInline];
      if (e.first == key) {
        e.second = std::move(value);
        return;
      }
    }
    if (size_ < kInline)
      inline_[size_] = {std::move(key), std::move(value)};
    else
      spill_.emplace_back(std::move(key), std::move(value));
    ++size_;
  }

  // Map equality: the same keys with the same values, in any order.
  friend bool operator==(const ParamMap& a, const ParamMap& b) {
    if (a.size_ != b.size_) return false;
    for (const Entry& e : a) {
      const std::string* v = b.find(e.first);
      if (!v || *v != e.second) return false;
    }
    return true;
  }

 private:
  std::array<Entry, kInline> inline_;
  std::vector<Entry> spill_;
  std::size_t size_ = 0;
};

struct FieldError {
  std::string field;
  std::string message;
  std::string code;
  ParamMap params;

  friend bool operator==(const FieldError&, const FieldError&) = default;
};

}  // namespace zembra
