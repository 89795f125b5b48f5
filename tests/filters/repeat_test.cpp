// SPDX-License-Identifier: MIT
// Step-and-repeat pages: a table of grids (brick, half-drop, gaps, overlaps,
// mirrors, offsets, odd page sizes, a pattern larger than the page) against
// a reference worked out pixel by pixel, the worked examples, the line cache,
// scaling and the resolution cap, the settings file, and opening a page by
// name as any image.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "klv/imgmux.h"
#include "klv/repeat.h"
#include "klv/repeat_cxx.h"
#include "support/files.h"
#include "support/image.h"
#include "support/log_capture.h"

namespace {

using klv::test::describe;
using klv::test::MemImage;

constexpr double kDpi = 100.0;  // the descriptions of klv::test::describe

struct Pattern {
  int32_t w, h;
  std::vector<uint8_t> rgb;
  const uint8_t* px(int32_t x, int32_t y) const { return rgb.data() + 3 * (size_t(y) * w + x); }
};

Pattern make_pattern(int32_t w, int32_t h) {
  Pattern p{w, h, klv::test::pattern_bytes(size_t(w) * h * 3, 7)};
  return p;
}

IMG_file* pattern_img(const Pattern& p) {
  return (new MemImage(describe(p.w, p.h, 3, 8, KLV_PHOTO_MINBLACK), p.rgb))->ToImg('r', 9);
}

// Settings for a pattern shown at its own pixel size (100 pixels per inch).
RepeatFilterInfo settings_for(const Pattern& p, int32_t page_w, int32_t page_h) {
  RepeatFilterInfo s;
  InitRepeatFilterInfo(&s);
  s.PatternWidth = p.w / kDpi;
  s.PatternHeight = p.h / kDpi;
  s.PageWidth = page_w / kDpi;
  s.PageHeight = page_h / kDpi;
  s.GapType = KLV_REPEAT_GAP_WHITE;
  return s;
}

int64_t fdiv(int64_t a, int64_t d) {
  return a >= 0 ? a / d : -((-a + d - 1) / d);
}

// The page pixel by pixel: which copy holds (x, y), and which of its pixels.
std::vector<uint8_t> reference(const Pattern& p, const RepeatFilterInfo& s, int32_t page_w,
                               int32_t page_h, const uint8_t gap[3]) {
  const int64_t gx = int64_t(std::floor(s.GapHorizontal * kDpi + 0.5));
  const int64_t gy = int64_t(std::floor(s.GapVertical * kDpi + 0.5));
  const int64_t pc = p.w + gx, pr = p.h + gy;
  const int64_t period = s.StepVertical ? pr : pc;
  const int64_t step = int64_t(std::floor(double(period) * (1 - s.StepAmount) + 0.5)) % period;
  const int64_t xo = int64_t(s.XOffset * double(pc)), yo = int64_t(s.YOffset * double(pr));
  std::vector<uint8_t> out(size_t(page_w) * page_h * 3);
  for (int64_t y = 0; y < page_h; ++y) {
    for (int64_t x = 0; x < page_w; ++x) {
      int64_t c, col, r, line;
      bool odd_row;
      if (s.StepVertical) {
        c = fdiv(x - xo, pc);
        col = x - xo - c * pc;
        const int64_t ly = y - yo + step * c;
        r = fdiv(ly, pr);
        line = ly - r * pr;
        odd_row = c & 1;
      } else {
        r = fdiv(y - yo, pr);
        line = y - yo - r * pr;
        const int64_t px = x - xo - step * r;
        c = fdiv(px, pc);
        col = px - c * pc;
        odd_row = r & 1;
      }
      const uint8_t* src = gap;
      if (line < p.h && col < p.w) {
        const int64_t pl = s.FlipVertical && odd_row ? p.h - 1 - line : line;
        const int64_t pcol = s.FlipHorizontal && (c & 1) ? p.w - 1 - col : col;
        src = p.px(int32_t(pcol), int32_t(pl));
      }
      std::memcpy(out.data() + 3 * (size_t(y) * page_w + x), src, 3);
    }
  }
  return out;
}

// Every line of a stream, read in uneven chunks.
std::vector<uint8_t> read_all(IMG_file* img) {
  const image_info& i = img->info;
  std::vector<uint8_t> out(size_t(i.bytes_per_line) * i.height);
  int32_t done = 0, chunk = 1;
  while (done < i.height) {
    const int32_t n = std::min(chunk, i.height - done);
    if (img_read_line(img, out.data() + size_t(done) * i.bytes_per_line, n) != n) break;
    done += n;
    chunk = chunk % 3 + 1;
  }
  EXPECT_EQ(done, i.height);
  return out;
}

struct GridCase {
  const char* name;
  int32_t pw, ph;  // pattern
  int32_t page_w, page_h;
  double gap_h, gap_v;  // inches
  double step;
  int32_t vertical;
  int32_t flip_h, flip_v;
  double xoff, yoff;
};

const GridCase kGrids[] = {
    {"plain", 7, 5, 30, 17, 0, 0, 0, 0, 0, 0, 0, 0},
    {"equal to the pattern", 7, 5, 7, 5, 0, 0, 0, 0, 0, 0, 0, 0},
    {"brick half", 7, 5, 31, 23, 0, 0, 0.5, 0, 0, 0, 0, 0},
    {"brick third", 8, 5, 31, 23, 0, 0, 1.0 / 3, 0, 0, 0, 0, 0},
    {"half-drop", 7, 6, 31, 23, 0, 0, 0.5, 1, 0, 0, 0, 0},
    {"half-drop quarter", 7, 8, 40, 29, 0, 0, 0.25, 1, 0, 0, 0, 0},
    {"gaps", 7, 5, 40, 27, 0.03, 0.02, 0, 0, 0, 0, 0, 0},
    {"gaps brick", 7, 5, 40, 27, 0.03, 0.02, 0.5, 0, 0, 0, 0, 0},
    {"gaps half-drop", 7, 5, 40, 27, 0.04, 0.01, 0.5, 1, 0, 0, 0, 0},
    {"overlap", 9, 7, 40, 27, -0.03, -0.02, 0, 0, 0, 0, 0, 0},
    {"mirror columns", 7, 5, 30, 17, 0, 0, 0, 0, 1, 0, 0, 0},
    {"mirror rows", 7, 5, 30, 17, 0, 0, 0, 0, 0, 1, 0, 0},
    {"mirror both, brick, gaps", 7, 5, 41, 29, 0.02, 0.01, 0.5, 0, 1, 1, 0, 0},
    {"mirror both, half-drop", 7, 6, 41, 29, 0, 0, 0.5, 1, 1, 1, 0, 0},
    {"offsets", 7, 5, 30, 17, 0, 0, 0, 0, 0, 0, 0.3, 0.6},
    {"negative offsets, half-drop", 7, 5, 30, 17, 0.01, 0, 0.5, 1, 1, 0, -0.4, -0.2},
    {"page not a multiple", 7, 5, 23, 11, 0, 0, 0.5, 0, 0, 0, 0, 0},
    {"pattern larger than the page", 40, 30, 13, 9, 0, 0, 0.5, 1, 0, 0, 0.25, 0},
};

TEST(Repeat, GridsMatchThePixelByPixelReference) {
  for (const GridCase& k : kGrids) {
    for (const bool cached : {false, true}) {
      SCOPED_TRACE(testing::Message() << k.name << (cached ? " (line cache)" : ""));
      const Pattern p = make_pattern(k.pw, k.ph);
      RepeatFilterInfo s = settings_for(p, k.page_w, k.page_h);
      s.GapHorizontal = k.gap_h;
      s.GapVertical = k.gap_v;
      s.StepAmount = k.step;
      s.StepVertical = k.vertical;
      s.FlipHorizontal = k.flip_h;
      s.FlipVertical = k.flip_v;
      s.XOffset = k.xoff;
      s.YOffset = k.yoff;
      CRepeatFilter::SetHoldLimit(cached ? 0 : 50000000);
      CRepeatFilter f;
      ASSERT_TRUE(f.AttachImg(pattern_img(p), &s));
      CRepeatFilter::SetHoldLimit(50000000);
      EXPECT_EQ(f.UsesLineCache(), cached);
      ASSERT_EQ(f.Info()->width, k.page_w);
      ASSERT_EQ(f.Info()->height, k.page_h);
      std::vector<uint8_t> got(size_t(k.page_w) * k.page_h * 3);
      for (int32_t y = 0; y < k.page_h; ++y)
        ASSERT_EQ(f.ReadLine(got.data() + size_t(y) * k.page_w * 3, 1), 1);
      const uint8_t white[3] = {255, 255, 255};
      const std::vector<uint8_t> want = reference(p, s, k.page_w, k.page_h, white);
      for (size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(got[i], want[i])
            << "pixel " << (i / 3) % size_t(k.page_w) << ", line " << i / 3 / size_t(k.page_w);
    }
  }
}

// Reads page line y of a filter.
std::vector<uint8_t> page_line(CRepeatFilter& f, int32_t y) {
  std::vector<uint8_t> line(f.Info()->bytes_per_line);
  EXPECT_EQ(f.SeekLine(y, 0, 0, 0), y);
  EXPECT_EQ(f.ReadLine(line.data(), 1), 1);
  return line;
}

TEST(Repeat, WorkedExamples) {
  const Pattern p = make_pattern(10, 8);
  {
    SCOPED_TRACE("a half-drop shifts every second column by half a period");
    RepeatFilterInfo s = settings_for(p, 40, 8);
    s.StepVertical = 1;
    s.StepAmount = 0.5;
    CRepeatFilter f;
    ASSERT_TRUE(f.AttachImg(pattern_img(p), &s));
    for (int32_t y = 0; y < 8; ++y) {
      const std::vector<uint8_t> line = page_line(f, y);
      EXPECT_EQ(0, std::memcmp(line.data(), p.px(0, y), 30));
      EXPECT_EQ(0, std::memcmp(line.data() + 30, p.px(0, (y + 4) % 8), 30));
      EXPECT_EQ(0, std::memcmp(line.data() + 60, p.px(0, y), 30));
    }
  }
  {
    SCOPED_TRACE("mirrored columns: the second copy is the first reversed");
    RepeatFilterInfo s = settings_for(p, 20, 8);
    s.FlipHorizontal = 1;
    CRepeatFilter f;
    ASSERT_TRUE(f.AttachImg(pattern_img(p), &s));
    const std::vector<uint8_t> line = page_line(f, 3);
    for (int32_t x = 0; x < 10; ++x)
      EXPECT_EQ(0, std::memcmp(line.data() + 3 * (10 + x), p.px(9 - x, 3), 3)) << x;
  }
  for (const double gap : {0.5, -0.05}) {
    SCOPED_TRACE(testing::Message() << "a gap of " << gap << " inch at 100 pixels per inch");
    const Pattern big = make_pattern(100, 4);
    RepeatFilterInfo s = settings_for(big, 400, 4);
    s.GapHorizontal = gap;
    s.GapType = KLV_REPEAT_GAP_SAMPLES;
    s.GapSampleCount = s.GapTotalSamples = 3;
    s.GapSamples[0] = 1, s.GapSamples[1] = 2, s.GapSamples[2] = 3;
    s.GapPhotometric = KLV_PHOTO_MINBLACK;
    s.GapBitsPerSample = 8;
    CRepeatFilter f;
    ASSERT_TRUE(f.AttachImg(pattern_img(big), &s));
    const std::vector<uint8_t> line = page_line(f, 0);
    int32_t run = 0, longest = 0;
    for (int32_t x = 0; x < 400; ++x) {
      const bool is_gap = line[3 * x] == 1 && line[3 * x + 1] == 2 && line[3 * x + 2] == 3;
      run = is_gap ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    EXPECT_EQ(longest, gap > 0 ? 50 : 0);
    if (gap > 0) {
      EXPECT_EQ(0, std::memcmp(line.data() + 3 * 150, big.px(0, 0), 300));
    }
  }
}

TEST(Repeat, GapColours) {
  const Pattern p = make_pattern(5, 4);
  struct Case {
    int32_t type;
    std::vector<int32_t> samples;
    int32_t total, photometric, bits;
    uint8_t want[3];
  };
  const Case cases[] = {
      {KLV_REPEAT_GAP_FIRST_PIXEL, {}, 0, 0, 0, {p.rgb[0], p.rgb[1], p.rgb[2]}},
      {KLV_REPEAT_GAP_WHITE, {}, 0, 0, 0, {255, 255, 255}},
      {KLV_REPEAT_GAP_SAMPLES, {10, 20, 30}, 3, KLV_PHOTO_MINBLACK, 8, {10, 20, 30}},
      // One gray sample in 16 bits becomes the page's RGB.
      {KLV_REPEAT_GAP_SAMPLES, {65535}, 1, KLV_PHOTO_MINBLACK, 16, {255, 255, 255}},
      {KLV_REPEAT_GAP_SAMPLES, {0}, 1, KLV_PHOTO_MINBLACK, 8, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "gap type " << c.type << " samples " << c.total);
    RepeatFilterInfo s = settings_for(p, 12, 4);
    s.GapHorizontal = 0.01;
    s.GapType = c.type;
    for (size_t k = 0; k < c.samples.size(); ++k) s.GapSamples[k] = c.samples[k];
    s.GapSampleCount = int32_t(c.samples.size());
    s.GapTotalSamples = c.total;
    s.GapPhotometric = c.photometric;
    s.GapBitsPerSample = c.bits;
    CRepeatFilter f;
    ASSERT_TRUE(f.AttachImg(pattern_img(p), &s));
    const std::vector<uint8_t> line = page_line(f, 1);
    EXPECT_EQ(0, std::memcmp(line.data() + 3 * 5, c.want, 3));
  }
}

TEST(Repeat, ScalingAndTheResolutionCap) {
  struct Case {
    int32_t img_w, img_h;
    double pat_w, pat_h, page_w, page_h, res;
    int32_t want_pw, want_ph;  // page pixels
  };
  const Case cases[] = {
      // A 10x5 image for a square pattern is stretched to 10x10 first.
      {10, 5, 1, 1, 3, 2, 0, 30, 20},
      {10, 10, 0.5, 0.5, 2.25, 1, 0, 45, 20},
      // 100 pixels per inch capped at 50.
      {100, 100, 1, 1, 2, 3, 50, 100, 150},
      // A cap above the resolution changes nothing.
      {100, 100, 1, 1, 2, 3, 300, 200, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.img_w << "x" << c.img_h << " cap " << c.res);
    const Pattern p = make_pattern(c.img_w, c.img_h);
    RepeatFilterInfo s;
    InitRepeatFilterInfo(&s);
    s.PatternWidth = c.pat_w, s.PatternHeight = c.pat_h;
    s.PageWidth = c.page_w, s.PageHeight = c.page_h;
    s.XRes = c.res;
    IMG_file* page = RPTFLTR_attach(pattern_img(p), &s);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->type, KLV_TYPE_REPEAT);
    EXPECT_EQ(page->info.width, c.want_pw);
    EXPECT_EQ(page->info.height, c.want_ph);
    EXPECT_DOUBLE_EQ(page->info.width_inches, c.page_w);
    EXPECT_NEAR(page->info.xres, c.want_pw / c.page_w, 1e-9);
    EXPECT_EQ(read_all(page).size(), size_t(page->info.bytes_per_line) * c.want_ph);
    img_close(page);
  }
}

TEST(Repeat, CropAndDetach) {
  const Pattern p = make_pattern(20, 10);
  RepeatFilterInfo s = settings_for(p, 30, 10);
  // Columns 10..19 of the image (fractions of the last index, 19).
  s.CropLeft = 10.0 / 19, s.CropRight = 1;
  s.PatternWidth = 0.1;
  IMG_file* page = RPTFLTR_attach(pattern_img(p), &s);
  ASSERT_NE(page, nullptr);
  ASSERT_EQ(page->info.width, 30);
  const std::vector<uint8_t> all = read_all(page);
  for (int32_t copy = 0; copy < 3; ++copy)
    EXPECT_EQ(0, std::memcmp(all.data() + 90 * 4 + 30 * copy, p.px(10, 4), 30)) << copy;
  IMG_file* back = RPTFLTR_detach_img(page);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->info.width, 10);
  img_close(back);
}

// Inverts every sample: a stand-in for a colour chain in the line filter's
// transform slot (ucc_filter_transform fills the same slot).
struct Invert {
  static void* Setup(void* self, const filter_xform_setup* s) {
    return s->in_bits == 8 && s->in_samples == s->out_samples ? self : nullptr;
  }
  static int32_t Apply(void* state, const void* in, void* out, int32_t count) {
    const auto* a = static_cast<const uint8_t*>(in);
    auto* b = static_cast<uint8_t*>(out);
    for (int32_t i = 0; i < 3 * count; ++i) b[i] = uint8_t(255 - a[i]);
    ++*static_cast<int*>(state);
    return 1;
  }
  static void Release(void*) {}
};

TEST(Repeat, ColourTransformAndTiledPatterns) {
  const Pattern p = make_pattern(6, 5);
  RepeatFilterInfo s = settings_for(p, 20, 13);
  s.StepAmount = 0.5;
  const uint8_t white[3] = {255, 255, 255};
  const std::vector<uint8_t> want = reference(p, s, 20, 13, white);
  {
    SCOPED_TRACE("the transform converts the pattern once per pattern line");
    int calls = 0;
    filter_transform t{Invert::Setup, Invert::Apply, Invert::Release, &calls};
    filter_info opts{};
    opts.transform = &t;
    IMG_file* page = RPTFLTR_attach_ex(pattern_img(p), &s, &opts);
    ASSERT_NE(page, nullptr);
    const std::vector<uint8_t> got = read_all(page);
    img_close(page);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], 255 - want[i]) << i;
    EXPECT_LE(calls, 5);
  }
  {
    SCOPED_TRACE("a tiled pattern gives the same page");
    IMG_file* tiled = (new klv::test::MemTiles(6, 5, 3, 4, 2, false, p.rgb))->ToImg('r', 9);
    IMG_file* page = RPTFLTR_attach(tiled, &s);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(read_all(page), want);
    img_close(page);
  }
}

