// SPDX-License-Identifier: MIT
// The saved chain forms: byte layouts of the chunk bodies, every node type
// saved and loaded back equal, chunks whose length is not a multiple of four,
// the calibration chunk's optional tail, node flags, and damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cms_test_util.h"
#include "support/files.h"
#include "klv/ucc.h"
#include "support/log_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes save(const t_ucc_node* chain, int form) {
  void* data = nullptr;
  size_t size = 0;
  EXPECT_EQ(ucc_save_mem(chain, form, &data, &size), 1);
  Bytes b(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  ucc_free_mem(data);
  return b;
}

t_ucc_node* load(const Bytes& b) {
  return ucc_load_mem(b.data(), b.size(), nullptr);
}

struct Build {
  Bytes b;
  Build& tag(const char* t) {
    b.insert(b.end(), t, t + 4);
    return *this;
  }
  Build& u8(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Build& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Build& u32(uint32_t v) { return u16(v).u16(v >> 16); }
  Build& str(const char* s) {
    const size_t n = std::strlen(s);
    if (!n) return u32(0);
    u32(static_cast<uint32_t>(n + 1));
    b.insert(b.end(), s, s + n + 1);
    return *this;
  }
  Build& zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
  Build& chunk(const char* t, const Bytes& body) {
    tag(t).u32(static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return *this;
  }
};

TEST(UccFile, AdjustmentChunksHaveTheirLayouts) {
  t_ucc_node* rgb = new_ucc(UCC_RGB0);
  auto* r = static_cast<ucc_rgb_levels*>(rgb->data);
  r->enable[0] = 1, r->enable[1] = 1, r->enable[2] = 0;
  r->black[0] = 10, r->black[1] = 11, r->black[2] = 12;
  r->white_inv[0] = 5, r->white_inv[1] = 6, r->white_inv[2] = 7;
  r->k_black = 3, r->k_white_inv = 4;
  t_ucc_node* chain =
      add_ucc(add_ucc(add_ucc(nullptr, rgb), new_ucc(UCC_YMCD)), new_ucc(UCC_CRV0_SET));
  const Bytes body{1, 1, 0, 10, 11, 12, 5, 6, 7, 3, 4};
  const Bytes want = Build().tag("UCCI").chunk("RGB0", body).chunk("YMCD", {}).b;
  EXPECT_EQ(save(chain, 0), want) << "type 96 has no chunk; YMCD is empty";

  t_ucc_node* back = load(want);
  ASSERT_NE(back, nullptr) << "an 11-byte chunk is read";
  ASSERT_EQ(back->type, UCC_RGB0);
  auto* r2 = static_cast<ucc_rgb_levels*>(back->data);
  EXPECT_EQ(std::memcmp(r2->black, r->black, 3), 0);
  EXPECT_EQ(r2->tables[0][10], 0) << "tables are rebuilt";
  EXPECT_EQ(r2->tables[0][250], 255);
  EXPECT_EQ(back->next->type, UCC_YMCD);
  free_ucc(back);
  free_ucc(chain);
}

TEST(UccFile, HsvChunkIs2178Bytes) {
  t_ucc_node* n = new_ucc(UCC_HSV0);
  auto* h = static_cast<ucc_hsv*>(n->data);
  h->hue = -20, h->saturation = 15, h->value = -5;
  h->sector_hue[2] = 7;
  h->sector_saturation[4] = -9;
  ASSERT_EQ(ucc_calc_hsv(h), 1);
  h->hue_tables[2][359] = 1234;
  const Bytes bytes = save(n, 0);
  ASSERT_EQ(bytes.size(), 4u + 8 + 2178);
  const Bytes head =
      Build().tag("UCCI").tag("HSV0").u32(2178).u16(uint16_t(-20)).u16(uint16_t(-5)).u16(15).b;
  EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin())) << "first, third, second";
  t_ucc_node* back = load(bytes);
  ASSERT_NE(back, nullptr);
  auto* h2 = static_cast<ucc_hsv*>(back->data);
  EXPECT_EQ(h2->hue, -20);
  EXPECT_EQ(h2->saturation, 15);
  EXPECT_EQ(h2->value, -5);
  EXPECT_EQ(std::memcmp(h2->hue_tables, h->hue_tables, sizeof h->hue_tables), 0);
  EXPECT_EQ(std::memcmp(h2->curves, h->curves, sizeof h->curves), 0);
  EXPECT_EQ(save(back, 0), bytes);
  free_ucc(back);
  free_ucc(n);
}

