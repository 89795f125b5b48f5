// SPDX-License-Identifier: MIT
// The job driver over the demo printer's modes and over unusual inputs: every
// mode (screened and diffused, both resolutions) processed with ink counts
// that equal the dots in its print files, an image still being written by
// another thread (waited for, or cancelled while waiting), a multi-page
// image (one print file per page), a tiled job's print-file list, and the
// job's rotation and largest print size.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/printmode.h"
#include "klv/proc_info.h"
#include "support/image.h"
#include "test_imgproc_support.h"

namespace {

using namespace imgproc_test;

// A small RGB picture at 72 dpi with every ink somewhere: red across, green
// down, blue fixed.
image_info rgb_info(int w, int h, uint32_t pages = 1) {
  image_info info = klv::test::describe(w, h, 3, 8, KLV_PHOTO_MINBLACK);
  info.xres = info.yres = 72;
  info.pages = pages;
  return info;
}

std::vector<uint8_t> ramp(int w, int h) {
  std::vector<uint8_t> px(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &px[(size_t(y) * w + x) * 3];
      p[0] = uint8_t(x * 255 / (w - 1));
      p[1] = uint8_t(y * 255 / (h - 1));
      p[2] = 96;
    }
  return px;
}

bool write_tiff(const std::string& path, int w, int h) {
  image_info info = rgb_info(w, h);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "w", &info, KLV_TYPE_TIFF);
  if (!img) return false;
  std::vector<uint8_t> px = ramp(w, h);
  const bool ok = img_write_line(img, px.data(), h) == h;
  return img_close_status(img) == 0 && ok;
}

TEST_F(ImgProc, EveryDemoModeCountsTheDotsOfItsPrintFiles) {
  const std::string image = folder_.path("ramp.tif");
  ASSERT_TRUE(write_tiff(image, 90, 36));
  Put(s_->Imagepath, image);
  const struct {
    const char* mode;
    const char* res;
    int pattern;
    int width;
  } modes[] = {{"720 dpi, Screen(85 lpi)", "720x720", 4, 900},
               {"720 dpi, FDRP Diffusion", "720x720", 0, 900},
               {"1440x720 dpi, Screen(85 lpi)", "1440x720", 4, 1800},
               {"1440x720 dpi, FDRP Diffusion", "1440x720", 0, 1800}};
  std::vector<std::vector<uint8_t>> pages;
  for (const auto& m : modes) {
    SCOPED_TRACE(m.mode);
    Put(s_->PrintMode, m.mode);
    Put(s_->PrintRes, m.res);
    s_->PatternDif = 7;                     // the printer's mode decides, not this
    fs::remove(job_ / KLV_PROC_INFO_FILE);  // records are appended: keep this run's alone
    Calls calls;
    klv::ProcOutcome out;
    klv::ProcOptions options;
    options.threads = 2;
    options.count_ink = true;
    ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
    EXPECT_EQ(out.calibration,
              std::string("Linear1~Glossy Photo~") + m.res + "~" + std::to_string(m.pattern));
    EXPECT_EQ(out.width, m.width);
    EXPECT_EQ(out.height, 360);
    EXPECT_EQ(files_in(job_), (std::vector<std::string>{"J12.B001", "J12.prt", "Proc_Info"}));
    const std::vector<uint64_t> dots = dots_per_ink((job_ / "J12.B001").string());
    ASSERT_EQ(out.ink.size(), 4u);
    klv::ProcInfoPtr record = klv::load_proc_info((job_ / KLV_PROC_INFO_FILE).c_str());
    ASSERT_TRUE(record);
    for (size_t k = 0; k < 4; ++k) {
      EXPECT_EQ(out.ink[k].dots, dots[k]) << out.ink[k].ink;
      EXPECT_GT(dots[k], 0u) << out.ink[k].ink;
      // The demo printer fires 7 pl drops for one-bit output.
      EXPECT_NEAR(out.ink[k].millilitres, double(dots[k]) * 7e-9, 1e-12) << out.ink[k].ink;
      EXPECT_EQ(record->DotCount[k].count, dots[k]);
    }
    EXPECT_EQ(out.usage.back().first, "inkMl");
    EXPECT_EQ(out.usage[4].second, m.pattern == 4 ? "Screen(85 lpi)" : "FDRP Diffusion");
    EXPECT_STREQ(record->PrintPattern, out.usage[4].second.c_str());
    pages.push_back(dot_lines((job_ / "J12.B001").string()));
  }
  // Screening and diffusion make different dots of the same page.
  EXPECT_NE(pages[0], pages[1]);
  EXPECT_NE(pages[2], pages[3]);
}

// An image another thread is still writing: its status answers 0 until the
// last line is in.
struct Growing {
  image_info info;
  std::vector<uint8_t> lines;
  std::atomic<bool> done{false};
};

