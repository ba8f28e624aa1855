// Base64 text of byte strings (RFC 4648): the standard alphabet, "=" padding
// to a multiple of four characters, no line breaks; no bytes give no text.
#pragma once

#include <cstddef>
#include <string_view>

#include "pure/common/buffer.h"

namespace zembra::text {

// Four characters per started group of three bytes.
constexpr std::size_t base64_size(std::size_t byte_count) {
  return (byte_count / 3 + (byte_count % 3 != 0 ? 1 : 0)) * 4;
}

// Appends the Base64 text of bytes to out (reserves base64_size() once).
void encode_base64(std::string_view bytes, Buffer& out);

}  // namespace zembra::text
