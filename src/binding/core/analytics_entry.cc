// batch_stats, compute_risk_batch, validate_ids_batch and validate_names_batch.
#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "pure/analytics/ids.h"
#include "pure/analytics/names.h"
#include "pure/analytics/risk.h"
#include "pure/analytics/stats.h"
#include "binding/core/convert.h"
#include "binding/core/core_functions.h"
#include "binding/core/dict_lookup.h"
#include "binding/core/frame.h"
#include "binding/core/list_walk.h"
#include "binding/core/python_text.h"
#include "binding/core/without_gil.h"
#include "pure/parallel/algorithm/fold.h"
#include "pure/parallel/algorithm/map.h"

namespace zembra::py {
namespace {

constexpr const char* kValuesParam[] = {"values"};
constexpr const char* kRecordsParam[] = {"records"};
constexpr const char* kIdsParam[] = {"ids"};
constexpr const char* kNamesParam[] = {"names"};
constexpr CallSignature kStatsSig{"batch_stats", nullptr, kValuesParam, 1, {}};
constexpr CallSignature kRiskSig{"compute_risk_batch", nullptr, kRecordsParam, 1, {}};
constexpr CallSignature kIdsSig{"validate_ids_batch", nullptr, kIdsParam, 1, {}};
constexpr CallSignature kNamesSig{"validate_names_batch", nullptr, kNamesParam, 1, {}};

// Holds off the cyclic garbage collector while a large result is built.
// Only for code that runs no Python code of the user's: a collection pass
// every few hundred new containers would otherwise dominate the build, and
// none of them can be garbage yet.
class GcPause {
 public:
  GcPause() noexcept : was_enabled_(PyGC_Disable() == 1) {}
  ~GcPause() {
    // Not on a thread that CPython is ending at exit (no thread state).
    if (was_enabled_ && may_touch_objects()) PyGC_Enable();
  }
  GcPause(const GcPause&) = delete;
  GcPause& operator=(const GcPause&) = delete;

 private:
  bool was_enabled_;
};

// Interned strings made once for the process (result keys, messages).
PyObject* interned(const char* text) {
  PyObject* s = PyUnicode_InternFromString(text);
  return s;  // kept for the process; null with the error set on failure
}

Result<double> to_double(PyObject* item) {
  if (PyFloat_CheckExact(item)) return PyFloat_AS_DOUBLE(item);
  double v = PyFloat_AsDouble(item);
  if (v == -1.0 && PyErr_Occurred()) return python_error();
  return v;
}

// ---- batch_stats ---------------------------------------------------------

Result<Object> batch_stats_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("values", to_instance(slots[0], &PyList_Type, "list")));
  std::vector<double> values;
  values.reserve(static_cast<std::size_t>(PyList_GET_SIZE(list)));
  ZB_CHECK_OK(for_each_item(list, [&](PyObject* item) -> Status {
    ZB_TRY(double v, to_double(item));
    values.push_back(v);
    return {};
  }));
  static PyObject* keys[6] = {interned("mean"), interned("median"), interned("stdev"),
                              interned("min"),  interned("max"),    interned("count")};
  for (PyObject* key : keys)
    if (!key) return python_error();
  ZB_TRY(Object result, checked(PyDict_New()));
  if (values.empty()) {
    ZB_TRY(Object zero, checked(PyLong_FromLong(0)));
    ZB_CHECK_OK(checked_status(PyDict_SetItem(result.get(), keys[5], zero.get())));
    return result;
  }

  std::span<const double> view(values);
  auto [acc, squared] = without_interpreter_lock([&] {
    // Lambdas rather than function pointers, so the steps are inlined.
    auto first = parallel::parallel_fold(
        view, analytics::kStatsIdentity,
        [](analytics::StatsAccumulator acc, double x) { return analytics::stats_fold(acc, x); },
        [](analytics::StatsAccumulator l, analytics::StatsAccumulator r) { return analytics::stats_combine(l, r); });
    double mean = analytics::stats_mean(first, values.size());
    // Deviations from the mean, in a second pass: the one-pass formula
    // cancels catastrophically for data far from zero.
    double deviations = analytics::deviation_pass_needed(mean)
                            ? parallel::parallel_fold(view, 0.0, analytics::SquaredDeviationFold{mean},
                                                      [](double l, double r) { return l + r; })
                            : 0.0;
    return std::pair(first, deviations);
  });
  // The median needs only the middle elements of the sorted order; selecting
  // them gives the same values as a full sort in linear time.
  without_interpreter_lock([&] { analytics::place_median_elements(values, acc); });
  analytics::StatsSummary summary = analytics::stats_summary(acc, squared, values);

  double numbers[5] = {summary.mean, summary.median, summary.stdev, summary.min, summary.max};
  for (int k = 0; k < 5; ++k) {
    ZB_TRY(Object v, checked(PyFloat_FromDouble(numbers[k])));
    ZB_CHECK_OK(checked_status(PyDict_SetItem(result.get(), keys[k], v.get())));
  }
  ZB_TRY(Object count, checked(PyLong_FromSize_t(summary.count)));
  ZB_CHECK_OK(checked_status(PyDict_SetItem(result.get(), keys[5], count.get())));
  return result;
}

