"""A reproducible shop: categories, products, reviews, financing applications."""

import datetime
import random
import uuid
from decimal import Decimal

from django.db import transaction

from .models import Category, FinancingApplication, Product, Review

CATEGORIES = ["Kitchen", "Garden", "Outdoor", "Office", "Audio", "Lighting", "Toys",
              "Bath", "Tools", "Books", "Coffee", "Bikes"]
ADJECTIVES = ["Compact", "Classic", "Solid", "Quiet", "Folding", "Smart", "Rustic", "Travel"]
NOUNS = ["Kettle", "Lamp", "Chair", "Speaker", "Backpack", "Grinder", "Planter", "Desk",
         "Tent", "Bottle", "Drill", "Notebook"]
COLOURS = ["black", "white", "oak", "sage", "navy", "copper"]
FIRST = ["Ada", "Björn", "Chidi", "Dana", "Émile", "Farah", "Goran", "Hana", "Ines", "Jun"]
LAST = ["Okafor", "Lindqvist", "Moreau", "Tanaka", "García", "Novak", "Haddad", "Walsh"]
EPOCH = datetime.datetime(2024, 1, 1, tzinfo=datetime.UTC)


def _moment(rng):
    return EPOCH + datetime.timedelta(seconds=rng.randrange(365 * 86400),
                                      microseconds=rng.randrange(1_000_000))


def _product(rng, number, categories):
    name = f"{rng.choice(ADJECTIVES)} {rng.choice(NOUNS)}"
    return Product(
        id=uuid.UUID(int=rng.getrandbits(128), version=4),
        sku=f"SKU-{number:06d}",
        name=name,
        description=f"{name} in {rng.choice(COLOURS)}, made to last.",
        category=rng.choice(categories),
        price=Decimal(rng.randrange(199, 250_000)) / 100,
        weight_kg=round(rng.uniform(0.1, 25.0), 3) if rng.random() < 0.9 else None,
        stock=rng.randrange(0, 500),
        is_active=rng.random() < 0.95,
        attributes={"colour": rng.choice(COLOURS), "tags": rng.sample(["eco", "new", "sale", "gift"], 2),
                    "dimensions_cm": {"w": rng.randrange(5, 120), "h": rng.randrange(5, 120)}},
        thumbnail=rng.randbytes(rng.randrange(64, 192)) if rng.random() < 0.8 else None,
        released_on=(EPOCH + datetime.timedelta(days=rng.randrange(365))).date(),
        created_at=_moment(rng),
    )


def _application(rng):
    return FinancingApplication(
        applicant_name=f"{rng.choice(FIRST)} {rng.choice(LAST)}",
        credit_score=round(rng.triangular(300, 850, 720)),
        debt_to_income_ratio=round(rng.uniform(0.05, 0.6), 3),
        loan_amount=Decimal(rng.randrange(10_000, 800_000)) / 100,
        age=rng.randrange(18, 80),
        interest_rate=Decimal(rng.randrange(199, 2499)) / 100,
        submitted_at=_moment(rng),
    )


@transaction.atomic
def populate(products=3000, applications=2000, seed=2024):
    """Replaces the shop's rows with a fixed pseudo-random set."""
    rng = random.Random(seed)
    for model in (Review, Product, FinancingApplication, Category):
        model.objects.all().delete()
    categories = Category.objects.bulk_create(
        Category(name=name, slug=name.lower()) for name in CATEGORIES)
    items = Product.objects.bulk_create(
        (_product(rng, n, categories) for n in range(products)), batch_size=500)
    Review.objects.bulk_create(
        (Review(product=product, rating=rng.randrange(1, 6), title="Worth it" if rng.random() < 0.7 else "Meh",
                created_at=_moment(rng))
         for product in items for _ in range(rng.randrange(0, 4))), batch_size=500)
    FinancingApplication.objects.bulk_create(
        (_application(rng) for _ in range(applications)), batch_size=500)
