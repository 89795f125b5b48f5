// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "klv/printer_repository.h"
#include "klv/prntinfo.h"
#include "klv/printmode_cxx.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/resources.h"

namespace {

namespace fs = std::filesystem;

using TempFolder = klv::test::ScratchFolder;

// A printer with two media, metric and inch page sizes, modes and drops.
void fill(klv::RepPrinter& p) {
  p.name = "Test Printer";
  p.device_name = "Test Device";
  p.default_media = "Glossy";
  p.default_page_size = "Letter";
  p.ppd_file = "test.ppd";
  p.tcp_default_port = "9100";
  p.device_resolutions = {{"360x360"}, {"720x720"}, {"1440x720"}};
  p.default_resolutions = {{"720x720"}};
  p.page_sizes = {{"A4", "210mm", "297mm", "", "Sheet"},
                  {"Letter", "8.5", "11", "", "Sheet"},
                  {"Roll 44", "44", "1000", "", "roll"}};
  p.screen_setups = {{"Fine", {{"Cyan", "150", "15", "1"}, {"Black", "150", "45", "1", "2", "1"}}}};
  p.has_dot_info = true;
  p.dot_info.units = "pl";
  p.dot_info.resolutions = {{"720x720", {{"Normal", {{"S", "3.5", "1", "3.5"}, {"M", "7"}}}}}};
  klv::RepMedia glossy;
  glossy.name = "Glossy";
  glossy.group = "Photo";
  glossy.default_mode = "720 dpi, Screen(85 lpi)";
  glossy.resolutions = {{"720x720"}, {"1440x720"}};
  glossy.modes = {{"", "720x720", "Screen(85 lpi)", {{"Coarse", {{"Black", "85", "45", "1"}}}}},
                  {"", "720x720", "FDRP Diffusion", {}},
                  {"", "1440x720", "Screen(85 lpi)", {}},
                  {"", "1440x720", "FDRP Diffusion", {}}};
  klv::RepMedia plain;
  plain.name = "Plain";
  plain.has_page_sizes = true;
  plain.page_sizes = {{"Card", "4", "6"}};
  plain.modes = {{"Draft", "360x360", "Stochastic", {}}};
  p.medias = {glossy, plain};
}

TEST(Repository, WrittenAndReadBackGivesTheSameAnswers) {
  TempFolder dir;
  auto repo = klv::PrinterRepository::create(dir.str());
  fill(repo->printer());
  ASSERT_TRUE(repo->save());
  EXPECT_TRUE(fs::is_directory(dir.path() / "Defaults"));
  auto back = klv::PrinterRepository::open(dir.str());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->to_xml(), repo->to_xml());
  const klv::RepPrinter& p = back->printer();
  EXPECT_EQ(p.device_name, "Test Device");
  EXPECT_EQ(p.page_sizes[0], (klv::StringArray{"A4", "210mm", "297mm", "", "Sheet"}));
  EXPECT_EQ(p.screen_setups[0].entries[1].size(), 6u);
  EXPECT_EQ(p.dot_info.resolutions[0].configs[0].data[1], (klv::StringArray{"M", "7"}));
  ASSERT_EQ(p.medias.size(), 2u);
  EXPECT_FALSE(p.medias[0].has_page_sizes);
  EXPECT_TRUE(p.medias[1].has_page_sizes);
  EXPECT_EQ(p.medias[0].modes[0].screen_setups[0].name, "Coarse");
  // No temporary file is left behind.
  int files = 0;
  for (auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST(Repository, TextThatIsNotUtf8IsStillSaved) {
  TempFolder dir;
  auto repo = klv::PrinterRepository::create(dir.str());
  repo->printer().device_name = "Bad \xff\xfe device \xc3\xa9";
  repo->printer().ppd_file = "after";
  ASSERT_TRUE(repo->save());
  auto back = klv::PrinterRepository::open(dir.str());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->printer().device_name, "Bad ?? device \xc3\xa9");
  EXPECT_EQ(back->printer().ppd_file, "after");
}

TEST(Repository, MissingOrMalformedGivesNone) {
  struct Case {
    const char* text;
    const char* logged;  // part of the line the refusal logs
  };
  const Case cases[] = {
      {"", "malformed XML"},
      {"<Printer", "malformed XML"},
      {"<Media name='x'/>", "root element is not <Printer>"},
      {"<?xml version='1.0'?><Printer><a></b>", "malformed XML"},
      {"\xff\xfe<", "malformed XML"},
  };
  klv::test::ResourceCheck resources;
  {
    klv::test::LogCapture log;
    TempFolder dir;
    EXPECT_FALSE(klv::PrinterRepository::open(dir.str()));  // no file: nothing to report
    for (const Case& c : cases) {
      std::ofstream(dir.path() / ".Settings.xml", std::ios::binary) << c.text;
      EXPECT_FALSE(klv::PrinterRepository::open(dir.str())) << c.text;
      EXPECT_EQ(prntinfo_load_info(dir.str().c_str()), nullptr);
      const std::string logged = log.Take();
      EXPECT_NE(logged.find(c.logged), std::string::npos) << c.text << ": " << logged;
    }
  }
  EXPECT_EQ(resources.Leaks(), "");
}

class PrinterInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    auto repo = klv::PrinterRepository::create(dir.str());
    fill(repo->printer());
    ASSERT_TRUE(repo->save());
    info = prntinfo_load_info(dir.str().c_str());
    ASSERT_NE(info, nullptr);
  }
  void TearDown() override { prntinfo_free(info); }
  TempFolder dir;
  PRNTINFO* info = nullptr;
};