// The calibration chunk: seven strings, two masks, then the emulation names
// when there are any, then ignore_channels when not zero. Each form is read
// back as written.
TEST(UccFile, CalibrationChunkTails) {
  struct Case {
    const char* name;
    const char* emulation;
    uint32_t ignore;
    size_t tail;  // bytes after the two masks
  };
  const Case cases[] = {
      {"plain", "", 0, 0},
      {"ignore only", "", 0x8, 4},
      {"emulation", "Emu", 0, 4 + 4 + 4},
      {"emulation and ignore", "Emu", 0x3, 4 + 4 + 4 + 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    t_ucc_node* chain = ucc_set_calb(nullptr, "Lim", "Lin", "", c.emulation, 5, 1);
    auto* cal = static_cast<ucc_calb*>(chain->data);
    std::strcpy(cal->calb_vpath, "/v.Calibrate");
    std::strcpy(cal->linear_fname, "Linear1~Glossy");
    cal->ignore_channels = c.ignore;
    Build want;
    want.str("Lim").str("Lin").str("").str("/v.Calibrate").str("").str("Linear1~Glossy").str("");
    want.u32(5).u32(1);
    if (c.emulation[0]) want.str(c.emulation).str("");
    if (c.ignore) want.u32(c.ignore);
    const Bytes bytes = save(chain, 1);
    EXPECT_EQ(bytes, Build().tag("UCCX").chunk("CTB0", want.b).b);
    t_ucc_node* back = load(bytes);
    ASSERT_NE(back, nullptr);
    auto* got = static_cast<ucc_calb*>(back->data);
    EXPECT_STREQ(got->emulation_name, c.emulation);
    EXPECT_EQ(got->ignore_channels, c.ignore);
    EXPECT_STREQ(got->linear_fname, "Linear1~Glossy");
    EXPECT_EQ(got->enable, 5u);
    EXPECT_EQ(got->limit_switch, 1u);
    free_ucc(back);
    free_ucc(chain);
  }
}

TEST(UccFile, ReplacementAndMaskLayouts) {
  t_ucc_node* pdff = new_ucc(UCC_PDFF);
  static_cast<ucc_pdff*>(pdff->data)->disable_embedded_profiles = 1;
  t_ucc_node* nrep = new_ucc(UCC_NREP);
  auto* nr = static_cast<ucc_nrep*>(nrep->data);
  nr->count = 1;
  nr->entries = static_cast<ucc_nrep_entry*>(calloc(1, sizeof(ucc_nrep_entry)));
  std::strcpy(nr->entries[0].name, "PANTONE X");
  nr->entries[0].bytes[2] = 9;
  t_ucc_node* mask = new_ucc(UCC_MKBF);
  auto* m = static_cast<ucc_mask*>(mask->data);
  m->mode = 2, m->a1 = 1, m->a2 = 2, m->n = 1;
  m->x1 = static_cast<int32_t*>(calloc(1, 4));
  m->y1 = static_cast<int32_t*>(calloc(1, 4));
  m->x1[0] = 100, m->y1[0] = 200;
  t_ucc_node* chain = add_ucc(add_ucc(add_ucc(nullptr, mask), nrep), pdff);

  Build nbody;
  nbody.u32(1);
  Bytes name(81, 0);
  std::memcpy(name.data(), "PANTONE X", 9);
  nbody.b.insert(nbody.b.end(), name.begin(), name.end());
  nbody.u8(0).u8(0).u8(9).u8(0).zeros(24);
  Build mbody;
  mbody.u32(500).u8(2).u32(1).u32(2).u32(1).u32(100).u32(200).u32(0).u32(0).u32(0);
  const Bytes want =
      Build().tag("UCCX").chunk("NREP", nbody.b).chunk("PDFF", {0, 1}).chunk("MKBF", mbody.b).b;
  const Bytes bytes = save(chain, 1);
  EXPECT_EQ(bytes, want);
  t_ucc_node* back = load(bytes);
  EXPECT_EQ(save(back, 1), bytes) << "a 2-byte chunk is read";
  ASSERT_NE(find_ucc_node(back, UCC_PDFF), nullptr);
  EXPECT_EQ(static_cast<ucc_pdff*>(find_ucc_node(back, UCC_PDFF)->data)->disable_embedded_profiles,
            1);
  free_ucc(back);
  free_ucc(chain);
}

// Every node type with a tag, filled, saved and loaded back: saving the loaded
// chain gives the same bytes again.
TEST(UccFile, EveryNodeTypeRoundTrips) {
  using namespace cms_test;
  ServerFolder server(types_file(record("1", "Good", as_dll(KLV_CMS_FIXTURE))));
  ASSERT_EQ(cms_initialize(nullptr, nullptr), 1);
  t_ucc_node* chain = nullptr;
  const char* args[] = {"intent=1", "pure=5"};
  const uint8_t extra[] = {9, 8, 7};
  for (int t : {16, 17, 18, 19, 20, 21, 22, 144, 145, 146, 147, 148, 149, 150, 208}) {
    t_ucc_node* n = new_ucc(t);
    auto* list = static_cast<ucc_proflist*>(n->data);
    list->first = cms_profnode_new(1, "Good", t, "in.icc", "vol", "out.icc", "desc", 2, args,
                                   sizeof extra, extra, 3, 0x104, nullptr, nullptr);
    ASSERT_NE(list->first, nullptr);
    list->first->next = cms_profnode_new(1, "", 0, "second.icc", "", "", "", 0, nullptr, 0, nullptr,
                                         0x104, 0x104, nullptr, nullptr);
    chain = add_ucc(chain, n);
  }
  t_ucc_node* srep = new_ucc(UCC_SREP);
  auto* sr = static_cast<ucc_srep*>(srep->data);
  std::strcpy(sr->name, "spots.tbl");
  sr->spots[3].enabled = 1;
  sr->spots[3].rgb[1] = 200;
  std::strcpy(sr->spots[3].name, "Orange");
  sr->spots[10].values[47] = 5;
  chain = add_ucc(chain, srep);
  t_ucc_node* crep = new_ucc(UCC_CREP);
  auto* cr = static_cast<ucc_crep*>(crep->data);
  cr->count = 2;
  cr->entries = static_cast<ucc_crep_entry*>(calloc(2, sizeof(ucc_crep_entry)));
  cr->entries[1].enabled = 1;
  cr->entries[1].from.v[2] = 3;
  cr->entries[1].from.values = static_cast<int32_t*>(calloc(3, 4));
  cr->entries[1].from.values[2] = 65535;
  std::strcpy(cr->entries[1].to.name, "target");
  chain = add_ucc(chain, crep);
  t_ucc_node* curves = new_ucc(UCC_CRV1);
  auto* cv = static_cast<ucc_curves*>(curves->data);
  cv->used = 2;
  cv->curves[1].points[1].y = 128;
  ASSERT_EQ(ucc_calc_curve(&cv->curves[1]), 1);
  chain = add_ucc(chain, curves);
  t_ucc_node* skpm = new_ucc(UCC_SKPM);
  auto* sk = static_cast<ucc_skpm*>(skpm->data);
  sk->count2 = 2;
  sk->list2 = static_cast<int32_t*>(calloc(2, 4));
  sk->list2[1] = -4;
  sk->levels[3] = 99;
  sk->value_count = 3;
  sk->values[2] = 0.25;
  chain = add_ucc(chain, skpm);
  for (int t : {UCC_RGB0, UCC_HSV0, UCC_YMCD, UCC_MKAF, UCC_MKNU, UCC_NREP, UCC_PDFF})
    chain = add_ucc(chain, new_ucc(t));
  chain = ucc_set_calb(chain, "*2.5 3", "L", "G", "E", 7, 0);
  find_ucc_node(chain, UCC_CRV1)->flags = 1;
  find_ucc_node(chain, UCC_PCG4)->flags = 0x10;

  for (int form : {0, 1}) {
    SCOPED_TRACE(form);
    const Bytes bytes = save(chain, form);
    t_ucc_node* back = load(bytes);
    EXPECT_EQ(save(back, form), bytes);
    for (const t_ucc_node* n = back; n; n = n->next) {
      char tag[5];
      ASSERT_EQ(ucc_type_tag(n->type, tag), 1);
    }
    free_ucc(back);
  }
  t_ucc_node* back = load(save(chain, 1));
  EXPECT_EQ(find_ucc_node(back, UCC_PCG4)->flags, 0x10u);
  const cms_profnode* p = static_cast<ucc_proflist*>(find_ucc_node(back, UCC_MCXF)->data)->first;
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->value, UCC_MCXF);
  EXPECT_STREQ(p->path4, "desc");
  EXPECT_EQ(p->argc, 2);
  EXPECT_STREQ(p->argv[1], "pure=5");
  EXPECT_EQ(p->extra_size, 3);
  EXPECT_EQ(p->in_format, 3u);
  ASSERT_NE(p->next, nullptr);
  EXPECT_STREQ(p->next->path1, "second.icc");
  free_ucc(back);
  back = load(save(chain, 0));
  EXPECT_EQ(find_ucc_node(back, UCC_CRV1)->flags, 1u);
  auto* cv2 = static_cast<ucc_curves*>(find_ucc_node(back, UCC_CRV1)->data);
  EXPECT_EQ(std::memcmp(cv2->curves[1].table, cv->curves[1].table, 512), 0);
  free_ucc(back);
  free_ucc(chain);
}

