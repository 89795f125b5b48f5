// SPDX-License-Identifier: MIT
// The rotation filter against a reference computed from the source pixels.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "img/filters/rotate_kernels.h"
#include "klv/imgmux.h"
#include "klv/platform.h"
#include "klv/rotate.h"
#include "klv/tiff.h"
#include "support/image.h"

namespace {

using klv::test::get_sample;
using klv::test::make_info;
using klv::test::MemImage;
using klv::test::planes_of;

// Source pixel (sx, sy) for output pixel (x, y) of a W x H source.
void source_of(int turns, bool mirror, int W, int H, int x, int y, int* sx, int* sy) {
  switch ((mirror ? 4 : 0) + turns) {
    case 0:
      *sx = x, *sy = y;
      break;
    case 1:
      *sx = y, *sy = H - 1 - x;
      break;
    case 2:
      *sx = W - 1 - x, *sy = H - 1 - y;
      break;
    case 3:
      *sx = W - 1 - y, *sy = x;
      break;
    case 4:
      *sx = W - 1 - x, *sy = y;
      break;
    case 5:
      *sx = W - 1 - y, *sy = H - 1 - x;
      break;
    case 6:
      *sx = x, *sy = H - 1 - y;
      break;
    default:
      *sx = y, *sy = x;
      break;
  }
}

struct Layout {
  uint32_t bits, samples, planar, pages;
};

// Every turn and mirror against the reference, reading all lines of every
// plane and page in one run.
void check_all_cases(const Layout& l, int32_t w, int32_t h, uint32_t budget) {
  const image_info in = make_info(w, h, l.bits, l.samples, l.planar, l.pages);
  const MemImage ref(in);
  for (int turns = 0; turns < 4; ++turns) {
    for (bool mirror : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "bits " << l.bits << " samples " << l.samples << " layout " << l.planar
                   << " turns " << turns << " mirror " << mirror << " budget " << budget);
      IMG_file* src = (new MemImage(in))->ToImg('r', 99);
      rotate_request req{};
      req.turns = static_cast<uint8_t>(turns);
      req.mirror = mirror;
      req.budget = budget;
      IMG_file* img = rotate_to_file(rotate_attach(src, &req));
      ASSERT_NE(img, nullptr);
      const image_info& out = img->info;
      const bool odd = turns & 1;
      ASSERT_EQ(out.width, odd ? h : w);
      ASSERT_EQ(out.height, odd ? w : h);
      ASSERT_EQ(out.xres, odd ? in.yres : in.xres);
      ASSERT_EQ(out.bytes_per_line, image_info_line_bytes(&out));
      std::vector<uint8_t> line(out.bytes_per_line);
      const uint32_t all = in.samples + in.mask_samples;
      const bool planar = (in.planar & 7) == KLV_PLANAR_PLANES;
      for (uint32_t page = 0; page < std::max(1u, in.pages); ++page) {
        for (uint32_t plane = 0; plane < planes_of(in); ++plane) {
          for (int32_t y = 0; y < out.height; ++y) {
            ASSERT_EQ(img_read_line(img, line.data(), 1), 1) << "line " << y;
            int bad = 0;
            for (int32_t x = 0; x < out.width && bad < 3; ++x) {
              int sx, sy;
              source_of(turns, mirror, w, h, x, y, &sx, &sy);
              const uint8_t* src_line = ref.Line(page, plane, sy);
              for (uint32_t k = 0; k < (planar ? 1 : all); ++k) {
                const uint32_t want = get_sample(in, src_line, sx, k);
                const uint32_t got = get_sample(out, line.data(), x, k);
                if (want != got) {
                  ADD_FAILURE() << "page " << page << " plane " << plane << " pixel (" << x << ", "
                                << y << ") sample " << k << ": " << got << " != " << want;
                  ++bad;
                }
              }
            }
            if (bad) return void(img_close(img));
          }
        }
      }
      EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
      img_close(img);
    }
  }
}

