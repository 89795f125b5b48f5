// SPDX-License-Identifier: MIT
// Volumes shared between processes: a writer killed in the middle of its work,
// and two processes that both want to write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "volume_fixture.h"

namespace {

using klv_test::pattern_bytes;

class VolumeProcessTest : public klv_test::ScratchDir {};

// The child tells the parent how far it got through a pipe; any failure in
// the child ends it with a non-zero status instead of a message.
void tell(int fd, char c) {
  if (write(fd, &c, 1) != 1) _exit(3);
}
char hear(int fd) {
  char c = 0;
  return read(fd, &c, 1) == 1 ? c : 0;
}

TEST_F(VolumeProcessTest, KilledWriterLeavesTheLastCommittedContent) {
  const std::string file = path("crash.vol");
  const std::vector<uint8_t> committed = pattern_bytes(3 * (1 << 20) + 5, 1);
  int to_parent[2];
  ASSERT_EQ(pipe(to_parent), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(to_parent[0]);
    SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_CREATE);
    if (!v || !put(v, "data", committed) || VFlush(v) != 1) _exit(2);
    // More work after the commit: overwrite the member, grow it well past the
    // page cache so that SQLite spills into the file, and add a member.
    SFilemux* f = Ovfopen(v, "data", "r+b");
    if (!f) _exit(2);
    std::vector<uint8_t> more = pattern_bytes(1 << 20, 2);
    for (int i = 0; i < 40; ++i)
      if (Owrite(f, more.data(), more.size()) != more.size()) _exit(2);
    if (Oflush(f) != 0 || !put(v, "extra", more)) _exit(2);
    tell(to_parent[1], 'w');
    for (;;) pause();
  }
  close(to_parent[1]);
  char got = hear(to_parent[0]);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(to_parent[0]);
  ASSERT_EQ(got, 'w') << "child status " << status;
  ASSERT_TRUE(WIFSIGNALED(status));
  // The uncommitted work reached the file; only the journal can undo it.
  EXPECT_TRUE(std::filesystem::exists(file + "-journal"));

  SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  std::vector<uint8_t> data;
  ASSERT_TRUE(get(v, "data", &data));
  EXPECT_EQ(data.size(), committed.size());
  EXPECT_TRUE(data == committed);
  EXPECT_EQ(Ofileexists(v, "extra", 0), 0);
  EXPECT_EQ(VClose(v), 0);
  // And a writer can take over.
  v = VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(VClose(v), 0);
}

TEST_F(VolumeProcessTest, SecondProcessWaitsForTheFirstWriter) {
  const std::string file = path("shared.vol");
  int to_parent[2], to_child[2];
  ASSERT_EQ(pipe(to_parent), 0);
  ASSERT_EQ(pipe(to_child), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(to_parent[0]);
    close(to_child[1]);
    SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_CREATE);
    // Committed once so that the file has content: the parent's refusal then
    // comes from the lock alone.
    if (!v || !put(v, "from_child", {'c'}) || VFlush(v) != 1) _exit(2);
    tell(to_parent[1], 'o');
    if (hear(to_child[0]) != 'c') _exit(2);
    _exit(VClose(v) == 0 ? 0 : 2);
  }
  close(to_parent[1]);
  close(to_child[0]);
  ASSERT_EQ(hear(to_parent[0]), 'o');
  EXPECT_EQ(VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE), nullptr);
  EXPECT_EQ(VOpen(nullptr, file.c_str(), KLV_VOL_CREATE), nullptr);
  tell(to_child[1], 'c');
  int status = 0;
  waitpid(pid, &status, 0);
  close(to_parent[0]);
  close(to_child[1]);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(Ofileexists(v, "from_child", 0), 1);
  EXPECT_EQ(VClose(v), 0);
}

}  // namespace
