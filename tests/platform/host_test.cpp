// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "klv/platform.h"
#include "support/env.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace klv::platform {
namespace {

using klv::test::ScopedEnv;
using klv::test::ScratchFolder;

TEST(Host, NamesAreKnown) {
  EXPECT_FALSE(UserName().empty());
  EXPECT_FALSE(ComputerName().empty());
}

TEST(Host, ProgramFolderHoldsTheTestProgram) {
  ASSERT_FALSE(ProgramPath().empty());
  EXPECT_TRUE(fs::equivalent(ProgramFolder(), fs::path(KLV_BINARY_DIR) / "tests"));
  EXPECT_EQ(fs::path(ProgramPath()).parent_path().string(), ProgramFolder());
}

TEST(Host, DataFolderIsTheInstalledShareFolder) {
  std::string folder = DataFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(fs::path(folder).filename(), "klv");
}

TEST(Host, TempFolderFollowsTmpdir) {
  {
    ScopedEnv env("TMPDIR", "/var/tmp/");
    EXPECT_EQ(TempFolder(), "/var/tmp");
  }
  {
    ScopedEnv env("TMPDIR", "");
    EXPECT_EQ(TempFolder(), "/tmp");
  }
  {
    ScopedEnv env("TMPDIR", nullptr);
    EXPECT_EQ(TempFolder(), "/tmp");
  }
}

TEST(Host, TempFileNamesAreCreatedAndUnique) {
  ScratchFolder scratch("tempname");
  const fs::path& folder = scratch.path();
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    std::string name = TempFileName("OVI", ".tif", folder.string());
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(fs::is_regular_file(name));
    EXPECT_EQ(fs::file_size(name), 0u);
    EXPECT_EQ(fs::path(name).parent_path(), folder);
    EXPECT_EQ(fs::path(name).filename().string().rfind("OVI", 0), 0u);
    EXPECT_EQ(fs::path(name).extension(), ".tif");
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 50u);
  {
    ScopedEnv env("TMPDIR", folder.c_str());
    std::string name = TempFileName("x");
    EXPECT_EQ(fs::path(name).parent_path(), folder);
  }
  EXPECT_EQ(TempFileName("OVI", "", "/nonexistent/folder"), "");
}

TEST(Host, JoinPath) {
  struct Case {
    const char* folder;
    const char* name;
    const char* joined;
  };
  const Case cases[] = {
      {"/a", "b", "/a/b"},          {"/a/", "b", "/a/b"}, {"/a", "/b", "/a/b"},
      {"/a/", "/b", "/a/b"},        {"", "b", "b"},       {"/a", "", "/a"},
      {"C:\\x\\", "y", "C:\\x\\y"},
  };
  for (const Case& c : cases) EXPECT_EQ(JoinPath(c.folder, c.name), c.joined);
}

TEST(Host, ClocksAreMonotonicAndSleepWaits) {
  int64_t us = MonotonicUs();
  int64_t ms = MonotonicMs();
  Sleep(20);
  EXPECT_GE(MonotonicMs() - ms, 20);
  EXPECT_GE(MonotonicUs() - us, 20000);
  Sleep(0);
  Sleep(-5);  // no wait, no failure
}

// The stamp is fixed in a process, differs in a forked child (even when the
// parent computed its own before the fork), can be read for another live
// process, and reads 0 once that process is gone.
TEST(Host, ProcessStampIsPerProcess) {
  const uint64_t stamp = ProcessStamp();
  EXPECT_NE(stamp, 0u);
  EXPECT_EQ(ProcessStamp(), stamp);
  EXPECT_EQ(ProcessStampOf(ProcessId()), stamp);
  EXPECT_EQ(ProcessStampOf(0), 0u);
  EXPECT_EQ(ProcessStampOf(-1), 0u);

  int to_parent[2], to_child[2];
  ASSERT_EQ(pipe(to_parent), 0);
  ASSERT_EQ(pipe(to_child), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(to_parent[0]);
    close(to_child[1]);
    uint64_t own = ProcessStamp();
    ssize_t written = write(to_parent[1], &own, sizeof own);
    char wait_for_close;
    ssize_t got = read(to_child[0], &wait_for_close, 1);
    _exit(written == sizeof own && got == 0 ? 0 : 1);
  }
  close(to_parent[1]);
  close(to_child[0]);
  uint64_t child_stamp = 0;
  ASSERT_EQ(read(to_parent[0], &child_stamp, sizeof child_stamp),
            static_cast<ssize_t>(sizeof child_stamp));
  EXPECT_NE(child_stamp, 0u);
  EXPECT_NE(child_stamp, stamp);
  EXPECT_EQ(ProcessStampOf(child), child_stamp);
  close(to_child[1]);  // lets the child end
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(to_parent[0]);
  EXPECT_EQ(ProcessStampOf(child), 0u);
}

}  // namespace
}  // namespace klv::platform
