// Method table entries of the _native module's functions, one per concern.
#pragma once

#include "binding/core/object.h"

namespace zembra::py {

extern PyMethodDef kSerializeDef;
extern PyMethodDef kSerializeManyDef;
extern PyMethodDef kValidateDef;
extern PyMethodDef kValidateManyDef;
extern PyMethodDef kValidateNamesBatchDef;
extern PyMethodDef kValidateIdsBatchDef;
extern PyMethodDef kComputeRiskBatchDef;
extern PyMethodDef kBatchStatsDef;
extern PyMethodDef kCoreVersionDef;

}  // namespace zembra::py