TEST(Repeat, PageLayoutFromThePattern) {
  struct Case {
    const char* what;
    uint32_t samples, photometric;
    uint32_t want_samples, want_photometric;
    bool inverted;  // ink amounts become light amounts
  };
  const Case cases[] = {
      {"gray light", 1, KLV_PHOTO_MINBLACK, 1, KLV_PHOTO_MINBLACK, false},
      {"gray ink", 1, KLV_PHOTO_MINWHITE, 1, KLV_PHOTO_MINBLACK, true},
      {"CMYK ink", 4, KLV_PHOTO_MINWHITE, 4, KLV_PHOTO_MINBLACK, true},
      {"CIELab", 3, KLV_PHOTO_CIELAB, 3, KLV_PHOTO_CIELAB, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const image_info in = describe(4, 3, c.samples, 8, int32_t(c.photometric));
    const std::vector<uint8_t> bytes = klv::test::pattern_bytes(size_t(in.bytes_per_line) * 3, 3);
    RepeatFilterInfo s;
    InitRepeatFilterInfo(&s);
    s.PatternWidth = 0.04, s.PatternHeight = 0.03;
    s.PageWidth = 0.08, s.PageHeight = 0.03;
    IMG_file* page = RPTFLTR_attach((new MemImage(in, bytes))->ToImg('r', 9), &s);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->info.samples, c.want_samples);
    EXPECT_EQ(page->info.photometric, c.want_photometric);
    EXPECT_EQ(page->info.bits_per_sample, 8u);
    const std::vector<uint8_t> got = read_all(page);
    img_close(page);
    const size_t row = in.bytes_per_line;
    for (size_t i = 0; i < row; ++i) {
      const uint8_t want = c.inverted ? uint8_t(255 - bytes[i]) : bytes[i];
      EXPECT_EQ(got[i], want) << i;
      EXPECT_EQ(got[row + i], want) << i;  // the second copy
    }
  }
}

