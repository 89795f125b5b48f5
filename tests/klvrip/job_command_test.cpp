// SPDX-License-Identifier: MIT
// klvrip job run as a program: `job new` writes a job folder's settings
// whole, `job show` prints them with the processing records, and bad use
// gives the usage status with a message naming the fault.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "klv/job_settings_cxx.h"
#include "klv/kernel.h"
#include "run_klvrip.h"

namespace fs = std::filesystem;

namespace {

class KlvripJob : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(KLV_BINARY_DIR) + "/klvrip_job_" + std::to_string(::getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    image_ = dir_ + "/picture.tif";
    std::ofstream(image_) << "not really a picture";
  }
  void TearDown() override { fs::remove_all(dir_); }

  klv::test::KlvripResult Run(const std::vector<std::string>& args) const {
    return klv::test::run_klvrip(dir_, args, false);
  }

  std::string dir_, image_;
};

TEST_F(KlvripJob, NewWritesTheSettingsAndShowPrintsThem) {
  const std::string job = dir_ + "/jobs/J1";
  klv::test::KlvripResult r = Run({"job",       "new",
                                   job,         image_,
                                   "--printer", "KlvDemo",
                                   "--media",   "Glossy Photo",
                                   "--mode",    "720 dpi, Stochastic",
                                   "--res",     "720x720",
                                   "--copies",  "2",
                                   "--name",    "Poster one",
                                   "--width",   "24",
                                   "--height",  "36"});
  ASSERT_EQ(r.code, 0) << r.err;
  // Only the settings file, no temporary beside it.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(job)) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"Settings"});
  klv::SettingsPtr s = klv::load_job_settings(job.c_str());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Imagepath, image_);
  EXPECT_EQ(s->Setpath, job);
  EXPECT_STREQ(s->PrintDev, "KlvDemo");
  EXPECT_STREQ(s->PrintMedia, "Glossy Photo");
  EXPECT_STREQ(s->PrintMode, "720 dpi, Stochastic");
  EXPECT_STREQ(s->PrintRes, "720x720");
  EXPECT_STREQ(s->JobName, "Poster one");
  EXPECT_EQ(s->NumCopies, 2);
  EXPECT_DOUBLE_EQ(s->PrintMaxY, 36);

  // Two processing records beside the settings.
  proc_info rec{};
  rec.BitsPerSample = 1;
  std::snprintf(rec.JobID, sizeof rec.JobID, "%s", "first");
  const std::string records = job + "/" + KLV_PROC_INFO_FILE;
  ASSERT_EQ(put_prtinfo(nullptr, records.c_str(), &rec), 1);
  std::snprintf(rec.JobID, sizeof rec.JobID, "%s", "second");
  ASSERT_EQ(put_prtinfo(nullptr, records.c_str(), &rec), 1);

  r = Run({"job", "show", job});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* text :
       {"  printer     KlvDemo\n", "  copies      2\n", "  size        24 x 36 in\n",
        " PrintMedia { \"Glossy Photo\" }\n", "processing records: 2\n", "record 2:\nProc_Info {\n",
        " JobID { second }\n"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;

  // The job is there now: a second new is refused unless forced.
  r = Run({"job", "new", job, image_, "--printer", "P", "--media", "M", "--mode", "X"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("already holds a job"), std::string::npos) << r.err;
  r = Run({"job", "new", job, image_, "--printer", "P", "--media", "M", "--mode", "X", "--force"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_STREQ(klv::load_job_settings(job.c_str())->PrintDev, "P");
}

// The job's dot pattern comes from its mode: the printer's own mode (which
// also gives the resolution when none is given), else the pattern the mode's
// name ends with; a name without one leaves pattern 0 and says so.
TEST_F(KlvripJob, NewTakesTheDotPatternOfTheMode) {
  const struct {
    const char* mode;
    const char* res;  // "" for none
    int pattern;
    const char* option;
    const char* stored_res;
  } cases[] = {
      {"720 dpi, Screen(85 lpi)", "", 4, "85 lpi", "720x720"},  // the printer's own mode
      {"1440x720 dpi, FDRP Diffusion", "1440x720", 0, "", "1440x720"},
      {"720 dpi, Stochastic", "720x720", 5, "", "720x720"},  // not the printer's: by name
      {"360 dpi, Halftone(60 lpi)", "360x360", 6, "60 lpi", "360x360"},
      {"X", "", 0, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const std::string job = dir_ + "/P";
    std::vector<std::string> args = {"job",       "new",     job,       image_,
                                     "--printer", "KlvDemo", "--media", "Glossy Photo",
                                     "--mode",    c.mode,    "--force"};
    if (*c.res) args.insert(args.end(), {"--res", c.res});
    klv::test::KlvripResult r = klv::test::run_klvrip(dir_, args, true);
    ASSERT_EQ(r.code, 0) << r.err;
    klv::SettingsPtr s = klv::load_job_settings(job.c_str());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->PatternDif, c.pattern);
    EXPECT_STREQ(s->PatternOpt, c.option);
    EXPECT_STREQ(s->PrintRes, c.stored_res);
    EXPECT_STREQ(s->PrintMode, c.mode);
    EXPECT_EQ(r.err.find("names no dot pattern") != std::string::npos, c.mode[0] == 'X') << r.err;
  }
}

TEST_F(KlvripJob, ShowReadsAJobVolume) {
  const std::string path = dir_ + "/job.vol";
  SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  klv::SettingsPtr s(settings_new());
  std::snprintf(s->PrintDev, sizeof s->PrintDev, "%s", "Vol Printer");
  s->UnmodifiableFlag = 1;
  ASSERT_EQ(put_vol_settings(v, s.get()), 1);
  proc_info rec{};
  std::snprintf(rec.JobID, sizeof rec.JobID, "%s", "in-volume");
  ASSERT_EQ(put_prtinfo(v, ".\\Proc_Info", &rec), 1);
  ASSERT_EQ(VClose(v), 0);
  klv::test::KlvripResult r = Run({"job", "show", path});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* text : {"  printer     Vol Printer\n", "  changes     not allowed",
                           "processing records: 1\n", " JobID { in-volume }\n"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

TEST_F(KlvripJob, BadUseAndBadJobs) {
  const std::string job = dir_ + "/J2";
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* in_err;
  };
  const Case cases[] = {
      {{"job"}, 2, "usage: klvrip job"},
      {{"job", "frob"}, 2, "unknown action"},
      {{"job", "new", job, image_, "--media", "M", "--mode", "X"}, 2, "--printer is required"},
      {{"job", "new", job, image_, "--printer", "P", "--media", "M", "--mode", "X", "--res", "7"},
       2,
       "720x720"},
      {{"job", "new", job, image_, "--printer", "P", "--media", "M", "--mode", "X", "--copies",
        "0"},
       2,
       "--copies"},
      {{"job", "new", job, dir_ + "/none.tif", "--printer", "P", "--media", "M", "--mode", "X"},
       1,
       "no image"},
      {{"job", "new", job, image_, "--printer", std::string(200, 'p'), "--media", "M", "--mode",
        "X"},
       2,
       "--printer is longer"},
      {{"job", "show", dir_ + "/nothing"}, 1, "cannot read the settings"},
      {{"job", "show"}, 2, "usage"},
  };
  for (const Case& c : cases) {
    klv::test::KlvripResult r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args.back() << "\n" << r.err;
    EXPECT_NE(r.err.find(c.in_err), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(job + "/Settings"));
  // A hostile settings file is refused with the key named.
  fs::create_directories(job);
  std::ofstream(job + "/Settings") << "Settings {\n NumCopies { 99999 }\n}\n";
  klv::test::KlvripResult r = Run({"job", "show", job});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("NumCopies"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"job", "new", "--help"}).code, 0);
}

}  // namespace
