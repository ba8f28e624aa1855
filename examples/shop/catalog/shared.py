"""Request helpers and constants used by both API flavours."""

DEFAULT_PAGE, MAX_PAGE = 100, 1000
RISK_FIELDS = ("credit_score", "debt_to_income_ratio", "loan_amount", "age", "interest_rate")
HIGH_RISK = 70.0  # scores at or above this need a manual review


def page_bounds(request):
    """``?limit=&offset=`` as a slice, clamped to sane values."""
    def number(key, default):
        try:
            return max(int(request.GET.get(key, default)), 0)
        except ValueError:
            return default
    offset = number("offset", 0)
    return offset, offset + min(number("limit", DEFAULT_PAGE), MAX_PAGE)
