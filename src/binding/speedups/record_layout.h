// Records written with their keys in a fixed order while their values are
// produced in field order.
//
// The routes read and convert the fields of a record in field order (so the
// first failing field decides the error) but list the keys in ascending
// byte order of the names. Values are therefore written into a staging
// buffer in field order, then copied after their keys.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pure/common/buffer.h"

namespace zembra::py {

class RecordLayout {
 public:
  // names[i] is field i's name; order lists the positions in ascending byte
  // order of the names. A name that occurs more than once is listed once,
  // where it first comes, with the value of its last field in that order:
  // what a dict built by inserting in that order holds.
  RecordLayout(std::span<const std::string> names, std::span<const std::size_t> order);

  std::size_t field_count() const { return spans_.size(); }

  // Starts the values of a record.
  Buffer& begin() {
    stage_.clear();
    return stage_;
  }
  // Field i's value was written to the stage between start and the stage's
  // current end.
  void mark(std::size_t i, std::size_t start) { spans_[i] = {start, stage_.size()}; }

  // Appends "{" key:value, ... "}" for the staged values.
  void emit(Buffer& out) const;

  bool built_for(std::span<const std::string> names, std::span<const std::size_t> order) const;

 private:
  struct Span {
    std::size_t start = 0;
    std::size_t end = 0;
  };
  struct Entry {
    std::size_t key_start;  // in keys_: ,"name": (the first without the comma, with "{")
    std::size_t key_end;
    std::size_t field;
  };
  std::vector<std::string> names_;
  std::vector<std::size_t> order_;
  Buffer keys_;
  std::vector<Entry> entries_;
  std::vector<Span> spans_;
  Buffer stage_;
};

// A RecordLayout the calling thread keeps between calls: one built for the
// same names and order is taken again with its keys' text and its buffers
// (a call for one record then builds nothing), any other is built anew.
// Given back when done; a nested call on the thread builds its own.
class KeptRecordLayout {
 public:
  KeptRecordLayout(std::span<const std::string> names, std::span<const std::size_t> order);
  ~KeptRecordLayout();
  KeptRecordLayout(const KeptRecordLayout&) = delete;
  KeptRecordLayout& operator=(const KeptRecordLayout&) = delete;

  RecordLayout& operator*() { return *layout_; }
  RecordLayout* operator->() { return layout_.get(); }

 private:
  std::unique_ptr<RecordLayout> layout_;
};

}  // namespace zembra::py
