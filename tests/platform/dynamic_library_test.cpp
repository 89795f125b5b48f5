// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "klv/platform.h"

namespace klv::platform {
namespace {

using AnswerFn = int (*)();

TEST(DynamicLibrary, OpensFindsSymbolsAndCloses) {
  DynamicLibrary library(KLV_TEST_PLUGIN);
  ASSERT_TRUE(library.IsOpen()) << library.ErrorText();
  EXPECT_EQ(library.ErrorText(), "");
  auto answer = library.SymbolAs<AnswerFn>("fixture_answer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_STREQ(static_cast<const char*>(library.Symbol("fixture_name")), "fixture");
  EXPECT_TRUE(library.Close());
  EXPECT_FALSE(library.IsOpen());
  EXPECT_TRUE(library.Close());  // closing twice is harmless
}

TEST(DynamicLibrary, PathWithBackslashesIsMapped) {
  std::string path = KLV_TEST_PLUGIN;
  std::replace(path.begin(), path.end(), '/', '\\');
  DynamicLibrary library;
  EXPECT_TRUE(library.Open(path)) << library.ErrorText();
}

TEST(DynamicLibrary, SystemLibraryByName) {
  DynamicLibrary library("libm.so.6");
  ASSERT_TRUE(library.IsOpen()) << library.ErrorText();
  auto cosine = library.SymbolAs<double (*)(double)>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
}

TEST(DynamicLibrary, FailuresLeaveTheirTextWithTheObject) {
  DynamicLibrary missing;
  EXPECT_FALSE(missing.Open("/nonexistent/folder/libnothing.so"));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_NE(missing.ErrorText().find("libnothing.so"), std::string::npos) << missing.ErrorText();
  EXPECT_EQ(missing.Symbol("anything"), nullptr);
  EXPECT_EQ(missing.ErrorText(), "library is not open");

  DynamicLibrary empty;
  EXPECT_FALSE(empty.Open(""));
  EXPECT_FALSE(empty.ErrorText().empty());

  DynamicLibrary library(KLV_TEST_PLUGIN);
  ASSERT_TRUE(library.IsOpen());
  EXPECT_EQ(library.Symbol("no_such_symbol"), nullptr);
  EXPECT_NE(library.ErrorText().find("no_such_symbol"), std::string::npos) << library.ErrorText();
  // Another object's failure does not change this one's text, and a success clears it.
  EXPECT_FALSE(missing.Open("/nonexistent/other.so"));
  EXPECT_NE(library.ErrorText().find("no_such_symbol"), std::string::npos);
  EXPECT_NE(library.Symbol("fixture_answer"), nullptr);
  EXPECT_EQ(library.ErrorText(), "");
  EXPECT_EQ(library.Symbol(nullptr), nullptr);
}

TEST(DynamicLibrary, MoveHandsOverTheHandle) {
  DynamicLibrary first(KLV_TEST_PLUGIN);
  ASSERT_TRUE(first.IsOpen());
  DynamicLibrary second(std::move(first));
  EXPECT_FALSE(first.IsOpen());
  ASSERT_TRUE(second.IsOpen());
  DynamicLibrary third;
  third = std::move(second);
  EXPECT_FALSE(second.IsOpen());
  auto answer = third.SymbolAs<AnswerFn>("fixture_answer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
}

}  // namespace
}  // namespace klv::platform