TEST_F(PrinterInfo, RecordFields) {
  EXPECT_STREQ(info->device_name, "Test Device");
  EXPECT_STREQ(info->default_media, "Glossy");
  EXPECT_STREQ(info->default_page_size, "Letter");
  EXPECT_STREQ(info->ppd_file, "test.ppd");
  EXPECT_STREQ(info->tcp_default_port, "9100");
  ASSERT_EQ(stral_count(info->medias), 2);
  EXPECT_STREQ(stral_str(info->medias, 0, 1), "Photo");
  EXPECT_STREQ(stral_str(info->medias, 1, 1), "_Ungrouped_");
  ASSERT_NE(info->screen_setup, nullptr);
  EXPECT_STREQ(info->screen_setup->name, "Fine");
  ASSERT_NE(info->dot_info, nullptr);
  EXPECT_STREQ(info->dot_info->Units, "pl");
  EXPECT_EQ(info->reserved, 0);
  char path[KLV_PATH_MAX];
  ASSERT_TRUE(prntinfo_get_repository_path(info, path));
  EXPECT_EQ(fs::path(path), dir.path() / "");  // the folder, with its separator
}

TEST_F(PrinterInfo, PageSizesAndPaperPath) {
  double w = 0, h = 0;
  ASSERT_EQ(prntinfo_page_size(info, "Glossy", "A4", &w, &h), 1);
  EXPECT_NEAR(w, 8.2677, 1e-4);
  EXPECT_NEAR(h, 11.6929, 1e-4);
  ASSERT_EQ(prntinfo_page_size(info, "Glossy", nullptr, &w, &h), 1);  // the default page
  EXPECT_DOUBLE_EQ(w, 8.5);
  EXPECT_EQ(prntinfo_page_size(info, "Glossy", "B5", &w, &h), 0);
  ASSERT_EQ(prntinfo_page_size(info, "*Tiled*Plain", nullptr, &w, &h), 1);  // first page
  EXPECT_DOUBLE_EQ(w, 4);
  int32_t sheet = -1;
  ASSERT_EQ(prntinfo_paper_path(info, "Glossy", "Roll 44", &sheet), 1);
  EXPECT_EQ(sheet, 0);
  ASSERT_EQ(prntinfo_paper_path(info, "Glossy", "A4", &sheet), 1);
  EXPECT_EQ(sheet, 1);
  EXPECT_EQ(prntinfo_paper_path(info, "Plain", "Card", &sheet), 0);  // no paper path
  EXPECT_STREQ(prntinfo_nearest_page_size(info, "Glossy", 8.5, 11), "Letter");
  EXPECT_STREQ(prntinfo_nearest_page_size(info, "Glossy", 30, 100), "Roll 44");
  EXPECT_STREQ(prntinfo_nearest_page_size(info, "Plain", 30, 100), "Card");
  EXPECT_EQ(prntinfo_page_sizes(info, "Nothing"), nullptr);
}

TEST_F(PrinterInfo, ResolutionsAndModes) {
  EXPECT_EQ(stral_count(prntinfo_dev_resolutions(info)), 3);
  EXPECT_EQ(stral_count(prntinfo_default_resolutions(info)), 1);
  EXPECT_STREQ(prntinfo_nearest_media_res(info, "Glossy", "1400x700"), "1440x720");
  EXPECT_STREQ(prntinfo_nearest_media_res(info, "Nothing", "720"), "");
  EXPECT_EQ(prntinfo_nearest_media_res(info, "Plain", "720"), nullptr);  // empty list
  EXPECT_EQ(prntinfo_nearest_media_res(info, "Glossy", nullptr), nullptr);

  SSTRAL* names = prntinfo_mode_names(info, "Glossy");
  ASSERT_EQ(stral_count(names), 4);
  EXPECT_STREQ(stral_str(names, 0, 0), "720 dpi, Screen(85 lpi)");
  EXPECT_EQ(stral_count(prntinfo_all_mode_names(info)), 5);

  const CPrintMode* def = prntinfo_default_mode(info, "Glossy");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def, prntinfo_mode(info, "Glossy", "720 dpi, Screen(85 lpi)"));
  const CPrintMode* m = prntinfo_nearest_mode(info, "*Tiled*Glossy", "", "1440x720", 0, "");
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(printmode_name(m), "1440x720 dpi, FDRP Diffusion");
  m = prntinfo_nearest_mode_ex(info, "Glossy", nullptr, "700x700", "Screen(85 lpi)");
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(printmode_name(m), "720 dpi, Screen(85 lpi)");
  _SCREENSETUP* screens = prntinfo_mode_screensetup(info, "Glossy", m);
  ASSERT_NE(screens, nullptr);
  EXPECT_STREQ(screens->name, "Coarse");
  EXPECT_EQ(prntinfo_mode_screensetup(info, "Glossy",
                                      prntinfo_mode(info, "Glossy", "720 dpi, FDRP Diffusion")),
            nullptr);
  EXPECT_EQ(prntinfo_nearest_mode(info, "Nothing", "", "720", 0, ""), nullptr);
}

