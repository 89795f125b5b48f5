// SPDX-License-Identifier: MIT
// OCF image references: the description file written and read back (and
// refused when damaged); the stream's description known before its source
// is touched; lines equal to the same filter chain built by hand over each
// readable format; layouts, 16-bit handling, bleed and colour chains; a
// missing or changed source failing at the first read; writing refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "img/formats/ocf_stream.h"
#include "klv/imgmux.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/ocfimg.h"
#include "klv/ucc.h"
#include "support/files.h"
#include "support/log_capture.h"

using klv::img::ocf_state;
using klv::img::OcfState;
using klv::test::LogCapture;
using klv::test::ScratchFolder;

namespace {

// Writes a `w` x `h` image of `samples` samples at `bits` bits with the
// library's writer of `type`; light values that vary across and down.
bool write_source(const std::string& path, int32_t type, int32_t w, int32_t h, uint32_t samples,
                  uint32_t bits = 8) {
  image_info info;
  init_image_info(&info);
  info.width = w;
  info.height = h;
  info.samples = samples;
  info.bits_per_sample = bits;
  info.photometric = KLV_PHOTO_MINBLACK;
  info.xres = info.yres = 72;
  info.bytes_per_line = image_info_line_bytes(&info);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "wb", &info, type);
  if (!img) return false;
  std::vector<uint8_t> line(info.bytes_per_line);
  bool ok = true;
  for (int32_t y = 0; y < h && ok; ++y) {
    for (size_t i = 0; i < line.size(); ++i)
      line[i] = static_cast<uint8_t>((i * 7 + size_t(y) * 13 + (i / samples) * (y % 5)) & 0xFF);
    ok = img_write_line(img, line.data(), 1) == 1;
  }
  return img_close_status(img) == 0 && ok;
}

// An RGB record of 0.5 x 0.3 inches at 100 pixels per inch (50 x 30).
ocfi_info* rgb_record(const std::string& source) {
  ocfi_info* r = new_ocfi_info();
  r->width = 0.5;
  r->height = 0.3;
  r->xres = r->yres = 100;
  r->samples = 3;
  r->bits_per_sample = 8;
  r->photometric = KLV_PHOTO_MINBLACK;
  std::snprintf(r->image_path, sizeof r->image_path, "%s", source.c_str());
  return r;
}

std::string save(const ScratchFolder& dir, const ocfi_info* r, const std::string& name = "a.ocf") {
  const std::string path = dir.path(name);
  EXPECT_EQ(save_ocfi_info(nullptr, path.c_str(), r), 1);
  return path;
}

// Every line of every plane of a stream.
std::vector<uint8_t> all_lines(IMG_file* img) {
  const image_info& in = img->info;
  const uint32_t planes = (in.planar & 7) == KLV_PLANAR_PLANES ? in.samples + in.mask_samples : 1;
  std::vector<uint8_t> out(size_t(in.bytes_per_line) * in.height * planes);
  for (uint32_t p = 0; p < planes; ++p) {
    if (img_seek_line(img, 0, int32_t(p), 0, 0) != 0) return {};
    uint8_t* at = out.data() + size_t(p) * in.bytes_per_line * in.height;
    if (img_read_line(img, at, in.height) != in.height) return {};
  }
  return out;
}

// The same chain by hand: the line filter over the source with the printed
// size, the record's samples and crop, scaled exactly.
IMG_file* by_hand(const std::string& source, const ocfi_info& r,
                  const filter_info* extra = nullptr) {
  image_info target;
  init_image_info(&target);
  target.width = int32_t(r.width * r.xres + 0.5);
  target.height = int32_t(r.height * r.yres + 0.5);
  target.xres = r.xres;
  target.yres = r.yres;
  target.samples = uint32_t(r.samples);
  target.bits_per_sample = uint32_t(r.bits_per_sample);
  target.photometric = uint32_t(r.photometric);
  target.crop = r.crop;
  target.bytes_per_line = image_info_line_bytes(&target);
  filter_info o;
  std::memset(&o, 0, sizeof o);
  if (extra) o = *extra;
  o.stretch = 1;
  image_info opened;
  init_image_info(&opened);
  return filter_file_open(source.c_str(), nullptr, "r", &opened, KLV_TYPE_RECOGNISE_NO_PS, &target,
                          &o);
}

