// SPDX-License-Identifier: MIT
// Sequential write and read of one large volume member next to a plain host
// file written and read the same way, in 1 MiB and 4 KiB calls.
//
// KLV_BENCH_BYTES sets the size of each file (default 2 GiB). Each benchmark
// runs once: a write benchmark makes the file that the following read
// benchmark reads. The summary at the end gives the member's throughput as a
// share of the plain file's and the peak resident memory.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "klv/kernel.h"

namespace {

int64_t total_bytes() {
  const char* env = std::getenv("KLV_BENCH_BYTES");
  int64_t n = env ? std::strtoll(env, nullptr, 10) : 0;
  return n > 0 ? n : int64_t{2} << 30;
}

std::string& scratch() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/klv-benchvol-XXXXXX";
    return std::string(mkdtemp(tmpl) ? tmpl : "/tmp");
  }();
  return dir;
}

long peak_rss_kib() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

std::map<std::string, double>& results() {
  static std::map<std::string, double> r;
  return r;
}

// One benchmark: a plain host file or a volume member, written or read.
void run(benchmark::State& state, const std::string& name, bool member, bool write, size_t call) {
  const int64_t total = total_bytes();
  std::vector<uint8_t> buf(call);
  for (size_t i = 0; i < call; ++i) buf[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::string host = scratch() + "/plain.bin";
  const std::string vol = scratch() + "/bench.vol";
  double seconds = 0;
  if (write) {
    // Each write starts from nothing, like the output image making a new file.
    std::filesystem::remove(member ? vol : host);
  }
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    SOVolume* v = nullptr;
    SFilemux* f = nullptr;
    if (member) {
      v = VOpen(nullptr, vol.c_str(), write ? KLV_VOL_CREATE : KLV_VOL_READ);
      if (!v) {
        state.SkipWithError("cannot open the volume");
        return;
      }
      f = Ovfopen(v, ".\\big", write ? "wb" : "rb");
    } else {
      f = Ovfopen(nullptr, host.c_str(), write ? "wb" : "rb");
    }
    if (!f) {
      state.SkipWithError("cannot open the file");
      if (v) VClose(v);
      return;
    }
    int64_t done = 0;
    while (done < total) {
      size_t n = static_cast<size_t>(std::min<int64_t>(call, total - done));
      size_t moved = write ? Owrite(f, buf.data(), n) : Oread(f, buf.data(), n);
      if (moved != n) break;
      done += static_cast<int64_t>(n);
    }
    bool ok = Oclose(f) == 0 && done == total;
    if (v) ok = VClose(v) == 0 && ok;
    if (!ok) {
      state.SkipWithError("short transfer");
      return;
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(total);
  double mbs = static_cast<double>(total) / 1e6 / seconds;
  state.counters["MB/s"] = mbs;
  state.counters["peak_rss_MiB"] = static_cast<double>(peak_rss_kib()) / 1024.0;
  results()[name] = mbs;
}

void register_all() {
  for (size_t call : {size_t{1} << 20, size_t{4096}}) {
    const std::string size = call == 4096 ? "4KiB" : "1MiB";
    for (bool write : {true, false})
      for (bool member : {false, true}) {
        std::string name = std::string(member ? "member" : "plain") + "/" +
                           (write ? "write" : "read") + "/" + size;
        benchmark::RegisterBenchmark(
            name.c_str(), [=](benchmark::State& s) { run(s, name, member, write, call); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
      }
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nbytes per file: %lld\n", static_cast<long long>(total_bytes()));
  for (const char* size : {"1MiB", "4KiB"})
    for (const char* dir : {"write", "read"}) {
      auto& r = results();
      std::string p = std::string("plain/") + dir + "/" + size;
      std::string m = std::string("member/") + dir + "/" + size;
      if (r.count(p) && r.count(m))
        std::printf("%-5s %-4s: plain %8.1f MB/s  member %8.1f MB/s  (%.0f%%)\n", dir, size, r[p],
                    r[m], 100.0 * r[m] / r[p]);
    }
  std::printf("peak RSS: %.1f MiB\n", static_cast<double>(peak_rss_kib()) / 1024.0);
  std::error_code ec;
  std::filesystem::remove_all(scratch(), ec);
  return 0;
}
