// SPDX-License-Identifier: MIT
// The image processing driver: the demo job processed end to end (page
// files, the print-file list, the processing record, the stages in order),
// the print-file names and clean-up, progress in tenths sent once each, and
// the failures (missing printer or image, a print file that cannot be
// written, cancellation while screening) that must leave nothing behind and
// be told through the callback and the log.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/cms.h"
#include "klv/color_convert_cxx.h"
#include "klv/imgmux.h"
#include "klv/imgproc_cxx.h"
#include "klv/job_settings_cxx.h"
#include "klv/proc_info.h"
#include "support/env.h"
#include "support/files.h"
#include "support/log_capture.h"

#include "job/imgproc_pipe.h"
#include "test_imgproc_support.h"

namespace {

// Jobs start the colour-management service, which stays up for the life of
// the process; the suite stops it at the end so that the engine's own
// allocations are given back before the leak check at exit.
class ColourServiceEnd : public ::testing::Environment {
 public:
  void TearDown() override { cms_terminate(nullptr, nullptr); }
};
::testing::Environment* const kColourServiceEnd =
    ::testing::AddGlobalTestEnvironment(new ColourServiceEnd);

}  // namespace

namespace {

using namespace imgproc_test;
using klv::test::LogCapture;

TEST_F(ImgProc, DemoJobMakesPageListAndRecord) {
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out)) << out.error;
  const std::string base = (job_ / "J12").string();
  EXPECT_EQ(out.print_files, std::vector<std::string>{base + ".B001"});
  EXPECT_EQ(files_in(job_), (std::vector<std::string>{"J12.B001", "J12.prt", "Proc_Info"}));
  EXPECT_EQ(klv::test::read_text(base + ".prt"), "printfiles {\n \"" + base + ".B001\"\n}\n");
  EXPECT_EQ(out.width, 600);
  EXPECT_EQ(out.height, 400);
  // The page file is the 1-bit CMYK dots of the page.
  image_info info;
  init_image_info(&info);
  IMG_file* dots = img_mux_open((base + ".B001").c_str(), nullptr, "r", &info, KLV_TYPE_OUTIMG);
  ASSERT_NE(dots, nullptr);
  EXPECT_EQ(info.width, 600);
  EXPECT_EQ(info.height, 400);
  EXPECT_EQ(info.samples, 4u);
  EXPECT_EQ(info.bits_per_sample, 1u);
  img_close(dots);
  // The processing record beside the output.
  klv::ProcInfoPtr record = klv::load_proc_info((job_ / KLV_PROC_INFO_FILE).c_str());
  ASSERT_TRUE(record);
  EXPECT_STREQ(record->ImageFile, s_->Imagepath);
  EXPECT_STREQ(record->JobID, "J12");
  EXPECT_STREQ(record->Separations[0], "Cyan");
  EXPECT_STREQ(record->Separations[3], "Black");
  // Stages in their fixed order; the job announced; progress ends at 100%.
  std::vector<std::string> stages;
  for (const auto& st : out.stages) stages.push_back(st.stage);
  EXPECT_EQ(stages, (std::vector<std::string>{"set-up", "printer", "colour", "screens", "input",
                                              "contone", "screening", "output", "ink", "finish"}));
  ASSERT_FALSE(calls.status.empty());
  EXPECT_EQ(calls.status[0], "Processing J12");
  ASSERT_FALSE(calls.percent.empty());
  EXPECT_EQ(calls.percent.back(), "100.0%");
  for (size_t i = 1; i < calls.percent.size(); ++i)
    EXPECT_NE(calls.percent[i], calls.percent[i - 1]) << "sent twice";
  EXPECT_GT(calls.polls, 0);
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(out.usage, (Pairs{{"processSuccess", "success"},
                              {"fileExt", "tif"},
                              {"printDev", "KlvDemo"},
                              {"inkConfig", "CMYK"},
                              {"dotPattern", "FDRP Diffusion"},
                              {"printRes", " 150.000"},
                              {"pages", "1"}}));
}

TEST_F(ImgProc, SecondRunReplacesTheFirstAndThreadedScreeningGivesTheSameDots) {
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out, 1)) << out.error;
  const std::string page = (job_ / "J12.B001").string();
  const auto one = dot_lines(page);
  ASSERT_FALSE(one.empty());
  // A stale page of an earlier run would be listed with the new one.
  klv::test::write_text((job_ / "J12.B002").string(), "stale");
  ASSERT_TRUE(Process(&calls, &out, 4)) << out.error;
  EXPECT_EQ(out.threads, 4);
  EXPECT_EQ(dot_lines(page), one);
  EXPECT_FALSE(fs::exists(job_ / "J12.B002"));
  EXPECT_EQ(count_prtinfo(nullptr, (job_ / KLV_PROC_INFO_FILE).c_str()), 2);
}