// ---- compute_risk_batch --------------------------------------------------

Result<double> loan_amount_of(PyObject* value) {
  double v = PyFloat_AsDouble(value);
  if (!(v == -1.0 && PyErr_Occurred())) return v;
  // Not a number: fall back to its text. Interrupts, native panics and
  // running out of memory or stack are not conversion failures.
  if (!pending_error_is_ordinary()) return python_error();
  PyErr_Clear();
  Object text = Object::steal(PyObject_Str(value));
  if (!text) return python_error();
  ZB_TRY(std::string_view utf8, to_text(text.get()));
  return analytics::parse_loan_amount_text(utf8).value_or(analytics::kDefaultLoanAmount);
}

// The five numbers of one record. A key found at its usual position holding
// an exact float, the common case, is read in place: no reference is taken,
// so the values are touched once and nothing is written, which matters when
// the records fill more memory than the caches hold. Whatever may run Python
// code (a lookup by hash compares keys; a conversion calls methods) first
// takes hold of the record and the value.
Status read_risk_input(PyObject* record, const std::array<PyObject*, 5>& keys, analytics::RiskInput& input) {
  input = analytics::kDefaultRiskInput;
  Object held_record;
  for (std::size_t k = 0; k < analytics::kRiskFields.size(); ++k) {
    Py_ssize_t pos = static_cast<Py_ssize_t>(k);
    PyObject* found_key;
    PyObject* raw;
    Object value;
    if (!PyDict_Next(record, &pos, &found_key, &raw) || found_key != keys[k]) {
      if (!held_record) held_record = Object::borrow(record);
      ZB_TRY(value, dict_lookup(record, keys[k], static_cast<Py_ssize_t>(k)));
      if (!value) continue;  // the default stays
      raw = value.get();
    }
    double& slot = input.*analytics::kRiskFields[k].member;
    if (PyFloat_CheckExact(raw)) {
      slot = PyFloat_AS_DOUBLE(raw);
      continue;
    }
    if (!held_record) held_record = Object::borrow(record);
    if (!value) value = Object::borrow(raw);
    if (k == analytics::kLoanAmountField) {
      ZB_TRY(slot, loan_amount_of(value.get()));
    } else {
      ZB_TRY(slot, to_double(value.get()));
    }
  }
  return {};
}

Result<Object> compute_risk_batch_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("records", to_instance(slots[0], &PyList_Type, "list")));
  static std::array<PyObject*, 5> keys = [] {
    std::array<PyObject*, 5> out{};
    for (std::size_t k = 0; k < out.size(); ++k)
      out[k] = interned(std::string(analytics::kRiskFields[k].key).c_str());
    return out;
  }();
  for (PyObject* key : keys)
    if (!key) return python_error();

  // Items are read without a reference of their own while no Python code
  // runs; the length is re-read each step, as for_each_item does, since a
  // conversion may run code that shrinks the list.
  std::vector<analytics::RiskInput> inputs(static_cast<std::size_t>(PyList_GET_SIZE(list)));
  std::size_t count = 0;
  for (; count < inputs.size() && static_cast<Py_ssize_t>(count) < PyList_GET_SIZE(list); ++count) {
    PyObject* item = PyList_GET_ITEM(list, static_cast<Py_ssize_t>(count));
    if (!PyDict_Check(item)) {
      Object held = Object::borrow(item);  // its type's name is read for the message
      return wrong_type(held.get(), "dict");
    }
    ZB_CHECK_OK(read_risk_input(item, keys, inputs[count]));
  }
  inputs.resize(count);
  std::vector<double> scores = without_interpreter_lock([&] {
    return parallel::parallel_map(std::span<const analytics::RiskInput>(inputs), analytics::risk_score);
  });
  ZB_TRY(Object result, checked(PyList_New(static_cast<Py_ssize_t>(scores.size()))));
  for (std::size_t i = 0; i < scores.size(); ++i) {
    ZB_TRY(Object v, checked(PyFloat_FromDouble(scores[i])));
    PyList_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), v.release());
  }
  return result;
}

// ---- validate_ids_batch --------------------------------------------------

Result<Object> validate_ids_batch_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("ids", to_instance(slots[0], &PyList_Type, "list")));
  return map_list(list, [](PyObject* item) -> Result<Object> {
    ZB_TRY(std::string_view text, to_text(item));
    return Object::borrow(analytics::check_id(text) ? Py_True : Py_False);
  });
}

// ---- validate_names_batch ------------------------------------------------

