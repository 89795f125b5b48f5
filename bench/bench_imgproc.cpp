// SPDX-License-Identifier: MIT
// The job driver end to end: the sample picture processed for the demo
// printer at 720x720 dpi (2880x1920 pixels, RGB to calibrated CMYK, screened
// to one bit per ink), print file, list and record included, on one thread
// and on two (the output stage's line pipeline), with the ink counted.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "klv/cms.h"
#include "klv/imgproc_cxx.h"
#include "klv/job_settings_cxx.h"
#include "support/env.h"
#include "support/files.h"

namespace {

void BM_ProcessDemoJob(benchmark::State& state) {
  const std::string data = KLV_DATA_DIR;
  klv::test::ScopedEnv path("KLV_PATH", data + ":" + KLV_CMS_ENGINES);
  klv::test::ScratchFolder folder("bench_imgproc");
  klv::test::ScopedEnv registry("KLV_REGISTRY", folder.path("Registry.info"));
  klv::SettingsPtr s(settings_new());
  std::snprintf(s->Imagepath, sizeof s->Imagepath, "%s/samples/chart.tif", data.c_str());
  std::snprintf(s->Printpath, sizeof s->Printpath, "%s", folder.path("J.prt").c_str());
  std::snprintf(s->PrintDev, sizeof s->PrintDev, "KlvDemo");
  std::snprintf(s->PrintMedia, sizeof s->PrintMedia, "Glossy Photo");
  std::snprintf(s->PrintRes, sizeof s->PrintRes, "720x720");
  s->PatternDif = 4;
  klv::ProcOptions options;
  options.threads = int(state.range(0));
  options.count_ink = true;
  klv::ProcOutcome out;
  for (auto _ : state) {
    if (!klv::process_job(folder.str().c_str(), s.get(), "bench", options, nullptr, nullptr,
                          &out)) {
      state.SkipWithError(out.error.c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t(out.width) * out.height);
  cms_terminate(nullptr, nullptr);
}
BENCHMARK(BM_ProcessDemoJob)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
