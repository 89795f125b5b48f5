// SPDX-License-Identifier: MIT
// What the job driver reads of its image: an OCF reference as the job's
// image (its size, resolution and bleed from the reference), the job's crop
// box (the source cut before it is scaled) and the job's bleed (margins
// around the page, in the bleed colour or the repeated edge).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "klv/ocfimg.h"
#include "support/image.h"
#include "test_imgproc_support.h"

namespace {

using namespace imgproc_test;

// 40 x 20 RGB pixels at 72 dpi: the left half black, the right half white.
image_info half_info() {
  image_info info = klv::test::describe(40, 20, 3, 8, KLV_PHOTO_MINBLACK);
  info.xres = info.yres = 72;
  return info;
}

std::vector<uint8_t> half_black() {
  std::vector<uint8_t> px(40 * 20 * 3, 255);
  for (int y = 0; y < 20; ++y) std::memset(&px[size_t(y) * 120], 0, 60);
  return px;
}

// Dots in each line of a print file of one-bit CMYK pixels.
std::vector<uint64_t> dots_per_line(const std::string& path, int width) {
  const std::vector<uint8_t> lines = dot_lines(path);
  const size_t line = (size_t(width) * 4 + 7) / 8;
  std::vector<uint64_t> out;
  for (size_t at = 0; at + line <= lines.size(); at += line) {
    uint64_t n = 0;
    for (size_t i = 0; i < line; ++i) n += __builtin_popcount(lines[at + i]);
    out.push_back(n);
  }
  return out;
}

class ImgProcSources : public ImgProc {
 protected:
  klv::ProcOptions HalfBlack() {
    klv::ProcOptions options;
    options.threads = 1;
    const image_info info = half_info();
    options.open_image = [info](const char*, image_info* out) {
      *out = info;
      return (new klv::test::MemImage(info, half_black()))->ToImg('r', KLV_TYPE_TIFF);
    };
    return options;
  }
  settings_crop& Crop() {
    if (!s_->Cropping) s_->Cropping = settings_crop_new();
    return *s_->Cropping;
  }
};

TEST_F(ImgProcSources, AnOcfReferenceIsTheJobsImage) {
  // The source: the half-black picture as a TIFF file.
  const std::string tif = folder_.path("half.tif");
  image_info info = half_info();
  IMG_file* img = img_mux_open(tif.c_str(), nullptr, "w", &info, KLV_TYPE_TIFF);
  ASSERT_NE(img, nullptr);
  std::vector<uint8_t> px = half_black();
  ASSERT_EQ(img_write_line(img, px.data(), 20), 20);
  ASSERT_EQ(img_close_status(img), 0);
  // Delivered at 1 x 0.5 inches, 100 pixels per inch, with 0.1 inch of
  // white bleed on every side: 1.2 x 0.7 inches.
  ocfi_info* r = new_ocfi_info();
  ASSERT_NE(r, nullptr);
  r->width = 1;
  r->height = 0.5;
  r->xres = r->yres = 100;
  r->samples = 3;
  r->bits_per_sample = 8;
  r->photometric = KLV_PHOTO_MINBLACK;
  std::snprintf(r->image_path, sizeof r->image_path, "%s", tif.c_str());
  r->bleed_on = 1;
  r->bleed.mode = KLV_OCF_BLEED_COLOR;
  for (double& m : r->bleed.outer) m = 0.1;
  for (int i = 0; i < 3; ++i) r->bleed_pixel[i] = 255;
  const std::string ocf = folder_.path("half.ocf");
  ASSERT_EQ(save_ocfi_info(nullptr, ocf.c_str(), r), 1);
  free_ocfi_info(r);
  Put(s_->Imagepath, ocf);
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out)) << out.error;
  EXPECT_EQ(out.width, 180);
  EXPECT_EQ(out.height, 105);
  ASSERT_EQ(out.print_files.size(), 1u);
  const std::vector<uint64_t> rows = dots_per_line(out.print_files[0], out.width);
  ASSERT_EQ(rows.size(), 105u);
  // White: a few dots of the profile's paper white at most.
  EXPECT_LT(rows[0] + rows[104], 10u) << "the white bleed";
  EXPECT_GT(rows[50], 100u) << "the black half";
}

