// SPDX-License-Identifier: MIT
// The halftone filter against the engines driven directly: every input and
// output layout, with and without worker threads, small and default buffers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/image.h"
#include "klv/halftone_diffusion.h"
#include "klv/htplace.h"
#include "klv/htplace_cxx.h"

namespace {

using klv::test::Sink;
using klv::test::SinkLog;

constexpr int kW = 203, kH = 61;

image_info describe(int samples, int mask, int bits, int planar, int photometric) {
  image_info i;
  init_image_info(&i);
  i.width = kW;
  i.height = kH;
  i.samples = uint32_t(samples);
  i.mask_samples = uint32_t(mask);
  i.bits_per_sample = uint32_t(bits);
  i.planar = uint32_t(planar);
  i.photometric = uint32_t(photometric);
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

// Pixel-interleaved 8-bit samples: smooth ramps with some noise, so that every
// tone and every engine path is reached.
std::vector<uint8_t> make_page(int seps) {
  std::vector<uint8_t> p(size_t(kW) * kH * seps);
  uint32_t r = 7;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int s = 0; s < seps; ++s) {
        r = r * 1103515245u + 12345u;
        int v = (x * 255 / (kW - 1) + y * (s + 1) * 3 + int((r >> 16) % 9)) % 256;
        p[(size_t(y) * kW + x) * seps + s] = uint8_t(s % 2 ? 255 - v : v);
      }
  return p;
}

// The page in another sample layout: one line of every plane (lines) or one
// plane after another (planes).
std::vector<uint8_t> relayout(const std::vector<uint8_t>& px, int seps, int planar) {
  if (planar == KLV_PLANAR_PIXEL) return px;
  std::vector<uint8_t> out(px.size());
  for (int y = 0; y < kH; ++y)
    for (int s = 0; s < seps; ++s)
      for (int x = 0; x < kW; ++x) {
        size_t at = planar == KLV_PLANAR_LINES ? (size_t(y) * seps + s) * kW + x
                                               : (size_t(s) * kH + y) * kW + x;
        out[at] = px[(size_t(y) * kW + x) * seps + s];
      }
  return out;
}

int sep_bytes(int bits) {
  return (kW * bits + 7) / 8;
}

// Every separation's dot lines out of a captured image, whatever its layout.
std::vector<std::vector<uint8_t>> split(const SinkLog& d, int seps, int bits) {
  const int sb = sep_bytes(bits);
  std::vector<std::vector<uint8_t>> out(size_t(seps), std::vector<uint8_t>(size_t(sb) * kH, 0));
  const size_t bpl = d.info.bytes_per_line;
  for (int s = 0; s < seps; ++s)
    for (int y = 0; y < kH; ++y) {
      uint8_t* dst = out[size_t(s)].data() + size_t(y) * sb;
      if (d.info.planar == KLV_PLANAR_PLANES) {
        std::memcpy(dst, d.planes[size_t(s)].data() + y * bpl, size_t(sb));
      } else if (d.info.planar == KLV_PLANAR_LINES || seps == 1) {
        std::memcpy(dst, d.planes[0].data() + y * bpl + size_t(s) * sb, size_t(sb));
      } else {
        const uint8_t* line = d.planes[0].data() + y * bpl;
        for (int x = 0; x < kW; ++x) {
          size_t bit = (size_t(x) * seps + s) * bits;
          int v = (line[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
          size_t obit = size_t(x) * bits;
          dst[obit / 8] |= uint8_t(v << (8 - bits - obit % 8));
        }
      }
    }
  return out;
}

HTPLACE* alloc(int method) {
  return HTPlaceAlloc(4, 720, 720, 0, 0, 0, uint32_t(method), nullptr, nullptr, nullptr, nullptr,
                      0);
}

// Each separation screened by an engine made and driven directly.
std::vector<std::vector<uint8_t>> direct(int method, const std::vector<uint8_t>& px, int seps,
                                         int mask, int bits) {
  HTPLACE* h = alloc(method);
  auto* place = reinterpret_cast<CHTPlacement*>(h);
  image_info in = describe(seps, 0, 8, KLV_PLANAR_PIXEL, 1);
  in.samples = uint32_t(seps - mask);
  in.mask_samples = uint32_t(mask);
  in.bytes_per_line = image_info_line_bytes(&in);
  image_info out = describe(seps - mask, mask, bits, KLV_PLANAR_PLANES, 0);
  std::srand(11);
  EXPECT_TRUE(place->PreInitProcess(&in, &out));
  std::vector<std::vector<uint8_t>> planes;
  for (int s = 0; s < seps; ++s) {
    std::unique_ptr<CHTRip> rip(
        place->CreateRip(s, s, s >= seps - mask, 0, nullptr, nullptr, 0, kH));
    EXPECT_TRUE(rip);
    if (!rip) return {};
    EXPECT_EQ(rip->StartProcessLine(const_cast<uint8_t*>(px.data()) + s, kH), unsigned(kH));
    planes.emplace_back(rip->GetOutBuf(), rip->GetOutBuf() + size_t(sep_bytes(bits)) * kH);
  }
  HTPlaceFree(h);
  return planes;
}

struct Case {
  int method, seps, mask, bits, in_planar, out_planar;
  bool threads;
  int buffer_lines, staging, chunk;
};

std::string name(const Case& c) {
  return "method " + std::to_string(c.method) + " seps " + std::to_string(c.seps) + " in " +
         std::to_string(c.in_planar) + " out " + std::to_string(c.out_planar) +
         (c.threads ? " threaded" : "") + " buffer " + std::to_string(c.buffer_lines) +
         " staging " + std::to_string(c.staging) + " chunk " + std::to_string(c.chunk);
}

TEST(HTFilter, SameDotsAsTheEnginesInEveryLayout) {
  std::vector<Case> cases;
  for (int method : {4, 3, 0})
    for (int in_p : {KLV_PLANAR_PIXEL, KLV_PLANAR_LINES, KLV_PLANAR_PLANES})
      for (int out_p : {KLV_PLANAR_PIXEL, KLV_PLANAR_LINES, KLV_PLANAR_PLANES})
        for (bool threads : {false, true}) {
          if (in_p == KLV_PLANAR_PLANES && out_p != KLV_PLANAR_PLANES) continue;
          cases.push_back({method, 4, 0, 1, in_p, out_p, threads, 7, 0, 5});
        }
  // Buffer sizes, staging, whole-page writes, gray and a mask channel.
  cases.push_back({4, 4, 0, 1, KLV_PLANAR_PIXEL, KLV_PLANAR_PIXEL, false, 0, 0, kH});
  cases.push_back({4, 4, 0, 1, KLV_PLANAR_PIXEL, KLV_PLANAR_PIXEL, true, 1, 3, 10});
  cases.push_back({4, 4, 0, 1, KLV_PLANAR_PLANES, KLV_PLANAR_PLANES, true, -900, 4, 9});
  cases.push_back({4, 1, 0, 1, KLV_PLANAR_PIXEL, KLV_PLANAR_PIXEL, false, 5, 0, 3});
  cases.push_back({4, 1, 0, 1, KLV_PLANAR_PLANES, KLV_PLANAR_PIXEL, true, 5, 0, 3});
  cases.push_back({3, 3, 0, 1, KLV_PLANAR_LINES, KLV_PLANAR_PIXEL, true, 6, 0, 4});
  cases.push_back({4, 2, 1, 1, KLV_PLANAR_PIXEL, KLV_PLANAR_PIXEL, false, 6, 0, 4});
  cases.push_back({4, 5, 1, 1, KLV_PLANAR_PIXEL, KLV_PLANAR_PIXEL, true, 8, 0, 13});

  for (const Case& c : cases) {
    SCOPED_TRACE(name(c));
    const std::vector<uint8_t> px = make_page(c.seps);
    const auto want = direct(c.method, px, c.seps, c.mask, c.bits);
    ASSERT_EQ(want.size(), size_t(c.seps));

    HTPLACE* h = alloc(c.method);
    ASSERT_TRUE(h);
    HTPlaceSetDetachDelete(h, 1);
    if (c.threads)
      for (int s = 0; s < 13; ++s) HTPlaceGetThreadFlagArray(h)[s] = 1;
    SinkLog data;
    image_info out = describe(c.seps - c.mask, c.mask, c.bits, c.out_planar, 0);
    IMG_file* out_img = (new Sink(out, &data))->ToImg('w', 0);
    image_info in = describe(c.seps - c.mask, c.mask, 8, c.in_planar, 1);
    std::srand(11);
    IMG_file* f = HTPlace_AttachImg(h, out_img, &in, c.buffer_lines, c.staging);
    ASSERT_TRUE(f);
    const std::vector<uint8_t> page = relayout(px, c.seps, c.in_planar);
    const int planes = c.in_planar == KLV_PLANAR_PLANES ? c.seps : 1;
    const size_t bpl = in.bytes_per_line;
    for (int line = 0; line < kH * planes;) {
      int n = std::min(c.chunk, kH * planes - line);
      int got = img_write_line(f, const_cast<uint8_t*>(page.data()) + line * bpl, n);
      ASSERT_GT(got, 0);
      line += got;
    }
    EXPECT_EQ(img_status(f, 0), 1);
    img_close(f);
    EXPECT_EQ(data.closes, 1);
    const auto got = split(data, c.seps, c.bits);
    for (int s = 0; s < c.seps; ++s) EXPECT_EQ(got[size_t(s)], want[size_t(s)]) << "sep " << s;
  }
}

TEST(HTFilter, RefusesWhatItCannotScreen) {
  struct Bad {
    const char* what;
    image_info out, in;
    char mode;
  };
  image_info good_in = describe(4, 0, 8, KLV_PLANAR_PIXEL, 1);
  image_info good_out = describe(4, 0, 1, KLV_PLANAR_PIXEL, 0);
  std::vector<Bad> bad = {
      {"output larger", describe(4, 0, 1, 0, 0), good_in, 'w'},
      {"output read", good_out, good_in, 'r'},
      {"output palette", describe(4, 0, 1, 0, KLV_PHOTO_PALETTE), good_in, 'w'},
      {"mask differs", describe(4, 1, 1, 0, 0), good_in, 'w'},
      {"more output samples", describe(4, 0, 1, 0, 0), describe(1, 0, 8, 0, 1), 'w'},
      {"planar in, pixel out", good_out, describe(4, 0, 8, KLV_PLANAR_PLANES, 1), 'w'},
      {"tiled input", good_out, describe(4, 0, 8, KLV_PLANAR_TILED, 1), 'w'},
      {"12-bit input", good_out, describe(4, 0, 12, 0, 1), 'w'},
  };
  bad[0].out.width += 1;
  for (Bad& b : bad) {
    SCOPED_TRACE(b.what);
    HTPLACE* h = alloc(4);
    SinkLog data;
    IMG_file* out_img = (new Sink(b.out, &data))->ToImg(b.mode, 0);
    EXPECT_EQ(HTPlace_AttachImg(h, out_img, &b.in, 0, 0), nullptr);
    EXPECT_EQ(data.closes, 1);  // the output image is closed on failure
    HTPlaceFree(h);             // without detach-delete the caller still owns it
  }
  // A null placement closes the output; a null output leaves the placement.
  SinkLog data;
  EXPECT_EQ(HTPlace_AttachImg(nullptr, (new Sink(good_out, &data))->ToImg('w', 0), &good_in, 0, 0),
            nullptr);
  EXPECT_EQ(data.closes, 1);
  HTPLACE* h = alloc(4);
  EXPECT_EQ(HTPlace_AttachImg(h, nullptr, &good_in, 0, 0), nullptr);
  HTPlaceFree(h);
}

TEST(HTFilter, BufferSeekAndStatus) {
  HTPLACE* h = alloc(4);
  CHTFilter filter;
  SinkLog data;
  image_info out = describe(4, 0, 1, KLV_PLANAR_PLANES, 0);
  image_info in = describe(4, 0, 8, KLV_PLANAR_PLANES, 1);
  ASSERT_TRUE(filter.AttachImg((new Sink(out, &data))->ToImg('w', 0), &in,
                               reinterpret_cast<CHTPlacement*>(h), 0, 0));
  // 256 KiB of 26-byte dot lines.
  EXPECT_EQ(filter.BufferLines(), 262144UL / 26);
  EXPECT_EQ(filter.GetStatus(0), 1);
  std::vector<uint8_t> line(size_t(kW) * 3, 128);  // up to three planar lines a call
  EXPECT_EQ(filter.SeekLine(0, 0, 1, 0), -1);      // page 1
  EXPECT_EQ(filter.SeekLine(-1, 4, 0, 0), -1);     // no plane 4
  EXPECT_EQ(filter.SeekLine(3, 0, 0, 0), -1);      // not the next line
  EXPECT_EQ(filter.SeekLine(-1, 2, 0, 0), 0);      // select plane 2
  EXPECT_EQ(filter.WriteLine(line.data(), 3), 3);
  EXPECT_EQ(filter.SeekLine(-1, 2, 0, 0), 3);
  EXPECT_EQ(filter.SeekLine(0, 0, 0, 1), 3);  // the next line of plane 2, relative
  EXPECT_EQ(filter.SeekLine(0, 1, 0, 0), 0);  // the start of plane 1
  EXPECT_EQ(filter.SeekLine(-kH, 0, 0, 2), -1);
  filter.DetachImg();
  EXPECT_EQ(filter.GetStatus(0), -1);
  EXPECT_EQ(filter.WriteLine(line.data(), 1), 0);
  EXPECT_EQ(data.closes, 1);
  HTPlaceFree(h);  // the filter detached it without destroying it
}

TEST(HTFilter, OutputFailureIsReported) {
  // One separation to planar output; four to pixel-interleaved output, also
  // with threaded engines (whose full buffers are written while they screen).
  struct Case {
    int seps, out_planar;
    bool threads;
  };
  for (Case c : {Case{1, KLV_PLANAR_PLANES, false}, Case{4, KLV_PLANAR_PIXEL, false},
                 Case{4, KLV_PLANAR_PIXEL, true}}) {
    SCOPED_TRACE(testing::Message() << c.seps << " separations, threads " << c.threads);
    HTPLACE* h = alloc(4);
    HTPlaceSetDetachDelete(h, 1);
    if (c.threads)
      for (int s = 0; s < 13; ++s) HTPlaceGetThreadFlagArray(h)[s] = 1;
    SinkLog data;
    data.refuse_after = 10;
    image_info out = describe(c.seps, 0, 1, c.out_planar, 0);
    image_info in = describe(c.seps, 0, 8, KLV_PLANAR_PIXEL, 1);
    IMG_file* f = HTPlace_AttachImg(h, (new Sink(out, &data))->ToImg('w', 0), &in, 4, 0);
    ASSERT_TRUE(f);
    std::vector<uint8_t> page(size_t(kW) * size_t(c.seps) * kH, 100);
    for (int i = 0; i < kH; ++i) img_write_line(f, page.data(), 1);
    EXPECT_EQ(img_status(f, 0), -1);
    img_close(f);
    EXPECT_LE(data.written, 10);
    EXPECT_EQ(data.closes, 1);
  }
}

TEST(HTPlace, MethodsAndSettings) {
  struct M {
    uint32_t method;
    bool ok;
  };
  for (M m : {M{0, true}, M{1, true}, M{3, true}, M{4, true}, M{6, true}, M{8, true}, M{9, true},
              M{10, true}, M{11, false}, M{12, true}, M{40, true}}) {
    SCOPED_TRACE(m.method);
    HTPLACE* h = alloc(int(m.method));
    EXPECT_EQ(h != nullptr, m.ok);
    HTPlaceFree(h);
  }
  HTPLACE* h = alloc(99);
  EXPECT_TRUE(dynamic_cast<CHTPlaceErrDifVarCoef*>(reinterpret_cast<CHTPlacement*>(h)));
  EXPECT_EQ(HTPlaceIsThreaded(h), 0);
  HTPlaceGetThreadFlagArray(h)[0] = 1;
  EXPECT_EQ(HTPlaceIsThreaded(h), 1);
  auto* klv = reinterpret_cast<CHTKlvPlacement*>(h);
  EXPECT_TRUE(klv->IsSepThreaded(13));  // separation 13 reads flag 0
  EXPECT_FALSE(klv->IsSepThreaded(14));
  EXPECT_EQ(HTPlaceSetDetachDelete(h, 5), 1);
  int32_t dx = 0, dy = 0;
  EXPECT_EQ(HTPlace_GetDupFactor(h, &dx, &dy), 1);
  EXPECT_EQ(dx, 1);
  HTPlaceFree(h);
  // Null handles give the neutral result.
  EXPECT_EQ(HTPlaceFree(nullptr), 0);
  EXPECT_EQ(HTPlaceGetThreadFlagArray(nullptr), nullptr);
  EXPECT_EQ(HTPlaceIsThreaded(nullptr), 0);
  EXPECT_EQ(HTPlaceSetDetachDelete(nullptr, 1), 0);
  EXPECT_EQ(HTPlaceSetLinearization(nullptr, 0, nullptr, nullptr), 0);
  EXPECT_EQ(HTPlace_GetDupFactor(nullptr, &dx, &dy), 0);
  HTPlaceSetSpecialMedia(nullptr, 1);
  // Bad resolutions, and a method-5 screen file that is missing falls back
  // to the built-in screens.
  EXPECT_EQ(HTPlaceAlloc(4, 0, 720, 0, 0, 0, 4, nullptr, nullptr, nullptr, nullptr, 0), nullptr);
  void* thresh = reinterpret_cast<void*>(1);
  h = HTPlaceAlloc(4, 720, 720, 0, 0, 0, 5, nullptr, nullptr, "NoSuchScreen.HTS", &thresh, 0);
  ASSERT_TRUE(h);
  EXPECT_EQ(thresh, nullptr);
  HTPlaceFree(h);
}

TEST(HTPlace, OemWithoutLibraryFailsCleanly) {
  _SCREENSETUP* setup = new_screen_setup("Oem");
  const char* e[4] = {"cfgA", "cfgB", "0", "0"};
  stral_add(setup->entries, e, 4);
  setenv("KLV_OEM_DOTLIB", "libklv-no-such-oem-library.so", 1);
  EXPECT_EQ(HTPlaceAlloc(4, 720, 720, 0, 0, 0, 11, setup, nullptr, nullptr, nullptr, 0), nullptr);
  unsetenv("KLV_OEM_DOTLIB");
  free_screen_settings(setup);
}

}  // namespace
