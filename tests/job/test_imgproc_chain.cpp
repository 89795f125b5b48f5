// SPDX-License-Identifier: MIT
// The job's colour chain in a job volume: the first run builds it (the
// calibration node naming the mode's linearization) and saves it as the
// members ".\File.UCC" and ".\File.CCX"; a later run reads them back, so an
// adjustment node put into the chain changes the page and a calibration
// node switched off switches the calibration off.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "klv/kernel_volume.h"
#include "klv/ucc.h"
#include "support/image.h"
#include "test_imgproc_support.h"

namespace {

using namespace imgproc_test;

struct ChainFree {
  void operator()(t_ucc_node* c) const { free_ucc(c); }
};
using ChainPtr = std::unique_ptr<t_ucc_node, ChainFree>;

TEST_F(ImgProc, TheJobVolumesColourChainIsSavedAndReused) {
  // A 90 x 36 ramp at 72 dpi (no value 0 but in the first row and column).
  image_info info = klv::test::describe(90, 36, 3, 8, KLV_PHOTO_MINBLACK);
  info.xres = info.yres = 72;
  std::vector<uint8_t> px(90 * 36 * 3);
  for (int y = 0; y < 36; ++y)
    for (int x = 0; x < 90; ++x) {
      px[(y * 90 + x) * 3] = uint8_t(x * 255 / 89);
      px[(y * 90 + x) * 3 + 1] = uint8_t(y * 255 / 35);
      px[(y * 90 + x) * 3 + 2] = 96;
    }
  klv::ProcOptions options;
  options.threads = 1;
  options.open_image = [&](const char*, image_info* out) {
    *out = info;
    return (new klv::test::MemImage(info, px))->ToImg('r', KLV_TYPE_TIFF);
  };
  Put(s_->PrintMode, "720 dpi, FDRP Diffusion");
  Put(s_->PrintRes, "720x720");
  const std::string volume = folder_.path("J12.job");
  SOVolume* v = VOpen(nullptr, volume.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(put_vol_settings(v, s_.get()), 1);
  ASSERT_EQ(VClose(v), 0);
  const auto run = [&](klv::ProcOutcome* out) {
    Calls calls;
    EXPECT_TRUE(
        klv::process_job(volume.c_str(), s_.get(), nullptr, options, record_calls, &calls, out))
        << out->error;
    const std::vector<uint64_t> d = dots_per_ink(out->print_files.at(0));
    return d[0] + d[1] + d[2] + d[3];
  };

  // Built and saved: the calibration node names the mode's linearization.
  klv::ProcOutcome first;
  const uint64_t first_dots = run(&first);
  const std::string linear = "Linear1~Glossy Photo~720x720~0";
  EXPECT_EQ(first.calibration, linear);
  v = VOpen(nullptr, volume.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(Ofileexists(v, ".\\File.UCC", 0));
  ChainPtr chain(load_ucc_ext(v, ".\\File.CCX", nullptr));
  t_ucc_node* cal = find_ucc_node(chain.get(), UCC_CTB0);
  ASSERT_NE(cal, nullptr);
  EXPECT_STREQ(static_cast<ucc_calb*>(cal->data)->linear_name, linear.c_str());

  // Changed: levels whose white point is 1 (the page turns white) and the
  // linearization switched off.
  static_cast<ucc_calb*>(cal->data)->enable = 0;
  t_ucc_node* levels = new_ucc(UCC_RGB0);
  ASSERT_NE(levels, nullptr);
  auto* rgb = static_cast<ucc_rgb_levels*>(levels->data);
  rgb->enable[1] = 1;
  for (uint8_t& w : rgb->white_inv) w = 254;
  chain.reset(add_ucc(chain.release(), levels));
  ASSERT_EQ(save_ucc(v, ".\\File.UCC", chain.get()), 1);
  ASSERT_EQ(save_ucc_ext(v, ".\\File.CCX", chain.get()), 1);
  ASSERT_EQ(VClose(v), 0);
  klv::ProcOutcome second;
  const uint64_t second_dots = run(&second);
  EXPECT_EQ(second.calibration, "");
  EXPECT_LT(second_dots * 20, first_dots) << "the levels whiten the page";

  // Saved back as read.
  v = VOpen(nullptr, volume.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  chain.reset(load_ucc(v, ".\\File.UCC", nullptr));
  EXPECT_NE(find_ucc_node(chain.get(), UCC_RGB0), nullptr);
  VClose(v);
  // A job folder is given no chain files it did not have.
  EXPECT_FALSE(fs::exists(job_ / "File.UCC"));
}

}  // namespace