TEST_F(ImgProcSources, TheCropBoxCutsTheSourceBeforeItIsScaled) {
  const klv::ProcOptions options = HalfBlack();
  // Boxes in inches of the 72 dpi picture (0.556 x 0.278 in).
  const struct {
    double box[4];
    int width, height;
    bool dark;
  } cases[] = {
      {{0, 0, 20.0 / 72, 20.0 / 72}, 42, 42, true},           // the black half
      {{20.0 / 72, 0, 40.0 / 72, 20.0 / 72}, 42, 42, false},  // the white half
      {{30.0 / 72, 5.0 / 72, 1, 1}, 21, 31, false},           // held to the image
      {{0, 0, 0, 0}, 83, 42, true},                           // no box: all of it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box[0]);
    std::memcpy(Crop().Box, c.box, sizeof c.box);
    Calls calls;
    klv::ProcOutcome out;
    ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
    EXPECT_EQ(out.width, c.width);
    EXPECT_EQ(out.height, c.height);
    const std::vector<uint64_t> dots = dots_per_ink(out.print_files.at(0));
    const uint64_t all = dots[0] + dots[1] + dots[2] + dots[3];
    if (c.dark)
      EXPECT_GT(all, uint64_t(c.width) * c.height / 2);
    else
      EXPECT_LT(all, uint64_t(c.width) * c.height / 50);
  }
  // A box beside the image fails the job.
  const double beside[4] = {2, 0, 3, 1};
  std::memcpy(Crop().Box, beside, sizeof beside);
  Calls calls;
  klv::ProcOutcome out;
  EXPECT_FALSE(Process(&calls, &out, options));
  EXPECT_NE(out.error.find("lies outside"), std::string::npos) << out.error;
  EXPECT_TRUE(out.print_files.empty());
}

TEST_F(ImgProcSources, TheBleedSurroundsThePage) {
  const klv::ProcOptions options = HalfBlack();
  settings_crop& c = Crop();
  c.BleedOn = 1;
  // 0.1 inch left and top, 0.2 inch right, none at the bottom: 15, 15, 30
  // and 0 pixels at 150 dpi around the 83 x 42 page.
  const double sizes[4] = {0.1, 0.1, 0.2, 0};
  std::memcpy(c.BleedSizes, sizes, sizeof sizes);
  for (int i = 0; i < 3; ++i) c.BleedPixel[i] = 255;
  const struct {
    int mode;
    bool top_dark;  // the top margin: white colour, or the repeated black edge
  } cases[] = {{KLV_OCF_BLEED_COLOR, false}, {KLV_OCF_BLEED_REPEAT, true}};
  for (const auto& m : cases) {
    SCOPED_TRACE(m.mode);
    c.BleedMode = m.mode;
    Calls calls;
    klv::ProcOutcome out;
    ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
    EXPECT_EQ(out.width, 83 + 45);
    EXPECT_EQ(out.height, 42 + 15);
    const std::vector<uint64_t> rows = dots_per_line(out.print_files.at(0), out.width);
    ASSERT_EQ(rows.size(), 57u);
    EXPECT_GT(rows[30], 50u) << "the black half";
    if (m.top_dark)
      EXPECT_GT(rows[5], 50u);
    else
      EXPECT_LT(rows[5], 5u);
  }
  c.BleedMode = 7;
  Calls calls;
  klv::ProcOutcome out;
  EXPECT_FALSE(Process(&calls, &out, options));
  EXPECT_NE(out.error.find("bleed mode 7"), std::string::npos) << out.error;
}

}  // namespace
