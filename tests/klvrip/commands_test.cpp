// SPDX-License-Identifier: MIT
// klvrip calib, icc and vol run as programs: what they print, their exit
// statuses (0 success, 1 failure, 2 bad usage), the messages naming the fault,
// and the calibration plot written whole or not at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run_klvrip.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = KLV_TEST_DATA "/../../data";
const std::string kTable = "Linear1~Glossy Photo~720x720~0";

std::string read_text(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

class KlvripRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(KLV_BINARY_DIR) + "/klvrip_calib_" + std::to_string(::getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_ + "/work");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // What the work folder holds, by name.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ + "/work"))
      names.push_back(e.path().filename());
    return names;
  }
  std::string Work(const std::string& name) const { return dir_ + "/work/" + name; }

  // Runs klvrip with `args` (the demo printers on KLV_PATH), standard output
  // and standard error apart.
  klv::test::KlvripResult Run(const std::vector<std::string>& args) const {
    return klv::test::run_klvrip(dir_, args);
  }

  std::string dir_;
};

struct Case {
  const char* what;
  std::vector<std::string> args;
  int code;
  const char* in_out;  // text standard output holds ("" for none)
  const char* in_err;  // text standard error holds ("" for none)
};

void Expect(const klv::test::KlvripResult& r, const Case& c) {
  EXPECT_EQ(r.code, c.code) << r.out << r.err;
  if (*c.in_out) {
    EXPECT_NE(r.out.find(c.in_out), std::string::npos) << r.out;
  }
  if (*c.in_err) {
    EXPECT_NE(r.err.find(c.in_err), std::string::npos) << r.err;
  }
  // A failure always says why, prefixed by the command.
  if (c.code != 0) {
    EXPECT_NE(r.err.find("klvrip "), std::string::npos) << r.err;
  }
}

TEST_F(KlvripRun, CalibListsShowsFindsAndRefusesBadUse) {
  const Case cases[] = {
      {"list", {"calib", "KlvDemo"}, 0, "LNTB       Linear1~Glossy Photo~720x720~4", ""},
      {"list names the index", {"calib", "KlvDemo"}, 0, "default ink model \"CMYK\"", ""},
      {"one table", {"calib", "KlvDemo", kTable}, 0, "linearization (LNTB), 4 channels", ""},
      {"table heading", {"calib", "KlvDemo", kTable}, 0, "Cyan       %   Magenta", ""},
      {"every 16th entry", {"calib", "KlvDemo", kTable}, 0, "\n   16    6.3%", ""},
      {"all entries", {"calib", "KlvDemo", kTable, "--all"}, 0, "\n   17    6.7%", ""},
      {"search",
       {"calib", "KlvDemo", "--find", "Glossy Photo", "720x720", "Screen"},
       0,
       "Linear1~Glossy Photo~720x720~4\n",
       ""},
      {"search, value joined",
       {"calib", "KlvDemo", "--find=Glossy Photo", "720x720", "Screen"},
       0,
       "Linear1~Glossy Photo~720x720~4\n",
       ""},
      {"help", {"calib", "--help"}, 0, "--plot FILE.png", ""},
      {"linear help", {"calib", "linear", "--help"}, 0, "--gamma G[,G...]", ""},
      {"bad option", {"calib", "KlvDemo", "--bogus"}, 2, "", "unknown option --bogus"},
      {"no printer", {"calib"}, 2, "", "too few arguments"},
      {"too many", {"calib", "KlvDemo", kTable, "extra"}, 2, "", "too many arguments"},
      {"search short of words",
       {"calib", "KlvDemo", "--find", "Glossy Photo", "720x720"},
       2,
       "",
       "--find"},
      {"plot without a member",
       {"calib", "KlvDemo", "--plot", "x.png"},
       2,
       "",
       "--plot needs a MEMBER"},
      {"missing printer",
       {"calib", "NoSuchPrinter"},
       1,
       "",
       "klvrip calib: no calibration volume for \"NoSuchPrinter\""},
      {"missing member",
       {"calib", "KlvDemo", "NoMember"},
       1,
       "",
       "klvrip calib: no calibration file \"NoMember\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Expect(Run(c.args), c);
  }
  // The default table skips to every 16th entry.
  EXPECT_EQ(Run({"calib", "KlvDemo", kTable}).out.find("\n   17 "), std::string::npos);
}

TEST_F(KlvripRun, CalibPlotWritesAWholePngAndLeavesNoTemporary) {
  const std::string png = Work("curves.png");
  const klv::test::KlvripResult r = Run({"calib", "KlvDemo", kTable, "--plot", png});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_text(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"curves.png"});

  // A member without curves and a folder that is not there: exit 1, the
  // fault named, and nothing left behind.
  fs::remove(png);
  const Case failures[] = {
      {"no curves", {"calib", "KlvDemo", "Calb.Info", "--plot", png}, 1, "", "no curves to plot"},
      {"no folder",
       {"calib", "KlvDemo", kTable, "--plot", Work("none/curves.png")},
       1,
       "",
       "none/curves.png"},
  };
  for (const Case& c : failures) {
    SCOPED_TRACE(c.what);
    Expect(Run(c.args), c);
    EXPECT_EQ(Entries(), std::vector<std::string>{});
  }
}

