"""Fast serialization, validation and batch analytics for Python data.

The classes and functions live in the native module ``zembra_core._native``
and are re-exported here.
"""

from zembra_core import _native
from zembra_core._native import *  # noqa: F401,F403

__all__ = list(_native.__all__)
