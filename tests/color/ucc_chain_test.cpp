// SPDX-License-Identifier: MIT
// Colour chains as lists (order, removal, copies, simplification, the
// calibration node) and the tables behind the adjustment nodes (RGB levels,
// splines, working-table expansion, black generation).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "klv/ucc.h"
#include "klv/ucc_cxx.h"

namespace {

std::vector<int> types_of(const t_ucc_node* chain) {
  std::vector<int> t;
  for (; chain; chain = chain->next) t.push_back(chain->type);
  return t;
}

TEST(UccChain, InsertionKeepsTypeOrderAndInsertionOrderWithinAType) {
  t_ucc_node* a = new_ucc(UCC_CRV1);
  t_ucc_node* b = new_ucc(UCC_RGB0);
  t_ucc_node* c = new_ucc(UCC_CRV1);
  t_ucc_node* chain = add_ucc(add_ucc(add_ucc(nullptr, a), b), c);
  EXPECT_EQ(types_of(chain), (std::vector<int>{48, 97, 97}));
  EXPECT_EQ(chain->next, a);
  EXPECT_EQ(chain->next->next, c);

  t_ucc_node* other = add_ucc(add_ucc(nullptr, new_ucc(UCC_CTB0)), new_ucc(UCC_ICG3));
  chain = merge_ucc(chain, other);
  EXPECT_EQ(types_of(chain), (std::vector<int>{16, 48, 97, 97, 176}));

  t_ucc_node* removed = remove_ucc_node(&chain, UCC_CRV1);
  EXPECT_EQ(removed, a) << "only the first of two";
  EXPECT_EQ(types_of(chain), (std::vector<int>{16, 48, 97, 176}));
  EXPECT_EQ(find_ucc_node(chain, UCC_CRV1), c);
  EXPECT_EQ(find_ucc_node(chain, UCC_HSV0), nullptr);
  free_ucc(removed);
  EXPECT_EQ(free_ucc(chain), nullptr);
}

TEST(UccChain, NewNodesCarryTheirTypesRecord) {
  struct Case {
    int type;
    bool data;
  };
  const Case cases[] = {{16, true},  {23, true},  {24, true},     {25, true},  {26, true},
                        {41, true},  {48, true},  {64, true},     {80, true},  {96, true},
                        {97, true},  {112, true}, {160, false},   {176, true}, {192, true},
                        {208, true}, {224, true}, {16448, false}, {999, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    t_ucc_node* n = new_ucc(c.type);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->data != nullptr, c.data);
    free_ucc(n);
  }
  t_ucc_node* curves = new_ucc(UCC_CRV1);
  auto* set = static_cast<ucc_curves*>(curves->data);
  EXPECT_EQ(set->used, 0);
  EXPECT_EQ(set->mode, 2);
  for (const ucc_curve& c : set->curves) {
    ASSERT_EQ(c.count, 2);
    EXPECT_EQ(c.points[1].x, 255.0);
    EXPECT_EQ(c.table[200], 200);
  }
  free_ucc(curves);
  t_ucc_node* density = new_ucc(UCC_DNTB);
  EXPECT_EQ(static_cast<ucc_density*>(density->data)->tables[3][77], 77);
  free_ucc(density);
}

TEST(UccChain, CopiesByTypeListAndByClass) {
  t_ucc_node* chain = nullptr;
  for (int t : {16, 27, 48, 97, 144, 150, 176, 192, 208, 224}) chain = add_ucc(chain, new_ucc(t));
  auto* lv = static_cast<ucc_rgb_levels*>(find_ucc_node(chain, UCC_RGB0)->data);
  lv->black[1] = 42;
  find_ucc_node(chain, UCC_RGB0)->parameters[39] = 7;

  t_ucc_node* all = copy_ucc(chain);
  EXPECT_EQ(types_of(all), types_of(chain));
  auto* lv2 = static_cast<ucc_rgb_levels*>(find_ucc_node(all, UCC_RGB0)->data);
  EXPECT_NE(lv2, lv) << "the record is copied, not shared";
  EXPECT_EQ(lv2->black[1], 42);
  EXPECT_EQ(find_ucc_node(all, UCC_RGB0)->parameters[39], 7);
  free_ucc(all);

  const int32_t pick[] = {97, 192, 0};
  t_ucc_node* some = copy_ucc_ref_ex(chain, 1, pick);
  EXPECT_EQ(types_of(some), (std::vector<int>{97, 192}));
  EXPECT_EQ(some->shared, 1u);
  free_ucc(some);

  struct Case {
    uint32_t classes;
    std::vector<int> types;
  };
  const Case cases[] = {
      {0, {16, 27, 48, 97, 144, 150, 176, 192, 208, 224}},
      {1, {16, 224}},
      {2, {27, 48, 97, 224}},
      {4, {144, 224}},
      {16, {150, 176, 192, 224}},
      {8, {208, 224}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.classes);
    t_ucc_node* copy = copy_ucc_ref_ex2(chain, 0, c.classes);
    EXPECT_EQ(types_of(copy), c.types);
    free_ucc(copy);
  }
  free_ucc(chain);
}

TEST(UccChain, SimplifyDropsNodesWithNothingToDo) {
  t_ucc_node* chain = add_ucc(nullptr, new_ucc(UCC_PCG3));
  EXPECT_EQ(simplify_ucc(chain), nullptr) << "an empty profile list";
  chain =
      add_ucc(add_ucc(add_ucc(nullptr, new_ucc(UCC_OGM1)), new_ucc(UCC_ICG4)), new_ucc(UCC_RGB0));
  chain = simplify_ucc(chain);
  EXPECT_EQ(types_of(chain), (std::vector<int>{48}));
  free_ucc(chain);
}

TEST(UccChain, SetCalbMakesOrFillsTheCalibrationNode) {
  t_ucc_node* chain = ucc_set_calb(nullptr, "*2.8 1", "Linear~Glossy", nullptr, "", 3, 0);
  t_ucc_node* n = find_ucc_node(chain, UCC_CTB0);
  ASSERT_NE(n, nullptr);
  auto* c = static_cast<ucc_calb*>(n->data);
  EXPECT_STREQ(c->limit_name, "*2.8 1");
  EXPECT_STREQ(c->linear_name, "Linear~Glossy");
  EXPECT_EQ(c->enable, 3u);
  chain = ucc_set_calb(chain, nullptr, "Other", nullptr, nullptr, 1, 1);
  EXPECT_EQ(find_ucc_node(chain, UCC_CTB0), n) << "the same node is filled again";
  EXPECT_STREQ(c->limit_name, "*2.8 1") << "a null name leaves the name";
  EXPECT_STREQ(c->linear_name, "Other");
  EXPECT_EQ(c->limit_switch, 1u);
  free_ucc(chain);
}

TEST(UccChain, PureChainsHaveNoActiveMask) {
  t_ucc_node* chain = add_ucc(add_ucc(nullptr, new_ucc(UCC_RGB0)), new_ucc(UCC_CTB0));
  EXPECT_EQ(ucc_is_pure(chain), 1);
  t_ucc_node* mask = new_ucc(UCC_MKAF);
  chain = add_ucc(chain, mask);
  EXPECT_EQ(ucc_is_pure(chain), 0);
  mask->disable = 1;
  EXPECT_EQ(ucc_is_pure(chain), 1);
  free_ucc(chain);
}

TEST(UccTables, RgbLevels) {
  ucc_rgb_levels r{};
  r.enable[0] = r.enable[1] = 1;
  r.black[0] = 10;
  r.white_inv[0] = 255 - 250;
  ASSERT_EQ(ucc_calc_rgb(&r), 1);
  const int in[] = {9, 10, 11, 249, 250, 255};
  const int out[] = {0, 0, 1, 253, 255, 255};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r.tables[0][in[i]], out[i]) << in[i];
  for (int i = 0; i < 256; ++i) EXPECT_EQ(r.tables[1][i], i) << "channel without levels";
  for (int i = 0; i < 256; ++i) EXPECT_EQ(r.tables[3][i], i) << "fourth channel off";
}

