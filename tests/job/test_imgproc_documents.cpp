// SPDX-License-Identifier: MIT
// The job driver over a PDF document rendered by the interpreter child
// process ("gs", Debian package "ghostscript", installed by
// scripts/install-deps.sh): a three-page PDF with pages of different grays
// becomes three print files whose dots follow the pages in their order, and a
// job cancelled while the child renders leaves no print file, no child
// process and no temporary file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "test_imgproc_support.h"

namespace {

using namespace imgproc_test;

// Three pages of 1 x 0.5 inch, each filled with one gray: light, middle, dark.
const char kThreeGrays[] = R"(%!PS-Adobe-3.0
%%BoundingBox: 0 0 72 36
%%Pages: 3
%%EndComments
%%Page: 1 1
<< /PageSize [72 36] >> setpagedevice
0.9 setgray 0 0 72 36 rectfill showpage
%%Page: 2 2
<< /PageSize [72 36] >> setpagedevice
0.5 setgray 0 0 72 36 rectfill showpage
%%Page: 3 3
<< /PageSize [72 36] >> setpagedevice
0.1 setgray 0 0 72 36 rectfill showpage
%%EOF
)";

bool have_gs() {
  return std::system("command -v gs >/dev/null 2>&1") == 0;
}

constexpr const char* kNoGs =
    "the interpreter \"gs\" is missing: install the Debian package \"ghostscript\" "
    "(scripts/install-deps.sh does)";

// The interpreter processes (live or not yet reaped) this process started.
int gs_children() {
  const std::string me = std::to_string(getpid());
  int n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string pid = e.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')'), open = text.find('(');
    if (close == std::string::npos || open == std::string::npos) continue;
    std::string state, ppid;
    std::istringstream(text.substr(close + 1)) >> state >> ppid;
    if (ppid == me && text.substr(open + 1, close - open - 1) == "gs") ++n;
  }
  return n;
}

class ImgProcDocument : public ImgProc {
 protected:
  void SetUp() override {
    ImgProc::SetUp();
    ASSERT_TRUE(have_gs()) << kNoGs;
    pdf_ = klv::test::make_pdf(folder_, kThreeGrays, "grays");
    ASSERT_FALSE(pdf_.empty()) << "the test PDF cannot be made";
    Put(s_->Imagepath, pdf_);
  }
  std::string pdf_;
};

TEST_F(ImgProcDocument, EveryPageOfAPdfBecomesItsOwnPrintFileWithItsInk) {
  klv::ProcOptions options;
  options.threads = 2;
  options.count_ink = true;
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
  // The page as the document states it: 1 x 0.5 inch at 150 dpi.
  EXPECT_EQ(out.width, 150);
  EXPECT_EQ(out.height, 75);
  const std::string base = (job_ / "J12").string();
  EXPECT_EQ(out.print_files,
            (std::vector<std::string>{base + ".B001", base + ".B002", base + ".B003"}));
  EXPECT_EQ(klv::test::read_text(base + ".prt"), "printfiles {\n \"" + base + ".B001\"\n \"" +
                                                     base + ".B002\"\n \"" + base + ".B003\"\n}\n");
  EXPECT_EQ(out.usage[6], (std::pair<std::string, std::string>{"pages", "3"}));
  // Each page its own gray: the dots grow from the light page to the dark
  // one (a view that delivered one page for all would make them equal).
  ASSERT_EQ(out.print_files.size(), 3u);
  std::vector<uint64_t> total(4, 0), all;
  for (const std::string& file : out.print_files) {
    const std::vector<uint64_t> dots = dots_per_ink(file);
    ASSERT_EQ(dots.size(), 4u) << file;
    for (int k = 0; k < 4; ++k) total[k] += dots[k];
    all.push_back(dots[0] + dots[1] + dots[2] + dots[3]);
  }
  EXPECT_GT(all[0], 0u) << "the light page has no dots";
  EXPECT_LT(all[0] * 2, all[1]);
  EXPECT_LT(all[1], all[2]);
  ASSERT_EQ(out.ink.size(), 4u);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(out.ink[k].dots, total[k]) << out.ink[k].ink;
  EXPECT_EQ(gs_children(), 0);
}

// Answers the first poll with a cancellation, noting the interpreter
// processes alive at that moment.
struct CancelProbe {
  int polls = 0;
  int gs_at_cancel = -1;
};

int32_t cancel_first_poll(void* context, int32_t code, const char*) {
  auto* probe = static_cast<CancelProbe*>(context);
  if (code != KLV_PROC_CB_POLL) return 0;
  if (probe->polls++ == 0) probe->gs_at_cancel = gs_children();
  return 1;
}

TEST_F(ImgProcDocument, CancelledWhileThePageRendersLeavesNoFilesAndNoChild) {
  const char* tmp = std::getenv("TMPDIR");
  const fs::path temp = tmp && *tmp ? tmp : "/tmp";
  // Only the interpreter's own folders count: other programs may share /tmp
  // when the suite runs outside ctest.
  const auto render_folders = [&temp] {
    std::vector<std::string> names;
    for (const std::string& name : files_in(temp))
      if (name.rfind("klvgs", 0) == 0) names.push_back(name);
    return names;
  };
  const std::vector<std::string> temp_before = render_folders();
  klv::ProcOptions options;
  options.threads = 1;
  options.wait_ms = 5;
  CancelProbe probe;
  klv::ProcOutcome out;
  EXPECT_FALSE(
      klv::process_job(job_.c_str(), s_.get(), nullptr, options, cancel_first_poll, &probe, &out));
  EXPECT_NE(out.error.find("Cancelled"), std::string::npos) << out.error;
  EXPECT_GE(probe.gs_at_cancel, 1) << "no interpreter was rendering when the job was cancelled";
  EXPECT_EQ(gs_children(), 0) << "the interpreter outlived the cancelled job";
  EXPECT_TRUE(files_in(job_).empty());
  EXPECT_EQ(render_folders(), temp_before) << "the render left temporary files";
}

}  // namespace
