// SPDX-License-Identifier: MIT
// Job settings files: a job folder, a lone file, a job volume's member, the
// enciphered form of a record that may not be changed, damaged and hostile
// files, the `Default_Config` block and printer presets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/files.h"
#include "klv/job_settings.h"
#include "klv/job_settings_cxx.h"
#include "klv/kernel.h"
#include "support/log_capture.h"
#include "support/resources.h"

namespace {

using klv::test::LogCapture;
using klv::test::ResourceCheck;
using klv::test::ScratchFolder;

klv::SettingsPtr sample() {
  klv::SettingsPtr s(settings_new());
  std::snprintf(s->Imagepath, sizeof s->Imagepath, "%s", "/images/a b.tif");
  std::snprintf(s->PrintDev, sizeof s->PrintDev, "%s", "Demo Printer");
  std::snprintf(s->PrintRes, sizeof s->PrintRes, "%s", "720x720");
  std::snprintf(s->PrintMode, sizeof s->PrintMode, "%s", "720 dpi, Stochastic");
  s->Precision = 4;
  s->NumCopies = 3;
  s->CopyGap = 0.5;
  s->PrintBatch = settings_batch_new();
  std::snprintf(s->PrintBatch->BatchName, sizeof s->PrintBatch->BatchName, "%s", "spring");
  return s;
}

TEST(SettingsFiles, JobFolderAndLoneFileRoundTrip) {
  ScratchFolder dir("job");
  klv::SettingsPtr s = sample();
  ASSERT_EQ(put_job_settings(dir.str().c_str(), s.get()), 1);
  EXPECT_EQ(klv::test::read_text(dir.path("Settings")), klv::text_of(*s));
  EXPECT_EQ(dir.entries(), 1u);  // no temporary left beside it
  klv::SettingsPtr back = klv::load_job_settings(dir.str().c_str());
  ASSERT_TRUE(back);
  EXPECT_EQ(klv::text_of(*back), klv::text_of(*s));
  // A path that is the file itself.
  back = klv::load_job_settings(dir.path("Settings").c_str());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->NumCopies, 3);
  // Saving through the job's path picks the folder's file.
  s->NumCopies = 9;
  ASSERT_EQ(job_settings_save(dir.str().c_str(), s.get()), 1);
  EXPECT_EQ(klv::load_job_settings(dir.str().c_str())->NumCopies, 9);
}

TEST(SettingsFiles, UnmodifiableRecordIsStoredEnciphered) {
  ScratchFolder dir("eset");
  klv::SettingsPtr s = sample();
  s->UnmodifiableFlag = 1;
  const std::string path = dir.path("Settings");
  ASSERT_EQ(put_settings(path.c_str(), s.get()), 1);
  std::string bytes = klv::test::read_text(path);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 4), "ESET");
  EXPECT_EQ(bytes.find("Settings"), std::string::npos);
  EXPECT_EQ(bytes.find("Demo Printer"), std::string::npos);
  klv::SettingsPtr back(settings_new());
  ASSERT_EQ(get_settings(dir.str().c_str(), back.get()), 1);
  EXPECT_EQ(back->UnmodifiableFlag, 1);
  EXPECT_EQ(klv::text_of(*back), klv::text_of(*s));
}

TEST(SettingsFiles, JobVolumeMember) {
  ScratchFolder dir("vol");
  const std::string path = dir.path("job.vol");
  klv::SettingsPtr s = sample();
  s->UnmodifiableFlag = 1;  // enciphered inside the volume too
  SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(put_vol_settings(v, s.get()), 1);
  klv::SettingsPtr back(settings_new());
  ASSERT_EQ(get_settings_from_vol(v, back.get()), 1);
  EXPECT_EQ(klv::text_of(*back), klv::text_of(*s));
  ASSERT_EQ(VClose(v), 0);

  back.reset(settings_new());
  ASSERT_EQ(get_vol_settings(path.c_str(), back.get(), KLV_VOL_READ), 1);
  EXPECT_STREQ(back->Imagepath, "/images/a b.tif");
  s->NumCopies = 12;
  ASSERT_EQ(job_settings_save(path.c_str(), s.get()), 1);
  klv::SettingsPtr loaded = klv::load_job_settings(path.c_str());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->NumCopies, 12);
}