TEST(UccTables, SplineFollowsItsPointsAndRefusesRepeatedX) {
  const ucc_point line[] = {{0, 0}, {255, 255}};
  double m[4];
  ASSERT_EQ(spline(line, 2, m), 1);
  EXPECT_DOUBLE_EQ(m[0], 1.0);
  EXPECT_DOUBLE_EQ(m[1], 1.0);
  const ucc_point curve[] = {{0, 0}, {64, 100}, {192, 200}, {255, 255}};
  ASSERT_EQ(spline(curve, 4, m), 1);
  for (const ucc_point& p : curve) {
    double y = -1;
    ASSERT_EQ(splint(curve, 4, m, p.x, &y), 1);
    EXPECT_NEAR(y, p.y, 1e-9);
  }
  double y = 0;
  splint(curve, 4, m, 128, &y);
  EXPECT_GT(y, 100);
  EXPECT_LT(y, 200);
  const ucc_point repeated[] = {{0, 0}, {10, 5}, {10, 20}, {255, 255}};
  EXPECT_EQ(spline(repeated, 4, m), 0);
  const ucc_point falling[] = {{0, 0}, {20, 5}, {10, 20}};
  EXPECT_EQ(spline(falling, 3, m), 0);
  EXPECT_EQ(spline(line, 1, m), 0);
}

