"""Every entry point of the Django module, on success and failure paths,
keeps memory and reference counts flat."""

import types

import pytest

import zembra_django as zd
from leakcheck import assert_no_leak
from django_tests.standins import StandinField, meta_returning, standin_model, wide_model
from django_tests.test_serialize_model import SCHEMA, VALUES
from django_tests.testapp.models import Everything

GOOD = types.SimpleNamespace(**VALUES)
ROW = tuple(VALUES[name] for name in SCHEMA.field_names_list)
BAD = types.SimpleNamespace(**{**VALUES, "price": "bad", "title": "x" * 30})
NAN = types.SimpleNamespace(**{**VALUES, "ratio": float("nan")})
DESCRIPTORS = SCHEMA.to_descriptor_list()
WIDE = zd.ModelSchema(wide_model(130))
WIDE_RECORD = types.SimpleNamespace(**{f"f{i:03d}": 2**31 for i in range(130)})
BAD_NAME = standin_model(StandinField(5))
NOT_A_SEQUENCE = meta_returning(7)


@pytest.mark.parametrize("call", [
    lambda: zd.ModelSchema(Everything),
    lambda: zd.ModelSchema(BAD_NAME),
    lambda: zd.extract_model_fields(NOT_A_SEQUENCE),
    lambda: (SCHEMA.to_descriptor_list(), repr(SCHEMA), SCHEMA.field_names_list, SCHEMA.model_name_str),
    lambda: zd.serialize_instance(GOOD, SCHEMA),
    lambda: zd.serialize_instance(BAD, SCHEMA),
    lambda: zd.serialize_instance(NAN, SCHEMA),
    lambda: zd.serialize_batch([GOOD, GOOD, types.SimpleNamespace()], SCHEMA),
    lambda: zd.serialize_values_list([ROW, ROW], SCHEMA),
    lambda: zd.serialize_values_list([ROW[:3]], SCHEMA),
    lambda: zd.validate_instance(BAD, SCHEMA),
    lambda: zd.validate_instance(types.SimpleNamespace(**{**VALUES, "data": {1}}), SCHEMA),
    lambda: zd.validate_instance(WIDE_RECORD, WIDE),
    lambda: zd.serialize_fields(DESCRIPTORS, VALUES),
    lambda: zd.serialize_fields([{"name": "v"}], VALUES),
    lambda: zd.validate_fields(DESCRIPTORS, list(VALUES.values())),
    lambda: zd.validate_fields(DESCRIPTORS, [1]),
])
def test_no_leaks(call):
    assert_no_leak(call, SCHEMA, GOOD, DESCRIPTORS, BAD_NAME, per_round=150)
