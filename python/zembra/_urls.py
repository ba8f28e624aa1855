"""Hyperlinks of DRF's hyperlinked fields, compiled once per field, request
and format.

DRF's ``HyperlinkedRelatedField``/``HyperlinkedIdentityField`` reverse the
view's URL pattern for every object: the versioning scheme's ``reverse``,
Django's ``reverse`` (namespaces, converters, a regex match, quoting), the
request's ``build_absolute_uri`` and the ``URL_FORMAT_OVERRIDE`` query
parameter. For the lookup values accepted here every one of those steps
leaves the value's text as it is and the rest of the URL does not depend on
it, so the URL is ``prefix + str(value) + suffix``. ``compile_link`` proves
that from the URL configuration (the pattern DRF's reverse picks for every
accepted value, its group's regex and converter) and checks it on probe
values; anything it cannot prove gets ``None`` (use DRF's code).

Accepted values (each checked per value, exact types only):
- ``int`` (not ``bool``): non-negative ones, negatives as well when the
  group's regex takes ``-``;
- ``str``: non-empty text of ASCII letters, digits, ``_``, ``-`` and ``~``
  that the group's regex takes (the characters Django's quoting, the URL
  split and dot-segment removal leave alone);
- ``uuid.UUID``: when the group takes lowercase hex digits and ``-``.

Per object, as DRF's field: ``None`` when ``obj.pk in (None, "")``; else
``url = link.url(getattr(obj, field.lookup_field))`` and
``hyperlink(url, obj)``, or DRF's ``field.to_representation(obj)`` where
``url`` is None.
"""

from __future__ import annotations

import re
import uuid
from typing import Any

from django.http import HttpRequest
from django.urls import NoReverseMatch, get_resolver, get_script_prefix, get_urlconf
from django.urls import converters as dj_converters
from django.urls.resolvers import get_ns_resolver
from rest_framework import relations, reverse as drf_reverse, versioning
from rest_framework.relations import Hyperlink

__all__ = ["CompiledLink", "compile_link", "hyperlink"]

_new_str = str.__new__


def hyperlink(url: str, obj: Any) -> Hyperlink:
    """DRF's ``Hyperlink(url, obj)`` without the call through its Python
    ``__new__`` (what that ``__new__`` does, nothing more)."""
    link = _new_str(Hyperlink, url)
    link.obj = obj
    return link


# Characters every step of DRF's reverse leaves unchanged inside a path
# segment: unreserved in RFC 3986 (so neither quoted nor split on), no dot
# (so a value is never a "." or ".." segment), no "/" (no new segment, no
# leading "//").
_SAFE = frozenset("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-~")
_DIGITS = frozenset("0123456789")
_HEX_AND_DASH = frozenset("0123456789abcdef-")
_UUID_REGEX = dj_converters.UUIDConverter.regex

# Group regexes whose language is known: each takes every non-empty string
# over the listed characters (within _SAFE).
_GROUP_ALPHABETS = {
    "[0-9]+": _DIGITS,
    r"\d+": _DIGITS,
    "[^/]+": _SAFE,
    "[^/.]+": _SAFE,
    ".+": _SAFE,
    "[-a-zA-Z0-9_]+": _SAFE - {"~"},
    r"[-\w]+": _SAFE - {"~"},
    r"\w+": _SAFE - {"~", "-"},
    "[a-z0-9]+": frozenset("abcdefghijklmnopqrstuvwxyz0123456789"),
    "[0-9a-f]+": frozenset("0123456789abcdef"),
    "[-0-9a-f]+": _HEX_AND_DASH,
    _UUID_REGEX: frozenset(),
}

# Converters whose to_url gives the value's str() (directly or through the
# "%s" substitution that follows).
_STR_CONVERTERS = (
    dj_converters.IntConverter,
    dj_converters.StringConverter,
    dj_converters.SlugConverter,
    dj_converters.PathConverter,
    dj_converters.UUIDConverter,
)

_KNOWN_SCHEME_REVERSES = (
    versioning.BaseVersioning.reverse,
    versioning.URLPathVersioning.reverse,
    versioning.NamespaceVersioning.reverse,
    versioning.QueryParameterVersioning.reverse,
)

