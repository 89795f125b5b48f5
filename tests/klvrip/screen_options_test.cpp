// SPDX-License-Identifier: MIT
// klvrip screen --lpi/--angle: the screen setup the options make, the limits
// of the options, and the ruling of the dots the program writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "klv/img.h"
#include "klv/imgmux.h"
#include "screen_options.h"

namespace {

std::string Text(const SSTRAL* list, int i, int col) {
  const char* s = stral_str(list, i, col);
  return s ? s : "(null)";
}

TEST(ScreenOptions, SetupHasOneEntryPerColourWithItsAngle) {
  struct Case {
    double lpi, angle;
    const char* ruling;
    const char* angles[4];  // cyan, magenta, yellow, black
  } cases[] = {
      {100, 45, "800", {"15", "75", "0", "45"}},
      {60, 10, "480", {"340", "40", "325", "10"}},
      {150.5, -30, "1204", {"300", "0", "285", "330"}},
  };
  for (const Case& c : cases) {
    std::unique_ptr<_SCREENSETUP, int32_t (*)(_SCREENSETUP*)> setup(
        klvrip::screen_setup_of(c.lpi, c.angle), free_screen_settings);
    ASSERT_TRUE(setup);
    EXPECT_STREQ(setup->name, klvrip::kOptionSetupName);
    ASSERT_EQ(stral_count(setup->entries), 4);
    const char* colours[4] = {"Cyan", "Magenta", "Yellow", "Black"};
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(std::string(colours[i]) + " at " + std::to_string(c.angle));
      EXPECT_EQ(Text(setup->entries, i, 0), colours[i]);
      EXPECT_EQ(Text(setup->entries, i, 1), c.ruling);
      EXPECT_EQ(Text(setup->entries, i, 2), c.angles[i]);
      EXPECT_EQ(stral_size(setup->entries, i), 4);
    }
  }
}

TEST(ScreenOptions, ColourListFollowsTheSeparations) {
  std::unique_ptr<SSTRAL, void (*)(SSTRAL*)> gray(klvrip::screen_colours_of(1), stral_free);
  ASSERT_EQ(stral_count(gray.get()), 1);
  EXPECT_EQ(Text(gray.get(), 0, 0), "Black");
  std::unique_ptr<SSTRAL, void (*)(SSTRAL*)> cmyk(klvrip::screen_colours_of(4), stral_free);
  ASSERT_EQ(stral_count(cmyk.get()), 4);
  EXPECT_EQ(Text(cmyk.get(), 0, 0), "Cyan");
  EXPECT_EQ(Text(cmyk.get(), 3, 0), "Black");
}