TEST(Rotate, EveryCaseEveryDepthAndLayout) {
  const Layout layouts[] = {
      {1, 1, KLV_PLANAR_PIXEL, 1},  {2, 1, KLV_PLANAR_PIXEL, 1},   {4, 1, KLV_PLANAR_PIXEL, 1},
      {8, 1, KLV_PLANAR_PIXEL, 1},  {16, 1, KLV_PLANAR_PIXEL, 1},  {1, 3, KLV_PLANAR_PIXEL, 1},
      {2, 3, KLV_PLANAR_PIXEL, 1},  {4, 4, KLV_PLANAR_PIXEL, 1},   {8, 3, KLV_PLANAR_PIXEL, 1},
      {8, 4, KLV_PLANAR_PIXEL, 1},  {16, 3, KLV_PLANAR_PIXEL, 1},  {3, 2, KLV_PLANAR_PIXEL, 1},
      {1, 4, KLV_PLANAR_PLANES, 1}, {2, 3, KLV_PLANAR_PLANES, 1},  {4, 2, KLV_PLANAR_PLANES, 1},
      {8, 4, KLV_PLANAR_PLANES, 1}, {16, 2, KLV_PLANAR_PLANES, 1}, {1, 3, KLV_PLANAR_LINES, 1},
      {2, 4, KLV_PLANAR_LINES, 1},  {4, 3, KLV_PLANAR_LINES, 1},   {8, 3, KLV_PLANAR_LINES, 1},
      {16, 2, KLV_PLANAR_LINES, 1}, {8, 3, KLV_PLANAR_PIXEL, 2},   {4, 2, KLV_PLANAR_PLANES, 3},
  };
  // Odd widths put padding bits at the end of packed lines; the tiny budget
  // gives bands of one line, the middle one bands that do not divide the height.
  for (const Layout& l : layouts) {
    check_all_cases(l, 13, 7, 0);
    check_all_cases(l, 13, 7, 1);
    check_all_cases(l, 11, 9, 3 * ((l.bits * l.samples * 9 + 7) / 8));
  }
}

TEST(Rotate, SmallExamples) {
  // 3 x 2 gray image: rows (1 2 3) (4 5 6).
  struct Case {
    int turns;
    bool mirror;
    std::vector<std::vector<uint8_t>> lines;
  };
  const Case cases[] = {
      {1, false, {{4, 1}, {5, 2}, {6, 3}}},
      {3, false, {{3, 6}, {2, 5}, {1, 4}}},
      {0, true, {{3, 2, 1}, {6, 5, 4}}},
      {2, true, {{4, 5, 6}, {1, 2, 3}}},
  };
  for (const Case& c : cases) {
    image_info in = make_info(3, 2, 8, 1, KLV_PLANAR_PIXEL);
    auto* mem = new MemImage(in);
    IMG_file* src = mem->ToImg('r', 99);
    // Overwrite the pattern through the object's own line storage.
    uint8_t* l0 = const_cast<uint8_t*>(mem->Line(0, 0, 0));
    uint8_t* l1 = const_cast<uint8_t*>(mem->Line(0, 0, 1));
    l0[0] = 1, l0[1] = 2, l0[2] = 3, l1[0] = 4, l1[1] = 5, l1[2] = 6;
    rotate_request req{};
    req.turns = static_cast<uint8_t>(c.turns);
    req.mirror = c.mirror;
    IMG_file* img = rotate_to_file(rotate_attach(src, &req));
    ASSERT_NE(img, nullptr);
    for (const auto& want : c.lines) {
      std::vector<uint8_t> got(want.size());
      ASSERT_EQ(img_read_line(img, got.data(), 1), 1);
      EXPECT_EQ(got, want) << "turns " << c.turns << " mirror " << c.mirror;
    }
    // Back to the start gives the first line again.
    std::vector<uint8_t> again(c.lines[0].size());
    ASSERT_EQ(img_seek_line(img, 0, 0, 0, 0), 0);
    ASSERT_EQ(img_read_line(img, again.data(), 1), 1);
    EXPECT_EQ(again, c.lines[0]);
    img_close(img);
  }
}

TEST(Rotate, SeekingAndRefusals) {
  image_info in = make_info(5, 4, 8, 2, KLV_PLANAR_PLANES);
  rotate_request req{};
  req.turns = 1;
  IMG_file* img = rotate_to_file(rotate_attach((new MemImage(in))->ToImg('r', 7), &req));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->type, 7);
  EXPECT_EQ(img_seek_line(img, 5, 0, 0, 0), -1);  // output height is 5
  EXPECT_EQ(img_seek_line(img, 0, 2, 0, 0), -1);  // two planes
  EXPECT_EQ(img_seek_line(img, 0, 0, 1, 0), -1);  // one page
  EXPECT_EQ(img_seek_line(img, 0, 0, 0, 2), 4);   // last line of the last plane
  EXPECT_EQ(img_seek_line(img, -6, 0, 0, 1), 3);  // back into plane 0
  EXPECT_EQ(img_seek_line(img, 2, -1, 0, 0), 2);  // keeps the plane
  EXPECT_EQ(img_seek_line(img, -100, 0, 0, 1), 0);
  EXPECT_EQ(img_status(img, 0), 1);
  img_close(img);

  EXPECT_EQ(rotate_attach(nullptr, &req), nullptr);
  EXPECT_EQ(rotate_to_file(nullptr), nullptr);
  EXPECT_EQ(rotate_close(nullptr), nullptr);
  // A stream being written cannot be turned (and is closed).
  EXPECT_EQ(rotate_attach((new MemImage(in))->ToImg('w', 7), &req), nullptr);
  image_info bad = make_info(5, 4, 12, 1, KLV_PLANAR_PIXEL);
  EXPECT_EQ(rotate_attach((new MemImage(bad))->ToImg('r', 7), &req), nullptr);
}

