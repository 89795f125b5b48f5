// SPDX-License-Identifier: MIT
// The lookup grid and the colour conversion folded into it: the grid
// reproduces functions it can represent exactly (linear ones), picks its
// worker by shape, refuses shapes it has no worker for; folded conversions
// stay within dE00 0.5 of the exact per-pixel path through real profiles and
// within one code value for calibration alone.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cms_test_util.h"
#include "color/clut_grid.h"
#include "klv/color_convert_cxx.h"

namespace {

using klv::color::ClutGrid;

// out = a linear map of the input, so that interpolation is exact.
ClutGrid::Sampler linear_map(uint32_t inputs, uint32_t outputs) {
  return [inputs, outputs](const uint16_t* in, uint16_t* out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, in += inputs, out += outputs)
      for (uint32_t c = 0; c < outputs; ++c) {
        uint32_t sum = 0;
        for (uint32_t k = 0; k < inputs; ++k) sum += in[k];
        // Output c: input c (when there is one), else the mean of the inputs.
        out[c] = c < inputs ? in[c] : uint16_t(sum / inputs);
      }
    return true;
  };
}

// A photograph-like test image: gradients with deterministic noise.
std::vector<uint8_t> noisy_photo(uint32_t width, uint32_t height, uint32_t channels) {
  std::vector<uint8_t> px(size_t(width) * height * channels);
  uint32_t state = 12345;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (uint32_t c = 0; c < channels; ++c) {
        state = state * 1664525u + 1013904223u;
        const int noise = int(state >> 27) - 16;
        const int base = c == 0   ? int(255 * x / width)
                         : c == 1 ? int(255 * y / height)
                                  : int((x * 7 + y * 3 + c * 50) & 255);
        px[(size_t(y) * width + x) * channels + c] = uint8_t(std::clamp(base + noise, 0, 255));
      }
  return px;
}

TEST(ClutGrid, FoldsLinearFunctionsExactlyWithTheWorkerOfItsShape) {
  struct Case {
    uint32_t inputs, outputs;
    const char* worker;
  } cases[] = {{1, 1, "linear1x1"}, {1, 4, "linear1x4"}, {3, 3, "tetra3x3"}, {3, 4, "tetra3x4"},
               {3, 6, "tetra3xN"},  {4, 4, "tetra4x4"},  {4, 1, "tetra4x1"}, {4, 7, "tetra4xN"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.worker);
    std::string error;
    auto g = ClutGrid::Fold(c.inputs, c.outputs, ClutGrid::DefaultPoints(c.inputs),
                            linear_map(c.inputs, c.outputs), &error);
    ASSERT_NE(g, nullptr) << error;
    EXPECT_EQ(std::string(g->Worker()).substr(0, std::strlen(c.worker)), c.worker);
    // Every pixel of a noisy image, 8 and 16 bits, against the function itself.
    const uint32_t n = 4096;
    const std::vector<uint8_t> in8 = noisy_photo(64, 64, c.inputs);
    std::vector<uint16_t> in16(in8.size()), want(size_t(n) * c.outputs), got16(want.size());
    for (size_t i = 0; i < in8.size(); ++i) in16[i] = uint16_t(in8[i] * 257 + (i % 200));
    std::vector<uint8_t> got8(want.size());
    g->Line8(in8.data(), got8.data(), n);
    g->Line16(in16.data(), got16.data(), n);
    std::vector<uint16_t> in8w(in8.begin(), in8.end());
    for (auto& v : in8w) v = uint16_t(v * 257);
    std::vector<uint16_t> want8(want.size());
    linear_map(c.inputs, c.outputs)(in8w.data(), want8.data(), n);
    linear_map(c.inputs, c.outputs)(in16.data(), want.data(), n);
    int worst8 = 0, worst16 = 0;
    for (size_t i = 0; i < want.size(); ++i) {
      worst8 = std::max(worst8, std::abs(int(got8[i]) - int((want8[i] + 128) / 257)));
      worst16 = std::max(worst16, std::abs(int(got16[i]) - int(want[i])));
    }
    EXPECT_LE(worst8, 1);
    EXPECT_LE(worst16, 2);
  }
}

