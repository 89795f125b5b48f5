// SPDX-License-Identifier: MIT
// PDF/PostScript/EPS stream: recognition and description parsing; pages
// rendered through the stream match the interpreter run alone with the same
// options (gray, RGB, CMYK; every page of multi-page files); the growing-page
// status; hostile documents (endless loops, reading or writing other files,
// no page) end in clear errors within the time limit; closing mid-render
// leaves no child process and no temporary files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "img/formats/gs_describe.h"
#include "klv/gsimg.h"
#include "klv/imgmux.h"
#include "peer_tools.h"
#include "support/env.h"
#include "support/files.h"
#include "support/log_capture.h"

using klv::img::GsDescription;
using klv::img::GsKind;
using klv::test::have_tool;
using klv::test::LogCapture;
using klv::test::make_pdf;
using klv::test::Raster;
using klv::test::read_netpbm;
using klv::test::run_shell;
using klv::test::ScopedEnv;
using klv::test::ScratchFolder;

namespace {

// Two pages of different sizes with colours, a gradient and text.
const char kTwoPages[] = R"(%!PS-Adobe-3.0
%%BoundingBox: 0 0 300 150
%%Pages: 2
%%EndComments
%%Page: 1 1
<< /PageSize [200 100] >> setpagedevice
1 0 0 setrgbcolor 10 10 100 50 rectfill
0 1 99 { dup 255 div setgray 100 add 60 1 30 rectfill } for
0 0 1 0 setcmykcolor /Helvetica findfont 14 scalefont setfont 20 75 moveto (Page one) show
showpage
%%Page: 2 2
<< /PageSize [300 150] >> setpagedevice
0 0.5 1 setrgbcolor 30 20 200 90 rectfill
0.2 setgray 5 setlinewidth 10 10 moveto 290 140 lineto stroke
showpage
%%EOF
)";

const char kEps[] = R"(%!PS-Adobe-3.0 EPSF-3.0
%%BoundingBox: 10 20 110 70
0 0.6 0 setrgbcolor 10 20 60 30 rectfill
1 0 0 setrgbcolor 40 40 60 25 rectfill
)";

bool have_gs() {
  return have_tool("gs");
}

const char* device(int32_t color) {
  return color == GSIMG_GRAY ? "pgmraw" : color == GSIMG_CMYK ? "pamcmyk32" : "ppmraw";
}

// The page as the interpreter renders it alone with the stream's options.
Raster render_alone(const ScratchFolder& dir, const std::string& file, int32_t color, int res,
                    int page, const std::string& extra = "") {
  const std::string out = dir.path("alone.pnm");
  std::filesystem::remove(out);
  const std::string p = std::to_string(page + 1);
  run_shell(std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=") + device(color) + " -r" +
            std::to_string(res) + " -dFirstPage=" + p + " -dLastPage=" + p + " " + extra +
            " -sOutputFile='" + out + "' '" + file + "'");
  return read_netpbm(out);
}

// Every line of the stream's current page, from its first line.
std::vector<uint8_t> read_page(IMG_file* img) {
  const size_t bpl = img->info.bytes_per_line;
  std::vector<uint8_t> all(bpl * size_t(img->info.height));
  const int32_t got = img_read_line(img, all.data(), img->info.height);
  if (got != img->info.height) all.clear();
  return all;
}

// The stream's page equals the interpreter's raster at the top left and is
// white beyond it; a message names the first difference.
std::string compare(const std::vector<uint8_t>& ours, const image_info& info, const Raster& alone) {
  if (ours.empty()) return "the stream delivered no page";
  if (alone.width == 0) return "the interpreter alone rendered nothing";
  const int depth = int(info.samples);
  if (alone.depth != depth) return "depths differ";
  if (alone.width > info.width || alone.height > info.height) return "stream smaller than page";
  const uint8_t white = info.photometric == KLV_PHOTO_MINWHITE ? 0 : 255;
  for (int y = 0; y < info.height; ++y)
    for (int x = 0; x < info.width; ++x)
      for (int c = 0; c < depth; ++c) {
        const uint8_t got = ours[size_t(y) * info.bytes_per_line + size_t(x) * depth + c];
        const bool inside = x < alone.width && y < alone.height;
        const uint8_t want = inside ? uint8_t(alone.at(x, y, c)) : white;
        if (got != want)
          return "pixel " + std::to_string(x) + "," + std::to_string(y) + " channel " +
                 std::to_string(c) + ": " + std::to_string(got) + " != " + std::to_string(want);
      }
  return {};
}