TEST(ScreenOptions, RulingLimits) {
  struct Case {
    double lpi, angle, xres, yres;
    bool ok;
  } cases[] = {
      {150, 45, 720, 720, true},  {360, 0, 720, 720, true},    {361, 0, 720, 720, false},
      {200, 0, 720, 360, false},  {2.5, 0, 600, 600, true},    {2, 0, 600, 600, false},
      {100, 360, 600, 600, true}, {100, -360, 600, 600, true}, {100, 361, 600, 600, false},
      {NAN, 45, 600, 600, false}, {100, NAN, 600, 600, false}, {INFINITY, 0, 600, 600, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(klvrip::screen_ruling_ok(c.lpi, c.angle, c.xres, c.yres), c.ok)
        << c.lpi << " lpi at " << c.angle << " degrees, " << c.xres << "x" << c.yres;
}

class KlvripScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(KLV_BINARY_DIR) + "/klvrip_test_" + std::to_string(::getpid());
    ASSERT_EQ(std::system(("mkdir -p " + dir_).c_str()), 0);
    gray_ = dir_ + "/gray.tif";
    // A flat mid gray, 600x600 at 600 dpi.
    image_info info;
    init_image_info(&info);
    info.width = info.height = 600;
    info.samples = 1;
    info.bits_per_sample = 8;
    info.photometric = KLV_PHOTO_MINBLACK;
    info.xres = info.yres = 600;
    info.bytes_per_line = image_info_line_bytes(&info);
    IMG_file* out = img_mux_open(gray_.c_str(), nullptr, "w", &info, KLV_TYPE_TIFF);
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> line(info.bytes_per_line, 128);
    for (int y = 0; y < 600; ++y) ASSERT_EQ(img_write_line(out, line.data(), 1), 1);
    img_close(out);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  int Run(const std::string& args) {
    const std::string cmd =
        std::string(KLVRIP_PATH) + " screen " + args + " > " + dir_ + "/log 2>&1";
    const int st = std::system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

  // Changes between ink and paper along every row and column of the dots.
  long Transitions(const std::string& path) {
    image_info info;
    init_image_info(&info);
    IMG_file* in = img_mux_open(path.c_str(), nullptr, "r", &info, 0);
    if (!in || info.bits_per_sample != 1 || info.samples != 1) return -1;
    std::vector<std::vector<int>> px(size_t(info.height), std::vector<int>(size_t(info.width)));
    std::vector<uint8_t> line(info.bytes_per_line);
    for (int y = 0; y < info.height; ++y) {
      if (img_read_line(in, line.data(), 1) != 1) return img_close(in), -1;
      for (int x = 0; x < info.width; ++x)
        px[size_t(y)][size_t(x)] = line[x / 8] >> (7 - x % 8) & 1;
    }
    img_close(in);
    long n = 0;
    for (int y = 1; y < info.height; ++y)
      for (int x = 1; x < info.width; ++x)
        n += (px[size_t(y)][size_t(x)] != px[size_t(y)][size_t(x - 1)]) +
             (px[size_t(y)][size_t(x)] != px[size_t(y - 1)][size_t(x)]);
    return n;
  }

  std::string dir_, gray_;
};

TEST_F(KlvripScreen, BadRulingsAndAnglesAreUsageErrors) {
  const char* bad[] = {"--lpi 0",
                       "--lpi -5",
                       "--lpi abc",
                       "--lpi",
                       "--angle 30",
                       "--lpi 100 --angle nan",
                       "--lpi 301",
                       "--lpi 2",
                       "--lpi 60 --angle 400",
                       "--lpi 60 --method diffusion"};
  for (const char* args : bad) EXPECT_EQ(Run(gray_ + " " + dir_ + "/x.tif " + args), 2) << args;
  EXPECT_EQ(Run("--help"), 0);
}

TEST_F(KlvripScreen, DotsFollowTheRuling) {
  // Twice the lines per inch: twice the dots across and down, so about twice
  // the edges between ink and paper in a flat gray.
  for (const char* method : {"screen", "fuzzy"}) {
    SCOPED_TRACE(method);
    const std::string m = std::string(" --method ") + method;
    ASSERT_EQ(Run(gray_ + " " + dir_ + "/a.tif --lpi 30 --angle 0" + m), 0);
    ASSERT_EQ(Run(gray_ + " " + dir_ + "/b.tif --lpi 60 --angle 0" + m), 0);
    ASSERT_EQ(Run(gray_ + " " + dir_ + "/c.tif --lpi 60 --angle 45" + m), 0);
    const long a = Transitions(dir_ + "/a.tif"), b = Transitions(dir_ + "/b.tif");
    const long c = Transitions(dir_ + "/c.tif");
    ASSERT_GT(a, 0);
    EXPECT_GT(double(b) / double(a), 1.6) << a << " " << b;
    EXPECT_LT(double(b) / double(a), 2.5) << a << " " << b;
    EXPECT_NE(Transitions(dir_ + "/b.tif"), -1);
    EXPECT_GT(c, 0);
  }
}

TEST_F(KlvripScreen, ThreadsWriteTheSameDots) {
  // A CMYK page with a different ramp in every ink: every separation on an
  // engine thread of its own must give the bytes of one thread, whether the
  // lines are lent by the file (uncompressed) or read into the screening's
  // own chunks (compressed). 270 lines: the last chunk is short.
  for (const uint32_t compression : {0u, 1u}) {
    SCOPED_TRACE(compression ? "compressed" : "uncompressed");
    const std::string cmyk = dir_ + "/cmyk.tif";
    image_info info;
    init_image_info(&info);
    info.width = 333;
    info.height = 270;
    info.samples = 4;
    info.bits_per_sample = 8;
    info.photometric = KLV_PHOTO_MINWHITE;
    info.xres = info.yres = 600;
    info.bytes_per_line = image_info_line_bytes(&info);
    info.compression = compression;
    IMG_file* out = img_mux_open(cmyk.c_str(), nullptr, "w", &info, KLV_TYPE_TIFF);
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> line(info.bytes_per_line);
    for (int y = 0; y < info.height; ++y) {
      for (int x = 0; x < info.width; ++x)
        for (int s = 0; s < 4; ++s)
          line[size_t(x) * 4 + size_t(s)] =
              uint8_t((s % 2 ? y * 255 / 269 : x * 255 / 332) ^ (s * 37));
      ASSERT_EQ(img_write_line(out, line.data(), 1), 1);
    }
    img_close(out);
    auto bytes = [](const std::string& path) {
      std::ifstream f(path, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(f), {});
    };
    for (const char* how : {"--method diffusion", "--method varcoef", "--lpi 60"}) {
      SCOPED_TRACE(how);
      ASSERT_EQ(Run(cmyk + " " + dir_ + "/t1.tif --threads 1 " + how), 0);
      ASSERT_EQ(Run(cmyk + " " + dir_ + "/t2.tif --threads 2 " + how), 0);
      ASSERT_EQ(Run(cmyk + " " + dir_ + "/t4.tif --threads 4 " + how), 0);
      const std::string one = bytes(dir_ + "/t1.tif");
      ASSERT_FALSE(one.empty());
      EXPECT_TRUE(one == bytes(dir_ + "/t2.tif"));
      EXPECT_TRUE(one == bytes(dir_ + "/t4.tif"));
    }
  }
}

}  // namespace
