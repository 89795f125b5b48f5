// SPDX-License-Identifier: MIT
// klvrip process run as a program on a job `klvrip job new` made: the print
// files, list and record it says it made are there, and a job that cannot be
// processed fails with the driver's message and leaves only its settings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "run_klvrip.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = KLV_TEST_DATA "/../../data";

using Result = klv::test::KlvripResult;

class KlvripProcess : public ::testing::Test {
 protected:
  Result Run(const std::vector<std::string>& args) const {
    return klv::test::run_klvrip(scratch_.str(), args, true,
                                 {{"KLV_REGISTRY", scratch_.path("Registry.info")}});
  }
  Result NewJob(const std::string& printer) const {
    return Run({"job", "new", job_, kData + "/samples/chart.tif", "--printer", printer, "--media",
                "Glossy Photo", "--mode", "Screen", "--res", "150x150", "--force"});
  }
  std::vector<std::string> JobFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(job_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  klv::test::ScratchFolder scratch_{"klvrip_process"};
  std::string job_ = scratch_.path("J1");
};

TEST_F(KlvripProcess, ProcessesAJobIntoPrintFiles) {
  ASSERT_EQ(NewJob("KlvDemo").code, 0);
  const std::string png = scratch_.path("preview.png");
  const Result r = Run({"process", job_, "--threads", "2", "--preview", png});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const std::string& text :
       {"print file  " + job_ + "/J1.B001\n", "list        " + job_ + "/J1.prt\n",
        "record      " + job_ + "/Proc_Info\n", std::string("page 600x400 at 150x150 dpi"),
        std::string("  screening "), std::string("  finish "),
        std::string("usage       {\"processSuccess\":\"success\",\"fileExt\":\"tif\","),
        std::string("ink         Cyan     "), std::string("ink         Black    ")})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  EXPECT_EQ(JobFiles(), (std::vector<std::string>{"J1.B001", "J1.prt", "Proc_Info", "Settings"}));
  EXPECT_TRUE(fs::file_size(png) > 0);
  // The counts are kept in the processing record too.
  const std::string record = klv::test::read_text(job_ + "/Proc_Info");
  EXPECT_NE(record.find(" DotCount {\n  { \"Cyan\" "), std::string::npos) << record;
  EXPECT_EQ(r.out.find("ink         Cyan     0 dots"), std::string::npos) << r.out;
  // Plain progress lines when stderr is not a terminal.
  EXPECT_NE(r.err.find("process: 100%"), std::string::npos) << r.err;
}

// The demo printer's Plain Paper modes take the profile library's ink
// restriction and output profile.
TEST_F(KlvripProcess, PlainPaperTakesTheLibrarysRestrictionAndProfile) {
  ASSERT_EQ(Run({"job", "new", job_, kData + "/samples/chart.tif", "--printer", "KlvDemo",
                 "--media", "Plain Paper", "--mode", "720 dpi, FDRP Diffusion", "--force"})
                .code,
            0);
  const Result r = Run({"process", job_});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const std::string text : {"restriction PlainPaper.InkRstr.xml\n",
                                 "-> \"KlvCMYK\" of the profile library, perceptual"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

// A mode of the printer's own at a resolution its drop table knows: the ink
// in millilitres beside the dots (7 pl a dot), and the output stage's parts.
TEST_F(KlvripProcess, InkInMillilitresAndTheOutputStagesParts) {
  ASSERT_EQ(
      Run({"job", "new", job_, kData + "/samples/chart.tif", "--printer", "KlvDemo", "--media",
           "Glossy Photo", "--mode", "720 dpi, Screen(85 lpi)", "--res", "720x720", "--force"})
          .code,
      0);
  const Result r = Run({"process", job_, "--threads", "1"});
  ASSERT_EQ(r.code, 0) << r.err;
  unsigned long long dots = 0;
  double ml = 0;
  const size_t at = r.out.find("ink         Cyan     ");
  ASSERT_NE(at, std::string::npos) << r.out;
  ASSERT_EQ(std::sscanf(r.out.c_str() + at, "ink Cyan %llu dots, %lf ml", &dots, &ml), 2) << r.out;
  EXPECT_GT(dots, 0u);
  EXPECT_NEAR(ml, double(dots) * 7e-9, 1e-4);
  EXPECT_NE(r.out.find("calibration Linear1~Glossy Photo~720x720~4"), std::string::npos) << r.out;
  for (const char* part : {"    reading ", "    colour ", "    screening "})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  EXPECT_NE(r.out.find("\"inkMl\":\""), std::string::npos) << r.out;
}

TEST_F(KlvripProcess, AJobThatCannotBeProcessedLeavesOnlyItsSettings) {
  ASSERT_EQ(NewJob("Nope").code, 0);
  const Result r = Run({"process", job_});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Printer \"Nope\" is not installed"), std::string::npos) << r.err;
  EXPECT_EQ(JobFiles(), std::vector<std::string>{"Settings"});
  EXPECT_EQ(Run({"process", scratch_.path("none")}).code, 1);
  EXPECT_EQ(Run({"process"}).code, 2);
}

// Ctrl-C while screening: the job is cancelled and leaves only its settings.
TEST_F(KlvripProcess, InterruptCancelsAndLeavesNoPrintFile) {
  ASSERT_EQ(Run({"job", "new", job_, kData + "/samples/chart.tif", "--printer", "KlvDemo",
                 "--media", "Glossy Photo", "--mode", "Screen", "--res", "1440x1440", "--force"})
                .code,
            0);
  // Once screening has started (progress shown), interrupt.
  const auto run = klv::test::interrupt_klvrip(scratch_.str(), {"process", job_}, "process: 0%",
                                               {{"KLV_REGISTRY", scratch_.path("Registry.info")}});
  const int status = run.status;
  const std::string& text = run.err;
  if (text.find("process: 100%") != std::string::npos)
    GTEST_SKIP() << "the job finished before the interrupt arrived";
  EXPECT_NE(status, 0);
  EXPECT_NE(text.find("cancelled; no print file was left"), std::string::npos) << text;
  EXPECT_EQ(JobFiles(), std::vector<std::string>{"Settings"});
}

}  // namespace