bool process_gone(pid_t pid) {
  // A reaped child is gone; an unreaped one would still answer (as a zombie).
  return pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH;
}

size_t our_temp_entries() {
  const char* tmp = std::getenv("TMPDIR");
  size_t n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(tmp ? tmp : "/tmp", ec))
    if (e.path().filename().string().starts_with("klvgs")) ++n;
  return n;
}

// --- Recognition and description -------------------------------------

TEST(GsDescribe, KindsByFirstBytes) {
  const struct {
    std::string head;
    GsKind kind;
  } cases[] = {
      {"%PDF-1.7\n%", GsKind::kPdf},
      {"%!PS-Adobe-3.0\n", GsKind::kPostScript},
      {"%!PS\n", GsKind::kPostScript},
      {"%!PS-Adobe-3.0 EPSF-3.0\n", GsKind::kEps},
      {std::string("\xC5\xD0\xD3\xC6\x1E\0\0\0", 8), GsKind::kEps},
      {"%PDF", GsKind::kNone},  // cut short
      {"GIF89a", GsKind::kNone},
      {"", GsKind::kNone},
  };
  for (const auto& c : cases)
    EXPECT_EQ(klv::img::gs_kind(reinterpret_cast<const uint8_t*>(c.head.data()), c.head.size()),
              c.kind)
        << c.head;
}

TEST(GsDescribe, StructuringComments) {
  const struct {
    const char* head;
    const char* tail;
    GsKind kind;
    bool ok;
    size_t pages;
    double width, height;
  } cases[] = {
      {"%%BoundingBox: 10 20 110 70\n", "", GsKind::kEps, true, 1, 100, 50},
      {"%%BoundingBox: 10 20 110 70\r\n%%HiResBoundingBox: 10 20 110.5 70.25\r\n", "", GsKind::kEps,
       true, 1, 100.5, 50.25},
      {"%!PS-Adobe-3.0 EPSF-3.0\n", "", GsKind::kEps, false, 0, 0, 0},  // no box
      {"%%BoundingBox: 10 20 10 70\n", "", GsKind::kEps, false, 0, 0, 0},
      {"%%Pages: 3\n%%BoundingBox: 0 0 300 150\n", "", GsKind::kPostScript, true, 3, 300, 150},
      {"%%Pages: (atend)\n", "%%Trailer\n%%Pages: 4\n", GsKind::kPostScript, true, 4, 612, 792},
      {"%%DocumentMedia: A4 595 842 0 () ()\n%%BoundingBox: 0 0 10 10\n", "", GsKind::kPostScript,
       true, 1, 595, 842},
      {"%%Pages: -2\n", "", GsKind::kPostScript, false, 0, 0, 0},
      {"%%Pages: 99999999999\n", "", GsKind::kPostScript, false, 0, 0, 0},
      {"%%Pages: 1.5\n", "", GsKind::kPostScript, false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    GsDescription d;
    const char* why = "";
    ASSERT_EQ(klv::img::gs_parse_dsc(c.head, c.tail, c.kind, &d, &why), c.ok) << c.head;
    if (!c.ok) {
      EXPECT_STRNE(why, "");
      continue;
    }
    ASSERT_EQ(d.pages.size(), c.pages) << c.head;
    EXPECT_DOUBLE_EQ(d.pages[0].width_pt, c.width) << c.head;
    EXPECT_DOUBLE_EQ(d.pages[0].height_pt, c.height) << c.head;
  }
}

TEST(GsDescribe, PageReportWithRotation) {
  GsDescription d;
  const char* why = "";
  ASSERT_TRUE(klv::img::gs_parse_page_report(
      "noise\nKlvPage: 0 0 200 100 0\nKlvPage: 0 0 300.5 150 90\nKlvPage: 10 10 110 60 -270\n", &d,
      &why));
  ASSERT_EQ(d.pages.size(), 3u);
  EXPECT_DOUBLE_EQ(d.pages[1].width_pt, 150);
  EXPECT_DOUBLE_EQ(d.pages[1].height_pt, 300.5);
  EXPECT_DOUBLE_EQ(d.pages[2].width_pt, 50);
  EXPECT_FALSE(klv::img::gs_parse_page_report("nothing here\n", &d, &why));
  EXPECT_FALSE(klv::img::gs_parse_page_report("KlvPage: 0 0 0 100 0\n", &d, &why));
}

// --- Rendering --------------------------------------------------------

TEST(GsRender, PdfPagesMatchTheInterpreterAloneInEveryColourForm) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  const std::string pdf = make_pdf(dir, kTwoPages, "two");
  ASSERT_FALSE(pdf.empty());
  for (int32_t color : {GSIMG_GRAY, GSIMG_RGB, GSIMG_CMYK}) {
    gsimg_options o{};
    o.xres = o.yres = 100;
    o.color = color;
    image_info info;
    init_image_info(&info);
    IMG_file* img = gsimg_open_ex(pdf.c_str(), nullptr, &info, &o, KLV_TYPE_POSTSCRIPT);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(info.pages, 2u);
    EXPECT_EQ(info.samples, uint32_t(color));
    // The stream's size holds the larger second page: 300 x 150 pt at 100 ppi.
    EXPECT_EQ(info.width, 417);
    EXPECT_EQ(info.height, 208);
    for (int page : {0, 1}) {
      ASSERT_EQ(img_seek_line(img, 0, 0, page, 0), 0);
      EXPECT_EQ(img_status(img, 1), 1);
      const auto ours = read_page(img);
      EXPECT_EQ(compare(ours, img->info, render_alone(dir, pdf, color, 100, page)), "")
          << "colour " << color << " page " << page;
    }
    img_close(img);
  }
}

