// SPDX-License-Identifier: MIT
// Hostile scripts end with an error that names the line: loops that never
// end, deep nesting, huge variables, huge tokens and scripts that never close.
#include <gtest/gtest.h>

#include <string>

#include "script_support.h"
#include "support/log_capture.h"

namespace {

using klv::test::run_script;

INTERP_LIMITS small_limits() {
  INTERP_LIMITS l{};
  l.max_steps = 20000;
  l.max_script_bytes = 4 << 20;
  return l;
}

std::string repeat(const std::string& text, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += text;
  return s;
}

std::string nested(int depth, const std::string& inner) {
  return std::string(static_cast<size_t>(depth), '{') + inner +
         std::string(static_cast<size_t>(depth), '}');
}

struct HostileCase {
  const char* name;
  std::string script;
  const char* error;  // a part of the fault's text
  int32_t line;
};

TEST(ScriptLimits, HostileScriptsEndWithAnError) {
  klv::test::LogCapture log;
  const HostileCase cases[] = {
      {"endless while", "{\n while {True} do {Say {x}}\n Say {after}\n}", "steps", 2},
      {"endless while over empty lists", "{ while {} do {} }", "steps", 1},
      {"endless do", "{ do {} while {True} }", "steps", 1},
      {"long script", "{" + repeat(" Say", 30000) + " }", "steps", 1},
      {"deep lists", "{ Say " + nested(100, "x") + " }", "nested deeper than 64", 1},
      {"thousands of levels", nested(5000, ""), "nested deeper", 1},
      {"deep runs through Not",
       "{ " +
           [] {
             std::string s = "True";
             for (int i = 0; i < 70; ++i) s = "Not {" + s + "}";
             return s;
           }() +
           " }",
       "nested deeper than 64", 1},
      {"huge string buffers", "{\n\n DimStr {100000 100000} }", "DimStr asks for", 3},
      {"many strings", "{ DimStr {5000 1} }", "string variables", 1},
      {"many numbers", "{ DimVal {2000000000} }", "numeric variables", 1},
      {"many long tokens", "{" + repeat(" " + std::string(60000, 'w'), 300) + " }",
       "holds more than", 1},
      {"huge token", "{ Say {" + std::string(70000, 'a') + "} }", "does not close", 1},
      {"block never closes", "{ Say {a}\n Say {b}\n", "does not close", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto run = run_script(c.script, false, small_limits());
    EXPECT_EQ(run.result, 0);
    EXPECT_NE(run.error.find(c.error), std::string::npos) << run.error;
    EXPECT_EQ(run.error_line, c.line) << run.error;
    EXPECT_EQ(run.error.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << run.error;
    EXPECT_LE(run.steps, small_limits().max_steps + 1);
    EXPECT_EQ(run.trace.find("after"), std::string::npos);
  }
  EXPECT_NE(log.Text().find("script stopped at line"), std::string::npos);
}

TEST(ScriptLimits, FaultStopsEverythingAfter) {
  INTERP_LIMITS l{};
  l.max_steps = 50;
  const auto run =
      run_script("{ DimVal {1} while {Less {v0 1000}} do {Add {v0 1}} Say {after} }", false, l);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.trace, "");
  ASSERT_EQ(run.numbers.size(), 1u);
  EXPECT_LT(run.numbers[0], 50);
}

TEST(ScriptLimits, WithinTheLimitsScriptsRunWhole) {
  // A loop of 1000 rounds fits in the default budget; strings at the limits fit.
  const auto run = run_script(
      "{ DimVal {1} while {Less {v0 1000}} do {Add {v0 1}} DimStr {4096 4096} Say {done} }");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.trace, "done");
  EXPECT_EQ(run.numbers, std::vector<int32_t>{1000});
  EXPECT_EQ(run.strings.size(), 4096u);
}

TEST(ScriptLimits, HostSetsLimits) {
  INTERP* ip = interp_attach(nullptr, nullptr, 0, nullptr);
  INTERP_LIMITS l{};
  ASSERT_EQ(interp_get_limits(ip, &l), 1);
  EXPECT_EQ(l.max_steps, 1000000);
  EXPECT_EQ(l.max_depth, 64);
  INTERP_LIMITS change{};
  change.max_depth = 8;
  interp_set_limits(ip, &change);
  interp_get_limits(ip, &l);
  EXPECT_EQ(l.max_depth, 8);
  EXPECT_EQ(l.max_steps, 1000000);  // 0 keeps the limit
  EXPECT_STREQ(interp_error(ip), "");
  interp_free(ip);
}

}  // namespace
