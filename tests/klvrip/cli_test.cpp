// SPDX-License-Identifier: MIT
// What every klvrip command shares: the option table parser, -v, the files
// written under temporary names; and the program on a full disk, on Ctrl-C
// and with its default quiet logging.
#include "cli.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/full_disk.h"
#include "klv/img.h"
#include "klv/imgmux.h"
#include "output_file.h"

namespace fs = std::filesystem;

namespace {

// ---- the option table ----

struct Parse {
  std::vector<std::string> words;
  std::vector<char*> argv;
  explicit Parse(std::vector<std::string> w) : words(std::move(w)) {
    for (auto& s : words) argv.push_back(s.data());
    argv.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
};

TEST(Options, TableDrivesValuesFlagsPositionalsAndFaults) {
  const klvrip::CommandHelp help = {"test", "test A [B] [options]", "", 1, 2};
  struct Case {
    std::vector<std::string> args;
    klvrip::Parsed want;
    double number;
    int count;
    bool flag;
    size_t positionals;
  } cases[] = {
      {{"a"}, klvrip::Parsed::kRun, 1, 5, false, 1},
      {{"a", "--number", "2.5", "b", "--flag"}, klvrip::Parsed::kRun, 2.5, 5, true, 2},
      {{"--count=7", "a"}, klvrip::Parsed::kRun, 1, 7, false, 1},
      {{"a", "--", "--flag"}, klvrip::Parsed::kRun, 1, 5, false, 2},
      {{"a", "--help"}, klvrip::Parsed::kHelp, 1, 5, false, 1},
      {{}, klvrip::Parsed::kUsageError, 1, 5, false, 0},
      {{"a", "b", "c"}, klvrip::Parsed::kUsageError, 1, 5, false, 3},
      {{"a", "--bogus"}, klvrip::Parsed::kUsageError, 1, 5, false, 1},
      {{"a", "--number"}, klvrip::Parsed::kUsageError, 1, 5, false, 1},
      {{"a", "--number", "x"}, klvrip::Parsed::kUsageError, 1, 5, false, 1},
      {{"a", "--number", "0"}, klvrip::Parsed::kUsageError, 1, 5, false, 1},
      {{"a", "--number", "inf"}, klvrip::Parsed::kUsageError, 1, 5, false, 1},
      {{"a", "--count", "11"}, klvrip::Parsed::kUsageError, 1, 5, false, 1},
      {{"a", "--count", "3x"}, klvrip::Parsed::kUsageError, 1, 5, false, 1},
      {{"a", "--flag=1"}, klvrip::Parsed::kUsageError, 1, 5, false, 1},
  };
  for (const Case& c : cases) {
    std::string text;
    for (const auto& w : c.args) text += w + " ";
    SCOPED_TRACE(text);
    double number = 1;
    int count = 5;
    bool flag = false;
    const std::vector<klvrip::Option> table = {
        {"--number", "X", "a number above 0", klvrip::take_number(&number, 0, 100)},
        {"--count", "N", "1 to 10", klvrip::take_integer(&count, 1, 10)},
        {"--flag", nullptr, "a flag", klvrip::take_flag(&flag)},
    };
    Parse p(c.args);
    std::vector<const char*> positional;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const klvrip::Parsed got =
        klvrip::parse_options(help, table, p.argc(), p.argv.data(), &positional);
    const std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(got, c.want);
    if (got == klvrip::Parsed::kUsageError) {
      EXPECT_NE(err.find("klvrip test: "), std::string::npos) << err;
    }
    if (got != klvrip::Parsed::kRun) continue;
    EXPECT_EQ(number, c.number);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(flag, c.flag);
    EXPECT_EQ(positional.size(), c.positionals);
  }
}

TEST(Options, VerboseIsTakenBeforeOrAfterTheCommandButNotAfterDoubleDash) {
  Parse p({"klvrip", "-v", "screen", "in", "--verbose", "out", "--", "-v"});
  int argc = p.argc();
  EXPECT_TRUE(klvrip::take_verbose(&argc, p.argv.data()));
  ASSERT_EQ(argc, 6);
  EXPECT_STREQ(p.argv[1], "screen");
  EXPECT_STREQ(p.argv[3], "out");
  EXPECT_STREQ(p.argv[5], "-v");
  Parse q({"klvrip", "info", "x"});
  argc = q.argc();
  EXPECT_FALSE(klvrip::take_verbose(&argc, q.argv.data()));
  EXPECT_EQ(argc, 3);
}

TEST(Options, ExitCodes) {
  EXPECT_EQ(klvrip::exit_code(klvrip::Exit::kOk), 0);
  EXPECT_EQ(klvrip::exit_code(klvrip::Exit::kFailure), 1);
  EXPECT_EQ(klvrip::exit_code(klvrip::Exit::kUsage), 2);
}

// ---- files under temporary names ----

class Folder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(KLV_BINARY_DIR) + "/klvrip_cli_" + std::to_string(::getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    return names;
  }
  std::string dir_;
};

TEST_F(Folder, OutputFileAppearsOnlyWhenCommittedAndAnOldFileStandsUntilThen) {
  const std::string target = dir_ + "/out.tif";
  std::ofstream(target) << "old";
  {
    klvrip::OutputFile out(target);
    ASSERT_FALSE(out.Failed()) << out.Error();
    EXPECT_EQ(fs::path(out.Temp()).parent_path(), fs::path(dir_));
    EXPECT_EQ(fs::path(out.Temp()).filename().string().rfind(".out.tif.tmp", 0), 0u) << out.Temp();
    std::ofstream(out.Temp()) << "new";
    EXPECT_EQ(Entries().size(), 2u);
  }  // not committed: the temporary goes, the old file stays
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.tif"});
  std::stringstream text;
  text << std::ifstream(target).rdbuf();
  EXPECT_EQ(text.str(), "old");
  {
    klvrip::OutputFile out(target);
    std::ofstream(out.Temp()) << "new";
    EXPECT_TRUE(out.Commit());
  }
  std::stringstream now;
  now << std::ifstream(target).rdbuf();
  EXPECT_EQ(now.str(), "new");
  EXPECT_EQ(Entries(), std::vector<std::string>{"out.tif"});
  klvrip::OutputFile nowhere(dir_ + "/missing/out.tif");
  EXPECT_TRUE(nowhere.Failed());
  EXPECT_FALSE(nowhere.Error().empty());
}

// ---- the program ----

// A flat mid-gray TIFF of side x side pixels at 600 dpi.
void make_gray(const std::string& path, int side) {
  image_info info;
  init_image_info(&info);
  info.width = info.height = side;
  info.samples = 1;
  info.bits_per_sample = 8;
  info.photometric = KLV_PHOTO_MINBLACK;
  info.xres = info.yres = 600;
  info.bytes_per_line = image_info_line_bytes(&info);
  IMG_file* out = img_mux_open(path.c_str(), nullptr, "w", &info, KLV_TYPE_TIFF);
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> line(info.bytes_per_line, 128);
  for (int y = 0; y < side; ++y) ASSERT_EQ(img_write_line(out, line.data(), 1), 1);
  ASSERT_EQ(img_close_status(out), 0);
}

// Runs klvrip with `args` in this process's child (which may have limits of
// its own), its output in `log`. Returns only in the parent... or never: it
// is meant as the body of a child.
[[noreturn]] void exec_klvrip(const std::vector<std::string>& args, const std::string& log) {
  const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::close(fd);
  }
  std::vector<std::string> words = {KLVRIP_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  ::setenv("KLV_PATH", KLV_TEST_DATA "/../../data", 1);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

std::string read_text(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

TEST_F(Folder, ScreenOnAFullDiskFailsNamingTheFileAndLeavesNothing) {
  const std::string gray = dir_ + "/gray.tif", log = dir_ + "/log";
  make_gray(gray, 600);
  struct Case {
    const char* what;
    const char* out;
    bool preview;
  } cases[] = {{"TIFF", "dots.tif", false},
               {"output image", "dots.oi", false},
               {"TIFF and preview", "dots.tif", true},
               {"output image and preview", "dots.oi", true}};
  for (klv::test::FullDisk kind : klv::test::full_disk_kinds()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + " on a disk full by " + klv::test::full_disk_name(kind));
      klv::test::FullFolder full(kind, 256 * 1024);
      ASSERT_TRUE(full.Ready());
      const std::string out = full.File(c.out);
      // 6000 x 6000 dots of 1 bit are 4.5 MB, far more than there is room for.
      std::vector<std::string> args = {"screen", gray, out, "--res", "6000x6000"};
      if (c.preview) args.insert(args.end(), {"--preview", full.File("p.png")});
      const int code = full.RunChild([&]() -> int { exec_klvrip(args, log); });
      const std::string text = read_text(log);
      EXPECT_EQ(code, 1) << text;
      EXPECT_NE(text.find("klvrip screen: "), std::string::npos) << text;
      EXPECT_NE(text.find(out), std::string::npos) << "names the file: " << text;
      EXPECT_EQ(full.Entries(), std::vector<std::string>{}) << text;
    }
  }
  // With room, the same command keeps the dots and the preview.
  for (const char* dots : {"dots.tif", "dots.oi"}) {
    SCOPED_TRACE(dots);
    klv::test::FullFolder roomy(klv::test::FullDisk::kFileSizeLimit, 64 << 20);
    const std::vector<std::string> args = {"screen",    gray,        roomy.File(dots),   "--res",
                                           "1200x1200", "--preview", roomy.File("p.png")};
    EXPECT_EQ(roomy.RunChild([&]() -> int { exec_klvrip(args, log); }), 0) << read_text(log);
    auto names = roomy.Entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{dots, "p.png"}));
  }
}

