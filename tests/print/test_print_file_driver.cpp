// SPDX-License-Identifier: MIT
// A processed demo job printed through the file driver: the driver gets back
// exactly the dots of the job's print files (per separation, black first as
// the driver takes them), in its TIFF page and its dot counts; and a job
// aborted during a frame through the job's abort callback ends cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>
#ifdef KLV_CUPS_DRIVER
#include <cups/raster.h>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "klv/cms.h"
#include "klv/imgmux.h"
#include "klv/imgproc_cxx.h"
#include "klv/job_settings_cxx.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_volume.h"
#include "klv/outimg.h"
#include "klv/printmode.h"
#include "klv/printobj_cxx.h"
#include "print_dots.h"
#include "support/env.h"
#include "support/files.h"

#ifdef KLV_FILE_DRIVER

namespace {

namespace fs = std::filesystem;
using klv::test::ScopedEnv;
using klv::test::ScratchFolder;

const std::string kData = fs::absolute(KLV_DATA_DIR).lexically_normal().string();
#ifdef KLV_CMS_ENGINES
const std::string kSearch = kData + ":" + KLV_CMS_ENGINES;
#else
const std::string kSearch = kData;
#endif

template <size_t N>
void put(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

// A print file's planes: planes[c][y * row + byte], c in file order (C, M, Y, K).
struct Planes {
  int32_t width = 0, height = 0;
  size_t row = 0;
  std::vector<std::vector<uint8_t>> planes;
  std::vector<uint64_t> dots;
};

Planes read_planes(const std::string& file) {
  Planes p;
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(file.c_str(), nullptr, "r", &info, KLV_TYPE_OUTIMG);
  if (!img) return p;
  p.width = info.width;
  p.height = info.height;
  p.row = (size_t(info.width) + 7) / 8;
  const uint32_t n = info.samples;
  p.planes.assign(n, std::vector<uint8_t>(p.row * size_t(p.height), 0));
  p.dots.assign(n, 0);
  std::vector<uint8_t> line(info.bytes_per_line);
  for (int32_t y = 0; y < info.height && img_read_line(img, line.data(), 1) == 1; ++y)
    for (int32_t x = 0; x < info.width; ++x)
      for (uint32_t c = 0; c < n; ++c) {
        const size_t bit = size_t(x) * n + c;
        if (line[bit / 8] & (0x80 >> (bit % 8))) {
          p.planes[c][size_t(y) * p.row + size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
          ++p.dots[c];
        }
      }
  img_close(img);
  return p;
}

// The file driver's TIFF page `path` (separations in the driver's order K,
// C, M, Y) holds the print file's planes line for line.
void expect_driver_page(const fs::path& path, const Planes& expected) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr) << path;
  uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  EXPECT_EQ(int32_t(width), expected.width);
  EXPECT_EQ(int32_t(height), expected.height);
  std::vector<uint8_t> row(TIFFScanlineSize(tif));
  EXPECT_EQ(row.size(), expected.row);
  const int order[4] = {3, 0, 1, 2};
  for (int c = 0; c < 4 && int32_t(width) == expected.width && row.size() == expected.row; ++c)
    for (uint32_t y = 0; y < height && int32_t(y) < expected.height; ++y) {
      ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, uint16_t(c)), 1);
      ASSERT_EQ(std::memcmp(row.data(), &expected.planes[order[c]][y * expected.row], row.size()),
                0)
          << "separation " << c << " line " << y;
    }
  TIFFClose(tif);
}

struct AbortAfter : IPrintAbort {
  int asked = 0, after = 0;
  bool ShouldAbort() override { return ++asked > after; }
};

class PrintFileDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    job_ = fs::path(folder_.str()) / "P1";
    fs::create_directories(job_);
    out_ = fs::path(folder_.str()) / "out";
    s_.reset(settings_new());
    ASSERT_TRUE(s_);
    put(s_->Imagepath, kData + "/samples/chart.tif");
    put(s_->Printpath, (job_ / "P1.prt").string());
    put(s_->PrintDev, "KlvDemo");
    put(s_->PrintMedia, "Glossy Photo");
    put(s_->PrintMode, "Stochastic");
    put(s_->PrintRes, "150x150");
    put(s_->JobName, "P1");
  }
  // The colour engine the job was processed with is let go.
  void TearDown() override { cms_terminate(nullptr, nullptr); }
  std::vector<std::string> Process() {
    klv::ProcOptions options;
    options.threads = 1;
    klv::ProcOutcome out;
    EXPECT_TRUE(klv::process_job(job_.c_str(), s_.get(), nullptr, options, nullptr, nullptr, &out))
        << out.error;
    return out.print_files;
  }

  ScopedEnv path_{"KLV_PATH", kSearch};
  ScratchFolder folder_{"print_file"};
  ScopedEnv registry_{"KLV_REGISTRY", folder_.path("Registry.info")};
  fs::path job_, out_;
  klv::SettingsPtr s_;
};

TEST_F(PrintFileDriver, DemoJobReachesTheDriverDotForDot) {
  const std::vector<std::string> files = Process();
  ASSERT_EQ(files.size(), 1u);
  const Planes expected = read_planes(files[0]);
  ASSERT_EQ(expected.planes.size(), 4u);

  CPrintObj printer("KlvDemo", true);
  ASSERT_EQ(printer.GetLastStatus(), 0);
  ASSERT_EQ(SP_set_port_name(printer.Object(), out_.c_str()), 0);
  CPrintJobInfo job;
  job.name = "P1";
  ASSERT_EQ(printer.StartJob(job), 0);
  CPrintFrameInfo frame;
  frame.name = "page 1";
  ASSERT_EQ(klv::print_page_file(printer, files[0].c_str(), frame, nullptr, nullptr), 0);
  _SP_DOT_COUNT counts{};
  ASSERT_EQ(printer.GetDotCount(&counts, true), 0);
  ASSERT_EQ(printer.EndJob(), 0);

  // The driver's order is K, C, M, Y: file planes 3, 0, 1, 2.
  const int order[4] = {3, 0, 1, 2};
  ASSERT_EQ(counts.channels, 4u);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(counts.dots[c], expected.dots[order[c]]) << c;
  expect_driver_page(out_ / "P1.tif", expected);
}

TEST_F(PrintFileDriver, QueriesAnswerFromThePrintersInformation) {
  CPrintObj printer("KlvDemo", true);
  ASSERT_EQ(printer.GetLastStatus(), 0);
  EXPECT_EQ(printer.GetName(), "KlvDemo");
  EXPECT_STREQ(printer.GetDeviceName(), "KlvDemo");
  uint32_t key = 0;
  EXPECT_EQ(printer.KeyInfo(&key), 0);
  EXPECT_EQ(key, 0x46494C45u);
  const SSTRAL* medias = printer.GetMedias();
  ASSERT_NE(medias, nullptr);
  bool glossy = false;
  for (int32_t i = 0; i < stral_count(medias); ++i) {
    int32_t n = 0;
    const char* const* m = stral_get(medias, i, &n);
    glossy = glossy || (n > 0 && std::string(m[0]) == "Glossy Photo");
  }
  EXPECT_TRUE(glossy);
  const SSTRAL* modes = printer.GetModes("Glossy Photo");
  ASSERT_NE(modes, nullptr);
  EXPECT_GT(stral_count(modes), 0);
  int32_t n = 0;
  const char* const* first = stral_get(modes, 0, &n);
  ASSERT_GT(n, 0);
  EXPECT_NE(printer.GetMode("Glossy Photo", first[0]), nullptr) << first[0];
  EXPECT_EQ(printer.GetMode("Glossy Photo", "No Such Mode"), nullptr);
  EXPECT_NE(printer.GetPageSizes(nullptr), nullptr);
  MLPROCINFO ml{};
  EXPECT_EQ(printer.GetMLProcInfo("Glossy Photo", "Stochastic", &ml), 0);
  EXPECT_EQ(ml.colors, 4u);
  EXPECT_EQ(printer.reloadInfo("KlvDemo"), 0);
  EXPECT_NE(printer.GetPrntInfo(), nullptr);
}

