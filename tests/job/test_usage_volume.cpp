// SPDX-License-Identifier: MIT
// Ink volume from dot counts and drop volumes (one-bit and multi-level),
// media area, a job added to an account, and the demo printer's drop table.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "klv/prntinfo.h"
#include "klv/usage.h"
#include "klv/usage_cxx.h"
#include "support/env.h"
#include "support/log_capture.h"

namespace {

struct DotInfoFree {
  void operator()(dotinfo* d) const { prntinfo_free_dotinfo(d); }
};
using DotInfoPtr = std::unique_ptr<dotinfo, DotInfoFree>;

// A drop table: "Bilevel" with one 7 pl drop, "Normal" with 3.5/7/12 pl,
// both at 720x720, in `units`.
DotInfoPtr make_table(const char* units) {
  DotInfoPtr info(static_cast<dotinfo*>(std::calloc(1, sizeof(dotinfo))));
  SSTRAL* one = _stral_new();
  stral_addv(one, "D", "1", "1", "7", static_cast<const char*>(nullptr));
  dotinfo_set_data(info.get(), "720x720", "Bilevel", units, one);
  stral_free(one);
  SSTRAL* three = _stral_new();
  stral_addv(three, "S", "1", "1", "3.5", static_cast<const char*>(nullptr));
  stral_addv(three, "M", "2", "2", "7", static_cast<const char*>(nullptr));
  stral_addv(three, "L", "3", "4", "12", static_cast<const char*>(nullptr));
  dotinfo_set_data(info.get(), "720x720", "Normal", units, three);
  stral_free(three);
  return info;
}

TEST(UsageVolume, InkIsDotsTimesDropVolumePerDropSize) {
  DotInfoPtr info = make_table("pl");
  // One-bit: one drop size.
  double one[4] = {};
  ASSERT_EQ(usage_drop_volumes(info.get(), "720x720", "Bilevel", one, 4), 1);
  EXPECT_DOUBLE_EQ(one[0], 7e-9);
  const uint64_t bilevel[] = {1000, 0, 5, 123456789};
  double ml[4] = {};
  ASSERT_EQ(usage_ink_millilitres(one, 1, bilevel, 4, ml), 1);
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(ml[i], double(bilevel[i]) * 7e-9) << i;

  // Multi-level: dots[ink * 3 + size], sizes small, medium, large.
  double three[3] = {};
  ASSERT_EQ(usage_drop_volumes(info.get(), "720x720", "Normal", three, 3), 3);
  EXPECT_DOUBLE_EQ(three[0], 3.5e-9);
  EXPECT_DOUBLE_EQ(three[1], 7e-9);
  EXPECT_DOUBLE_EQ(three[2], 12e-9);
  const uint64_t multi[] = {100, 200, 300, 0, 0, 1000000, 7, 0, 0};
  ASSERT_EQ(usage_ink_millilitres(three, 3, multi, 3, ml), 1);
  EXPECT_DOUBLE_EQ(ml[0], 100 * 3.5e-9 + 200 * 7e-9 + 300 * 12e-9);
  EXPECT_DOUBLE_EQ(ml[1], 1000000 * 12e-9);
  EXPECT_DOUBLE_EQ(ml[2], 7 * 3.5e-9);

  // Other units of the table.
  struct Unit {
    const char* name;
    double ml_per_unit;
  } const units[] = {{"", 1e-9}, {"PL", 1e-9}, {"nl", 1e-6}, {"ul", 1e-3}, {"ml", 1.0}};
  for (const Unit& u : units) {
    SCOPED_TRACE(u.name);
    DotInfoPtr t = make_table(u.name);
    ASSERT_EQ(usage_drop_volumes(t.get(), "720x720", "Bilevel", one, 1), 1);
    EXPECT_DOUBLE_EQ(one[0], 7 * u.ml_per_unit);
  }
}

TEST(UsageVolume, RefusesTablesWithoutUsableVolumes) {
  double out[4] = {};
  klv::test::LogCapture log;
  DotInfoPtr ng = make_table("ng");
  EXPECT_EQ(usage_drop_volumes(ng.get(), "720x720", "Bilevel", out, 4), 0);
  EXPECT_NE(log.Take().find("unit \"ng\" is not known"), std::string::npos);

  DotInfoPtr info = make_table("pl");
  EXPECT_EQ(usage_drop_volumes(info.get(), "1440x720", "Bilevel", out, 4), 0);
  EXPECT_NE(log.Take().find("no drop sizes"), std::string::npos);
  for (const char* volume : {"", "-1", "7x", "nan"}) {
    SCOPED_TRACE(volume);
    SSTRAL* bad = _stral_new();
    stral_addv(bad, "D", "1", "1", volume, static_cast<const char*>(nullptr));
    dotinfo_set_data(info.get(), "720x720", "Bad", "pl", bad);
    stral_free(bad);
    EXPECT_EQ(usage_drop_volumes(info.get(), "720x720", "Bad", out, 4), 0);
  }
  SSTRAL* short_entry = _stral_new();
  stral_addv(short_entry, "D", "1", "1", static_cast<const char*>(nullptr));
  dotinfo_set_data(info.get(), "720x720", "Bad", "pl", short_entry);
  stral_free(short_entry);
  EXPECT_EQ(usage_drop_volumes(info.get(), "720x720", "Bad", out, 4), 0);
  EXPECT_EQ(usage_drop_volumes(nullptr, "720x720", "Normal", out, 4), 0);

  const uint64_t dots[] = {1};
  EXPECT_EQ(usage_ink_millilitres(out, 1, dots, 0, out), 0);
  EXPECT_EQ(usage_ink_millilitres(out, 0, dots, 1, out), 0);
  EXPECT_EQ(usage_ink_millilitres(out, 1, dots, KLV_USAGE_MAX_INKS + 1, out), 0);
}

TEST(UsageVolume, MediaAreaIsThePrintedSizeInSquareMetres) {
  EXPECT_DOUBLE_EQ(usage_square_metres(10, 10), 100 * 0.0254 * 0.0254);
  EXPECT_NEAR(usage_square_metres(210 / 25.4, 297 / 25.4), 0.06237, 1e-12);  // A4
  EXPECT_EQ(usage_square_metres(0, 10), 0.0);
  EXPECT_EQ(usage_square_metres(-1, 10), 0.0);
}

TEST(UsageVolume, AJobAddsDotsMillilitresAndSquareMetres) {
  DotInfoPtr info = make_table("pl");
  const char* const names[] = {"Cyan", "Magenta"};
  const uint64_t dots[] = {100, 200, 300, 0, 0, 10};
  const usage_job job{"*Tiled*Glossy", 24, 36, "CMYK", 4, 2, names, 3, dots};
  CPrintUsage u;
  ASSERT_EQ(printusage_use_job(&u, &job, info.get(), "720x720", "Normal"), 1);
  ASSERT_EQ(printusage_use_job(&u, &job, info.get(), "720x720", "Normal"), 1);
  CPrintInkSetUsage* set = u.FindInkSet("CMYK", 4, false);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->FindInk("Cyan", false)->GetCount(), 1200u);
  EXPECT_DOUBLE_EQ(set->FindInk("Cyan", false)->GetMillilitres(),
                   2 * (100 * 3.5e-9 + 200 * 7e-9 + 300 * 12e-9));
  EXPECT_EQ(set->FindInk("Magenta", false)->GetCount(), 20u);
  EXPECT_DOUBLE_EQ(u.FindMedia("Glossy", false)->GetAmount(), 2 * 24 * 36 * 0.0254 * 0.0254);
  EXPECT_NE(u.Text().find(" InkVolume { \"CMYK\" 4 {\n"), std::string::npos);

