// Loan-application risk score between 0 and 100.
//
// risk_score() is the reference: any batched or paired evaluation must give
// the same bits, so it lives out of line in a file compiled without
// floating-point contraction.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace zembra::analytics {

// The five inputs of one record, in record-key order.
struct RiskInput {
  double credit_score;          // c
  double debt_to_income_ratio;  // d
  double loan_amount;           // L
  double age;                   // a
  double interest_rate;         // i
};

// A record key and the value used when the key is absent.
struct RiskField {
  std::string_view key;
  double default_value;
  double RiskInput::*member;
};

// Keys in the order they are read; defaults for absent keys.
inline constexpr std::array<RiskField, 5> kRiskFields = {{
    {"credit_score", 500.0, &RiskInput::credit_score},
    {"debt_to_income_ratio", 0.3, &RiskInput::debt_to_income_ratio},
    {"loan_amount", 100000.0, &RiskInput::loan_amount},
    {"age", 30.0, &RiskInput::age},
    {"interest_rate", 5.0, &RiskInput::interest_rate},
}};
inline constexpr std::size_t kLoanAmountField = 2;

// Loan amount used when the value converts neither as a number nor as text.
inline constexpr double kDefaultLoanAmount = 100000.0;

inline constexpr RiskInput kDefaultRiskInput = {500.0, 0.3, 100000.0, 30.0, 5.0};

// The score, clamped to [0, 100]; NaN inputs may give NaN, which is kept.
// Pure IEEE arithmetic with the C library's log and sqrt; never fails.
double risk_score(const RiskInput& in) noexcept;

// Parses the text form of a loan amount: an optional '+' or '-', then "inf",
// "infinity" or "nan" in any letter case, or digits with an optional '.' and
// fraction (at least one digit in all) and an optional exponent ('e' or 'E',
// optional sign, at least one digit). Nothing else is allowed anywhere, not
// even white space. Rounds to nearest; too large gives +-inf, too small +-0.
// nullopt when the text does not match.
std::optional<double> parse_loan_amount_text(std::string_view text) noexcept;

}  // namespace zembra::analytics