class GrowingImage : public CIMG_file {
 public:
  explicit GrowingImage(std::shared_ptr<Growing> g) : g_(std::move(g)) { m_info = g_->info; }
  int32_t GetStatus(int32_t) override { return g_->done.load() ? 1 : 0; }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return page == 0 ? SetSeekLine(line, plane, page, whence) : -1;
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    if (!g_->done.load()) return 0;
    const int32_t n = std::min(count, m_info.height - m_line);
    std::memcpy(buffer, g_->lines.data() + size_t(m_line) * m_info.bytes_per_line,
                size_t(n) * m_info.bytes_per_line);
    m_line += n;
    return n;
  }

 private:
  std::shared_ptr<Growing> g_;
};

TEST_F(ImgProc, GrowingImageIsWaitedForOrCancelledWithoutPrintFiles) {
  auto growing = std::make_shared<Growing>();
  growing->info = rgb_info(60, 40);
  klv::ProcOptions options;
  options.threads = 1;
  options.wait_ms = 5;
  int opened = 0;
  options.open_image = [&](const char*, image_info* info) {
    ++opened;
    *info = growing->info;
    return (new GrowingImage(growing))->ToImg('r', KLV_TYPE_TIFF);
  };
  // Never finished: a cancellation during the wait ends the job.
  {
    Calls calls;
    calls.cancel_after_percent = 0;  // the first poll cancels
    klv::ProcOutcome out;
    EXPECT_FALSE(Process(&calls, &out, options));
    EXPECT_NE(out.error.find("Cancelled while waiting"), std::string::npos) << out.error;
    EXPECT_EQ(calls.polls, 1);
    EXPECT_TRUE(files_in(job_).empty());
  }
  // Finished by a writer while the driver waits.
  Calls calls;
  klv::ProcOutcome out;
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    growing->lines = ramp(60, 40);
    growing->done.store(true);
  });
  const bool ok = Process(&calls, &out, options);
  writer.join();
  ASSERT_TRUE(ok) << out.error;
  EXPECT_GT(calls.polls, 2) << "the driver did not wait";
  EXPECT_EQ(opened, 2) << "the waited-for stream is the one screened";
  EXPECT_EQ(out.width, 125);  // 60 px at 72 dpi on the 150 dpi page
  EXPECT_EQ(files_in(job_), (std::vector<std::string>{"J12.B001", "J12.prt", "Proc_Info"}));
}

TEST_F(ImgProc, EveryPageOfAMultiPageImageBecomesItsOwnPrintFile) {
  // Three pages: white, the ramp, black.
  const image_info info = rgb_info(48, 24, 3);
  std::vector<uint8_t> data(size_t(info.bytes_per_line) * 24 * 3, 255);
  const std::vector<uint8_t> r = ramp(48, 24);
  std::copy(r.begin(), r.end(), data.begin() + r.size());
  std::fill(data.begin() + 2 * r.size(), data.end(), 0);
  klv::ProcOptions options;
  options.threads = 2;
  options.count_ink = true;
  options.open_image = [&](const char*, image_info* out) {
    *out = info;
    return (new klv::test::MemImage(info, data))->ToImg('r', KLV_TYPE_TIFF);
  };
  // Cancelled on the second page: the first page's file goes too.
  {
    Calls cancel;
    cancel.cancel_after_percent = 1;
    klv::ProcOutcome out;
    EXPECT_FALSE(Process(&cancel, &out, options));
    EXPECT_EQ(cancel.percent, std::vector<std::string>{"33.3%"});
    EXPECT_TRUE(files_in(job_).empty());
  }
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
  const std::string base = (job_ / "J12").string();
  EXPECT_EQ(out.print_files,
            (std::vector<std::string>{base + ".B001", base + ".B002", base + ".B003"}));
  EXPECT_EQ(klv::test::read_text(base + ".prt"), "printfiles {\n \"" + base + ".B001\"\n \"" +
                                                     base + ".B002\"\n \"" + base + ".B003\"\n}\n");
  // The pages in their order: white (a few dots of the profile's paper
  // white at most), the ramp, black.
  std::vector<uint64_t> total(4, 0), all;
  for (int page = 0; page < 3; ++page) {
    const std::vector<uint64_t> dots = dots_per_ink(out.print_files[page]);
    ASSERT_EQ(dots.size(), 4u);
    for (int k = 0; k < 4; ++k) total[k] += dots[k];
    all.push_back(dots[0] + dots[1] + dots[2] + dots[3]);
  }
  EXPECT_LT(all[0] * 100, all[1]);
  EXPECT_LT(all[1], all[2]);
  ASSERT_EQ(out.ink.size(), 4u);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(out.ink[k].dots, total[k]) << out.ink[k].ink;
  // One progress run over all pages, each tenth once.
  EXPECT_EQ(calls.percent.back(), "100.0%");
  for (size_t i = 1; i < calls.percent.size(); ++i) {
    EXPECT_NE(calls.percent[i], calls.percent[i - 1]);
    EXPECT_LT(std::stod(calls.percent[i - 1]), std::stod(calls.percent[i]));
  }
  EXPECT_EQ(std::count(calls.percent.begin(), calls.percent.end(), "100.0%"), 1);
  EXPECT_EQ(out.usage[6], (std::pair<std::string, std::string>{"pages", "3"}));
}

