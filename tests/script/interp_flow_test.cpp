// SPDX-License-Identifier: MIT
// The interpreter's control flow and built-in commands, shown as small
// scripts and what they did: the words their Say commands said, the result
// of the run and the variables left behind.
#include <gtest/gtest.h>

#include <string>

#include "script_support.h"

namespace {

using klv::test::run_script;

struct FlowCase {
  const char* script;
  const char* trace;  // what the Say commands said, in order
  int32_t result;     // interp_file in statement mode
};

const FlowCase kFlow[] = {
    // Statements and blocks.
    {"{ Say {a} Say {b c} }", "a b c", 1},
    {"{ Say {a} { Say {nested} } Say {b} }", "a nested b", 1},
    {"{ say {letter case} SAY {ignored} }", "letter case ignored", 1},
    // Unknown commands and failing commands do not stop a statement list; a
    // list after an unknown token runs as a block.
    {"{ Frobnicate {Say {x}} Say {after} }", "x after", 1},
    {"{ False Say {still} }", "still", 1},
    {"{ Nothing {Say {no function}} Say {end} }", "no function end", 1},
    // if / then / else.
    {"{ if {True} then {Say {then}} else {Say {else}} }", "then", 1},
    {"{ if {False} then {Say {then}} else {Say {else}} }", "else", 1},
    {"{ if {False} then {Say {then}} Say {next} }", "next", 1},
    {"{ if {False} else {Say {else only}} }", "else only", 1},
    {"{ if {True False} then {Say {all}} else {Say {not all}} }", "not all", 1},
    {"{ if {Unknown} then {Say {yes}} else {Say {no}} }", "no", 1},
    {"{ if {} then {Say {empty holds}} }", "empty holds", 1},
    // Or and Not.
    {"{ if {Or {{False} {True}}} then {Say {or}} }", "or", 1},
    {"{ if {Or {{False} {False}}} then {Say {or}} else {Say {neither}} }", "neither", 1},
    {"{ if {Or {{True} {Say {not tried}}}} then {Say {first}} }", "first", 1},
    {"{ if {Not {False}} then {Say {not}} }", "not", 1},
    {"{ if {Not {True}} then {Say {x}} else {Say {not not}} }", "not not", 1},
    // while / do.
    {"{ DimVal {1} while {Less {v0 3}} do {Say {w} Add {v0 1}} }", "w w w", 1},
    {"{ while {False} do {Say {never}} Say {done} }", "done", 1},
    {"{ while {True} Say {no do part} }", "no do part", 1},
    // do / while.
    {"{ do {Say {once}} while {False} }", "once", 1},
    {"{ do {Say {alone}} }", "alone", 1},
    {"{ DimVal {1} do {Say {d} Add {v0 1}} while {Less {v0 2}} }", "d d", 1},
    // case: the first command of the selector gives the branch.
    {"{ DimVal {1} Store {v0 2} case {{Fetch {v0}} {Say {one}} {Say {two}}} }", "two", 1},
    {"{ DimVal {1} Store {v0 1} case {{Fetch {v0}} {Say {one}} {Say {two}}} }", "one", 1},
    {"{ DimVal {1} Store {v0 5} case {{Fetch {v0}} {Say {one}}} Say {none} }", "none", 1},
    {"{ case {{Unknown} {Say {one}}} Say {none} }", "none", 1},
    {"{ case {NotAList {Say {one}}} Say {none} }", "none", 1},
    // Variables through Fetch in conditions.
    {"{ DimStr {2 8} Store {s1 42} if {Fetch {s1}} then {Say {nonzero}} }", "nonzero", 1},
    // Malformed scripts run nothing.
    {"{ Say {a} Say {b", "", 0},
    {"{ Say {a}", "", 0},
};

TEST(ScriptFlow, ScriptsAndWhatTheyDid) {
  for (const auto& c : kFlow) {
    SCOPED_TRACE(c.script);
    const auto run = run_script(c.script);
    EXPECT_EQ(run.trace, c.trace);
    EXPECT_EQ(run.result, c.result);
  }
}

struct ConditionCase {
  const char* script;
  int32_t result;  // interp_file in condition mode
};

const ConditionCase kConditions[] = {
    {"{ True True }", 1},     {"{ True False Say {skipped} }", 0},
    {"{ NoSuchCommand }", 0}, {"{ }", 1},
    {"{ Not {False} }", 1},   {"{ DimVal {1} Fetch {v0} }", 0},
    {"{ Fetch {v9} }", 1},  // out of range gives -1, which is true
};

TEST(ScriptFlow, ConditionMode) {
  for (const auto& c : kConditions) {
    SCOPED_TRACE(c.script);
    const auto run = run_script(c.script, true);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.trace, "");
  }
}

struct VariableCase {
  const char* script;
  std::vector<int32_t> numbers;
  std::vector<std::string> strings;
};