TEST(Repeat, RefusedAttaches) {
  klv::test::LogCapture log;
  const Pattern p = make_pattern(4, 4);
  RepeatFilterInfo s = settings_for(p, 8, 8);
  EXPECT_EQ(RPTFLTR_attach(nullptr, &s), nullptr);
  EXPECT_EQ(RPTFLTR_attach(pattern_img(p), nullptr), nullptr);
  RepeatFilterInfo zero = s;
  zero.PageWidth = 0;
  EXPECT_EQ(RPTFLTR_attach(pattern_img(p), &zero), nullptr);
  RepeatFilterInfo nopat = s;
  nopat.PatternHeight = 0;
  EXPECT_EQ(RPTFLTR_attach(pattern_img(p), &nopat), nullptr);
  RepeatFilterInfo badcrop = s;
  badcrop.CropLeft = 0.9, badcrop.CropRight = 0.1;
  EXPECT_EQ(RPTFLTR_attach(pattern_img(p), &badcrop), nullptr);
  RepeatFilterInfo huge = s;
  huge.PageWidth = 1e30;
  EXPECT_EQ(RPTFLTR_attach(pattern_img(p), &huge), nullptr);
  EXPECT_NE(log.Text().find("step and repeat"), std::string::npos);
}

TEST(RepeatSettings, SaveAndLoadAgree) {
  klv::test::ScratchFolder dir("repeat");
  RepeatFileInfo* r = new_repeat_info();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->settings.CropRight, 1.0);
  EXPECT_EQ(r->settings.CropBottom, 1.0);
  std::strcpy(r->FileName, "my pattern.tif");
  r->settings.PageWidth = 12.5, r->settings.PageHeight = 30;
  r->settings.PatternWidth = 1.0 / 3, r->settings.PatternHeight = 2;
  r->settings.StepAmount = 0.5, r->settings.StepVertical = 1;
  r->settings.GapHorizontal = -0.25, r->settings.FlipVertical = 1;
  r->settings.GapType = KLV_REPEAT_GAP_SAMPLES;
  r->settings.GapSampleCount = r->settings.GapTotalSamples = 4;
  for (int k = 0; k < 4; ++k) r->settings.GapSamples[k] = 10 * k;
  const std::string path = dir.path("a.rpt");
  ASSERT_EQ(save_repeat_info(nullptr, path.c_str(), r), 1);
  RepeatFileInfo back;
  ASSERT_EQ(load_repeat_info(nullptr, path.c_str(), &back), 1);
  EXPECT_EQ(0, std::memcmp(&back, r, sizeof back));
  EXPECT_EQ(repeat_file_check(nullptr, path.c_str()), 1);
  free_repeat_info(r);
}