TEST(ClutGrid, VectorWorkersAgreeWithThePlainLoopsBitForBit) {
  // A bent function, so that rounding differences would show.
  auto bent = [](uint32_t inputs) {
    return [inputs](const uint16_t* in, uint16_t* out, uint32_t count) {
      for (uint32_t i = 0; i < count; ++i, in += inputs, out += 4)
        for (uint32_t c = 0; c < 4; ++c)
          out[c] = uint16_t(uint64_t(in[c % inputs]) * in[(c + 1) % inputs] / 65535);
      return true;
    };
  };
  for (uint32_t inputs : {3u, 4u}) {
    SCOPED_TRACE(inputs);
    auto vector = ClutGrid::Fold(inputs, 4, ClutGrid::DefaultPoints(inputs), bent(inputs), nullptr);
    auto plain = ClutGrid::Fold(inputs, 4, ClutGrid::DefaultPoints(inputs), bent(inputs), nullptr);
    ASSERT_TRUE(vector && plain);
    plain->UsePlainLoops();
    EXPECT_EQ(std::string(plain->Worker()).find("sse"), std::string::npos);
    const uint32_t n = 64 * 64 - 1;  // odd: the two-pixel worker ends on one
    const std::vector<uint8_t> in8 = noisy_photo(64, 64, inputs);
    std::vector<uint16_t> in16(in8.size());
    for (size_t i = 0; i < in8.size(); ++i) in16[i] = uint16_t(in8[i] * 257 + (i * 37) % 257);
    std::vector<uint8_t> v8(n * 4), p8(n * 4);
    std::vector<uint16_t> v16(n * 4), p16(n * 4);
    vector->Line8(in8.data(), v8.data(), n);
    plain->Line8(in8.data(), p8.data(), n);
    vector->Line16(in16.data(), v16.data(), n);
    plain->Line16(in16.data(), p16.data(), n);
    EXPECT_EQ(v8, p8);
    EXPECT_EQ(v16, p16);
  }
}

TEST(ClutGrid, EndsOfTheRangeHitTheCornerNodes) {
  // A function that is not linear: only the corners are exact, and must be.
  auto square = [](const uint16_t* in, uint16_t* out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
      for (uint32_t c = 0; c < 3; ++c)
        out[i * 3 + c] = uint16_t(in[i * 3 + c] * uint64_t(in[i * 3 + c]) / 65535);
    return true;
  };
  auto g = ClutGrid::Fold(3, 3, 33, square, nullptr);
  ASSERT_NE(g, nullptr);
  const uint8_t in8[] = {0, 0, 0, 255, 255, 255, 255, 0, 255};
  uint8_t out8[9];
  g->Line8(in8, out8, 3);
  EXPECT_EQ(std::vector<uint8_t>(out8, out8 + 9), std::vector<uint8_t>(in8, in8 + 9));
  const uint16_t in16[] = {0, 65535, 0};
  uint16_t out16[3];
  g->Line16(in16, out16, 1);
  EXPECT_EQ(std::vector<uint16_t>(out16, out16 + 3), std::vector<uint16_t>(in16, in16 + 3));
}

TEST(ClutGrid, RefusesShapesItHasNoWorkerForAndAFailingSampler) {
  struct Case {
    uint32_t inputs, outputs, points;
    const char* says;
  } cases[] = {{2, 3, 17, "1, 3 or 4 inputs"},
               {3, 0, 17, "outputs"},
               {3, 17, 17, "outputs"},
               {3, 3, 1, "out of range"},
               {4, 3, 257, "out of range"}};
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(ClutGrid::Fold(c.inputs, c.outputs, c.points, linear_map(3, 3), &error), nullptr);
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
  std::string error;
  auto fails = [](const uint16_t*, uint16_t*, uint32_t) { return false; };
  EXPECT_EQ(ClutGrid::Fold(3, 4, 9, fails, &error), nullptr);
  EXPECT_NE(error.find("failed"), std::string::npos) << error;
}

