// Recognising the unwinding that ends a thread.
//
// pthread_exit (which CPython calls to end a daemon thread at interpreter
// exit) unwinds the thread's stack with an exception of the thread library,
// not of C++. A catch-all handler meets it like any exception; it must
// rethrow it untouched, or the process aborts.
#pragma once

#include <exception>

namespace zembra {

// Inside a catch (...) block: true when the exception being handled is such
// a forced unwind (or another exception not thrown by C++ code), which
// std::current_exception cannot hold. (A handler for abi::__forced_unwind
// would do too, but it binds a null reference, which the undefined-behaviour
// sanitizer reports.)
inline bool is_forced_unwind() noexcept { return !std::current_exception(); }

}  // namespace zembra