TEST_F(PrintFileDriver, AbortDuringAFrameEndsTheJobCleanly) {
  const std::vector<std::string> files = Process();
  ASSERT_EQ(files.size(), 1u);
  CPrintObj printer("KlvDemo", true);
  ASSERT_EQ(printer.GetLastStatus(), 0);
  ASSERT_EQ(SP_set_port_name(printer.Object(), out_.c_str()), 0);
  AbortAfter abort;
  abort.after = 100;  // the driver asks before each line
  CPrintJobInfo job;
  job.name = "P1";
  job.abort = &abort;
  ASSERT_EQ(printer.StartJob(job), 0);
  EXPECT_EQ(klv::print_page_file(printer, files[0].c_str(), CPrintFrameInfo{}, nullptr, nullptr),
            101);
  EXPECT_EQ(abort.asked, 101);
  EXPECT_FALSE(printer.HasFrame());
  EXPECT_EQ(printer.EndJob(), 0);  // cancelled
  // The printer takes the next job.
  abort.asked = 0;
  abort.after = 1 << 30;
  ASSERT_EQ(printer.StartJob(job), 0);
  EXPECT_EQ(klv::print_page_file(printer, files[0].c_str(), CPrintFrameInfo{}, nullptr, nullptr),
            0);
  EXPECT_EQ(printer.EndJob(), 0);
  EXPECT_TRUE(fs::exists(out_ / "P1-1.png"));
}

// A job processed in contone mode leaves ink amounts (".C" pages); printed
// through the file driver they are screened at print time, to the dots the
// placement alone makes of that page.
TEST_F(PrintFileDriver, ContoneJobIsScreenedAtPrintTime) {
  s_->PatternDif = DP_CONTONE;
  const std::vector<std::string> files = Process();
  ASSERT_EQ(files.size(), 1u);
  ASSERT_NE(files[0].find(".C001"), std::string::npos) << files[0];
  image_info contone;
  init_image_info(&contone);
  IMG_file* in = img_mux_open(files[0].c_str(), nullptr, "r", &contone, KLV_TYPE_OUTIMG);
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(contone.bits_per_sample, 8u);
  std::vector<uint8_t> page(size_t(contone.bytes_per_line) * contone.height);
  ASSERT_EQ(img_read_line(in, page.data(), contone.height), contone.height);
  img_close(in);
  const std::vector<uint8_t> expected = printtest::screened(contone, page.data());
  ASSERT_FALSE(expected.empty());

  CPrintObj printer("KlvDemo", true);
  ASSERT_EQ(SP_set_port_name(printer.Object(), out_.c_str()), 0);
  CPrintJobInfo job;
  job.name = "P1";
  ASSERT_EQ(printer.StartJob(job), 0);
  CPrintFrameInfo frame;
  frame.media = s_->PrintMedia;
  frame.mode = s_->PrintMode;
  frame.pattern = s_->PatternDif;
  ASSERT_EQ(klv::print_page_file(printer, files[0].c_str(), frame, nullptr, nullptr), 0);
  ASSERT_EQ(printer.EndJob(), 0);

  TIFF* tif = TIFFOpen((out_ / "P1.tif").c_str(), "r");
  ASSERT_NE(tif, nullptr);
  uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  ASSERT_EQ(int32_t(width), contone.width);
  ASSERT_EQ(int32_t(height), contone.height);
  const size_t plane = (size_t(width) + 7) / 8;
  std::vector<uint8_t> row(TIFFScanlineSize(tif));
  ASSERT_EQ(row.size(), plane);
  const int order[4] = {3, 0, 1, 2};  // the driver takes K, C, M, Y
  for (int c = 0; c < 4; ++c)
    for (uint32_t y = 0; y < height; ++y) {
      ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, uint16_t(c)), 1);
      ASSERT_EQ(
          std::memcmp(row.data(), &expected[(size_t(y) * 4 + size_t(order[c])) * plane], plane), 0)
          << "separation " << c << " line " << y;
    }
  TIFFClose(tif);
}

struct Seen : IPrintStatusCallback {
  std::vector<std::string> texts;
  void PrintStatus(int32_t code, const char* text) override {
    texts.push_back(std::to_string(code) + " " + text);
  }
};