TEST_F(KlvripRun, CalibLinearWritesATableThatCalibShows) {
  const std::string vol = Work("lin.Calibrate");
  const Case cases[] = {
      {"write", {"calib", "linear", vol, "L1", "--gamma", "1,2", "--limit", "0.5"}, 0, "", ""},
      {"show", {"calib", vol, "L1"}, 0, "linearization (LNTB), 2 channels", ""},
      // The last entry is the limit: round(65535 * 0.5).
      {"limit", {"calib", vol, "L1"}, 0, "  255  100.0%     32768   50.0%", ""},
      {"gamma 0", {"calib", "linear", vol, "L2", "--gamma", "0"}, 2, "", "greater than 0"},
      {"limit 2",
       {"calib", "linear", vol, "L2", "--gamma", "1", "--limit", "2"},
       2,
       "",
       "fraction from 0 to 1"},
      {"not numbers", {"calib", "linear", vol, "L2", "--gamma", "1,x"}, 2, "", "--gamma"},
      {"no gamma", {"calib", "linear", vol, "L2"}, 2, "", "one gamma per channel"},
      {"no member", {"calib", "linear", vol}, 2, "", "too few arguments"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Expect(Run(c.args), c);
  }
  // The refused tables were never written.
  EXPECT_NE(Run({"calib", vol}).out.find("L1"), std::string::npos);
  EXPECT_EQ(Run({"calib", vol}).out.find("L2"), std::string::npos);
}

TEST_F(KlvripRun, IccDescribesAProfileAndRefusesOtherFiles) {
  const std::string srgb = kData + "/profiles/klv_srgb.icc";
  const std::string cmyk = kData + "/profiles/klv_cmyk.icc";
  const std::string readme = kData + "/profiles/README";
  const Case cases[] = {
      {"class", {"icc", srgb}, 0, "class           mntr\n", ""},
      {"colour space", {"icc", srgb}, 0, "colour space    RGB \n", ""},
      {"tag table", {"icc", srgb}, 0, "  desc  mluc  offset", ""},
      {"printer profile", {"icc", cmyk}, 0, "class           prtr\ncolour space    CMYK\n", ""},
      {"key 0 in hex", {"icc", srgb, "--key", "0x0"}, 0, "class           mntr\n", ""},
      {"help", {"icc", "--help"}, 0, "--key N", ""},
      {"not a profile", {"icc", readme}, 1, "", "klvrip icc: \""},
      {"no file", {"icc", kData + "/profiles/none.icc"}, 1, "", "none.icc"},
      {"no argument", {"icc"}, 2, "", "too few arguments"},
      {"two files", {"icc", srgb, cmyk}, 2, "", "too many arguments"},
      {"key too large", {"icc", srgb, "--key", "70000"}, 2, "", "bad --key"},
      {"bad option", {"icc", srgb, "--bogus"}, 2, "", "unknown option --bogus"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Expect(Run(c.args), c);
  }
  // The message names the file and says what it is not.
  const klv::test::KlvripResult r = Run({"icc", readme});
  EXPECT_NE(r.err.find(readme + "\" cannot be read as an ICC profile"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(KlvripRun, VolFormsStoreListPrintAndRemoveAndRefuseBadUse) {
  const std::string vol = Work("v.vol"), src = Work("src.txt");
  std::ofstream(src) << "hello\n";
  const Case cases[] = {
      {"put", {"vol", "put", vol, "a.txt", src}, 0, "", ""},
      {"ls", {"vol", "ls", vol}, 0, "  a.txt\n", ""},
      {"cat", {"vol", "cat", vol, "a.txt"}, 0, "hello\n", ""},
      {"check", {"vol", "check", vol}, 0, "sound", ""},
      {"cat a missing member", {"vol", "cat", vol, "b.txt"}, 1, "", "no member \"b.txt\""},
      {"put a missing source", {"vol", "put", vol, "b.txt", Work("none.txt")}, 1, "", "none.txt"},
      {"rm", {"vol", "rm", vol, "a.txt"}, 0, "", ""},
      {"rm again", {"vol", "rm", vol, "a.txt"}, 1, "", "cannot remove \"a.txt\""},
      {"form help", {"vol", "put", "--help"}, 0, "vol put FILE MEMBER [SRC]", ""},
      {"help", {"vol", "--help"}, 0, "vol check FILE", ""},
      {"no form", {"vol"}, 2, "", "too few arguments"},
      {"unknown form", {"vol", "frob", vol}, 2, "", "unknown form \"frob\""},
      {"too few", {"vol", "cat", vol}, 2, "", "too few arguments"},
      {"too many", {"vol", "ls", vol, "x"}, 2, "", "too many arguments"},
      {"an option", {"vol", "ls", vol, "--bogus"}, 2, "", "unknown option --bogus"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Expect(Run(c.args), c);
  }
}

TEST_F(KlvripRun, ProflibListsShowsAndChangesALibrary) {
  const std::string lib = Work("Test.PrnLib");
  const Case cases[] = {
      {"demo list",
       {"proflib", "KlvDemo", "list"},
       0,
       "\"Glossy Photo\" \"720x720\" \"Screen\" \"2\" \"KlvCMYK\"",
       ""},
      {"demo defaults",
       {"proflib", "KlvDemo", "list"},
       0,
       "\"Plain Paper\" \"1440x720\" \"FDRP Diffusion\": 2=\"KlvCMYK\"",
       ""},
      {"demo show",
       {"proflib", "KlvDemo", "show", "Plain Paper", "", "", "2", ""},
       0,
       "colour space    CMYK",
       ""},
      {"add",
       {"proflib", lib, "add", "Matte", "720x720", "Screen", "2", "Soft", "--icc",
        kData + "/profiles/klv_cmyk.icc"},
       0,
       "",
       ""},
      {"add again",
       {"proflib", lib, "add", "Matte", "720x720", "Screen", "2", "Soft"},
       1,
       "",
       "the entry exists already"},
      {"set default",
       {"proflib", lib, "set-default", "Matte", "720x720", "Screen", "2", "Soft"},
       0,
       "",
       ""},
      {"listed", {"proflib", lib, "list"}, 0, "\"Matte\" \"720x720\" \"Screen\": 2=\"Soft\"", ""},
      {"remove", {"proflib", lib, "remove", "Matte", "", "", "", ""}, 0, "", ""},
      {"gone", {"proflib", lib, "show", "Matte", "", "", "", ""}, 1, "", "no such entry"},
      {"bad type", {"proflib", lib, "show", "Matte", "", "", "zz", ""}, 2, "", "hexadecimal"},
      {"bad action", {"proflib", lib, "frob"}, 2, "", "unknown action frob"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Expect(Run(c.args), c);
  }
}

}  // namespace
