// Any text that reads as a UUID writes back in the canonical form and reads
// to the same bytes; failures give a well-formed error.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pure/text/uuid.h"

using namespace zembra;
using namespace zembra::text;

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = parse_uuid(text);
  if (parsed) {
    require(size == 32 || size == 36 || size == 38 || size == 45);
    Buffer out;
    format_uuid(*parsed, out);
    require(out.size() == kUuidTextSize);
    auto again = parse_uuid(out.view());
    require(again.ok() && *again == *parsed);
    return 0;
  }
  const UuidError& e = parsed.error();
  switch (e.kind) {
    case UuidErrorKind::InvalidCharacter:
      require(e.position >= 1 && e.position <= size);
      require(e.character_size >= 1 && e.character_size <= 4);
      break;
    case UuidErrorKind::InvalidLength:
      require(e.found == size && size != 32);
      break;
    case UuidErrorKind::InvalidGroupCount:
      require(e.found != 5);
      break;
    case UuidErrorKind::InvalidGroupLength:
      require(e.group < 5 && e.found != e.expected);
      break;
  }
  require(!message(e).empty());
  return 0;
}
