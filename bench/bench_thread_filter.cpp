// SPDX-License-Identifier: MIT
// The threaded write stage keeping a busy producer and a slow output
// overlapped. The producer spends KLV_BENCH_PRODUCE_US of processor time on
// each line (as screening does); the output takes KLV_BENCH_CONSUME_US per
// line of waiting (as a device or a remote disk does). Written directly, the
// two add up; through the stage the total should come close to the slower
// side alone. KLV_BENCH_LINES sets the line count (default 2000).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/threadfilter.h"

namespace {

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : fallback;
}
const int kLines = env_int("KLV_BENCH_LINES", 2000);
const int kProduceUs = env_int("KLV_BENCH_PRODUCE_US", 100);
const int kConsumeUs = env_int("KLV_BENCH_CONSUME_US", 250);

using Clock = std::chrono::steady_clock;

void spin_us(int us) {
  auto until = Clock::now() + std::chrono::microseconds(us);
  while (Clock::now() < until) {
  }
}

image_info line_info() {
  image_info info;
  init_image_info(&info);
  info.width = 30000;
  info.height = kLines;
  info.pages = 1;
  info.samples = 4;
  info.bits_per_sample = 1;
  info.bytes_per_line = image_info_line_bytes(&info);
  return info;
}

// An output that waits in proportion to the lines it is given.
class SlowOutput : public CIMG_file {
 public:
  SlowOutput() { m_info = line_info(); }
  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    benchmark::DoNotOptimize(buffer[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(int64_t{kConsumeUs} * count));
    return count;
  }
};

std::map<std::string, double>& seconds() {
  static std::map<std::string, double> s;
  return s;
}

void run(benchmark::State& state, const std::string& name, bool produce, bool consume,
         bool staged) {
  std::vector<uint8_t> line(line_info().bytes_per_line, 0x5A);
  for (auto _ : state) {
    auto t0 = Clock::now();
    IMG_file* out = consume ? (new SlowOutput)->ToImg('w', 50) : nullptr;
    if (out && staged) out = threadfilter_attach(out, 64 * line.size());
    for (int l = 0; l < kLines; ++l) {
      if (produce) spin_us(kProduceUs);
      if (out) img_write_line(out, line.data(), 1);
    }
    img_close(out);  // waits for the worker to drain the ring
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(s);
    seconds()[name] = s;
  }
}

}  // namespace

int main(int argc, char** argv) {
  auto add = [](const char* name, bool p, bool c, bool st) {
    benchmark::RegisterBenchmark(name, [=](benchmark::State& s) { run(s, name, p, c, st); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  };
  add("producer_alone", true, false, false);
  add("output_alone", false, true, false);
  add("direct", true, true, false);
  add("through_stage", true, true, true);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  auto& s = seconds();
  double slower = std::max(s["producer_alone"], s["output_alone"]);
  std::printf("\n%d lines, producer %d us/line, output %d us/line\n", kLines, kProduceUs,
              kConsumeUs);
  std::printf(
      "producer alone %.3f s, output alone %.3f s, direct %.3f s, through the stage "
      "%.3f s (%.0f%% of the slower side alone)\n",
      s["producer_alone"], s["output_alone"], s["direct"], s["through_stage"],
      slower > 0 ? 100 * s["through_stage"] / slower : 0);
  benchmark::Shutdown();
  return 0;
}
