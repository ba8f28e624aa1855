"""Two everyday DRF data models: the tutorial's code snippets (owned by
Django's users) and a blog (authors, tagged posts)."""

from django.conf import settings
from django.db import models
from pygments import highlight
from pygments.formatters.html import HtmlFormatter
from pygments.lexers import get_all_lexers, get_lexer_by_name
from pygments.styles import get_all_styles

LEXERS = [item for item in get_all_lexers() if item[1]]
LANGUAGE_CHOICES = sorted((item[1][0], item[0]) for item in LEXERS)
STYLE_CHOICES = sorted((item, item) for item in get_all_styles())


class Snippet(models.Model):
    created = models.DateTimeField(auto_now_add=True)
    title = models.CharField(max_length=100, blank=True, default="")
    code = models.TextField()
    linenos = models.BooleanField(default=False)
    language = models.CharField(choices=LANGUAGE_CHOICES, default="python", max_length=100)
    style = models.CharField(choices=STYLE_CHOICES, default="friendly", max_length=100)
    owner = models.ForeignKey(settings.AUTH_USER_MODEL, related_name="snippets", on_delete=models.CASCADE)
    highlighted = models.TextField()

    class Meta:
        ordering = ["created", "id"]  # the key breaks ties of rows created in one bulk insert
        indexes = [models.Index(fields=["created", "id"], name="snippet_listing")]  # the list's order

    def save(self, *args, **kwargs):
        self.highlighted = self.render_highlighted()
        super().save(*args, **kwargs)

    def render_highlighted(self):
        """The code as a stand-alone HTML page, coloured with Pygments."""
        formatter = HtmlFormatter(style=self.style, linenos="table" if self.linenos else False,
                                  full=True, title=self.title)
        return highlight(self.code, get_lexer_by_name(self.language), formatter)


class Author(models.Model):
    name = models.CharField(max_length=100)
    email = models.EmailField(unique=True)
    bio = models.TextField(blank=True, default="")


class Tag(models.Model):
    name = models.CharField(max_length=50)
    slug = models.SlugField(unique=True)


class Post(models.Model):
    author = models.ForeignKey(Author, related_name="posts", on_delete=models.CASCADE)
    title = models.CharField(max_length=200)
    slug = models.SlugField(max_length=200)
    body = models.TextField()
    published = models.DateTimeField(db_index=True)  # the lists are ordered by it
    tags = models.ManyToManyField(Tag, related_name="posts", blank=True)
    metadata = models.JSONField(default=dict, blank=True)
    rating = models.DecimalField(max_digits=4, decimal_places=2, null=True, blank=True)
