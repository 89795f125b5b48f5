// SPDX-License-Identifier: MIT
// The processing record: its exact stored form, blocks appended to one file
// and read back by number, the forms the reader accepts and what it refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/files.h"
#include "klv/job_settings_cxx.h"
#include "klv/kernel.h"
#include "klv/proc_info.h"
#include "support/log_capture.h"
#include "support/resources.h"

namespace {

using klv::test::LogCapture;
using klv::test::ResourceCheck;
using klv::test::ScratchFolder;

const char kFull[] =
    "Proc_Info {\n"
    " BitsPerSample{ 2 }\n"
    " ImageFile { \"/images/poster one.tif\" }\n"
    " UccFile { \"\" }\n"
    " ProcessProfiles { \"in.icc out.icc\" }\n"
    " ProcessOpts { 268451840 }\n"
    " JobID { J-42 }\n"
    " PrintXMod { 2 }\n"
    " ProcLevelInfo {\n"
    "  { 4 { 0 5555 AAAA FFFF  } }\n"
    "  { 0 { 0  } }\n"
    "  { 2 { 0  } }\n"
    " }\n"
    " ProcessStartDate { \"2026-12-11\" }\n"
    " ProcessStartTime { \"01:02:03\" }\n"
    " ProcessTotalTime { \"00:00:42\" }\n"
    " PrinterCCT { \"\" }\n"
    " ScannerCCT { \"\" }\n"
    " Separations { Cyan \"\" \"Light Black\" }\n"
    " PrintPattern { \"Stochastic\" }\n"
    " ProcCrop { 0.000000000000000 0.500000000000000 10.000000000000000 8.000000000000000 }\n"
    " DotCountNorm { -3 }\n"
    " DotCount {\n"
    "  { \"Cyan\" 18446744073709551615 0.250000000000000 7 }\n"
    "  { \"Light Black\" 0 0.000000000000000 0 }\n"
    " }\n"
    " Process16Bit { 1 }\n"
    "}\n";

klv::ProcInfoPtr full() {
  klv::ProcInfoPtr p(proc_info_new());
  proc_info& r = *p;
  r.BitsPerSample = 2;
  std::strcpy(r.ImageFile, "/images/poster one.tif");
  std::strcpy(r.ProcessProfiles, "in.icc out.icc");
  // Bit 14 set with bit 28 set: the tables are still written.
  r.ProcessOpts = KLV_PROC_OPT_NO_LEVELS | KLV_PROC_OPT_LEVELS_ANYWAY;
  std::strcpy(r.JobID, "J-42");
  r.PrintXMod = 2;
  r.ProcLevelInfo[0].levels = 4;
  r.ProcLevelInfo[0].values[1] = 0x5555;
  r.ProcLevelInfo[0].values[2] = 0xAAAA;
  r.ProcLevelInfo[0].values[3] = 0xFFFF;
  r.ProcLevelInfo[2].levels = 2;  // in use, all values zero
  std::strcpy(r.ProcessStartDate, "2026-12-11");
  std::strcpy(r.ProcessStartTime, "01:02:03");
  std::strcpy(r.ProcessTotalTime, "00:00:42");
  std::strcpy(r.Separations[0], "Cyan");
  std::strcpy(r.Separations[2], "Light Black");
  std::strcpy(r.PrintPattern, "Stochastic");
  r.ProcCropSet = 1;
  r.ProcCrop[1] = 0.5;
  r.ProcCrop[2] = 10;
  r.ProcCrop[3] = 8;
  r.DotCountNorm = -3;
  std::strcpy(r.DotCount[0].name, "Cyan");
  r.DotCount[0].count = UINT64_MAX;
  r.DotCount[0].value = 0.25;
  r.DotCount[0].count2 = 7;
  std::strcpy(r.DotCount[1].name, "Light Black");
  r.Process16Bit = 1;
  return p;
}

TEST(ProcInfo, FullRecordWritesExactlyAndReadsBack) {
  klv::ProcInfoPtr r = full();
  EXPECT_EQ(klv::text_of(*r), kFull);
  ScratchFolder dir("proc");
  const std::string path = dir.write("Proc_Info", kFull);
  klv::ProcInfoPtr back = klv::load_proc_info(path.c_str());
  ASSERT_TRUE(back);
  EXPECT_EQ(klv::text_of(*back), kFull);
  EXPECT_EQ(back->ProcLevelInfo[0].values[3], 0xFFFF);
  EXPECT_EQ(back->ProcLevelInfo[2].levels, 2);
  // The empty name keeps its place: the third name stays third.
  EXPECT_STREQ(back->Separations[1], "");
  EXPECT_STREQ(back->Separations[2], "Light Black");
  EXPECT_EQ(back->DotCount[0].count, UINT64_MAX);
  EXPECT_EQ(back->DotCount[0].count2, 7u);
}

TEST(ProcInfo, MinimalRecordAndTheDefaultBitsPerSample) {
  klv::ProcInfoPtr r(proc_info_new());
  const char kMinimal[] =
      "Proc_Info {\n ImageFile { \"\" }\n UccFile { \"\" }\n ProcessStartDate { \"\" }\n"
      " ProcessStartTime { \"\" }\n ProcessTotalTime { \"\" }\n PrinterCCT { \"\" }\n"
      " ScannerCCT { \"\" }\n PrintPattern { \"\" }\n}\n";
  EXPECT_EQ(klv::text_of(*r), kMinimal);
  r->BitsPerSample = 0;  // 0 is not written either
  EXPECT_EQ(klv::text_of(*r), kMinimal);
  ScratchFolder dir("minimal");
  const std::string path = dir.path("Proc_Info");
  ASSERT_EQ(put_prtinfo(nullptr, path.c_str(), r.get()), 1);
  klv::ProcInfoPtr back = klv::load_proc_info(path.c_str());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->BitsPerSample, 1);
}