TEST(Rotate, QuarterTurnPassesAndProgressAbort) {
  image_info in = make_info(40, 10, 8, 4, KLV_PLANAR_PIXEL);
  int64_t seeks = 0, reads = 0;
  auto* mem = new MemImage(in);
  mem->Count(&seeks, &reads);
  rotate_request req{};
  req.turns = 1;
  req.budget = 10 * 4 * 7;  // seven output lines a band
  rotate_filter* f = rotate_attach(mem->ToImg('r', 1), &req);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(rotate_passes(f), 6);  // 40 output lines in bands of 7
  IMG_file* img = rotate_to_file(f);
  std::vector<uint8_t> buf(size_t(img->info.bytes_per_line) * 40);
  EXPECT_EQ(img_read_line(img, buf.data(), 40), 40);
  EXPECT_EQ(reads, 6 * 10);  // one pass over the source per band
  img_close(img);

  struct Abort {
    static int32_t at_second_pass(int32_t, int32_t pass, int32_t, void*) { return pass < 2; }
  };
  req.progress = Abort::at_second_pass;
  img = rotate_to_file(rotate_attach((new MemImage(in))->ToImg('r', 1), &req));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img_read_line(img, buf.data(), 40), 7);
  img_close(img);
}

TEST(Rotate, PickedMovers) {
  using klv::img::RowShape;
  EXPECT_STREQ(klv::img::scatter_name(RowShape{8, 4}), "bytes_fixed");
  EXPECT_STREQ(klv::img::scatter_name(RowShape{16, 3}), "bytes_fixed");
  EXPECT_STREQ(klv::img::scatter_name(RowShape{8, 5}), "bytes_any");
  EXPECT_STREQ(klv::img::scatter_name(RowShape{4, 2}), "packed");
}

// A compressed source turned twice is read through a temporary copy, which
// goes away at close when the filter owns it.
TEST(Rotate, CompressedSourceGoesThroughTemporaryCopy) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(KLV_BINARY_DIR) / "opening_rotate_tmp";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string tif = (dir / "lzw.tif").string();
  image_info in = make_info(17, 9, 8, 3, KLV_PLANAR_PIXEL);
  in.compression = 1;
  const MemImage ref(in);
  {
    image_info w = in;
    IMG_file* out = img_mux_open(tif.c_str(), nullptr, "w", &w, KLV_TYPE_TIFF);
    ASSERT_NE(out, nullptr);
    IMG_file* mem = (new MemImage(in))->ToImg('r', 99);
    ASSERT_EQ(copy_img_to_img(out, mem, nullptr, nullptr), 1);
    img_close(mem);
    img_close(out);
  }
  struct Case {
    const char* temp_path;
    uint32_t own;
    bool removed;
  };
  const std::string given = (dir / "given.tmp").string();
  const Case cases[] = {{nullptr, 0, true}, {given.c_str(), 1, true}, {given.c_str(), 0, false}};
  for (const Case& c : cases) {
    image_info info;
    init_image_info(&info);
    IMG_file* src = img_mux_open(tif.c_str(), nullptr, "r", &info, 0);
    ASSERT_NE(src, nullptr);
    ASSERT_NE(src->info.compression, 0u);
    std::vector<int32_t> planes_told;
    rotate_request req{};
    req.turns = 2;
    req.temp_path = c.temp_path;
    req.own_temp = c.own;
    req.progress_arg = &planes_told;
    req.progress = [](int32_t pct, int32_t pass, int32_t, void* arg) -> int32_t {
      if (pct == 0) static_cast<std::vector<int32_t>*>(arg)->push_back(pass);
      return 1;
    };
    rotate_filter* f = rotate_attach(src, &req);
    ASSERT_NE(f, nullptr);
    const std::string temp = rotate_temp_path(f);
    ASSERT_FALSE(temp.empty());
    EXPECT_TRUE(fs::exists(temp));
    EXPECT_EQ(planes_told, std::vector<int32_t>{1});
    if (!c.temp_path) {
      EXPECT_EQ(fs::path(temp).filename().string().rfind("OVI", 0), 0u);
    }
    IMG_file* img = rotate_to_file(f);
    std::vector<uint8_t> line(img->info.bytes_per_line);
    for (int32_t y = 0; y < 9; ++y) {
      ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
      for (int32_t x = 0; x < 17; ++x)
        for (uint32_t k = 0; k < 3; ++k)
          ASSERT_EQ(get_sample(in, line.data(), x, k),
                    get_sample(in, ref.Line(0, 0, 8 - y), 16 - x, k));
    }
    img_close(img);
    EXPECT_EQ(fs::exists(temp), !c.removed) << temp;
  }
  fs::remove_all(dir);
}

}  // namespace
