// SPDX-License-Identifier: MIT
// The SP_* calls through a real dlopen of the recording driver: the entry table
// copy, the open steps and their error codes, the print sequence records, the
// fall-backs of absent entries and the status word.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver_test_util.h"
#include "support/env.h"
#include "support/files.h"
#include "klv/printer_driver.h"
#include "klv/prntinfo.h"

namespace {

using drivertest::Recorder;

class SpCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rec.Load());
    rec.reset();
  }
  SP_OBJECT* Open(const char* printer = "Printer", int32_t* error = nullptr) {
    int32_t local = -99;
    SP_OBJECT* object = SP_open(KLV_RECORDING_DRIVER, "Dev", error ? error : &local, printer);
    return object;
  }
  Recorder rec;
};

TEST_F(SpCalls, OpenStripsThreeAsterisksAndCopiesTheWholeTable) {
  int32_t error = -1;
  SP_OBJECT* object = Open("***Roll Printer", &error);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(rec.Logged("open Dev|Roll Printer"));
  EXPECT_TRUE(rec.Logged("get_capabilities"));
  EXPECT_EQ(object->funcs.size, 368u);
  EXPECT_EQ(object->capabilities, rec.caps());
  EXPECT_NE(object->funcs.start_print_ex, nullptr);  // slot 82, beyond the 32-bit words' middle
  SP_close(object);
}

