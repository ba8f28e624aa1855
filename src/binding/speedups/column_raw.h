// Raw cursor values for a column layout: what the query set route reads
// from the database's cursor, cooked into the values Django's converters
// would give, for the readers zembra.django plans (the same codes as the
// query set route of serialize_queryset).
//
// Only what the layout cannot take as it is gets cooked: SQLite's decimals
// (REAL or INTEGER) become their converter's text, its UUIDs (32 hex
// digits) a hyphenated text, JSON text the value json.loads reads. Anything
// a reader does not expect refuses the rows, and the caller takes the
// values_list() route instead.
#pragma once

#include <cstdint>
#include <vector>

#include "binding/core/error.h"
#include "binding/speedups/json_loads.h"
#include "pure/rows/raw_values.h"

namespace zembra::py {

enum class RawReader : std::uint8_t {
  Raw,
  Date,
  Time,
  DateTime,
  Bool,
  Decimal,
  DecimalRoundedInts,
  UuidHex,
  JsonText,
};

struct RawColumn {
  RawReader reader = RawReader::Raw;
  rows::DecimalColumn decimal;
  // UuidHex: a uuid.UUID rather than its text, for a column that writes
  // its values as they are (a related key).
  bool uuid_object = false;
};

// plan: one entry per column, a reader code or (code, max_digits,
// decimal_places) for the decimal readers.
Result<std::vector<RawColumn>> read_raw_plan(PyObject* plan, std::size_t width);

class RawCook {
 public:
  // The value to convert (a new reference), or empty when refused; a
  // failure that is not an ordinary error propagates.
  Result<Object> cook(PyObject* value, const RawColumn& column);

 private:
  JsonLoads reader_;
  Object loads_;  // json.loads, for what the strict reader refuses
};

}  // namespace zembra::py