TEST(ClutGrid, FoldingOnSeveralLanesGivesTheSameTable) {
  // A bent function of the node, so that any node sampled in the wrong
  // place or twice over shows in the table.
  auto bent = [](const uint16_t* in, uint16_t* out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, in += 3, out += 4)
      for (uint32_t c = 0; c < 4; ++c)
        out[c] = uint16_t((in[0] * 3u + in[1] * (c + 1) + uint64_t(in[2]) * in[2] / 65535) / 5);
    return true;
  };
  const ClutGrid::Shape packed[3] = {{1.5, false}, {1.5, false}, {2, true}};
  auto one = ClutGrid::Fold(3, 4, 65, bent, nullptr, packed);
  ASSERT_NE(one, nullptr);
  const size_t values = size_t(65) * 65 * 65 * 4;
  for (uint32_t lanes : {1u, 2u, 3u, 100u}) {
    SCOPED_TRACE(lanes);
    std::atomic<uint32_t> worst_lane{0};
    auto lane_bent = [&](uint32_t lane, const uint16_t* in, uint16_t* out, uint32_t count) {
      uint32_t seen = worst_lane.load();
      while (lane > seen && !worst_lane.compare_exchange_weak(seen, lane)) {
      }
      return bent(in, out, count);
    };
    auto many = ClutGrid::Fold(3, 4, 65, lanes, lane_bent, nullptr, packed);
    ASSERT_NE(many, nullptr);
    EXPECT_LT(worst_lane.load(), lanes);
    EXPECT_EQ(std::memcmp(one->Table(), many->Table(), values * sizeof(uint16_t)), 0);
  }
  // A batch that fails fails the fold, whichever lane has it: here the
  // last one (the only one short of a whole batch), or every one.
  for (bool every : {false, true}) {
    std::string error;
    auto fails = [every](uint32_t, const uint16_t*, uint16_t*, uint32_t count) {
      return !every && count == 4096;
    };
    EXPECT_EQ(ClutGrid::Fold(3, 4, 65, 2, fails, &error), nullptr);
    EXPECT_NE(error.find("failed"), std::string::npos) << error;
  }
}

#ifdef KLV_LCMS2_ENGINE

using namespace cms_test;

const std::string kProfiles = std::string(KLV_DATA_DIR) + "/profiles/";

// The shipped engine on the Server path and the data folder on the search path.
class Conversion : public ::testing::Test {
 protected:
  Conversion()
      : server_(types_file(record("1 2 15", "LittleCMS", as_dll(KLV_LCMS2_ENGINE)))),
        path_("KLV_PATH", KLV_DATA_DIR) {}

  ServerFolder server_;
  ScopedEnv path_;
};

// CMYK ink amounts (8-bit) to L*a*b* through the CMYK profile.
class CmykToLab {
 public:
  CmykToLab() {
    cmsHPROFILE cmyk = cmsOpenProfileFromFile((kProfiles + "klv_cmyk.icc").c_str(), "r");
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    t_ = cmsCreateTransform(cmyk, TYPE_CMYK_16, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC,
                            cmsFLAGS_NOOPTIMIZE);
    cmsCloseProfile(cmyk);
    cmsCloseProfile(lab);
  }
  ~CmykToLab() { cmsDeleteTransform(t_); }
  cmsCIELab operator()(const uint16_t* cmyk) const {
    cmsCIELab lab;
    cmsDoTransform(t_, cmyk, &lab, 1);
    return lab;
  }

 private:
  cmsHTRANSFORM t_;
};

// The largest dE00 between two CMYK pixel lists (16-bit ink amounts).
double worst_delta_e(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
  CmykToLab lab;
  double worst = 0;
  for (size_t i = 0; i + 3 < a.size(); i += 4) {
    const cmsCIELab la = lab(&a[i]), lb = lab(&b[i]);
    worst = std::max(worst, double(cmsCIE2000DeltaE(&la, &lb, 1, 1, 1)));
  }
  return worst;
}