TEST(OcfInfo, WritesTheBlockInItsOrderAndReadsItBack) {
  ScratchFolder dir;
  ocfi_info* r = rgb_record("C:\\Images\\my photo.tif");
  r->crop = {0, 0.125, 0.25, 0.75, 1.0, 0, 0, 0};
  r->interpolate = 1;
  std::snprintf(r->ccx_path, sizeof r->ccx_path, ".\\Calib");
  const std::string path = save(dir, r);
  const std::string text = klv::test::read_text(path);
  EXPECT_EQ(text,
            "OCFImg {\n"
            "  Width { 0.500000000000000 }\n"
            "  Height { 0.300000000000000 }\n"
            "  XRes { 100.000000000000000 }\n"
            "  YRes { 100.000000000000000 }\n"
            "  BPS { 8 }\n"
            "  Samples { 3 }\n"
            "  Spots { 0 }\n"
            "  MaskSamples { 0 }\n"
            "  NoImgMask { 0 }\n"
            "  Planar { 0 }\n"
            "  Interp { 1 }\n"
            "  Photo { 1 }\n"
            "  ImgPath { \"C:\\Images\\my photo.tif\" }\n"
            "  UCCIGcr { 0 }\n"
            "  UCCPath { \"\" }\n"
            "  CCXFlags { 0 }\n"
            "  CCXPath { .\\Calib }\n"
            "  CCXTypes { 0 }\n"
            "  Crop { 0.125000000000000 0.250000000000000 0.750000000000000 1.000000000000000 }\n"
            "}\n");
  ocfi_info* back = load_ocfi_info(nullptr, path.c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back->image_path, r->image_path);
  EXPECT_STREQ(back->ccx_path, ".\\Calib");
  EXPECT_EQ(back->crop.x1, 0.125);
  EXPECT_EQ(back->crop.y2, 1.0);
  EXPECT_EQ(back->interpolate, 1);
  EXPECT_EQ(back->bleed_on, 0);
  EXPECT_EQ(back->volume, nullptr);
  free_ocfi_info(back);

  // Use16Bit and the bleed lines appear only when set; BleedPixel only for mode 0.
  r->use_16bit = 1;
  r->bleed_on = 1;
  r->bleed.mode = KLV_OCF_BLEED_COLOR;
  r->bleed.outer[0] = 0.25;
  r->bleed.values[5] = -3;
  for (int i = 0; i < KLV_OCF_BLEED_PIXELS; ++i) r->bleed_pixel[i] = uint32_t(i * 20);
  const std::string text2 = klv::test::read_text(save(dir, r));
  EXPECT_NE(text2.find("  Use16Bit { 1 }\n"), std::string::npos);
  EXPECT_NE(text2.find("  Bleed { 0 0.250000000000000 0.000000000000000"), std::string::npos);
  EXPECT_NE(
      text2.find(" 0 0 0 0 0 -3 }\n  BleedPixel { 0 20 40 60 80 100 120 140 160 180 200 220 }"),
      std::string::npos);
  back = load_ocfi_info(nullptr, dir.path("a.ocf").c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->use_16bit, 1);
  EXPECT_EQ(back->bleed_on, 1);
  EXPECT_EQ(back->bleed.outer[0], 0.25);
  EXPECT_EQ(back->bleed.values[5], -3);
  EXPECT_EQ(back->bleed_pixel[11], 220u);
  free_ocfi_info(back);
  r->bleed.mode = KLV_OCF_BLEED_MIRROR;
  EXPECT_EQ(klv::test::read_text(save(dir, r)).find("BleedPixel"), std::string::npos);
  free_ocfi_info(r);
}