_REGEX_SPECIAL = frozenset(".^$*+?{}[]|()\\")

_ALL_VALUES = "all"  # every accepted value reverses through one candidate
_NO_VALUE = "none"  # no value reverses (NoReverseMatch whatever the value)


class CompiledLink:
    """A hyperlinked field's URL for one request and format:
    ``prefix + str(value) + suffix`` for the accepted values."""

    __slots__ = ("prefix", "suffix", "ints", "negative_ints", "text_alphabet", "uuids", "_text_match")

    def __init__(self, prefix: str, suffix: str, alphabet: frozenset[str], uuids: bool) -> None:
        self.prefix = prefix
        self.suffix = suffix
        self.ints = _DIGITS <= alphabet
        self.negative_ints = self.ints and "-" in alphabet
        self.uuids = uuids
        self.text_alphabet = "".join(sorted(alphabet))
        self._text_match = (
            re.compile("[%s]+" % re.escape(self.text_alphabet)).fullmatch if alphabet else None
        )

    def url(self, value: Any) -> str | None:
        """The URL DRF's field gives for this lookup value, or ``None`` when
        this value is not one this compiled form answers (use DRF's code)."""
        kind = type(value)
        if kind is int:
            if value >= 0 and self.ints or self.negative_ints:
                return self.prefix + str(value) + self.suffix
            return None
        if kind is str:
            if self._text_match is not None and self._text_match(value) is not None:
                return self.prefix + value + self.suffix
            return None
        if kind is uuid.UUID and self.uuids:
            return self.prefix + str(value) + self.suffix
        return None


def _effective_format(field: relations.HyperlinkedRelatedField, format: str | None) -> str | None:
    # As to_representation: the field's own format wins over the context's
    # one only when both are set.
    if format and field.format and field.format != format:
        return field.format
    return format


def compile_link(
    field: relations.HyperlinkedRelatedField, request: Any, format: str | None
) -> CompiledLink | None:
    """The compiled URL of a bound hyperlinked field for ``request`` and the
    serializer context's ``format`` (as ``to_representation`` reads them),
    or ``None`` when it cannot be proven equal to DRF's for every accepted
    value. It holds for the current thread's script prefix, URLconf and
    language, as DRF's own reverse does for that request."""
    if not _plain_field(field) or not _plain_request(request):
        return None
    try:
        attempts = _attempts(field, request, _effective_format(field, format))
        if attempts is None:
            return None
        for viewname, constants in attempts:
            outcome = _candidate_for(viewname, field.lookup_url_kwarg, constants)
            if outcome is None:
                return None
            if outcome is _NO_VALUE:
                continue  # DRF's reverse falls back to the next attempt
            return _checked(field, request, _effective_format(field, format), *outcome)
    except (NoReverseMatch, ValueError, TypeError):
        return None  # DRF's own code raises (or answers) as it does
    return None


def _attempts(field, request, format):
    """The (view name, constant kwargs) DRF's reverse tries in turn: the
    versioning scheme's, then (on NoReverseMatch) the plain one; None for a
    scheme or kwarg this module does not know."""
    kwarg = field.lookup_url_kwarg
    if kwarg == "format" or not isinstance(kwarg, str):
        return None
    plain = {} if format is None else {"format": format}
    attempts = []
    scheme = getattr(request, "versioning_scheme", None)
    if scheme is not None:
        scheme_reverse = getattr(type(scheme), "reverse", None)
        if scheme_reverse not in _KNOWN_SCHEME_REVERSES:
            return None
        version = request.version
        if scheme_reverse is versioning.URLPathVersioning.reverse and version is not None:
            if kwarg == scheme.version_param:
                return None
            attempts.append((field.view_name, {scheme.version_param: version, **plain}))
        elif scheme_reverse is versioning.NamespaceVersioning.reverse and version is not None:
            if type(scheme).get_versioned_viewname is not versioning.NamespaceVersioning.get_versioned_viewname:
                return None
            attempts.append((version + ":" + field.view_name, plain))
    attempts.append((field.view_name, plain))
    return attempts


