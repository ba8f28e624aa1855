#include "binding/speedups/record_layout.h"

#include <algorithm>
#include <cstring>

#include "pure/json_writer/json_text.h"

namespace zembra::py {

RecordLayout::RecordLayout(std::span<const std::string> names, std::span<const std::size_t> order)
    : names_(names.begin(), names.end()), order_(order.begin(), order.end()), spans_(names.size()) {
  Buffer& text = keys_;
  entries_.reserve(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    std::size_t field = order[k];
    if (!entries_.empty() && names[entries_.back().field] == names[field]) {
      entries_.back().field = field;  // a later equal name replaces the value
      continue;
    }
    std::size_t start = text.size();
    text.push_back(entries_.empty() ? '{' : ',');
    json::write_string(names[field], text);
    text.push_back(':');
    entries_.push_back(Entry{start, text.size(), field});
  }
}

void RecordLayout::emit(Buffer& out) const {
  if (entries_.empty()) {
    out.append("{}");
    return;
  }
  std::string_view keys = keys_.view();
  std::string_view staged = stage_.view();
  for (const Entry& entry : entries_) {
    const Span& span = spans_[entry.field];
    std::string_view key = keys.substr(entry.key_start, entry.key_end - entry.key_start);
    std::string_view value = staged.substr(span.start, span.end - span.start);
    char* p = out.reserve(key.size() + value.size());
    json::detail::copy_bytes(p, key.data(), key.size());
    json::detail::copy_bytes(p + key.size(), value.data(), value.size());
    out.commit(key.size() + value.size());
  }
  out.push_back('}');
}

bool RecordLayout::built_for(std::span<const std::string> names, std::span<const std::size_t> order) const {
  return std::equal(names.begin(), names.end(), names_.begin(), names_.end()) &&
         std::equal(order.begin(), order.end(), order_.begin(), order_.end());
}

namespace {

thread_local std::unique_ptr<RecordLayout> kept_layout;

}  // namespace

KeptRecordLayout::KeptRecordLayout(std::span<const std::string> names, std::span<const std::size_t> order) {
  if (kept_layout && kept_layout->built_for(names, order)) {
    layout_ = std::move(kept_layout);
  } else {
    layout_ = std::make_unique<RecordLayout>(names, order);
  }
}

KeptRecordLayout::~KeptRecordLayout() { kept_layout = std::move(layout_); }

}  // namespace zembra::py