// The printer's calibration of the job's media, resolution and pattern is
// applied when the printer has one, and left out (told) when not.
TEST_F(ImgProc, CalibrationOfTheJobsMode) {
  Put(s_->PrintRes, "720x720");
  s_->PatternDif = 4;
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out, 2)) << out.error;
  EXPECT_EQ(out.calibration, "Linear1~Glossy Photo~720x720~4");
  EXPECT_FALSE(out.colour.empty());
  EXPECT_EQ(out.width, 2880);
  Put(s_->PrintRes, "150x150");
  ASSERT_TRUE(Process(&calls, &out)) << out.error;
  EXPECT_EQ(out.calibration, "");
  EXPECT_FALSE(out.colour.empty());
  // An input profile the job names, found on the search path.
  Put(s_->Colorpath, "klv_srgb.icc");
  ASSERT_TRUE(Process(&calls, &out)) << out.error;
  EXPECT_EQ(out.colour.rfind("klv_srgb.icc", 0), 0u) << out.colour;
}

TEST_F(ImgProc, FolderPrintpathPutsTheFilesInsideIt) {
  Put(s_->Printpath, job_.string());
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out)) << out.error;
  EXPECT_EQ(out.list_path, (job_ / "J12.prt").string());
  EXPECT_EQ(files_in(job_), (std::vector<std::string>{"J12.B001", "J12.prt", "Proc_Info"}));
}

// Every failure: result false, the message through the callback and the
// log, and no file of the job left.
TEST_F(ImgProc, FailuresLeaveNothingBehind) {
  struct Case {
    const char* what;
    std::function<void(settings&, const fs::path&)> spoil;
    const char* message;
  };
  const Case cases[] = {
      {"missing printer", [](settings& s, const fs::path&) { Put(s.PrintDev, "NoSuchPrinter"); },
       "Printer \"NoSuchPrinter\" is not installed"},
      {"missing image",
       [](settings& s, const fs::path& dir) { Put(s.Imagepath, (dir / "gone.tif").string()); },
       "Cannot open image"},
      {"unreadable resolution", [](settings& s, const fs::path&) { Put(s.PrintRes, "fast"); },
       "print resolution \"fast\""},
      {"layout job",
       [](settings& s, const fs::path& dir) { Put(s.Imagepath, (dir / "sheet.lay").string()); },
       "Layout jobs cannot be processed yet"},
      {"missing print folder",
       [](settings& s, const fs::path& dir) { Put(s.Printpath, (dir / "none/J.prt").string()); },
       "does not exist"},
      {"missing input profile",
       [](settings& s, const fs::path& dir) { Put(s.Colorpath, (dir / "none.icc").string()); },
       "No colour conversion for the job"},
      {"bad input profile",
       [](settings& s, const fs::path& dir) {
         const fs::path bad = dir.parent_path() / "bad.icc";
         klv::test::write_text(bad.string(), std::string(200, 'x'));
         Put(s.Colorpath, bad.string());
       },
       "No colour conversion for the job"},
      // The page file's name is taken by a folder that cannot be removed.
      {"unwritable print file",
       [](settings&, const fs::path& dir) {
         fs::create_directories(dir / "J12.B001");
         klv::test::write_text((dir / "J12.B001/keep").string(), "x");
       },
       "Cannot create print file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    klv::SettingsPtr s(settings_new());
    ASSERT_TRUE(settings_copy(s.get(), s_.get()));
    c.spoil(*s, job_);
    LogCapture log;
    Calls calls;
    klv::ProcOutcome out;
    klv::ProcOptions options;
    options.threads = 1;
    EXPECT_FALSE(
        klv::process_job(job_.c_str(), s.get(), nullptr, options, record_calls, &calls, &out));
    EXPECT_NE(out.error.find(c.message), std::string::npos) << out.error;
    ASSERT_FALSE(calls.status.empty());
    EXPECT_EQ(calls.status.back(), out.error);
    EXPECT_NE(log.Text().find(c.message), std::string::npos);
    EXPECT_TRUE(out.print_files.empty());
    ASSERT_FALSE(out.usage.empty());
    EXPECT_EQ(out.usage[0].second, "failure");
    for (const std::string& name : files_in(job_))
      EXPECT_TRUE(name == "J12.B001") << name << " left behind";  // only the blocking folder
    fs::remove_all(job_ / "J12.B001");
  }
  // The C entry gives 0 as well.
  Put(s_->PrintDev, "NoSuchPrinter");
  EXPECT_EQ(begin_img_proc(job_.c_str(), s_.get(), nullptr, 1, nullptr, nullptr), 0);
}

TEST_F(ImgProc, CancelWhileScreeningLeavesNoPrintFiles) {
  for (const int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    Calls calls;
    calls.cancel_after_percent = 2;
    klv::ProcOutcome out;
    EXPECT_FALSE(Process(&calls, &out, threads));
    EXPECT_NE(out.error.find("Cancelled while screening"), std::string::npos) << out.error;
    EXPECT_EQ(calls.percent.size(), 2u);
    EXPECT_TRUE(files_in(job_).empty());
  }
}

// An image that stops giving lines after `good` of them.
class BreakingImage : public CIMG_file {
 public:
  BreakingImage(IMG_file* source, int good) : source_(source), good_(good) {
    m_info = source->info;
  }
  ~BreakingImage() override { img_close(source_); }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    count = std::min(count, good_ - m_line);
    const int32_t got = count > 0 ? img_read_line(source_, buffer, count) : 0;
    m_line += std::max(0, got);
    return got;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    const int32_t r = img_seek_line(source_, line, plane, page, whence);
    if (r >= 0) m_line = r;
    return r;
  }
  int32_t GetStatus(int32_t what) override { return img_status(source_, what); }

 private:
  IMG_file* source_;
  int good_;
};

