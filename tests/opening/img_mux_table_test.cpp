// SPDX-License-Identifier: MIT
// The image type table: the recognition orders as documented, a row for every
// code they name, and which readers lend lines.
#include <gtest/gtest.h>

#include <vector>

#include "img/img_mux_table.h"
#include "klv/imgmux.h"

namespace {

using klv::img::find_mux_type;
using klv::img::recognition_order;

std::vector<int32_t> order(int32_t type) {
  auto o = recognition_order(type);
  return {o.begin(), o.end()};
}

TEST(ImgMuxTable, RecognitionOrders) {
  const std::vector<int32_t> all = {10, 20, 11, 12, 13, 62, 68, 14, 19, 34, 35, 30,
                                    2,  15, 16, 17, 18, 64, 65, 69, 54, 55, 61, 31};
  std::vector<int32_t> no_ps = all;
  std::erase(no_ps, 2);
  EXPECT_EQ(order(KLV_TYPE_RECOGNISE), all);
  EXPECT_EQ(order(KLV_TYPE_RECOGNISE_NO_PS), no_ps);
  EXPECT_EQ(order(KLV_TYPE_RECOGNISE_DOC), (std::vector<int32_t>{10, 62, 68, 60, 50, 54, 55}));
  EXPECT_TRUE(order(KLV_TYPE_TIFF).empty());
  for (int32_t type : {KLV_TYPE_RECOGNISE, KLV_TYPE_RECOGNISE_DOC})
    for (int32_t code : order(type)) EXPECT_NE(find_mux_type(code), nullptr) << code;
}

TEST(ImgMuxTable, OnlyTiffLendsAmongTheTypes) {
  for (const auto& row : klv::img::mux_types())
    EXPECT_EQ(row.lend_lines != nullptr, row.code == KLV_TYPE_TIFF) << row.name;
  // A stream the table did not make lends nothing, whatever type it carries.
  IMG_file img{};
  img.type = KLV_TYPE_TIFF;
  EXPECT_EQ(klv::img::lend_operation(&img), nullptr);
}

}  // namespace
