"""The Django integration against DRF, pydantic, django-ninja, model_to_dict
and plain Python, on model instances and rows loaded from SQLite."""

import datetime as dt
import decimal
import functools
import itertools
import marshal
import operator
import uuid

from harness import compare

N = 10_000
VALIDATED = 1_000  # clean_fields() is slow enough that fewer instances tell the same story
# Floors: what no implementation avoids, timed with the interpreter's own
# native code. The record dicts holding the values (dict(zip(...)) over the
# rows, or over operator.attrgetter's reads of the instances), and the values
# that a conversion must create anew (marshal.loads of just those: texts of
# decimals, dates, UUIDs, copies of JSON values).
FLOOR_ROWS = "floor: dict(zip) rows + marshal.loads of the converted values"
FLOOR_INSTANCES = "floor: attrgetter + dict(zip) + marshal.loads of the converted values"
FLOOR_REPORTS = "floor: attrgetter reads + marshal.loads of the reports"


def new_values(records, plain):
    """The values of serialized records that are new objects (marshalled):
    everything but the fields in plain, whose values are passed through."""
    return marshal.dumps([v for r in records for k, v in r.items() if k not in plain])


def dicts_of(fields, tuples):
    return list(map(dict, map(zip, itertools.repeat(fields), tuples)))


@functools.cache
def setup():
    """Configures Django (in-memory SQLite), defines the model, fills the table."""
    import django
    from django.conf import settings

    if not settings.configured:
        settings.configure(
            DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
            INSTALLED_APPS=[], USE_TZ=True, TIME_ZONE="UTC",
            DEFAULT_AUTO_FIELD="django.db.models.BigAutoField")
        django.setup()
    from django.db import connection, models

    class Item(models.Model):
        name = models.CharField(max_length=100)
        description = models.TextField()
        quantity = models.IntegerField()
        views = models.BigIntegerField()
        rating = models.FloatField()
        price = models.DecimalField(max_digits=10, decimal_places=2)
        active = models.BooleanField(default=True)
        released = models.DateField()
        created = models.DateTimeField()
        key = models.UUIDField()
        meta = models.JSONField()
        email = models.EmailField()

        class Meta:
            app_label = "bench"

    class Note(models.Model):
        meta = models.JSONField()

        class Meta:
            app_label = "bench"

    class Stamp(models.Model):
        created = models.DateTimeField()

        class Meta:
            app_label = "bench"

    class Title(models.Model):
        title = models.CharField(max_length=100)

        class Meta:
            app_label = "bench"

    with connection.schema_editor() as editor:
        for model in (Item, Note, Stamp, Title):
            editor.create_model(model)
    base = dt.datetime(2024, 1, 1, tzinfo=dt.timezone.utc)
    Item.objects.bulk_create([Item(
        name=f"item {i}", description="A longer description of the item " * 2, quantity=i % 1000,
        views=i * 1_000_003, rating=i / 7, price=decimal.Decimal(f"{i}.{i % 100:02d}"), active=i % 3 != 0,
        released=dt.date(2020, 1, 1) + dt.timedelta(days=i % 1500), created=base + dt.timedelta(minutes=i),
        key=uuid.UUID(int=i * 7919 + 1), meta={"tags": ["a", "b"], "rank": i}, email=f"user{i}@example.com",
    ) for i in range(N)], batch_size=1000)
    Note.objects.bulk_create([Note(meta={"tags": ["a", "b", str(i % 5)], "owner": {"id": i, "name": f"user {i}"},
                                         "score": i / 4}) for i in range(N)], batch_size=1000)
    Title.objects.bulk_create([Title(title=f"title {i}") for i in range(VALIDATED)])
    return Item, Note, Stamp, Title


# Fields whose values pass through serialization unchanged.
PASSED = ("name", "description", "quantity", "views", "rating", "active", "email")


def by_hand(items):
    """The JSON-ready dicts written out in plain Python."""
    return [{
        "active": o.active, "created": o.created.isoformat(), "description": o.description, "email": o.email,
        "key": str(o.key), "meta": o.meta, "name": o.name, "price": str(o.price), "quantity": o.quantity,
        "rating": o.rating, "released": o.released.isoformat(), "views": o.views,
    } for o in items]


def peers(Item, names):
    from django.forms.models import model_to_dict
    import pydantic
    from rest_framework import serializers

    class ItemSerializer(serializers.ModelSerializer):
        class Meta:
            model = Item
            fields = names

    class ItemModel(pydantic.BaseModel):
        model_config = pydantic.ConfigDict(from_attributes=True)
        name: str
        description: str
        quantity: int
        views: int
        rating: float
        price: decimal.Decimal
        active: bool
        released: dt.date
        created: dt.datetime
        key: uuid.UUID
        meta: dict
        email: str

    from ninja import ModelSchema as NinjaModelSchema

    class ItemOut(NinjaModelSchema):
        class Meta:
            model = Item
            fields = names

    adapter = pydantic.TypeAdapter(list[ItemModel])
    return {
        "DRF ModelSerializer(many=True).data": lambda items: ItemSerializer(items, many=True).data,
        "pydantic from_attributes + model_dump(json)": lambda items: [
            ItemModel.model_validate(o).model_dump(mode="json") for o in items],
        "pydantic TypeAdapter(list) validate + dump(json)": lambda items: adapter.dump_python(
            adapter.validate_python(items), mode="json"),
        "django-ninja ModelSchema from_orm + model_dump(json)": lambda items: [
            ItemOut.from_orm(o).model_dump(mode="json") for o in items],
        "model_to_dict": lambda items: [model_to_dict(o, fields=names) for o in items],
        "plain Python function": by_hand,
    }