// A page that cannot be read to its end fails the job, told with the line,
// whether the lines are pulled on the caller's thread or by the pipeline's
// reader thread, and leaves nothing behind; with the pipeline the dots and
// the ink counted as the page is written are those of one thread.
TEST_F(ImgProc, ReadFailureAndThreadsThroughTheLinePipeline) {
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    Calls calls;
    klv::ProcOutcome out;
    klv::ProcOptions options;
    options.threads = threads;
    options.open_image = [](const char* path, image_info* info) -> IMG_file* {
      IMG_file* img = img_mux_open(path, nullptr, "r", info, 0);
      return img ? (new BreakingImage(img, 150))->ToImg('r', img->type) : nullptr;
    };
    LogCapture log;
    EXPECT_FALSE(Process(&calls, &out, options));
    EXPECT_NE(out.error.find("failed at line 128"), std::string::npos) << out.error;
    EXPECT_TRUE(files_in(job_).empty());
  }
  std::vector<uint8_t> dots[2];
  std::vector<klv::ProcOutcome::InkDots> ink[2];
  for (const int threads : {1, 2}) {
    Calls calls;
    klv::ProcOutcome out;
    klv::ProcOptions options;
    options.threads = threads;
    options.count_ink = true;
    ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
    dots[threads - 1] = dot_lines((job_ / "J12.B001").string());
    ink[threads - 1] = out.ink;
    EXPECT_EQ(calls.percent.back(), "100.0%");
  }
  ASSERT_FALSE(dots[0].empty());
  EXPECT_EQ(dots[0], dots[1]);
  ASSERT_EQ(ink[0].size(), 4u);
  ASSERT_EQ(ink[1].size(), 4u);
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(ink[0][k].dots, ink[1][k].dots);
}

// Every page of a multi-page TIFF becomes its own print file (a white page
// gets no black, a dark one much), and the ink counted is theirs.
TEST_F(ImgProc, EveryPageOfATiffIsPrinted) {
  const std::string path = (fs::path(folder_.str()) / "pages.tif").string();
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  for (const uint8_t value : {255, 40}) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 150);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 100);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 150.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 150.0f);
    std::vector<uint8_t> row(150 * 3, value);
    for (uint32_t y = 0; y < 100; ++y) ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
    ASSERT_TRUE(TIFFWriteDirectory(t));
  }
  TIFFClose(t);
  Put(s_->Imagepath, path);
  Calls calls;
  klv::ProcOutcome out;
  klv::ProcOptions options;
  options.threads = 2;
  options.count_ink = true;
  ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
  ASSERT_EQ(out.print_files.size(), 2u);
  const std::vector<uint64_t> light = dots_per_ink(out.print_files[0]);
  const std::vector<uint64_t> dark = dots_per_ink(out.print_files[1]);
  ASSERT_EQ(light.size(), 4u);
  ASSERT_EQ(dark.size(), 4u);
  EXPECT_EQ(light[3], 0u) << "no black on the white page";
  EXPECT_GT(dark[3], 150u * 100 / 4) << "black on the dark page";
  ASSERT_EQ(out.ink.size(), 4u);
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(out.ink[k].dots, light[k] + dark[k]);
}

