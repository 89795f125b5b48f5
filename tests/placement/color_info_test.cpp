// SPDX-License-Identifier: MIT
// The colour record a placement hands its engines: the record itself, or a
// one-level record when the colour is linked to an ink-restriction channel.
#include <gtest/gtest.h>

#include <cstring>

#include "klv/halftone_ml.h"
#include "klv/htplace.h"

namespace {

struct Placement {
  HTPLACE* h = HTPlaceAlloc(4, 720, 720, 0, 0, 0, 4, nullptr, nullptr, nullptr, nullptr, 0);
  ~Placement() { HTPlaceFree(h); }
  CHTKlvPlacement* p() {
    return dynamic_cast<CHTKlvPlacement*>(reinterpret_cast<CHTPlacement*>(h));
  }
};

TEST(ColorInfo, RecordOrOneLevelRecordForLinkedColours) {
  MLPROCINFO rec;
  MLProcSample(rec, false);  // three levels, upper codes 1, 2, 3; 2 code bits, 2 output bits
  rec.code_bits = 4;
  rec.output_bits = 2;
  rec.color[1].inkrestrict_link = 77;
  rec.color[2].inkrestrict_link = 78;
  rec.color[2].vardot_mode = 4;
  rec.color[2].vardot_values[0] = 11;
  rec.color[2].vardot_values[3] = 33;
  rec.color[2].curve[1][0][1] = 99;     // level 1's curve block
  rec.color[2].coverage[1][2][0] = 55;  // level 1's coverage block
  Placement pl;
  ASSERT_NE(pl.p(), nullptr);
  MLPROCCOLORINFO buf;
  EXPECT_EQ(pl.p()->GetColorInfo(0, 0, &buf), nullptr);  // no record yet
  ASSERT_EQ(HTPlaceSetLinearization(pl.h, 0, nullptr, &rec), 1);
  const MLPROCINFO* kept = pl.p()->ProcInfo();
  // Not linked: the record itself.
  EXPECT_EQ(pl.p()->GetColorInfo(0, 2, &buf), &kept->color[0]);
  EXPECT_EQ(pl.p()->GetColorInfo(12, 0, &buf), nullptr);
  // Linked: one level up to the last level's upper code, shifted by the
  // code bits less the output bits for a curve number.
  const MLPROCCOLORINFO* one = pl.p()->GetColorInfo(1, 0, &buf);
  ASSERT_EQ(one, &buf);
  EXPECT_EQ(buf.levels, 1);
  EXPECT_EQ(buf.width[0], 255);
  EXPECT_EQ(buf.mid_code[0], 0);
  EXPECT_EQ(buf.upper_code[0], 3);
  EXPECT_EQ(buf.inkrestrict_link, 77u);
  EXPECT_EQ(buf.vardot_mode, 0);
  ASSERT_EQ(pl.p()->GetColorInfo(1, 1, &buf), &buf);
  EXPECT_EQ(buf.upper_code[0], 3 >> 2);
  // Variable-dot mode 4: the mode, the values and level curve_no - 1's blocks.
  ASSERT_EQ(pl.p()->GetColorInfo(2, 2, &buf), &buf);
  EXPECT_EQ(buf.vardot_mode, 4);
  EXPECT_EQ(buf.vardot_values[0], 11);
  EXPECT_EQ(buf.vardot_values[3], 33);
  EXPECT_EQ(buf.curve[0][0][1], 99);
  EXPECT_EQ(buf.coverage[0][2][0], 55);
  EXPECT_EQ(buf.level_curves, rec.color[2].level_curves);
}

}  // namespace