  // Without a drop table the dots still count, with no volume.
  CPrintUsage plain;
  ASSERT_EQ(printusage_use_job(&plain, &job, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(plain.Text().find("InkVolume"), std::string::npos);

  // A table with fewer drop sizes than the job adds nothing.
  klv::test::LogCapture log;
  CPrintUsage none;
  EXPECT_EQ(printusage_use_job(&none, &job, info.get(), "720x720", "Bilevel"), 0);
  EXPECT_TRUE(none.GetInkList().empty());
  EXPECT_TRUE(none.GetMediaList().empty());
  const char* const unnamed[] = {"Cyan", ""};
  const usage_job bad{"Glossy", 1, 1, "CMYK", 4, 2, unnamed, 3, dots};
  EXPECT_EQ(printusage_use_job(&none, &bad, info.get(), "720x720", "Normal"), 0);
  EXPECT_EQ(printusage_use_job(nullptr, &job, info.get(), "720x720", "Normal"), 0);
}

TEST(UsageVolume, TheDemoPrinterHasRealisticDropVolumes) {
  klv::test::ScopedEnv path("KLV_PATH", std::string(KLV_TEST_DATA) + "/../../data");
  PRNTINFO* info = prntinfo_find("KlvDemo");
  ASSERT_NE(info, nullptr);
  for (const char* res : {"720x720", "1440x720"}) {
    SCOPED_TRACE(res);
    double drops[4] = {};
    ASSERT_EQ(usage_drop_volumes(info->dot_info, res, "Bilevel", drops, 4), 1);
    EXPECT_DOUBLE_EQ(drops[0], 7e-9);
    ASSERT_EQ(usage_drop_volumes(info->dot_info, res, "Normal", drops, 4), 3);
    EXPECT_DOUBLE_EQ(drops[0], 3.5e-9);
    EXPECT_DOUBLE_EQ(drops[1], 7e-9);
    EXPECT_DOUBLE_EQ(drops[2], 12e-9);
  }
  prntinfo_free(info);
}

}  // namespace
