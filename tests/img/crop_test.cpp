// SPDX-License-Identifier: MIT
// Crop records and their arithmetic.
#include <gtest/gtest.h>

#include "klv/img.h"

namespace {

crop_info crop(uint8_t kind, double x1, double y1, double x2, double y2) {
  crop_info c{};
  c.kind = kind;
  c.x1 = x1;
  c.y1 = y1;
  c.x2 = x2;
  c.y2 = y2;
  return c;
}

TEST(Crop, FullImageAndEmptyCrop) {
  crop_rect r{};
  crop_info full = crop(0, 0, 0, 1, 1);
  ASSERT_EQ(fill_image_crop(&r, &full, 1000, 500), 1);
  EXPECT_EQ(r.width, 1000);
  EXPECT_EQ(r.height, 500);
  EXPECT_EQ(r.x1, 0);
  EXPECT_EQ(r.y1, 0);
  EXPECT_EQ(r.x2, 999);
  EXPECT_EQ(r.y2, 499);

  crop_info empty = crop(0, 0, 0, 0, 0);
  EXPECT_EQ(check_null_crop(&empty), 1);
  crop_rect r2{};
  ASSERT_EQ(fill_image_crop(&r2, &empty, 1000, 500), 1);
  EXPECT_EQ(r2.width, 1000);
  EXPECT_EQ(r2.x2, 999);
  EXPECT_EQ(empty.x2, 1.0);  // reset in place
  EXPECT_EQ(empty.y2, 1.0);
  EXPECT_EQ(check_null_crop(&empty), 0);
  EXPECT_EQ(fill_image_crop(nullptr, &full, 1, 1), 0);
}

struct ArithCase {
  crop_info c;
  bool null_crop;
  double x1, x2, y1, y2, w, h;
};

TEST(Crop, ArithmeticByKind) {
  crop_info inches{};
  inches.kind = 2;
  inches.x1 = 1;
  inches.y1 = 0.5;
  inches.width_inches = 2;
  inches.height_inches = 1;
  inches.resolution = 100;
  const ArithCase cases[] = {
      // kind 0 on 101 x 51: fractions of 100 and 50
      {crop(0, 0.1, 0.2, 0.5, 0.6), false, 10, 50, 10, 30, 0.4 * 101, 0.4 * 51},
      // kind 1: x uses height - 1 as well
      {crop(1, 0.1, 0.2, 0.5, 0.6), false, 5, 25, 10, 30, 0.4 * 51, 0.4 * 51},
      // kind 2: inches at the crop's resolution
      {inches, false, 100, 299, 50, 149, 101, 51},
      // an unknown kind: x gives 0, y as kind 0, width 1
      {crop(7, 0.1, 0.2, 0.5, 0.6), false, 0, 0, 10, 30, 1, 0.4 * 51},
      // no crop at all
      {crop(0, 0, 0, 0, 0), true, 0, 0, 0, 0, 101, 51},
  };
  for (const auto& t : cases) {
    const crop_info* c = t.null_crop ? nullptr : &t.c;
    SCOPED_TRACE(int(t.c.kind));
    EXPECT_DOUBLE_EQ(dcrop_x1(c, 101, 51), t.x1);
    EXPECT_DOUBLE_EQ(dcrop_x2(c, 101, 51), t.x2);
    EXPECT_DOUBLE_EQ(dcrop_y1(c, 101, 51), t.y1);
    EXPECT_DOUBLE_EQ(dcrop_y2(c, 101, 51), t.y2);
    EXPECT_DOUBLE_EQ(dcrop_width(c, 101, 51), t.w);
    EXPECT_DOUBLE_EQ(dcrop_height(c, 101, 51), t.h);
  }
}

TEST(Crop, AbsoluteAndInchForms) {
  image_info info;
  init_image_info(&info);
  info.width = 1;
  info.height = 201;
  info.xres = info.yres = 100;
  crop_info src = crop(0, 0.3, 0.25, 0.6, 0.75);
  crop_info dst{};
  ASSERT_EQ(fill_abs_crop(&dst, &src, &info), 1);
  EXPECT_EQ(dst.x1, 0.0);  // one pixel wide: the whole width whatever the source says
  EXPECT_EQ(dst.x2, 1.0);
  EXPECT_DOUBLE_EQ(dst.y1, 0.25);
  EXPECT_DOUBLE_EQ(dst.y2, 0.75);

  info.width = 201;
  crop_info in{};
  ASSERT_EQ(fill_inches_crop(&in, &src, &info), 1);
  EXPECT_EQ(in.kind, 2);
  EXPECT_DOUBLE_EQ(in.x1, 0.6);  // 60 px at 100 ppi
  EXPECT_DOUBLE_EQ(in.y1, 0.5);
  EXPECT_DOUBLE_EQ(in.width_inches, 0.6);
  EXPECT_DOUBLE_EQ(in.height_inches, 1.0);
  EXPECT_EQ(in.resolution, 0.0);  // for the caller to set

  // In place, and back to fractions once a resolution is given.
  in.resolution = 100;
  ASSERT_EQ(fill_abs_crop(&in, &in, &info), 1);
  EXPECT_EQ(in.kind, 0);
  EXPECT_DOUBLE_EQ(in.x1, 0.3);
  EXPECT_DOUBLE_EQ(in.x2, 0.595);  // the inch form's right edge is exclusive
  info.width = 0;
  EXPECT_EQ(fill_abs_crop(&dst, &src, &info), 0);
  EXPECT_EQ(fill_inches_crop(nullptr, &src, &info), 0);
}

}  // namespace