TEST(ProcInfo, LevelTablesLeftOutUnderTheOptionBit) {
  klv::ProcInfoPtr r = full();
  r->ProcessOpts = KLV_PROC_OPT_NO_LEVELS;
  EXPECT_EQ(klv::text_of(*r).find("ProcLevelInfo"), std::string::npos);
  r->ProcessOpts = 0;
  for (proc_level_table& t : r->ProcLevelInfo) t.levels = 1;  // none in use
  EXPECT_EQ(klv::text_of(*r).find("ProcLevelInfo"), std::string::npos);
}

TEST(ProcInfo, AppendedBlocksReadBackInOrder) {
  ScratchFolder dir("append");
  const std::string path = dir.path("Proc_Info");
  for (int i = 0; i < 3; ++i) {
    klv::ProcInfoPtr r = full();
    r->DotCountNorm = i;
    std::snprintf(r->JobID, sizeof r->JobID, "run %d", i);
    ASSERT_EQ(put_prtinfo(nullptr, path.c_str(), r.get()), 1);
  }
  EXPECT_EQ(count_prtinfo(nullptr, path.c_str()), 3);
  proc_info r{};
  ASSERT_EQ(get_prtinfo(nullptr, path.c_str(), &r), 1);
  EXPECT_STREQ(r.JobID, "run 0");
  for (int i = 0; i < 3; ++i) {
    klv::ProcInfoPtr at = klv::load_proc_info(path.c_str(), i);
    ASSERT_TRUE(at);
    EXPECT_EQ(at->DotCountNorm, i);
    EXPECT_EQ(at->BitsPerSample, 2);
  }
  LogCapture log;
  EXPECT_FALSE(klv::load_proc_info(path.c_str(), 3));
  EXPECT_NE(log.Text().find("number 4"), std::string::npos);
}