TEST(UccTables, InterpolatedWorkingTables) {
  uint16_t ident[256];
  uint8_t bytes[256];
  for (int i = 0; i < 256; ++i)
    ident[i] = static_cast<uint16_t>(i), bytes[i] = static_cast<uint8_t>(i);
  std::vector<uint16_t> a(4096), b(4096);
  InterpLut16(a.data(), 4096, ident, 256, 0, 255);
  InterpLut8(b.data(), 4096, bytes, 256, 0, 255);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(a[4095], 65535);
  for (int i = 1; i < 4096; ++i) ASSERT_GE(a[i], a[i - 1]);
  EXPECT_NEAR(a[2048], 2048 * 65535.0 / 4095, 20);
}

TEST(UccTables, BlackGeneration) {
  ucc_info* info = ucc_info_init(nullptr, 0, 0);
  uint8_t r = 200, g = 100, b = 50, k = 0;
  ucc3to4(info, &r, &g, &b, &k);
  // k = 255 - (55 x 230 / 255) = 206; each value x 256 / 207.
  EXPECT_EQ(k, 206);
  EXPECT_EQ(r, 200 * 256 / 207);
  EXPECT_EQ(g, 100 * 256 / 207);
  EXPECT_EQ(b, 50 * 256 / 207);
  uint8_t w[3] = {255, 255, 255};
  ucc3to4(info, &w[0], &w[1], &w[2], &k);
  EXPECT_EQ(k, 255) << "white takes no black";
  ucc_info_set_black(info, 230, 1);
  uint8_t gr[3] = {128, 128, 128};
  ucc3to4(info, &gr[0], &gr[1], &gr[2], &k);
  EXPECT_LT(k, 255);
  uint16_t r16 = 200 * 257, g16 = 100 * 257, b16 = 50 * 257, k16 = 0;
  ucc_info_set_black(info, 230, 0);
  ucc3to4_16(info, &r16, &g16, &b16, &k16);
  EXPECT_NEAR(k16 / 257.0, 206, 1);
  EXPECT_NEAR(r16 / 257.0, 247, 1.5);
  ucc_info_free(info, 0);
}

}  // namespace
