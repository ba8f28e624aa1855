// Method table entries of the zembra_django module's functions.
#pragma once

#include "binding/object.h"

namespace zembra::py {

extern PyMethodDef kDjangoVersionDef;

}  // namespace zembra::py
