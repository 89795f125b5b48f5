// SPDX-License-Identifier: MIT
// Colour chain application on whole lines: a CMYK chain of curves, density
// tables and a calibration (linearization and ink limit) at 8 and 16 bits,
// with and without the colour cache, and RGB lines fitted to four channels by
// black generation; with the LittleCMS engine, RGB lines through a printer
// profile node (sRGB to CMYK) and the calibration, with and without the
// cache. Lines are 4,096 pixels of varied colour.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "klv/ucc.h"

namespace {

constexpr int kWidth = 4096;
constexpr int kLines = 16;

t_ucc_node* cmyk_chain() {
  t_ucc_node* curves = new_ucc(UCC_CRV1);
  auto* set = static_cast<ucc_curves*>(curves->data);
  set->used = 5;
  for (int c = 0; c < 5; ++c) {
    set->curves[c].points[1].y = 230 - c * 10;
    ucc_calc_curve(&set->curves[c]);
  }
  t_ucc_node* density = new_ucc(UCC_DNTB);
  t_ucc_node* chain =
      ucc_set_calb(add_ucc(add_ucc(nullptr, curves), density), "", "", "", "", 1, 0);
  auto* cal = static_cast<ucc_calb*>(find_ucc_node(chain, UCC_CTB0)->data);
  cal->linear = static_cast<LNTB*>(std::calloc(1, sizeof(LNTB)));
  cal->linear->count = 4;
  cal->linear->tables = alloc_lntb(4);
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i < 256; ++i)
      cal->linear->tables[c][i] = static_cast<uint16_t>(i * (200 + c * 10) / 255);
  cal->limit = static_cast<SCTB*>(std::calloc(1, sizeof(SCTB)));
  cal->limit->scale = 2.8;
  return chain;
}

template <typename T>
std::vector<T> busy_line(int channels, int shift, bool repeats) {
  // Sixteen lines one after the other: random colours (65,536 distinct, more
  // than the cache keeps), or colours of six levels a channel as flat areas of
  // an image give.
  std::mt19937 rng(11);
  std::vector<T> v(static_cast<size_t>(kWidth) * channels * kLines);
  const uint32_t step = std::numeric_limits<T>::max() / 5;
  for (auto& x : v) x = static_cast<T>(repeats ? (rng() % 6) * step : rng() >> shift);
  return v;
}

// The n-th of the sixteen lines.
template <typename T>
const T* line_at(const std::vector<T>& v, int64_t n, int channels) {
  return v.data() + static_cast<size_t>(n % kLines) * kWidth * channels;
}

