import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

# Under the sanitizer run the extension must come from the staged build, not
# from the installed release build.
_stage = os.environ.get("ZEMBRA_EXPECT_STAGE")
if _stage:
    import zembra_core

    assert os.path.abspath(zembra_core.__file__).startswith(os.path.abspath(_stage)), zembra_core.__file__


@pytest.fixture(scope="session")
def testing_module():
    """The test-only module that reaches the frame's fault paths."""
    return pytest.importorskip("_zembra_testing")


@pytest.fixture(scope="session")
def panic_exception(testing_module):
    return testing_module.panic_type()