TEST(UccFile, DamagedFilesKeepWhatIsGood) {
  klv::test::LogCapture log;
  const Bytes rgb{1, 1, 0, 10, 11, 12, 5, 6, 7, 3, 4};
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<int> types;
  };
  const Case cases[] = {
      {"wrong magic", Build().tag("UCCZ").chunk("RGB0", rgb).b, {}},
      {"short", Bytes{'U', 'C'}, {}},
      {"unknown chunk skipped",
       Build().tag("UCCI").chunk("ABCD", {1, 2, 3}).chunk("RGB0", rgb).b,
       {48}},
      {"length past the end",
       Build().tag("UCCI").chunk("RGB0", rgb).tag("HSV0").u32(5000).zeros(10).b,
       {48}},
      {"short body dropped",
       Build().tag("UCCI").chunk("HSV0", Bytes(100, 0)).chunk("RGB0", rgb).b,
       {48}},
      {"profile tag in the adjustment form", Build().tag("UCCI").chunk("CTB0", {}).b, {}},
      {"read-only tags",
       Build().tag("UCCI").chunk("HSVC", rgb).chunk("CRV0", {}).b,
       {16400, 16448}},
      {"count beyond the chunk",
       Build().tag("UCCX").chunk("NREP", Build().u32(0x7FFFFFFF).b).b,
       {}},
      {"flags of a missing node",
       Build().tag("UCCI").chunk("RGB0", rgb).chunk("FLGS", Build().tag("CRV1").u32(1).b).b,
       {48}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    t_ucc_node* chain = load(c.bytes);
    std::vector<int> types;
    for (t_ucc_node* n = chain; n; n = n->next) types.push_back(n->type);
    EXPECT_EQ(types, c.types);
    free_ucc(chain);
  }
}

