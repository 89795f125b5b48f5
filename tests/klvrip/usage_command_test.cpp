// SPDX-License-Identifier: MIT
// klvrip usage run as a program: adding jobs to an account file with the
// demo printer's drop table, showing the account, and refusing bad use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/files.h"

namespace {

struct RunResult {
  int code = -1;
  std::string out, err;
};

// Runs klvrip with `args`, the shipped data folder on KLV_PATH.
RunResult klvrip(const klv::test::ScratchFolder& dir, const std::vector<std::string>& args) {
  const std::string out = dir.path("stdout"), err = dir.path("stderr");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) ::_exit(126);
    ::dup2(o, 1);
    ::dup2(e, 2);
    std::vector<std::string> words = {KLVRIP_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    ::setenv("KLV_PATH", KLV_TEST_DATA "/../../data", 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  RunResult r;
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    r.code = WEXITSTATUS(status);
  r.out = klv::test::read_text(out);
  r.err = klv::test::read_text(err);
  return r;
}

TEST(KlvripUsage, AddsJobsAndShowsInkInDotsAndMillilitres) {
  klv::test::ScratchFolder dir;
  const std::string account = dir.path("PrintUse.Info");
  // Two multi-level jobs at 720x720: Cyan 1000 small, 1000 medium, 1000 large
  // drops of 3.5, 7 and 12 pl = 0.0000225 ml each job.
  for (int i = 0; i < 2; ++i) {
    const RunResult r =
        klvrip(dir, {"usage", account, "add", "--inks", "Cyan=1000/1000/1000,Black=0/0/5",
                     "--media", "Glossy Photo", "--size", "10x10", "--inkset", "CMYK", "--number",
                     "4", "--res", "720x720", "--config", "Normal", "--printer", "KlvDemo"});
    ASSERT_EQ(r.code, 0) << r.err;
  }
  // A one-bit job without a drop table adds dots only.
  ASSERT_EQ(klvrip(dir, {"usage", account, "add", "--inks", "Cyan=10", "--inkset", "cmyk",
                         "--number", "4"})
                .code,
            0);
  const RunResult shown = klvrip(dir, {"usage", account});
  ASSERT_EQ(shown.code, 0) << shown.err;
  EXPECT_NE(shown.out.find("Glossy Photo                   0.129032"), std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("ink set \"CMYK\" (4)"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Cyan                             6010       0.000045"),
            std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("Black                              10       0.000000"),
            std::string::npos)
      << shown.out;
  const std::string text = klv::test::read_text(account);
  EXPECT_NE(text.find("  { \"Cyan\" 0.000045000000000 }\n"), std::string::npos) << text;
}

TEST(KlvripUsage, RefusesBadUseAndUnreadableAccounts) {
  klv::test::ScratchFolder dir;
  const std::string account = dir.path("PrintUse.Info");
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* err;
  } const cases[] = {
      {{"usage", account, "add"}, 2, "--inks wants"},
      {{"usage", account, "add", "--inks", "Cyan=1/2,Black=3"}, 2, "--inks wants"},
      {{"usage", account, "add", "--inks", "Cyan=x"}, 2, "--inks wants"},
      {{"usage", account, "add", "--inks", "Cyan=1", "--size", "10"}, 2, "--size wants"},
      {{"usage", account, "add", "--inks", "Cyan=1", "--res", "720x720"}, 2, "go together"},
      {{"usage", account, "add", "--inks", "Cyan=1", "--res", "720x720", "--config", "Normal"},
       2,
       "needs --printer"},
      {{"usage", account, "add", "--inks", "Cyan=1/2", "--res", "720x720", "--config", "Bilevel",
        "--printer", "KlvDemo"},
       1,
       "does not fit"},
      {{"usage", account, "remove"}, 2, "unknown action"},
      {{"usage", "NoSuchPrinter"}, 1, "no repository folder"},
      {{"usage", account}, 1, "does not exist"},
  };
  for (const Case& c : cases) {
    const RunResult r = klvrip(dir, c.args);
    EXPECT_EQ(r.code, c.code) << c.args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  klv::test::write_text(account, "Printer_Info {\n}\n");
  const RunResult bad = klvrip(dir, {"usage", account});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("cannot be read as a usage account"), std::string::npos) << bad.err;
  const RunResult add = klvrip(dir, {"usage", account, "add", "--inks", "Cyan=1"});
  EXPECT_EQ(add.code, 1);
  EXPECT_EQ(klv::test::read_text(account), "Printer_Info {\n}\n");
}

}  // namespace
