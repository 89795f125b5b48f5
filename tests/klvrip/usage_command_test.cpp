// SPDX-License-Identifier: MIT
// klvrip usage run as a program: adding jobs to an account file with the
// demo printer's drop table, showing the account, and refusing bad use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "run_klvrip.h"
#include "support/files.h"

namespace {

// Runs klvrip with `args`, the shipped data folder on KLV_PATH.
klv::test::KlvripResult klvrip(const klv::test::ScratchFolder& dir,
                               const std::vector<std::string>& args) {
  return klv::test::run_klvrip(dir.path(""), args);
}

TEST(KlvripUsage, AddsJobsAndShowsInkInDotsAndMillilitres) {
  klv::test::ScratchFolder dir;
  const std::string account = dir.path("PrintUse.Info");
  // Two multi-level jobs at 720x720: Cyan 1000 small, 1000 medium, 1000 large
  // drops of 3.5, 7 and 12 pl = 0.0000225 ml each job.
  for (int i = 0; i < 2; ++i) {
    const klv::test::KlvripResult r =
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
  const klv::test::KlvripResult shown = klvrip(dir, {"usage", account});
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
    const klv::test::KlvripResult r = klvrip(dir, c.args);
    EXPECT_EQ(r.code, c.code) << c.args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  klv::test::write_text(account, "Printer_Info {\n}\n");
  const klv::test::KlvripResult bad = klvrip(dir, {"usage", account});
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("cannot be read as a usage account"), std::string::npos) << bad.err;
  const klv::test::KlvripResult add = klvrip(dir, {"usage", account, "add", "--inks", "Cyan=1"});
  EXPECT_EQ(add.code, 1);
  EXPECT_EQ(klv::test::read_text(account), "Printer_Info {\n}\n");
}

}  // namespace