TEST(OcfInfo, RefusesFilesThatAreNotSoundDescriptions) {
  const std::string good =
      "Width { 1 } Height { 1 } XRes { 10 } YRes { 10 } BPS { 8 } Samples { 3 } Photo { 1 } "
      "ImgPath { x.tif }";
  struct Case {
    const char* name;
    std::string text;
    const char* logged;
  };
  const Case cases[] = {
      {"another block", "Repeat_Setup { " + good + " }", "does not begin with OCFImg"},
      {"no brace", "OCFImg Width", "\"{\" expected"},
      {"unclosed", "OCFImg { " + good, "cannot be read"},
      {"bad number", "OCFImg { " + good + " Width { wide } }", "cannot be read"},
      {"zero size", "OCFImg { " + good + " Height { 0 } }", "Width and Height must be above 0"},
      {"no resolution", "OCFImg { " + good + " XRes { -1 } }", "XRes and YRes"},
      {"huge", "OCFImg { " + good + " Width { 1e9 } }", "out of range"},
      {"bits", "OCFImg { " + good + " BPS { 12 } }", "BPS must be"},
      {"spots", "OCFImg { " + good + " Spots { 4 } }", "Samples, Spots"},
      {"layout", "OCFImg { " + good + " Planar { 3 } }", "Planar must be"},
      {"palette", "OCFImg { " + good + " Photo { 2 } }", "a palette image has one sample"},
      {"crop", "OCFImg { " + good + " Crop { 0.5 0 0.4 1 } }", "Crop must lie"},
      {"crop count", "OCFImg { " + good + " Crop { 0 0 1 } }", "Crop takes 4 numbers"},
      {"bleed count", "OCFImg { " + good + " Bleed { 0 1 2 } }", "Bleed takes 15 numbers"},
      {"bleed mode", "OCFImg { " + good + " Bleed { 7 0 0 0 0 0 0 0 0 0 0 0 0 0 0 } }",
       "bleed mode"},
      {"bleed bits", "OCFImg { " + good + " BPS { 1 } Bleed { 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 } }",
       "bleed needs 8 or 16 bits"},
      {"bleed pixel", "OCFImg { " + good + " BleedPixel { -1 0 0 0 0 0 0 0 0 0 0 0 } }",
       "BleedPixel takes"},
      {"no source",
       "OCFImg { Width { 1 } Height { 1 } XRes { 10 } YRes { 10 } BPS { 8 } "
       "Samples { 1 } }",
       "ImgPath is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    ocfi_info* r = parse_ocfi_info(c.text.data(), int32_t(c.text.size()));
    EXPECT_EQ(r, nullptr);
    free_ocfi_info(r);
    EXPECT_NE(log.Text().find(c.logged), std::string::npos) << log.Text();
  }
  const std::string ok = "OCFImg { " + good + " }";
  ocfi_info* r = parse_ocfi_info(ok.data(), int32_t(ok.size()));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->crop.x2, 1.0);  // the whole image when no crop is given
  free_ocfi_info(r);
  LogCapture log;
  EXPECT_EQ(load_ocfi_info(nullptr, "/no/such/file.ocf"), nullptr);
  EXPECT_NE(log.Text().find("cannot be opened"), std::string::npos);
}

TEST(OcfStream, DescribesThePrintedImageWithoutTouchingTheSource) {
  ScratchFolder dir;
  ocfi_info* r = rgb_record(dir.path("not-there.bmp"));
  r->width = 10;
  r->height = 5;
  r->xres = r->yres = 150;
  r->planar = KLV_PLANAR_LINES;
  const std::string path = save(dir, r);
  free_ocfi_info(r);

  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", &info, KLV_TYPE_OCF);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->type, KLV_TYPE_OCF);
  EXPECT_EQ(info.width, 1500);
  EXPECT_EQ(info.height, 750);
  EXPECT_EQ(info.xres, 150.0);
  EXPECT_EQ(info.samples, 3u);
  EXPECT_EQ(info.planar, uint32_t(KLV_PLANAR_LINES));
  EXPECT_EQ(info.bytes_per_line, 4500u);
  EXPECT_EQ(ocf_state(img), OcfState::kPending);

  // The source is missing: the first read says so, and every later call fails.
  LogCapture log;
  std::vector<uint8_t> line(info.bytes_per_line);
  EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
  EXPECT_NE(log.Text().find("not-there.bmp\" cannot be opened"), std::string::npos) << log.Text();
  EXPECT_EQ(ocf_state(img), OcfState::kFailed);
  EXPECT_EQ(img_seek_line(img, 0, 0, 0, 0), -1);
  EXPECT_EQ(img_get_cmap(img), nullptr);
  img_close(img);

  // Building at once reports the missing source at open.
  ocfi_info* again = load_ocfi_info(nullptr, path.c_str());
  EXPECT_EQ(ocfimg_open_ex(nullptr, again, 1), nullptr);
}