// Lines of a made-up RGB page: line y is bytes y, y + 1, ... (mod 256); no
// line from `bad` on.
class MadeUpLines : public CIMG_file {
 public:
  MadeUpLines(int width, int height, int bad) : bad_(bad) {
    m_info.width = width;
    m_info.height = height;
    m_info.bytes_per_line = uint32_t(width) * 3;
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t y = 0;
    for (; y < count && m_line < bad_; ++y, ++m_line)
      for (uint32_t i = 0; i < m_info.bytes_per_line; ++i)
        buffer[y * m_info.bytes_per_line + i] = uint8_t(m_line + i);
    return y;
  }

 private:
  int bad_;
};

// Keeps what is written to it, and takes no line from `bad` on.
class KeptLines : public CIMG_file {
 public:
  KeptLines(size_t bytes, int bad) : bytes_(bytes), bad_(bad) {}
  int32_t WriteLine(unsigned char* lines, int32_t count) override {
    int32_t y = 0;
    for (; y < count && m_line < bad_; ++y, ++m_line)
      kept.insert(kept.end(), lines + y * bytes_, lines + (y + 1) * bytes_);
    return y;
  }
  std::vector<uint8_t> kept;

 private:
  size_t bytes_;
  int bad_;
};

// The pipeline on its own: chunks reach the writer whole and in order,
// converted as one thread converts them; a read or write that fails and a
// stop end it with the first line of the chunk concerned.
TEST(ImgProcPipe, ChunksInOrderAndEveryWayToEnd) {
  ScopedEnv path("KLV_PATH", kSearch);
  klv::ColorConversionSetup setup;
  std::string error;
  const auto conversion = klv::ColorConversion::Open(setup, &error);
  ASSERT_TRUE(conversion) << error;
  struct Case {
    const char* what;
    bool convert;
    int bad_read, bad_write, stop_after;  // -1: never
    klv::proc::PipeOutcome::Kind kind;
    int line, kept;
  };
  const int w = 77, h = 1000;
  const Case cases[] = {
      {"as read", false, -1, -1, -1, klv::proc::PipeOutcome::kDone, 960, h},
      {"converted", true, -1, -1, -1, klv::proc::PipeOutcome::kDone, 960, h},
      {"read fails", true, 300, -1, -1, klv::proc::PipeOutcome::kReadFailed, 256, 256},
      {"write fails", true, -1, 500, -1, klv::proc::PipeOutcome::kWriteFailed, 448, 500},
      {"stopped", false, -1, -1, 3, klv::proc::PipeOutcome::kStopped, 192, 192},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IMG_file* in = (new MadeUpLines(w, h, c.bad_read < 0 ? h : c.bad_read))->ToImg('r', 0);
    auto* kept = new KeptLines(c.convert ? w * 4 : w * 3, c.bad_write < 0 ? h : c.bad_write);
    IMG_file* out = kept->ToImg('w', 0);
    ASSERT_TRUE(in && out);
    int chunks = 0;
    klv::proc::PipeLines p;
    p.in = in;
    p.out = out;
    p.conversion = c.convert ? conversion.get() : nullptr;
    p.width = w;
    p.height = h;
    p.chunk = 64;
    p.in_bytes = size_t(w) * 3;
    p.out_bytes = size_t(w) * (c.convert ? 4 : 3);
    p.stop = [&] { return chunks == c.stop_after; };
    p.written = [&](int) { ++chunks; };
    klv::proc::PipeOutcome why;
    ASSERT_TRUE(klv::proc::pipe_lines(p, &why));
    EXPECT_EQ(why.kind, c.kind);
    EXPECT_EQ(why.line, c.line);
    // What was written: the made-up lines, converted one line at a time.
    std::vector<uint8_t> want, line(p.in_bytes), converted(p.out_bytes);
    MadeUpLines source(w, h, h);
    for (int y = 0; y < c.kept; ++y) {
      source.ReadLine(line.data(), 1);
      if (c.convert) conversion->Line8(line.data(), converted.data(), uint32_t(w));
      const std::vector<uint8_t>& l = c.convert ? converted : line;
      want.insert(want.end(), l.begin(), l.end());
    }
    EXPECT_TRUE(kept->kept == want);
    img_close(in);
    img_close(out);
  }
}