// The mean dE00 between two CMYK pixel lists.
double mean_delta_e(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
  CmykToLab lab;
  double sum = 0;
  for (size_t i = 0; i + 3 < a.size(); i += 4) {
    const cmsCIELab la = lab(&a[i]), lb = lab(&b[i]);
    sum += cmsCIE2000DeltaE(&la, &lb, 1, 1, 1);
  }
  return sum / double(a.size() / 4);
}

// The 17 x 17 x 17 RGB cube followed by a noisy photograph, 8-bit.
std::vector<uint8_t> rgb_samples() {
  std::vector<uint8_t> px;
  for (int r = 0; r < 17; ++r)
    for (int g = 0; g < 17; ++g)
      for (int b = 0; b < 17; ++b)
        for (int v : {r, g, b}) px.push_back(uint8_t(std::min(255, v * 16)));
  const std::vector<uint8_t> photo = noisy_photo(128, 96, 3);
  px.insert(px.end(), photo.begin(), photo.end());
  return px;
}

TEST_F(Conversion, RgbToCmykThroughTheGridStaysWithinHalfADeltaE) {
  for (int intent : {0, 1}) {
    SCOPED_TRACE(intent);
    klv::ColorConversionSetup s;
    s.input = klv::ColorModel::kRgb;
    s.output_profile = kProfiles + "klv_cmyk.icc";
    s.intent = intent;
    std::string error;
    auto conv = klv::ColorConversion::Open(s, &error);
    ASSERT_NE(conv, nullptr) << error;
    ASSERT_EQ(conv->OutputChannels(), 4u);
    EXPECT_EQ(conv->OutputModel(), klv::ColorModel::kCmyk);
    EXPECT_FALSE(conv->OutputProfile().empty());
    const std::vector<uint8_t> in8 = rgb_samples();
    const uint32_t n = uint32_t(in8.size() / 3);
    std::vector<uint16_t> in16(in8.size()), exact(size_t(n) * 4), grid16(exact.size());
    for (size_t i = 0; i < in8.size(); ++i) in16[i] = uint16_t(in8[i] * 257);
    ASSERT_TRUE(conv->Exact16(in16.data(), exact.data(), n));
    std::vector<uint8_t> grid8(exact.size());
    conv->Line8(in8.data(), grid8.data(), n);
    conv->Line16(in16.data(), grid16.data(), n);
    // 16 bits: the grid against the exact path.
    EXPECT_LE(worst_delta_e(exact, grid16), 0.5);
    // 8 bits: the same grid, its result rounded to 8 bits. (Rounding the
    // exact result to 8 bits alone moves colours by up to dE00 0.8 in this
    // profile's deep shadows, where one code of cyan is worth that much, so
    // no 8-bit result can be held to 0.5 against the exact one there.)
    int worst = 0;
    for (size_t i = 0; i < exact.size(); ++i)
      worst = std::max(worst, std::abs(int(grid8[i]) - int((grid16[i] + 128) / 257)));
    EXPECT_LE(worst, 1);
    std::vector<uint16_t> grid8w(exact.size());
    for (size_t i = 0; i < exact.size(); ++i) grid8w[i] = uint16_t(grid8[i] * 257);
    EXPECT_LE(mean_delta_e(exact, grid8w), 0.1);
  }
}

