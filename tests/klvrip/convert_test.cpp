// SPDX-License-Identifier: MIT
// klvrip convert and the colour options of klvrip screen, run as programs:
// the converted file (model, depth, embedded profile, plausible inks), the
// calibration making a difference, usage errors and failures that say why
// and leave nothing behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "klv/imgmux.h"

#include "run_klvrip.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = KLV_TEST_DATA "/../../data";

// One pixel of a converted file, and what the file is.
struct Converted {
  image_info info{};
  uint32_t profile_bytes = 0;
  std::vector<uint8_t> first_line;
};

class KlvripConvert : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(KLV_BINARY_DIR) + "/klvrip_convert_" + std::to_string(::getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_ + "/work");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Work(const std::string& name) const { return dir_ + "/work/" + name; }
  size_t Entries() const {
    return size_t(std::distance(fs::directory_iterator(dir_ + "/work"), fs::directory_iterator{}));
  }

  // A 16 x 4 image of `samples` colour samples and photometric `photo`:
  // line 0 white (or no ink), line 1 black, lines 2-3 a ramp.
  std::string Image(const std::string& name, uint32_t samples, uint32_t photo) const {
    const std::string path = Work(name);
    image_info info;
    init_image_info(&info);
    info.width = 16;
    info.height = 4;
    info.samples = samples;
    info.bits_per_sample = 8;
    info.photometric = photo;
    info.xres = info.yres = 72;
    info.bytes_per_line = image_info_line_bytes(&info);
    IMG_file* out = img_mux_open(path.c_str(), nullptr, "w", &info, KLV_TYPE_TIFF);
    EXPECT_NE(out, nullptr);
    if (!out) return path;
    for (int y = 0; y < 4; ++y) {
      std::vector<uint8_t> line(info.bytes_per_line);
      for (size_t i = 0; i < line.size(); ++i) {
        const uint8_t light = y == 0 ? 255 : y == 1 ? 0 : uint8_t(i * 255 / line.size());
        line[i] = photo == KLV_PHOTO_CIELAB && i % 3 ? 128 : light;
      }
      EXPECT_EQ(img_write_line(out, line.data(), 1), 1);
    }
    EXPECT_EQ(img_close_status(out), 0);
    return path;
  }

  Converted Read(const std::string& path) const {
    Converted c;
    init_image_info(&c.info);
    IMG_file* in = img_mux_open(path.c_str(), nullptr, "r", &c.info, 0);
    EXPECT_NE(in, nullptr) << path;
    if (!in) return c;
    if (image_profile* p = img_get_profile(in)) {
      c.profile_bytes = p->size;
      checkin_image_profile(p);
    }
    c.first_line.resize(c.info.bytes_per_line * 2);
    EXPECT_EQ(img_read_line(in, c.first_line.data(), 2), 2);
    img_close(in);
    return c;
  }

  klv::test::KlvripResult Run(const std::vector<std::string>& args) const {
    return klv::test::run_klvrip(dir_, args);
  }

  std::string dir_;
};

