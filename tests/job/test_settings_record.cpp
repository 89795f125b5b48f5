// SPDX-License-Identifier: MIT
// The job settings record as text: the writer's exact lines for a full and
// an empty record, reading them back, keys in any letter case, the old
// unquoted forms, the settling of a record after reading, and values that
// are cut or refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/files.h"
#include "klv/job_settings.h"
#include "klv/job_settings_cxx.h"
#include "klv/printmode.h"
#include "support/log_capture.h"

namespace {

using klv::test::LogCapture;
using klv::test::ScratchFolder;

// Every "always" key, in order: what a record of zeros writes.
const char kEmptyRecord[] =
    "Settings {\n"
    " Setpath { \"\" }\n"
    " Imagepath { \"\" }\n"
    " Colorpath { \"\" }\n"
    " Printpath { \"\" }\n"
    " ImageDev { \"\" }\n"
    " ProcessRotation { 0 }\n"
    " ColorCorrect { 0 }\n"
    " PrintDev { \"\" }\n"
    " PrintMedia { \"\" }\n"
    " MediaSourceId { 0 }\n"
    " PrintRes { \"\" }\n"
    " PrintMaxX { 0.000000000000000 }\n"
    " PrintMaxY { 0.000000000000000 }\n"
    " CopyGap { 0.000000000000000 }\n"
    " CopyGapY { 0.000000000000000 }\n"
    " PrintLabel { \"\" }\n"
    " PrintLabelSpace { 0.000000000000000 }\n"
    " UserComment { \"\" }\n"
    " JDFName { \"\" }\n"
    " JDFPath { \"\" }\n"
    " JDFOutputPath { \"\" }\n"
    "}\n";

// A record using every value form: texts quoted always or when needed,
// lower- and upper-case hexadecimal, numbers in quotes, the "}," line, reals,
// groups of four, the wall-art group, the blocks.
const char kFullRecord[] =
    "Settings {\n"
    " Setpath { \"/jobs/J1\" }\n"
    " Imagepath { \"/images/poster one.tif\" }\n"
    " Originalpath { \"C:\\Images\\poster.tif\" }\n"
    " JobName { \"Poster one\" }\n"
    " ImageRefId { 00abcdef }\n"
    " Colorpath { \"/jobs/J1/Color\" }\n"
    " ColorWaysPath { \"/ways\" }\n"
    " Printpath { \"/jobs/J1/print\" }\n"
    " UnitMode { 1 }\n"
    " Precision { 3 }\n"
    " RulerOrigin { 2 },\n"
    " ZoomMode { 200 }\n"
    " ImageDev { \"TIFF\" }\n"
    " ProcessRotation { 90 }\n"
    " ColorCorrect { 1 }\n"
    " PrintDev { \"Demo Printer\" }\n"
    " PrintMedia { \"Glossy Photo\" }\n"
    " MediaId { \"4000000000\" }\n"
    " MediaSourceId { 7 }\n"
    " PrintMode { \"720 dpi, Stochastic\" }\n"
    " PrintRes { \"720x720\" }\n"
    " PrintMaxX { 24.500000000000000 }\n"
    " PrintMaxY { 36.125000000000000 }\n"
    " PrintMarginX { 0.250000000000000 }\n"
    " CopyGap { 0.500000000000000 }\n"
    " CopyGapY { 0.750000000000000 }\n"
    " HorizontalCopy { 2 }\n"
    " Placement { 3 }\n"
    " TriggerTime { 86400 }\n"
    " LeftOffset { -1.500000000000000 }\n"
    " PrintLabel { \"\" }\n"
    " PrintLabelSize { \"12\" }\n"
    " PrintLabelSpace { 0.100000000000000 }\n"
    " UserComment { \"rush, \\\\server\\share\" }\n"
    " PatternDif { 5 }\n"
    " PatternOpt { \"fine\" }\n"
    " NumCopies { 65535 }\n"
    " Template { 0000BEEF }\n"
    " CreateDate { 07EA0C0B }\n"
    " UnmodifiableFlag { 1 }\n"
    " CutMargins { 0.125000000000000 0.000000000000000 0.250000000000000 1.000000000000000 }\n"
    " CutMarkSet { 1 0 255 4 }\n"
    " CutSize { 0.050000000000000 }\n"
    " JobExpireDate { FFFFFFFF }\n"
    " JDFName { \"\" }\n"
    " JDFPath { \"\" }\n"
    " JDFOutputPath { \"\" }\n"
    " WallArtQueueId { \"Q7\" }\n"
    " WallArtFinished { 0 }\n"
    " WallArtJDFPath { \"\" }\n"
    " Cropping {\n"
    "  Width { 10.000000000000000 }\n"
    "  Height { 8.000000000000000 }\n"
    "  Box { 1.000000000000000 2.000000000000000 11.000000000000000 10.000000000000000 }\n"
    "  NoTiles { 4 }\n"
    "  TileWidth { 5.000000000000000 }\n"
    "  TileHeight { 4.000000000000000 }\n"
    "  Overlap { 0.250000000000000 }\n"
    "  OverlapWhiteSpace { 0.000000000000000 }\n"
    "  LastBleedTileLeft { 0.000000000000000 }\n"
    "  LastBleedTileRight { 0.000000000000000 }\n"
    "  LastBleedTileTop { 0.000000000000000 }\n"
    "  LastBleedTileBottom { 0.000000000000000 }\n"
    "  TileX {\n"
    "   0.000000000000000\n"
    "   5.000000000000000\n"
    "  }\n"
    "  ExNames {\n"
    "   \"tile 1\"\n"
    "   \"\"\n"
    "  }\n"
    "  Border { 0.500000000000000 1 2 3 4 }\n"
    "  Bleed { 0 0.100000000000000 0.200000000000000 0.000000000000000 0.000000000000000 "
    "0.000000000000000 0.000000000000000 0.000000000000000 0.000000000000000 1 0 0 0 0 0 0 -1 "
    "0.000000000000000 0.000000000000000 3 0 0}\n"
    "  BleedPixel { 255 255 255 0 0 0 0 0 0 0 0 9 }\n"
    " }\n"
    " MetadataJobNum { 4711 }\n"
    " MetadataNotes { \"deliver by noon\" }\n"
    " PrintBatch {\n"
    "  BatchCopies { 2 }\n"
    "  BatchId { B-17 }\n"
    "  BatchName { \"Spring posters\" }\n"
    "  JobsInBatch { 3 }\n"
    "  SeqNum { \"\" }\n"
    "  BatchMarks { 1 }\n"
    " }\n"
    " NestXOffset { -20 }\n"
    " NestYGap { 0.125000000000000 }\n"
    " PrintOptions {\n"
    "   Finish \"Gloss laminate\" \n"
    "   Speed \"\" \n"
    " }\n"
    "}\n";

void set(char* field, size_t size, const char* text) {
  std::snprintf(field, size, "%s", text);
}
#define SET(rec, field, text) set((rec).field, sizeof(rec).field, text)

klv::SettingsPtr full_record() {
  klv::SettingsPtr p(settings_new());
  settings& s = *p;
  SET(s, Setpath, "/jobs/J1");
  SET(s, Imagepath, "/images/poster one.tif");
  SET(s, Originalpath, "C:\\Images\\poster.tif");
  SET(s, JobName, "Poster one");
  s.ImageRefId = 0xABCDEF;
  SET(s, Colorpath, "/jobs/J1/Color");
  SET(s, ColorWaysPath, "/ways");
  SET(s, Printpath, "/jobs/J1/print");
  s.UnitMode = 1;
  s.Precision = 3;
  s.RulerOrigin = 2;
  s.ZoomMode = 200;
  SET(s, ImageDev, "TIFF");
  s.ProcessRotation = 90;
  s.ColorCorrect = 1;
  SET(s, PrintDev, "Demo Printer");
  SET(s, PrintMedia, "Glossy Photo");
  s.MediaId = 4000000000u;
  s.MediaSourceId = 7;
  SET(s, PrintMode, "720 dpi, Stochastic");
  SET(s, PrintRes, "720x720");
  s.PrintMaxX = 24.5;
  s.PrintMaxY = 36.125;
  s.PrintMarginX = 0.25;
  s.CopyGap = 0.5;
  s.CopyGapY = 0.75;
  s.HorizontalCopy = 2;
  s.Placement = 3;
  s.TriggerTime = 86400;
  s.LeftOffset = -1.5;
  s.PrintLabelSize = 12;
  s.PrintLabelSpace = 0.1;
  SET(s, UserComment, "rush, \\\\server\\share");
  s.PatternDif = 5;
  SET(s, PatternOpt, "fine");
  s.NumCopies = 65535;
  s.Template = 0xBEEF;
  s.CreateDate = 0x07EA0C0B;
  s.UnmodifiableFlag = 1;
  s.CutMargins[0] = 0.125;
  s.CutMargins[2] = 0.25;
  s.CutMargins[3] = 1.0;
  s.CutMarkSet[0] = 1;
  s.CutMarkSet[2] = 255;
  s.CutMarkSet[3] = 4;
  s.CutSize = 0.05;
  s.JobExpireDate = 0xFFFFFFFF;
  SET(s, WallArtQueueId, "Q7");
  settings_crop* c = s.Cropping = settings_crop_new();
  c->Width = 10;
  c->Height = 8;
  c->Box[0] = 1, c->Box[1] = 2, c->Box[2] = 11, c->Box[3] = 10;
  c->NoTiles = 4;
  c->TileWidth = 5;
  c->TileHeight = 4;
  c->Overlap = 0.25;
  c->TileXCount = 2;
  c->TileX = static_cast<double*>(calloc(2, sizeof(double)));
  c->TileX[1] = 5;
  c->ExNamesCount = 2;
  c->ExNames = static_cast<char**>(calloc(2, sizeof(char*)));
  c->ExNames[0] = strdup("tile 1");
  c->ExNames[1] = strdup("");
  c->BorderWidth = 0.5;
  for (int i = 0; i < 4; ++i) c->Border[i] = i + 1;
  c->BleedOn = 1;
  c->BleedSizes[0] = 0.1;
  c->BleedSizes[1] = 0.2;
  c->BleedSwitches[0] = 1;
  c->BleedSwitches[7] = -1;
  c->BleedOptions[0] = 3;
  c->BleedPixel[0] = c->BleedPixel[1] = c->BleedPixel[2] = 255;
  c->BleedPixel[11] = 9;
  SET(s, MetadataJobNum, "4711");
  SET(s, MetadataNotes, "deliver by noon");
  settings_batch* b = s.PrintBatch = settings_batch_new();
  SET(*b, BatchCopies, "2");
  SET(*b, BatchId, "B-17");
  SET(*b, BatchName, "Spring posters");
  SET(*b, JobsInBatch, "3");
  b->BatchMarks = 1;
  s.NestXOffset = -20;
  s.NestYGap = 0.125;
  // Only the fifth and seventh slots: they come back as the first two.
  SET(s, PrintOptions[4].name, "Finish");
  SET(s, PrintOptions[4].value, "Gloss laminate");
  SET(s, PrintOptions[6].name, "Speed");
  return p;
}

klv::SettingsPtr read_text(const std::string& text, int32_t* ok = nullptr) {
  ScratchFolder dir("settings");
  dir.write("Settings", text);
  klv::SettingsPtr s(settings_new());
  int32_t r = get_settings(dir.str().c_str(), s.get());
  if (ok) *ok = r;
  return s;
}

TEST(SettingsRecord, EmptyRecordWritesOnlyTheAlwaysKeys) {
  klv::SettingsPtr s(settings_new());
  EXPECT_EQ(klv::text_of(*s), kEmptyRecord);
  int32_t ok = 0;
  klv::SettingsPtr back = read_text(kEmptyRecord, &ok);
  ASSERT_EQ(ok, 1);
  // Reading settles a zero precision to 4; nothing else changes.
  EXPECT_EQ(back->Precision, 4);
  back->Precision = 0;
  EXPECT_EQ(klv::text_of(*back), kEmptyRecord);
  EXPECT_EQ(back->Cropping, nullptr);
  EXPECT_EQ(back->PrintBatch, nullptr);
}

TEST(SettingsRecord, FullRecordWritesEveryFormExactly) {
  klv::SettingsPtr s = full_record();
  EXPECT_EQ(klv::text_of(*s), kFullRecord);
}

TEST(SettingsRecord, FullRecordReadsBackAndWritesTheSameBytes) {
  int32_t ok = 0;
  klv::SettingsPtr s = read_text(kFullRecord, &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(klv::text_of(*s), kFullRecord);
  EXPECT_STREQ(s->JobName, "Poster one");
  EXPECT_EQ(s->ImageRefId, 0xABCDEFu);
  EXPECT_EQ(s->RulerOrigin, 2);
  EXPECT_EQ(s->ZoomMode, 200);  // the key after the "}," line is a key, not a value
  EXPECT_EQ(s->MediaId, 4000000000u);
  EXPECT_EQ(s->PrintLabelSize, 12);
  EXPECT_EQ(s->JobExpireDate, 0xFFFFFFFFu);
  EXPECT_EQ(s->CutMarkSet[2], 255);
  EXPECT_EQ(s->NestXOffset, -20);
  EXPECT_DOUBLE_EQ(s->CutMargins[3], 1.0);
  ASSERT_NE(s->Cropping, nullptr);
  EXPECT_EQ(s->Cropping->TileXCount, 2);
  EXPECT_EQ(s->Cropping->TileYCount, 0);
  ASSERT_EQ(s->Cropping->ExNamesCount, 2);
  EXPECT_STREQ(s->Cropping->ExNames[0], "tile 1");
  EXPECT_EQ(s->Cropping->BleedSwitches[7], -1);
  EXPECT_EQ(s->Cropping->BleedPixel[11], 9u);
  ASSERT_NE(s->PrintBatch, nullptr);
  EXPECT_STREQ(s->PrintBatch->BatchName, "Spring posters");
  EXPECT_STREQ(s->MetadataNotes, "deliver by noon");
  EXPECT_STREQ(s->PrintOptions[0].name, "Finish");
  EXPECT_STREQ(s->PrintOptions[0].value, "Gloss laminate");
  EXPECT_STREQ(s->PrintOptions[1].name, "Speed");
  EXPECT_STREQ(s->PrintOptions[1].value, "");
  EXPECT_STREQ(s->PrintOptions[4].name, "");
}

TEST(SettingsRecord, CopyIsDeepAndWritesTheSame) {
  klv::SettingsPtr s = full_record();
  klv::SettingsPtr copy(settings_new());
  ASSERT_EQ(settings_copy(copy.get(), s.get()), 1);
  EXPECT_NE(copy->Cropping, s->Cropping);
  EXPECT_NE(copy->Cropping->ExNames, s->Cropping->ExNames);
  s.reset();
  EXPECT_EQ(klv::text_of(*copy), kFullRecord);
}

TEST(SettingsRecord, KeysInAnyLetterCaseReadTheSameRecord) {
  const std::string text =
      "SETTINGS {\n PrintMaxx { 24.5 }\n PRINTMARGINX { 0.25 }\n UnModifiableFlag { 1 }\n"
      " WallArtQueueID { Q7 }\n printdev { \"Demo Printer\" }\n cutmarkset { 1 0 255 4 }\n"
      " cropping { width { 10 } box { 1 2 11 10 } border { 0.5 1 2 3 4 } }\n}\n";
  int32_t ok = 0;
  klv::SettingsPtr s = read_text(text, &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_DOUBLE_EQ(s->PrintMaxX, 24.5);
  EXPECT_DOUBLE_EQ(s->PrintMarginX, 0.25);
  EXPECT_EQ(s->UnmodifiableFlag, 1);
  EXPECT_STREQ(s->WallArtQueueId, "Q7");
  EXPECT_STREQ(s->PrintDev, "Demo Printer");
  EXPECT_EQ(s->CutMarkSet[2], 255);
  ASSERT_NE(s->Cropping, nullptr);
  EXPECT_DOUBLE_EQ(s->Cropping->Width, 10);
  EXPECT_EQ(s->Cropping->Border[3], 4u);
}

TEST(SettingsRecord, OldUnquotedFormsReadWhatTheyCan) {
  // Written before values with blanks were quoted: metadata and batch values
  // as bare words, print options as "name value" lines, unknown keys and
  // blocks in between.
  const std::string text =
      "Settings {\n RulerOrigin { 1 },\n MetadataCustomerName { Acme Signs Ltd }\n"
      " FutureKey { { a b } c }\n PrintBatch {\n  BatchName { Spring posters }\n }\n"
      " PrintOptions {\n   Finish Gloss laminate \n   Speed 2 \n   Empty \n }\n"
      " Unknown_Block {\n  X { 1 }\n }\n NumCopies { 3 }\n}\n";
  int32_t ok = 0;
  klv::SettingsPtr s = read_text(text, &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(s->RulerOrigin, 1);
  EXPECT_STREQ(s->MetadataCustomerName, "Acme Signs Ltd");
  ASSERT_NE(s->PrintBatch, nullptr);
  EXPECT_STREQ(s->PrintBatch->BatchName, "Spring posters");
  EXPECT_STREQ(s->PrintOptions[0].value, "Gloss laminate");
  EXPECT_STREQ(s->PrintOptions[1].name, "Speed");
  EXPECT_STREQ(s->PrintOptions[1].value, "2");
  EXPECT_STREQ(s->PrintOptions[2].name, "Empty");
  EXPECT_EQ(s->NumCopies, 3);
  // Written again, the values with blanks are quoted and read back whole.
  std::string again = klv::text_of(*s);
  EXPECT_NE(again.find(" MetadataCustomerName { \"Acme Signs Ltd\" }\n"), std::string::npos);
  EXPECT_NE(again.find("   Finish \"Gloss laminate\" \n"), std::string::npos);
  klv::SettingsPtr back = read_text(again, &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(klv::text_of(*back), again);
}

TEST(SettingsRecord, ReadingSettlesUnitPrecisionAndMode) {
  int32_t ok = 0;
  klv::SettingsPtr s = read_text(
      "Settings {\n UnitMode { 7 }\n PrintRes { 720x1440 }\n PatternDif { 4 }\n"
      " PatternOpt { \"85 lpi\" }\n}\n",
      &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(s->UnitMode, 1);
  EXPECT_EQ(s->Precision, 4);
  char mode[KLV_PRINTMODE_TEXT];
  get_printmode_name(mode, sizeof mode, 4, "85 lpi", "720x1440");
  EXPECT_STREQ(s->PrintMode, mode);
  EXPECT_STRNE(mode, "");
  // A mode given in the file is kept.
  s = read_text("Settings {\n PrintMode { Mine }\n PrintRes { 720x720 }\n}\n", &ok);
  EXPECT_STREQ(s->PrintMode, "Mine");
}

TEST(SettingsRecord, OverLongTextsAreCutToTheirField) {
  LogCapture log;
  std::string path(KLV_SET_PATH + 40, 'p');
  // A two-byte character straddling the end of the field is dropped whole.
  std::string name(KLV_SET_NAME - 2, 'n');
  name += "\xC3\xA9tail";
  std::string option(40, 'o');
  int32_t ok = 0;
  klv::SettingsPtr s =
      read_text("Settings {\n Setpath { \"" + path + "\" }\n JobName { \"" + name +
                    "\" }\n PrintOptions {\n   " + option + " " + option + " \n }\n}\n",
                &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(std::string(s->Setpath), path.substr(0, KLV_SET_PATH - 1));
  EXPECT_EQ(std::string(s->JobName), name.substr(0, KLV_SET_NAME - 2));
  EXPECT_EQ(std::string(s->PrintOptions[0].name), option.substr(0, 30));
  EXPECT_EQ(std::string(s->PrintOptions[0].value), option.substr(0, 30));
  EXPECT_NE(log.Text().find("Setpath"), std::string::npos);
}

struct Hostile {
  const char* entry;
  const char* named;  // what the log line must name
};

TEST(SettingsRecord, HostileNumbersAreRefused) {
  const Hostile cases[] = {
      {"ColorMode { 256 }", "ColorMode"},
      {"ColorMode { -1 }", "ColorMode"},
      {"NumCopies { 65536 }", "NumCopies"},
      {"MediaSourceId { 4294967296 }", "MediaSourceId"},
      {"MediaId { \"-5\" }", "MediaId"},
      {"Template { 1FFFFFFFF }", "Template"},
      {"NestXOffset { 2147483648 }", "NestXOffset"},
      {"PrintMaxX { nan }", "PrintMaxX"},
      {"PrintMaxX { inf }", "PrintMaxX"},
      {"CopyGap { 1e999 }", "CopyGap"},
      {"CopyGap { 0x10 }", "CopyGap"},
      {"CutMarkSet { 1 2 3 }", "CutMarkSet"},
      {"CutMarkSet { 1 2 3 256 }", "CutMarkSet"},
      {"CutMargins { 1 2 3 4 5 }", "CutMargins"},
      {"Cropping { Bleed { 1 2 } }", "Bleed"},
      {"Cropping { Border { 1 2 3 4 -5 } }", "Border"},
      {"Cropping { TileX { 1 x } }", "TileX"},
      {"Cropping { TileY { { 1 } } }", "TileY"},
      {"PrintBatch { BatchMarks { 300 } }", "BatchMarks"},
      {"PrintOptions { { a b } }", "PrintOptions"},
      {"PrintOptions x", "PrintOptions"},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.entry);
    LogCapture log;
    int32_t ok = 1;
    read_text(std::string("Settings {\n ") + c.entry + "\n}\n", &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_NE(log.Text().find(c.named), std::string::npos) << log.Text();
  }
}

TEST(SettingsRecord, BlocksWithoutABraceAreNotApplied) {
  int32_t ok = 0;
  klv::SettingsPtr s =
      read_text("Settings {\n Cropping Width\n PrintBatch 3\n NumCopies { 2 }\n}\n", &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(s->Cropping, nullptr);
  EXPECT_EQ(s->PrintBatch, nullptr);
  EXPECT_EQ(s->NumCopies, 2);
}

TEST(SettingsRecord, ManyPrintOptionsKeepTheFirstTen) {
  std::string text = "Settings {\n PrintOptions {\n";
  for (int i = 0; i < 12; ++i) text += "   o" + std::to_string(i) + " v w\n";
  text += " }\n}\n";
  int32_t ok = 0;
  klv::SettingsPtr s = read_text(text, &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_STREQ(s->PrintOptions[9].name, "o9");
  EXPECT_STREQ(s->PrintOptions[9].value, "v w");
}

}  // namespace
