// SPDX-License-Identifier: MIT
// The verification report, defragment and convert, member names and swatches.
#include <gtest/gtest.h>

#include <string>

#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/proflib.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

using klv::test::ScratchFolder;

void put_member(SOVolume* v, const char* name) {
  SFilemux* f = Ovfopen(v, name, "wb");
  ASSERT_TRUE(f);
  Owrite(f, "x", 1);
  Oclose(f);
}

PL_ENTRY* entry(const char* media, const char* table, const char* readings) {
  PL_ENTRY* e = PL_new_profile_entry();
  PL_set_entry_key(e, media, "720x720", "Screen", 2, "Vivid");
  snprintf(e->table, sizeof e->table, "%s", table);
  snprintf(e->readings, sizeof e->readings, "%s", readings);
  return e;
}

TEST(ProfLibMaintenance, VerificationReportNamesEveryFault) {
  ScratchFolder dir("proflib");
  const std::string lib = dir.path("Demo.PrnLib"), report = dir.path("report.txt");
  SOVolume* v = VOpen(nullptr, lib.c_str(), KLV_VOL_CREATE);
  ASSERT_TRUE(v);
  put_member(v, "T~glossy.icc");
  put_member(v, "stray.bin");
  char swatch[PL_FILE_MAX];
  ASSERT_TRUE(PL_make_swatch_path(swatch, "Glossy", "720x720", "Screen", 2, "Vivid"));
  put_member(v, swatch);
  put_member(v, "Linear1~Matte~720x720~4");
  PL_ENTRY* glossy = entry("Glossy", "T~glossy.icc", "R~missing.rdg");
  PL_ENTRY* matte = entry("Matte", "T~matte.icc", "");
  EXPECT_EQ(PL_vadd_profile_entry(v, glossy), PL_OK);
  EXPECT_EQ(PL_vadd_profile_entry(v, matte), PL_OK);
  PL_free_profile_entry(glossy);
  PL_free_profile_entry(matte);
  ASSERT_EQ(VClose(v), 0);

  SSTRAL* medias = _stral_new();
  stral_addv(medias, "Glossy", nullptr);
  EXPECT_EQ(PL_verify_library(lib.c_str(), report.c_str(), medias, 1, "Demo", "Demo.oml"), 6);
  stral_free(medias);
  const std::string text = klv::test::read_text(report);
  const std::string expected_lines[] = {
      "Checking the .Prnlib file for printer Demo\n",
      "Checking the OML file Demo.oml\n",
      "ERROR - Profiles for the media Matte were found, but the media is not in the .Printer "
      "file\n",
      "Checking for files referenced in the index that are not in the volume.\n",
      "ERROR - readings file R~missing.rdg not found.\n",
      "ERROR - table file T~matte.icc not found.\n",
      "Checking for files in the volume that are not in the index.\n",
      "ERROR - file stray.bin not found in index.\n",
      "ERROR - The media model referenced by " + std::string(swatch) +
          " could not be found.  Looking for Glossy~720x720.\n",
      "Checking for linearizations without media models.\n",
      "ERROR - The media model referenced by Linear1~Matte~720x720~4 could not be found.  "
      "Looking for Matte.\n",
      "Finished verifying " + lib + "\n",
  };
  size_t at = 0;
  for (const std::string& line : expected_lines) {
    size_t found = text.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << "in\n" << text;
    if (found != std::string::npos) at = found + line.size();
  }
  // A library that cannot be opened is reported too.
  klv::test::LogCapture log;
  EXPECT_EQ(
      PL_verify_library(dir.path("none.PrnLib").c_str(), report.c_str(), nullptr, 0, "X", nullptr),
      -1);
  EXPECT_NE(klv::test::read_text(report).find("Failed to open the volume at path"),
            std::string::npos);
}

TEST(ProfLibMaintenance, DefragmentDropsOrphanSharesAndConvertWritesTheCurrentForm) {
  ScratchFolder dir("proflib");
  SOVolume* v = VOpen(nullptr, dir.path("Demo.PrnLib").c_str(), KLV_VOL_CREATE);
  ASSERT_TRUE(v);
  // An old index: version 0 profiles, and a share whose original is gone.
  const std::string old_index = "Profiles {\n{ Glossy~720~4~Vivid \"2\" T~a.icc \"\" }\n}\n";
  SFilemux* f = Ovfopen(v, PL_INDEX_NAME, "wb");
  ASSERT_TRUE(f);
  Owrite(f, old_index.data(), old_index.size());
  Oclose(f);
  ASSERT_EQ(PL_vconvert_library(v), PL_OK);
  PL_ENTRY* e = PL_new_profile_entry();
  ASSERT_EQ(PL_vget_profile_entry(v, "Glossy", "720", "4", 6, "Vivid", e), PL_OK);
  EXPECT_STREQ(e->owner, "KELV");

  PL_ENTRY* orphan = entry("Matte", "T~a.icc", "");
  orphan->flags = PL_FLAG_SHARE;
  ASSERT_EQ(PL_vadd_profile_entry(v, orphan), PL_OK);
  ASSERT_EQ(PL_vadd_profile_share(v, "Glossy", "720", "4", 6, "Vivid", "Plain", "720", "4", e),
            PL_OK);
  ASSERT_EQ(PL_vdefragment_library(v), PL_OK);
  EXPECT_FALSE(PL_vexist_profile_entry(v, "Matte", "", "", -1, ""));
  EXPECT_TRUE(PL_vexist_profile_entry(v, "Plain", "720", "4", 6, "Vivid"));  // a live share
  PL_free_profile_entry(orphan);
  PL_free_profile_entry(e);

  // Swatch names split back into their key.
  char path[PL_FILE_MAX], media[PL_FIELD_MAX], name[PL_FIELD_MAX];
  int32_t type = 0;
  ASSERT_TRUE(PL_make_swatch_path(path, "Glossy", "720", "Screen", 0x1b, "V"));
  EXPECT_STREQ(path, "S~Glossy~720~4~1B~V.swt");
  ASSERT_TRUE(PL_split_swatch_path(path, media, nullptr, nullptr, &type, name));
  EXPECT_STREQ(media, "Glossy");
  EXPECT_EQ(type, 0x1b);
  EXPECT_FALSE(PL_split_swatch_path("T~x.icc", media, nullptr, nullptr, &type, name));
  put_member(v, path);
  SSTRAL* swatches = nullptr;
  ASSERT_EQ(PL_vget_swatch_list(v, "glossy", &swatches), PL_OK);
  EXPECT_EQ(stral_count(swatches), 1);
  stral_free(swatches);
  VClose(v);
}

}  // namespace