const VariableCase kVariables[] = {
    {"{ DimVal {3} }", {0, 0, 0}, {}},
    {"{ DimVal {3} DimVal {1} }", {0, 0, 0}, {}},  // never shrinks
    {"{ DimVal {2} Store {v1 17} Store {0 v1} }", {17, 17}, {}},
    {"{ DimVal {1} Store {v0 -5} }", {-5}, {}},
    {"{ DimVal {1} Store {v7 1} }", {0}, {}},  // out of range: nothing changes
    {"{ DimStr {2 6} Store {s0 hello} Store {s1 \"two words\"} }", {}, {"hello", "two w"}},
    {"{ DimStr {1 4} DimStr {2 2} Store {s1 abcdef} }", {}, {"", "abc"}},  // length never shrinks
    {"{ DimStr {1 0} Store {s0 x} }", {}, {}},                             // length below 1
    // A backslash and v<m> stores the number's text.
    {"{ DimVal {2} Store {v1 -12} DimStr {1 8} Store {s0 \\v1} }", {0, -12}, {"-12"}},
    // m out of range: nothing is stored, and the command succeeds.
    {"{ DimVal {3} DimStr {1 8} Store {s0 old} Store {s0 \\v3} }", {0, 0, 0}, {"old"}},
    // Reading numbers from strings and from variables.
    {"{ DimStr {1 8} Store {s0 \"12abc\"} DimVal {2} Store {v0 s0} Store {v1 v0} }",
     {12, 12},
     {"12abc"}},
    // Flattened arguments: nested lists count as their tokens.
    {"{ DimVal {{2}} Store {{v1} {9}} }", {0, 9}, {}},
};

TEST(ScriptVariables, DimStoreFetch) {
  for (const auto& c : kVariables) {
    SCOPED_TRACE(c.script);
    const auto run = run_script(c.script);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.numbers, c.numbers);
    EXPECT_EQ(run.strings, c.strings);
  }
}

TEST(ScriptVariables, StoreResults) {
  // Store's own result, seen through a condition.
  const struct {
    const char* script;
    int32_t result;
  } cases[] = {
      {"{ DimVal {1} Store {v0 1} }", 1},
      {"{ DimVal {1} Store {v0} }", 0},      // fewer than two arguments
      {"{ DimVal {1} Store {v1 3} }", 0},    // index out of range
      {"{ DimStr {1 4} Store {s1 x} }", 0},  // string index out of range
      {"{ Store {s0 x} }", 0},               // no strings dimensioned
      {"{ Store {notavariable 3} }", 0},     // not a variable
      {"{ DimVal {4} DimStr {1 4} Store {s0 \\v3} }", 1},
      {"{ DimVal {3} DimStr {1 4} Store {s0 \\v3} }", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(run_script(c.script, true).result, c.result);
  }
}

TEST(ScriptValues, IndexesAndNumbers) {
  EXPECT_EQ(interp_getindex("v12"), 12);
  EXPECT_EQ(interp_getindex("V3"), 3);
  EXPECT_EQ(interp_getindex("7"), 7);
  EXPECT_EQ(interp_getindex(nullptr), -1);
  EXPECT_EQ(interp_getindex("s1"), -1);
  EXPECT_EQ(interp_getindex("v"), -1);
  EXPECT_EQ(interp_getindex("v99999999999"), -1);
  EXPECT_EQ(interp_str_index("S4"), 4);
  EXPECT_EQ(interp_str_index("v4"), -1);
  INTERP* ip = interp_attach(nullptr, nullptr, 0, nullptr);
  ASSERT_NE(ip, nullptr);
  EXPECT_EQ(interp_sget_num(ip, "-31"), -31);
  EXPECT_EQ(interp_sget_num(ip, "v0"), 0);  // out of range
  EXPECT_EQ(interp_sget_num(ip, "s0"), 0);
  EXPECT_EQ(interp_sget_val_ptr(ip, "v0"), nullptr);
  const INTERP_ELEM list_elem{nullptr, nullptr, 1};
  EXPECT_EQ(interp_eget_num(ip, &list_elem), 0);
  EXPECT_EQ(interp_eget_val_ptr(ip, &list_elem), nullptr);
  interp_free(ip);
}

TEST(ScriptValues, StringsAreCutWholeCharacters) {
  // "é" is two bytes; a buffer of 3 holds 2 bytes of text, so "aé" is cut
  // to "a" rather than half a character.
  const auto run = run_script("{ DimStr {1 3} Store {s0 a\xC3\xA9} }");
  ASSERT_EQ(run.strings.size(), 1u);
  EXPECT_EQ(run.strings[0], "a");
}

TEST(ScriptInterp, TableInAnyOrderAndCase) {
  int32_t calls = 0;
  auto count = [](const INTERP_LIST*, int32_t arg, INTERP* ip) -> int32_t {
    *static_cast<int32_t*>(interp_host(ip)) += arg;
    return 1;
  };
  const INTERP_CMD table[] = {{"zeta", 100, count}, {"Alpha", 1, count}, {"mid", 10, count}};
  INTERP* ip = interp_attach(nullptr, table, 3, &calls);
  INTERP_ELEM elems[] = {{const_cast<char*>("ALPHA"), nullptr, 1},
                         {const_cast<char*>("Mid"), nullptr, 1},
                         {const_cast<char*>("ZETA"), nullptr, 1}};
  const INTERP_LIST list{3, elems, 1};
  EXPECT_EQ(interp_list(ip, &list, 1), 1);
  EXPECT_EQ(calls, 111);
  EXPECT_EQ(interp_list(ip, nullptr, 1), 1);
  EXPECT_EQ(interp_try(ip, &list, nullptr, nullptr), 0);  // the chosen list is missing
  interp_free(ip);
  EXPECT_EQ(interp_attach(nullptr, nullptr, 2, nullptr), nullptr);
  EXPECT_EQ(interp_free(nullptr), 0);
  EXPECT_EQ(interp_list(nullptr, &list, 0), 0);
}

}  // namespace
