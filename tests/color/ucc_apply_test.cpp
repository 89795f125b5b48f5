// SPDX-License-Identifier: MIT
// Applying colour chains: single colours at 8 and 16 bits against whole
// lines, the colour cache against the uncached path and its eviction, the
// identity question, density and calibration transforms, and calibration
// loaded from a calibration volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "support/files.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/ucc.h"
#include "support/log_capture.h"

namespace {

t_ucc_node* levels_node(int black, int white) {
  t_ucc_node* n = new_ucc(UCC_RGB0);
  auto* r = static_cast<ucc_rgb_levels*>(n->data);
  r->enable[0] = r->enable[1] = 1;
  for (int c = 0; c < 3; ++c) r->black[c] = uint8_t(black), r->white_inv[c] = uint8_t(255 - white);
  ucc_calc_rgb(r);
  return n;
}

t_ucc_node* curves_node() {
  t_ucc_node* n = new_ucc(UCC_CRV1);
  auto* s = static_cast<ucc_curves*>(n->data);
  s->used = 3;
  s->curves[2].points[1].y = 180;
  ucc_calc_curve(&s->curves[2]);
  return n;
}

t_ucc_node* density_inverting() {
  t_ucc_node* n = new_ucc(UCC_DNTB);
  auto* d = static_cast<ucc_density*>(n->data);
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i < 256; ++i) d->tables[c][i] = uint8_t(c == 1 ? 255 - i : i);
  return n;
}

TEST(UccApply, EmptyChainGivesTheColourBack) {
  ucc_info* info = ucc_info_init(nullptr, 0, 0);
  ucc_request r;
  ucc_request_init(&r, info, 1, 3, 3);
  r.in[0] = 1, r.in[1] = 30000, r.in[2] = 65535;
  ASSERT_EQ(apply_ucc16(&r), 1);
  EXPECT_EQ(r.out[0], 1);
  EXPECT_EQ(r.out[1], 30000);
  EXPECT_EQ(r.out[2], 65535);
  EXPECT_EQ(identity_ucc(&r), 1);
  EXPECT_EQ(r.identity, 1);
  // Ink values come back as ink; a grey widens to four channels.
  ucc_request_init(&r, info, 0, 1, 4);
  r.in[0] = 1000;
  ASSERT_EQ(apply_ucc16(&r), 1);
  EXPECT_EQ(r.out[0], 0);
  EXPECT_EQ(r.out[3], 1000);
  ucc_request_init(&r, info, 1, 3, 4);
  EXPECT_EQ(apply_ucc16(&r), 0) << "three channels out where four were expected";
  ucc_info_free(info, 0);
}

TEST(UccApply, LevelsAt8Bits) {
  ucc_info* info = ucc_info_init(levels_node(10, 250), 0, 0);
  const int in[] = {9, 10, 11, 128, 249, 250, 255};
  const int out[] = {0, 0, 1, 125, 253, 255, 255};
  for (int i = 0; i < 7; ++i) {
    ucc_request r;
    ucc_request_init(&r, info, 1, 3, 3);
    r.in[0] = r.in[1] = r.in[2] = uint16_t(in[i]);
    ASSERT_EQ(apply_ucc8(&r), 1);
    EXPECT_NEAR(r.out[0], out[i], 1) << in[i];
  }
  ucc_info_free(info, 1);
}

TEST(UccApply, AlphaMarkerGivesWhite) {
  ucc_info* info = ucc_info_init(levels_node(10, 250), 0, 0);
  ucc_request r;
  ucc_request_init(&r, info, 1, 3, 3);
  r.flags = UCC_REQ_ALPHA;
  r.has_alpha = 1;
  r.alpha = 254;
  ASSERT_EQ(apply_ucc16(&r), 1);
  EXPECT_EQ(r.out[0], 65535);
  EXPECT_EQ(r.alpha, 65535);
  ucc_info_free(info, 1);
}

