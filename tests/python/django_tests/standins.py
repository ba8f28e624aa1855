"""Hand-made model stand-ins, for what real Django models cannot produce."""

_UNSET = object()


class StandinField:
    def __init__(self, name, internal_type="TextField", *, is_relation=False, null=False, default=False,
                 **attrs):
        if is_relation is not _UNSET:
            self.is_relation = is_relation
        self.name = name
        self.null = null
        self._type = internal_type
        self._default = default
        self.__dict__.update(attrs)

    def get_internal_type(self):
        if isinstance(self._type, BaseException):
            raise self._type
        return self._type

    def has_default(self):
        if isinstance(self._default, BaseException):
            raise self._default
        return self._default


class _Meta:
    def __init__(self, fields):
        self.fields = fields

    def get_fields(self):
        if isinstance(self.fields, BaseException):
            raise self.fields
        return self.fields


def standin_model(*fields, name="M"):
    return type(name, (), {"_meta": _Meta(tuple(fields))})


def wide_model(n, prefix="f"):
    """n IntegerFields named f000, f001, ..."""
    return standin_model(*(StandinField(f"{prefix}{i:03d}", "IntegerField") for i in range(n)), name="Wide")


def meta_returning(fields):
    """A model whose get_fields() returns fields as they are."""
    return type("M", (), {"_meta": type("Meta", (), {"get_fields": lambda self: fields})()})
