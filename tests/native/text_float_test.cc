// Plain float text: exact layouts and a round-trip sweep over random doubles.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "check.h"
#include "pure/text/float_text.h"

using namespace zembra;

namespace {

std::string plain(double v) {
  Buffer b;
  format_float_plain(v, b);
  return b.str();
}

std::string zeros(int n) { return std::string(static_cast<std::size_t>(n), '0'); }

double from_bits(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

std::uint64_t to_bits(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof d);
  return bits;
}

// The text must be plain decimal and read back as exactly the same double.
bool round_trips(double v) {
  char buf[kMaxFloatPlainSize + 1];
  std::size_t n = write_float_plain(v, buf);
  if (n > kMaxFloatPlainSize) return false;
  buf[n] = '\0';
  for (std::size_t i = 0; i < n; ++i)
    if (!(buf[i] == '-' || buf[i] == '.' || (buf[i] >= '0' && buf[i] <= '9'))) return false;
  if (n > 1 && buf[n - 1] == '.') return false;
  return to_bits(std::strtod(buf, nullptr)) == to_bits(v);
}

}  // namespace

TEST_CASE("plain layouts") {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    std::string text;
  } cases[] = {
      {100.0, "100"},
      {0.5, "0.5"},
      {1e-7, "0.0000001"},
      {1e21, "1" + zeros(21)},
      {1e23, "1" + zeros(23)},  // shortest digits, not the exact binary value
      {0.0, "0"},
      {-0.0, "-0"},
      {-150.5, "-150.5"},
      {0.1, "0.1"},
      {1.0 / 3.0, "0.3333333333333333"},
      {123456.789, "123456.789"},
      {9007199254740992.0, "9007199254740992"},
      {12.0, "12"},
      {1.25e-3, "0.00125"},
      {std::numeric_limits<double>::max(), "17976931348623157" + zeros(292)},
      {std::numeric_limits<double>::denorm_min(), "0." + zeros(323) + "5"},
      {-std::numeric_limits<double>::denorm_min(), "-0." + zeros(323) + "5"},
      {std::numeric_limits<double>::min(), "0." + zeros(307) + "22250738585072014"},
      {std::nan(""), "NaN"},
      {-std::nan(""), "NaN"},
      {inf, "inf"},
      {-inf, "-inf"},
  };
  for (const Case& c : cases) {
    std::string got = plain(c.value);
    if (got != c.text) std::printf("  %.17g gave %s\n", c.value, got.c_str());
    CHECK_EQ(got, c.text);
  }
  CHECK_EQ(plain(std::numeric_limits<double>::max()).size(), 309u);
}

TEST_CASE("appends to what the buffer holds") {
  Buffer b;
  b.append("x=");
  format_float_plain(2.5, b);
  b.append(";");
  format_float_plain(-1e300, b);
  CHECK_EQ(b.str(), "x=2.5;-1" + zeros(300));
}

TEST_CASE("every binary exponent round-trips within the size bound") {
  // Smallest, largest and a middle mantissa at every exponent, both signs.
  int failures = 0;
  for (std::uint64_t e = 0; e < 2047; ++e)
    for (std::uint64_t m : {0ull, 1ull, (1ull << 52) - 1, 0x8000000000001ull, 0x123456789abcdull})
      for (std::uint64_t sign : {0ull, 1ull})
        failures += !round_trips(from_bits((sign << 63) | (e << 52) | m));
  CHECK_EQ(failures, 0);
}

TEST_CASE("random doubles round-trip") {
  std::mt19937_64 rng(20240501);
  const char* env = std::getenv("ZB_FLOAT_SAMPLES");
  long samples = env ? std::atol(env) : 2'000'000;
  long failures = 0;
  for (long i = 0; i < samples; ++i) {
    double v = from_bits(rng());
    if (std::isnan(v)) continue;
    if (!round_trips(v)) {
      if (++failures < 5) std::printf("  failed for bits %016llx\n", (unsigned long long)to_bits(v));
    }
  }
  CHECK_EQ(failures, 0);
}

ZB_TEST_MAIN()
