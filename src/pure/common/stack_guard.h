// How much of the calling thread's stack is left.
//
// Native code that recurses, directly or through Python callbacks that call
// back in, checks this before going deeper and fails with a recursion error
// instead of running off the end of the stack. The bounds come from the
// thread library once per thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zembra {

// Room kept free below the deepest native frame: enough for the interpreter
// to build, raise and report the error, and for a bounded native recursion
// (a JSON tree of the maximum depth) started just above the limit.
inline constexpr std::size_t kStackReserve = std::size_t{256} << 10;

namespace detail {

struct StackLimits {
  std::uintptr_t low = 0;    // lowest usable address of the thread's stack
  std::uintptr_t floor = 0;  // low + kStackReserve; 0 when unknown
  bool looked_up = false;
};

extern constinit thread_local StackLimits stack_limits;

void look_up_stack_limits(StackLimits& limits) noexcept;

inline bool below_floor(std::uintptr_t here) noexcept {
  StackLimits& limits = stack_limits;
  if (!limits.looked_up) look_up_stack_limits(limits);
  // An address below the thread's stack is on a stack of another kind (a
  // coroutine's or a signal handler's): nothing is known about it.
  return here < limits.floor && here >= limits.low;
}

}  // namespace detail

// True when less than kStackReserve bytes of the thread's stack remain below
// the caller's frame. Always false when the bounds cannot be read.
[[gnu::always_inline]] inline bool stack_nearly_exhausted() noexcept {
  return detail::below_floor(reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)));
}

}  // namespace zembra