def _plain_field(field: Any) -> bool:
    # DRF's own per-object steps, not a subclass's or an injected reverse.
    cls = type(field)
    return (
        isinstance(field, relations.HyperlinkedRelatedField)
        and cls.get_url is relations.HyperlinkedRelatedField.get_url
        and cls.to_representation is relations.HyperlinkedRelatedField.to_representation
        and getattr(field, "reverse", None) is drf_reverse.reverse
        and isinstance(field.view_name, str)
    )


def _plain_request(request: Any) -> bool:
    if request is None:
        return True
    build = getattr(request, "build_absolute_uri", None)
    return getattr(build, "__func__", None) is HttpRequest.build_absolute_uri


def _resolver_for(viewname: str):
    """Django's reverse() walk through the namespaces (no current_app, as
    DRF passes none): the resolver holding the name, and the bare name."""
    resolver = get_resolver(get_urlconf())
    *path, view = viewname.split(":")
    resolved_path = []
    ns_pattern = ""
    ns_converters = {}
    for ns in path:
        app_list = resolver.app_dict.get(ns)
        if app_list is not None and ns not in app_list:
            ns = app_list[0]
        try:
            extra, resolver = resolver.namespace_dict[ns]
        except KeyError:
            raise NoReverseMatch(ns) from None
        resolved_path.append(ns)
        ns_pattern += extra
        ns_converters.update(resolver.pattern.converters)
    if ns_pattern:
        resolver = get_ns_resolver(ns_pattern, resolver, tuple(ns_converters.items()))
    return resolver, view


def _candidate_for(viewname: str, kwarg: str, constants: dict[str, Any]):
    """Which pattern Django's ``_reverse_with_prefix`` picks for the kwargs
    ``{kwarg: value, **constants}``: ``(alphabet, uuids)`` when the same one
    takes every accepted value, ``_NO_VALUE`` when none takes any (a
    NoReverseMatch whatever the value), ``None`` when it depends on the
    value in a way not proven here."""
    try:
        resolver, view = _resolver_for(viewname)
    except NoReverseMatch:
        return _NO_VALUE
    prefix = get_script_prefix()
    names = {kwarg, *constants}
    for possibility, pattern, defaults, converters in resolver.reverse_dict.getlist(view):
        for result, params in possibility:
            if names.symmetric_difference(params).difference(defaults):
                continue
            constant_mismatch = False
            for name, default in defaults.items():
                if name in params:
                    continue
                if name == kwarg:
                    return None  # compared with the value itself
                if constants.get(name, default) != default:
                    constant_mismatch = True
                    break
            if constant_mismatch:
                continue
            texts = {}
            skipped = False
            for name, value in constants.items():
                if name in converters:
                    try:
                        texts[name] = str(converters[name].to_url(value))
                    except ValueError:
                        skipped = True
                        break
                else:
                    texts[name] = str(value)
            if skipped:
                continue
            converter = converters.get(kwarg)
            if converter is not None and type(converter) not in _STR_CONVERTERS:
                return None
            return _pattern_alphabet(re.escape(prefix) + pattern, prefix.replace("%", "%%") + result, kwarg, texts)
    return _NO_VALUE


