// Risk score formula and the text form of loan amounts.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "pure/analytics/risk.h"
#include "check.h"

using namespace zembra::analytics;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

struct ScoreCase {
  RiskInput in;
  double score;
};

}  // namespace

TEST_CASE("risk score equals the step-by-step reference bit for bit") {
  // Reference values from the same steps in plain double arithmetic (separate
  // rounding of every product and sum, so FMA contraction would show here).
  const ScoreCase cases[] = {
      {{500.0, 0.3, 100000.0, 30.0, 5.0}, 81.28323024272117},  // all defaults
      {{850.0, 0.1, 0.0, 40.0, 3.0}, 9.464376360264854},
      {{701.7298706249481, 0.035343299531506556, 44291.0755618248, 74.794271274387, 14.923113118366569}, 49.43989655806588},
      {{442.91843125986145, 0.32402269130490635, 307049.16641445266, 36.26334488238108, 3.4016021163104204}, 90.2931704320117},
      {{761.9211516716455, 0.015315318063701788, 191218.67204249243, 39.38687032262655, 5.092523709526106}, 39.99456361275278},
      {{830.3782218993699, 0.8290973404331142, 382358.6221873219, 70.05602582242071, 11.8143227428061}, 78.12345737440553},
      {{730.126411029118, 0.027993849843320817, 39364.19662870155, 79.36261240337028, 9.61237802060586}, 43.132668389820914},
      {{449.9536340923762, 0.27188377085472204, 16894.54102786642, 31.231095790288734, 3.8088260589315275}, 81.29918149994077},
  };
  for (const auto& c : cases) CHECK(same_bits(risk_score(c.in), c.score));
}

TEST_CASE("risk score clamps, and keeps NaN") {
  const ScoreCase cases[] = {
      {{300.0, 2.0, 100000.0, 30.0, 5.0}, 100.0},  // base 170 alone exceeds the top
      {{500.0, 0.3, -1.0, 30.0, 5.0}, 0.0},         // ln(0) = -inf
      {{500.0, 0.3, kInf, 30.0, 5.0}, 100.0},
      {{kInf, 0.3, 100000.0, 30.0, 5.0}, 0.0},      // -inf base, +inf root
      {{-kInf, 0.3, 100000.0, 30.0, 5.0}, 100.0},   // root term dropped below 300
      {{2000.0, 0.0, 0.0, 30.0, 0.0}, 0.0},
      {{500.0, 0.3, -2.0, 30.0, 5.0}, kNaN},        // ln of a negative
      {{kNaN, 0.3, 100000.0, 30.0, 5.0}, kNaN},
      {{500.0, kNaN, 100000.0, 30.0, 5.0}, kNaN},
      {{500.0, 0.3, kNaN, 30.0, 5.0}, kNaN},
      {{500.0, 0.3, 100000.0, 30.0, kNaN}, kNaN},
      {{500.0, -kInf, 100000.0, 30.0, 5.0}, 0.0},
  };
  for (const auto& c : cases) {
    const double s = risk_score(c.in);
    if (std::isnan(c.score)) {
      CHECK(std::isnan(s));
    } else {
      CHECK(same_bits(s, c.score));
    }
  }
}

TEST_CASE("age reduction applies from 25, not for NaN") {
  RiskInput in = kDefaultRiskInput;
  in.age = 25.0;
  const double reduced = risk_score(in);
  in.age = 1e300;
  CHECK(same_bits(risk_score(in), reduced));
  in.age = 24.9;
  const double full = risk_score(in);
  CHECK(std::fabs((full - reduced) - 5.0) < 1e-12);
  in.age = kNaN;
  CHECK(same_bits(risk_score(in), full));
  in.age = -kInf;
  CHECK(same_bits(risk_score(in), full));
}