TEST(ProcInfo, AppendsToAVolumeMember) {
  ScratchFolder dir("vol");
  SOVolume* v = VOpen(nullptr, dir.path("job.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  klv::ProcInfoPtr r = full();
  ASSERT_EQ(put_prtinfo(v, ".\\Proc_Info", r.get()), 1);
  r->DotCountNorm = 77;
  ASSERT_EQ(put_prtinfo(v, ".\\Proc_Info", r.get()), 1);
  EXPECT_EQ(count_prtinfo(v, ".\\Proc_Info"), 2);
  proc_info back{};
  ASSERT_EQ(get_prtinfo_at(v, ".\\Proc_Info", 1, &back), 1);
  EXPECT_EQ(back.DotCountNorm, 77);
  EXPECT_EQ(VClose(v), 0);
}

TEST(ProcInfo, ShortDotCountEntriesAndOtherBlocks) {
  ScratchFolder dir("short");
  const std::string path = dir.write(
      "Proc_Info",
      "Other { X { 1 } }\nProc_Info {\n DotCount {\n  { Cyan 12 }\n  { \"Light Cyan\" 5 0.5 }\n }\n"
      " Unknown { 1 2 }\n bitspersample { 8 }\n}\n");
  proc_info r{};
  ASSERT_EQ(get_prtinfo(nullptr, path.c_str(), &r), 1);
  EXPECT_STREQ(r.DotCount[0].name, "Cyan");
  EXPECT_EQ(r.DotCount[0].count, 12u);
  EXPECT_EQ(r.DotCount[0].value, 0.0);
  EXPECT_EQ(r.DotCount[0].count2, 0u);
  EXPECT_DOUBLE_EQ(r.DotCount[1].value, 0.5);
  EXPECT_EQ(r.BitsPerSample, 8);
}

TEST(ProcInfo, HostileBlocksAreRefused) {
  const std::pair<const char*, const char*> cases[] = {
      {"ProcLevelInfo { { 4 { 10000 } } }", "ProcLevelInfo"},
      {"ProcLevelInfo { { 256 { 1 } } }", "ProcLevelInfo"},
      {"ProcLevelInfo { { 2 { -1 } } }", "ProcLevelInfo"},
      {"ProcLevelInfo { { 2 { 1 } }", "not closed"},
      {"ProcLevelInfo { 4 }", "ProcLevelInfo"},
      {"DotCount { { Cyan } }", "DotCount"},
      {"DotCount { { Cyan -1 } }", "DotCount"},
      {"DotCount { { Cyan 1 nan } }", "DotCount"},
      {"DotCount { { Cyan 1 0.5 2 3 } }", "DotCount"},
      {"DotCount { { Cyan 99999999999999999999 } }", "DotCount"},
      {"ProcCrop { 1 2 3 }", "ProcCrop"},
      {"BitsPerSample { 300 }", "BitsPerSample"},
      {"Separations { { a } }", "Separations"},
  };
  for (const auto& [entry, named] : cases) {
    SCOPED_TRACE(entry);
    ScratchFolder dir("hostile");
    const std::string path = dir.write("P", std::string("Proc_Info {\n ") + entry + "\n}\n");
    ResourceCheck resources({dir.str()});
    LogCapture log;
    proc_info r{};
    EXPECT_EQ(get_prtinfo(nullptr, path.c_str(), &r), 0);
    EXPECT_NE(log.Text().find(named), std::string::npos) << log.Text();
    EXPECT_EQ(resources.Leaks(), "");
  }
  std::string many = "Proc_Info {\n ProcLevelInfo {\n";
  for (int i = 0; i < 13; ++i) many += "  { 2 { 1 } }\n";
  ScratchFolder dir("many");
  const std::string path = dir.write("P", many + " }\n}\n");
  proc_info r{};
  EXPECT_EQ(get_prtinfo(nullptr, path.c_str(), &r), 0);
  EXPECT_EQ(get_prtinfo(nullptr, dir.path("none").c_str(), &r), 0);
  dir.write("empty", "");
  EXPECT_EQ(get_prtinfo(nullptr, dir.path("empty").c_str(), &r), 0);
  EXPECT_EQ(count_prtinfo(nullptr, dir.path("empty").c_str()), 0);
}

TEST(ProcInfo, ExtraSeparationsAndDotCountsAreIgnored) {
  std::string text = "Proc_Info {\n Separations {";
  for (int i = 0; i < 14; ++i) text += " s" + std::to_string(i);
  text += " }\n DotCount {\n";
  for (int i = 0; i < 32; ++i) text += "  { d" + std::to_string(i) + " 1 }\n";
  text += " }\n}\n";
  ScratchFolder dir("extra");
  const std::string path = dir.write("P", text);
  proc_info r{};
  ASSERT_EQ(get_prtinfo(nullptr, path.c_str(), &r), 1);
  EXPECT_STREQ(r.Separations[11], "s11");
  EXPECT_STREQ(r.DotCount[29].name, "d29");
}

}  // namespace
