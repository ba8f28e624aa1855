// Datetimes in a fixed UTC offset (datetime.timezone), read without calling
// isoformat().
//
// The routes read an aware datetime outside UTC by parsing the text of
// isoformat(). For an exact datetime whose tzinfo is an exact
// datetime.timezone that text is known from its fields and the offset, so it
// is written natively and read by the same parser, with the same result.
#pragma once

#include <optional>

#include "binding/error.h"
#include "model/values.h"

namespace zembra::py {

class FixedOffsetReader {
 public:
  // The UTC wall time; nullopt when the value is not such a datetime, or its
  // text would not parse (the general path then gives the route's error).
  Result<std::optional<DateTime>> read(PyObject* value);

 private:
  // The last time zone seen and its offset in seconds: records of one call
  // usually share a few zones, and a timezone's offset never changes.
  Object zone_;
  int offset_seconds_ = 0;
};

}  // namespace zembra::py