TEST(OcfStream, DeliversTheLinesOfTheSameChainBuiltByHandForEachFormat) {
  ScratchFolder dir;
  const struct {
    int32_t type;
    const char* file;
  } formats[] = {{KLV_TYPE_BMP, "src.bmp"},
                 {KLV_TYPE_TIFF, "src.tif"},
                 {KLV_TYPE_TGA, "src.tga"},
                 {KLV_TYPE_JPEG, "src.jpg"},
                 {KLV_TYPE_PNG, "src.png"}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.file);
    const std::string source = dir.path(f.file);
    ASSERT_TRUE(write_source(source, f.type, 37, 23, 3));
    ocfi_info* r = rgb_record(source);
    r->crop = {0, 0.1, 0.2, 0.9, 0.8, 0, 0, 0};
    const std::string path = save(dir, r, std::string(f.file) + ".ocf");

    image_info info;
    init_image_info(&info);
    IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", &info, KLV_TYPE_RECOGNISE_DOC);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->type, KLV_TYPE_OCF);
    EXPECT_EQ(ocf_state(img), OcfState::kPending);
    const std::vector<uint8_t> got = all_lines(img);
    EXPECT_EQ(ocf_state(img), OcfState::kBuilt);
    IMG_file* hand = by_hand(source, *r);
    ASSERT_NE(hand, nullptr);
    EXPECT_EQ(hand->info.width, 50);
    EXPECT_EQ(hand->info.height, 30);
    const std::vector<uint8_t> want = all_lines(hand);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(got, want);
    // A seek back gives the same line again.
    std::vector<uint8_t> line(info.bytes_per_line);
    EXPECT_EQ(img_seek_line(img, 7, 0, 0, 0), 7);
    ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
    EXPECT_TRUE(std::equal(line.begin(), line.end(), want.begin() + 7 * info.bytes_per_line));
    img_close(hand);
    img_close(img);
    free_ocfi_info(r);
  }
}

TEST(OcfStream, AChangedSourceFailsAtTheFirstReadNotAtOpen) {
  ScratchFolder dir;
  const std::string source = dir.path("src.tif");
  ASSERT_TRUE(write_source(source, KLV_TYPE_TIFF, 20, 10, 3));
  ocfi_info* r = rgb_record(source);
  const std::string path = save(dir, r);
  free_ocfi_info(r);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", nullptr, KLV_TYPE_OCF);
  ASSERT_NE(img, nullptr);
  // Replaced after the open by something that is no image: the open read
  // nothing of it, so the fault shows at the first line.
  ASSERT_TRUE(klv::test::write_text(source, "II*\0 this is no longer a picture"));
  LogCapture log;
  std::vector<uint8_t> line(img->info.bytes_per_line);
  EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
  EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
  EXPECT_NE(log.Text().find("no lines can be delivered"), std::string::npos) << log.Text();
  img_close(img);
}

TEST(OcfStream, PlanarAndLineInterleavedRequestsRelayTheSameSamples) {
  ScratchFolder dir;
  const std::string source = dir.path("src.png");
  ASSERT_TRUE(write_source(source, KLV_TYPE_PNG, 25, 15, 3));
  ocfi_info* r = rgb_record(source);
  IMG_file* hand = by_hand(source, *r);
  ASSERT_NE(hand, nullptr);
  const std::vector<uint8_t> pixels = all_lines(hand);
  img_close(hand);
  const size_t w = 50, h = 30;
  for (int32_t planar : {KLV_PLANAR_PLANES, KLV_PLANAR_LINES}) {
    SCOPED_TRACE(planar);
    ocfi_info* copy = rgb_record(source);
    copy->planar = planar;
    IMG_file* img = ocfimg_to_img(ocfimg_open_ex(nullptr, copy, 0));
    ASSERT_NE(img, nullptr);
    const std::vector<uint8_t> got = all_lines(img);
    ASSERT_EQ(got.size(), pixels.size());
    for (size_t y = 0; y < h; ++y)
      for (size_t x = 0; x < w; ++x)
        for (size_t s = 0; s < 3; ++s) {
          const size_t at = planar == KLV_PLANAR_PLANES ? (s * h + y) * w + x : (y * 3 + s) * w + x;
          ASSERT_EQ(got[at], pixels[(y * w + x) * 3 + s]) << x << "," << y << "," << s;
        }
    img_close(img);
  }
  free_ocfi_info(r);
}

