// SPDX-License-Identifier: MIT
// klvrip info and screen take an OCF image reference like any image: info
// describes the printed image, screen screens it; a reference whose source
// is gone is described but reported unreadable.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "klv/imgmux.h"
#include "klv/ocfimg.h"
#include "run_klvrip.h"

namespace fs = std::filesystem;

namespace {

class KlvripOcf : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(KLV_BINARY_DIR) + "/klvrip_ocf_" + std::to_string(::getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // A 40 x 20 RGB BMP and an OCF that prints it 1 x 0.5 inches at 60 ppi.
  std::string MakeOcf(const std::string& source) const {
    image_info info;
    init_image_info(&info);
    info.width = 40;
    info.height = 20;
    info.samples = 3;
    info.bits_per_sample = 8;
    info.photometric = KLV_PHOTO_MINBLACK;
    info.bytes_per_line = image_info_line_bytes(&info);
    IMG_file* img = img_mux_open(source.c_str(), nullptr, "wb", &info, KLV_TYPE_BMP);
    EXPECT_NE(img, nullptr);
    std::vector<uint8_t> line(info.bytes_per_line);
    for (int32_t y = 0; y < info.height; ++y) {
      for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i * 3 + size_t(y) * 11);
      img_write_line(img, line.data(), 1);
    }
    EXPECT_EQ(img_close_status(img), 0);
    ocfi_info* r = new_ocfi_info();
    r->width = 1;
    r->height = 0.5;
    r->xres = r->yres = 60;
    r->samples = 3;
    r->bits_per_sample = 8;
    r->photometric = KLV_PHOTO_MINBLACK;
    std::snprintf(r->image_path, sizeof r->image_path, "%s", source.c_str());
    const std::string path = Path("print.ocf");
    EXPECT_EQ(save_ocfi_info(nullptr, path.c_str(), r), 1);
    free_ocfi_info(r);
    return path;
  }

  std::string dir_;
};

TEST_F(KlvripOcf, InfoAndScreenOpenAnOcfLikeAnyImage) {
  const std::string ocf = MakeOcf(Path("src.bmp"));
  klv::test::KlvripResult r = klv::test::run_klvrip(dir_, {"info", ocf});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("type            60"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("size            60 x 30 pixels"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("last line       readable"), std::string::npos) << r.out;

  r = klv::test::run_klvrip(dir_, {"screen", ocf, Path("dots.tif")});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_TRUE(fs::exists(Path("dots.tif")));

  // The source gone: the reference is still described, its lines are not.
  fs::remove(Path("src.bmp"));
  r = klv::test::run_klvrip(dir_, {"info", ocf});
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("size            60 x 30 pixels"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("last line       NOT readable"), std::string::npos) << r.out;
  r = klv::test::run_klvrip(dir_, {"screen", ocf, Path("dots2.tif")});
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_FALSE(fs::exists(Path("dots2.tif")));
}

}  // namespace
