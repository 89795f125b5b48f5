// SPDX-License-Identifier: MIT
// Sequential write and read of one large volume member next to a plain host
// file written and read the same way, in 1 MiB and 4 KiB calls.
//
// KLV_BENCH_BYTES sets the size of each file (default 2 GiB), KLV_BENCH_ROUNDS
// how many times the sequence runs (the best figures are kept). Each benchmark
// runs once: a write benchmark makes the file that the following read
// benchmark reads, and a rewrite writes the member again over the one that is
// there. Wall-clock time depends on whatever else the machine runs; the CPU
// time this process spent (user + system, from getrusage) does much less, so
// the summary gives both, each as the member's share of the plain file's
// throughput, and the peak resident memory.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "klv/kernel.h"
#include "support/files.h"

namespace {

int64_t total_bytes() {
  const char* env = std::getenv("KLV_BENCH_BYTES");
  int64_t n = env ? std::strtoll(env, nullptr, 10) : 0;
  return n > 0 ? n : int64_t{2} << 30;
}

// Removed with its files when the program ends.
const std::string& scratch() {
  static const klv::test::ScratchFolder folder("benchvol");
  static const std::string dir = folder.str();
  return dir;
}

double cpu_seconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long peak_rss_kib() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

struct Result {
  double wall_mbs = 0;
  double cpu_mbs = 0;
};

std::map<std::string, Result>& results() {
  static std::map<std::string, Result> r;
  return r;
}

// One benchmark: a plain host file or a volume member, written or read.
// `rewrite` keeps the volume so that the member is written over itself.
void run(benchmark::State& state, const std::string& name, bool member, bool write, bool rewrite,
         size_t call) {
  const int64_t total = total_bytes();
  std::vector<uint8_t> buf(call);
  for (size_t i = 0; i < call; ++i) buf[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::string host = scratch() + "/plain.bin";
  const std::string vol = scratch() + "/bench.vol";
  double seconds = 0, cpu = 0;
  if (write && !rewrite) {
    // Each write starts from nothing, like the output image making a new file.
    std::filesystem::remove(member ? vol : host);
  }
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    const double cpu_start = cpu_seconds();
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
    cpu = cpu_seconds() - cpu_start;
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(total);
  const double mb = static_cast<double>(total) / 1e6;
  state.counters["MB/s"] = mb / seconds;
  state.counters["cpu_s"] = cpu;
  state.counters["peak_rss_MiB"] = static_cast<double>(peak_rss_kib()) / 1024.0;
  // With several rounds the best of each figure is kept.
  Result& r = results()[name];
  r.wall_mbs = std::max(r.wall_mbs, mb / seconds);
  r.cpu_mbs = std::max(r.cpu_mbs, mb / std::max(cpu, 1e-6));
}

// KLV_BENCH_ROUNDS (default 1) runs the whole sequence that many times.
int rounds() {
  const char* env = std::getenv("KLV_BENCH_ROUNDS");
  int n = env ? std::atoi(env) : 0;
  return n > 0 ? n : 1;
}

void register_all() {
  for (int round = 0; round < rounds(); ++round)
    for (size_t call : {size_t{1} << 20, size_t{4096}}) {
      const std::string size = call == 4096 ? "4KiB" : "1MiB";
      for (const char* what : {"write", "read", "rewrite"})
        for (bool member : {false, true}) {
          const std::string op = what;
          if (op == "rewrite" && !member) continue;
          std::string name = std::string(member ? "member" : "plain") + "/" + op + "/" + size;
          benchmark::RegisterBenchmark(name.c_str(),
                                       [=](benchmark::State& s) {
                                         run(s, name, member, op != "read", op == "rewrite", call);
                                       })
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
  std::printf("%-13s %21s %21s %13s\n", "", "wall MB/s", "MB per CPU second", "member share");
  std::printf("%-13s %10s %10s %10s %10s %6s %6s\n", "", "plain", "member", "plain", "member",
              "wall", "CPU");
  for (const char* size : {"1MiB", "4KiB"})
    for (const char* dir : {"write", "read", "rewrite"}) {
      auto& r = results();
      std::string p =
          std::string("plain/") + (dir[0] == 'r' && dir[2] == 'w' ? "write" : dir) + "/" + size;
      std::string m = std::string("member/") + dir + "/" + size;
      if (!r.count(p) || !r.count(m)) continue;
      const Result& a = r[p];
      const Result& b = r[m];
      std::printf("%-7s %-5s %10.1f %10.1f %10.1f %10.1f %5.0f%% %5.0f%%\n", dir, size, a.wall_mbs,
                  b.wall_mbs, a.cpu_mbs, b.cpu_mbs, 100.0 * b.wall_mbs / a.wall_mbs,
                  100.0 * b.cpu_mbs / a.cpu_mbs);
    }
  std::printf("peak RSS: %.1f MiB\n", static_cast<double>(peak_rss_kib()) / 1024.0);
  std::error_code ec;
  std::filesystem::remove_all(scratch(), ec);
  return 0;
}
