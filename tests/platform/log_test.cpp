// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "klv/log.h"
#include "klv/platform.h"
#include "support/env.h"
#include "support/files.h"

namespace klv::platform {
namespace {

using klv::test::ScopedEnv;
using klv::test::ScratchFolder;

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Messages, KnownNumbersHaveTexts) {
  struct Case {
    int32_t id;
    const char* text;
  };
  const Case cases[] = {
      {39, "mm"}, {38, "cm"},   {40, "dm"},    {31, "m"},       {219, "metre"},
      {41, "in"}, {42, "Roll"}, {43, "Sheet"}, {45, "Default"},
  };
  for (const Case& c : cases) EXPECT_STREQ(klv_message(c.id), c.text) << c.id;
  EXPECT_STRNE(klv_message(44), "");
  EXPECT_STRNE(klv_message(104), "");
  EXPECT_STREQ(klv_message(KLV_MSG_INK_CYAN), "Cyan");
}

TEST(Messages, UnknownNumbersGiveEmptyText) {
  for (int32_t id : {-1, 0, 1, 32, 218, 220, 100000, INT32_MIN, INT32_MAX}) {
    EXPECT_STREQ(klv_message(id), "") << id;
  }
}

// Unit names are found in dimension texts in the order mm, cm, dm, m, metre:
// the first one a text holds must be the unit the text was written in.
TEST(Messages, UnitNamesAreFoundInTheirOwnOrder) {
  const int32_t order[] = {39, 38, 40, 31, 219};
  struct Case {
    const char* text;
    int32_t unit;  // 0: no unit name, inches
  };
  const Case cases[] = {
      {"297 mm", 39},  {"29.7 cm", 38},  {"2.97 dm", 40}, {"1.2 m", 31},
      {"3 metre", 31}, {"64.000 in", 0}, {"11", 0},
  };
  for (const Case& c : cases) {
    int32_t found = 0;
    for (int32_t id : order) {
      if (std::string(c.text).find(klv_message(id)) != std::string::npos) {
        found = id;
        break;
      }
    }
    EXPECT_EQ(found, c.unit) << c.text;
  }
}

TEST(Logger, AppendsToTheNamedFileAndFollowsChanges) {
  ScratchFolder folder("log");
  const auto first = folder.path() / "first.log";
  const auto second = folder.path() / "second.log";
  {
    ScopedEnv env("KLV_LOG", first.c_str());
    ErrorLog(KLV_LOG_ERROR, "one", "/src/a/file.cpp", 12);
    ErrorLogf(KLV_LOG_INFO, "b.cpp", 7, "two %d", 2);
    // Lines are flushed as they are written, so the file is complete now.
    EXPECT_EQ(ReadAll(first), "klv ERROR one (file.cpp:12)\nklv INFO two 2 (b.cpp:7)\n");
  }
  {
    ScopedEnv env("KLV_LOG", second.c_str());
    KLV_LOG(KLV_LOG_WARNING, "three");
    EXPECT_NE(ReadAll(second).find("klv WARNING three (log_test.cpp:"), std::string::npos);
  }
  {
    ScopedEnv env("KLV_LOG", "/dev/null");
    ErrorLog(KLV_LOG_ERROR, "silenced", nullptr, 0);
  }
  {
    ScopedEnv env("KLV_LOG", first.c_str());
    ErrorLog(KLV_LOG_DEBUG, nullptr, nullptr, 0);
  }
  EXPECT_EQ(ReadAll(first),
            "klv ERROR one (file.cpp:12)\nklv INFO two 2 (b.cpp:7)\nklv DEBUG  (?:0)\n");
  EXPECT_EQ(ReadAll(second).find("silenced"), std::string::npos);
}

// Many threads logging at once give whole lines, none lost or mixed.
TEST(Logger, LinesFromManyThreadsStayWhole) {
  ScratchFolder folder("logmt");
  const auto path = folder.path() / "mt.log";
  ScopedEnv env("KLV_LOG", path.c_str());
  constexpr int kThreads = 4, kLines = 500;
  {
    std::vector<std::unique_ptr<Thread>> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.push_back(std::make_unique<Thread>("logger"));
      threads.back()->Start([t] {
        for (int i = 0; i < kLines; ++i) KLV_LOG(KLV_LOG_INFO, "thread %d line %d", t, i);
      });
    }
  }
  std::ifstream in(path);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    EXPECT_EQ(line.rfind("klv INFO thread ", 0), 0u) << line;
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace klv::platform