TEST(GsRender, PostScriptAndEpsMatchTheInterpreterAlone) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  const std::string ps = dir.write("two.ps", kTwoPages);
  const std::string eps = dir.write("one.eps", kEps);
  image_info info;
  init_image_info(&info);
  info.xres = info.yres = 72;
  IMG_file* img = img_mux_open(ps.c_str(), nullptr, "r", &info, KLV_TYPE_RECOGNISE);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->type, KLV_TYPE_POSTSCRIPT);
  EXPECT_EQ(info.pages, 2u);
  for (int page : {0, 1}) {
    ASSERT_EQ(img_seek_line(img, 0, 0, page, 0), 0);
    const char* media = "-dDEVICEWIDTHPOINTS=300 -dDEVICEHEIGHTPOINTS=150";  // the stated size
    EXPECT_EQ(compare(read_page(img), img->info, render_alone(dir, ps, GSIMG_RGB, 72, page, media)),
              "")
        << "page " << page;
  }
  img_close(img);

  init_image_info(&info);
  info.xres = info.yres = 150;
  info.samples = 1;
  img = img_mux_open(eps.c_str(), nullptr, "r", &info, KLV_TYPE_RECOGNISE);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(info.pages, 1u);
  EXPECT_EQ(info.width, 208);  // the 100 x 50 pt bounding box
  EXPECT_EQ(info.height, 104);
  EXPECT_EQ(
      compare(read_page(img), img->info, render_alone(dir, eps, GSIMG_GRAY, 150, 0, "-dEPSCrop")),
      "");
  img_close(img);
}

TEST(GsRender, TextThePostScriptWritesStaysOutOfThePage) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  const std::string ps =
      dir.write("talk.ps",
                "%!PS\n%%BoundingBox: 0 0 612 792\n(P6 1 1 255 junk) print flush\n"
                "0.5 setgray 100 100 200 200 rectfill showpage\n");
  IMG_file* img = img_mux_open(ps.c_str(), nullptr, "r", nullptr, KLV_TYPE_RECOGNISE);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(compare(read_page(img), img->info,
                    render_alone(dir, ps, GSIMG_RGB, 72, 0,
                                 "-dDEVICEWIDTHPOINTS=612 -dDEVICEHEIGHTPOINTS=792")),
            "");
  img_close(img);
}

