// SPDX-License-Identifier: MIT
// Volumes shared between processes: a writer killed in the middle of its work,
// and two processes that both want to write.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "volume_fixture.h"

namespace {

using klv::test::pattern_bytes;

class VolumeProcessTest : public klv::test::VolumeFixture {};

// The child tells the parent how far it got through a pipe; any failure in
// the child ends it with a non-zero status instead of a message.
void tell(int fd, char c) {
  if (write(fd, &c, 1) != 1) _exit(3);
}
char hear(int fd) {
  char c = 0;
  return read(fd, &c, 1) == 1 ? c : 0;
}
// True when the pipe has a byte (or its writer went away) right now.
bool ready(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

// Whether a plain SQLite connection could start a write transaction on the
// file now, from a separate process so that this process's locks count.
bool sqlite_writer_gets_in(const std::string& file) {
  pid_t pid = fork();
  if (pid == 0) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) _exit(2);
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
    _exit(rc == SQLITE_OK ? 0 : (rc & 0xff) == SQLITE_BUSY ? 1 : 2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << status;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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

// A large member rewritten from the start frees its old pages before the new
// content takes them; a writer killed in the middle must still leave a sound
// volume with the member either as it was or empty.
TEST_F(VolumeProcessTest, KilledRewriteLeavesASoundVolume) {
  const std::string file = path("rewrite.vol");
  const std::vector<uint8_t> old_big = pattern_bytes(12 * (1 << 20) + 17, 3);
  const std::vector<uint8_t> keep = pattern_bytes(70000, 4);
  int to_parent[2];
  ASSERT_EQ(pipe(to_parent), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(to_parent[0]);
    SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_CREATE);
    if (!v || !put(v, "big", old_big) || !put(v, "keep", keep) || VFlush(v) != 1) _exit(2);
    SFilemux* f = Ovfopen(v, "big", "wb");
    if (!f) _exit(2);
    std::vector<uint8_t> more = pattern_bytes(1 << 20, 5);
    for (int i = 0; i < 20; ++i)
      if (Owrite(f, more.data(), more.size()) != more.size()) _exit(2);
    if (Oflush(f) != 0) _exit(2);
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

  SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  std::vector<uint8_t> data;
  ASSERT_TRUE(get(v, "keep", &data));
  EXPECT_TRUE(data == keep);
  ASSERT_TRUE(get(v, "big", &data));
  EXPECT_TRUE(data.empty() || data == old_big) << data.size() << " bytes";
  EXPECT_EQ(VClose(v), 0);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
  sqlite3_finalize(st);
  sqlite3_close_v2(db);
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

TEST_F(VolumeProcessTest, NoWriterGetsInWhileTheFirstFlushesOverAndOver) {
  const std::string file = path("flushing.vol");
  int to_parent[2], to_child[2];
  ASSERT_EQ(pipe(to_parent), 0);
  ASSERT_EQ(pipe(to_child), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(to_parent[0]);
    close(to_child[1]);
    SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_CREATE);
    if (!v || !put(v, "n", {0}) || VFlush(v) != 1) _exit(2);
    tell(to_parent[1], 'o');
    for (int i = 0; i < 100; ++i)
      if (!put(v, "n", {static_cast<uint8_t>(i)}) || VFlush(v) != 1) _exit(2);
    // Still held until the parent has stopped trying.
    tell(to_parent[1], 'd');
    if (hear(to_child[0]) != 'c') _exit(2);
    _exit(VClose(v) == 0 ? 0 : 2);
  }
  close(to_parent[1]);
  close(to_child[0]);
  ASSERT_EQ(hear(to_parent[0]), 'o');
  // Besides opening it, probe the writer's flock directly: it must never be
  // free, not even for the moment between one transaction and the next.
  int probe = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(probe, 0);
  int attempts = 0, opened = 0, unlocked = 0;
  while (!ready(to_parent[0])) {
    ++attempts;
    if (SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE)) {
      ++opened;
      VClose(v);
    }
    for (int i = 0; i < 100; ++i) {
      if (flock(probe, LOCK_EX | LOCK_NB) == 0) {
        ++unlocked;
        flock(probe, LOCK_UN);
      }
    }
  }
  close(probe);
  EXPECT_EQ(hear(to_parent[0]), 'd');
  tell(to_child[1], 'c');
  int status = 0;
  waitpid(pid, &status, 0);
  close(to_parent[0]);
  close(to_child[1]);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_GT(attempts, 0);
  EXPECT_EQ(opened, 0) << "of " << attempts << " attempts";
  EXPECT_EQ(unlocked, 0);
  SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  std::vector<uint8_t> n;
  EXPECT_TRUE(get(v, "n", &n));
  EXPECT_EQ(n, std::vector<uint8_t>{99});
  EXPECT_EQ(VClose(v), 0);
}

// Readers in the writer's own process open and close the same file; the
// writer's locks must survive that, both its own and SQLite's.
TEST_F(VolumeProcessTest, ReadersInTheWritersProcessLeaveItsLocksAlone) {
  const std::string file = path("mixed.vol");
  SOVolume* w = VOpen(nullptr, file.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(put(w, "a", {1, 2, 3}));
  ASSERT_EQ(VFlush(w), 1);
  for (int i = 0; i < 3; ++i) {
    SOVolume* r = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
    ASSERT_NE(r, nullptr);
    std::vector<uint8_t> a;
    EXPECT_TRUE(get(r, "a", &a));
    EXPECT_EQ(VClose(r), 0);
    // A second writer in the same process is refused, and its attempt must
    // not cost the first its locks either.
    EXPECT_EQ(VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE), nullptr);
  }
  EXPECT_FALSE(sqlite_writer_gets_in(file));
  EXPECT_EQ(VClose(w), 0);
  EXPECT_TRUE(sqlite_writer_gets_in(file));
}

}  // namespace
