// SPDX-License-Identifier: MIT
// The job driver and the printer's profile library, on a copy of the demo
// printer whose library each test changes: the ink restriction of the job's
// mode cuts the dots of the inks it restricts by the curve's share, one that
// cannot be read fails the job; the library's default output profile is the
// one the colours are converted through; a printer without a library is not
// waited for.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "klv/imgmux.h"
#include "klv/inkrestrict.h"
#include "klv/printmode.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/proflib.h"
#include "support/files.h"
#include "test_imgproc_support.h"

namespace {

using namespace imgproc_test;

class ImgProcLibrary : public ImgProc {
 protected:
  void SetUp() override {
    ImgProc::SetUp();
    const fs::path data = fs::path(folder_.str()) / "data";
    fs::create_directories(data);
    for (const char* file : {"Printer_Client.info", "Printer_Types.info"})
      fs::copy_file(kData + "/" + file, data / file);
    fs::copy(kData + "/printers", data / "printers", fs::copy_options::recursive);
    library_ = (data / "printers/KlvDemo/Info/PRINTER.PrnLib").string();
    local_path_ = std::make_unique<ScopedEnv>("KLV_PATH", data.string() + ":" + kSearch);
  }

  // Puts a member into the copy's library and files it as the profile entry
  // `name` of type `type` for the job's media and resolution, pattern
  // "FDRP Diffusion" (the fixture's job screens with pattern 0).
  void AddEntry(const std::string& member, const std::string& bytes, const char* name, int type,
                const char* pattern = "FDRP Diffusion") {
    SOVolume* v = VOpen(nullptr, library_.c_str(), KLV_VOL_UPDATE);
    ASSERT_NE(v, nullptr);
    SFilemux* f = Ovfopen(v, member.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(Owrite(f, bytes.data(), bytes.size()), bytes.size());
    ASSERT_EQ(Oclose(f), 0);
    PL_ENTRY* e = PL_new_profile_entry();
    PL_set_entry_key(e, s_->PrintMedia, s_->PrintRes, pattern, type, name);
    std::snprintf(e->table, sizeof e->table, "%s", member.c_str());
    int32_t status = PL_vupdate_profile_entry(v, e);
    if (status == PL_ERR_NOT_FOUND) status = PL_vadd_profile_entry(v, e);
    PL_free_profile_entry(e);
    EXPECT_EQ(status, PL_OK);
    ASSERT_EQ(VClose(v), 0);
  }

  void SetDefault(int type, const char* name) {
    SOVolume* v = VOpen(nullptr, library_.c_str(), KLV_VOL_UPDATE);
    ASSERT_NE(v, nullptr);
    PL_DEFAULT_ENTRY* d = PL_new_default_entry();
    Put(d->media, s_->PrintMedia);
    Put(d->setting, s_->PrintRes);
    Put(d->pattern, "FDRP Diffusion");
    PL_add_default_item(d, uint32_t(type), name);
    int32_t status = PL_vupdate_default_entry(v, d);
    if (status == PL_ERR_NOT_FOUND) status = PL_vadd_default_entry(v, d);
    PL_free_default_entry(d);
    EXPECT_EQ(status, PL_OK);
    ASSERT_EQ(VClose(v), 0);
  }

  std::vector<uint64_t> Dots(klv::ProcOutcome* out) {
    Calls calls;
    EXPECT_TRUE(Process(&calls, out)) << out->error;
    return out->print_files.empty() ? std::vector<uint64_t>{} : dots_per_ink(out->print_files[0]);
  }

  std::string library_;
  std::unique_ptr<ScopedEnv> local_path_;
};

// A restriction file for four channels: cyan limited to half its amount,
// magenta (named in another letter case) to 80 %, yellow and black free.
std::string restriction_text() {
  namespace ir = kelv::inkrestrict;
  ir::InkConfiguration inks;
  inks.names = {"Cyan", "MAGENTA"};
  ir::InkRestrictFile file(4, 0, inks);
  file.getChannelSeps(0)->getSep(0)->addPoint(0, 0);
  file.getChannelSeps(0)->getSep(0)->addPoint(100, 50);
  file.getChannelSeps(1)->getSep(1)->addPoint(0, 0);
  file.getChannelSeps(1)->getSep(1)->addPoint(100, 80);
  return file.toText();
}

TEST_F(ImgProcLibrary, InkRestrictionCutsTheRestrictedInksByItsShare) {
  klv::ProcOutcome free_run;
  const std::vector<uint64_t> free_dots = Dots(&free_run);
  ASSERT_EQ(free_dots.size(), 4u);
  EXPECT_EQ(free_run.ink_restriction, "");

  AddEntry("InkTest.xml", restriction_text(), "InkRstr", 7);
  klv::ProcOutcome out;
  const std::vector<uint64_t> dots = Dots(&out);
  ASSERT_EQ(dots.size(), 4u);
  EXPECT_EQ(out.ink_restriction, "InkTest.xml");
  // The tone curve takes whole percents: a little under the share.
  const double expected[4] = {0.5, 0.8, 1.0, 1.0};
  for (int k = 0; k < 4; ++k) {
    ASSERT_GT(free_dots[k], 1000u) << k;
    EXPECT_NEAR(double(dots[k]) / double(free_dots[k]), expected[k], 0.02) << k;
  }

  // Contone pages take the restriction on their ink amounts.
  s_->PatternDif = DP_CONTONE;
  const auto amounts = [&](klv::ProcOutcome* o) {
    Calls calls;
    EXPECT_TRUE(Process(&calls, o)) << o->error;
    std::vector<uint64_t> sum(4, 0);
    image_info info;
    init_image_info(&info);
    IMG_file* img =
        img_mux_open(o->print_files.at(0).c_str(), nullptr, "r", &info, KLV_TYPE_OUTIMG);
    EXPECT_NE(img, nullptr);
    if (!img) return sum;
    std::vector<uint8_t> line(info.bytes_per_line);
    for (int y = 0; y < info.height && img_read_line(img, line.data(), 1) == 1; ++y)
      for (int x = 0; x < info.width; ++x)
        for (int k = 0; k < 4; ++k) sum[k] += line[size_t(x) * 4 + k];
    img_close(img);
    return sum;
  };
  klv::ProcOutcome contone_free;
  const std::vector<uint64_t> free_ink = amounts(&contone_free);
  AddEntry("InkTest.xml", restriction_text(), "InkRstr", 7, "Contone");
  klv::ProcOutcome contone;
  const std::vector<uint64_t> ink = amounts(&contone);
  EXPECT_EQ(contone.ink_restriction, "InkTest.xml");
  for (int k = 0; k < 4; ++k) {
    ASSERT_GT(free_ink[k], 1000u) << k;
    EXPECT_NEAR(double(ink[k]) / double(free_ink[k]), expected[k], 0.01) << k;
  }
  s_->PatternDif = 0;

  // A restriction the library names but that cannot be read fails the job.
  AddEntry("InkTest.xml", "<not an ink restriction", "InkRstr", 7);
  Calls calls;
  EXPECT_FALSE(Process(&calls, &out));
  EXPECT_NE(out.error.find("ink restriction \"InkTest.xml\""), std::string::npos) << out.error;
  EXPECT_EQ(files_in(job_), std::vector<std::string>{"Proc_Info"}) << "the earlier runs' records";
}

// The "CFG" entry names the printer's inks in the order of the process
// record's colours: here the second colour is the one called Cyan, so the
// cyan curve restricts it.
TEST_F(ImgProcLibrary, TheInkConfigurationOrdersTheRestrictedInks) {
  klv::ProcOutcome free_run;
  const std::vector<uint64_t> free_dots = Dots(&free_run);
  ASSERT_EQ(free_dots.size(), 4u);
  namespace ir = kelv::inkrestrict;
  ir::InkRestrictFile file(4, 0, 0, 0);
  auto cyan = std::make_shared<ir::SepCurve>("Cyan");
  cyan->addPoint(0, 0);
  cyan->addPoint(100, 50);
  file.getChannelSeps(0)->addSep(cyan);
  AddEntry("InkTest.xml", file.toText(), "InkRstr", 7);
  AddEntry("Inks.cfg", "\"Magenta\" Cyan\nYellow Black\n", "CFG", 7);
  klv::ProcOutcome out;
  const std::vector<uint64_t> dots = Dots(&out);
  ASSERT_EQ(dots.size(), 4u);
  const double expected[4] = {1.0, 0.5, 1.0, 1.0};
  for (int k = 0; k < 4; ++k)
    EXPECT_NEAR(double(dots[k]) / double(free_dots[k]), expected[k], 0.02) << k;
}

TEST_F(ImgProcLibrary, TheLibrarysDefaultOutputProfileIsUsed) {
  // The demo library files no profile for 150x150: the printer's own.
  klv::ProcOutcome out;
  Dots(&out);
  EXPECT_EQ(out.output_profile, "");
  EXPECT_NE(out.colour.find("KlvDemo profile"), std::string::npos) << out.colour;

  AddEntry("KlvAlt.icc", klv::test::read_text(kData + "/profiles/klv_cmyk.icc"), "KlvAlt", 2);
  SetDefault(2, "KlvAlt");
  Dots(&out);
  EXPECT_EQ(out.output_profile, "KlvAlt");
  EXPECT_NE(out.colour.find("-> \"KlvAlt\" of the profile library"), std::string::npos)
      << out.colour;

  // The library's profile is the one opened: a gray one gives no inks.
  AddEntry("KlvAlt.icc", klv::test::read_text(kData + "/profiles/klv_gray.icc"), "KlvAlt", 2);
  Calls calls;
  EXPECT_FALSE(Process(&calls, &out));
  EXPECT_NE(out.error.find("not CMYK inks"), std::string::npos) << out.error;
}

TEST_F(ImgProcLibrary, APrinterWithoutALibraryIsNotWaitedFor) {
  fs::remove(library_);
  const auto start = std::chrono::steady_clock::now();
  klv::ProcOutcome out;
  Dots(&out);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.output_profile, "");
}

}  // namespace
