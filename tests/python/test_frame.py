"""The calling frame: module contents, argument binding, conversions, faults."""

import inspect
import subprocess
import sys

import pytest
from leakcheck import assert_no_leak

import zembra_core
import zembra_django
from zembra_core import Field, Schema, _native

CORE_NAMES = ["Schema", "Field", "serialize", "serialize_many", "validate", "validate_many",
              "validate_names_batch", "validate_ids_batch", "compute_risk_batch", "batch_stats", "version"]


def test_core_module_contents_in_registration_order():
    assert _native.__all__ == CORE_NAMES
    assert zembra_core.__all__ == CORE_NAMES
    assert all(getattr(zembra_core, n) is getattr(_native, n) for n in CORE_NAMES)
    assert _native.__doc__ == "The native extension module."


def test_django_module_is_the_native_module_of_the_same_file():
    assert type(zembra_django).__name__ == "module"
    assert zembra_django.__file__ == _native.__file__
    assert zembra_django.__doc__ == "The native extension module."
    assert zembra_django.__all__[-1] == "version"
    assert zembra_django.version() == "1.0.1"
    assert inspect.signature(zembra_django.version).parameters == {}
    assert zembra_django.version.__doc__.endswith("Returns the zembra-django version string.")


def test_version():
    assert _native.version() == "1.0.1"
    assert _native.version.__doc__ == "version()\n--\n\nReturns the zembra-core version string." or \
        _native.version.__text_signature__ == "()"
    with pytest.raises(TypeError, match="takes no arguments"):
        _native.version(1)


@pytest.mark.parametrize("name,signature", [
    ("serialize", "(data, schema)"), ("serialize_many", "(data_list, schema)"),
    ("validate", "(data, schema)"), ("validate_many", "(data_list, schema)"),
    ("validate_names_batch", "(names)"), ("validate_ids_batch", "(ids)"),
    ("compute_risk_batch", "(records)"), ("batch_stats", "(values)"), ("version", "()"),
    ("Schema", "(fields)"),
    ("Field", "(python_type, *, max_length=None, min_length=None, min_value=None, max_value=None, "
              "max_digits=None, decimal_places=None, nullable=False, default=False)"),
])
def test_every_callable_reports_its_signature(name, signature):
    assert str(inspect.signature(getattr(_native, name))) == signature