// Single colours, lines, and lines through the cache all agree exactly.
TEST(UccApply, CacheAndLinesAgreeWithSingleColours) {
  t_ucc_node* chain =
      add_ucc(add_ucc(add_ucc(nullptr, levels_node(20, 230)), curves_node()), density_inverting());
  t_ucc_node* copy = copy_ucc(chain);
  ucc_info* plain = ucc_info_init(chain, 0, 0);
  ucc_info* cached = ucc_info_init(copy, 1, 0);
  std::mt19937 rng(3);
  constexpr int kWidth = 700;
  std::vector<uint16_t> line(kWidth * 4);
  for (auto& v : line) v = uint16_t(rng() % 9 * 8000 + rng() % 3);  // many repeats
  std::vector<uint16_t> a(kWidth * 4), b(kWidth * 4), c(kWidth * 4);
  ucc_request form;
  ucc_request_init(&form, plain, 0, 4, 4);
  ASSERT_EQ(ucc_apply_line16(&form, line.data(), a.data(), kWidth), 1);
  form.info = cached;
  ASSERT_EQ(ucc_apply_line16(&form, line.data(), b.data(), kWidth), 1);
  ASSERT_EQ(ucc_apply_line16(&form, line.data(), c.data(), kWidth), 1);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c) << "the second pass comes from the cache";
  uint64_t hits = 0, misses = 0;
  ucc_info_cache_stats(cached, &hits, &misses);
  EXPECT_GE(hits, uint64_t(kWidth)) << misses;
  for (int i = 0; i < kWidth; i += 37) {
    ucc_request r;
    ucc_request_init(&r, plain, 0, 4, 4);
    std::memcpy(r.in, &line[i * 4], 8);
    ASSERT_EQ(apply_ucc16(&r), 1);
    EXPECT_EQ(0, std::memcmp(r.out, &a[i * 4], 8)) << i;
  }
  // 8-bit lines are the 16-bit path on widened values.
  std::vector<uint8_t> in8(kWidth * 4), out8(kWidth * 4);
  for (size_t i = 0; i < in8.size(); ++i) in8[i] = uint8_t(line[i] >> 8);
  form.info = plain;
  ASSERT_EQ(ucc_apply_line8(&form, in8.data(), out8.data(), kWidth), 1);
  for (int i = 0; i < kWidth; i += 53) {
    ucc_request r;
    ucc_request_init(&r, plain, 0, 4, 4);
    for (int k = 0; k < 4; ++k) r.in[k] = in8[i * 4 + k];
    ASSERT_EQ(apply_ucc8(&r), 1);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(r.out[k], out8[i * 4 + k]);
  }
  ucc_info_free(plain, 1);
  ucc_info_free(cached, 1);
}

TEST(UccApply, CacheEvictsTheOldestColourAfter32766) {
  ucc_info* info = ucc_info_init(add_ucc(nullptr, levels_node(5, 240)), 1, 0);
  ucc_request r;
  ucc_request_init(&r, info, 1, 3, 3);
  auto colour = [&](uint32_t i) {
    r.in[0] = uint16_t(i & 0xFFFF), r.in[1] = uint16_t(i >> 16), r.in[2] = 7;
    return apply_ucc16(&r);
  };
  for (uint32_t i = 0; i < 32766; ++i) ASSERT_EQ(colour(i), 1);
  uint64_t hits = 0, misses = 0;
  colour(0);
  ucc_info_cache_stats(info, &hits, &misses);
  EXPECT_EQ(hits, 1u) << "the first colour is still there";
  colour(40000);  // the 32,767th distinct colour
  colour(1);
  ucc_info_cache_stats(info, &hits, &misses);
  EXPECT_EQ(hits, 2u);
  colour(0);
  ucc_info_cache_stats(info, &hits, &misses);
  EXPECT_EQ(hits, 2u) << "the first colour was evicted";
  EXPECT_EQ(misses, 32766u + 2);
  ucc_info_free(info, 1);
}

