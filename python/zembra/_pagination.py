"""DRF's paginators handing the serializer the page as a query set.

DRF's ``PageNumberPagination`` and ``LimitOffsetPagination`` turn the page
into a list of model instances before the serializer sees it, which keeps
zembra.rest's ``ListSerializer`` from reading the page as rows. These
subclasses return the very slice DRF evaluates (same query, same LIMIT and
OFFSET), unevaluated, when they are given a query set; everything else
(counting, errors, links, the browsable API's controls, ``self.page``) is
DRF's own code. Given a list or any other sequence they return DRF's list.
"""

from __future__ import annotations

from django.core.paginator import InvalidPage, Page
from django.db.models.query import QuerySet
from rest_framework import pagination
from rest_framework.exceptions import NotFound

__all__ = ["PageNumberPagination", "LimitOffsetPagination", "CursorPagination"]


def _unevaluated(objects) -> bool:
    """A query set nobody has read, whose slice is not empty: an empty
    slice is DRF's [] (it costs no query)."""
    return isinstance(objects, QuerySet) and objects._result_cache is None and not objects.query.is_empty()


def _reads_as_django_page(page) -> bool:
    """Whether ``list(page)`` is the list of its object list: a page class
    that changes how its items are read keeps DRF's list."""
    cls = type(page)
    return all(getattr(cls, name) is getattr(Page, name) for name in ("__iter__", "__getitem__", "__len__"))


class PageNumberPagination(pagination.PageNumberPagination):
    """DRF's ``PageNumberPagination``; a query set's page is returned as its
    unevaluated slice, which ``self.page.object_list`` also holds (the
    serializer's evaluation, if it builds instances, fills both)."""

    def paginate_queryset(self, queryset, request, view=None):
        # DRF's body but for its last line, list(self.page).
        self.request = request
        page_size = self.get_page_size(request)
        if not page_size:
            return None

        paginator = self.django_paginator_class(queryset, page_size)
        page_number = self.get_page_number(request, paginator)

        try:
            self.page = paginator.page(page_number)
        except InvalidPage as exc:
            msg = self.invalid_page_message.format(
                page_number=page_number, message=str(exc)
            )
            raise NotFound(msg)

        if paginator.num_pages > 1 and self.template is not None:
            self.display_page_controls = True

        objects = self.page.object_list
        if _unevaluated(objects) and _reads_as_django_page(self.page):
            return objects
        return list(self.page)


class LimitOffsetPagination(pagination.LimitOffsetPagination):
    """DRF's ``LimitOffsetPagination``; a query set's page is returned as
    ``queryset[offset:offset + limit]`` unevaluated."""

    def paginate_queryset(self, queryset, request, view=None):
        # DRF's body but for its last line, list(queryset[...]).
        self.request = request
        self.limit = self.get_limit(request)
        if self.limit is None:
            return None

        self.count = self.get_count(queryset)
        self.offset = self.get_offset(request)
        if self.count > self.limit and self.template is not None:
            self.display_page_controls = True

        if self.count == 0 or self.offset > self.count:
            return []
        page = queryset[self.offset:self.offset + self.limit]
        if isinstance(queryset, QuerySet) and _unevaluated(page):
            return page
        return list(page)


class CursorPagination(pagination.CursorPagination):
    """DRF's ``CursorPagination`` unchanged: it reads the page as DRF does,
    model instances included. Its links need the ordering value of the page's
    rows and of the row after the page (and a reversed cursor reverses the
    rows), which the serializer's reading of rows does not give back; reading
    them apart would take a second query, or a window between two reads."""
