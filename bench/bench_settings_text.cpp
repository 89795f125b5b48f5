// SPDX-License-Identifier: MIT
// Settings text reading speed: tokenizing a generated multi-megabyte file,
// and filling records from its blocks through a field table. Bytes per
// second are reported against the file size. KLV_BENCH_BYTES sets the size
// of the generated file (default 32 MiB).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "klv/kernel_settings.h"

namespace {

struct Job {
  int32_t copies;
  uint32_t media_id;
  double width;
  double height;
  char path[260];
  char name[84];
  SSTRAL* options;
};

const off_field kTable[] = {
    {"Copies", OFF_INT32, 0, offsetof(Job, copies), 0, nullptr, nullptr},
    {"Height", OFF_DOUBLE, 0, offsetof(Job, height), 0, nullptr, nullptr},
    {"Imagepath", OFF_STRING, 0, offsetof(Job, path), sizeof(Job::path), nullptr, nullptr},
    {"JobName", OFF_STRING, 0, offsetof(Job, name), sizeof(Job::name), nullptr, nullptr},
    {"MediaId", OFF_UINT32, 0, offsetof(Job, media_id), 0, nullptr, nullptr},
    {"Options", OFF_STRAL, 0, offsetof(Job, options), 0, nullptr, nullptr},
    {"Width", OFF_DOUBLE, 0, offsetof(Job, width), 0, nullptr, nullptr},
};

// A file of many `Job { ... }` blocks like the ones job settings hold.
class Fixture {
 public:
  Fixture() {
    size_t want = 32u << 20;
    if (const char* e = std::getenv("KLV_BENCH_BYTES")) want = std::strtoull(e, nullptr, 10);
    path_ = "/tmp/klv_bench_settings_" + std::to_string(getpid()) + ".info";
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (!f) std::abort();
    std::string block;
    for (int n = 0; bytes_ < want; ++n) {
      block.clear();
      block += "; job " + std::to_string(n) + "\nJobs {\n Job {\n";
      block += "  Copies { " + std::to_string(n % 50) + " }\n";
      block += "  Width { 42.125000000000000 }\n  Height { 8.270000000000000 }\n";
      block += "  Imagepath { \"C:\\Jobs\\Queue\\job " + std::to_string(n) + "\\Image.tif\" }\n";
      block += "  JobName { Poster_" + std::to_string(n) + " }\n";
      block += "  MediaId { \"" + std::to_string(1000 + n) + "\" }\n";
      block += "  Unknown { { nested list } { of words } }\n";
      block += "  Options { { Quality High } { Passes 8 } { Direction Uni } }\n";
      block += " }\n}\n";
      std::fwrite(block.data(), 1, block.size(), f);
      bytes_ += block.size();
      ++blocks_;
    }
    std::fclose(f);
  }
  ~Fixture() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }
  size_t bytes() const { return bytes_; }

 private:
  std::string path_;
  size_t bytes_ = 0;
  size_t blocks_ = 0;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_Tokens(benchmark::State& state) {
  Fixture& f = fixture();
  char buf[512];
  for (auto _ : state) {
    SFPARSE* fp = fp_open(nullptr, f.path(), 0);
    size_t n = 0;
    while (fp_get_token(fp, buf, sizeof buf) > 0) ++n;
    fp_close(fp);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes()));
}
BENCHMARK(BM_Tokens)->Unit(benchmark::kMillisecond);

void BM_LoadStruct(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    SFPARSE* fp = fp_open(nullptr, f.path(), 0);
    Job job{};
    size_t n = 0;
    while (fp_open_block(fp, "Jobs") && fp_open_block(fp, "Job")) {
      if (!off_load_struct(fp, kTable, static_cast<int32_t>(std::size(kTable)), &job)) break;
      fp_close_block(fp);
      ++n;
    }
    stral_free(job.options);
    fp_close(fp);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes()));
}
BENCHMARK(BM_LoadStruct)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