TEST(UccApply, IdentityQuestion) {
  struct Case {
    int type;
    uint8_t in_channels, spots, out_channels;
    uint32_t flags;
    int identity;
  };
  const Case cases[] = {
      {UCC_ICG3, 3, 0, 3, 0, 0}, {UCC_ICG3, 3, 0, 3, UCC_REQ_NO_GENERIC, 1},
      {UCC_ICG3, 4, 0, 4, 0, 1}, {UCC_PCG4, 4, 0, 4, 0, 0},
      {UCC_ICIN, 6, 0, 6, 0, 0}, {UCC_ICIN, 6, 0, 6, UCC_REQ_NO_IMAGE, 1},
      {UCC_SREP, 4, 0, 4, 0, 1}, {UCC_SREP, 5, 1, 5, 0, 0},
      {UCC_DEST, 3, 0, 3, 0, 0}, {UCC_OGM1, 1, 0, 4, 0, 0},
      {UCC_OGM1, 3, 0, 4, 0, 1}, {UCC_CTB0, 4, 0, 4, 0, 1},
      {UCC_RGB0, 3, 0, 3, 0, 0}, {UCC_YMCD, 3, 0, 3, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    ucc_info* info = ucc_info_init(add_ucc(nullptr, new_ucc(c.type)), 0, 0);
    ucc_request r;
    ucc_request_init(&r, info, 1, c.in_channels, c.out_channels);
    r.in_spots = c.spots;
    r.flags = c.flags;
    EXPECT_EQ(identity_ucc(&r), c.identity);
    ucc_info_free(info, 1);
  }
}

TEST(UccApply, DensityTablesAndSpecialChannel) {
  ucc_info* info = ucc_info_init(add_ucc(nullptr, density_inverting()), 0, 0);
  ucc_request r;
  ucc_request_init(&r, info, 0, 4, 4);
  r.in[0] = 100, r.in[1] = 100, r.in[2] = 0, r.in[3] = 255;
  ASSERT_EQ(apply_ucc8(&r), 1);
  EXPECT_NEAR(r.out[0], 100, 1);
  EXPECT_NEAR(r.out[1], 155, 1) << "the second table inverts ink";
  EXPECT_NEAR(r.out[3], 255, 1);
  r.special_channel = 2;
  r.in[3] = 30;
  ASSERT_EQ(apply_ucc8(&r), 1);
  EXPECT_NEAR(r.out[3], 225, 1) << "only the fourth value, through the second table";
  EXPECT_NEAR(r.out[1], 100, 1);
  ucc_info_free(info, 1);
}

// A linearization that halves every ink and an inline limit of 200%.
TEST(UccApply, CalibrationLoadedFromItsVolume) {
  klv::test::ScratchFolder dir;
  const std::string vpath = dir.path("demo.Calibrate");
  {
    SOVolume* v = VOpen(nullptr, vpath.c_str(), KLV_VOL_CREATE);
    ASSERT_NE(v, nullptr);
    uint16_t** t = alloc_lntb(4);
    for (int c = 0; c < 4; ++c)
      for (int i = 0; i < 256; ++i) t[c][i] = uint16_t((i / 2) * 257);
    SFilemux* f = Ovfopen(v, "Linear1~Glossy", "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(write_lntb(f, t, 4), 1);
    Oclose(f);
    free_lntb(t, 4);
    ASSERT_EQ(VClose(v), 0);
  }
  t_ucc_node* chain = ucc_set_calb(nullptr, "*2.0 1", "Linear1~Glossy", "", "", 1, 0);
  auto* cal = static_cast<ucc_calb*>(chain->data);
  std::strcpy(cal->calb_vpath, vpath.c_str());
  std::strcpy(cal->linear_fname, "Linear1~Glossy");
  ASSERT_EQ(load_calibration(nullptr, &chain, 1, 0, nullptr), 1);
  ASSERT_NE(chain, nullptr);
  ASSERT_NE(cal->linear, nullptr);
  ASSERT_NE(cal->limit, nullptr);
  EXPECT_DOUBLE_EQ(cal->limit->scale, 2.0);

  ucc_info* info = ucc_info_init(chain, 0, 0);
  ucc_request r;
  ucc_request_init(&r, info, 0, 4, 4);
  r.in[0] = 200, r.in[1] = 0, r.in[2] = 0, r.in[3] = 0;
  ASSERT_EQ(apply_ucc8(&r), 1);
  EXPECT_NEAR(r.out[0], 100, 1) << "linearized";
  r.in[0] = r.in[1] = r.in[2] = r.in[3] = 255;
  ASSERT_EQ(apply_ucc8(&r), 1);
  EXPECT_NEAR(r.out[0], 64, 1) << "limited to 200% (128 each), then halved";
  EXPECT_EQ(identity_ucc(&r), 0);

  cal->ignore_channels = 1;
  restart_ucc(chain, 1);
  r.in[0] = 200, r.in[1] = 200, r.in[2] = r.in[3] = 0;
  ASSERT_EQ(apply_ucc8(&r), 1);
  EXPECT_NEAR(r.out[0], 200, 1) << "channel 0 is not linearized";
  EXPECT_NEAR(r.out[1], 100, 1);
  ucc_info_free(info, 1);

  // Nothing to load: the node goes with flags bit 3, stays without.
  klv::test::LogCapture log;
  for (uint32_t flags : {0u, 8u}) {
    t_ucc_node* empty = ucc_set_calb(nullptr, "", "", "", "", 0, 1);
    ASSERT_EQ(load_calibration(nullptr, &empty, 1, flags, nullptr), 1);
    EXPECT_EQ(empty == nullptr, flags == 8u);
    free_ucc(empty);
  }

  // A density node from the same linearization file.
  SOVolume* v = VOpen(nullptr, vpath.c_str(), KLV_VOL_READ);
  t_ucc_node* d = ucc_density_from_lntb(v, "Linear1~Glossy");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(static_cast<ucc_density*>(d->data)->tables[0][255], 255);
  EXPECT_EQ(static_cast<ucc_density*>(d->data)->tables[0][0], 255 - 127);
  free_ucc(d);
  VClose(v);
}

TEST(UccApply, DumpOfASampleChain) {
  t_ucc_node* chain =
      ucc_set_calb(add_ucc(nullptr, levels_node(10, 250)), "Lim", "Lin", "", "", 3, 0);
  std::strcpy(static_cast<ucc_calb*>(find_ucc_node(chain, UCC_CTB0)->data)->calb_vpath,
              "/p.Calibrate");
  chain = add_ucc(chain, new_ucc(UCC_OGM1));
  const int32_t need = dump_ucc_ex(chain, nullptr, 0);
  std::vector<char> text(size_t(need) + 1);
  ASSERT_EQ(dump_ucc_ex(chain, text.data(), need + 1), need);
  std::string s(text.data());
  const std::string body = s.substr(s.find('\n') + 1);
  EXPECT_EQ(s.rfind("Dump of a ucc node starting at ", 0), 0u);
  EXPECT_EQ(body,
            " RGB0 {\n"
            "  enable = 1 1 0\n"
            "  black = 10 10 10 0\n"
            "  white = 250 250 250 255\n"
            " }\n"
            " 00A0 {\n"
            " }\n"
            " CTB0 {\n"
            "  Calb Data {\n"
            "    limit_name = 'Lim'\n"
            "    linear_name = 'Lin'\n"
            "    grey_name = ''\n"
            "    emulation_name = ''\n"
            "    calb_vpath = '/p.Calibrate'\n"
            "    limit_fname = ''\n"
            "    linear_fname = ''\n"
            "    grey_fname = ''\n"
            "    emulation_fname = ''\n"
            "    enable = 00000003\n"
            "    limit_switch = 00000000\n"
            "    ignore_channels = 00000000\n"
            "    loaded = limit 0, linear 0, grey 0, emulation 0\n"
            "  }\n"
            " }\n"
            "}\n");
  std::printf("%s", s.c_str());
  free_ucc(chain);
}

// HSV, colour replacement and spot replacement on single colours.
TEST(UccApply, AdjustmentNodes) {
  auto run = [](t_ucc_node* node, uint8_t channels, uint8_t spots, std::vector<uint16_t> in) {
    ucc_info* info = ucc_info_init(add_ucc(nullptr, node), 0, 0);
    ucc_request r;
    ucc_request_init(&r, info, 1, channels, channels);
    r.in_spots = r.out_spots = spots;
    std::copy(in.begin(), in.end(), r.in);
    EXPECT_EQ(apply_ucc16(&r), 1);
    std::vector<uint16_t> out(r.out, r.out + channels);
    ucc_info_free(info, 1);
    return out;
  };
  t_ucc_node* hsv = new_ucc(UCC_HSV0);
  ASSERT_EQ(ucc_calc_hsv(static_cast<ucc_hsv*>(hsv->data)), 1);
  std::vector<uint16_t> same = run(hsv, 3, 0, {40000, 20000, 10000});
  EXPECT_NEAR(same[0], 40000, 300);
  EXPECT_NEAR(same[1], 20000, 300);
  EXPECT_NEAR(same[2], 10000, 300);
  hsv = new_ucc(UCC_HSV0);
  static_cast<ucc_hsv*>(hsv->data)->hue = 120;
  ASSERT_EQ(ucc_calc_hsv(static_cast<ucc_hsv*>(hsv->data)), 1);
  std::vector<uint16_t> green = run(hsv, 3, 0, {65535, 0, 0});
  EXPECT_LT(green[0], 300);
  EXPECT_GT(green[1], 65000) << "red turned by 120 degrees is green";

  t_ucc_node* crep = new_ucc(UCC_CREP);
  auto* c = static_cast<ucc_crep*>(crep->data);
  c->count = 1;
  c->entries = static_cast<ucc_crep_entry*>(calloc(1, sizeof(ucc_crep_entry)));
  c->entries[0].enabled = 1;
  c->entries[0].from.v[1] = 100;
  c->entries[0].from.v[2] = c->entries[0].to.v[2] = 3;
  c->entries[0].from.values = static_cast<int32_t*>(calloc(3, 4));
  c->entries[0].to.values = static_cast<int32_t*>(calloc(3, 4));
  c->entries[0].from.values[0] = 65535;
  c->entries[0].to.values[2] = 65535;
  t_ucc_node* crep2 = copy_ucc(crep);
  EXPECT_EQ(run(crep, 3, 0, {65500, 50, 0}), (std::vector<uint16_t>{0, 0, 65535}));
  EXPECT_EQ(run(crep2, 3, 0, {65000, 50, 0}), (std::vector<uint16_t>{65000, 50, 0}))
      << "outside the tolerance";

  t_ucc_node* srep = new_ucc(UCC_SREP);
  auto* sr = static_cast<ucc_srep*>(srep->data);
  sr->spots[0].enabled = 1;
  sr->spots[0].rgb[0] = 255;  // a red spot absorbs green and blue
  std::vector<uint16_t> spot = run(srep, 4, 1, {65535, 65535, 65535, 0});
  EXPECT_EQ(spot, (std::vector<uint16_t>{65535, 0, 0, 65535}));
}

}  // namespace
