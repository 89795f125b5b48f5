// SPDX-License-Identifier: MIT
// The settings text files of printers: types list, client list, repository
// links, the Printer_Info block and screen setups.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/printer_repository.h"
#include "klv/prntinfo.h"
#include "support/env.h"
#include "support/files.h"

namespace {

namespace fs = std::filesystem;

using klv::test::read_text;
using klv::test::write_text;

// A data folder on KLV_PATH for the duration of a test.
class DataFolder : public ::testing::Test {
 protected:
  void TearDown() override { set_server_mode(0); }
  klv::test::ScratchFolder scratch{"printer_files"};
  const fs::path& dir = scratch.path();
  klv::test::ScopedEnv path{"KLV_PATH", scratch.str()};
};

TEST_F(DataFolder, TypesListIsWrittenExactlyAndReadsBack) {
  SSTRAL* list = _stral_new();
  stral_addv(list, "Demo", "Demo Device", "klvdrv_file.so", "1", static_cast<const char*>(nullptr));
  stral_addv(list, "Quoted", "\"Dev Two\"", "", "2", static_cast<const char*>(nullptr));
  fs::path file = dir / "Printer_Types.info";
  ASSERT_EQ(prntdevs_save(nullptr, file.c_str(), list), 1);
  EXPECT_EQ(read_text(file),
            ";\n; Printer_Types.info\n;\nPrinter_Types\n"
            " {\n  Name { \"Demo\" }\n  Device { \"Demo Device\" }\n"
            "  DLL_File { \"klvdrv_file.so\" }\n  ID { \"1\" }\n }\n"
            " {\n  Name { \"Quoted\" }\n  Device { \"Dev Two\" }\n"
            "  DLL_File { \"\" }\n  ID { \"2\" }\n }\n");
  SSTRAL* back = prntdevs_load(nullptr, nullptr);  // found on the search path
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(stral_count(back), 2);
  EXPECT_STREQ(stral_str(back, 0, 2), "klvdrv_file.so");
  EXPECT_STREQ(stral_str(back, 1, 1), "Dev Two");
  EXPECT_STREQ(stral_str(back, 1, 2), "");
  stral_free(back);
  stral_free(list);

  // The enclosed form and missing fields read too; a file without the block
  // gives an empty list; a missing file gives none.
  write_text(file, "Printer_Types {\n { Name { A } ID { 7 } }\n { Device { B } Other { x } }\n}\n");
  back = prntdevs_load(nullptr, file.c_str());
  ASSERT_EQ(stral_count(back), 2);
  EXPECT_STREQ(stral_str(back, 0, 3), "7");
  EXPECT_STREQ(stral_str(back, 0, 1), "");
  EXPECT_STREQ(stral_str(back, 1, 1), "B");
  stral_free(back);
  write_text(file, "Something { else }\n");
  back = prntdevs_load(nullptr, file.c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(stral_count(back), 0);
  stral_free(back);
  EXPECT_EQ(prntdevs_load(nullptr, (dir / "none.info").c_str()), nullptr);
}

TEST_F(DataFolder, ClientListAndPrinterLookup) {
  write_text(dir / "Printer_Client.info",
             "Printer_Client {\n  UserId { \"Print Room\" }\n"
             "  Printers { { \"\" x } { Demo Printers/Demo } { Other /abs/other } }\n}\n");
  PRNTCLNT* c = prntclnt_load(nullptr, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->UserId, "Print Room");
  ASSERT_EQ(stral_count(c->Printers), 2);  // the blank printer is dropped
  EXPECT_STREQ(stral_str(c->Printers, 0, 0), "Demo");

  // Saved and read back.
  fs::path copy = dir / "copy.info";
  ASSERT_EQ(prntclnt_save(nullptr, copy.c_str(), c), 1);
  PRNTCLNT* back = prntclnt_load(nullptr, copy.c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back->UserId, "Print Room");
  EXPECT_EQ(stral_count(back->Printers), 2);
  prntclnt_free(back);
  prntclnt_free(c);

  char folder[KLV_PATH_MAX], user[40];
  ASSERT_EQ(get_printer_path("Demo", folder, user), 1);
  EXPECT_EQ(fs::path(folder), dir / "Printers/Demo");  // relative to the data folder
  EXPECT_STREQ(user, "Print Room");
  ASSERT_EQ(get_printer_path("Other", folder, nullptr), 1);
  EXPECT_STREQ(folder, "/abs/other");
  EXPECT_EQ(get_printer_path("Missing", folder, user), 0);
  EXPECT_STREQ(folder, "");
  EXPECT_STREQ(user, "");

  // The printer folder's link names the repository.
  write_text(dir / "Printers/Demo/Info/Printer.RepLink",
             "Printer_Repository { Repository/Demo }\nPrinter_Common { Common }\n"
             "Printer_CFG { CFG }\n");
  char repo[KLV_PATH_MAX], common[KLV_PATH_MAX];
  ASSERT_EQ(get_repository_link(folder, repo), 0);  // folder is now "" (Missing)
  std::string demo = (dir / "Printers/Demo").string();
  ASSERT_EQ(get_repository_link(demo.c_str(), repo), 1);
  EXPECT_EQ(fs::path(repo), dir / "Repository/Demo");
  EXPECT_EQ(get_common_links(demo.c_str(), repo, common, nullptr, nullptr), 0);  // no System
  EXPECT_EQ(fs::path(common), dir / "Common");

  // prntinfo_find follows the link, except in server mode.
  auto repository = klv::PrinterRepository::create((dir / "Repository/Demo").string());
  repository->printer().device_name = "Demo Device";
  ASSERT_TRUE(repository->save());
  // The instance number is cut at "("; a blank before it stays in the name.
  EXPECT_EQ(prntinfo_find("Demo (2)"), nullptr);
  PRNTINFO* info = prntinfo_find("Demo(2)");
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->device_name, "Demo Device");
  prntinfo_free(info);
  set_server_mode(1);
  EXPECT_EQ(prntinfo_find("Demo"), nullptr);
  char out[KLV_PATH_MAX];
  EXPECT_EQ(prntinfo_find_repository("Demo", out), 0);
  EXPECT_EQ(set_server_mode(0), 1);

  // The client and types elements of a printer are found by its device.
  write_text(dir / "Printer_Types.info",
             "Printer_Types\n { Name { Demo Device } Device { D } DLL_File { klvdrv_file.so } ID { "
             "1 } }\n");
  char** type = prntdevs_find("Demo");
  ASSERT_NE(type, nullptr);
  EXPECT_STREQ(type[2], "klvdrv_file.so");
  EXPECT_EQ(type[4], nullptr);
  free_char_list(type);
}

TEST_F(DataFolder, DefaultFileLookup) {
  fs::create_directories(dir / "Defaults/Glossy");
  write_text(dir / "Defaults/Glossy/cal.klc", "x");
  char out[KLV_PATH_MAX];
  std::string folder = dir.string();
  ASSERT_EQ(prntinfo_find_default_file(folder.c_str(), out, "cal.klc", "Glossy"), 1);
  EXPECT_TRUE(std::string(out).ends_with("Defaults\\Glossy\\cal.klc")) << out;
  EXPECT_EQ(prntinfo_find_default_file(folder.c_str(), out, "none.klc", "Glossy"), 0);
  EXPECT_EQ(prntinfo_find_default_file(nullptr, out, "a", "b"), 0);
  ASSERT_EQ(prntinfo_repository_file("/x/", out), 1);
  EXPECT_STREQ(out, "/x/.Settings.xml");
}

TEST_F(DataFolder, PrinterInfoBlockRoundTrip) {
  PRNTINFOEX* r = prntinfoex_new();
  snprintf(r->Device, sizeof r->Device, "%s", "Legacy Device");
  snprintf(r->DefaultPageSize, sizeof r->DefaultPageSize, "%s", "Letter");
  snprintf(r->Version, sizeof r->Version, "%s", "3");
  stral_addv(r->ResList, "360x360", static_cast<const char*>(nullptr));
  stral_addv(r->ResList, "720x720", static_cast<const char*>(nullptr));
  stral_addv(r->PageSizes, "A4", "210mm", "297mm", "", "Sheet", static_cast<const char*>(nullptr));
  stral_addv(r->PageSizes, "Letter", "8.5", "11", "", "Roll", static_cast<const char*>(nullptr));
  stral_addv(r->Media, "Glossy Photo", static_cast<const char*>(nullptr));
  r->ScreenSetup = new_screen_setup("Fine");
  stral_addv(r->ScreenSetup->entries, "Cyan", "150", "15", "1", static_cast<const char*>(nullptr));
  ASSERT_EQ(prntinfoex_create_dotinfo(r), 1);
  SSTRAL* drops = _stral_new();
  stral_addv(drops, "S", "3.5", "1", "3.5", static_cast<const char*>(nullptr));
  ASSERT_EQ(dotinfo_set_data(r->DotInfo, "720x720", "Normal", "pl", drops), 1);
  stral_free(drops);

  fs::path file = dir / "Legacy.Printer";
  SFilemux* s = Ovfopen(nullptr, file.c_str(), "wt");
  ASSERT_NE(s, nullptr);
  ASSERT_NE(prntinfoex_put(s, r), 0);
  Oclose(s);
  const std::string text = read_text(file);
  // Keys in the writer's order.
  size_t last = 0;
  for (const char* key : {"DefaultPageSize", "Device", "DotInfo", "Media", "PageSizes", "Patterns",
                          "PPDFile", "ResList", "ScreenSetup", "Version"}) {
    size_t at = text.find(std::string("  ") + key);
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at, last) << key;
    last = at;
  }
  EXPECT_NE(text.find("    ResInfo {\n      Res { 720x720 }\n      CfgInfo {\n"), std::string::npos)
      << text;