TEST(RepeatSettings, TextCases) {
  klv::test::LogCapture log;
  struct Case {
    const char* text;
    int32_t ok;
  };
  const Case cases[] = {
      {"repeat_setup { PageWidth { 2 } GapSamples { 1 2 3 } }", 1},
      {"; comment\nRepeat_Setup { Unknown { x } PageWidth { 2 } }", 1},
      {"Other_Setup { PageWidth { 2 } }", 0},
      {"Repeat_Setup PageWidth { 2 }", 0},
      {"Repeat_Setup { PageWidth { two } }", 0},
      {"Repeat_Setup { GapSamples { 1 2 3 4 5 6 7 8 9 10 11 12 13 } }", 0},
      {"Repeat_Setup { GapSamples { 1 x } }", 0},
      {"Repeat_Setup { PageWidth { 2 }", 0},
      {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RepeatFileInfo r;
    EXPECT_EQ(parse_repeat_info(c.text, int32_t(std::strlen(c.text)), &r), c.ok);
    if (c.ok && std::strstr(c.text, "GapSamples")) {
      EXPECT_EQ(r.settings.GapType, KLV_REPEAT_GAP_SAMPLES);
      EXPECT_EQ(r.settings.GapSampleCount, 3);
      EXPECT_EQ(r.settings.GapTotalSamples, 3);
    }
  }
}

// A pattern TIFF beside a settings file that names it.
struct PageFiles {
  klv::test::ScratchFolder dir{"repeat"};
  Pattern p = make_pattern(6, 4);
  std::string settings;

  PageFiles() {
    image_info info = describe(p.w, p.h, 3, 8, KLV_PHOTO_MINBLACK);
    IMG_file* out = img_mux_open(dir.path("tile.tif").c_str(), nullptr, "w", &info, KLV_TYPE_TIFF);
    EXPECT_NE(out, nullptr);
    std::vector<uint8_t> rgb = p.rgb;
    EXPECT_EQ(img_write_line(out, rgb.data(), p.h), p.h);
    EXPECT_EQ(img_close_status(out), 0);
    settings = dir.write("wall.rpt",
                         "Repeat_Setup {\n  FileName { tile.tif }\n  PageWidth { 0.15 }\n"
                         "  PageHeight { 0.1 }\n  PatternWidth { 0.06 }\n"
                         "  PatternHeight { 0.04 }\n  StepAmount { 0.5 }\n  StepVertical { 1 }\n"
                         "}\n");
  }
};

TEST(RepeatOpen, RecognisedAndOpenedLikeAnyImage) {
  PageFiles f;
  image_info info;
  init_image_info(&info);
  IMG_file* page = img_mux_open(f.settings.c_str(), nullptr, "r", &info, KLV_TYPE_RECOGNISE);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->type, KLV_TYPE_REPEAT);
  EXPECT_EQ(info.width, 15);
  EXPECT_EQ(info.height, 10);
  RepeatFilterInfo s = settings_for(f.p, 15, 10);
  s.StepAmount = 0.5, s.StepVertical = 1;
  const uint8_t white[3] = {255, 255, 255};
  EXPECT_EQ(read_all(page), reference(f.p, s, 15, 10, white));
  img_close(page);
  EXPECT_EQ(img_check_valid(nullptr, f.settings.c_str(), 0), KLV_TYPE_REPEAT);
}