// A job frame's dots counted by the driver's ink counter, the progress told
// to the status callback.
TEST_F(PrintFileDriver, JobFrameDotsAreCountedThroughTheDriver) {
  const std::vector<std::string> files = Process();
  ASSERT_EQ(files.size(), 1u);
  const Planes expected = read_planes(files[0]);
  const std::string path = folder_.path("job.vol");
  SOVolume* volume = VOpen(nullptr, path.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(volume, nullptr);
  CPrintObj printer("KlvDemo", true);
  Seen seen;
  printer.SetStatusCallback(&seen);
  image_info info;
  init_image_info(&info);
  IMG_file* in = img_mux_open(files[0].c_str(), nullptr, "r", &info, KLV_TYPE_OUTIMG);
  ASSERT_NE(in, nullptr);
  IMG_file* out = nullptr;
  ASSERT_EQ(
      printer.BeginJobFrame(volume, "Frame.001", CPrintFrameInfo{}, &info, &out, nullptr, nullptr),
      0);
  std::vector<uint8_t> line(info.bytes_per_line);
  for (int32_t y = 0; y < info.height; ++y) {
    ASSERT_EQ(img_read_line(in, line.data(), 1), 1);
    ASSERT_EQ(img_write_line(out, line.data(), 1), 1);
  }
  img_close(in);
  ASSERT_EQ(printer.EndFrame(out), 0);
  _SP_DOT_COUNT counts{};
  ASSERT_EQ(printer.CountJobFrame(volume, "Frame.001", &counts), 0);
  ASSERT_EQ(counts.channels, 4u);
  // Stored as written: C, M, Y, K.
  for (int c = 0; c < 4; ++c) EXPECT_EQ(counts.dots[c], expected.dots[c]) << c;
  ASSERT_FALSE(seen.texts.empty());
  EXPECT_EQ(seen.texts.back(), "2 1.000");
  EXPECT_EQ(printer.CountJobFrame(volume, "No.Such.Frame", &counts), 2);
  // The preview of the dots is there too.
  image_info preview;
  init_image_info(&preview);
  IMG_file* img = outimg_open_img(KLV_JOB_FRAME_PREVIEW, volume, "r", &preview);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(std::max(preview.width, preview.height), 400);
  img_close(img);
}

// The job's picture printed as it is, with the job's media, resolution and
// pattern, reaches the driver as the dots the job driver made of it.
TEST_F(PrintFileDriver, PicturePrintedDirectlyGetsTheJobsDots) {
  const std::vector<std::string> files = Process();
  ASSERT_EQ(files.size(), 1u);
  const Planes expected = read_planes(files[0]);
  ASSERT_EQ(expected.planes.size(), 4u);
  CPrintObj printer("KlvDemo", true);
  ASSERT_EQ(SP_set_port_name(printer.Object(), out_.c_str()), 0);
  CPrintJobInfo job;
  job.name = "P2";
  ASSERT_EQ(printer.StartJob(job), 0);
  CPrintFrameInfo frame;
  frame.media = s_->PrintMedia;
  frame.mode = s_->PrintMode;  // not in the printer's information: the pattern counts
  frame.pattern = s_->PatternDif;
  ASSERT_EQ(klv::print_page_file(printer, s_->Imagepath, frame, nullptr, nullptr), 0);
  ASSERT_EQ(printer.EndJob(), 0);
  expect_driver_page(out_ / "P2.tif", expected);
}

// A contone image is brought to its mode's resolution (over the repeat);
// one without a resolution keeps its pixels.
TEST_F(PrintFileDriver, ContoneFramesTakeTheModesResolution) {
  CPrintObj printer("KlvDemo", true);
  ASSERT_EQ(printer.GetLastStatus(), 0);
  struct Case {
    double res;
    const char* repeat;
    int32_t width, height;
    double xres;
  } cases[] = {{180, "", 400, 200, 720}, {180, "2x1", 400, 200, 720}, {0, "", 100, 50, 720}};
  for (const Case& c : cases) {
    image_info rgb = printtest::contone_info(100, 50, c.res);
    rgb.samples = 3;
    rgb.photometric = KLV_PHOTO_MINBLACK;
    rgb.bytes_per_line = image_info_line_bytes(&rgb);
    CPrintFrameInfo frame;
    frame.media = "Glossy Photo";
    frame.mode = "720 dpi, Screen(85 lpi)";
    frame.repeat = c.repeat;
    image_info buffer;
    init_image_info(&buffer);
    ASSERT_EQ(printer.GetBufImin(frame, &rgb, &buffer), 0) << c.res << " " << c.repeat;
    EXPECT_EQ(buffer.width, c.width) << c.res << " " << c.repeat;
    EXPECT_EQ(buffer.height, c.height) << c.res << " " << c.repeat;
    EXPECT_EQ(buffer.xres, c.xres) << c.res << " " << c.repeat;
  }
}

// An 8-bit CMYK TIFF of ink amounts at `res` dpi.
bool write_cmyk_tiff(const std::string& path, const image_info& info,
                     const std::vector<uint8_t>& lines) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(info.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(info.height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(info.xres));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(info.yres));
  bool ok = true;
  for (int32_t y = 0; y < info.height && ok; ++y)
    ok = TIFFWriteScanline(tif, const_cast<uint8_t*>(&lines[size_t(y) * info.bytes_per_line]),
                           uint32_t(y), 0) == 1;
  TIFFClose(tif);
  return ok;
}