  PRNTINFOEX* back = prntinfoex_load(nullptr, file.c_str());
  ASSERT_NE(back, nullptr) << text;
  EXPECT_STREQ(back->Device, "Legacy Device");
  EXPECT_STREQ(back->Version, "3");
  EXPECT_EQ(stral_count(back->ResList), 2);
  EXPECT_STREQ(stral_str(back->Media, 0, 0), "Glossy Photo");
  ASSERT_NE(back->ScreenSetup, nullptr);
  EXPECT_STREQ(back->ScreenSetup->name, "Fine");
  EXPECT_STREQ(stral_str(back->ScreenSetup->entries, 0, 2), "15");
  EXPECT_STREQ(back->DotInfo->Units, "pl");
  EXPECT_DOUBLE_EQ(dotinfo_get_drop_volume(prntinfoex_find_dotcfg(back, "720x720", "Normal"), "S"),
                   3.5);
  double w = 0, h = 0;
  EXPECT_EQ(prntinfoex_pagesize(back, nullptr, &w, &h), 1);
  EXPECT_DOUBLE_EQ(h, 11);
  int32_t sheet = -1;
  EXPECT_EQ(prntinfoex_paperpath(back, nullptr, &sheet), 1);
  EXPECT_EQ(sheet, 0);
  EXPECT_STREQ(prntinfoex_nearest_pagesize(back, 8, 11), "Letter");
  EXPECT_STREQ(prntinfoex_nearest_res(back, "700x700"), "720x720");

