"""The financing risk score in plain Python, for the DRF side of the comparison."""

import math


def risk_score(credit_score, debt_to_income_ratio, loan_amount, age, interest_rate):
    """A score in [0, 100]; higher means riskier."""
    score = (100.0 - credit_score / 10.0) + 50.0 * debt_to_income_ratio
    score += 2.0 * math.log(loan_amount + 1.0)
    score -= 5.0 if age >= 25.0 else 0.0
    score += 0.5 * interest_rate
    score -= 0.3 * math.sqrt(max(credit_score - 300.0, 0.0))
    return min(max(score, 0.0), 100.0)