Result<Object> validate_names_batch_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("names", to_instance(slots[0], &PyList_Type, "list")));
  static PyObject* valid_key = interned("valid");
  static PyObject* errors_key = interned("errors");
  static std::array<PyObject*, analytics::kNameRuleCount> messages = [] {
    std::array<PyObject*, analytics::kNameRuleCount> out{};
    for (std::size_t r = 0; r < out.size(); ++r)
      out[r] = interned(std::string(analytics::kNameRuleMessages[r]).c_str());
    return out;
  }();
  if (!valid_key || !errors_key) return python_error();
  for (PyObject* m : messages)
    if (!m) return python_error();

  // Hold every item: the views below point into their UTF-8 text, which
  // workers read while the lock is released.
  std::vector<Object> held;
  held.reserve(static_cast<std::size_t>(PyList_GET_SIZE(list)));
  ZB_CHECK_OK(for_each_item(list, [&](PyObject* item) -> Status {
    held.push_back(Object::borrow(item));
    return {};
  }));
  std::vector<std::string_view> views;
  views.reserve(held.size());
  for (const Object& item : held) {
    ZB_TRY(std::string_view text, to_text(item.get()));
    views.push_back(text);
  }

  std::vector<analytics::NameCheckResult> checks = without_interpreter_lock([&] {
    return parallel::parallel_map(std::span<const std::string_view>(views), analytics::check_name);
  });

  GcPause pause;
  // Every result dict is a copy of this one, sized once; its values are
  // then replaced.
  ZB_TRY(Object shape, checked(PyDict_New()));
  ZB_CHECK_OK(checked_status(PyDict_SetItem(shape.get(), valid_key, Py_True)));
  ZB_CHECK_OK(checked_status(PyDict_SetItem(shape.get(), errors_key, Py_None)));
  ZB_TRY(Object result, checked(PyList_New(static_cast<Py_ssize_t>(checks.size()))));
  for (std::size_t i = 0; i < checks.size(); ++i) {
    ZB_TRY(Object dict, checked(PyDict_Copy(shape.get())));
    if (!checks[i].valid()) ZB_CHECK_OK(checked_status(PyDict_SetItem(dict.get(), valid_key, Py_False)));
    analytics::NameRuleList failed = checks[i].failed_rules();
    ZB_TRY(Object errors, checked(PyList_New(static_cast<Py_ssize_t>(failed.size()))));
    for (std::size_t r = 0; r < failed.size(); ++r) {
      PyList_SET_ITEM(errors.get(), static_cast<Py_ssize_t>(r),
                      Py_NewRef(messages[static_cast<std::size_t>(failed[r])]));
    }
    ZB_CHECK_OK(checked_status(PyDict_SetItem(dict.get(), errors_key, errors.get())));
    PyList_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), dict.release());
  }
  return result;
}

}  // namespace

PyMethodDef kBatchStatsDef = {
    "batch_stats", fast_method<kStatsSig, batch_stats_body>(), METH_FASTCALL | METH_KEYWORDS,
    "batch_stats(values)\n--\n\n"
    "Computes summary statistics of a list of numbers in one call.\n\n"
    "The numbers are copied into a native array; the sums, extremes and the\n"
    "sort for the median run on the worker pool with the interpreter lock\n"
    "released, so other Python threads keep running. NaN values sort last.\n\n"
    "Returns a dict with mean, median, stdev, min, max, count."};

PyMethodDef kComputeRiskBatchDef = {
    "compute_risk_batch", fast_method<kRiskSig, compute_risk_batch_body>(), METH_FASTCALL | METH_KEYWORDS,
    "compute_risk_batch(records)\n--\n\n"
    "Computes risk scores for a batch of records in parallel.\n\n"
    "Five numbers are read from each dict while the interpreter lock is held;\n"
    "the scores are then computed on the worker pool without the lock, with\n"
    "no allocation per record, and come back in input order.\n\n"
    "Returns a list of floats."};

PyMethodDef kValidateIdsBatchDef = {
    "validate_ids_batch", fast_method<kIdsSig, validate_ids_batch_body>(), METH_FASTCALL | METH_KEYWORDS,
    "validate_ids_batch(ids)\n--\n\n"
    "Validates a batch of national IDs against the pattern `^\\d{8}-\\d{4}$`.\n\n"
    "Each ID is checked with thirteen fixed byte tests on its UTF-8 text (no\n"
    "regular expression engine, no allocation per item).\n\n"
    "Returns a list of booleans."};

PyMethodDef kValidateNamesBatchDef = {
    "validate_names_batch", fast_method<kNamesSig, validate_names_batch_body>(), METH_FASTCALL | METH_KEYWORDS,
    "validate_names_batch(names)\n--\n\n"
    "Validates a batch of person names in parallel.\n\n"
    "Each name must have at most 120 characters, contain a space, contain no\n"
    "digits and consist only of letters (of any script), hyphens and spaces.\n"
    "The names are read in place and checked on the worker pool with the\n"
    "interpreter lock released.\n\n"
    "Returns a list of dicts, each with the keys \"valid\" (a bool) and \"errors\"\n"
    "(a list of str)."};

}  // namespace zembra::py
