// SPDX-License-Identifier: MIT
// A colour chain in the line filter: an RGB image opened as CMYK through a
// printer profile node served by the LittleCMS engine (the shipped sRGB and
// CMYK profiles), and a CMYK image through a calibration-only chain.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cms_test_util.h"
#include "klv/imgmux.h"
#include "klv/ucc.h"

namespace {

using namespace cms_test;

std::string data(const char* name) {
  return std::string(KLV_TEST_DATA) + "/" + name;
}

std::vector<uint8_t> read_all(IMG_file* img) {
  std::vector<uint8_t> all;
  std::vector<uint8_t> line(img->info.bytes_per_line);
  for (int32_t y = 0; y < img->info.height; ++y) {
    if (img_read_line(img, line.data(), 1) != 1) break;
    all.insert(all.end(), line.begin(), line.end());
  }
  return all;
}

image_info target(uint32_t samples, uint32_t photometric) {
  image_info t;
  init_image_info(&t);
  t.bits_per_sample = 8;
  t.samples = samples;
  t.photometric = photometric;
  return t;
}

IMG_file* open_through(const char* file, ucc_info* info, uint32_t samples, uint32_t photometric,
                       filter_transform* xf) {
  image_info src;
  init_image_info(&src);
  image_info t = target(samples, photometric);
  filter_info opt{};
  if (info) {
    ucc_filter_transform(info, xf);
    opt.transform = xf;
  }
  return filter_file_open(data(file).c_str(), nullptr, "r", &src, 0, &t, &opt);
}

#ifdef KLV_LCMS2_ENGINE
TEST(UccFilter, RgbImageToCmykThroughAPrinterProfile) {
  ServerFolder server(types_file(record("1 2 15", "LittleCMS", as_dll(KLV_LCMS2_ENGINE))));
  ScopedEnv path("KLV_PATH", KLV_DATA_DIR);
  ASSERT_EQ(cms_initialize(nullptr, nullptr), 1);
  const std::string srgb = std::string(KLV_DATA_DIR) + "/profiles/klv_srgb.icc";
  const std::string cmyk = std::string(KLV_DATA_DIR) + "/profiles/klv_cmyk.icc";
  const char* args[] = {"intent=0"};
  t_ucc_node* node = new_ucc(UCC_PCG3);
  auto* list = static_cast<ucc_proflist*>(node->data);
  list->first = cms_profnode_new(1, "", 0, srgb.c_str(), "", cmyk.c_str(), "", 1, args, 0, nullptr,
                                 3, 4 | CMS_FMT_INK, nullptr, nullptr);
  ASSERT_NE(list->first, nullptr);
  t_ucc_node* chain = add_ucc(nullptr, node);
  ASSERT_EQ(load_calibration(nullptr, &chain, 1, 0, nullptr), 1);
  ASSERT_NE(list->first->xform, nullptr);
  EXPECT_EQ(ucc_is_pure(chain), 1);

  ucc_info* info = ucc_info_init(chain, 1, 0);
  filter_transform xf{};
  IMG_file* img = open_through("formats/rgb24.bmp", info, 4, KLV_PHOTO_MINWHITE, &xf);
  ASSERT_NE(img, nullptr);
  const std::vector<uint8_t> got = read_all(img);
  img_close(img);
  IMG_file* plain = open_through("formats/rgb24.bmp", nullptr, 3, KLV_PHOTO_MINBLACK, nullptr);
  ASSERT_NE(plain, nullptr);
  const std::vector<uint8_t> rgb = read_all(plain);
  img_close(plain);
  ASSERT_EQ(got.size() / 4, rgb.size() / 3);
  ASSERT_GT(rgb.size(), 0u);
  // Each pixel as the engine converts it on its own (ink held inverted).
  cms_xform* x = list->first->xform;
  for (size_t p = 0; p < rgb.size() / 3; ++p) {
    uint16_t px[4] = {uint16_t(rgb[p * 3] * 257), uint16_t(rgb[p * 3 + 1] * 257),
                      uint16_t(rgb[p * 3 + 2] * 257), 0};
    x->transform(x->handle, 3, px);
    for (int c = 0; c < 4; ++c) ASSERT_EQ(got[p * 4 + c], (65535 - px[c]) >> 8) << p << " " << c;
  }
  ucc_info_free(info, 1);
}
#endif

// A calibration whose linearization halves the first three inks.
t_ucc_node* halving_calibration() {
  t_ucc_node* chain = ucc_set_calb(nullptr, "", "inline", "", "", 1, 1);
  auto* cal = static_cast<ucc_calb*>(chain->data);
  cal->linear = static_cast<LNTB*>(calloc(1, sizeof(LNTB)));
  cal->linear->count = 4;
  cal->linear->tables = alloc_lntb(4);
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i < 256; ++i) cal->linear->tables[c][i] = uint16_t(c == 3 ? i : i / 2);
  return chain;
}

// RGB to CMYK without a profile: black generation, then the calibration on
// the four inks.
TEST(UccFilter, RgbImageToCmykThroughCalibrationOnly) {
  ucc_info* plain = ucc_info_init(nullptr, 0, 0);
  ucc_info* calibrated = ucc_info_init(halving_calibration(), 0, 0);
  filter_transform xa{}, xb{};
  IMG_file* a = open_through("formats/rgb24.bmp", plain, 4, KLV_PHOTO_MINWHITE, &xa);
  IMG_file* b = open_through("formats/rgb24.bmp", calibrated, 4, KLV_PHOTO_MINWHITE, &xb);
  ASSERT_TRUE(a && b);
  const std::vector<uint8_t> ink = read_all(a), got = read_all(b);
  img_close(a);
  img_close(b);
  ASSERT_EQ(got.size(), ink.size());
  ASSERT_GT(ink.size(), 0u);
  int black = 0;
  for (size_t i = 0; i < ink.size(); ++i) {
    const int want = i % 4 == 3 ? ink[i] : ink[i] / 2;
    ASSERT_NEAR(got[i], want, 1) << i;
    black += i % 4 == 3 && ink[i] > 0;
  }
  EXPECT_GT(black, 0) << "black generation gave black ink";
  ucc_info_free(plain, 1);
  ucc_info_free(calibrated, 1);
}

TEST(UccFilter, CmykImageThroughCalibrationOnly) {
  t_ucc_node* chain = halving_calibration();
  ucc_info* info = ucc_info_init(chain, 0, 0);
  filter_transform xf{};
  IMG_file* img = open_through("formats/cmyk.tif", info, 4, KLV_PHOTO_MINWHITE, &xf);
  ASSERT_NE(img, nullptr);
  const std::vector<uint8_t> got = read_all(img);
  img_close(img);
  IMG_file* plain = open_through("formats/cmyk.tif", nullptr, 4, KLV_PHOTO_MINWHITE, nullptr);
  ASSERT_NE(plain, nullptr);
  const std::vector<uint8_t> ink = read_all(plain);
  img_close(plain);
  ASSERT_EQ(got.size(), ink.size());
  ASSERT_GT(ink.size(), 0u);
  int changed = 0;
  for (size_t i = 0; i < ink.size(); ++i) {
    const int want = i % 4 == 3 ? ink[i] : ink[i] / 2;
    ASSERT_NEAR(got[i], want, 1) << i;
    changed += got[i] != ink[i];
  }
  EXPECT_GT(changed, 0);
  ucc_info_free(info, 1);
}

}  // namespace
