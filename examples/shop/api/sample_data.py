"""A reproducible data set: users with code snippets, a blog of tagged posts."""

import datetime
import random
from decimal import Decimal

from django.contrib.auth import get_user_model
from django.db import transaction

from .models import Author, Post, Snippet, Tag

USERS = ["ada", "bjorn", "chidi", "dana", "emile", "farah"]
CODE = {
    "python": ['def greet(name):\n    return f"Hello, {name}!"\n', 'print("naïve café", 1 / 3)\n',
               "class Stack(list):\n    push = list.append\n"],
    "javascript": ["const add = (a, b) => a + b;\n", "document.title = '<b>\u2028</b>';\n"],
    "rust": ['fn main() {\n    println!("{}", 2_u64.pow(10));\n}\n'],
    "sql": ["SELECT id, title FROM snippets WHERE owner_id = 1 ORDER BY created;\n"],
    "bash": ['for f in *.txt; do echo "$f"; done\n'],
}
STYLES = ["friendly", "monokai", "default", "emacs"]
TAGS = ["django", "python", "rest", "json", "sql", "performance", "testing", "async", "caching", "security",
        "unicode", "databases", "apis", "web", "tooling"]
WORDS = ["fast", "serializer", "query", "row", "field", "value", "cache", "Straße", "naïve", "日本語", "index",
         "page", "model", "view", "router", "schema"]
EPOCH = datetime.datetime(2024, 1, 1, tzinfo=datetime.UTC)


def _moment(rng):
    micro = rng.randrange(1_000_000) if rng.random() < 0.8 else 0  # some whole seconds
    return EPOCH + datetime.timedelta(seconds=rng.randrange(365 * 86400), microseconds=micro)


def _snippet(rng, number, owners):
    language = rng.choice(list(CODE))
    snippet = Snippet(title=rng.choice(["", f"Snippet {number}", f"Ünïcode {number} 🐍", f'"quoted" {number}']),
                      code=rng.choice(CODE[language]), linenos=rng.random() < 0.3, language=language,
                      style=rng.choice(STYLES), owner=rng.choice(owners))
    snippet.highlighted = snippet.render_highlighted()  # bulk_create does not call save()
    return snippet


def _post(rng, number, authors):
    words = rng.choices(WORDS, k=rng.randrange(5, 120))
    return Post(author=rng.choice(authors), title=" ".join(words[:4]).capitalize(), slug=f"post-{number}",
                body=" ".join(words), published=_moment(rng),
                metadata={"views": rng.randrange(100_000), "score": round(rng.uniform(0, 5), 3),
                          "featured": rng.random() < 0.1, "links": [f"https://example.com/{number}"],
                          "extra": None if rng.random() < 0.5 else {"lang": rng.choice(["en", "de", "ja"])}},
                rating=None if rng.random() < 0.2 else Decimal(rng.randrange(0, 1000)) / 100)


@transaction.atomic
def populate(snippets=3000, posts=3000, seed=2024):
    """Replaces the APIs' rows (and the users) with a fixed pseudo-random set."""
    rng = random.Random(seed)
    User = get_user_model()
    for model in (Snippet, Post, Tag, Author, User):
        model.objects.all().delete()
    owners = [User.objects.create_user(name, f"{name}@example.com") for name in USERS]
    Snippet.objects.bulk_create((_snippet(rng, n, owners) for n in range(snippets)), batch_size=500)
    authors = Author.objects.bulk_create(
        Author(name=name.title(), email=f"{name}@blog.example.com", bio=rng.choice(["", "Writes about Django.",
                                                                                 "Ça va? 👋"]))
        for name in USERS + ["grace", "hana", "ines", "jun"])
    tags = Tag.objects.bulk_create(Tag(name=name.title(), slug=name) for name in TAGS)
    items = Post.objects.bulk_create((_post(rng, n, authors) for n in range(posts)), batch_size=500)
    Through = Post.tags.through
    Through.objects.bulk_create((Through(post=post, tag=tag) for post in items
                                 for tag in rng.sample(tags, rng.randrange(1, 6))), batch_size=1000)
