"""The snippets and blog APIs, written once and built twice.

``build(kit, models)`` defines the serializers and viewsets with the
serializer bases, JSON renderer, page-number pagination and viewset bases of ``kit``:
``DRF`` (Django REST framework's own classes) or ``ZEMBRA`` (zembra.rest's
drop-ins). Nothing else differs between the two builds. ``models`` gives
the model classes (this app's, or a benchmark's copies of them).

Hyperlinks are reversed in the URL namespace the request came through
(DRF's ``NamespaceVersioning``), so each build links to its own URLs.
"""

from types import SimpleNamespace

from rest_framework import pagination, permissions, renderers, serializers, viewsets
from rest_framework.decorators import action
from rest_framework.filters import BaseFilterBackend
from rest_framework.response import Response
from rest_framework.routers import DefaultRouter
from rest_framework.versioning import NamespaceVersioning

import zembra.rest

DRF = SimpleNamespace(ModelSerializer=serializers.ModelSerializer,
                      HyperlinkedModelSerializer=serializers.HyperlinkedModelSerializer,
                      JSONRenderer=renderers.JSONRenderer,
                      PageNumberPagination=pagination.PageNumberPagination,
                      ModelViewSet=viewsets.ModelViewSet, ReadOnlyModelViewSet=viewsets.ReadOnlyModelViewSet)
# Pagination falls back to DRF's own class where zembra.rest has none.
ZEMBRA = SimpleNamespace(ModelSerializer=zembra.rest.ModelSerializer,
                         HyperlinkedModelSerializer=zembra.rest.HyperlinkedModelSerializer,
                         JSONRenderer=zembra.rest.JSONRenderer,
                         PageNumberPagination=getattr(zembra.rest, "PageNumberPagination",
                                                      pagination.PageNumberPagination),
                         ModelViewSet=zembra.rest.ModelViewSet, ReadOnlyModelViewSet=zembra.rest.ReadOnlyModelViewSet)
DEFAULT_WINDOW, MAX_WINDOW = 100, 1000


class Window(BaseFilterBackend):
    """``?limit=&offset=`` on an unpaginated list (bad numbers: the defaults)."""

    def filter_queryset(self, request, queryset, view):
        if view.action != "list":
            return queryset

        def number(key, default):
            try:
                return max(int(request.query_params.get(key, default)), 0)
            except ValueError:
                return default
        offset = number("offset", 0)
        return queryset[offset:offset + min(number("limit", DEFAULT_WINDOW), MAX_WINDOW)]


class IsOwnerOrReadOnly(permissions.BasePermission):
    def has_object_permission(self, request, view, obj):
        return request.method in permissions.SAFE_METHODS or obj.owner == request.user


def build(kit, models):
    """The serializers and viewsets on ``kit``'s classes, as a namespace."""

    class SnippetSerializer(kit.HyperlinkedModelSerializer):
        owner = serializers.ReadOnlyField(source="owner.username")
        highlight = serializers.HyperlinkedIdentityField(view_name="snippet-highlight", format="html")

        class Meta:
            model = models.Snippet
            fields = ["url", "id", "highlight", "owner", "title", "code", "linenos", "language", "style"]

    class UserSerializer(kit.HyperlinkedModelSerializer):
        snippets = serializers.HyperlinkedRelatedField(many=True, view_name="snippet-detail", read_only=True)

        class Meta:
            model = models.User
            fields = ["url", "id", "username", "snippets"]

    class AuthorSerializer(kit.ModelSerializer):
        class Meta:
            model = models.Author
            fields = ["id", "name", "email", "bio"]

    class PostSerializer(kit.ModelSerializer):
        author = AuthorSerializer(read_only=True)
        # Read nested, written by key.
        author_id = serializers.PrimaryKeyRelatedField(source="author", queryset=models.Author.objects.all(),
                                                       write_only=True)
        tags = serializers.SlugRelatedField(many=True, read_only=True, slug_field="slug")
        word_count = serializers.SerializerMethodField()

        class Meta:
            model = models.Post
            fields = ["id", "author", "author_id", "title", "slug", "body", "published", "tags", "metadata",
                      "rating", "word_count"]

        def get_word_count(self, post):
            return len(post.body.split())

    class PostPages(kit.PageNumberPagination):
        page_size = 100
        page_size_query_param = "page_size"
        max_page_size = 500

    class SnippetViewSet(kit.ModelViewSet):
        queryset = models.Snippet.objects.select_related("owner")
        serializer_class = SnippetSerializer
        renderer_classes = [kit.JSONRenderer]
        permission_classes = [permissions.IsAuthenticatedOrReadOnly, IsOwnerOrReadOnly]
        versioning_class = NamespaceVersioning
        filter_backends = [Window]

        @action(detail=True, renderer_classes=[renderers.StaticHTMLRenderer])
        def highlight(self, request, *args, **kwargs):
            return Response(self.get_object().highlighted)

        def perform_create(self, serializer):
            serializer.save(owner=self.request.user)

    class UserViewSet(kit.ReadOnlyModelViewSet):
        queryset = models.User.objects.prefetch_related("snippets").order_by("id")
        serializer_class = UserSerializer
        renderer_classes = [kit.JSONRenderer]
        versioning_class = NamespaceVersioning

    class PostViewSet(kit.ModelViewSet):
        queryset = models.Post.objects.select_related("author").prefetch_related("tags").order_by("-published", "id")
        serializer_class = PostSerializer
        renderer_classes = [kit.JSONRenderer]
        pagination_class = PostPages

    def tutorial_urls():
        router = DefaultRouter()
        router.register("snippets", SnippetViewSet, basename="snippet")
        router.register("users", UserViewSet, basename="user")
        return router.urls

    def blog_urls():
        router = DefaultRouter()
        router.register("posts", PostViewSet, basename="post")
        return router.urls

    return SimpleNamespace(**{name: value for name, value in locals().items() if name not in ("kit", "models")})