TEST_F(KlvripConvert, RgbGrayAndLabBecomeCmykWithTheProfileEmbedded) {
  const uint32_t cmyk_size = uint32_t(fs::file_size(kData + "/profiles/klv_cmyk.icc"));
  struct Case {
    const char* what;
    uint32_t samples, photo;
  } cases[] = {{"rgb", 3, KLV_PHOTO_MINBLACK},
               {"gray", 1, KLV_PHOTO_MINBLACK},
               {"lab", 3, KLV_PHOTO_CIELAB}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string in = Image(std::string(c.what) + ".tif", c.samples, c.photo);
    const std::string out = Work(std::string(c.what) + "_cmyk.tif");
    const klv::test::KlvripResult r = Run({"convert", in, out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("4 channels of 8 bits"), std::string::npos) << r.out;
    const Converted got = Read(out);
    EXPECT_EQ(got.info.samples, 4u);
    EXPECT_EQ(got.info.bits_per_sample, 8u);
    EXPECT_EQ(got.info.photometric, uint32_t(KLV_PHOTO_MINWHITE));
    EXPECT_EQ(got.profile_bytes, cmyk_size);
    // Line 0 (white) takes next to no ink, line 1 (black) a lot of black.
    const uint32_t bpl = got.info.bytes_per_line;
    for (uint32_t i = 0; i < 4; ++i) EXPECT_LE(got.first_line[i], 5) << i;
    EXPECT_GE(got.first_line[bpl + 3], 128);
  }
}

TEST_F(KlvripConvert, SixteenBitsAndTheCalibrationOfAPrinter) {
  const std::string in = Image("rgb.tif", 3, KLV_PHOTO_MINBLACK);
  const std::string plain = Work("plain.tif"), calibrated = Work("calibrated.tif");
  klv::test::KlvripResult r = Run({"convert", in, plain, "--bits", "16", "--printer", "KlvDemo"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("KlvDemo profile"), std::string::npos) << r.out;
  r = Run({"convert", in, calibrated, "--bits=16", "--printer", "KlvDemo", "--calibration",
           "Linear1~Plain Paper~720x720~4", "--intent", "relative"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("relative colorimetric, calibration"), std::string::npos) << r.out;
  const Converted a = Read(plain), b = Read(calibrated);
  EXPECT_EQ(a.info.bits_per_sample, 16u);
  ASSERT_EQ(a.first_line.size(), b.first_line.size());
  // Black line: the plain paper's ink limit takes ink away.
  const auto* pa = reinterpret_cast<const uint16_t*>(a.first_line.data() + a.info.bytes_per_line);
  const auto* pb = reinterpret_cast<const uint16_t*>(b.first_line.data() + b.info.bytes_per_line);
  EXPECT_LT(pb[3], pa[3]);
}

TEST_F(KlvripConvert, BadUseAndFailuresSayWhyAndLeaveNothing) {
  const std::string in = Image("rgb.tif", 3, KLV_PHOTO_MINBLACK);
  const std::string out = Work("out.tif");
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {{"convert", in}, 2, "usage"},
      {{"convert", in, out, "--calibration", "Linear1"}, 2, "needs --printer"},
      {{"convert", in, out, "--intent", "vivid"}, 2, "no intent"},
      {{"convert", in, out, "--bits", "12"}, 2, "8 or 16"},
      {{"convert", Work("missing.tif"), out}, 1, "cannot read image"},
      {{"convert", in, out, "--output-profile", "nothing.icc"}, 1, "not found"},
      {{"convert", in, out, "--printer", "KlvDemo", "--calibration", "None~Such"},
       1,
       "no linearization"},
  };
  const size_t before = Entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const klv::test::KlvripResult r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(Entries(), before);
  }
}

TEST_F(KlvripConvert, ScreenTakesTheColourOptions) {
  const std::string rgb = Image("rgb.tif", 3, KLV_PHOTO_MINBLACK);
  const std::string gray = Image("gray.tif", 1, KLV_PHOTO_MINBLACK);
  klv::test::KlvripResult r = Run({"screen", rgb, Work("dots.tif"), "--printer", "KlvDemo",
                                   "--calibration", "Linear1~Glossy Photo~720x720~4"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("4 separations"), std::string::npos) << r.out;
  // Gray stays one separation unless a colour option asks for the printer's inks.
  r = Run({"screen", gray, Work("gray_dots.tif")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("1 separation "), std::string::npos) << r.out;
  r = Run({"screen", gray, Work("gray_cmyk.tif"), "--printer", "KlvDemo"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("4 separations"), std::string::npos) << r.out;
  // Light output cannot be screened; a calibration needs its printer.
  r = Run({"screen", rgb, Work("x.tif"), "--output-profile", "klv_srgb.icc"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("needs inks or gray"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"screen", rgb, Work("x.tif"), "--calibration", "Linear1"}).code, 2);
  EXPECT_FALSE(fs::exists(Work("x.tif")));
}

}  // namespace
