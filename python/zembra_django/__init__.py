"""Load the native ``zembra_django`` module.

The Django integration is compiled into the same shared object as
``zembra_core._native``; this loader opens that file a second time under the
module name ``zembra_django`` and puts the native module in place of this
package, so ``import zembra_django`` gives the native module itself.
"""

import sys
from importlib.machinery import ExtensionFileLoader
from importlib.util import module_from_spec, spec_from_file_location

from zembra_core import _native


def _load_native():
    path = _native.__file__
    loader = ExtensionFileLoader(__name__, path)
    spec = spec_from_file_location(__name__, path, loader=loader)
    module = module_from_spec(spec)
    loader.exec_module(module)
    sys.modules[__name__] = module
    return module


_load_native()
