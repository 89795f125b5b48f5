// SPDX-License-Identifier: MIT
// A printer's library shared between processes: entry locks counted per
// owner, locks of a process that died, and two processes changing one
// library at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "support/env.h"
#include "support/files.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/proflib.h"
#include "support/log_capture.h"

namespace {

using klv::test::ScopedEnv;
using klv::test::ScratchFolder;

constexpr const char* kPrinter = "Demo";

class ProfLibProcessTest : public ::testing::Test {
 protected:
  ProfLibProcessTest() : env_("KLV_SERVER_PATH", dir_.str()) {
    SOVolume* v = VOpen(nullptr, dir_.path("Demo.PrnLib").c_str(), KLV_VOL_CREATE);
    EXPECT_TRUE(v);
    if (v) VClose(v);
    PL_set_open_retries(3000, 5);  // 15 s at most
  }
  ~ProfLibProcessTest() override { PL_set_open_retries(0, 0); }

  // The records in a lock member.
  uint32_t lock_records(const char* member) {
    SOVolume* v = PL_open_library(kPrinter, KLV_VOL_READ);
    uint32_t head[2] = {};
    if (v) {
      if (SFilemux* f = Ovfopen(v, member, "rb")) {
        if (Oread(f, head, sizeof head) != sizeof head) head[0] = 999;
        Oclose(f);
      }
      VClose(v);
    }
    return head[0];
  }

