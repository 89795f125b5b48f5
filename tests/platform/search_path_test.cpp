// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "klv/kernel_path.h"
#include "klv/kernel_path_cxx.h"
#include "klv/platform.h"
#include "support/env.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace klv::platform {
namespace {

using klv::test::ScopedEnv;
using klv::test::ScratchFolder;

void Touch(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "x";
}

std::string Find(const char* name, const char* which = nullptr) {
  char result[KLV_PATH_MAX];
  std::memset(result, '#', sizeof result);
  int32_t found = _findinpath_ex(which, name, result);
  EXPECT_EQ(found != 0, result[0] != '\0') << name;
  return result;
}

class SearchPath : public ::testing::Test {
 protected:
  ScratchFolder a_{"path_a"}, b_{"path_b"};
  ScopedEnv path_{"KLV_PATH", (a_.str() + "::" + b_.str() + ":").c_str()};
  ScopedEnv server_{"KLV_SERVER_PATH", nullptr};
};

TEST_F(SearchPath, FoldersInOrder) {
  std::vector<std::string> expected{a_.str(), b_.str(), ProgramFolder(), DataFolder()};
  EXPECT_EQ(kernel::search_folders(nullptr), expected);
  EXPECT_EQ(kernel::search_folders(""), expected);
  std::vector<std::string> server;
  for (const std::string& folder : expected) server.push_back(folder + "/Server");
  EXPECT_EQ(kernel::search_folders("server"), server);
  EXPECT_TRUE(kernel::search_folders("Client").empty());
}

TEST_F(SearchPath, FirstFolderThatHoldsTheNameWins) {
  Touch(b_.path() / "only_b.info");
  Touch(a_.path() / "both.info");
  Touch(b_.path() / "both.info");
  EXPECT_EQ(Find("only_b.info"), (b_.path() / "only_b.info").string());
  EXPECT_EQ(Find("both.info"), (a_.path() / "both.info").string());
  EXPECT_EQ(Find("missing.info"), "");
}

TEST_F(SearchPath, NamesWithFoldersAndBackslashes) {
  Touch(b_.path() / "Printers" / "Roll" / "x.info");
  EXPECT_EQ(Find("Printers\\Roll\\x.info"), (b_.path() / "Printers/Roll/x.info").string());
  EXPECT_EQ(Find("Printers/Roll/x.info"), (b_.path() / "Printers/Roll/x.info").string());
  EXPECT_EQ(Find("Printers"), (b_.path() / "Printers").string());  // folders are found too
}

TEST_F(SearchPath, ExistingPathIsReturnedAsGiven) {
  Touch(a_.path() / "here.info");
  std::string absolute = (a_.path() / "here.info").string();
  EXPECT_EQ(Find(absolute.c_str()), absolute);
  std::string backslashed = absolute;
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  EXPECT_EQ(Find(backslashed.c_str()), backslashed);
  // An absolute name that does not exist is not looked for in the folders.
  EXPECT_EQ(Find("/here.info"), "");
}

TEST_F(SearchPath, ProgramFolderComesAfterKlvPath) {
  // Run from a folder that does not hold the program, so only the search finds it.
  const fs::path before = fs::current_path();
  fs::current_path(a_.path());
  std::string from_program_folder = Find("test_platform");
  Touch(b_.path() / "test_platform");
  std::string from_klv_path = Find("test_platform");
  fs::current_path(before);
  EXPECT_EQ(from_program_folder, ProgramFolder() + "/test_platform");
  EXPECT_EQ(from_klv_path, (b_.path() / "test_platform").string());
}

TEST_F(SearchPath, ServerPath) {
  Touch(b_.path() / "Server" / "queue.rqx");
  EXPECT_EQ(Find("queue.rqx", "Server"), (b_.path() / "Server/queue.rqx").string());
  EXPECT_EQ(Find("queue.rqx"), "");  // not on the ordinary path

  ScratchFolder server("server");
  ScopedEnv env("KLV_SERVER_PATH", server.str().c_str());
  EXPECT_EQ(kernel::search_folders("Server"), std::vector<std::string>{server.str()});
  EXPECT_EQ(Find("queue.rqx", "Server"), "");  // the variable replaces the folders
  Touch(server.path() / "queue.rqx");
  EXPECT_EQ(Find("queue.rqx", "SERVER"), (server.path() / "queue.rqx").string());
}

TEST_F(SearchPath, BadArgumentsGiveNothing) {
  char result[KLV_PATH_MAX] = "junk";
  EXPECT_EQ(_findinpath(nullptr, result), 0);
  EXPECT_STREQ(result, "");
  std::strcpy(result, "junk");
  EXPECT_EQ(_findinpath("", result), 0);
  EXPECT_STREQ(result, "");
  EXPECT_EQ(_findinpath("x", nullptr), 0);
  Touch(a_.path() / "x.info");
  EXPECT_EQ(_findinpath_ex("Client", "x.info", result), 0);
  EXPECT_STREQ(result, "");
  // A name longer than the result buffer is refused, not copied past its end.
  std::string long_name(KLV_PATH_MAX + 100, 'n');
  EXPECT_EQ(_findinpath(long_name.c_str(), result), 0);
  EXPECT_STREQ(result, "");
}

TEST(SplitPath, TableOfCases) {
  struct Case {
    const char* path;
    const char* drive;
    const char* dir;
    const char* fname;
    const char* ext;
  };
  const Case cases[] = {
      {"C:\\Jobs\\a.b.tif", "C:", "\\Jobs\\", "a.b", ".tif"},
      {"c:file.txt", "c:", "", "file", ".txt"},
      {"/usr/share/klv/Printer.info", "", "/usr/share/klv/", "Printer", ".info"},
      {"relative/dir\\mixed/name", "", "relative/dir\\mixed/", "name", ""},
      {"Settings", "", "", "Settings", ""},
      {".\\Info", "", ".\\", "Info", ""},
      {"folder.d/noext", "", "folder.d/", "noext", ""},
      {"/home/u/.profile", "", "/home/u/", ".profile", ""},
      {"..", "", "", "..", ""},
      {"a/.", "", "a/", ".", ""},
      {"name.", "", "", "name", "."},
      {"C:\\Jobs\\", "C:", "\\Jobs\\", "", ""},
      {"\\\\server\\share\\x.rqx", "", "\\\\server\\share\\", "x", ".rqx"},
      {"1:not-a-drive", "", "", "1:not-a-drive", ""},
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    char drive[KLV_SPLIT_DRIVE], dir[KLV_SPLIT_DIR], fname[KLV_SPLIT_FNAME], ext[KLV_SPLIT_EXT];
    _splitvpath(c.path, drive, dir, fname, ext);
    EXPECT_STREQ(drive, c.drive) << c.path;
    EXPECT_STREQ(dir, c.dir) << c.path;
    EXPECT_STREQ(fname, c.fname) << c.path;
    EXPECT_STREQ(ext, c.ext) << c.path;
  }
}

TEST(SplitPath, NullOutputsAndNullPath) {
  char fname[KLV_SPLIT_FNAME] = "junk";
  _splitvpath("C:\\a\\b.c", nullptr, nullptr, fname, nullptr);
  EXPECT_STREQ(fname, "b");
  char ext[KLV_SPLIT_EXT] = "junk";
  _splitvpath(nullptr, nullptr, nullptr, nullptr, ext);
  EXPECT_STREQ(ext, "");
}

// Long parts are cut to the output sizes and never inside a UTF-8 character.
TEST(SplitPath, LongPartsAreCutSafely) {
  std::string dir(300, 'd');
  std::string name = std::string(254, 'n') + "\xC3\xA9" + "tail";  // "é" would straddle the end
  std::string ext = "." + std::string(400, 'e');
  std::string path = "/" + dir + "/" + name + ext;
  char d[KLV_SPLIT_DIR + 8], f[KLV_SPLIT_FNAME + 8], e[KLV_SPLIT_EXT + 8];
  std::memset(d, '#', sizeof d);
  std::memset(f, '#', sizeof f);
  std::memset(e, '#', sizeof e);
  _splitvpath(path.c_str(), nullptr, d, f, e);
  EXPECT_EQ(std::strlen(d), KLV_SPLIT_DIR - 1u);
  EXPECT_EQ(d[KLV_SPLIT_DIR], '#');  // nothing written past the output
  EXPECT_EQ(std::string(f), std::string(254, 'n'));
  EXPECT_EQ(std::strlen(e), KLV_SPLIT_EXT - 1u);
  EXPECT_EQ(e[0], '.');
  EXPECT_EQ(e[KLV_SPLIT_EXT], '#');
}

}  // namespace
}  // namespace klv::platform
