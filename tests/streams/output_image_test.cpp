// SPDX-License-Identifier: MIT
// The output image: round trips of every layout raw and compressed, members
// per page and separation, blank separations, colour maps, the position
// arithmetic, member seeks and descriptions from hostile volumes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/outimg.h"
#include "klv/streams.h"
#include "support/files.h"
#include "support/image.h"

using namespace klv::test;

namespace {

struct ImgCloser {
  void operator()(IMG_file* img) const { img_close(img); }
};
using ImgPtr = std::unique_ptr<IMG_file, ImgCloser>;

int planes_of(const image_info& i) {
  return i.planar == KLV_PLANAR_PLANES ? i.samples + i.mask_samples : 1;
}

// Writes raw member bytes into a new volume at `path`.
void write_volume(const std::string& path,
                  const std::vector<std::pair<std::string, std::vector<uint8_t>>>& members) {
  SFilemux* f = Ovfopen(nullptr, path.c_str(), "w+");
  ASSERT_NE(f, nullptr);
  Oclose(f);
  SOVolume* vol = VOpen(nullptr, path.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(vol, nullptr);
  for (auto& [name, bytes] : members) {
    SFilemux* m = Ovfopen(vol, name.c_str(), "wb");
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(Owrite(m, bytes.data(), bytes.size()), bytes.size());
    Oclose(m);
  }
  ASSERT_EQ(VClose(vol), 0);
}

std::vector<uint8_t> info_bytes(const image_info& info) {
  std::vector<uint8_t> d(64);
  std::memcpy(d.data(), "IMIN", 4);
  uint32_t words[] = {uint32_t(info.width), uint32_t(info.height), info.pages,
                      info.planar,          info.bits_per_sample,  info.samples,
                      info.mask_samples,    info.photometric,      info.bytes_per_line};
  std::memcpy(d.data() + 4, words, sizeof words);
  std::memcpy(d.data() + 40, &info.xres, 8);
  std::memcpy(d.data() + 48, &info.yres, 8);
  std::memcpy(d.data() + 56, &info.compression, 4);
  std::memcpy(d.data() + 60, &info.format_word1, 4);
  return d;
}

struct Layout {
  const char* name;
  int planar, samples, bits, photo;
  uint32_t compression;
  uint32_t pages;
  int width, height;
};

class OutputImageRoundTrip : public ::testing::TestWithParam<Layout> {};

// Lines are written in chunks that cross separation and page ends, read back
// in one call after reopening, and every member is where its name says.
TEST_P(OutputImageRoundTrip, WrittenLinesReadBackAfterReopen) {
  const Layout& l = GetParam();
  ScratchFolder dir;
  const std::string path = dir.path("page.img");
  image_info info = describe(l.width, l.height, l.samples, l.bits, l.photo, l.planar);
  info.compression = l.compression;
  info.pages = l.pages;
  info.format_word1 = 7;
  ImgPtr out(outimg_open_img(path.c_str(), nullptr, "w", &info));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->type, KLV_TYPE_OUTIMG);
  const size_t bpl = out->info.bytes_per_line;
  const int total = l.height * planes_of(info) * int(l.pages);
  auto data = pattern_bytes(bpl * total, 3);
  for (int done = 0; done < total;) {
    int n = std::min(7, total - done);
    ASSERT_EQ(img_write_line(out.get(), data.data() + done * bpl, n), n);
    done += n;
  }
  EXPECT_EQ(img_write_line(out.get(), data.data(), 1), 0) << "past the last page";
  out.reset();

  SOVolume* vol = VOpen(nullptr, path.c_str(), KLV_VOL_READ);
  ASSERT_NE(vol, nullptr);
  for (uint32_t p = 0; p < l.pages; ++p)
    for (int s = 0; s < planes_of(info); ++s) {
      std::string name = "pg" + std::to_string(p) + "_sep" + std::to_string(s);
      EXPECT_TRUE(Ofileexists(vol, name.c_str(), 0)) << name;
    }
  VClose(vol);

  image_info back;
  init_image_info(&back);
  ImgPtr in(outimg_open_img(path.c_str(), nullptr, "r", &back));
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(back.width, l.width);
  EXPECT_EQ(back.height, l.height);
  EXPECT_EQ(back.pages, l.pages);
  EXPECT_EQ(back.planar, uint32_t(l.planar));
  EXPECT_EQ(back.bytes_per_line, bpl);
  EXPECT_EQ(back.compression, l.compression);
  EXPECT_EQ(back.format_word1, 7u);
  EXPECT_DOUBLE_EQ(back.width_inches, l.width / 100.0);
  std::vector<uint8_t> got(data.size() + bpl);
  EXPECT_EQ(img_read_line(in.get(), got.data(), total + 1), total);
  got.resize(data.size());
  EXPECT_EQ(got, data);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, OutputImageRoundTrip,
    ::testing::Values(Layout{"planar_1bit_cmyk_raw", 1, 4, 1, 0, 0, 1, 301, 40},
                      Layout{"planar_1bit_cmyk_compressed", 1, 4, 1, 0, 6, 1, 301, 40},
                      Layout{"planar_two_pages_compressed", 1, 4, 1, 0, 1, 2, 64, 9},
                      Layout{"pixel_rgb_compressed", 0, 3, 8, 1, 9, 1, 33, 17},
                      Layout{"lines_2bit_raw", 2, 3, 2, 0, 0, 1, 13, 5},
                      Layout{"gray16_raw_two_pages", 0, 1, 16, 1, 0, 2, 10, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// The halftone filter writes a planar page one line of each separation at a
// time, positioning the output on the separation before each line.
TEST(OutputImage, InterleavedSeparationWritesReadBackPerPlane) {
  for (uint32_t compression : {0u, 5u}) {
    ScratchFolder dir;
    const std::string path = dir.path("ht.img");
    image_info info = describe(200, 30, 4, 1, 0, KLV_PLANAR_PLANES);
    info.compression = compression;
    ImgPtr out(outimg_open_img(path.c_str(), nullptr, "w", &info));
    ASSERT_NE(out, nullptr);
    const size_t bpl = info.bytes_per_line;
    auto data = pattern_bytes(bpl * 30 * 4, 11);
    for (int line = 0; line < 30; ++line)
      for (int s = 0; s < 4; ++s) {
        ASSERT_EQ(img_seek_line(out.get(), line, s, 0, 0), line);
        ASSERT_EQ(img_write_line(out.get(), data.data() + (s * 30 + line) * bpl, 1), 1);
      }
    out.reset();
    ImgPtr in(outimg_open_img(path.c_str(), nullptr, "r", nullptr));
    ASSERT_NE(in, nullptr);
    std::vector<uint8_t> got(data.size());
    ASSERT_EQ(img_read_line(in.get(), got.data(), 120), 120);
    EXPECT_EQ(got, data) << "compression " << compression;
  }
}

TEST(OutputImage, UnwrittenSeparationsReadAsBlank) {
  for (uint32_t photo : {0u, 1u}) {
    ScratchFolder dir;
    const std::string path = dir.path("blank.img");
    image_info info = describe(16, 4, 4, 8, photo, KLV_PLANAR_PLANES);
    info.pages = 2;
    ImgPtr out(outimg_open_img(path.c_str(), nullptr, "w", &info));
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> line(16, 0x42);
    for (int s : {0, 2}) {
      ASSERT_EQ(img_seek_line(out.get(), 0, s, 0, 0), 0);
      for (int i = 0; i < 4; ++i) ASSERT_EQ(img_write_line(out.get(), line.data(), 1), 1);
    }
    out.reset();
    ImgPtr in(outimg_open_img(path.c_str(), nullptr, "r", nullptr));
    ASSERT_NE(in, nullptr);
    std::vector<uint8_t> got(16 * 4 * 4 * 2);
    ASSERT_EQ(img_read_line(in.get(), got.data(), 32), 32);
    const uint8_t blank = photo == 1 ? 0xFF : 0x00;
    for (int sep = 0; sep < 8; ++sep) {
      uint8_t want = (sep == 0 || sep == 2) ? 0x42 : blank;
      for (int i = 0; i < 64; ++i) ASSERT_EQ(got[sep * 64 + i], want) << "separation " << sep;
    }
  }
}

TEST(OutputImage, PaletteMapSurvivesReopen) {
  ScratchFolder dir;
  const std::string path = dir.path("pal.img");
  image_cmap map{};
  std::vector<uint8_t> r(16), g(16), b(16);
  for (int i = 0; i < 16; ++i) r[i] = i * 3, g[i] = 255 - i, b[i] = i * i;
  map.channel[0] = r.data();
  map.channel[1] = g.data();
  map.channel[2] = b.data();
  map.channels = 3;
  map.entries = 16;
  map.photometric = 1;
  image_info info = describe(8, 2, 1, 4, KLV_PHOTO_PALETTE);
  info.cmap = &map;
  ImgPtr out(outimg_open_img(path.c_str(), nullptr, "w", &info));
  ASSERT_NE(out, nullptr);
  image_cmap* written = img_get_cmap(out.get());
  EXPECT_EQ(cmap_equal(written, &map), 1);
  free_cmap(written);
  out.reset();

  ImgPtr in(outimg_open_img(path.c_str(), nullptr, "r", nullptr));
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->info.cmap, nullptr) << "the description in a handle owns no map";
  image_cmap* back = img_get_cmap(in.get());
  EXPECT_EQ(cmap_equal(back, &map), 1);
  free_cmap(back);
}

// A description member written without its last word (60 bytes) opens; the
// missing word reads as 0.
TEST(OutputImage, ShortDescriptionMemberOpens) {
  ScratchFolder dir;
  const std::string path = dir.path("short.img");
  image_info info = describe(24, 3, 1, 8, 1);
  info.format_word1 = 9;
  auto bytes = info_bytes(info);
  bytes.resize(60);
  auto line = pattern_bytes(24 * 3, 5);
  write_volume(path, {{".\\image_info", bytes}, {"pg0_sep0", line}});
  image_info back;
  init_image_info(&back);
  ImgPtr in(outimg_open_img(path.c_str(), nullptr, "r", &back));
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(back.format_word1, 0u);
  std::vector<uint8_t> got(line.size());
  ASSERT_EQ(img_read_line(in.get(), got.data(), 3), 3);
  EXPECT_EQ(got, line);
}

// Random access in a member: backwards seeks of a compressed member decode
// from the start again, raw members seek by bytes.
TEST(OutputImage, MembersSeekBackwardsAndReadTheSameLines) {
  for (uint32_t compression : {0u, 1u}) {
    ScratchFolder dir;
    const std::string path = dir.path("seek.img");
    image_info info = describe(40, 50, 1, 8, 0);
    info.compression = compression;
    auto data = pattern_bytes(40 * 50, 9);
    {
      ImgPtr out(outimg_open_img(path.c_str(), nullptr, "w", &info));
      ASSERT_NE(out, nullptr);
      ASSERT_EQ(img_write_line(out.get(), data.data(), 50), 50);
    }
    ImgPtr in(outimg_open_img(path.c_str(), nullptr, "r", nullptr));
    ASSERT_NE(in, nullptr);
    std::vector<uint8_t> got(40 * 50);
    ASSERT_EQ(img_read_line(in.get(), got.data(), 30), 30);
    const int visits[] = {10, 2, 45, 0, 29, 49, 31};
    for (int target : visits) {
      ASSERT_EQ(img_seek_line(in.get(), target, 0, 0, 0), target);
      int n = std::min(5, 50 - target);
      ASSERT_EQ(img_read_line(in.get(), got.data(), n), n) << target;
      EXPECT_EQ(0, std::memcmp(got.data(), data.data() + target * 40, n * 40))
          << "line " << target << " compression " << compression;
    }
  }
}

// A compressed member being written goes back only to its first line.
TEST(OutputImage, CompressedMemberBeingWrittenRestartsOnlyFromLineZero) {
  ScratchFolder dir;
  const std::string path = dir.path("rewrite.img");
  image_info info = describe(32, 6, 1, 8, 0);
  info.compression = 3;
  auto first = pattern_bytes(32 * 6, 1), second = pattern_bytes(32 * 6, 2);
  {
    ImgPtr out(outimg_open_img(path.c_str(), nullptr, "w", &info));
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(img_write_line(out.get(), first.data(), 4), 4);
    ASSERT_EQ(img_seek_line(out.get(), 2, 0, 0, 0), 2);
    EXPECT_EQ(img_write_line(out.get(), first.data(), 1), 0) << "line 2 cannot be rewritten";
    ASSERT_EQ(img_seek_line(out.get(), 0, 0, 0, 0), 0);
    ASSERT_EQ(img_write_line(out.get(), second.data(), 6), 6);
  }
  ImgPtr in(outimg_open_img(path.c_str(), nullptr, "r", nullptr));
  ASSERT_NE(in, nullptr);
  std::vector<uint8_t> got(32 * 6);
  ASSERT_EQ(img_read_line(in.get(), got.data(), 6), 6);
  EXPECT_EQ(got, second);
}

// Positions on a 2-page image of 3 planar separations of 10 lines; each line
// holds its own number (page * 30 + separation * 10 + line).
TEST(OutputImage, PositionArithmetic) {
  ScratchFolder dir;
  const std::string path = dir.path("pos.img");
  image_info info = describe(4, 10, 3, 8, 0, KLV_PLANAR_PLANES);
  info.pages = 2;
  {
    ImgPtr out(outimg_open_img(path.c_str(), nullptr, "w", &info));
    ASSERT_NE(out, nullptr);
    for (uint8_t id = 0; id < 60; ++id) {
      uint8_t line[4] = {id, id, id, id};
      ASSERT_EQ(img_write_line(out.get(), line, 1), 1);
    }
  }
  ImgPtr in(outimg_open_img(path.c_str(), nullptr, "r", nullptr));
  ASSERT_NE(in, nullptr);
  struct Case {
    int line, sep, page, whence, result, id;  // id: the line then read, -1 not checked
  };
  const Case cases[] = {
      {5, 2, 1, 0, 5, 55},   {-1, -1, -1, 0, 6, 56},  // negative parts keep the position
      {10, 0, 0, 0, -1, 57}, {0, 3, 0, 0, -1, 58},   {0, 0, 2, 0, -1, 59},
      {3, 0, 0, 0, 3, 3},    {25, 0, 0, 1, 9, 29},  // runs on into separation 2
      {-100, 0, 0, 1, 0, 0},                        // negative counts as 0
      {0, 0, 0, 2, 9, 59},   {-10, 0, 0, 2, 9, 49},  {2, 1, 0, 2, -1, -1},
      {40, 0, 0, 1, -1, 50},  // past the last page: unchanged, then runs on to separation 2
      {0, 0, 0, 7, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.line << "," << c.sep << "," << c.page << "," << c.whence);
    EXPECT_EQ(img_seek_line(in.get(), c.line, c.sep, c.page, c.whence), c.result);
    if (c.id >= 0) {
      uint8_t got[4];
      ASSERT_EQ(img_read_line(in.get(), got, 1), 1);
      EXPECT_EQ(got[0], c.id);
    }
  }
}

TEST(OutputImage, RefusesBadModesAndDescriptions) {
  ScratchFolder dir;
  const std::string path = dir.path("bad.img");
  image_info good = describe(8, 8, 1, 8, 0);
  EXPECT_EQ(outimg_open(path.c_str(), nullptr, "a", &good), nullptr);
  EXPECT_EQ(outimg_open(path.c_str(), nullptr, "r+", &good), nullptr);
  EXPECT_EQ(outimg_open(path.c_str(), nullptr, "x", &good), nullptr);
  EXPECT_EQ(outimg_open(path.c_str(), nullptr, "w", nullptr), nullptr);
  EXPECT_EQ(outimg_open(path.c_str(), nullptr, "r", nullptr), nullptr) << "no file";
  struct Bad {
    const char* what;
    void (*spoil)(image_info&);
  };
  const Bad bad[] = {
      {"no width", [](image_info& i) { i.width = 0; }},
      {"no bits", [](image_info& i) { i.bits_per_sample = 0; }},
      {"12 bits", [](image_info& i) { i.bits_per_sample = 12; }},
      {"no samples", [](image_info& i) { i.samples = 0; }},
      {"tiled", [](image_info& i) { i.planar = KLV_PLANAR_TILED; }},
      {"palette without map", [](image_info& i) { i.photometric = KLV_PHOTO_PALETTE; }},
  };
  for (const Bad& b : bad) {
    image_info info = good;
    b.spoil(info);
    EXPECT_EQ(outimg_open(path.c_str(), nullptr, "w", &info), nullptr) << b.what;
  }
  image_info zero_pages = good;
  zero_pages.pages = 0;
  void* st = outimg_open(path.c_str(), nullptr, "wb", &zero_pages);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(zero_pages.pages, 1u);
  EXPECT_EQ(outimg_close(st), 0);
}

// Descriptions and maps from volumes that were not written by this library.
TEST(OutputImage, RefusesHostileMembers) {
  const image_info base = describe(16, 4, 1, 8, 1);
  struct Case {
    const char* what;
    void (*spoil)(std::vector<uint8_t>& info, std::vector<uint8_t>& map);
  };
  const Case cases[] = {
      {"wrong magic", [](auto& i, auto&) { i[0] = 'X'; }},
      {"59 bytes", [](auto& i, auto&) { i.resize(59); }},
      {"no width", [](auto& i, auto&) { std::memset(&i[4], 0, 4); }},
      {"negative height", [](auto& i, auto&) { std::memset(&i[8], 0xFF, 4); }},
      {"no pages", [](auto& i, auto&) { std::memset(&i[12], 0, 4); }},
      {"layout 5", [](auto& i, auto&) { i[16] = 5; }},
      {"12 bits", [](auto& i, auto&) { i[20] = 12; }},
      {"huge sample count", [](auto& i, auto&) { i[27] = 0x40; }},
      {"bytes per line disagree", [](auto& i, auto&) { i[36] = 99; }},
      {"huge width", [](auto& i, auto&) { i[7] = 0x7F; }},
      {"palette, no map", [](auto& i, auto& m) { i[32] = 2, m.clear(); }},
      {"palette, short map", [](auto& i, auto& m) { i[32] = 2, m.resize(20); }},
      {"palette, five channels", [](auto& i, auto& m) { i[32] = 2, m[4] = 5; }},
      {"palette, map magic", [](auto& i, auto& m) { i[32] = 2, m[0] = 'X'; }},
  };
  for (const Case& c : cases) {
    ScratchFolder dir;
    const std::string path = dir.path("hostile.img");
    auto info = info_bytes(base);
    std::vector<uint8_t> map(13 + 3 * 16);
    std::memcpy(map.data(), "CMAP", 4);
    map[4] = 3;
    map[8] = 16;
    c.spoil(info, map);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> members{{".\\image_info", info}};
    if (!map.empty()) members.push_back({"color_map", map});
    write_volume(path, members);
    EXPECT_EQ(outimg_open(path.c_str(), nullptr, "r", nullptr), nullptr) << c.what;
  }
}

TEST(OutputImage, LivesInsideAnotherVolume) {
  ScratchFolder dir;
  const std::string path = dir.path("outer.vol");
  SFilemux* f = Ovfopen(nullptr, path.c_str(), "w+");
  ASSERT_NE(f, nullptr);
  Oclose(f);
  SOVolume* outer = VOpen(nullptr, path.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(outer, nullptr);
  image_info info = describe(10, 3, 1, 8, 0);
  auto data = pattern_bytes(30, 4);
  {
    ImgPtr out(outimg_open_img(".\\inner.img", outer, "w", &info));
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(img_write_line(out.get(), data.data(), 3), 3);
  }
  {
    ImgPtr in(outimg_open_img(".\\inner.img", outer, "r", nullptr));
    ASSERT_NE(in, nullptr);
    std::vector<uint8_t> got(30);
    ASSERT_EQ(img_read_line(in.get(), got.data(), 3), 3);
    EXPECT_EQ(got, data);
  }
  EXPECT_EQ(VClose(outer), 0);
}

}  // namespace