  PRNTINFOEX* copy = prntinfoex_copy(back);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->Version, "");
  EXPECT_STREQ(copy->DotInfo->head->head->Name, "Normal");
  prntinfoex_free(copy);
  prntinfoex_free(back);
  prntinfoex_free(r);

  // Without a DotInfo block the record gets an empty one; without the block
  // there is no record.
  write_text(file, "Printer_Info {\n  Device { X }\n}\n");
  back = prntinfoex_load(nullptr, file.c_str());
  ASSERT_NE(back, nullptr);
  ASSERT_NE(back->DotInfo, nullptr);
  EXPECT_EQ(back->DotInfo->head, nullptr);
  prntinfoex_free(back);
  write_text(file, "Other {\n}\n");
  EXPECT_EQ(prntinfoex_load(nullptr, file.c_str()), nullptr);
  write_text(file, "Printer_Info {\n  DotInfo { ResInfo { Res { 1 }\n");
  EXPECT_EQ(prntinfoex_load(nullptr, file.c_str()), nullptr);
}

TEST_F(DataFolder, ScreenSetupText) {
  _SCREENSETUP* list = new_screen_setup("Fine");
  stral_addv(list->entries, "Cyan", "150", "15", "1", static_cast<const char*>(nullptr));
  stral_addv(list->entries, "Black", "150", "45", "1", "2", "1", static_cast<const char*>(nullptr));
  list->next = new_screen_setup("");
  stral_addv(list->next->entries, "Default", "85", "45", "2", static_cast<const char*>(nullptr));
  list->next->next = new_screen_setup("Empty");  // no entries: not written

  fs::path file = dir / "screens.txt";
  SFilemux* s = Ovfopen(nullptr, file.c_str(), "wt");
  ASSERT_EQ(put_screen_settings(s, "ScreenSetup", &list, 1), 1);
  Oclose(s);
  EXPECT_EQ(read_text(file),
            "  ScreenSetup {\n"
            "    \"Fine\" {\n"
            "      { \"Cyan\" \"150\" \"15\" \"1\" }\n"
            "      { \"Black\" \"150\" \"45\" \"1\" \"2\" \"1\" }\n"
            "    }\n"
            "\"\"{\n"
            "      { \"Default\" \"85\" \"45\" \"2\" }\n"
            "    }\n"
            "  }\n");

  SFPARSE* fp = fp_open(nullptr, file.c_str(), 0);
  ASSERT_NE(fp, nullptr);
  char token[64];
  ASSERT_EQ(fp_get_token(fp, token, sizeof token), KLV_FP_WORD);
  _SCREENSETUP* back = nullptr;
  ASSERT_EQ(get_screen_settings(fp, &back), 1);
  fp_close(fp);
  ASSERT_NE(back, nullptr);
  ASSERT_NE(back->next, nullptr);
  EXPECT_EQ(back->next->next, nullptr);
  EXPECT_EQ(find_screen_setup(back, "FINE"), back);
  EXPECT_STREQ(stral_str(back->entries, 1, 5), "1");
  EXPECT_STREQ(back->next->name, "");

  _SCREENSETUP* copy = copy_screen_settings(back);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(delete_screen_setup(&copy, copy), 1);  // the head
  EXPECT_STREQ(copy->name, "");
  EXPECT_EQ(delete_screen_setup(&copy, back), 0);  // not in this list
  EXPECT_EQ(free_screen_settings(copy), 0);
  _SCREENSETUP* none = nullptr;
  EXPECT_EQ(delete_screen_setup(&none, back), 0);
  EXPECT_EQ(put_screen_settings(nullptr, "X", &none, 0), 1);
  free_screen_settings(back);
  free_screen_settings(list);

  // A block that does not close fails.
  write_text(file, "{ \"A\" { { \"Cyan\" \"1\" \"2\" \"3\" } }\n");
  fp = fp_open(nullptr, file.c_str(), 0);
  _SCREENSETUP* partial = nullptr;
  EXPECT_EQ(get_screen_settings(fp, &partial), 0);
  fp_close(fp);
  free_screen_settings(partial);
  // A long name is cut to 79 bytes.
  _SCREENSETUP* longname = new_screen_setup(std::string(200, 'n').c_str());
  EXPECT_EQ(std::string(longname->name).size(), 79u);
  free_screen_settings(longname);
}

}  // namespace