TEST_F(Conversion, CalibrationAloneThroughTheGridStaysWithinOneCodeValue) {
  klv::ColorConversionSetup s;
  s.input = klv::ColorModel::kCmyk;
  s.calibration_only = true;
  s.printer = "KlvDemo";
  s.calibration = "Linear1~Glossy Photo~1440x720~4";
  std::string error;
  auto conv = klv::ColorConversion::Open(s, &error);
  ASSERT_NE(conv, nullptr) << error;
  EXPECT_TRUE(conv->OutputProfile().empty());
  std::vector<uint8_t> in8;
  for (int c = 0; c < 17; ++c)
    for (int m = 0; m < 17; ++m)
      for (int y = 0; y < 17; ++y)
        for (int k = 0; k < 17; ++k)
          for (int v : {c, m, y, k}) in8.push_back(uint8_t(std::min(255, v * 16)));
  const std::vector<uint8_t> photo = noisy_photo(128, 96, 4);
  in8.insert(in8.end(), photo.begin(), photo.end());
  for (int v = 0; v < 256; ++v)
    in8.insert(in8.end(), {uint8_t(v), uint8_t(v), uint8_t(v), uint8_t(v)});
  const uint32_t n = uint32_t(in8.size() / 4);
  std::vector<uint16_t> in16(in8.size()), exact(in8.size()), grid16(in8.size());
  for (size_t i = 0; i < in8.size(); ++i) in16[i] = uint16_t(in8[i] * 257);
  ASSERT_TRUE(conv->Exact16(in16.data(), exact.data(), n));
  std::vector<uint8_t> grid8(in8.size());
  conv->Line8(in8.data(), grid8.data(), n);
  conv->Line16(in16.data(), grid16.data(), n);
  int worst8 = 0, worst16 = 0;
  bool changed = false;
  for (size_t i = 0; i < in8.size(); ++i) {
    worst8 = std::max(worst8, std::abs(int(grid8[i]) - int((exact[i] + 128) / 257)));
    worst16 = std::max(worst16, std::abs(int(grid16[i]) - int(exact[i])));
    changed = changed || grid8[i] != in8[i];
  }
  EXPECT_TRUE(changed) << "the calibration does something";
  EXPECT_LE(worst8, 1);
  EXPECT_LE(worst16, 257);
}