// The chart is 4 x 2.67 inches; the list cuts its page into tiles.
TEST_F(ImgProc, TiledJobListsEveryTileOfEveryPage) {
  s_->Cropping = settings_crop_new();
  ASSERT_TRUE(s_->Cropping);
  settings_crop& c = *s_->Cropping;
  c.TileXCount = 2;
  c.TileX = static_cast<double*>(std::malloc(2 * sizeof(double)));
  c.TileX[0] = c.TileX[1] = 1.5;
  c.TileWidth = 1.0;  // beyond the list
  c.TileYCount = 1;
  c.TileY = static_cast<double*>(std::malloc(sizeof(double)));
  c.TileY[0] = 2.6;
  c.TileHeight = 5;
  c.Overlap = 0.1;  // wider than the 0.067 in left below the first row
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out)) << out.error;
  const std::string base = (job_ / "J12").string();
  const auto entry = [&](const char* tail) { return " \"* " + base + tail + "\"\n"; };
  // 1.5 + 1.5, then a 1 in rest no wider than the next tile: 3 columns.
  EXPECT_EQ(
      klv::test::read_text(base + ".prt"),
      "printfiles {\n" + entry("01B.01P001") + entry("01B.02P001") + entry("01B.03P001") + "}\n");
  const auto entries = [&](double xs, double ys) {
    std::vector<std::string> r;
    SSTRAL* list = get_prt_stral(nullptr, s_.get(), 1, xs, ys);
    for (int32_t i = 0; list && i < stral_count(list); ++i) r.push_back(stral_str(list, i, 0));
    stral_free(list);
    return r;
  };
  // Without overlap the thin rest is a row of its own.
  c.Overlap = 0;
  EXPECT_EQ(entries(1, 1).size(), 6u);
  EXPECT_EQ(entries(1, 1)[3], "* " + base + "02B.01P001");
  // Scaled tiles: 3 in wide, so two columns; one row of 5.2 in.
  EXPECT_EQ(entries(2, 2),
            (std::vector<std::string>{"* " + base + "01B.01P001", "* " + base + "01B.02P001"}));
  // Not tiled: the page files.
  EXPECT_EQ(out.list_path, base + ".prt");
  SSTRAL* plain = get_prt_stral(nullptr, s_.get(), 0, 1, 1);
  ASSERT_TRUE(plain);
  EXPECT_EQ(stral_count(plain), 1);
  stral_free(plain);
}

// The contone pattern writes the ink amounts unscreened into ".C" pages,
// the first of which is the job's output name.
TEST_F(ImgProc, ContoneModeWritesInkAmountPages) {
  s_->PatternDif = DP_CONTONE;
  Calls calls;
  klv::ProcOutcome out;
  klv::ProcOptions options;
  options.threads = 2;
  options.count_ink = true;
  ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
  const std::string base = (job_ / "J12").string();
  char name[512];
  ASSERT_EQ(get_output_name(s_.get(), name, sizeof name), 1);
  EXPECT_EQ(out.print_files, std::vector<std::string>{name});
  EXPECT_EQ(files_in(job_), (std::vector<std::string>{"J12.C001", "J12.prt", "Proc_Info"}));
  EXPECT_EQ(klv::test::read_text(base + ".prt"), "printfiles {\n \"" + base + ".C001\"\n}\n");
  EXPECT_TRUE(out.ink.empty());
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(name, nullptr, "r", &info, KLV_TYPE_OUTIMG);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(info.width, 600);
  EXPECT_EQ(info.samples, 4u);
  EXPECT_EQ(info.bits_per_sample, 8u);
  // Ink where the chart has colour: not a blank page.
  std::vector<uint8_t> line(info.bytes_per_line);
  uint64_t sum = 0;
  for (int y = 0; y < info.height && img_read_line(img, line.data(), 1) == 1; ++y)
    for (const uint8_t v : line) sum += v;
  img_close(img);
  EXPECT_GT(sum, 0u);
  klv::ProcInfoPtr record = klv::load_proc_info((job_ / KLV_PROC_INFO_FILE).c_str());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->BitsPerSample, 8u);
}

TEST_F(ImgProc, RotationTurnsThePageAndTheLargestPrintSizeIsKept) {
  s_->Rotation = 1;
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out)) << out.error;
  EXPECT_EQ(out.width, 400);
  EXPECT_EQ(out.height, 600);
  // Turned, the page is 2.67 x 4 inches: within 3 x 4, not within 3 x 3.
  s_->PrintMaxX = 3;
  s_->PrintMaxY = 4;
  ASSERT_TRUE(Process(&calls, &out)) << out.error;
  s_->PrintMaxY = 3;
  EXPECT_FALSE(Process(&calls, &out));
  EXPECT_NE(out.error.find("larger than the job allows"), std::string::npos) << out.error;
  EXPECT_EQ(files_in(job_), std::vector<std::string>{"Proc_Info"}) << "the earlier runs' records";
}

}  // namespace