def run():
    Item, Note, Stamp, Title = setup()
    import zembra_django as zd

    schema = zd.ModelSchema(Item)
    fields = schema.field_names_list
    items = list(Item.objects.order_by("pk"))
    rows = list(Item.objects.order_by("pk").values_list(*fields))
    results = []

    def check(outs):
        ours = outs["zembra serialize_batch"]
        assert ours == by_hand(items)
        assert len(outs["DRF ModelSerializer(many=True).data"]) == len(ours)

    getter = operator.attrgetter(*fields)
    converted = new_values(zd.serialize_batch(items, schema), PASSED)
    contenders = {"zembra serialize_batch": lambda: zd.serialize_batch(items, schema)}
    contenders.update({name: functools.partial(fn, items) for name, fn in peers(Item, fields).items()})
    contenders[FLOOR_INSTANCES] = lambda: (dicts_of(fields, map(getter, items)), marshal.loads(converted))
    results.append(compare(f"serialize_batch: {N} model instances of 12 fields", contenders,
                           ours="zembra serialize_batch", repeat=3, check=check))

    def check_rows(outs):
        assert outs["zembra serialize_values_list"] == by_hand(items)

    results.append(compare(
        f"serialize_values_list: {N} values_list() rows of 12 fields",
        {"zembra serialize_values_list": lambda: zd.serialize_values_list(rows, schema),
         "[dict(zip(names, row)) for row in rows]": lambda: [dict(zip(fields, row)) for row in rows],
         FLOOR_ROWS: lambda: (dicts_of(fields, rows), marshal.loads(converted))},
        ours="zembra serialize_values_list", repeat=5, check=check_rows))

    subset = items[:VALIDATED]

    def clean_all():
        for o in subset:
            o.clean_fields()

    reports = marshal.dumps([zd.validate_instance(o, schema) for o in subset])
    results.append(compare(
        f"validate_instance: {VALIDATED} model instances of 12 fields",
        {"zembra validate_instance": lambda: [zd.validate_instance(o, schema) for o in subset],
         "instance.clean_fields()": clean_all,
         FLOOR_REPORTS: lambda: (list(map(getter, subset)), marshal.loads(reports))},
        ours="zembra validate_instance", repeat=3))
    results.extend(run_small_models(Note, Stamp, Title))
    return results


def run_small_models(Note, Stamp, Title):
    """One-field models: a JSONField with nested values, a DateTimeField whose
    values are in zoneinfo zones, a CharField (the fixed cost of a call)."""
    import zembra_django as zd
    from shapes import UTC, ZONES, datetimes

    results = []
    notes = zd.ModelSchema(Note)
    names = notes.field_names_list
    rows = list(Note.objects.order_by("pk").values_list(*names))

    def check_notes(outs):
        assert outs["zembra serialize_values_list"] == outs["[dict(zip(names, row)) for row in rows]"]

    copies = new_values(zd.serialize_values_list(rows, notes), ())
    results.append(compare(
        f"serialize_values_list: {N} rows of one JSONField (nested dicts and lists)",
        {"zembra serialize_values_list": lambda: zd.serialize_values_list(rows, notes),
         "[dict(zip(names, row)) for row in rows]": lambda: [dict(zip(names, row)) for row in rows],
         FLOOR_ROWS: lambda: (dicts_of(names, rows), marshal.loads(copies))},
        ours="zembra serialize_values_list", repeat=5, check=check_notes))

    stamps = zd.ModelSchema(Stamp)
    instances = [Stamp(id=i, created=t) for i, t in enumerate(datetimes(N, ZONES))]

    def stamps_by_hand(items):
        return [{"created": o.created.astimezone(UTC).isoformat()} for o in items]

    def check_stamps(outs):
        assert outs["zembra serialize_batch"] == outs["plain Python function"]

    results.append(compare(
        f"serialize_batch: {N} instances of a DateTimeField in zoneinfo zones",
        {"zembra serialize_batch": lambda: zd.serialize_batch(instances, stamps),
         "plain Python function": lambda: stamps_by_hand(instances)},
        ours="zembra serialize_batch", repeat=5, check=check_stamps))

    titles = zd.ModelSchema(Title)
    subset = list(Title.objects.order_by("pk"))

    def clean_titles():
        for o in subset:
            o.clean_fields()

    results.append(compare(
        f"validate_instance: {VALIDATED} instances of a one-field model (the fixed cost of a call)",
        {"zembra validate_instance": lambda: [zd.validate_instance(o, titles) for o in subset],
         "instance.clean_fields()": clean_titles,
         "a no-op Python function call per instance": lambda: [noop(o, titles) for o in subset]},
        ours="zembra validate_instance", repeat=5))
    return results


def noop(instance, schema):
    return None


if __name__ == "__main__":
    for r in run():
        print(r.report())