TEST(RepeatOpen, JoinedNameAndFailures) {
  PageFiles f;
  klv::test::LogCapture log;
  const std::string other = f.dir.path("tile.tif");
  const std::string joined = f.settings + "*:" + other;
  IMG_file* page = repeat_open(joined.c_str(), nullptr, "r", nullptr);
  ASSERT_NE(page, nullptr);
  img_close(page);
  const std::string missing = f.settings + "*:" + f.dir.path("none.tif");
  EXPECT_EQ(repeat_open(missing.c_str(), nullptr, "r", nullptr), nullptr);
  EXPECT_NE(log.Text().find("Unable to open '"), std::string::npos);
  EXPECT_EQ(repeat_open(f.settings.c_str(), nullptr, "w", nullptr), nullptr);
  // A settings file that names itself as its pattern ends with a refusal.
  const std::string self =
      f.dir.write("self.rpt",
                  "Repeat_Setup { FileName { self.rpt } PageWidth { 1 } PageHeight { 1 } "
                  "PatternWidth { 1 } PatternHeight { 1 } }");
  EXPECT_EQ(img_mux_open(self.c_str(), nullptr, "r", nullptr, 0), nullptr);
  // A file that is not a settings file is refused quietly by the reader.
  EXPECT_EQ(repeat_open(other.c_str(), nullptr, "r", nullptr), nullptr);
}

}  // namespace