TEST(OcfStream, APlanarRequestOfOneSampleIsItsPixelLines) {
  ScratchFolder dir;
  const std::string source = dir.path("gray.tif");
  ASSERT_TRUE(write_source(source, KLV_TYPE_TIFF, 21, 11, 1));
  ocfi_info* r = rgb_record(source);
  r->samples = 1;
  IMG_file* hand = by_hand(source, *r);
  ASSERT_NE(hand, nullptr);
  const std::vector<uint8_t> want = all_lines(hand);
  img_close(hand);
  r->planar = KLV_PLANAR_PLANES;
  IMG_file* img = ocfimg_to_img(ocfimg_open_ex(nullptr, r, 0));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(all_lines(img), want);
  img_close(img);
}

TEST(OcfStream, SixteenBitHandlingDithersTheSixteenBitLinesToEight) {
  ScratchFolder dir;
  const std::string source = dir.path("src16.tif");
  ASSERT_TRUE(write_source(source, KLV_TYPE_TIFF, 30, 20, 3, 16));
  ocfi_info* r = rgb_record(source);
  r->use_16bit = 1;
  IMG_file* img = ocfimg_to_img(ocfimg_open_ex(nullptr, r, 1));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->info.bits_per_sample, 8u);
  const std::vector<uint8_t> got = all_lines(img);
  img_close(img);
  ocfi_info* plain = rgb_record(source);
  plain->bits_per_sample = 16;
  IMG_file* wide = by_hand(source, *plain);
  free_ocfi_info(plain);
  ASSERT_NE(wide, nullptr);
  const std::vector<uint8_t> want16 = all_lines(wide);
  img_close(wide);
  ASSERT_EQ(got.size() * 2, want16.size());
  size_t up = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    uint16_t v;
    std::memcpy(&v, want16.data() + 2 * i, 2);
    const uint32_t floor8 = uint32_t(v) * 255 / 65535;
    ASSERT_TRUE(got[i] == floor8 || got[i] == floor8 + 1) << i;
    up += got[i] != floor8;
  }
  EXPECT_GT(up, 0u);  // dithered, not cut
}

TEST(OcfStream, BleedSurroundsThePrintedImage) {
  ScratchFolder dir;
  const std::string source = dir.path("src.bmp");
  ASSERT_TRUE(write_source(source, KLV_TYPE_BMP, 30, 20, 3));
  ocfi_info* base = rgb_record(source);
  IMG_file* hand = by_hand(source, *base);
  const std::vector<uint8_t> inner = all_lines(hand);
  img_close(hand);
  const int32_t w = 50, h = 30, l = 2, t = 3, rt = 4, b = 1;
  for (int32_t mode : {KLV_OCF_BLEED_COLOR, KLV_OCF_BLEED_REPEAT, KLV_OCF_BLEED_MIRROR}) {
    SCOPED_TRACE(mode);
    ocfi_info* r = rgb_record(source);
    r->bleed_on = 1;
    r->bleed.mode = mode;
    r->bleed.outer[0] = 0.02;
    r->bleed.outer[1] = 0.03;
    r->bleed.outer[2] = 0.04;
    r->bleed.outer[3] = 0.01;
    r->bleed_pixel[0] = 10, r->bleed_pixel[1] = 20, r->bleed_pixel[2] = 30;
    IMG_file* img = ocfimg_to_img(ocfimg_open_ex(nullptr, r, 0));
    ASSERT_NE(img, nullptr);
    ASSERT_EQ(img->info.width, w + l + rt);
    ASSERT_EQ(img->info.height, h + t + b);
    const std::vector<uint8_t> got = all_lines(img);
    ASSERT_FALSE(got.empty());
    img_close(img);
    const int32_t W = w + l + rt;
    for (int32_t y = 0; y < h + t + b; ++y)
      for (int32_t x = 0; x < W; ++x) {
        int32_t sx = x - l, sy = y - t;
        const bool out = sx < 0 || sx >= w || sy < 0 || sy >= h;
        if (mode == KLV_OCF_BLEED_REPEAT)
          sx = std::clamp(sx, 0, w - 1), sy = std::clamp(sy, 0, h - 1);
        if (mode == KLV_OCF_BLEED_MIRROR) {
          sx = sx < 0 ? -sx - 1 : sx >= w ? 2 * w - sx - 1 : sx;
          sy = sy < 0 ? -sy - 1 : sy >= h ? 2 * h - sy - 1 : sy;
        }
        for (int32_t s = 0; s < 3; ++s) {
          const uint8_t want = mode == KLV_OCF_BLEED_COLOR && out
                                   ? uint8_t(10 * (s + 1))
                                   : inner[(size_t(sy) * w + size_t(sx)) * 3 + size_t(s)];
          ASSERT_EQ(got[(size_t(y) * W + size_t(x)) * 3 + size_t(s)], want) << x << "," << y;
        }
      }
  }
  free_ocfi_info(base);
}