TEST(ImgProcNames, OutputNamePagesAndList) {
  klv::SettingsPtr s(settings_new());
  std::snprintf(s->Printpath, sizeof s->Printpath, "%s", "/jobs/J12.prt");
  char out[64];
  ASSERT_EQ(get_output_name(s.get(), out, sizeof out), 1);
  EXPECT_STREQ(out, "/jobs/J12.C001");
  ASSERT_EQ(imgproc_page_name(s.get(), 'B', 2, out, sizeof out), 1);
  EXPECT_STREQ(out, "/jobs/J12.B002");
  ASSERT_EQ(imgproc_page_name(s.get(), 'B', 12, out, sizeof out), 1);
  EXPECT_STREQ(out, "/jobs/J12.B012");
  EXPECT_EQ(get_output_name(s.get(), out, 8), 0) << "does not fit";
  EXPECT_STREQ(out, "");
  s->Printpath[0] = 0;
  EXPECT_EQ(get_output_name(s.get(), out, sizeof out), 0);
}

TEST(ImgProcNames, ListHoldsThePagesInOrderAndCleanUpRemovesThem) {
  ScratchFolder dir("imgproc_names");
  klv::SettingsPtr s(settings_new());
  std::snprintf(s->Printpath, sizeof s->Printpath, "%s", dir.path("J.prt").c_str());
  std::snprintf(s->Imagepath, sizeof s->Imagepath, "%s", dir.path("pic.tif").c_str());
  EXPECT_EQ(proc_make_prt_file(nullptr, s.get(), 0), 0) << "no pages yet";
  EXPECT_FALSE(fs::exists(dir.path("J.prt")));
  for (const char* name : {"J.B001", "J.B002", "J.B003", "J.B005"}) dir.write(name, "dots");
  ASSERT_EQ(proc_make_prt_file(nullptr, s.get(), 0), 1);
  EXPECT_EQ(klv::test::read_text(dir.path("J.prt")),
            "printfiles {\n \"" + dir.path("J.B001") + "\"\n \"" + dir.path("J.B002") + "\"\n \"" +
                dir.path("J.B003") + "\"\n}\n");
  for (const char* name : {"J.C001", "J.BPGS", "J.CPGS", "J.RPGS", "J.R001", "J.Bx", "K.B001",
                           "J.tif", "pic.prn", "pic.pr", "pic.tif"})
    dir.write(name, "x");
  EXPECT_EQ(imgproc_remove_print_files(s.get(), 0), 9);
  EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"J.Bx", "J.R001", "J.RPGS", "J.tif",
                                                            "K.B001", "pic.pr", "pic.tif"}));
  EXPECT_EQ(imgproc_remove_print_files(s.get(), 1), 2);
}

TEST(ImgProcNames, TenthsRoundHalfUp) {
  const struct {
    int64_t done, total;
    int32_t tenths;
  } cases[] = {{0, 10000, 0},
               {4, 10000, 0},
               {5, 10000, 1},
               {14, 10000, 1},
               {15, 10000, 2},
               {1, 3, 333},
               {2, 3, 667},
               {9999, 10000, 1000},
               {7, 7, 1000},
               {8, 7, 1000},
               {3, 0, 0},
               {-1, 5, 0},
               {int64_t(1) << 40, int64_t(1) << 41, 500}};
  for (const auto& c : cases)
    EXPECT_EQ(imgproc_tenths(c.done, c.total), c.tenths) << c.done << "/" << c.total;
}

TEST_F(ImgProc, ScreeningThreadsFromTheRegistry) {
  const int cpus = int(std::max(1u, std::thread::hardware_concurrency()));
  const struct {
    const char* value;
    int threads;
  } cases[] = {{nullptr, 1}, {"0", 1}, {"many", 1}, {"1", cpus}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(missing)");
    ScopedEnv value("MultiThreadedProcess", c.value);
    Calls calls;
    klv::ProcOutcome out;
    ASSERT_TRUE(Process(&calls, &out, 0)) << out.error;
    EXPECT_EQ(out.threads, c.threads);
  }
}

TEST_F(ImgProc, PlainProgressGetsTenthsOutOfAThousand) {
  struct Seen {
    std::vector<int> values;
    int scale = 0;
  } seen;
  const auto progress = [](int32_t value, int32_t scale, void* context) {
    auto* s = static_cast<Seen*>(context);
    s->values.push_back(value);
    s->scale = scale;
  };
  ASSERT_EQ(start_img_proc(job_.c_str(), s_.get(), "J12", progress, &seen), 1);
  EXPECT_EQ(seen.scale, 1000);
  ASSERT_FALSE(seen.values.empty());
  EXPECT_EQ(seen.values.back(), 1000);
  EXPECT_TRUE(std::is_sorted(seen.values.begin(), seen.values.end()));
}

}  // namespace