TEST(SettingsFiles, HostileFilesFailClearly) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* logged;
  };
  const Case cases[] = {
      {"empty", "", "does not begin"},
      {"other block", "Printer_Info {\n}\n", "does not begin"},
      {"no brace", "Settings NumCopies { 1 }\n", "not followed"},
      {"not closed", "Settings {\n NumCopies { 1 }\n", "not closed"},
      {"value not closed", "Settings {\n JobName { x\n", "not closed"},
      {"deep lists", "Settings {\n X " + std::string(300, '{'), "nested"},
      {"binary", std::string("\x00\xff\x01{{}}\"\n;", 10), "does not begin"},
      {"enciphered junk", "ESET\x01\x02\x03 garbage", "does not begin"},
      {"quote not closed", "Settings {\n JobName { \"abc }\n}\n", "not closed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder dir("hostile");
    dir.write("Settings", c.bytes);
    ResourceCheck resources({dir.str()});
    LogCapture log;
    klv::SettingsPtr s(settings_new());
    EXPECT_EQ(get_settings(dir.str().c_str(), s.get()), 0);
    EXPECT_NE(log.Text().find(c.logged), std::string::npos) << log.Text();
    EXPECT_EQ(resources.Leaks(), "");
  }
}

TEST(SettingsFiles, MissingFilesFail) {
  ScratchFolder dir("missing");
  LogCapture log;
  EXPECT_EQ(klv::load_job_settings(dir.path("nothing").c_str()), nullptr);
  EXPECT_EQ(klv::load_job_settings(dir.str().c_str()), nullptr);
  settings s{};
  EXPECT_EQ(get_vol_settings(dir.path("none.vol").c_str(), &s, KLV_VOL_READ), 0);
  EXPECT_NE(log.Text().find("cannot open"), std::string::npos);
  EXPECT_EQ(put_settings(dir.path("no/such/folder/Settings").c_str(), &s), 0);
  EXPECT_EQ(get_settings(nullptr, &s), 0);
  EXPECT_EQ(put_settings(nullptr, &s), 0);
}

TEST(SettingsFiles, DefaultConfigBlock) {
  ScratchFolder dir("config");
  klv::SettingsPtr s = sample();
  s->RulerOrigin = 2;
  s->PrintLabelSize = 12;
  s->JobType = 3;
  std::snprintf(s->JobName, sizeof s->JobName, "%s", "not a default");
  const std::string path = dir.path("Default_Config");
  ASSERT_EQ(put_setconfig(path.c_str(), s.get()), 1);
  std::string text = klv::test::read_text(path);
  EXPECT_EQ(text.rfind("Default_Config {\n", 0), 0u);
  EXPECT_NE(text.find(" RulerOrigin { 2 }\n"), std::string::npos);
  EXPECT_NE(text.find(" PrintLabelSize { 12 }\n"), std::string::npos);
  EXPECT_EQ(text.find("JobName"), std::string::npos);
  EXPECT_EQ(text.find("Imagepath"), std::string::npos);
  EXPECT_LT(text.find("PrintDev"), text.find("PrintMaxX"));
  EXPECT_LT(text.find("PrintLabel {"), text.find("JobType"));
  klv::SettingsPtr back(settings_new());
  ASSERT_EQ(get_setconfig(path.c_str(), back.get()), 1);
  EXPECT_EQ(back->RulerOrigin, 2);
  EXPECT_EQ(back->PrintLabelSize, 12);
  EXPECT_EQ(back->JobType, 3);
  EXPECT_STREQ(back->PrintDev, "Demo Printer");
  EXPECT_STREQ(back->JobName, "");
  // A file without the block.
  LogCapture log;
  dir.write("other", "Settings {\n}\n");
  EXPECT_EQ(get_setconfig(dir.path("other").c_str(), back.get()), 0);
  EXPECT_NE(log.Text().find("Default_Config"), std::string::npos);
}

pset* preset(int placement, double gap, const char* media) {
  pset* p = static_cast<pset*>(calloc(1, sizeof(pset)));
  p->set.Placement = static_cast<uint8_t>(placement);
  p->set.CopyGap = gap;
  p->set.CopyGapY = gap * 2;
  std::snprintf(p->set.PrintMedia, sizeof p->set.PrintMedia, "%s", media);
  return p;
}