// The dots per ink (the driver's order: K, C, M, Y) the file driver counts
// of `page` printed as one frame of `frame`'s media and mode.
std::vector<uint64_t> printed_dots(const image_info& page, const std::vector<uint8_t>& lines,
                                   const CPrintFrameInfo& frame, const std::string& port) {
  CPrintObj printer("KlvDemo", true);
  if (printer.GetLastStatus() != 0 || SP_set_port_name(printer.Object(), port.c_str()) != 0)
    return {};
  CPrintJobInfo job;
  job.name = "F1";
  IMG_file* out = nullptr;
  if (printer.StartJob(job) != 0 || printer.BeginFrame(frame, &page, &out) != 0) return {};
  const int32_t written = img_write_line(out, const_cast<uint8_t*>(lines.data()), page.height);
  _SP_DOT_COUNT counts{};
  const bool ok = printer.EndFrame(out) == 0 && written == page.height &&
                  printer.GetDotCount(&counts, true) == 0 && counts.channels == 4;
  printer.EndJob();
  if (!ok) return {};
  return {counts.dots[0], counts.dots[1], counts.dots[2], counts.dots[3]};
}

// Plain Paper screened at print time takes the profile library's ink
// restriction (cyan, magenta and yellow to 85 %, black to 95 %): a flat page
// gets that share of the dots it gets from the same printer without a
// library. Inks restricted already are not restricted again.
TEST_F(PrintFileDriver, PrintTimeScreeningTakesTheLibrarysInkRestriction) {
  image_info page = printtest::contone_info(128, 96, 720);
  const std::vector<uint8_t> flat(size_t(page.bytes_per_line) * page.height, 204);
  CPrintFrameInfo frame;
  frame.media = "Plain Paper";
  frame.mode = "720 dpi, FDRP Diffusion";
  const std::vector<uint64_t> restricted = printed_dots(page, flat, frame, out_.string());
  ASSERT_EQ(restricted.size(), 4u);
  // The same printer without its profile library.
  const fs::path data = fs::path(folder_.str()) / "data";
  fs::create_directories(data);
  for (const char* file : {"Printer_Client.info", "Printer_Types.info"})
    fs::copy_file(kData + "/" + file, data / file);
  fs::copy(kData + "/printers", data / "printers", fs::copy_options::recursive);
  fs::remove(data / "printers/KlvDemo/Info/PRINTER.PrnLib");
  std::vector<uint64_t> plain, final_without_library;
  CPrintFrameInfo final_inks = frame;  // a job's contone print file: restricted already
  final_inks.inks_final = true;
  {
    ScopedEnv path("KLV_PATH", data.string() + kSearch.substr(kData.size()));
    plain = printed_dots(page, flat, frame, out_.string());
    final_without_library = printed_dots(page, flat, final_inks, out_.string());
  }
  ASSERT_EQ(final_without_library.size(), 4u);
  EXPECT_EQ(printed_dots(page, flat, final_inks, out_.string()), final_without_library);
  ASSERT_EQ(plain.size(), 4u);
  // The engines take the curve at whole percents: a little under the share.
  const double share[4] = {0.95, 0.85, 0.85, 0.85};  // K, C, M, Y
  for (int c = 0; c < 4; ++c) {
    ASSERT_GT(plain[c], 1000u) << c;
    const double ratio = double(restricted[c]) / double(plain[c]);
    EXPECT_GT(ratio, share[c] - 0.03) << "ink " << c << ": " << restricted[c] << " of " << plain[c];
    EXPECT_LT(ratio, share[c] + 0.01) << "ink " << c << ": " << restricted[c] << " of " << plain[c];
  }
}