TEST_F(Conversion, TheColourChainAndTheDirectPathAgree) {
  struct Case {
    const char* what;
    klv::ColorModel input;
    bool calibration_only;
  } cases[] = {{"rgb", klv::ColorModel::kRgb, false}, {"inks", klv::ColorModel::kCmyk, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    klv::ColorConversionSetup s;
    s.input = c.input;
    s.calibration_only = c.calibration_only;
    s.printer = "KlvDemo";
    s.calibration = "Linear1~Plain Paper~1440x720~4";
    std::string error;
    auto chain = klv::ColorConversion::Open(s, &error);
    ASSERT_NE(chain, nullptr) << error;
    EXPECT_NE(chain->Description().find("colour chain"), std::string::npos) << chain->Description();
    s.use_chain = false;
    auto direct = klv::ColorConversion::Open(s, &error);
    ASSERT_NE(direct, nullptr) << error;
    EXPECT_EQ(direct->Description().find("colour chain"), std::string::npos);
    const uint32_t channels = chain->InputChannels();
    const std::vector<uint8_t> photo = noisy_photo(64, 32, channels);
    std::vector<uint16_t> in(photo.size()), a(size_t(64 * 32) * 4), b(a.size());
    for (size_t i = 0; i < in.size(); ++i) in[i] = uint16_t(photo[i] * 257);
    ASSERT_TRUE(chain->Exact16(in.data(), a.data(), 64 * 32));
    ASSERT_TRUE(direct->Exact16(in.data(), b.data(), 64 * 32));
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    EXPECT_LE(worst, 257) << "within one 8-bit code";
  }
}

TEST_F(Conversion, FoldingOnTwoThreadsGivesTheSameGrid) {
  // The job's kind of conversion (RGB through the chain with a calibration)
  // and the direct path, each folded on one thread and on two; a lattice
  // finer than the grid reaches every node's cells.
  for (bool use_chain : {true, false}) {
    SCOPED_TRACE(use_chain ? "chain" : "direct");
    klv::ColorConversionSetup s;
    s.printer = "KlvDemo";
    s.calibration = "Linear1~Glossy Photo~1440x720~4";
    s.use_chain = use_chain;
    std::string error;
    auto one = klv::ColorConversion::Open(s, &error);
    ASSERT_NE(one, nullptr) << error;
    s.threads = 2;
    auto two = klv::ColorConversion::Open(s, &error);
    ASSERT_NE(two, nullptr) << error;
    constexpr uint32_t kSteps = 97;
    std::vector<uint16_t> in;
    for (uint32_t r = 0; r < kSteps; ++r)
      for (uint32_t g = 0; g < kSteps; ++g)
        for (uint32_t b = 0; b < kSteps; ++b)
          for (uint32_t v : {r, g, b}) in.push_back(uint16_t(v * 65535 / (kSteps - 1)));
    const uint32_t n = kSteps * kSteps * kSteps;
    std::vector<uint16_t> a(size_t(n) * 4), b(a.size());
    one->Line16(in.data(), a.data(), n);
    two->Line16(in.data(), b.data(), n);
    EXPECT_TRUE(a == b);
  }
}

TEST_F(Conversion, GrayAndLabInputReachCmykAndNeutralsStayNeutralish) {
  for (auto model : {klv::ColorModel::kGray, klv::ColorModel::kLab}) {
    klv::ColorConversionSetup s;
    s.input = model;
    std::string error;
    auto conv = klv::ColorConversion::Open(s, &error);
    ASSERT_NE(conv, nullptr) << error;
    ASSERT_EQ(conv->OutputChannels(), 4u);
    // White paper takes no ink, and black takes a lot.
    const uint8_t white[] = {255, 128, 128}, black[] = {0, 128, 128};
    uint8_t out[4];
    conv->Line8(white, out, 1);
    EXPECT_LE(*std::max_element(out, out + 4), 5) << conv->Description();
    conv->Line8(black, out, 1);
    EXPECT_GE(out[3], 128) << conv->Description();
  }
}

TEST_F(Conversion, RefusesWhatItCannotDoAndSaysWhy) {
  using Setup = klv::ColorConversionSetup;
  struct Case {
    const char* what;
    void (*change)(Setup&);
    const char* says;
  } cases[] = {
      {"missing input profile", [](Setup& s) { s.input_profile = "no_such.icc"; }, "not found"},
      {"missing output profile", [](Setup& s) { s.output_profile = "no_such.icc"; }, "not found"},
      {"calibration without printer", [](Setup& s) { s.calibration = "Linear1"; },
       "needs a printer"},
      {"calibration of RGB output",
       [](Setup& s) {
         s.output_profile = "klv_srgb.icc", s.printer = "KlvDemo", s.calibration = "Linear1";
       },
       "ink output"},
      {"unknown calibration",
       [](Setup& s) { s.printer = "KlvDemo", s.calibration = "Nothing~Here~1x1~4"; },
       "no linearization"},
      {"printer without calibration",
       [](Setup& s) { s.printer = "NoSuchPrinter", s.calibration = "Linear1"; },
       "no calibration volume"},
      {"calibration alone on RGB", [](Setup& s) { s.calibration_only = true; }, "ink input"},
      {"bad intent", [](Setup& s) { s.intent = 7; }, "intent"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Setup setup;
    c.change(setup);
    std::string error;
    EXPECT_EQ(klv::ColorConversion::Open(setup, &error), nullptr);
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST_F(Conversion, AnEmbeddedProfileOfTheWrongModelFallsBackToTheDefault) {
  const std::vector<uint8_t> gray = icc_test::read_file(kProfiles + "klv_gray.icc");
  klv::ColorConversionSetup s;
  s.embedded = gray;  // a gray profile on RGB input
  std::string error;
  auto conv = klv::ColorConversion::Open(s, &error);
  ASSERT_NE(conv, nullptr) << error;
  EXPECT_NE(conv->Description().find("klv_srgb.icc"), std::string::npos) << conv->Description();
  s.embedded = icc_test::read_file(kProfiles + "klv_srgb.icc");
  conv = klv::ColorConversion::Open(s, &error);
  ASSERT_NE(conv, nullptr) << error;
  EXPECT_NE(conv->Description().find("embedded"), std::string::npos) << conv->Description();
}

#endif

}  // namespace
