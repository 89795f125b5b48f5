// SPDX-License-Identifier: MIT
// klvrip print run as a program on a processed job: the file driver's page
// and the dot counts per separation, the exit codes of a job without print
// files and of bad usage, and Ctrl-C aborting the job through the driver.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "run_klvrip.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = KLV_TEST_DATA "/../../data";

class KlvripPrint : public ::testing::Test {
 protected:
  klv::test::KlvripResult Run(const std::vector<std::string>& args) const {
    return klv::test::run_klvrip(scratch_.str(), args);
  }
  void MakeJob(const std::string& res, bool process) const {
    ASSERT_EQ(
        Run({"job", "new", job_, kData + "/samples/chart.tif", "--printer", "KlvDemo", "--media",
             "Glossy Photo", "--mode", "Screen", "--res", res, "--name", "P1", "--force"})
            .code,
        0);
    if (process) {
      const auto r = Run({"process", job_});
      ASSERT_EQ(r.code, 0) << r.err;
    }
  }

  klv::test::ScratchFolder scratch_{"klvrip_print"};
  std::string job_ = scratch_.path("J1");
  std::string out_ = scratch_.path("out");
};

TEST_F(KlvripPrint, PrintsTheJobToTheFileDriverWithItsDotCounts) {
  MakeJob("150x150", true);
  const auto r = Run({"print", job_, "--output", out_});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* ink : {"Black", "Cyan", "Magenta", "Yellow"})
    EXPECT_NE(r.out.find(std::string("dots        ") + ink), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("printed     1 page of \"P1\" on KlvDemo"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(fs::path(out_) / "P1.tif"));
  EXPECT_TRUE(fs::exists(fs::path(out_) / "P1-1.png"));
  // Prepared without sending: nothing is written.
  const std::string quiet = scratch_.path("quiet");
  EXPECT_EQ(Run({"print", job_, "--output", quiet, "--no-send"}).code, 0);
  EXPECT_FALSE(fs::exists(fs::path(quiet) / "P1.tif"));
}

TEST_F(KlvripPrint, ExitCodesOfJobsThatCannotBePrinted) {
  MakeJob("150x150", false);
  const auto r = Run({"print", job_});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("has no print files"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"print", scratch_.path("none")}).code, 1);
  EXPECT_EQ(Run({"print"}).code, 2);
  EXPECT_EQ(Run({"print", job_, "--printer", "No Such Printer"}).code, 1);
}

TEST_F(KlvripPrint, InterruptAbortsTheJobThroughTheDriver) {
  MakeJob("1440x1440", true);
  // Once the first band has gone out, interrupt.
  const auto run =
      klv::test::interrupt_klvrip(scratch_.str(), {"print", job_, "--output", out_}, "print: page");
  const int status = run.status;
  const std::string& text = run.err;
  if (text.find("print: page 1/1 100%") != std::string::npos)
    GTEST_SKIP() << "the job was printed before the interrupt arrived";
  // klvrip ends as the signal would have once the job is cancelled.
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_NE(text.find("aborted; the job was cancelled"), std::string::npos) << text;
}

// A picture printed as it is: converted, screened and repeated at print time.
TEST_F(KlvripPrint, PrintsAnImageThroughThePrintersModeAndScreens) {
  const std::string chart = kData + "/samples/chart.tif";
  const auto r = Run({"print", chart, "--printer", "KlvDemo", "--media", "Glossy Photo", "--mode",
                      "720 dpi, Screen(85 lpi)", "--repeat", "2x1", "--output", out_});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("printed     1 page of \"chart\" on KlvDemo"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(fs::path(out_) / "chart.tif"));
  EXPECT_TRUE(fs::exists(fs::path(out_) / "chart-1.png"));
  EXPECT_EQ(Run({"print", chart}).code, 2);  // an image needs a printer
  EXPECT_EQ(Run({"print", chart, "--printer", "KlvDemo", "--mode", "No Such Mode"}).code, 1);
}

}  // namespace
