"""Where the zembra and DRF answers differ only in text form.

Both APIs give the same values, with the keys in the same order; they write
datetimes differently: zembra writes UTC as ``+00:00`` and shortens the
fraction to 3, 6 or 9 digits (``.120``), DRF writes ``Z`` and Python's 6
digits (``.120000``), or none for a whole second.

Decimals (``"19.90"``), UUIDs, dates, Base64 thumbnails, numbers and nulls
are written identically.
"""

import datetime


def comparable(value):
    """``value`` with datetime texts parsed, so equal data compares equal."""
    if isinstance(value, dict):
        return {key: comparable(item) for key, item in value.items()}
    if isinstance(value, list):
        return [comparable(item) for item in value]
    if isinstance(value, str) and len(value) > 19 and value[10:11] == "T":
        try:
            return datetime.datetime.fromisoformat(value)
        except ValueError:
            pass
    return value