// An ink image of the demo printer's Plain Paper mode printed at print time
// gets the dots the job driver makes of it: the same calibration, process
// record and ink restriction.
TEST_F(PrintFileDriver, PlainPaperAtPrintTimeGetsTheJobsDots) {
  const image_info page = printtest::contone_info(96, 64, 720);
  const std::vector<uint8_t> lines = printtest::contone_page(page);
  const std::string tiff = folder_.path("inks.tif");
  ASSERT_TRUE(write_cmyk_tiff(tiff, page, lines));
  put(s_->Imagepath, tiff);
  put(s_->PrintMedia, "Plain Paper");
  put(s_->PrintMode, "720 dpi, FDRP Diffusion");
  put(s_->PrintRes, "720x720");
  const std::vector<std::string> files = Process();
  ASSERT_EQ(files.size(), 1u);
  const Planes expected = read_planes(files[0]);
  ASSERT_EQ(expected.planes.size(), 4u);
  ASSERT_EQ(expected.width, page.width);
  CPrintObj printer("KlvDemo", true);
  ASSERT_EQ(SP_set_port_name(printer.Object(), out_.c_str()), 0);
  CPrintJobInfo job;
  job.name = "P3";
  ASSERT_EQ(printer.StartJob(job), 0);
  CPrintFrameInfo frame;
  frame.media = s_->PrintMedia;
  frame.mode = s_->PrintMode;
  ASSERT_EQ(klv::print_page_file(printer, tiff.c_str(), frame, nullptr, nullptr), 0);
  ASSERT_EQ(printer.EndJob(), 0);
  expect_driver_page(out_ / "P3.tif", expected);
}

#ifdef KLV_CUPS_DRIVER
// The same job through the CUPS raster driver: a raster stream whose CMYK
// lines hold the print file's planes.
TEST_F(PrintFileDriver, DemoJobAsACupsRasterStream) {
  const std::vector<std::string> files = Process();
  ASSERT_EQ(files.size(), 1u);
  const Planes expected = read_planes(files[0]);
  int32_t error = 0;
  SP_OBJECT* object = SP_open(KLV_CUPS_DRIVER, "CUPS", &error, "Queue");
  ASSERT_NE(object, nullptr) << error;
  const std::string port = folder_.path("P1.ras");
  ASSERT_EQ(SP_set_port_name(object, port.c_str()), 0);
  SP_INFO info{sizeof(SP_INFO), nullptr};
  {
    CPrintObj printer(object, "Queue", &info, true);
    CPrintJobInfo job;
    job.name = "P1";
    ASSERT_EQ(printer.StartJob(job), 0);
    ASSERT_EQ(klv::print_page_file(printer, files[0].c_str(), CPrintFrameInfo{}, nullptr, nullptr),
              0);
    ASSERT_EQ(printer.EndJob(), 0);
  }
  SP_close(object);
  const int fd = open(port.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  ASSERT_NE(raster, nullptr);
  cups_page_header2_t h;
  ASSERT_TRUE(cupsRasterReadHeader2(raster, &h));
  EXPECT_EQ(int32_t(h.cupsWidth), expected.width);
  EXPECT_EQ(int32_t(h.cupsHeight), expected.height);
  EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_CMYK);
  std::vector<uint8_t> line(h.cupsBytesPerLine);
  ASSERT_EQ(line.size(), 4 * expected.row);  // banded: C, M, Y, K rows
  for (int32_t y = 0; y < expected.height; ++y) {
    ASSERT_EQ(cupsRasterReadPixels(raster, line.data(), unsigned(line.size())), line.size());
    for (int c = 0; c < 4; ++c)
      ASSERT_EQ(
          std::memcmp(&line[c * expected.row], &expected.planes[c][y * expected.row], expected.row),
          0)
          << "plane " << c << " line " << y;
  }
  cupsRasterClose(raster);
  close(fd);
}
#endif

}  // namespace

#endif