TEST(GsRender, SpotColoursBecomeSeparations) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  // A "Gold" spot at 80 % and pure magenta on a 100 x 50 pt page.
  const std::string pdf = make_pdf(dir, R"(%!PS
<< /PageSize [100 50] >> setpagedevice
[/Separation (Gold) /DeviceCMYK { dup 0.2 mul exch dup 0.4 mul exch 0 exch 0.9 mul 0 }]
setcolorspace 0.8 setcolor 10 10 40 20 rectfill
0 1 0 0 setcmykcolor 60 10 30 20 rectfill
showpage
)",
                                   "spot");
  ASSERT_FALSE(pdf.empty());
  image_info info;
  init_image_info(&info);
  info.samples = 5;  // CMYK and spots asked for
  info.spot_samples = 1;
  IMG_file* img = img_mux_open(pdf.c_str(), nullptr, "r", &info, KLV_TYPE_RECOGNISE);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img_status(img, 0), 1);  // the first page is rendered at open
  ASSERT_EQ(info.samples, 5u);
  EXPECT_EQ(info.spot_samples, 1u);
  EXPECT_EQ(info.photometric, uint32_t(KLV_PHOTO_MINWHITE));
  const auto page = read_page(img);
  ASSERT_FALSE(page.empty());
  auto pixel = [&](int x, int y) {
    const uint8_t* p = &page[size_t(y) * info.bytes_per_line + size_t(x) * 5];
    return std::vector<int>(p, p + 5);
  };
  const auto gold = pixel(20, 30);
  EXPECT_EQ(std::vector<int>(gold.begin(), gold.begin() + 4), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_NEAR(gold[4], 204, 2) << "gold at 80 %";
  EXPECT_EQ(pixel(70, 30), (std::vector<int>{0, 255, 0, 0, 0})) << "magenta";
  EXPECT_EQ(pixel(95, 5), (std::vector<int>{0, 0, 0, 0, 0})) << "paper";
  // Seeking back reads the page again from the finished file.
  ASSERT_EQ(img_seek_line(img, 30, 0, 0, 0), 30);
  std::vector<uint8_t> line(info.bytes_per_line);
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  EXPECT_EQ(line[20 * 5 + 4], page[30 * info.bytes_per_line + 20 * 5 + 4]);
  img_close(img);
}

TEST(GsRender, SeekingBackStartsThePageAgain) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  const std::string pdf = make_pdf(dir, kTwoPages, "two");
  ASSERT_FALSE(pdf.empty());
  IMG_file* img = img_mux_open(pdf.c_str(), nullptr, "r", nullptr, KLV_TYPE_RECOGNISE);
  ASSERT_NE(img, nullptr);
  const auto whole = read_page(img);
  ASSERT_FALSE(whole.empty());
  const size_t bpl = img->info.bytes_per_line;
  std::vector<uint8_t> line(bpl);
  EXPECT_EQ(img_seek_line(img, 40, 0, 0, 0), 40);
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  EXPECT_TRUE(std::equal(line.begin(), line.end(), whole.begin() + 40 * bpl));
  EXPECT_EQ(img_seek_line(img, 0, 0, 0, 2), img->info.height - 1);  // counted from the last line
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  EXPECT_EQ(img_seek_line(img, 0, 0, 2, 0), -1);  // no third page
  img_close(img);
}

TEST(GsOpen, TypeCodes) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  const std::string pdf = make_pdf(dir, kTwoPages, "two");
  ASSERT_FALSE(pdf.empty());
  LogCapture log;
  IMG_file* img = img_mux_open(pdf.c_str(), nullptr, "r", nullptr, KLV_TYPE_RECOGNISE);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->type, KLV_TYPE_POSTSCRIPT);
  EXPECT_EQ(img->info.width, 300);  // 72 ppi by default: a pixel per point of the wider page
  img_close(img);
  // Type 1 never renders PostScript; type 68 is opened by its code.
  EXPECT_EQ(img_mux_open(pdf.c_str(), nullptr, "r", nullptr, KLV_TYPE_RECOGNISE_NO_PS), nullptr);
  img = img_mux_open(pdf.c_str(), nullptr, "r", nullptr, KLV_TYPE_PS_PROXY);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->type, KLV_TYPE_PS_PROXY);
  img_close(img);
  EXPECT_EQ(img_mux_open(pdf.c_str(), nullptr, "wb", nullptr, KLV_TYPE_POSTSCRIPT), nullptr);
}

// --- Hostile documents and the child's lifetime -------------------------