TEST(OcfStream, AppliesItsColourChainAsTheSameChainByHand) {
  ScratchFolder dir;
  const std::string source = dir.path("src.tga");
  ASSERT_TRUE(write_source(source, KLV_TYPE_TGA, 40, 20, 3));
  t_ucc_node* chain = new_ucc(UCC_RGB0);
  auto* lv = static_cast<ucc_rgb_levels*>(chain->data);
  lv->enable[0] = lv->enable[1] = 1;
  for (int c = 0; c < 3; ++c) lv->black[c] = 40, lv->white_inv[c] = 60;
  ucc_calc_rgb(lv);
  const std::string chain_path = dir.path("levels.ucci");
  ASSERT_EQ(save_ucc(nullptr, chain_path.c_str(), chain), 1);

  ocfi_info* r = rgb_record(source);
  std::snprintf(r->ucc_path, sizeof r->ucc_path, "%s", chain_path.c_str());
  IMG_file* img = ocfimg_to_img(ocfimg_open_ex(nullptr, r, 0));
  ASSERT_NE(img, nullptr);
  const std::vector<uint8_t> got = all_lines(img);
  img_close(img);

  ucc_info* ctx = ucc_info_init(chain, 1, 0);
  filter_transform xf;
  ucc_filter_transform(ctx, &xf);
  filter_info o;
  std::memset(&o, 0, sizeof o);
  o.transform = &xf;
  ocfi_info* plain = rgb_record(source);
  IMG_file* hand = by_hand(source, *plain, &o);
  ASSERT_NE(hand, nullptr);
  const std::vector<uint8_t> want = all_lines(hand);
  img_close(hand);
  ucc_info_free(ctx, 1);
  IMG_file* untouched = by_hand(source, *plain);
  const std::vector<uint8_t> before = all_lines(untouched);
  img_close(untouched);
  free_ocfi_info(plain);
  ASSERT_FALSE(want.empty());
  EXPECT_EQ(got, want);
  EXPECT_NE(got, before);  // the chain did change the colours

  // A chain file that is not there is a clear fault at the first read.
  ocfi_info* missing = rgb_record(source);
  std::snprintf(missing->ucc_path, sizeof missing->ucc_path, "%s", dir.path("gone.ucci").c_str());
  LogCapture log;
  img = ocfimg_to_img(ocfimg_open_ex(nullptr, missing, 0));
  std::vector<uint8_t> line(img->info.bytes_per_line);
  EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
  EXPECT_NE(log.Text().find("colour chain"), std::string::npos) << log.Text();
  img_close(img);
}