TEST_CASE("credit score at or below 300 has no root term") {
  // With c <= 300 the root term is exactly 0, so the score is linear in c.
  RiskInput in = {300.0, 0.0, 0.0, 30.0, 0.0};
  CHECK_EQ(risk_score(in), 65.0);  // 100 - 30 - 5
  in.credit_score = 200.0;
  CHECK_EQ(risk_score(in), 75.0);
}

TEST_CASE("defaults follow the key table") {
  RiskInput in{};
  for (const auto& f : kRiskFields) in.*f.member = f.default_value;
  CHECK(same_bits(risk_score(in), risk_score(kDefaultRiskInput)));
  CHECK_EQ(kRiskFields[kLoanAmountField].key, std::string_view("loan_amount"));
  CHECK_EQ(kDefaultRiskInput.loan_amount, kDefaultLoanAmount);
}

TEST_CASE("loan amount text: accepted literals") {
  const struct {
    std::string text;
    double value;
  } cases[] = {
      {"250000.5", 250000.5},
      {"+1", 1.0},
      {"-1", -1.0},
      {"1.", 1.0},
      {"-.5", -0.5},
      {".5", 0.5},
      {"007", 7.0},
      {"0", 0.0},
      {"-0", -0.0},
      {"1e5", 100000.0},
      {"1E+5", 100000.0},
      {"2.5e-3", 0.0025},
      {"1.e2", 100.0},
      {"inf", kInf},
      {"INF", kInf},
      {"+Infinity", kInf},
      {"-iNfInItY", -kInf},
      {"123456789012345678901234567890", 1.2345678901234568e+29},
      {"0.1", 0.1},
      {"1e400", kInf},
      {"-1e400", -kInf},
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"1e99999999999999999999999", kInf},
      {"0e99999999999999999999", 0.0},
      {"0.000e-99999999999999999999", 0.0},
      {"4.9406564584124654e-324", 5e-324},
      {"2.4703282292062328e-324", 5e-324},  // just above half the smallest subnormal
      {"2.4703282292062327e-324", 0.0},
      {"1.7976931348623157e308", 1.7976931348623157e+308},
      {"1.7976931348623159e308", kInf},
      {"0.0000000000000000000000000000001e330", 1e+299},
      {"100000000000000000000000000000e-340", 1e-311},
      {std::string(400, '9'), kInf},
      {"0." + std::string(400, '0') + "1", 0.0},
      {"00000000000000000000000000000000000000000000000000000000001e-2", 0.01},
  };
  for (const auto& c : cases) {
    const auto v = parse_loan_amount_text(c.text);
    CHECK(v.has_value());
    if (v && !same_bits(*v, c.value)) {
      std::printf("  %s -> %.17g, expected %.17g\n", c.text.c_str(), *v, c.value);
      ++zbtest::failures();
    }
  }
  for (const char* nan_text : {"nan", "NaN", "+nAn", "-NAN"}) {
    const auto v = parse_loan_amount_text(nan_text);
    CHECK(v && std::isnan(*v));
  }
}

TEST_CASE("loan amount text: refused literals") {
  const char* refused[] = {
      "", "+", "-", ".", "+.", "e5", ".e5", "1e", "1e+", "1e-", "1,000", "1_000", " 1", "1 ",
      "\t1", "1\n", "0x10", "infinit", "infinityy", "in f", "nan(1)", "snan", "--1", "+-1",
      "1..2", "1.2.3", "1e5.5", "1e5e5", "infe5", "inf1", "1f", "1d5", "1e 5", "++inf",
      "\xef\xbc\x91\xef\xbc\x92",  // fullwidth digits
      "None", "Decimal('1')",
  };
  for (const char* t : refused) {
    if (parse_loan_amount_text(t).has_value()) {
      std::printf("  accepted: \"%s\"\n", t);
      ++zbtest::failures();
    }
  }
  // An embedded NUL ends nothing: the whole view must match.
  CHECK(!parse_loan_amount_text(std::string_view("12\0" "3", 4)).has_value());
}

ZB_TEST_MAIN()
