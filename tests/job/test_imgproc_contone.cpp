// SPDX-License-Identifier: MIT
// The job's contone copy (PrintCache): the same dots as without it, a tiled
// page at the page's size beside the print files, reused by a later run
// while its source is unchanged and rebuilt when it changed, nothing left
// when the run is cancelled while writing it, and one copy per page of a
// multi-page image.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "klv/job_settings.h"
#include "klv/kernel_volume.h"
#include "support/image.h"
#include "test_imgproc_support.h"

namespace {

using namespace imgproc_test;

image_info rgb(int w, int h, uint32_t pages = 1) {
  image_info info = klv::test::describe(w, h, 3, 8, KLV_PHOTO_MINBLACK);
  info.xres = info.yres = 72;
  info.pages = pages;
  return info;
}

std::vector<uint8_t> ramp(int w, int h, int pages = 1) {
  std::vector<uint8_t> px(size_t(w) * h * 3 * pages);
  for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t((i * 7 + i / (w * 3) * 13) & 255);
  return px;
}

bool write_tiff(const std::string& path, int w, int h) {
  image_info info = rgb(w, h);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "w", &info, KLV_TYPE_TIFF);
  if (!img) return false;
  std::vector<uint8_t> px = ramp(w, h);
  const bool ok = img_write_line(img, px.data(), h) == h;
  return img_close_status(img) == 0 && ok;
}

// Inode and modification time of a file: a rewritten file changes them.
std::pair<ino_t, long long> identity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {0, 0};
  return {st.st_ino, st.st_mtim.tv_sec * 1000000000ll + st.st_mtim.tv_nsec};
}

TEST_F(ImgProc, ContoneCopyGivesTheSameDotsAndIsReusedUntilItsSourceChanges) {
  const std::string image = folder_.path("ramp.tif");
  ASSERT_TRUE(write_tiff(image, 90, 36));
  Put(s_->Imagepath, image);
  s_->Rotation = 1;
  const std::string base = (job_ / "J12").string();
  Calls plain_calls;
  klv::ProcOutcome plain;
  ASSERT_TRUE(Process(&plain_calls, &plain)) << plain.error;
  const std::vector<uint8_t> want = dot_lines(base + ".B001");
  ASSERT_FALSE(want.empty());
  EXPECT_EQ(files_in(job_), (std::vector<std::string>{"J12.B001", "J12.prt", "Proc_Info"}));

  s_->PrintCache = 1;
  for (int threads : {1, 2}) {
    Calls calls;
    klv::ProcOutcome out;
    ASSERT_TRUE(Process(&calls, &out, threads)) << out.error;
    EXPECT_EQ(dot_lines(base + ".B001"), want) << threads << " threads";
    EXPECT_EQ(calls.percent.back(), "100.0%");
  }
  EXPECT_EQ(files_in(job_), (std::vector<std::string>{"J12.B001", "J12.T001", "J12.T001.Info",
                                                      "J12.prt", "Proc_Info"}));
  // The copy is tiled, at the page's size and resolution, in the image's
  // colours.
  image_info info;
  init_image_info(&info);
  IMG_file* copy = img_mux_open((base + ".T001").c_str(), nullptr, "r", &info, KLV_TYPE_TIFF);
  ASSERT_TRUE(copy);
  img_close(copy);
  EXPECT_TRUE(info.planar & KLV_PLANAR_TILED);
  EXPECT_EQ(info.width, plain.width);
  EXPECT_EQ(info.height, plain.height);
  EXPECT_EQ(info.samples, 3u);
  EXPECT_DOUBLE_EQ(info.xres, 150);

  // A later run reuses it; a changed source rebuilds it.
  const auto made = identity(base + ".T001");
  {
    Calls calls;
    klv::ProcOutcome out;
    ASSERT_TRUE(Process(&calls, &out)) << out.error;
    EXPECT_EQ(identity(base + ".T001"), made) << "the copy was written again";
    EXPECT_EQ(dot_lines(base + ".B001"), want);
  }
  ASSERT_TRUE(write_tiff(image, 90, 40));
  {
    Calls calls;
    klv::ProcOutcome out;
    ASSERT_TRUE(Process(&calls, &out)) << out.error;
    EXPECT_NE(identity(base + ".T001"), made);
    init_image_info(&info);
    copy = img_mux_open((base + ".T001").c_str(), nullptr, "r", &info, KLV_TYPE_TIFF);
    ASSERT_TRUE(copy);
    img_close(copy);
    EXPECT_EQ(info.width, out.width);
    EXPECT_EQ(info.height, out.height);
  }
}

