// SPDX-License-Identifier: MIT
// The number reader: values and the count of characters used.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

#include "klv/kernel_util.h"

namespace {

struct NumberCase {
  const char* text;
  double value;
  int used;  // characters taken
};

const NumberCase kCases[] = {
    {"297mm", 297.0, 3},
    {" -1.5e2x", -150.0, 7},
    {"", 0.0, 0},
    {"abc", 0.0, 0},
    {".5", 0.5, 2},
    {"5.", 5.0, 2},
    {"+12.25 in", 12.25, 6},
    {"\t\n 42", 42.0, 5},
    {"1e", 1.0, 1},  // no exponent digits: the 'e' is not taken
    {"1e+", 1.0, 1},
    {"2E-3cm", 0.002, 4},
    {"-", 0.0, 0},
    {"-.", 0.0, 0},
    {".", 0.0, 0},
    {"- 5", 0.0, 0},   // no blank after the sign
    {"0x1A", 0.0, 1},  // hexadecimal is not read
    {"inf", 0.0, 0},
    {"nan", 0.0, 0},
    {"1,5", 1.0, 1},  // the point is always '.'
    {"007", 7.0, 3},
    {"1e400", HUGE_VAL, 5},
    {"-1e400", -HUGE_VAL, 6},
    {"1e-400", 0.0, 6},
};

TEST(OatofEx, TableOfTexts) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const char* end = nullptr;
    double v = OatofEx(c.text, &end);
    EXPECT_EQ(v, c.value);
    EXPECT_EQ(end - c.text, c.used);
    EXPECT_EQ(OatofEx(c.text, nullptr), c.value);
  }
  const char* end = reinterpret_cast<const char*>(1);
  EXPECT_EQ(OatofEx(nullptr, &end), 0.0);
  EXPECT_EQ(end, nullptr);
}

// Digits alone can leave the range of a double in both directions.
TEST(OatofEx, LongDigitRuns) {
  std::string tiny = "0." + std::string(400, '0') + "1";
  std::string huge(400, '9');
  std::string big_exp = "0." + std::string(400, '0') + "1e500";
  const char* end = nullptr;
  EXPECT_EQ(OatofEx(tiny.c_str(), &end), 0.0);
  EXPECT_EQ(end, tiny.c_str() + tiny.size());
  EXPECT_EQ(OatofEx(huge.c_str(), &end), HUGE_VAL);
  EXPECT_EQ(end, huge.c_str() + huge.size());
  EXPECT_DOUBLE_EQ(OatofEx(big_exp.c_str(), &end), 1e99);
}

// A locale with ',' as its decimal separator does not change the reading.
TEST(OatofEx, IgnoresTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
    GTEST_SKIP() << "no locale with a decimal comma installed";
  const char* end = nullptr;
  EXPECT_EQ(OatofEx("2.54cm", &end), 2.54);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(OatoiEx, TableOfTexts) {
  struct Case {
    const char* text;
    int32_t value;
    int used;
  };
  const Case cases[] = {
      {"720x1440", 720, 3},
      {" -15 dpi", -15, 4},
      {"", 0, 0},
      {"x", 0, 0},
      {"+7", 7, 2},
      {"2147483647", INT32_MAX, 10},
      {"2147483648", INT32_MAX, 10},
      {"-2147483648", INT32_MIN, 11},
      {"-99999999999", INT32_MIN, 12},
      {"3.9", 3, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const char* end = nullptr;
    EXPECT_EQ(OatoiEx(c.text, &end), c.value);
    EXPECT_EQ(end - c.text, c.used);
  }
  EXPECT_EQ(OatoiEx(nullptr, nullptr), 0);
}

}  // namespace