// The stated size decides which entries exist: 4 bytes a slot, size word
// included, clipped to the full table.
TEST_F(SpCalls, TableSizeDecidesWhichEntriesExist) {
  struct Case {
    uintptr_t size;
    uintptr_t copied;
    bool has_cancel_job;    // slot 15
    bool has_get_info_num;  // slot 21
    bool has_command;       // slot 81
  };
  const Case cases[] = {
      {64, 64, true, false, false},    {60, 60, false, false, false},
      {66, 66, true, false, false},    {88, 88, true, true, false},
      {368, 368, true, true, true},    {369, 368, true, true, true},
      {100000, 368, true, true, true}, {sizeof(printer_funcs), 368, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    rec.reset();
    rec.set_size(c.size);
    SP_OBJECT* object = Open();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->funcs.size, c.copied);
    rec.clear_log();
    EXPECT_EQ(SP_cancel_job(object), 0);
    EXPECT_EQ(rec.Logged("cancel_job"), c.has_cancel_job);
    EXPECT_EQ(rec.Logged("end_job"), !c.has_cancel_job);
    int32_t value = -1;
    EXPECT_EQ(SP_get_info_num(object, &value, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(value, c.has_get_info_num ? 100 : 4);
    EXPECT_EQ(SP_command(object, 77, nullptr, nullptr), c.has_command ? 0 : SP_ERR_OPTIONAL);
    rec.clear_log();
    SP_close(object);
    // The capabilities record goes back through command 25 only when it exists.
    EXPECT_EQ(rec.Logged("command 25 caps"), c.has_command);
    EXPECT_TRUE(rec.Logged("close"));
  }
}

TEST_F(SpCalls, BadTablesAndOpenFailuresGiveTheirCodes) {
  struct Case {
    const char* what;
    void (*setup)(Recorder&);
    int32_t error;
  };
  const Case cases[] = {
      {"size word 0", [](Recorder& r) { r.set_size(0); }, SP_ERR_NO_ENTRY},
      {"size below open", [](Recorder& r) { r.set_size(7); }, SP_ERR_NO_ENTRY},
      {"no open", [](Recorder& r) { r.drop(SPF_OPEN); }, SP_ERR_NO_ENTRY},
      {"no capabilities entry", [](Recorder& r) { r.drop(SPF_GET_CAPABILITIES); }, SP_ERR_MEMORY},
      {"capabilities beyond size", [](Recorder& r) { r.set_size(20); }, SP_ERR_MEMORY},
      {"capabilities key 0", [](Recorder& r) { r.caps()->key = 0; }, SP_ERR_CAPABILITIES},
      {"driver refuses", [](Recorder& r) { r.set_open(1, 9); }, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    rec.reset();
    c.setup(rec);
    int32_t error = -1;
    EXPECT_EQ(Open("P", &error), nullptr);
    EXPECT_EQ(error, c.error);
  }
  int32_t error = -1;
  EXPECT_EQ(SP_open(KLV_NO_TABLE_DRIVER, "Dev", &error, "P"), nullptr);
  EXPECT_EQ(error, SP_ERR_NO_TABLE);
  error = -1;
  EXPECT_EQ(SP_open("klv_no_such_driver.so", "Dev", &error, "P"), nullptr);
  EXPECT_EQ(error, SP_ERR_LIBRARY);
  EXPECT_EQ(SP_open(nullptr, "Dev", &error, "P"), nullptr);
  EXPECT_EQ(error, SP_ERR_LIBRARY);
}

TEST_F(SpCalls, NullInstanceWithoutErrorGivesAnObjectThatReportsSeven) {
  rec.set_open(1, 0);
  int32_t error = -1;
  SP_OBJECT* object = Open("P", &error);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(error, 0);
  SP_PRINT print{};
  EXPECT_EQ(SP_start_print(object, &print, nullptr), SP_ERR_NO_INSTANCE);
  EXPECT_EQ(SP_end_job(object), SP_ERR_NO_INSTANCE);
  int32_t value = -1;
  EXPECT_EQ(SP_get_info_num(object, &value, nullptr, nullptr, nullptr, 0), SP_ERR_NO_INSTANCE);
  EXPECT_EQ(value, 4);
  EXPECT_EQ(SP_load_info(object, "x"), nullptr);
  EXPECT_EQ(object->status, SP_ERR_NO_INSTANCE);
  rec.clear_log();
  SP_close(object);
  EXPECT_FALSE(rec.Logged("close"));  // no instance to close

  // Without an error output the object is returned even when the driver set one.
  rec.set_open(1, 9);
  SP_OBJECT* quiet = SP_open(KLV_RECORDING_DRIVER, "Dev", nullptr, "P");
  ASSERT_NE(quiet, nullptr);
  SP_close(quiet);
}

TEST_F(SpCalls, NullObjectsAreRefused) {
  int32_t value = -1;
  EXPECT_EQ(SP_get_info_num(nullptr, &value, nullptr, nullptr, nullptr, 21), SP_ERR_ARGUMENT);
  EXPECT_EQ(value, 1);
  char text[80] = "x";
  EXPECT_EQ(SP_get_info_str(nullptr, text, sizeof text, 1), SP_ERR_ARGUMENT);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(SP_start_job(nullptr, nullptr), SP_ERR_ARGUMENT);
  EXPECT_EQ(SP_end_job(nullptr), SP_ERR_ARGUMENT);
  EXPECT_EQ(SP_command(nullptr, 1, nullptr, nullptr), SP_ERR_ARGUMENT);
  EXPECT_EQ(SP_close(nullptr), 0);
  EXPECT_EQ(SP_load_info(nullptr, "x"), nullptr);
  EXPECT_EQ(SP_new_settings(nullptr), nullptr);
  EXPECT_EQ(SP_get_capabilities(nullptr), nullptr);
  EXPECT_EQ(SP_get_status(nullptr, nullptr), SP_ERR_ARGUMENT);
  EXPECT_EQ(GetPrinterHandleProcAddress(nullptr, "printer_funcs"), nullptr);
  EXPECT_EQ(GetPrinterHandleInstance(nullptr), nullptr);
  EXPECT_EQ(GetPrinterHandleDeviceName(nullptr), nullptr);
  EXPECT_EQ(OpenPrinterHandle(nullptr), nullptr);
  EXPECT_EQ(FindPrinterHandle(nullptr), nullptr);
  FreePrinterHandle(nullptr);
}

TEST_F(SpCalls, PrintSequenceKeepsTheRecords) {
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);
  SP_JOB job{};
  std::strcpy(job.name, "Job one");
  EXPECT_EQ(SP_start_job(object, &job), 0);
  EXPECT_TRUE(rec.Logged("start_job 0 Job one"));
  uint32_t word = 0;
  std::memcpy(&word, object->job, 4);
  EXPECT_EQ(word, 452u);
  EXPECT_STREQ(reinterpret_cast<const char*>(object->job) + 4, "Job one");

  SP_PRINT print{};
  print.width = 9;
  print.height = 3;
  char text[SP_PRINT_TEXT_SIZE] = "old";
  EXPECT_EQ(SP_start_print(object, &print, text), 0);
  EXPECT_STREQ(text, "print text");
  EXPECT_STREQ(object->print_text, "print text");
  std::memcpy(&word, object->print, 4);
  EXPECT_EQ(word, 1240u);
  uint8_t block[SP_PRINT_RESULT_SIZE] = {};
  EXPECT_EQ(SP_start_print_ex(object, &print, block), 0);
  EXPECT_EQ(block[159], 0xAB);
  EXPECT_EQ(object->print_result[0], 0xAB);

  SP_PASS pass{0, 3, 1};
  EXPECT_EQ(SP_start_pass(object, &pass), 0);
  EXPECT_EQ(object->pass[0], 12u);
  EXPECT_EQ(object->pass[1], 3u);
  const uint8_t line[4] = {0x5A, 1, 2, 3};
  EXPECT_EQ(SP_print_scanline_data(object, line, 1), 0);
  EXPECT_TRUE(rec.Logged("print_scanline_data 1 5a"));
  EXPECT_EQ(SP_print_scanline_data(object, nullptr, 1), SP_ERR_ARGUMENT);
  // Skipping lines needs capabilities flag bit 3.
  EXPECT_EQ(SP_skip_lines(object, 4), SP_ERR_NO_SKIP);
  rec.caps()->flags = SP_CAP_SKIP_LINES;
  EXPECT_EQ(SP_skip_lines(object, 4), 0);
  EXPECT_TRUE(rec.Logged("skip_lines 4"));
  EXPECT_EQ(SP_end_pass(object), 0);
  EXPECT_EQ(SP_end_print(object), 0);
  EXPECT_EQ(SP_end_job(object), 0);

  // A driver error passes through and the record is not taken.
  rec.set_result(17);
  SP_JOB other{};
  std::strcpy(other.name, "Job two");
  EXPECT_EQ(SP_start_job(object, &other), 17);
  EXPECT_EQ(object->status, 17);
  EXPECT_STREQ(reinterpret_cast<const char*>(object->job) + 4, "Job one");
  SP_close(object);
}

TEST_F(SpCalls, AbsentPrintEntriesFallBack) {
  const int kStartPrint = 8, kStartPass = 9, kScanline = 10, kEndPass = 11, kSkip = 12;
  const int kEndPrint = 13;
  const int slots[] = {SPF_START_JOB, kStartPrint, kStartPass,  kScanline,      kEndPass,
                       kSkip,         kEndPrint,   SPF_END_JOB, SPF_CANCEL_JOB, SPF_START_PRINT_EX};
  for (int slot : slots) rec.drop(slot);
  rec.caps()->flags = SP_CAP_SKIP_LINES;
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);
  SP_JOB job{};
  EXPECT_EQ(SP_start_job(object, &job), 0);
  uint32_t word = 0;
  std::memcpy(&word, object->job, 4);
  EXPECT_EQ(word, 452u);  // recorded even without the entry
  SP_PRINT print{};
  EXPECT_EQ(SP_start_print(object, &print, nullptr), SP_ERR_NO_ENTRY);
  EXPECT_EQ(SP_start_print_ex(object, &print, nullptr), SP_ERR_NO_ENTRY);
  SP_PASS pass{};
  EXPECT_EQ(SP_start_pass(object, &pass), 0);
  EXPECT_EQ(object->pass[0], 12u);
  const uint8_t line[1] = {0};
  EXPECT_EQ(SP_print_scanline_data(object, line, 1), SP_ERR_NO_ENTRY);
  EXPECT_EQ(SP_skip_lines(object, 2), SP_ERR_NO_SKIP);
  EXPECT_EQ(SP_end_pass(object), 0);
  EXPECT_EQ(SP_end_print(object), 0);
  EXPECT_EQ(SP_end_job(object), 0);
  EXPECT_EQ(SP_cancel_job(object), 0);
  EXPECT_EQ(SP_start_cut(object, nullptr), 0);
  EXPECT_EQ(SP_update_info(object, nullptr), SP_ERR_NO_ENTRY);
  EXPECT_EQ(SP_edit_media(object, nullptr), 1);
  EXPECT_EQ(SP_auto_mode(object, nullptr), 1);
  EXPECT_EQ(SP_show_help(object, 1), SP_ERR_OPTIONAL);
  EXPECT_EQ(SP_get_media_flats(object, "m", nullptr), SP_ERR_OPTIONAL);
  EXPECT_EQ(SP_set_msg_callback(object, nullptr, nullptr), SP_ERR_OPTIONAL);
  SP_close(object);
}

TEST_F(SpCalls, StatusWordAndValueCalls) {
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);
  SP_end_pass(object);
  rec.clear_log();
  EXPECT_EQ(SP_get_status(object, nullptr), 0);  // the word, driver not asked
  EXPECT_FALSE(rec.Logged("get_status none"));
  int request = 0;
  EXPECT_EQ(SP_get_status(object, &request), 42);
  EXPECT_TRUE(rec.Logged("get_status request"));
  // A value call leaves -3 (outcome not recorded), which makes get_status ask.
  EXPECT_NE(SP_new_settings(object), nullptr);
  EXPECT_EQ(object->status, SP_STATUS_PENDING);
  EXPECT_EQ(SP_get_status(object, nullptr), 42);
  EXPECT_TRUE(rec.Logged("get_status none"));
  // An absent value entry leaves 6.
  EXPECT_EQ(SP_new_media(object), nullptr);
  EXPECT_EQ(object->status, SP_ERR_NO_ENTRY);
  SP_close(object);
}

