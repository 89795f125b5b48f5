// SPDX-License-Identifier: MIT
// The filtered openers: size fit, layouts, rotation placement and writing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "klv/imgmux.h"
#include "klv/rotate.h"

namespace {

namespace fs = std::filesystem;

std::string data(const char* name) {
  return std::string(KLV_TEST_DATA) + "/" + name;
}

image_info target_of(int32_t w, int32_t h) {
  image_info t;
  init_image_info(&t);
  t.width = w;
  t.height = h;
  t.bits_per_sample = 8;
  t.samples = 3;
  t.photometric = KLV_PHOTO_MINBLACK;
  return t;
}

std::vector<std::vector<uint8_t>> read_all(IMG_file* img) {
  std::vector<std::vector<uint8_t>> lines;
  for (int32_t y = 0; y < img->info.height; ++y) {
    std::vector<uint8_t> l(img->info.bytes_per_line);
    if (img_read_line(img, l.data(), 1) != 1) break;
    lines.push_back(l);
  }
  return lines;
}

TEST(FilterMux, TargetSizeFit) {
  struct Case {
    const char* file;
    int32_t tw, th;
    uint32_t rotation;
    int32_t w, h;
  };
  const Case cases[] = {
      {"formats/rgb24.bmp", 0, 0, 0, 23, 7},        {"formats/rgb24.bmp", 10, 10, 0, 10, 3},
      {"formats/rgb24.bmp", 46, 0, 0, 46, 14},      {"formats/rgb24.bmp", 0, 0, 1, 7, 23},
      {"formats/rgb24.bmp", 10, 10, 1, 3, 10},      {"formats/rgb24.bmp", 0, 0, 2, 23, 7},
      {"formats/separate.tif", 0, 0, 0, 23, 7},     {"opening/tiled_tif.bin", 0, 0, 3, 5, 9},
      {"opening/tiled_tif.bin", 18, 10, 0, 18, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.tw) + "x" + std::to_string(c.th) +
                 " rotation " + std::to_string(c.rotation));
    image_info info;
    init_image_info(&info);
    image_info target = target_of(c.tw, c.th);
    filter_info opt{};
    opt.rotation = static_cast<uint8_t>(c.rotation);
    IMG_file* img = filter_file_open(data(c.file).c_str(), nullptr, "r", &info, 0, &target, &opt);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->info.width, c.w);
    EXPECT_EQ(img->info.height, c.h);
    EXPECT_EQ(img->info.planar, uint32_t(KLV_PLANAR_PIXEL));
    EXPECT_EQ(int32_t(read_all(img).size()), c.h);
    img_close(img);
  }
}

// Turning before the line filter and after it give the same pixels when the
// size does not change.
TEST(FilterMux, RotationMatchesTheRotationFilter) {
  for (uint32_t rotation = 1; rotation < 8; ++rotation) {
    SCOPED_TRACE(rotation);
    image_info info;
    init_image_info(&info);
    image_info target = target_of(0, 0);
    filter_info opt{};
    opt.rotation = static_cast<uint8_t>(rotation);
    IMG_file* a =
        filter_file_open(data("formats/rgb24.bmp").c_str(), nullptr, "r", &info, 0, &target, &opt);
    ASSERT_NE(a, nullptr);
    rotate_request req{};
    req.turns = rotation & 3;
    req.mirror = (rotation & 4) != 0;
    IMG_file* b = rotate_to_file(rotate_attach(
        img_mux_open(data("formats/rgb24.bmp").c_str(), nullptr, "r", nullptr, 0), &req));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(read_all(a), read_all(b));
    img_close(a);
    img_close(b);
  }
}

TEST(FilterMux, RefusalsAndPassThrough) {
  image_info info;
  init_image_info(&info);
  image_info target = target_of(0, 0);
  // Reading needs both descriptions.
  EXPECT_EQ(filter_mux_open(data("formats/rgb24.bmp").c_str(), nullptr, "r", nullptr, 0, &target,
                            nullptr),
            nullptr);
  EXPECT_EQ(
      filter_mux_open(data("formats/rgb24.bmp").c_str(), nullptr, "r", &info, 0, nullptr, nullptr),
      nullptr);
  EXPECT_EQ(filter_mux_open(data("opening/bm_text.bmp").c_str(), nullptr, "r", &info, 0, &target,
                            nullptr),
            nullptr);
  // A stream without a target comes back as it is.
  IMG_file* img = img_mux_open(data("formats/rgb24.bmp").c_str(), nullptr, "r", nullptr, 0);
  EXPECT_EQ(filter_img_attach(img, nullptr, nullptr), img);
  image_info small = target_of(5, 0);
  IMG_file* f = filter_img_attach(img, &small, nullptr);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->info.width, 5);
  EXPECT_EQ(f->info.height, 2);
  img_close(f);
  EXPECT_EQ(filter_img_attach(nullptr, &small, nullptr), nullptr);
}

TEST(FilterMux, HooksReplaceTheStream) {
  struct Hook {
    static IMG_file* turn(IMG_file* img, uint32_t arg) {
      rotate_request req{};
      req.turns = static_cast<uint8_t>(arg);
      return rotate_to_file(rotate_attach(img, &req));
    }
    static IMG_file* refuse(IMG_file* img, uint32_t) {
      img_close(img);
      return nullptr;
    }
  };
  for (uint32_t stage : {1u, 2u}) {
    image_info info;
    init_image_info(&info);
    image_info target = target_of(0, 0);
    filter_info opt{};
    opt.hook_stage = stage;
    opt.hook = Hook::turn;
    opt.hook_arg = 1;
    IMG_file* img =
        filter_file_open(data("formats/rgb24.bmp").c_str(), nullptr, "r", &info, 0, &target, &opt);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->info.width, 7);
    EXPECT_EQ(info.width, 7);
    img_close(img);
    opt.hook = Hook::refuse;
    EXPECT_EQ(
        filter_file_open(data("formats/rgb24.bmp").c_str(), nullptr, "r", &info, 0, &target, &opt),
        nullptr);
  }
}

TEST(FilterMux, WritingConvertsIntoTheFile) {
  const fs::path dir = fs::path(KLV_BINARY_DIR) / "opening_filter_tmp";
  fs::create_directories(dir);
  const std::string out = (dir / "written.bmp").string();
  image_info lines = target_of(8, 4);  // what the caller writes
  lines.samples = 1;
  lines.bytes_per_line = 8;
  image_info file = target_of(8, 4);  // what the file holds
  IMG_file* img =
      filter_file_open(out.c_str(), nullptr, "wb", &lines, KLV_TYPE_BMP, &file, nullptr);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->mode, 'w');
  EXPECT_EQ(filter_img_attach(img, &file, nullptr), img);
  std::vector<uint8_t> gray(8);
  for (int32_t y = 0; y < 4; ++y) {
    for (int x = 0; x < 8; ++x) gray[x] = static_cast<uint8_t>(x * 30 + y);
    ASSERT_EQ(img_write_line(img, gray.data(), 1), 1);
  }
  img_close(img);
  image_info back;
  init_image_info(&back);
  IMG_file* r = img_mux_open(out.c_str(), nullptr, "r", &back, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(back.width, 8);
  EXPECT_EQ(back.samples, 3u);
  std::vector<uint8_t> rgb(24);
  ASSERT_EQ(img_read_line(r, rgb.data(), 1), 1);
  EXPECT_EQ(rgb[3 * 5], 150);
  EXPECT_EQ(rgb[3 * 5 + 2], 150);
  img_close(r);
  fs::remove_all(dir);
}

}  // namespace
