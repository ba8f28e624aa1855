// A minimal assertion harness for the native unit tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace zbtest {

struct Case {
  const char* name;
  std::function<void()> body;
};

inline std::vector<Case>& cases() {
  static std::vector<Case> all;
  return all;
}
inline int& failures() {
  static int n = 0;
  return n;
}

struct Register {
  Register(const char* name, std::function<void()> body) { cases().push_back({name, std::move(body)}); }
};

inline int run_all() {
  for (auto& c : cases()) {
    int before = failures();
    c.body();
    std::printf("%s %s\n", failures() == before ? "ok  " : "FAIL", c.name);
  }
  std::printf("%zu cases, %d failed checks\n", cases().size(), failures());
  return failures() == 0 ? 0 : 1;
}

}  // namespace zbtest

#define ZB_TEST_CAT2(a, b) a##b
#define ZB_TEST_CAT(a, b) ZB_TEST_CAT2(a, b)
#define TEST_CASE(name)                                                              \
  static void ZB_TEST_CAT(zb_case_, __LINE__)();                                     \
  static ::zbtest::Register ZB_TEST_CAT(zb_reg_, __LINE__)(name, ZB_TEST_CAT(zb_case_, __LINE__)); \
  static void ZB_TEST_CAT(zb_case_, __LINE__)()

#define CHECK(cond)                                                                  \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::printf("  %s:%d: CHECK(%s) failed\n", __FILE__, __LINE__, #cond);         \
      ++::zbtest::failures();                                                        \
    }                                                                                \
  } while (0)

#define CHECK_EQ(a, b)                                                               \
  do {                                                                               \
    auto&& zb_a = (a);                                                               \
    auto&& zb_b = (b);                                                               \
    if (!(zb_a == zb_b)) {                                                           \
      std::printf("  %s:%d: CHECK_EQ(%s, %s) failed\n", __FILE__, __LINE__, #a, #b); \
      ++::zbtest::failures();                                                        \
    }                                                                                \
  } while (0)

#define ZB_TEST_MAIN() \
  int main() { return ::zbtest::run_all(); }
