from django.core.management.base import BaseCommand

from catalog.sample_data import populate


class Command(BaseCommand):
    help = "Fills the database with a reproducible sample shop (replacing its rows)."

    def add_arguments(self, parser):
        parser.add_argument("--products", type=int, default=3000)
        parser.add_argument("--applications", type=int, default=2000)
        parser.add_argument("--seed", type=int, default=2024)

    def handle(self, *args, products, applications, seed, **options):
        populate(products=products, applications=applications, seed=seed)
        self.stdout.write(f"Loaded {products} products and {applications} financing applications.")
