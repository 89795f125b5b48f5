// SPDX-License-Identifier: MIT
// Adding to one account from several processes at once: the lock around
// load-add-save loses nothing, a dead holder does not block the others, and
// an account that cannot be read is never overwritten.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "klv/usage.h"
#include "klv/usage_cxx.h"
#include "support/env.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

using klv::test::read_text;
using klv::test::ScratchFolder;

// One adder's job: its number of media and ink entries differ per adder.
void make_job(int adder, CPrintUsage* job) {
  job->UseMedia("Glossy", 0.25 * (adder + 1));
  job->UseMedia(("Own media " + std::to_string(adder)).c_str(), 1.0);
  const usage_ink_count inks[] = {
      {"Cyan", uint64_t(adder + 1), 1e-6 * (adder + 1)}, {"Black", 1000, 0}, {}};
  const usage_dot_table table{1, inks};
  job->UseInk("CMYK", 4, &table);
}

TEST(UsageLock, ConcurrentAddersLoseNothing) {
  ScratchFolder dir;
  const std::string path = dir.path("PrintUse.Info");
  constexpr int kAdders = 4;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  std::vector<pid_t> pids;
  std::vector<int> pipes;
  for (int a = 0; a < kAdders; ++a) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      CPrintUsage job;
      make_job(a, &job);
      int32_t added = 0;
      // A short pause between jobs, as between real jobs, lets the others in.
      while (std::chrono::steady_clock::now() < until) {
        if (!CPrintUsage::AddToFile(path.c_str(), job)) ::_exit(3);
        ++added;
        ::usleep(500);
      }
      const bool sent = ::write(fds[1], &added, sizeof added) == sizeof added;
      ::_exit(sent ? 0 : 4);
    }
    ::close(fds[1]);
    pids.push_back(pid);
    pipes.push_back(fds[0]);
  }
  std::vector<int32_t> added(kAdders, 0);
  for (int a = 0; a < kAdders; ++a) {
    int status = -1;
    ASSERT_EQ(::waitpid(pids[size_t(a)], &status, 0), pids[size_t(a)]);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "adder " << a;
    ASSERT_EQ(::read(pipes[size_t(a)], &added[size_t(a)], sizeof(int32_t)),
              ssize_t(sizeof(int32_t)));
    ::close(pipes[size_t(a)]);
  }

  // The adders did overlap: more than one of them got to add.
  EXPECT_GE(std::count_if(added.begin(), added.end(), [](int32_t n) { return n > 0; }), 2);
  CPrintUsage account;
  ASSERT_TRUE(account.Load(path.c_str()));
  double glossy = 0, cyan_ml = 0;
  uint64_t cyan = 0, black = 0;
  for (int a = 0; a < kAdders; ++a) {
    const int32_t n = added[size_t(a)];
    glossy += 0.25 * (a + 1) * n;
    cyan += uint64_t(a + 1) * uint64_t(n);
    cyan_ml += 1e-6 * (a + 1) * n;
    black += 1000u * uint64_t(n);
    const CPrintMediaUsage* own =
        account.FindMedia(("Own media " + std::to_string(a)).c_str(), false);
    if (n == 0) continue;
    ASSERT_NE(own, nullptr);
    EXPECT_DOUBLE_EQ(own->GetAmount(), n);
  }
  EXPECT_NEAR(account.FindMedia("Glossy", false)->GetAmount(), glossy, 1e-9);
  CPrintInkSetUsage* set = account.FindInkSet("CMYK", 4, false);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->FindInk("Cyan", false)->GetCount(), cyan);
  EXPECT_NEAR(set->FindInk("Cyan", false)->GetMillilitres(), cyan_ml, 1e-9);
  EXPECT_EQ(set->FindInk("Black", false)->GetCount(), black);
  std::printf("adds per adder:");
  for (int32_t n : added) std::printf(" %d", n);
  std::printf("\n");
  // Beside the account only its lock file stays.
  EXPECT_EQ(dir.entries(), 2u);
}

// A child that takes the account's lock and then waits for a byte on a
// pipe (or is killed).
pid_t hold_lock(const std::string& path, int* release, int* ready) {
  int go[2], held[2];
  if (::pipe(go) != 0 || ::pipe(held) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
    char c = 1;
    if (::write(held[1], &c, 1) != 1) ::_exit(2);
    if (::read(go[0], &c, 1) < 0) ::_exit(3);
    ::_exit(0);
  }
  ::close(go[0]);
  ::close(held[1]);
  *release = go[1];
  *ready = held[0];
  return pid;
}

