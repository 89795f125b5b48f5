// SPDX-License-Identifier: MIT
// klvrip repeat run as a program: the page written (size, resolution, a
// half-drop copy where it belongs), and usage errors and failures that say
// why and leave nothing behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "klv/imgmux.h"
#include "run_klvrip.h"

namespace fs = std::filesystem;

namespace {

class KlvripRepeat : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(KLV_BINARY_DIR) + "/klvrip_repeat_" + std::to_string(::getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_ + "/work");
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Work(const std::string& name) const { return dir_ + "/work/" + name; }

  // An 8 x 6 RGB pattern at 100 dpi whose pixel (x, y) is (x, y, 7).
  std::string Pattern() const {
    const std::string path = Work("tile.tif");
    image_info info;
    init_image_info(&info);
    info.width = 8, info.height = 6, info.samples = 3, info.bits_per_sample = 8;
    info.photometric = KLV_PHOTO_MINBLACK;
    info.xres = info.yres = 100;
    info.bytes_per_line = image_info_line_bytes(&info);
    IMG_file* out = img_mux_open(path.c_str(), nullptr, "w", &info, KLV_TYPE_TIFF);
    EXPECT_NE(out, nullptr);
    for (int y = 0; out && y < 6; ++y) {
      uint8_t line[24];
      for (int x = 0; x < 8; ++x)
        line[3 * x] = uint8_t(x), line[3 * x + 1] = uint8_t(y), line[3 * x + 2] = 7;
      EXPECT_EQ(img_write_line(out, line, 1), 1);
    }
    EXPECT_EQ(img_close_status(out), 0);
    return path;
  }

  klv::test::KlvripResult Run(const std::vector<std::string>& args) const {
    std::vector<std::string> words = {"repeat"};
    words.insert(words.end(), args.begin(), args.end());
    return klv::test::run_klvrip(dir_, words, false);
  }

  std::string dir_;
};

TEST_F(KlvripRepeat, WritesAHalfDropPage) {
  const std::string tile = Pattern(), out = Work("page.tif");
  const klv::test::KlvripResult r = Run({tile, out, "--page", "0.2x0.12", "--half-drop", "0.5"});
  ASSERT_EQ(r.code, 0) << r.err;
  image_info info;
  init_image_info(&info);
  IMG_file* page = img_mux_open(out.c_str(), nullptr, "r", &info, 0);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(info.width, 20);
  EXPECT_EQ(info.height, 12);
  EXPECT_NEAR(info.xres, 100, 1e-6);
  std::vector<uint8_t> line(info.bytes_per_line);
  ASSERT_EQ(img_read_line(page, line.data(), 1), 1);
  // Column 0 starts at pattern line 0, column 1 half a pattern (3 lines) down.
  const uint8_t first[3] = {0, 0, 7}, second[3] = {0, 3, 7};
  EXPECT_EQ(0, std::memcmp(line.data(), first, 3));
  EXPECT_EQ(0, std::memcmp(line.data() + 3 * 8, second, 3));
  img_close(page);
}

TEST_F(KlvripRepeat, UsageErrorsAndFailuresLeaveNothing) {
  const std::string tile = Pattern(), out = Work("page.tif");
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {{tile, out}, 2, "--page"},
      {{tile, out, "--page", "2x"}, 2, "not a size"},
      {{tile, out, "--page", "2x2", "--brick", "0.5", "--half-drop", "0.5"}, 2, "exclude"},
      {{tile, out, "--page", "2x2", "--mirror", "diagonal"}, 2, "rows, cols or both"},
      {{tile, out, "--page", "2x2", "--gap-color", "1,2,300"}, 2, "R,G,B"},
      {{Work("none.tif"), out, "--page", "2x2"}, 1, "cannot read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const klv::test::KlvripResult r = Run(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ + "/work"), fs::directory_iterator{}), 1);
}

}  // namespace
