// SPDX-License-Identifier: MIT
// The demo printer shipped under data/ is found and answers through the
// search path.
#include <gtest/gtest.h>

#include <string>

#include "klv/prntinfo.h"
#include "klv/printmode_cxx.h"
#include "support/env.h"

namespace {

TEST(DemoPrinter, FoundThroughTheSearchPath) {
  klv::test::ScopedEnv path("KLV_PATH", std::string(KLV_TEST_DATA) + "/../../data");

  PRNTINFO* info = prntinfo_find("KlvDemo");
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->device_name, "KlvDemo Device");
  EXPECT_EQ(stral_count(info->medias), 2);
  EXPECT_EQ(stral_count(prntinfo_mode_names(info, "Glossy Photo")), 4);
  const CPrintMode* mode = prntinfo_default_mode(info, "Glossy Photo");
  ASSERT_NE(mode, nullptr);
  EXPECT_EQ(printmode_pattern(mode), DP_FDRP_DIFFUSION);
  const CPrintMode* screen =
      prntinfo_nearest_mode_ex(info, "Glossy Photo", "", "720x720", "Screen(85 lpi)");
  ASSERT_NE(screen, nullptr);
  EXPECT_NE(prntinfo_mode_screensetup(info, "Glossy Photo", screen), nullptr);
  int32_t sheet = -1;
  EXPECT_EQ(prntinfo_paper_path(info, "Glossy Photo", "Roll 24in", &sheet), 1);
  EXPECT_EQ(sheet, 0);
  EXPECT_NE(prntinfo_find_dotcfg(info, "1440x720", "Normal"), nullptr);
  prntinfo_free(info);

  char** type = prntdevs_find("KlvDemo");
  ASSERT_NE(type, nullptr);
  EXPECT_STREQ(type[2], "klvdrv_file.so");
  free_char_list(type);
  char repo[KLV_PATH_MAX], common[KLV_PATH_MAX];
  char folder[KLV_PATH_MAX];
  ASSERT_EQ(get_printer_path("KlvDemo", folder, nullptr), 1);
  EXPECT_EQ(get_common_links(folder, repo, common, nullptr, nullptr), 1);
}

}  // namespace
