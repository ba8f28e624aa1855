// Method table entries of the zembra._speedups module.
#pragma once

#include "binding/core/object.h"

namespace zembra::py {

extern PyMethodDef kEncodeJsonDef;
extern PyMethodDef kSerializeJsonDef;
extern PyMethodDef kSerializeManyJsonDef;
extern PyMethodDef kSerializeInstanceJsonDef;
extern PyMethodDef kSerializeBatchJsonDef;
extern PyMethodDef kSerializeValuesListJsonDef;
extern PyMethodDef kQuerysetRecordsDef;
extern PyMethodDef kQuerysetJsonDef;
extern PyMethodDef kQuerysetPgRecordsDef;
extern PyMethodDef kQuerysetPgJsonDef;
extern PyMethodDef kParseInputDef;
extern PyMethodDef kModelObjectsDef;
extern PyMethodDef kConvertRowsDef;

}  // namespace zembra::py