TEST(SettingsFiles, PrinterPresetsRoundTrip) {
  ScratchFolder dir("psets");
  klv::PresetsPtr list(preset(1, 0.5, "Glossy Photo"));
  list->next = preset(2, 0.25, "Matte");
  list->set.PrintMaxX = 44;
  std::snprintf(list->set.JobName, sizeof list->set.JobName, "%s", "not a preset field");
  const std::string path = dir.path("Printer_Sets");
  ASSERT_EQ(save_psets(nullptr, path.c_str(), list.get()), 1);
  std::string text = klv::test::read_text(path);
  EXPECT_EQ(text.rfind("Printer_Sets {\n Settings {\n  PrintDev { \"\" }\n", 0), 0u);
  EXPECT_NE(text.find("  PrintMaxx { 44.000000000000000 }\n"), std::string::npos);
  EXPECT_EQ(text.find("JobName"), std::string::npos);

  klv::PresetsPtr back(load_psets(nullptr, path.c_str()));
  ASSERT_TRUE(back);
  ASSERT_NE(back->next, nullptr);
  EXPECT_EQ(back->next->next, nullptr);
  EXPECT_STREQ(back->set.PrintMedia, "Glossy Photo");
  EXPECT_DOUBLE_EQ(back->set.PrintMaxX, 44);
  EXPECT_DOUBLE_EQ(back->next->set.CopyGapY, 0.5);
  EXPECT_STREQ(back->set.JobName, "");

  EXPECT_EQ(find_pset(back.get(), 2), back->next);
  EXPECT_EQ(find_pset(back.get(), 9), nullptr);
}

TEST(SettingsFiles, PresetWithoutVerticalGapTakesTheHorizontalOne) {
  ScratchFolder dir("gap");
  dir.write("Printer_Sets",
            "Printer_Sets {\n Settings {\n  Placement { 1 }\n  CopyGap { 0.3 }\n }\n"
            " Settings {\n  Placement { 2 }\n  CopyGap { 0.3 }\n  CopyGapY { 0 }\n }\n}\n");
  klv::PresetsPtr list(load_psets(nullptr, dir.path("Printer_Sets").c_str()));
  ASSERT_TRUE(list);
  EXPECT_DOUBLE_EQ(list->set.CopyGapY, 0.3);
  EXPECT_DOUBLE_EQ(list->next->set.CopyGapY, 0.0);
  // One preset as a lone block.
  dir.write("one", "Settings {\n  Placement { 4 }\n  CopyGap { 0.7 }\n}\n");
  pset* one = load_printer_settings(nullptr, dir.path("one").c_str());
  ASSERT_NE(one, nullptr);
  EXPECT_DOUBLE_EQ(one->set.CopyGapY, 0.7);
  ASSERT_EQ(save_printer_settings(nullptr, dir.path("two").c_str(), one), 1);
  pset* two = load_printer_settings(nullptr, dir.path("two").c_str());
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->set.Placement, 4);
  free_psets(one);
  free_psets(two);
  LogCapture log;
  dir.write("bad", "Printer_Sets {\n Settings {\n  Placement { 999 }\n }\n}\n");
  EXPECT_EQ(load_psets(nullptr, dir.path("bad").c_str()), nullptr);
  EXPECT_NE(log.Text().find("Placement"), std::string::npos);
}

TEST(SettingsFiles, AddCopyAndMovePresets) {
  klv::PresetsPtr list(preset(1, 0.5, "A"));
  pset* changed = preset(1, 0.9, "B");
  pset* added = preset(3, 0.1, "C");
  pset* head = add_pset(list.release(), changed);  // replaces placement 1
  head = add_pset(head, added);                    // new: goes in front
  list.reset(head);
  EXPECT_STREQ(list->set.PrintMedia, "C");
  ASSERT_NE(list->next, nullptr);
  EXPECT_STREQ(list->next->set.PrintMedia, "B");
  EXPECT_EQ(list->next->next, nullptr);
  free_psets(changed);
  free_psets(added);

  klv::PresetsPtr copy(copy_psets(list.get()));
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.get(), list.get());
  EXPECT_STREQ(copy->next->set.PrintMedia, "B");

  // Only the preset's fields move between a preset and a job.
  klv::SettingsPtr job(settings_new());
  std::snprintf(job->JobName, sizeof job->JobName, "%s", "mine");
  job->NumCopies = 5;
  pset_to_set(list.get(), job.get());
  EXPECT_STREQ(job->PrintMedia, "C");
  EXPECT_STREQ(job->JobName, "mine");
  job->TileFlip = 1;
  set_to_pset(job.get(), list.get());
  EXPECT_EQ(list->set.TileFlip, 1);
  EXPECT_EQ(list->set.NumCopies, 0);
}

}  // namespace