@pytest.mark.parametrize("call,message", [
    (lambda: _native.validate(), "validate() missing 2 required positional arguments: 'data' and 'schema'"),
    (lambda: _native.validate({}), "validate() missing 1 required positional argument: 'schema'"),
    (lambda: _native.validate(1, 2, 3), "validate() takes 2 positional arguments but 3 were given"),
    (lambda: Field(str, 5), "Field.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: _native.batch_stats([], []), "batch_stats() takes 1 positional arguments but 2 were given"),
    (lambda: _native.validate({}, None, data={}), "validate() got multiple values for argument 'data'"),
    (lambda: Field(str, maxlen=3), "Field.__new__() got an unexpected keyword argument 'maxlen'"),
    (lambda: Field(str, python_type=str), "Field.__new__() got multiple values for argument 'python_type'"),
    (lambda: Field(), "Field.__new__() missing 1 required positional argument: 'python_type'"),
    (lambda: Schema(), "Schema.__new__() missing 1 required positional argument: 'fields'"),
    (lambda: Schema(fields={}, extra=1), "Schema.__new__() got an unexpected keyword argument 'extra'"),
])
def test_argument_binding_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("call,message", [
    (lambda t: t.four(), "four() missing 4 required positional arguments: 'w', 'x', 'y', and 'z'"),
    (lambda t: t.four(1), "four() missing 3 required positional arguments: 'x', 'y', and 'z'"),
    (lambda t: t.bind(1, 2, 3, 4), "bind() takes from 2 to 3 positional arguments but 4 were given"),
    (lambda t: t.bind(1), "bind() missing 1 required positional argument: 'b'"),
    (lambda t: t.bind(1, 2), "bind() missing 1 required keyword argument: 'e'"),
    (lambda t: t.bind(1, 2, 3, c=4, e=0), "bind() got multiple values for argument 'c'"),
])
def test_binding_messages_of_other_signature_shapes(testing_module, call, message):
    with pytest.raises(TypeError) as info:
        call(testing_module)
    assert str(info.value) == message


def test_binding_places_keywords_by_name(testing_module):
    assert testing_module.bind(b=2, a=1, e=5) == (1, 2, None, None, 5)
    assert testing_module.bind(1, 2, 3, d=4, e=5) == (1, 2, 3, 4, 5)


def test_keyword_names_compare_exactly(testing_module):
    with pytest.raises(TypeError, match="unexpected keyword argument 'A'"):
        testing_module.bind(1, 2, A=1, e=0)
    with pytest.raises(TypeError, match="unexpected keyword argument 'é'"):
        testing_module.bind(1, 2, **{"é": 1})


def test_wrong_type_messages_carry_the_parameter_note():
    with pytest.raises(TypeError) as info:
        _native.serialize({}, {})
    assert str(info.value) == "'dict' object is not an instance of 'Schema'"
    assert info.value.__notes__ == ["while processing 'schema'"]
    with pytest.raises(TypeError) as info:
        _native.serialize({}, None)
    assert str(info.value) == "'None' is not an instance of 'Schema'"
    assert info.value.__notes__ == ["while processing 'schema'"]


def test_wrong_type_message_of_a_nested_qualified_name():
    class Outer:
        class Inner:
            pass
    with pytest.raises(TypeError) as info:
        _native.validate({}, Outer.Inner())
    assert str(info.value) == ("'test_wrong_type_message_of_a_nested_qualified_name.<locals>.Outer.Inner' "
                               "object is not an instance of 'Schema'")


def test_failing_note_attachment_keeps_the_original_error():
    class NoNotes(Exception):
        def add_note(self, note):
            raise RuntimeError("refused")

    class Weird:
        def __index__(self):
            raise NoNotes("inner")
    with pytest.raises(NoNotes, match="inner") as info:
        Field(str, max_length=Weird())
    assert not hasattr(info.value, "__notes__")


class TestFaults:
    def test_panic_exception_is_a_base_exception(self, panic_exception):
        assert issubclass(panic_exception, BaseException)
        assert not issubclass(panic_exception, Exception)
        assert "fails fatally" in panic_exception.__doc__

    @pytest.mark.parametrize("arg,message", [("boom", "boom"), (None, "internal error in native code")])
    def test_a_fault_becomes_panic_exception(self, testing_module, panic_exception, arg, message):
        with pytest.raises(panic_exception) as info:
            testing_module.fault(arg)
        assert str(info.value) == message

    @pytest.mark.parametrize("call", [lambda t: t.bad_alloc(), lambda t: t.pool_bad_alloc(10_000)],
                             ids=["calling-thread", "worker"])
    def test_allocation_failure_becomes_memory_error(self, testing_module, call):
        with pytest.raises(MemoryError):
            call(testing_module)
        assert testing_module.pool_map(4, None) == [0, 1, 4, 9]  # the pool stays usable
        assert_no_leak(lambda: call(testing_module), per_round=200)

    def test_one_panic_class_for_every_module(self, testing_module, panic_exception, capfd):
        # A panic of the test-only module, coming back through a hook into
        # _native, is recognised there as a panic (its banner is written).
        schema = Schema({"a": Field(str)})

        class Hook:
            @property
            def a(self):
                testing_module.fault("from a hook")
        with pytest.raises(panic_exception, match="from a hook"):
            _native.serialize(Hook(), schema)
        assert "resuming a panic" in capfd.readouterr().err

    def test_a_panic_coming_back_from_python_is_resumed(self, testing_module, panic_exception):
        def reraise():
            testing_module.fault("inner")
        with pytest.raises(panic_exception, match="inner"):
            testing_module.call(reraise)

    def test_ordinary_python_errors_pass_through(self, testing_module):
        def fail():
            raise LookupError("mine")
        with pytest.raises(LookupError, match="mine"):
            testing_module.call(fail)


def test_resumed_panic_writes_its_banner_to_stderr():
    code = ("import _zembra_testing as t\n"
            "try:\n    t.call(lambda: t.fault('x'))\nexcept BaseException as e:\n    print(type(e).__name__)\n")
    import os
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=dict(os.environ))
    if "No module named" in out.stderr:
        pytest.skip("test-only module not built")
    assert out.stdout.strip() == "PanicException"
    assert "--- Zembra is resuming a panic after fetching a PanicException from Python. ---" in out.stderr
    assert "Python stack trace below:" in out.stderr


def test_the_shared_object_exports_only_the_module_initialisers():
    nm = subprocess.run(["nm", "-D", "--defined-only", _native.__file__], capture_output=True, text=True)
    if nm.returncode != 0:
        pytest.skip("nm not available")
    exported = sorted(line.split()[-1] for line in nm.stdout.splitlines() if " T " in line or " D " in line
                      or " B " in line or " W " in line or " V " in line)
    assert exported == ["PyInit__native", "PyInit_zembra_django", "PyModExport__native",
                        "PyModExport_zembra_django"]


@pytest.mark.parametrize("call", [
    lambda: _native.version(),
    lambda: zembra_django.version(),
    lambda: _native.validate(),
    lambda: Field(str, maxlen=3),
    lambda: _native.serialize({}, None),
])
def test_frame_paths_do_not_leak(call):
    from leakcheck import assert_no_leak
    assert_no_leak(call)
