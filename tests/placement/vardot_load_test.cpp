// SPDX-License-Identifier: MIT
// The variable-dot thresholds a placement loads for a variable-dot process
// record: found through the search path in the shipped data, and a clean,
// logged failure when the file is missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "klv/halftone_diffusion.h"
#include "klv/halftone_ml.h"
#include "klv/htplace.h"
#include "klv/kernel_path.h"
#include "support/env.h"
#include "support/log_capture.h"

namespace {

using klv::test::LogCapture;
using klv::test::ScopedEnv;

const std::string kData = std::string(KLV_TEST_DATA) + "/../../data";

MLPROCINFO vardot_record() {
  MLPROCINFO rec;
  MLProcSample(rec, true);
  rec.flags |= KLV_MLPROC_FLAG_VARDOT;
  return rec;
}

HTPLACE* alloc(uint32_t method) {
  return HTPlaceAlloc(4, 720, 720, 0, 0, 0, method, nullptr, nullptr, nullptr, nullptr, 0);
}

TEST(VarDotLoad, FoundThroughTheSearchPathOnce) {
  ScopedEnv path("KLV_PATH", kData.c_str());
  const MLPROCINFO rec = vardot_record();
  HTPLACE* h = alloc(0);
  ASSERT_NE(h, nullptr);
  auto* ed = dynamic_cast<CHTPlaceErrDif*>(reinterpret_cast<CHTPlacement*>(h));
  ASSERT_NE(ed, nullptr);
  EXPECT_EQ(HTPlaceSetLinearization(h, 0, nullptr, &rec), 1);
  CHTThreshArray<unsigned char>* vd = ed->VarDotScreens();
  ASSERT_NE(vd, nullptr);
  EXPECT_EQ(vd->count, 4u);
  EXPECT_EQ(vd->levels, 256u);
  // A second record keeps the screens already loaded.
  EXPECT_EQ(HTPlaceSetLinearization(h, 0, nullptr, &rec), 1);
  EXPECT_EQ(ed->VarDotScreens(), vd);
  HTPlaceFree(h);
  // The screened methods load them too.
  h = alloc(4);
  EXPECT_EQ(HTPlaceSetLinearization(h, 0, nullptr, &rec), 1);
  HTPlaceFree(h);
}

TEST(VarDotLoad, MissingFileFailsWithALogLine) {
  const std::string empty = std::string(KLV_BINARY_DIR) + "/vardot_empty";
  std::filesystem::create_directories(empty);
  ScopedEnv path("KLV_PATH", empty.c_str());
  char found[KLV_PATH_MAX];
  if (_findinpath("VarDot.HTS", found) || _findinpath("screens/VarDot.HTS", found))
    GTEST_SKIP() << "an installed VarDot.HTS is on the search path: " << found;
  const MLPROCINFO rec = vardot_record();
  HTPLACE* h = alloc(0);
  ASSERT_NE(h, nullptr);
  std::string log;
  {
    LogCapture cap;
    EXPECT_EQ(HTPlaceSetLinearization(h, 0, nullptr, &rec), 0);
    log = cap.Text();
  }
  EXPECT_NE(log.find("VarDot.HTS cannot be opened"), std::string::npos) << log;
  EXPECT_EQ(dynamic_cast<CHTPlaceErrDif*>(reinterpret_cast<CHTPlacement*>(h))->VarDotScreens(),
            nullptr);
  // Without the variable-dot flag nothing is loaded and nothing fails.
  MLPROCINFO plain = rec;
  plain.flags &= ~uint32_t(KLV_MLPROC_FLAG_VARDOT);
  EXPECT_EQ(HTPlaceSetLinearization(h, 0, nullptr, &plain), 1);
  HTPlaceFree(h);
}

}  // namespace