TEST_F(SpCalls, InfoNumberFallBacks) {
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);
  int32_t value = 0;
  EXPECT_EQ(SP_get_info_num(object, &value, nullptr, nullptr, nullptr, 7), 0);
  EXPECT_EQ(value, 107);
  EXPECT_EQ(SP_get_info_num_ex(object, &value, nullptr, nullptr, nullptr, nullptr, 7), 0);
  EXPECT_EQ(value, 1107);  // the extended entry goes first
  SP_close(object);

  rec.drop(SPF_GET_INFO_NUM);
  object = Open();
  rec.clear_log();
  EXPECT_EQ(SP_get_info_num(object, &value, nullptr, nullptr, nullptr, 3), 0);
  EXPECT_EQ(value, 1103);
  EXPECT_TRUE(rec.Logged("get_info_num_ex (nil) (nil) (nil) (nil) 3"));
  SP_close(object);

  rec.reset();
  rec.drop(SPF_GET_INFO_NUM_EX);
  object = Open();
  EXPECT_EQ(SP_get_info_num_ex(object, &value, nullptr, nullptr, nullptr, nullptr, 3), 0);
  EXPECT_EQ(value, 103);
  SP_close(object);

  rec.drop(SPF_GET_INFO_NUM);
  object = Open();
  const struct {
    int32_t item, value;
  } defaults[] = {{0, 4}, {4, 1}, {5, 1}, {17, 1}, {20, 1}, {21, 1}, {1, 0}, {7, 0}, {8, 0}};
  for (const auto& d : defaults) {
    value = -1;
    EXPECT_EQ(SP_get_info_num(object, &value, nullptr, nullptr, nullptr, d.item), 0);
    EXPECT_EQ(value, d.value) << d.item;
    EXPECT_EQ(SP_default_info_num(d.item), d.value);
  }
  SP_close(object);
}

