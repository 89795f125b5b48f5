// SPDX-License-Identifier: MIT
// The engine each placement method creates for each case: one-bit output,
// multi-level output, variable-dot records (screen form or not), 8-bit and
// 16-bit input; and the set-ups that create none.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include "klv/halftone_diffusion.h"
#include "klv/halftone_ml.h"
#include "klv/htplace.h"
#include "support/env.h"
#include "support/log_capture.h"

namespace {

using klv::test::LogCapture;
using klv::test::ScopedEnv;

const std::string kData = std::string(KLV_TEST_DATA) + "/../../data";

enum Case { kOneBit, kMultiLevel, kVarDot };

image_info describe(int bits, int samples) {
  image_info i;
  init_image_info(&i);
  i.width = 64;
  i.height = 4;
  i.samples = uint32_t(samples);
  i.bits_per_sample = uint32_t(bits);
  i.photometric = 0;
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

// The engine a method makes for a case and an input depth; its type, or that
// of void when none is made.
std::type_index engine(uint32_t method, Case c, int in_bits, const char* file = nullptr,
                       int curve_no = 0) {
  HTPLACE* h = HTPlaceAlloc(4, 720, 720, 0, 0, 0, method, nullptr, nullptr, file, nullptr, 0);
  EXPECT_NE(h, nullptr);
  if (!h) return typeid(void);
  if (c != kOneBit) {
    MLPROCINFO rec;
    MLProcSample(rec, false);
    if (c == kVarDot) rec.flags |= KLV_MLPROC_FLAG_VARDOT;
    rec.vardot_ext = curve_no ? 1 : 0;  // level engines need the extension
    EXPECT_EQ(HTPlaceSetLinearization(h, 0, nullptr, &rec), 1);
  }
  auto* place = reinterpret_cast<CHTPlacement*>(h);
  image_info in = describe(in_bits, 1), out = describe(c == kOneBit ? 1 : 2, 1);
  std::type_index made = typeid(void);
  if (place->PreInitProcess(&in, &out)) {
    std::unique_ptr<CHTRip> rip(
        place->CreateRip(0, 0, false, curve_no, nullptr, nullptr, 0, curve_no ? 1 : 4));
    if (rip) made = typeid(*rip);
  }
  HTPlaceFree(h);
  return made;
}

struct Family {
  std::vector<uint32_t> methods;
  const char* file;  // the default file name (matrix or screen file)
  // [case][0: 8-bit input, 1: 16-bit input]
  std::type_index want[3][2];
};

TEST(CreateRip, EachMethodMakesTheEngineOfEachCase) {
  ScopedEnv path("KLV_PATH", kData.c_str());
  using US = unsigned short;
  const Family families[] = {
      {{0},
       nullptr,
       {{typeid(CHTRipErrDif), typeid(CHTRipErrDif16)},
        {typeid(CHTRipMLErrDif), typeid(CHTRipMLErrDif16)},
        {typeid(CHTRipMLVDErrDif), typeid(CHTRipMLVDErrDif16)}}},
      {{1},
       nullptr,
       {{typeid(CHTRipErrDifScreen), typeid(CHTRipErrDifScreen16)},
        {typeid(CHTRipMLErrDifScreen), typeid(CHTRipMLErrDifScreen16)},
        {typeid(CHTRipMLVDErrDifScreen), typeid(CHTRipMLVDErrDifScreen16)}}},
      {{2},
       "Builtin2.HTS",
       {{typeid(CHTRipErrDifMtx), typeid(CHTRipErrDifMtx16)},
        {typeid(CHTRipMLErrDifMtx), typeid(CHTRipMLErrDifMtx16)},
        {typeid(CHTRipMLVDErrDifMtx), typeid(CHTRipMLVDErrDifMtx16)}}},
      {{7, 12, 200},
       nullptr,
       {{typeid(CHTRipErrDifVarCoef), typeid(CHTRipErrDifVarCoef16)},
        {typeid(CHTRipMLErrDifVarCoef), typeid(CHTRipMLErrDifVarCoef16)},
        {typeid(CHTRipMLVDErrDifVarCoef), typeid(CHTRipMLVDErrDifVarCoef16)}}},
      // Screens without the variable-dot screen flag.
      {{4, 6, 8, 9, 10},
       nullptr,
       {{typeid(CHTRipScreen<US>), typeid(CHTRipScreen16<US>)},
        {typeid(CHTRipMLScreen<US>), typeid(CHTRipMLScreen16<US>)},
        {typeid(CHTRipMLVDScreen<US>), typeid(CHTRipMLVDScreen16<US>)}}},
      // Generated ordered dither and screen files set it.
      {{3, 5},
       "Builtin0.HTS",
       {{typeid(CHTRipScreen<US>), typeid(CHTRipScreen16<US>)},
        {typeid(CHTRipMLScreen<US>), typeid(CHTRipMLScreen16<US>)},
        {typeid(CHTRipMLVDSScreen<US>), typeid(CHTRipMLVDSScreen16<US>)}}},
  };
  const char* case_names[] = {"one-bit", "multi-level", "variable-dot"};
  for (const Family& f : families)
    for (uint32_t method : f.methods)
      for (int c = 0; c < 3; ++c)
        for (int d = 0; d < 2; ++d) {
          const std::type_index got = engine(method, Case(c), d ? 16 : 8, f.file);
          EXPECT_EQ(got, f.want[c][d]) << "method " << method << ", " << case_names[c] << ", "
                                       << (d ? 16 : 8) << "-bit input: got " << got.name();
        }
}

// A level engine of curve mode (non-zero curve number): a variable-dot
// engine for a variable-dot record, an ordinary one-bit engine otherwise
// (also for multi-bit records without the variable-dot flag, so that curve
// mode works for every multi-level printer).
TEST(CreateRip, LevelEnginesOfCurveMode) {
  ScopedEnv path("KLV_PATH", kData.c_str());
  using US = unsigned short;
  struct Row {
    uint32_t method;
    const char* file;
    std::type_index want[3];  // one-bit, multi-level, variable-dot; 8-bit input
  };
  const Row rows[] = {
      {0, nullptr, {typeid(CHTRipErrDif), typeid(CHTRipErrDif), typeid(CHTRipMLVDErrDif)}},
      {4,
       nullptr,
       {typeid(CHTRipScreen<US>), typeid(CHTRipScreen<US>), typeid(CHTRipMLVDScreen<US>)}},
      {5,
       "Builtin0.HTS",
       {typeid(CHTRipScreen<US>), typeid(CHTRipScreen<US>), typeid(CHTRipMLVDSScreen<US>)}},
  };
  const char* case_names[] = {"one-bit", "multi-level", "variable-dot"};
  for (const Row& r : rows)
    for (int c = 0; c < 3; ++c) {
      const std::type_index got = engine(r.method, Case(c), 8, r.file, 1);
      EXPECT_EQ(got, r.want[c]) << "method " << r.method << ", " << case_names[c]
                                << ", curve 1: got " << got.name();
    }
}

// Set-ups that make no engine: each is refused with a log line and no engine.
TEST(CreateRip, RefusedSetUpsLogAndMakeNoEngine) {
  struct Bad {
    const char* what;
    uint32_t method;
    int in_bits, in_samples, out_samples;
    const char* logged;
  } cases[] = {
      {"12-bit input", 4, 12, 1, 1, "neither 8 nor 16"},
      {"12-bit input, diffusion", 0, 12, 1, 1, "neither 8 nor 16"},
      {"more output than input samples", 4, 8, 1, 4, "more output samples than input"},
      {"two process colours", 0, 8, 2, 2, "input process colours"},
      {"13 samples", 4, 8, 13, 1, "more than 12 samples"},
  };
  for (const Bad& b : cases) {
    SCOPED_TRACE(b.what);
    HTPLACE* h =
        HTPlaceAlloc(4, 720, 720, 0, 0, 0, b.method, nullptr, nullptr, nullptr, nullptr, 0);
    ASSERT_NE(h, nullptr);
    auto* place = reinterpret_cast<CHTPlacement*>(h);
    image_info in = describe(b.in_bits, b.in_samples), out = describe(1, b.out_samples);
    std::string log;
    {
      LogCapture cap;
      EXPECT_FALSE(place->PreInitProcess(&in, &out));
      log = cap.Text();
    }
    EXPECT_NE(log.find(b.logged), std::string::npos) << log;
    HTPlaceFree(h);
  }
  // A placement asked for an engine before it was set up makes none.
  HTPLACE* h = HTPlaceAlloc(4, 720, 720, 0, 0, 0, 4, nullptr, nullptr, nullptr, nullptr, 0);
  auto* place = reinterpret_cast<CHTPlacement*>(h);
  EXPECT_EQ(place->CreateRip(0, 0, false, 0, nullptr, nullptr, 0, 4), nullptr);
  HTPlaceFree(h);
}

}  // namespace
