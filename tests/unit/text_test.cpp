// Number formatting and parsing that must not depend on the process locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/text.h"
#include "support/scenarios.h"

namespace k2t {
namespace {

std::string Fixed(double v, int width, int precision, bool plus) {
  char buf[512];
  return std::string(buf, FormatFixed(buf, sizeof buf, v, width, precision, plus));
}

// printf in the C locale is the reference for every format the module uses.
TEST(FormatFixed, MatchesPrintfInTheCLocale) {
  ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
  const double values[] = {0.0, -0.0, 1.23456, -1.23456, 12.5, -0.5, 123.456, 0.00005, 0.00015,
                           0.125, 2.675, 1e-7, -1e-7, 99.95, 100.0, 9999.5, 12000.0, 1e15,
                           -123456789.123, 0.1 + 0.2, 1.0 / 3.0, 2.5, 3.5, -2.5, 1e300};
  const struct {
    int width, precision;
    bool plus;
    const char* format;
  } formats[] = {
      {10, 4, true, "%+10.4f"}, {9, 4, true, "%+9.4f"}, {8, 4, true, "%+8.4f"}, {5, 1, false, "%5.1f"},
      {5, 0, false, "%5.0f"},   {6, 4, false, "%6.4f"}, {3, 0, false, "%3.0f"}, {8, 2, false, "%8.2f"},
      {1, 0, false, "%1.0f"},   {4, 0, false, "%4.0f"}, {6, 0, false, "%6.0f"}, {4, 1, false, "%4.1f"},
      {6, 1, false, "%6.1f"},   {0, 4, false, "%.4f"},  {0, 6, false, "%f"},
  };
  for (double v : values) {
    for (const auto& f : formats) {
      char expected[512];
      std::snprintf(expected, sizeof expected, f.format, v);
      EXPECT_EQ(Fixed(v, f.width, f.precision, f.plus), expected) << f.format << " of " << v;
    }
  }
}

TEST(FormatFixed, StaysWithADotUnderACommaLocale) {
  const char* locale = nullptr;
  for (const char* name : testing::kCommaLocaleNames)
    if (!locale) locale = std::setlocale(LC_ALL, name);
  if (!locale) {
    if (std::getenv("K2T_REQUIRE_COMMA_LOCALE")) FAIL() << "de_DE.UTF-8 is not installed";
    GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  }
  char check[32];
  std::snprintf(check, sizeof check, "%.1f", 1.5);
  EXPECT_STREQ(check, "1,5");  // the locale really is in force
  EXPECT_EQ(Fixed(-1234.5678, 0, 4, false), "-1234.5678");
  EXPECT_EQ(ParseLeadingDouble("0.254"), 0.254);
  std::setlocale(LC_ALL, "C");
}

TEST(FormatFixed, CutsAtTheCapacity) {
  char buf[4];
  EXPECT_EQ(FormatFixed(buf, sizeof buf, 12345.678, 0, 2, false), 4u);
  EXPECT_EQ(std::string(buf, 4), "1234");
}

TEST(ParseLeadingInt, StandardConversion) {
  const struct {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"42", 42},    {" \t42", 42}, {"-5", -5},         {"+7", 7},         {"12abc", 12},
      {"abc", 0},    {"", 0},       {"-", 0},           {"- 5", 0},        {"70000", 70000},
      {"2147483647", 2147483647},   {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"4294967297", 1},  // beyond 32 bits: wraps, never undefined
      {"899  , ---", 899},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLeadingInt(c.text), c.expected) << c.text;
}

TEST(ParseLeadingInt32, RefusesWhatDoesNotFit) {
  const struct {
    const char* text;
    LeadingInt result;
    std::int32_t value;
  } cases[] = {
      {" +12abc", LeadingInt::kValid, 12},
      {"2147483647", LeadingInt::kValid, 2147483647},
      {"-2147483648", LeadingInt::kValid, std::numeric_limits<std::int32_t>::min()},
      {"000000000000000000000042", LeadingInt::kValid, 42},
      {"-0", LeadingInt::kValid, 0},
      {"2147483648", LeadingInt::kOutOfRange, 0},
      {"-2147483649", LeadingInt::kOutOfRange, 0},
      {"4294967297", LeadingInt::kOutOfRange, 0},
      {"-4294967046", LeadingInt::kOutOfRange, 0},
      {"99999999999999999999999999", LeadingInt::kOutOfRange, 0},
      {"", LeadingInt::kNone, 0},
      {" ", LeadingInt::kNone, 0},
      {"-", LeadingInt::kNone, 0},
      {"- 1", LeadingInt::kNone, 0},
      {"--1", LeadingInt::kNone, 0},
      {"x1", LeadingInt::kNone, 0},
  };
  for (const auto& c : cases) {
    std::int32_t value = 0;
    EXPECT_EQ(ParseLeadingInt32(c.text, value), c.result) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(ParseLeadingDouble, PrefixWithADot) {
  const struct {
    const char* text;
    double expected;
  } cases[] = {
      {"0.001", 0.001}, {" 0.254", 0.254}, {"-1.5mm", -1.5}, {"+2", 2.0},  {"1e-3", 0.001},
      {".5", 0.5},      {"abc", 0.0},      {"", 0.0},        {"--1", 0.0}, {"+-1", 0.0},
      {"1,5", 1.0},     {"1e999", HUGE_VAL}, {"1e-999", 0.0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLeadingDouble(c.text), c.expected) << c.text;
}

TEST(TextBuffer, AppendsAndCuts) {
  TextBuffer<8> t;
  t.Append("G91").AppendInt(-12).AppendFixed(1.5, 0, 1);
  EXPECT_STREQ(t.c_str(), "G91-121");
  EXPECT_EQ(t.size(), 7u);
}

}  // namespace
}  // namespace k2t