TEST_F(SpCalls, SettingsPathsAndFallBacks) {
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);
  int dummy = 0;
  auto* volume = reinterpret_cast<SOVolume*>(&dummy);
  SP_load_settings(object, volume, nullptr);
  EXPECT_TRUE(rec.Logged("load_settings volume .\\Printer.Settings"));
  SP_load_settings(object, SP_NO_VOLUME, nullptr);
  EXPECT_TRUE(rec.Logged("load_settings none (null)"));
  SP_load_settings(object, nullptr, nullptr);
  EXPECT_TRUE(rec.Logged("load_settings null (null)"));
  SP_save_settings(object, nullptr, volume, nullptr, 3);
  EXPECT_TRUE(rec.Logged("save_settings volume .\\Printer.Settings 3"));
  SP_load_settings(object, volume, "custom");
  EXPECT_TRUE(rec.Logged("load_settings volume custom"));
  EXPECT_EQ(SP_edit_settings_ex(object, nullptr, nullptr), 9);  // falls back to edit_settings
  EXPECT_EQ(SP_default_settings(object), static_cast<void*>(rec.caps()));
  SP_close(object);

  rec.drop(22);  // default_settings
  rec.drop(28);  // edit_settings
  object = Open();
  rec.clear_log();
  EXPECT_NE(SP_default_settings(object), nullptr);
  EXPECT_TRUE(rec.Logged("new_settings"));
  EXPECT_EQ(SP_edit_settings_ex(object, nullptr, nullptr), 1);
  SP_close(object);
}

