// The stack guard: quiet at shallow depth, and it speaks before a recursion
// runs off the end of a thread's stack, for several stack sizes.
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "check.h"
#include "common/stack_guard.h"

namespace {

struct Probe {
  bool shallow_quiet = false;
  bool stopped = false;
  std::uintptr_t stop_address = 0;
  std::uintptr_t stack_low = 0;
};

// About 4 KiB per level, until the guard speaks (a guard that never does
// runs the thread off its stack, which ends the test with a crash).
[[gnu::noinline]] void descend(Probe& probe, std::size_t level) {
  volatile char frame[4096];
  std::memset(const_cast<char*>(frame), static_cast<int>(level), sizeof frame);
  if (zembra::stack_nearly_exhausted()) {
    probe.stopped = true;
    probe.stop_address = reinterpret_cast<std::uintptr_t>(frame);
    return;
  }
  descend(probe, level + 1);
  frame[0] = frame[1];  // keeps the frame live across the call
}

void* run(void* arg) {
  auto& probe = *static_cast<Probe*>(arg);
  probe.shallow_quiet = !zembra::stack_nearly_exhausted();
  pthread_attr_t attr;
  void* addr = nullptr;
  std::size_t size = 0;
  pthread_getattr_np(pthread_self(), &attr);
  pthread_attr_getstack(&attr, &addr, &size);
  pthread_attr_destroy(&attr);
  probe.stack_low = reinterpret_cast<std::uintptr_t>(addr);
  descend(probe, 0);
  return nullptr;
}

}  // namespace

TEST_CASE("the guard stops a recursion with the reserve left, whatever the stack size") {
  for (std::size_t mib : {1, 2, 8}) {
    Probe probe;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, mib << 20);
    pthread_t thread;
    CHECK_EQ(pthread_create(&thread, &attr, &run, &probe), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    CHECK(probe.shallow_quiet);
    CHECK(probe.stopped);
    // Stopped within one frame of the reserve's edge, and not before.
    const std::uintptr_t left = probe.stop_address - probe.stack_low;
    CHECK(left <= zembra::kStackReserve);
    CHECK(left + 3 * 4096 > zembra::kStackReserve);
  }
}

TEST_CASE("the main thread's stack is known too") { CHECK(!zembra::stack_nearly_exhausted()); }

ZB_TEST_MAIN()