TEST(UsageLock, WaitsForTheHolderAndNotForADeadOne) {
  ScratchFolder dir;
  const std::string path = dir.path("PrintUse.Info");
  CPrintUsage job;
  make_job(0, &job);
  for (const bool kill_it : {false, true}) {
    SCOPED_TRACE(kill_it ? "holder killed" : "holder releases");
    int release = -1, ready = -1;
    const pid_t pid = hold_lock(path, &release, &ready);
    ASSERT_GT(pid, 0);
    char c = 0;
    ASSERT_EQ(::read(ready, &c, 1), 1);
    const pid_t ender = ::fork();
    if (ender == 0) {
      ::usleep(300 * 1000);
      if (kill_it)
        ::kill(pid, SIGKILL);
      else if (::write(release, &c, 1) != 1)
        ::_exit(1);
      ::_exit(0);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(CPrintUsage::AddToFile(path.c_str(), job));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    int status = 0;
    ::waitpid(ender, &status, 0);
    ::waitpid(pid, &status, 0);
    ::close(release);
    ::close(ready);
  }
  CPrintUsage account;
  ASSERT_TRUE(account.Load(path.c_str()));
  EXPECT_DOUBLE_EQ(account.FindMedia("Glossy", false)->GetAmount(), 0.5);
}

TEST(UsageLock, ThreadsOfOneProcessLoseNothingEither) {
  ScratchFolder dir;
  const std::string path = dir.path("PrintUse.Info");
  constexpr int kThreads = 3, kAdds = 15;
  std::vector<std::thread> threads;
  std::atomic<int> failed{0};
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      CPrintUsage job;
      make_job(t, &job);
      for (int i = 0; i < kAdds; ++i)
        if (!CPrintUsage::AddToFile(path.c_str(), job)) ++failed;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failed, 0);
  CPrintUsage account;
  ASSERT_TRUE(account.Load(path.c_str()));
  EXPECT_EQ(account.FindInkSet("CMYK", 4, false)->FindInk("Black", false)->GetCount(),
            uint64_t(1000) * kThreads * kAdds);
  EXPECT_DOUBLE_EQ(account.FindMedia("Glossy", false)->GetAmount(), 0.25 * (1 + 2 + 3) * kAdds);
}

TEST(UsageLock, AProcessKilledWhileSavingLeavesAWholeAccount) {
  ScratchFolder dir;
  const std::string path = dir.path("PrintUse.Info");
  // Two accounts of some size, saved in turn by a child that is killed.
  CPrintUsage a, b;
  for (int i = 0; i < 3000; ++i) {
    a.UseMedia(("Media " + std::to_string(i)).c_str(), i);
    b.UseMedia(("Media " + std::to_string(i)).c_str(), 2.0 * i);
  }
  ASSERT_TRUE(a.Save(path.c_str()));
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0;; ++i) (i % 2 ? a : b).Save(path.c_str());
    }
    ::usleep(useconds_t(30000 + 17000 * round));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    CPrintUsage back;
    ASSERT_TRUE(back.Load(path.c_str()));
    const std::string text = back.Text();
    EXPECT_TRUE(text == a.Text() || text == b.Text());
  }
}

TEST(UsageLock, AnUnreadableAccountIsKeptAndNotAddedTo) {
  ScratchFolder dir;
  const std::string bad = "PrintUsage {\n Media { \"Glossy\" 12.5 }\n InkSet { \"S\" 1 {\n";
  const std::string path = dir.write("PrintUse.Info", bad);
  CPrintUsage job;
  make_job(1, &job);
  klv::test::LogCapture log;
  EXPECT_FALSE(CPrintUsage::AddToFile(path.c_str(), job));
  EXPECT_NE(log.Text().find("kept as it is"), std::string::npos) << log.Text();
  EXPECT_EQ(read_text(path), bad);

  // A missing account starts empty.
  const std::string fresh = dir.path("Fresh.Info");
  ASSERT_EQ(printusage_add_to_file(fresh.c_str(), &job), 1);
  CPrintUsage back;
  ASSERT_TRUE(back.Load(fresh.c_str()));
  EXPECT_EQ(back.Text(), job.Text());
}

TEST(UsageLock, APrinterAccountLivesInItsRepositoryFolder) {
  ScratchFolder dir;
  dir.write("Printer_Client.info",
            "Printer_Client {\n  UserId { u }\n  Printers { { Scratch printers/Scratch } }\n}\n");
  dir.write("printers/Scratch/Info/Printer.RepLink",
            "Printer_Repository { \"printers/Repo\" }\nPrinter_Common { c }\n"
            "Printer_CFG { c }\nPrinter_System { s }\n");
  std::filesystem::create_directories(dir.path("printers/Repo"));
  klv::test::ScopedEnv env("KLV_PATH", dir.str());

  char file[KLV_PATH_MAX];
  ASSERT_EQ(printusage_printer_file("Scratch", file), 1);
  EXPECT_EQ(std::filesystem::path(file).filename(), "PrintUse.Info");
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(file).parent_path(),
                                          dir.path("printers/Repo")));
  EXPECT_EQ(printusage_exists("Scratch"), 0);
  CPrintUsage job;
  make_job(2, &job);
  ASSERT_TRUE(CPrintUsage::AddToPrinter("Scratch", job));
  ASSERT_TRUE(CPrintUsage::AddToPrinter("Scratch", job));
  EXPECT_EQ(printusage_exists("Scratch"), 1);
  CPrintUsage account;
  ASSERT_TRUE(account.LoadPrinter("Scratch"));
  EXPECT_DOUBLE_EQ(account.FindMedia("Glossy", false)->GetAmount(), 1.5);
  EXPECT_EQ(account.GetPath(), file);
}

}  // namespace