TEST_F(SpCalls, ColourInfoAndPrintableArea) {
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);
  SP_COLOR_INFO info{};
  EXPECT_EQ(SP_get_color_info(object, nullptr, nullptr, &info), 0);
  EXPECT_EQ(info.channels, 99u);  // the driver's own
  char area[80] = "";
  EXPECT_EQ(SP_get_printable_area(object, area), 0);
  EXPECT_STREQ(area, "driver area");
  SP_close(object);

  rec.drop(SPF_GET_COLOR_INFO);
  rec.drop(44);  // get_printable_area
  rec.set_info_answer(0, 6);
  rec.set_info_answer(8, 1);
  rec.set_info_answer(7, 0);
  object = Open();
  rec.clear_log();
  int marker = 0;
  EXPECT_EQ(SP_get_color_info(object, &marker, nullptr, &info), 0);
  EXPECT_NE(std::string(rec.log()).find("get_info_num (nil) "), std::string::npos);
  ASSERT_EQ(info.channels, 6u);
  EXPECT_EQ(info.spot_channels, 1u);
  EXPECT_STREQ(info.channel[0].name, "Cyan");
  EXPECT_STREQ(info.channel[3].name, "Black");
  EXPECT_STREQ(info.channel[4].name, "Light Black");
  EXPECT_STREQ(info.channel[5].name, "Spot1");
  EXPECT_EQ(info.channel[5].flags, SP_CHANNEL_SPOT);

  SP_COLOR_SETUP setup{6, 1, 9, 0, {}};
  EXPECT_EQ(SP_validate_color_setup(object, nullptr, nullptr, &setup), 0);
  EXPECT_EQ(setup.kind, 0);
  setup.spot_channels = 0;
  EXPECT_EQ(SP_validate_color_setup(object, nullptr, nullptr, &setup), SP_ERR_COLOR_SETUP);

  EXPECT_EQ(SP_get_printable_area(object, area), 0);
  EXPECT_STREQ(area, "24.000000x100.000000");
  SP_close(object);
}