TEST_F(Folder, CtrlCStopsScreenAndLeavesNothing) {
  const std::string gray = dir_ + "/gray.tif";
  make_gray(gray, 600);
  const std::string outdir = dir_ + "/out";
  fs::create_directories(outdir);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0)
    exec_klvrip({"screen", gray, outdir + "/dots.tif", "--width", "20000", "--height", "20000",
                 "--preview", outdir + "/p.png"},
                dir_ + "/log");
  // Interrupt once the temporary files exist.
  bool seen = false;
  for (int i = 0; i < 5000 && !seen; ++i) {
    seen = fs::exists(outdir) &&
           std::distance(fs::directory_iterator(outdir), fs::directory_iterator{}) == 2;
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(seen) << "the temporaries never appeared";
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << read_text(dir_ + "/log");
  EXPECT_TRUE(fs::is_empty(outdir)) << read_text(dir_ + "/log");
}

TEST_F(Folder, OnlyWarningsAndErrorsUnlessVerbose) {
  const std::string gray = dir_ + "/gray.tif", log = dir_ + "/log";
  make_gray(gray, 100);
  auto run = [&](std::vector<std::string> args) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) exec_klvrip(args, log);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // The printer's lists are read (and logged) even where its driver is not built.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << read_text(log);
    return read_text(log);
  };
  const std::string printer = "KlvDemo", port = dir_ + "/port";
  EXPECT_EQ(run({"print-test", printer, port}).find("klv INFO"), std::string::npos);
  EXPECT_NE(run({"-v", "print-test", printer, port}).find("klv INFO"), std::string::npos);
  EXPECT_NE(run({"print-test", printer, port, "-v"}).find("klv INFO"), std::string::npos);
  EXPECT_EQ(run({"info", gray}).find("klv INFO"), std::string::npos);
}

}  // namespace
