// The failure raised when the process-wide worker pool cannot be used.
//
// Pool creation happens once; when it fails, that operation and every later
// one that needs the pool end with this fault. The binding layer turns it into
// PanicException like any other internal fault.
#pragma once

#include <string>
#include <string_view>

#include "pure/common/fault.h"

namespace zembra::parallel {

inline constexpr std::string_view kPoolNotInitialized = "The global thread pool has not been initialized.";

// Description given to every use after the one whose creation failed;
// creation is never retried.
inline constexpr std::string_view kPoolCreationFailedEarlier =
    "the pool was already initialized and its creation failed";

class PoolError : public Fault {
 public:
  // what() is the fixed heading, ": " and the description.
  explicit PoolError(std::string_view description)
      : Fault(std::string(kPoolNotInitialized) + ": " + std::string(description)),
        description_(description) {}

  const std::string& description() const noexcept { return description_; }

 private:
  std::string description_;
};

}  // namespace zembra::parallel