TEST(DefaultColourInfo, ChannelSetsByProcessCount) {
  const struct {
    int32_t channels, spots, kind;
    const char* names;  // abbreviations joined by blanks, "" for no description
  } cases[] = {
      {1, 0, 0, "K"},
      {3, 0, 0, "C M Y"},
      {3, 0, 1, "R G B"},
      {4, 0, 0, "C M Y K"},
      {5, 0, 2, "C M Y K O"},
      {6, 0, 0, "C M Y K Lc Lm"},
      {6, 2, 0, "C M Y K S1 S2"},
      {7, 0, 0, "C M Y K Lc Lm Lk"},
      {8, 0, 2, "C M Y K Lc Lm O G"},
      {2, 0, 0, ""},
      {9, 0, 0, ""},
      {3, 4, 0, ""},
  };
  for (const auto& c : cases) {
    SP_COLOR_INFO info{};
    const int32_t ok = SP_get_abreviated_color_info(&info, c.channels, c.spots, c.kind);
    std::string names;
    for (uint32_t i = 0; ok && i < info.channels; ++i)
      names += (i ? " " : "") + std::string(info.channel[i].name);
    EXPECT_EQ(names, c.names) << c.channels << "/" << c.spots << "/" << c.kind;
    EXPECT_EQ(ok != 0, *c.names != 0);
  }
  SP_COLOR_INFO info{};
  ASSERT_TRUE(SP_get_default_ENU_color_info(&info, 4, 0, 0));
  EXPECT_STREQ(info.channel[1].name, "Magenta");
  EXPECT_FALSE(SP_get_default_color_info(nullptr, 4, 0, 0));
}

// A repository folder whose printer has the given page sizes XML and default.
std::string MakeRepository(const klv::test::ScratchFolder& dir, const std::string& pages,
                           const std::string& default_page) {
  klv::test::write_text(
      dir.path("repo/.Settings.xml"),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Printer name=\"T\" device=\"T Device\" "
      "active=\"1\" ppd=\"\" tcpAdditionalPort=\"\" tcpDefaultPort=\"\" defaultMedia=\"\" "
      "defaultPageSize=\"" +
          default_page + "\">\n<PageSizes>" + pages + "</PageSizes>\n</Printer>\n");
  return dir.path("repo/");
}

TEST_F(SpCalls, LoadInfoRepairsTheDefaultPageSize) {
  klv::test::ScratchFolder dir("loadinfo");
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);

  // No page sizes: one page as big as the printable area becomes the default.
  PRNTINFO* empty = prntinfo_load_info(MakeRepository(dir, "", "A4").c_str());
  ASSERT_NE(empty, nullptr);
  rec.set_prntinfo(empty, 0);
  SP_INFO* info = SP_load_info(object, "folder");
  ASSERT_NE(info, nullptr);
  EXPECT_TRUE(rec.Logged("load_info folder"));
  EXPECT_EQ(info->prntinfo, empty);
  EXPECT_STREQ(empty->default_page_size, "Default");
  SSTRAL* pages = prntinfo_page_sizes(empty, nullptr);
  ASSERT_EQ(stral_count(pages), 1);
  EXPECT_STREQ(stral_str(pages, 0, 0), "Default");
  EXPECT_STREQ(stral_str(pages, 0, 1), "24 in");
  EXPECT_STREQ(stral_str(pages, 0, 2), "100 in");
  EXPECT_STREQ(stral_str(pages, 0, 3), "Custom");
  EXPECT_STREQ(stral_str(pages, 0, 4), "Roll");  // longer than 93.62 inches
  double width = 0, height = 0;
  EXPECT_EQ(prntinfo_page_size(empty, nullptr, nullptr, &width, &height), 1);
  EXPECT_DOUBLE_EQ(width, 24.0);
  SP_free_info(object, info);
  prntinfo_free(empty);

  // A default that is not in the list becomes the first page with an area.
  klv::test::ScratchFolder dir2("loadinfo2");
  PRNTINFO* listed = prntinfo_load_info(
      MakeRepository(dir2,
                     "<PageSize name=\"Zero\" width=\"0\" height=\"5\" extra=\"\" path=\"Sheet\"/>"
                     "<PageSize name=\"A4\" width=\"210mm\" height=\"297mm\" extra=\"\" "
                     "path=\"Sheet\"/>",
                     "Missing")
          .c_str());
  ASSERT_NE(listed, nullptr);
  rec.set_prntinfo(listed, 0);
  info = SP_load_info(object, "folder");
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(listed->default_page_size, "A4");
  SP_free_info(object, info);
  prntinfo_free(listed);

  // No info, and an info without a printer record.
  rec.set_prntinfo(nullptr, 1);
  EXPECT_EQ(SP_load_info(object, "folder"), nullptr);
  EXPECT_EQ(object->status, SP_ERR_NO_REPOSITORY);
  EXPECT_EQ(SP_init_from_repository(object, "folder", ""), SP_ERR_NO_INFO);
  rec.set_prntinfo(nullptr, 0);
  info = SP_load_info(object, "folder");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(object->status, SP_ERR_NO_PRNTINFO);
  SP_free_info(object, info);
  SP_close(object);
}