void run16(benchmark::State& state, bool cache, bool repeats) {
  ucc_info* info = ucc_info_init(cmyk_chain(), cache, 0);
  ucc_request form;
  ucc_request_init(&form, info, 0, 4, 4);
  const auto in = busy_line<uint16_t>(4, 16, repeats);
  std::vector<uint16_t> out(static_cast<size_t>(kWidth) * 4);
  int64_t n = 0;
  for (auto _ : state) {
    ucc_apply_line16(&form, line_at(in, n++, 4), out.data(), kWidth);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
  ucc_info_free(info, 1);
}

void run8(benchmark::State& state, bool cache, bool repeats) {
  ucc_info* info = ucc_info_init(cmyk_chain(), cache, 0);
  ucc_request form;
  ucc_request_init(&form, info, 0, 4, 4);
  const auto in = busy_line<uint8_t>(4, 24, repeats);
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * 4);
  int64_t n = 0;
  for (auto _ : state) {
    ucc_apply_line8(&form, line_at(in, n++, 4), out.data(), kWidth);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
  ucc_info_free(info, 1);
}

void BM_Cmyk16(benchmark::State& s) {
  run16(s, false, false);
}
void BM_Cmyk16Cached(benchmark::State& s) {
  run16(s, true, false);
}
void BM_Cmyk16CachedFlat(benchmark::State& s) {
  run16(s, true, true);
}
void BM_Cmyk8(benchmark::State& s) {
  run8(s, false, false);
}
void BM_Cmyk8Cached(benchmark::State& s) {
  run8(s, true, false);
}
void BM_Cmyk8CachedFlat(benchmark::State& s) {
  run8(s, true, true);
}

void BM_RgbToCmyk8(benchmark::State& state) {
  t_ucc_node* levels = new_ucc(UCC_RGB0);
  auto* r = static_cast<ucc_rgb_levels*>(levels->data);
  r->enable[0] = r->enable[1] = 1;
  r->black[0] = 8;
  ucc_calc_rgb(r);
  ucc_info* info = ucc_info_init(add_ucc(nullptr, levels), 0, 0);
  ucc_request form;
  ucc_request_init(&form, info, 1, 3, 4);
  form.flags = UCC_REQ_FIT;
  const auto in = busy_line<uint8_t>(3, 24, false);
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * 4);
  int64_t n = 0;
  for (auto _ : state) {
    ucc_apply_line8(&form, line_at(in, n++, 3), out.data(), kWidth);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
  ucc_info_free(info, 1);
}

BENCHMARK(BM_Cmyk16);
BENCHMARK(BM_Cmyk16Cached);
BENCHMARK(BM_Cmyk16CachedFlat);
BENCHMARK(BM_Cmyk8);
BENCHMARK(BM_Cmyk8Cached);
BENCHMARK(BM_Cmyk8CachedFlat);
BENCHMARK(BM_RgbToCmyk8);

#ifdef KLV_LCMS2_ENGINE
// The colour service with the built LittleCMS engine and an sRGB -> CMYK
// printer profile node followed by the calibration of cmyk_chain().
class ProfileChain {
 public:
  ProfileChain() {
    char tmpl[] = "/tmp/klv_ucc_bench_XXXXXX";
    folder_ = mkdtemp(tmpl);
    std::ofstream(folder_ + "/CMSTypes.Info")
        << "CMS_Types {\n  CMMS {\n    Type { 1 }\n    CMM { LittleCMS }\n    ApplyDLL { \""
        << KLV_LCMS2_ENGINE << "\" }\n  }\n}\n";
    setenv("KLV_SERVER_PATH", folder_.c_str(), 1);
    if (!cms_initialize(nullptr, nullptr)) return;
    const std::string profiles = std::string(KLV_DATA_DIR) + "/profiles/";
    const char* args[] = {"intent=0"};
    t_ucc_node* node = new_ucc(UCC_PCG3);
    static_cast<ucc_proflist*>(node->data)->first = cms_profnode_new(
        1, "", 0, (profiles + "klv_srgb.icc").c_str(), "", (profiles + "klv_cmyk.icc").c_str(), "",
        1, args, 0, nullptr, 3, 4 | CMS_FMT_INK, nullptr, nullptr);
    chain_ = merge_ucc(cmyk_chain(), node);
    load_calibration(nullptr, &chain_, 1, 0x400, nullptr);
  }
  ~ProfileChain() {
    free_ucc(chain_);
    cms_terminate(nullptr, nullptr);
    std::filesystem::remove_all(folder_);
  }
  t_ucc_node* chain() const { return chain_; }

 private:
  std::string folder_;
  t_ucc_node* chain_ = nullptr;
};

void run_profile(benchmark::State& state, bool cache, bool repeats) {
  static ProfileChain profile;
  ucc_info* info = ucc_info_init(profile.chain(), cache, 0);
  ucc_request form;
  ucc_request_init(&form, info, 1, 3, 4);
  const auto in = busy_line<uint8_t>(3, 24, repeats);
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * 4);
  int64_t n = 0;
  for (auto _ : state) {
    ucc_apply_line8(&form, line_at(in, n++, 3), out.data(), kWidth);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
  ucc_info_free(info, 0);
}

void BM_RgbProfile8(benchmark::State& s) {
  run_profile(s, false, false);
}
void BM_RgbProfile8Cached(benchmark::State& s) {
  run_profile(s, true, false);
}
void BM_RgbProfile8CachedFlat(benchmark::State& s) {
  run_profile(s, true, true);
}
BENCHMARK(BM_RgbProfile8);
BENCHMARK(BM_RgbProfile8Cached);
BENCHMARK(BM_RgbProfile8CachedFlat);
#endif

}  // namespace

BENCHMARK_MAIN();
