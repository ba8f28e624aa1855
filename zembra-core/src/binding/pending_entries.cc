// Entries whose bodies are not built yet: bound and documented, raising
// NotImplementedError when called.
#include "binding/core_functions.h"
#include "binding/frame.h"

namespace zembra::py {
namespace {

constexpr const char* kRecords[] = {"records"};
constexpr const char* kValues[] = {"values"};
constexpr const char* kIds[] = {"ids"};
constexpr const char* kNames[] = {"names"};
constexpr CallSignature kRiskSig{"compute_risk_batch", nullptr, kRecords, 1, {}};
constexpr CallSignature kStatsSig{"batch_stats", nullptr, kValues, 1, {}};
constexpr CallSignature kIdsSig{"validate_ids_batch", nullptr, kIds, 1, {}};
constexpr CallSignature kNamesSig{"validate_names_batch", nullptr, kNames, 1, {}};

Result<Object> not_built(PyObject*, Slots) {
  PyErr_SetString(PyExc_NotImplementedError, "not available in this build");
  return python_error();
}

}  // namespace

PyMethodDef kValidateNamesBatchDef = {
    "validate_names_batch", fast_method<kNamesSig, not_built>(),
    METH_FASTCALL | METH_KEYWORDS,
    "validate_names_batch(names)\n--\n\nValidates a batch of person names in parallel.\n\n"
    "Returns a list of dicts, each with the keys \"valid\" (a bool) and \"errors\" (a list of str)."};
PyMethodDef kValidateIdsBatchDef = {
    "validate_ids_batch", fast_method<kIdsSig, not_built>(),
    METH_FASTCALL | METH_KEYWORDS,
    "validate_ids_batch(ids)\n--\n\nValidates a batch of national IDs against the pattern `^\\d{8}-\\d{4}$`.\n\n"
    "Returns a list of booleans."};
PyMethodDef kComputeRiskBatchDef = {
    "compute_risk_batch", fast_method<kRiskSig, not_built>(),
    METH_FASTCALL | METH_KEYWORDS,
    "compute_risk_batch(records)\n--\n\nComputes risk scores for a batch of records in parallel.\n\n"
    "Returns a list of floats."};
PyMethodDef kBatchStatsDef = {
    "batch_stats", fast_method<kStatsSig, not_built>(),
    METH_FASTCALL | METH_KEYWORDS,
    "batch_stats(values)\n--\n\nReturns a dict with mean, median, stdev, min, max, count."};

}  // namespace zembra::py