TEST(GsHostile, LoopsCrashesAndEmptyDocumentsFailClearly) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  // The limit of the loop is short; the others are generous, as the
  // interpreter starts slowly on a loaded machine.
  const struct {
    const char* name;
    const char* text;
    const char* logged;
    int32_t limit_ms;
  } cases[] = {
      {"loop", "%!PS\n{ 1 pop } loop\nshowpage\n", "time limit", 1500},
      {"quit", "%!PS\nquit\n", "no page", 60000},
      {"error", "%!PS\n1 0 div\nshowpage\n", "undefinedresult", 60000},
      {"read", "%!PS\n(/etc/passwd) (r) file 100 string readstring pop pop showpage\n",
       "invalidfileaccess", 60000},
  };
  for (const auto& c : cases) {
    LogCapture log;
    const std::string ps = dir.write(std::string(c.name) + ".ps", c.text);
    gsimg_options o{};
    o.time_limit_ms = c.limit_ms;
    const auto start = std::chrono::steady_clock::now();
    IMG_file* img = gsimg_open_ex(ps.c_str(), nullptr, nullptr, &o, KLV_TYPE_POSTSCRIPT);
    ASSERT_NE(img, nullptr) << c.name;
    const pid_t pid = gsimg_child_pid(img);
    EXPECT_EQ(img_status(img, 1), -1) << c.name;
    std::vector<uint8_t> line(img->info.bytes_per_line);
    EXPECT_EQ(img_read_line(img, line.data(), 1), 0) << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(c.limit_ms) + std::chrono::seconds(5))
        << c.name;
    EXPECT_NE(log.Text().find(c.logged), std::string::npos) << c.name << ": " << log.Text();
    EXPECT_EQ(gsimg_child_pid(img), 0) << c.name;
    EXPECT_TRUE(process_gone(pid)) << c.name;
    img_close(img);
  }
}

TEST(GsHostile, PdfWithoutPagesAndMissingPagesAreRefused) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  const std::string bad = dir.write("bad.pdf", "%PDF-1.4\nnothing here\n");
  const std::string pdf = make_pdf(dir, kTwoPages, "two");
  ASSERT_FALSE(pdf.empty());
  LogCapture log;
  EXPECT_EQ(img_mux_open(bad.c_str(), nullptr, "r", nullptr, KLV_TYPE_POSTSCRIPT), nullptr);
  EXPECT_NE(log.Take().find("no pages"), std::string::npos);
  gsimg_options o{};
  o.page = 2;
  EXPECT_EQ(gsimg_open_ex(pdf.c_str(), nullptr, nullptr, &o, KLV_TYPE_POSTSCRIPT), nullptr);
  EXPECT_NE(log.Take().find("no page 3"), std::string::npos);
  EXPECT_EQ(our_temp_entries(), 0u);
}

TEST(GsHostile, DocumentsCannotWriteFiles) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  const std::string target = dir.path("written.txt");
  const std::string ps = dir.write(
      "write.ps", "%!PS\n(" + target + ") (w) file dup (owned) writestring closefile showpage\n");
  LogCapture log;
  IMG_file* img = img_mux_open(ps.c_str(), nullptr, "r", nullptr, KLV_TYPE_RECOGNISE);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img_status(img, 1), -1);
  img_close(img);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_NE(log.Text().find("invalidfileaccess"), std::string::npos) << log.Text();
}

TEST(GsHostile, ClosingWhileRenderingLeavesNoChildAndNoFiles) {
  if (!have_gs()) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("gs");
  const std::string ps = dir.write("slow.ps", "%!PS\n{ 1 pop } loop\n");
  IMG_file* img = img_mux_open(ps.c_str(), nullptr, "r", nullptr, KLV_TYPE_RECOGNISE);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img_status(img, 0), 0);  // still rendering
  const pid_t pid = gsimg_child_pid(img);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(our_temp_entries(), 1u);  // the child's private folder
  img_close(img);
  EXPECT_TRUE(process_gone(pid));
  EXPECT_EQ(our_temp_entries(), 0u);
}

TEST(GsHostile, MissingInterpreterNamesThePackage) {
  ScratchFolder dir("gs");
  const std::string ps = dir.write("a.ps", "%!PS\nshowpage\n");
  ScopedEnv gs("KLV_GS", dir.path("no-such-gs"));
  LogCapture log;
  EXPECT_EQ(img_mux_open(ps.c_str(), nullptr, "r", nullptr, KLV_TYPE_POSTSCRIPT), nullptr);
  EXPECT_NE(log.Text().find("\"ghostscript\""), std::string::npos) << log.Text();
}

}  // namespace
