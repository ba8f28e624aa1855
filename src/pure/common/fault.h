// Internal faults: states the native code cannot continue from.
//
// A fault is a C++ exception. The calling frame catches it around every body
// and raises it in Python as PanicException; worker threads capture it and
// hand it to the thread that waits for them.
#pragma once

#include <stdexcept>
#include <string>

namespace zembra {

class Fault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] inline void raise_fault(const std::string& message) { throw Fault(message); }

}  // namespace zembra

// Checks an invariant; a failure becomes a PanicException at the boundary.
#define ZB_ASSERT(cond, message)                          \
  do {                                                    \
    if (!(cond)) ::zembra::raise_fault(message);          \
  } while (0)