TEST(UccFile, FilesOnDiskAndLoadingAddsToAChain) {
  klv::test::ScratchFolder dir;
  t_ucc_node* chain = add_ucc(nullptr, new_ucc(UCC_CRV1));
  chain = ucc_set_calb(chain, "", "L", "", "", 1, 0);
  const std::string adj = dir.path("chain.ucci"), prof = dir.path("chain.uccx");
  ASSERT_EQ(save_ucc(nullptr, adj.c_str(), chain), 1);
  ASSERT_EQ(save_ucc_ext(nullptr, prof.c_str(), chain), 1);
  t_ucc_node* back = load_ucc(nullptr, adj.c_str(), add_ucc(nullptr, new_ucc(UCC_DNTB)));
  back = load_ucc_ext(nullptr, prof.c_str(), back);
  std::vector<int> types;
  for (t_ucc_node* n = back; n; n = n->next) types.push_back(n->type);
  EXPECT_EQ(types, (std::vector<int>{97, 176, 192}));
  t_ucc_node* same = load_ucc_ext(nullptr, adj.c_str(), nullptr);
  EXPECT_EQ(same, nullptr) << "the adjustment file is not the profile form";
  EXPECT_EQ(load_ucc(nullptr, dir.path("missing").c_str(), nullptr), nullptr);
  EXPECT_EQ(save_ucc(nullptr, dir.path("no/such/dir/x").c_str(), chain), 0);
  free_ucc(back);
  free_ucc(chain);
}

}  // namespace