TEST_F(SpCalls, InitFromInfoKeepsTheDriversCopyUntilClose) {
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);
  SP_INFO info{sizeof(SP_INFO), nullptr};
  EXPECT_EQ(SP_init_from_info(object, &info, "settings"), 0);
  EXPECT_TRUE(rec.Logged("init_from_info info settings"));
  ASSERT_NE(object->info, nullptr);
  EXPECT_NE(object->info, &info);
  // Again: the earlier copy is freed.
  rec.clear_log();
  EXPECT_EQ(SP_init_from_info(object, object->info, ""), 0);
  EXPECT_TRUE(rec.Logged("copy_info"));
  EXPECT_TRUE(rec.Logged("free_info"));
  rec.clear_log();
  SP_close(object);
  EXPECT_EQ(std::string(rec.log()), "free_info\ncommand 25 caps\nclose\n");

  rec.drop(32);  // copy_info
  object = Open();
  EXPECT_EQ(SP_init_from_info(object, &info, ""), 0);
  EXPECT_EQ(object->status, SP_ERR_NO_ENTRY);
  EXPECT_EQ(object->info, nullptr);
  SP_close(object);

  rec.drop(3);  // init_from_info
  object = Open();
  EXPECT_EQ(SP_init_from_info(object, &info, ""), SP_ERR_NO_ENTRY);
  SP_close(object);
}

TEST_F(SpCalls, CapabilitiesAreFilledThroughCommand26) {
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);
  object->capabilities = nullptr;
  rec.clear_log();
  EXPECT_EQ(SP_get_capabilities(object), rec.caps());
  EXPECT_TRUE(rec.Logged("command 26 arg"));
  EXPECT_EQ(object->capabilities, rec.caps());
  rec.clear_log();
  EXPECT_EQ(SP_get_capabilities(object), rec.caps());
  EXPECT_FALSE(rec.Logged("command 26 arg"));  // already filled
  SP_close(object);
}

TEST_F(SpCalls, ExtendedInfoGoesThroughCommands) {
  SP_OBJECT* object = Open();
  ASSERT_NE(object, nullptr);
  rec.clear_log();
  EXPECT_EQ(SP_load_infoex(object, "f"), nullptr);
  EXPECT_EQ(object->status, SP_STATUS_PENDING);
  SP_free_infoex(object, nullptr);
  SP_save_infoex(object, nullptr, "f");
  SP_insert_mediaex(object, nullptr, nullptr);
  SP_get_mediaex(object, nullptr, "m");
  EXPECT_EQ(std::string(rec.log()),
            "command 20 arg\ncommand 21 null\ncommand 22 null\ncommand 23 null\ncommand 24 "
            "null\n");
  SP_close(object);
}

}  // namespace