  ScratchFolder dir_{"proflib"};
  ScopedEnv env_;
};

void tell(int fd, char c) {
  if (write(fd, &c, 1) != 1) _exit(3);
}
char hear(int fd) {
  char c = 0;
  return read(fd, &c, 1) == 1 ? c : 0;
}

int lock(int32_t kind) {
  return PL_lock_profile_entry(kPrinter, "Glossy", "720", "Screen", 2, "Vivid", kind);
}
int unlock(int32_t kind) {
  return PL_unlock_profile_entry(kPrinter, "Glossy", "720", "Screen", 2, "Vivid", kind);
}

TEST_F(ProfLibProcessTest, LocksAreCountedPerOwner) {
  int to_child[2], to_parent[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(to_parent), 0);
  pid_t pid = fork();
  if (pid == 0) {
    // The child holds a shared lock until told to let it go.
    if (lock(PL_LOCK_SHARED) != PL_OK) _exit(1);
    tell(to_parent[1], 'L');
    if (hear(to_child[0]) != 'U') _exit(2);
    if (unlock(PL_LOCK_SHARED) != PL_OK) _exit(4);
    tell(to_parent[1], 'D');
    _exit(0);
  }
  ASSERT_EQ(hear(to_parent[0]), 'L');
  EXPECT_EQ(lock(PL_LOCK_EXCLUSIVE), PL_ERR_LOCKED);
  EXPECT_EQ(lock(PL_LOCK_SHARED), PL_OK);  // shared beside shared
  EXPECT_EQ(unlock(PL_LOCK_SHARED), PL_OK);
  tell(to_child[1], 'U');
  ASSERT_EQ(hear(to_parent[0]), 'D');
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  EXPECT_EQ(lock(PL_LOCK_EXCLUSIVE), PL_OK);
  EXPECT_EQ(unlock(PL_LOCK_EXCLUSIVE), PL_OK);
  // The same shared lock twice needs two unlocks.
  EXPECT_EQ(lock(PL_LOCK_SHARED), PL_OK);
  EXPECT_EQ(lock(PL_LOCK_SHARED), PL_OK);
  EXPECT_EQ(unlock(PL_LOCK_SHARED), PL_OK);
  EXPECT_EQ(lock_records(PL_PROFILE_LOCK_NAME), 1u);
  EXPECT_EQ(unlock(PL_LOCK_SHARED), PL_OK);
  EXPECT_EQ(lock_records(PL_PROFILE_LOCK_NAME), 0u);
  EXPECT_EQ(unlock(PL_LOCK_SHARED), PL_ERR_NOT_FOUND);

  // Default and model locks, and unlock all.
  EXPECT_EQ(PL_lock_default_entry(kPrinter, "Glossy", "720", "Screen", PL_LOCK_EXCLUSIVE), PL_OK);
  EXPECT_EQ(PL_lock_model_entry(kPrinter, "Glossy", "720", "Dye", 2, "M", PL_LOCK_SHARED), PL_OK);
  EXPECT_EQ(lock(PL_LOCK_SHARED), PL_OK);
  EXPECT_EQ(PL_unlockall_model_entry(kPrinter), PL_OK);
  EXPECT_EQ(lock_records(PL_PROFILE_LOCK_NAME), 1u);  // the profile lock stays
  EXPECT_EQ(PL_unlockall_profile_entry(kPrinter), PL_OK);
  EXPECT_EQ(PL_unlockall_default_entry(kPrinter), PL_OK);
  EXPECT_EQ(lock_records(PL_PROFILE_LOCK_NAME), 0u);
  EXPECT_EQ(lock_records(PL_DEFAULT_LOCK_NAME), 0u);
}

TEST_F(ProfLibProcessTest, LockOfAKilledProcessIsCleared) {
  int to_parent[2];
  ASSERT_EQ(pipe(to_parent), 0);
  pid_t pid = fork();
  if (pid == 0) {
    if (lock(PL_LOCK_EXCLUSIVE) != PL_OK) _exit(1);
    tell(to_parent[1], 'L');
    pause();
    _exit(0);
  }
  ASSERT_EQ(hear(to_parent[0]), 'L');
  EXPECT_EQ(lock(PL_LOCK_SHARED), PL_ERR_LOCKED);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  klv::test::LogCapture log;
  EXPECT_EQ(lock(PL_LOCK_EXCLUSIVE), PL_OK);
  EXPECT_NE(log.Text().find("has ended"), std::string::npos);
  EXPECT_EQ(unlock(PL_LOCK_EXCLUSIVE), PL_OK);
  EXPECT_EQ(lock_records(PL_PROFILE_LOCK_NAME), 0u);
}

// One worker: adds entries named after itself; every third is then updated,
// every third after that removed. Each change is one call on the printer's
// library, and every fifth runs inside an exclusive lock on a key both
// workers use. Returns the number of entries it made.
int worker(char tag, std::chrono::milliseconds length) {
  const auto end = std::chrono::steady_clock::now() + length;
  int i = 0;
  for (; std::chrono::steady_clock::now() < end; ++i) {
    const bool locked = i % 5 == 0;
    if (locked) {
      int r;
      while ((r = PL_lock_default_entry(kPrinter, "Shared", "", "", PL_LOCK_EXCLUSIVE)) ==
             PL_ERR_LOCKED)
        usleep(1000);
      if (r != PL_OK) _exit(10);
    }
    const std::string name = std::string(1, tag) + std::to_string(i);
    PL_ENTRY* e = PL_new_profile_entry();
    PL_set_entry_key(e, "Glossy Photo", "720x720", "Screen", 2, name.c_str());
    snprintf(e->table, sizeof e->table, "T~%s.icc", name.c_str());
    if (PL_add_profile_entry(kPrinter, e) != PL_OK) _exit(11);
    if (i % 3 == 1) {
      snprintf(e->table, sizeof e->table, "U~%s.icc", name.c_str());
      if (PL_update_profile_entry(kPrinter, e) != PL_OK) _exit(12);
    } else if (i % 3 == 2) {
      if (PL_remove_profile_entry(kPrinter, "Glossy Photo", "720x720", "Screen", 2, name.c_str()) !=
          PL_OK)
        _exit(13);
    }
    PL_free_profile_entry(e);
    if (locked && PL_unlock_default_entry(kPrinter, "Shared", "", "", PL_LOCK_EXCLUSIVE) != PL_OK)
      _exit(14);
  }
  return i;
}

TEST_F(ProfLibProcessTest, TwoProcessesChangingOneLibraryLoseNothing) {
  int counts[2];
  ASSERT_EQ(pipe(counts), 0);
  pid_t pids[2];
  for (int p = 0; p < 2; ++p) {
    pids[p] = fork();
    if (pids[p] == 0) {
      // The workers finish in any order: each tells which it is.
      int said[2] = {p, worker(p ? 'b' : 'a', std::chrono::milliseconds(2500))};
      if (write(counts[1], said, sizeof said) != sizeof said) _exit(20);
      _exit(0);
    }
  }
  int made[2] = {};
  for (int p = 0; p < 2; ++p) {
    int status = 0;
    waitpid(pids[p], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker status " << status;
  }
  for (int p = 0; p < 2; ++p) {
    int said[2] = {};
    ASSERT_EQ(read(counts[0], said, sizeof said), static_cast<ssize_t>(sizeof said));
    ASSERT_TRUE(said[0] == 0 || said[0] == 1);
    made[said[0]] = said[1];
  }
  EXPECT_GT(made[0] + made[1], 20);

  SOVolume* v = PL_open_library(kPrinter, KLV_VOL_READ);
  ASSERT_TRUE(v);
  PL_INDEX* index = PL_index_load(v, nullptr);
  ASSERT_TRUE(index);  // the index parses
  SSTRAL* list = nullptr;
  ASSERT_EQ(PL_iget_profile_list(index, "", "", "", -1, &list), PL_OK);
  int expected = 0;
  for (int p = 0; p < 2; ++p)
    for (int i = 0; i < made[p]; ++i) {
      const std::string name = std::string(1, p ? 'b' : 'a') + std::to_string(i);
      char table[PL_FILE_MAX] = {};
      int r =
          PL_iget_profile_table(index, "Glossy Photo", "720x720", "Screen", 2, name.c_str(), table);
      if (i % 3 == 2) {
        EXPECT_EQ(r, PL_ERR_NOT_FOUND) << name;
        continue;
      }
      ++expected;
      EXPECT_EQ(r, PL_OK) << name;
      EXPECT_EQ(std::string(table), (i % 3 == 1 ? "U~" : "T~") + name + ".icc");
    }
  EXPECT_EQ(stral_count(list), expected);
  stral_free(list);
  PL_index_free(index);
  VClose(v);
  EXPECT_EQ(lock_records(PL_DEFAULT_LOCK_NAME), 0u);
}

TEST_F(ProfLibProcessTest, LibraryOperationsOnAPrinterName) {
  char path[4096];
  ASSERT_EQ(PL_find_library(kPrinter, path), PL_OK);
  EXPECT_NE(std::string(path).find("Demo.PrnLib"), std::string::npos);
  PL_set_open_retries(2, 1);
  {
    klv::test::LogCapture log;
    EXPECT_EQ(PL_add_profile_entry("NoSuchPrinter", nullptr), PL_ERR_OPEN);
  }
  PL_ENTRY* e = PL_new_profile_entry();
  PL_set_entry_key(e, "Glossy", "720", "Screen", 2, "Vivid");
  snprintf(e->table, sizeof e->table, "T~v.icc");
  EXPECT_EQ(PL_add_profile_entry(kPrinter, e), PL_OK);
  EXPECT_EQ(PL_add_profile_entry(kPrinter, e), PL_ERR_EXISTS);
  EXPECT_EQ(PL_exist_profile_entry(kPrinter, "Glossy", "", "", -1, ""), 1);
  PL_DEFAULT_ENTRY* d = PL_new_default_entry();
  snprintf(d->media, sizeof d->media, "Glossy");
  PL_add_default_item(d, 2, "Vivid");
  EXPECT_EQ(PL_add_default_entry(kPrinter, d), PL_OK);
  char table[PL_FILE_MAX];
  // The default of the media names Vivid; any setting and pattern match it.
  EXPECT_EQ(PL_get_named_profile(kPrinter, "Glossy", "", "", 2, "", table), PL_OK);
  EXPECT_STREQ(table, "T~v.icc");
  EXPECT_EQ(PL_get_named_profile(kPrinter, "Glossy", "720", "Screen", 2, "Vivid", table), PL_OK);
  EXPECT_STREQ(table, "T~v.icc");
  SSTRAL* medias = nullptr;
  EXPECT_EQ(PL_get_media_list(kPrinter, &medias), PL_OK);
  EXPECT_EQ(stral_count(medias), 1);
  stral_free(medias);
  EXPECT_EQ(PL_copy_media_profiles(kPrinter, "Glossy", "Matte"), PL_OK);
  EXPECT_EQ(PL_exist_profile_entry(kPrinter, "Matte", "720", "Screen", 2, "Vivid"), 1);
  EXPECT_EQ(PL_exist_default_entry(kPrinter, "Matte", "", ""), 1);
  EXPECT_EQ(PL_remove_media_profiles(kPrinter, "Glossy"), PL_OK);
  EXPECT_EQ(PL_exist_profile_entry(kPrinter, "Glossy", "", "", -1, ""), 0);
  EXPECT_EQ(PL_exist_default_entry(kPrinter, "Glossy", "", ""), 0);
  PL_free_default_entry(d);
  PL_free_profile_entry(e);

  SOVolume* v = PL_open_library(kPrinter, KLV_VOL_UPDATE);
  ASSERT_TRUE(v);
  PL_INFO* info = PL_get_info(v);
  EXPECT_STREQ(info->DefaultProfile, "DefaultCMYK.ICC");
  EXPECT_EQ(info->Version, 0u);
  info->Version = 3;
  EXPECT_EQ(PL_put_info(v, info), PL_OK);
  PL_free_info(info);
  info = PL_get_info(v);
  EXPECT_EQ(info->Version, 3u);
  PL_free_info(info);
  VClose(v);
}

}  // namespace
