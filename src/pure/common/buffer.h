// A growable character buffer with inline storage for short texts.
//
// Every text formatter writes into one of these. Writers state their maximum
// output size and call reserve() once, then append without further checks.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace zembra {

template <std::size_t InlineSize = 128>
class BasicBuffer {
 public:
  BasicBuffer() = default;
  BasicBuffer(const BasicBuffer&) = delete;
  BasicBuffer& operator=(const BasicBuffer&) = delete;
  ~BasicBuffer() {
    if (data_ != inline_) std::free(data_);
  }

  const char* data() const noexcept { return data_; }
  char* data() noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }
  std::string_view view() const noexcept { return {data_, size_}; }
  std::string str() const { return std::string(data_, size_); }
  void clear() noexcept { size_ = 0; }
  // Drops what was written after the first n characters.
  void truncate(std::size_t n) noexcept {
    if (n < size_) size_ = n;
  }

  // Makes room for n more characters; returns where they go.
  char* reserve(std::size_t n) {
    if (capacity_ - size_ < n) grow(size_ + n);
    return data_ + size_;
  }
  // Declares that n characters were written at the pointer reserve() gave.
  void commit(std::size_t n) noexcept { size_ += n; }

  void push_back(char c) {
    reserve(1)[0] = c;
    ++size_;
  }
  void append(std::string_view s) {
    std::memcpy(reserve(s.size()), s.data(), s.size());
    size_ += s.size();
  }
  BasicBuffer& operator+=(std::string_view s) {
    append(s);
    return *this;
  }
  BasicBuffer& operator+=(char c) {
    push_back(c);
    return *this;
  }

 private:
  void grow(std::size_t need) {
    std::size_t cap = capacity_ * 2;
    if (cap < need) cap = need;
    char* fresh = static_cast<char*>(std::malloc(cap));
    if (!fresh) throw std::bad_alloc();
    std::memcpy(fresh, data_, size_);
    if (data_ != inline_) std::free(data_);
    data_ = fresh;
    capacity_ = cap;
  }

  char inline_[InlineSize];
  char* data_ = inline_;
  std::size_t size_ = 0;
  std::size_t capacity_ = InlineSize;
};

using Buffer = BasicBuffer<>;

}  // namespace zembra
