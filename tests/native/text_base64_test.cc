#include <random>
#include <string>

#include "check.h"
#include "pure/text/base64.h"

using zembra::Buffer;
using namespace zembra::text;

namespace {

std::string encoded(std::string_view bytes) {
  Buffer b;
  encode_base64(bytes, b);
  return b.str();
}

// Bit-by-bit encoder, independent of the table-driven one.
std::string reference(std::string_view bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned acc = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    acc = (acc << 8) | c;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += alphabet[(acc >> bits) & 63];
    }
  }
  if (bits > 0) out += alphabet[(acc << (6 - bits)) & 63];
  while (out.size() % 4 != 0) out += '=';
  return out;
}

}  // namespace

TEST_CASE("base64: known texts") {
  CHECK_EQ(encoded(""), "");
  CHECK_EQ(encoded("a"), "YQ==");
  CHECK_EQ(encoded("ab"), "YWI=");
  CHECK_EQ(encoded("abc"), "YWJj");
  CHECK_EQ(encoded("foobar"), "Zm9vYmFy");
  CHECK_EQ(encoded(std::string("\0\0\0\0", 4)), "AAAAAA==");
  CHECK_EQ(encoded("\xFB\xFF\xBF"), "+/+/");
  CHECK_EQ(encoded("\xFF\xFF\xFF\xFF\xFF"), "//////8=");
}

TEST_CASE("base64: random bytes of every small length match the bitwise encoder") {
  std::mt19937 rng(7);
  for (std::size_t n = 0; n < 200; ++n) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    std::string got = encoded(bytes);
    CHECK_EQ(got, reference(bytes));
    CHECK_EQ(got.size(), base64_size(n));
  }
  // Appends after existing content and grows past the inline storage.
  Buffer b;
  b.append("k:");
  std::string big(1000, '\x5A');
  encode_base64(big, b);
  CHECK_EQ(b.view().substr(2), reference(big));
}

ZB_TEST_MAIN()
