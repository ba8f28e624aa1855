// Method table entries of the zembra_django module's functions.
#pragma once

#include "binding/core/object.h"

namespace zembra::py {

extern PyMethodDef kSerializeInstanceDef;
extern PyMethodDef kSerializeBatchDef;
extern PyMethodDef kSerializeValuesListDef;
extern PyMethodDef kValidateInstanceDef;
extern PyMethodDef kExtractModelFieldsDef;
extern PyMethodDef kSerializeFieldsDef;
extern PyMethodDef kValidateFieldsDef;
extern PyMethodDef kDjangoVersionDef;

}  // namespace zembra::py