TEST_F(ImgProc, ContoneCopyCancelledWhileWrittenLeavesNothing) {
  const std::string image = folder_.path("ramp.tif");
  ASSERT_TRUE(write_tiff(image, 90, 72));  // 150 lines: three bands
  Put(s_->Imagepath, image);
  s_->PrintCache = 1;
  Calls calls;
  calls.cancel_after_percent = 1;
  klv::ProcOutcome out;
  EXPECT_FALSE(Process(&calls, &out));
  EXPECT_NE(out.error.find("contone copy"), std::string::npos) << out.error;
  EXPECT_TRUE(files_in(job_).empty());
}

TEST_F(ImgProc, ContoneCopyKeepsEveryPageOfAMultiPageImage) {
  const image_info info = rgb(48, 24, 3);
  const std::vector<uint8_t> data = ramp(48, 24, 3);
  klv::ProcOptions options;
  options.open_image = [&](const char*, image_info* out) {
    *out = info;
    return (new klv::test::MemImage(info, data))->ToImg('r', KLV_TYPE_TIFF);
  };
  const std::string base = (job_ / "J12").string();
  std::vector<std::vector<uint8_t>> want;
  {
    Calls calls;
    klv::ProcOutcome out;
    ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
    for (int page = 1; page <= 3; ++page)
      want.push_back(dot_lines(base + ".B00" + std::to_string(page)));
  }
  s_->PrintCache = 1;
  Calls calls;
  klv::ProcOutcome out;
  ASSERT_TRUE(Process(&calls, &out, options)) << out.error;
  for (int page = 1; page <= 3; ++page) {
    EXPECT_EQ(dot_lines(base + ".B00" + std::to_string(page)), want[page - 1]) << page;
    EXPECT_TRUE(fs::exists(base + ".T00" + std::to_string(page))) << page;
  }
}

// A job volume keeps its copy as members; a rerun takes it as it is.
TEST_F(ImgProc, ContoneCopyOfAJobVolumeIsAMemberReusedByALaterRun) {
  const std::string image = folder_.path("ramp.tif");
  ASSERT_TRUE(write_tiff(image, 90, 36));
  Put(s_->Imagepath, image);
  const std::string volume = folder_.path("J12.job");
  SOVolume* v = VOpen(nullptr, volume.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(put_vol_settings(v, s_.get()), 1);
  ASSERT_EQ(VClose(v), 0);
  const auto run = [&](std::vector<std::string>* status) {
    Calls calls;
    klv::ProcOutcome out;
    klv::ProcOptions options;
    EXPECT_TRUE(
        klv::process_job(volume.c_str(), s_.get(), nullptr, options, record_calls, &calls, &out))
        << out.error;
    *status = calls.status;
    return dot_lines(out.print_files.at(0));
  };
  std::vector<std::string> status;
  const std::vector<uint8_t> want = run(&status);
  s_->PrintCache = 1;
  const auto writes = [](const std::vector<std::string>& told) {
    return std::count(told.begin(), told.end(), "Writing the contone copy of J12");
  };
  EXPECT_EQ(run(&status), want);
  EXPECT_EQ(writes(status), 1);
  v = VOpen(nullptr, volume.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(Ofileexists(v, ".\\Contone.T001", 0));
  EXPECT_TRUE(Ofileexists(v, ".\\Contone.T001.Info", 0));
  VClose(v);
  EXPECT_EQ(run(&status), want);
  EXPECT_EQ(writes(status), 0) << "the copy was written again";
}

}  // namespace