TEST_F(PrinterInfo, DropSizes) {
  dotcfg* cfg = prntinfo_find_dotcfg(info, "720x720", "Normal");
  ASSERT_NE(cfg, nullptr);
  EXPECT_DOUBLE_EQ(dotinfo_get_drop_value(cfg, "S"), 3.5);
  EXPECT_DOUBLE_EQ(dotinfo_get_drop_value(cfg, "L"), 1.0);
  EXPECT_DOUBLE_EQ(dotinfo_get_unit_value(cfg, "S"), 1.0);
  EXPECT_DOUBLE_EQ(dotinfo_get_drop_volume(cfg, "S"), 3.5);
  EXPECT_DOUBLE_EQ(dotinfo_get_drop_volume(cfg, "M"), 0.0);
  EXPECT_DOUBLE_EQ(dotinfo_get_drop_value(cfg, "M"), 7.0);
  EXPECT_EQ(prntinfo_find_dotcfg(info, "720X720", "Normal"), nullptr);  // case counts
  EXPECT_EQ(prntinfo_find_dotcfg(info, "720x720", "Fast"), nullptr);

  dotinfo* copy = prntinfo_copy_dotinfo(info->dot_info);
  ASSERT_NE(copy, nullptr);
  SSTRAL* data = _stral_new();
  stral_addv(data, "L", "12", "2", "12", static_cast<const char*>(nullptr));
  EXPECT_EQ(dotinfo_set_data(copy, "720x720", "Fast", "ng", data), 1);
  EXPECT_EQ(dotinfo_set_data(copy, "360x360", "Fast", "ng", data), 1);
  EXPECT_EQ(dotinfo_set_data(copy, "720x720", "Normal", "ng", data), 1);
  stral_free(data);
  EXPECT_STREQ(copy->Units, "ng");
  EXPECT_STREQ(copy->head->tail->Name, "Fast");
  EXPECT_STREQ(copy->tail->Res, "360x360");
  EXPECT_DOUBLE_EQ(dotinfo_get_unit_value(dotinfo_find_dotcfg(copy, "720x720", "Normal"), "L"), 2);
  // The record's own drop table is unchanged.
  EXPECT_EQ(dotinfo_find_dotcfg(info->dot_info, "720x720", "Fast"), nullptr);
  prntinfo_free_dotinfo(copy);
}

TEST_F(PrinterInfo, SaveInfoRoundTrip) {
  snprintf(info->default_media, sizeof info->default_media, "%s", "Plain");
  ASSERT_EQ(prntinfo_remove_media(info, "Glossy"), 1);
  EXPECT_EQ(prntinfo_remove_media(info, "Glossy"), 0);
  TempFolder other;
  ASSERT_EQ(prntinfo_save_info(info, other.str().c_str()), 1);
  PRNTINFO* back = prntinfo_load_info(other.str().c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back->default_media, "Plain");
  EXPECT_EQ(stral_count(back->medias), 1);
  EXPECT_NE(prntinfo_find_dotcfg(back, "720x720", "Normal"), nullptr);
  EXPECT_STREQ(back->screen_setup->name, "Fine");
  PRNTINFO* copy = prntinfo_copy(back);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->device_name, "Test Device");
  prntinfo_free(copy);
  prntinfo_free(back);
  // prntinfo_reset rebuilds the media list after the removal.
  ASSERT_EQ(prntinfo_reset(info), 1);
  EXPECT_EQ(stral_count(info->medias), 1);
}

TEST(PrinterInfoNull, NeutralResults) {
  PRNTINFO* empty = prntinfo_new();
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty->device_name, "");
  EXPECT_EQ(prntinfo_page_sizes(empty, "x"), nullptr);
  EXPECT_EQ(prntinfo_create_dotinfo(empty), 1);
  EXPECT_EQ(prntinfo_create_dotinfo(empty), 0);
  prntinfo_free(empty);
  double w;
  EXPECT_EQ(prntinfo_page_size(nullptr, "a", "b", &w, &w), 0);
  EXPECT_STREQ(prntinfo_nearest_media_res(nullptr, "a", "720"), "");
  EXPECT_EQ(prntinfo_nearest_mode(nullptr, "a", "", "720", 0, ""), nullptr);
  EXPECT_EQ(prntinfo_copy(nullptr), nullptr);
  EXPECT_DOUBLE_EQ(dotinfo_get_drop_value(nullptr, "S"), 1.0);
  EXPECT_DOUBLE_EQ(dotinfo_get_drop_volume(nullptr, "S"), 0.0);
  prntinfo_free(nullptr);
}

}  // namespace
