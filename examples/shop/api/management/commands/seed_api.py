from django.core.management.base import BaseCommand

from api.sample_data import populate


class Command(BaseCommand):
    help = "Fills the snippets and blog APIs' tables with a reproducible set (replacing their rows and the users)."

    def add_arguments(self, parser):
        parser.add_argument("--snippets", type=int, default=3000)
        parser.add_argument("--posts", type=int, default=3000)
        parser.add_argument("--seed", type=int, default=2024)

    def handle(self, *args, snippets, posts, seed, **options):
        populate(snippets=snippets, posts=posts, seed=seed)
        self.stdout.write(f"Loaded {snippets} snippets and {posts} posts.")
