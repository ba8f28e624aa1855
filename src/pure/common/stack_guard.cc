#include "pure/common/stack_guard.h"

#include <pthread.h>

namespace zembra::detail {

constinit thread_local StackLimits stack_limits;

void look_up_stack_limits(StackLimits& limits) noexcept {
  limits.looked_up = true;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* addr = nullptr;
  std::size_t size = 0;
  // The reported range leaves out the guard pages; for the main thread it
  // spans the size limit the stack may grow to.
  if (pthread_attr_getstack(&attr, &addr, &size) == 0 && size > kStackReserve) {
    limits.low = reinterpret_cast<std::uintptr_t>(addr);
    limits.floor = limits.low + kStackReserve;
  }
  pthread_attr_destroy(&attr);
}

}  // namespace zembra::detail