def _pattern_alphabet(regex: str, template: str, kwarg: str, texts: dict[str, str]):
    """For a regex of literal characters, optional literal characters and
    named groups of known regexes (what path(), DRF's routers and suffix
    patterns make) whose substitution template is the literal characters
    and groups in order: the characters the kwarg's group takes, as every
    group then matches exactly its own substituted text. ``None`` for any
    other regex, or when a constant does not fit its group."""
    tokens: list[tuple[str, str]] = []  # ("lit", char) | ("group", name)
    groups: dict[str, str] = {}
    i, n = 0, len(regex)
    if regex.endswith(r"\Z"):
        n -= 2
    elif regex.endswith("$") and not regex.endswith("\\$"):
        n -= 1
    while i < n:
        char = regex[i]
        if char == "\\":
            if i + 1 >= n or regex[i + 1].isalnum():
                return None
            tokens.append(("lit", regex[i + 1]))
            i += 2
        elif regex.startswith("(?P<", i):
            close = regex.find(">", i)
            name = regex[i + 4 : close]
            inner_end = _group_end(regex, close + 1, n)
            if close < 0 or inner_end is None or name in groups:
                return None
            groups[name] = regex[close + 1 : inner_end]
            tokens.append(("group", name))
            i = inner_end + 1
        elif char == "?" and tokens and tokens[-1][0] == "lit":
            tokens[-1] = ("optional", tokens[-1][1])
            i += 1
        elif char in _REGEX_SPECIAL:
            return None
        else:
            tokens.append(("lit", char))
            i += 1
    expected = "".join(
        "%%(%s)s" % value if kind == "group" else value.replace("%", "%%") if kind == "lit" else ""
        for kind, value in tokens
    )
    if expected != template or kwarg not in groups:
        return None
    for name, inner in groups.items():
        if name == kwarg:
            continue
        if name not in texts or not _fits_alone(inner, texts[name]):
            return None
    inner = groups[kwarg]
    alphabet = _GROUP_ALPHABETS.get(inner)
    if alphabet is None:
        return None
    uuids = _HEX_AND_DASH <= alphabet or inner == _UUID_REGEX
    return alphabet, uuids


def _group_end(regex: str, start: int, stop: int) -> int | None:
    # The parenthesis closing the group whose regex starts at `start`.
    depth = 0
    i = start
    while i < stop:
        char = regex[i]
        if char == "\\":
            i += 2
            continue
        if char == "[":
            close = regex.find("]", i + 2)
            if close < 0 or "\\" in regex[i:close]:
                return None
            i = close + 1
            continue
        if char == "(":
            depth += 1
        elif char == ")":
            if depth == 0:
                return i
            depth -= 1
        i += 1
    return None


# A constant's group is checked on the constant's text alone: valid only
# when nothing in its regex looks outside the group (anchors, lookarounds,
# backreferences, word boundaries).
_OUTWARD = re.compile(r"\\[^.\-/]|\$|\^(?<!\[\^)|\((?!\?:)")


def _fits_alone(inner: str, text: str) -> bool:
    return _OUTWARD.search(inner) is None and re.fullmatch(inner, text) is not None


# Probe values: distinctive enough to be found once in a URL, and covering
# the accepted kinds' edges (zero, a negative, beyond 64 bits, the safe
# punctuation, a UUID). Few: each costs one DRF reverse.
_INT_PROBES = (7302948561729384756, 0)
_NEGATIVE_PROBES = (-(2**70),)
_TEXT_PROBES = ("zq7Xk", "A_-~0", "A_-0")
_UUID_PROBES = (uuid.UUID("4f1c2e3a-9b8d-4c7e-a6f5-0123456789ab"),)


def _checked(field, request, format, alphabet, uuids) -> CompiledLink | None:
    """Split DRF's own URL for a probe value into prefix and suffix, and
    check the split against DRF's URL for the other probes."""
    reverse = drf_reverse.reverse
    kwarg = field.lookup_url_kwarg

    def drf_url(value):
        return reverse(field.view_name, kwargs={kwarg: value}, request=request, format=format)

    link = CompiledLink("", "", alphabet, uuids)
    if link.ints:
        probe = _INT_PROBES[0]
    elif link._text_match is not None and link._text_match(_TEXT_PROBES[0]):
        probe = _TEXT_PROBES[0]
    elif uuids:
        probe = _UUID_PROBES[0]
    else:
        return None
    url = drf_url(probe)
    text = str(probe)
    if url.count(text) != 1:
        return None
    link.prefix, link.suffix = url.split(text)
    probes = []
    if link.ints:
        probes += _INT_PROBES
    if link.negative_ints:
        probes += _NEGATIVE_PROBES
    if link._text_match is not None:
        probes += [p for p in _TEXT_PROBES if link._text_match(p)]
    if uuids:
        probes += _UUID_PROBES
    for value in probes:
        if value is not probe and link.url(value) != drf_url(value):
            return None
    return link