TEST(OcfStream, AnOcfInAVolumeOpensAsTheDocumentTypesAndWritingIsRefused) {
  ScratchFolder dir;
  const std::string source = dir.path("src.bmp");
  ASSERT_TRUE(write_source(source, KLV_TYPE_BMP, 12, 8, 3));
  const std::string vpath = dir.path("ref.ocf");
  SOVolume* vol = VOpen(nullptr, vpath.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(vol, nullptr);
  ocfi_info* r = rgb_record(source);
  ASSERT_EQ(save_ocfi_info(vol, KLV_OCF_MEMBER, r), 1);
  ASSERT_EQ(VClose(vol), 0);

  EXPECT_EQ(ocfimg_check(nullptr, vpath.c_str()), 1);
  EXPECT_EQ(ocfimg_check(nullptr, source.c_str()), 0);
  for (int32_t type : {KLV_TYPE_OCF, KLV_TYPE_RECOGNISE_DOC}) {
    SCOPED_TRACE(type);
    IMG_file* img = img_mux_open(vpath.c_str(), nullptr, "r", nullptr, type);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->type, KLV_TYPE_OCF);
    EXPECT_EQ(img->info.width, 50);
    LogCapture log;
    std::vector<uint8_t> line(img->info.bytes_per_line);
    EXPECT_EQ(img_write_line(img, line.data(), 1), 0);
    EXPECT_NE(log.Text().find("read-only"), std::string::npos);
    EXPECT_EQ(img_read_line(img, line.data(), 1), 1);
    img_close(img);
  }
  EXPECT_EQ(img_check_valid(nullptr, vpath.c_str(), KLV_TYPE_RECOGNISE_DOC), KLV_TYPE_OCF);
  // Recognition of pictures (types 0 and 1) leaves the library's documents alone.
  {
    LogCapture quiet;
    EXPECT_EQ(img_mux_open(vpath.c_str(), nullptr, "r", nullptr, KLV_TYPE_RECOGNISE), nullptr);
  }

  LogCapture log;
  image_info info;
  init_image_info(&info);
  EXPECT_EQ(img_mux_open(vpath.c_str(), nullptr, "w", &info, KLV_TYPE_OCF), nullptr);
  EXPECT_EQ(ocfimg_open(vpath.c_str(), nullptr, "w", &info), nullptr);
  EXPECT_NE(log.Text().find("read-only"), std::string::npos);
  // A volume without the description is not an OCF.
  SOVolume* other = VOpen(nullptr, dir.path("other.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(other, nullptr);
  VClose(other);
  {
    LogCapture quiet;
    EXPECT_EQ(ocfimg_open(dir.path("other.vol").c_str(), nullptr, "r", &info), nullptr);
    EXPECT_EQ(quiet.Text().find("ERROR"), std::string::npos) << quiet.Text();
  }
  EXPECT_EQ(ocfimg_check(nullptr, dir.path("other.vol").c_str()), 0);
  free_ocfi_info(r);
}

}  // namespace

namespace {

// A source kept beside the OCF in its volume (".\\name"), and a relative
// source path taken from the OCF file's folder.
TEST(OcfStream, FindsASourceInItsVolumeOrBesideIt) {
  ScratchFolder dir;
  const std::string outside = dir.path("pic.bmp");
  ASSERT_TRUE(write_source(outside, KLV_TYPE_BMP, 16, 9, 3));
  const std::vector<uint8_t> bytes = klv::test::read_file(outside);
  ASSERT_FALSE(bytes.empty());

  const std::string vpath = dir.path("packed.ocf");
  SOVolume* vol = VOpen(nullptr, vpath.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(vol, nullptr);
  SFilemux* member = Ovfopen(vol, ".\\Image", "wb");
  ASSERT_NE(member, nullptr);
  ASSERT_EQ(Owrite(member, bytes.data(), bytes.size()), bytes.size());
  ASSERT_EQ(Oclose(member), 0);
  ocfi_info* r = rgb_record(".\\Image");
  ASSERT_EQ(save_ocfi_info(vol, KLV_OCF_MEMBER, r), 1);
  ASSERT_EQ(VClose(vol), 0);

  std::snprintf(r->image_path, sizeof r->image_path, "pic.bmp");
  const std::string beside = save(dir, r, "beside.ocf");
  // The same relative name from an OCF kept as a volume.
  const std::string packed_beside = dir.path("packed_beside.ocf");
  vol = VOpen(nullptr, packed_beside.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(vol, nullptr);
  ASSERT_EQ(save_ocfi_info(vol, KLV_OCF_MEMBER, r), 1);
  ASSERT_EQ(VClose(vol), 0);
  IMG_file* hand = by_hand(outside, *r);
  ASSERT_NE(hand, nullptr);
  const std::vector<uint8_t> want = all_lines(hand);
  img_close(hand);
  free_ocfi_info(r);

  for (const std::string& path : {vpath, beside, packed_beside}) {
    SCOPED_TRACE(path);
    IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", nullptr, KLV_TYPE_OCF);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(all_lines(img), want);
    img_close(img);
  }
}

}  // namespace
