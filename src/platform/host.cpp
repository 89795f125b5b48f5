// SPDX-License-Identifier: MIT
// Names, folders, clocks and the identity of the process.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "klv/log.h"
#include "klv/platform.h"

#ifndef KLV_DATADIR
#define KLV_DATADIR "/usr/local/share/klv"
#endif

namespace klv::platform {

namespace {

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// A 64-bit mix (splitmix64 finaliser): spreads the bits of its input.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// FNV-1a over a text.
uint64_t HashText(const std::string& text) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001B3ull;
  return h;
}

// The id of this boot of the machine (hashed), the same for every process.
uint64_t BootHash() {
  static const uint64_t hash = [] {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return HashText(id);
  }();
  return hash;
}

// Start time of a process in clock ticks since boot (field 22 of
// /proc/<pid>/stat), or 0 when there is no such process.
uint64_t StartTicks(int64_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  // The command name (field 2) is in parentheses and may hold blanks or
  // parentheses itself: fields are counted after the last ')'.
  size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int index = 3; fields >> field; ++index) {
    if (index == 22) return std::strtoull(field.c_str(), nullptr, 10);
  }
  return 0;
}

uint64_t StampFrom(uint64_t boot, int64_t pid, uint64_t start) {
  uint64_t stamp = Mix(boot ^ Mix(static_cast<uint64_t>(pid) ^ Mix(start)));
  return stamp ? stamp : 1;
}

}  // namespace

// --- Names and folders ------------------------------------------------------

std::string UserName() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name && *found->pw_name) {
    return found->pw_name;
  }
  // Containers often run with a user id that has no password entry.
  std::string name = EnvText("USER");
  return name.empty() ? EnvText("LOGNAME") : name;
}

std::string ComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string ProgramPath() {
  std::string path(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) return {};
  path.resize(static_cast<size_t>(length));
  return path;
}

std::string ProgramFolder() {
  std::string path = ProgramPath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string DataFolder() {
  return WithoutTrailingSlash(KLV_DATADIR);
}

std::string TempFolder() {
  std::string folder = EnvText("TMPDIR");
  return folder.empty() ? std::string("/tmp") : WithoutTrailingSlash(folder);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (name.empty()) return folder;
  bool folder_ends = folder.back() == '/' || folder.back() == '\\';
  bool name_starts = name.front() == '/' || name.front() == '\\';
  if (folder_ends && name_starts) return folder + name.substr(1);
  if (folder_ends || name_starts) return folder + name;
  return folder + "/" + name;
}

uint64_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long size = sysconf(_SC_PAGE_SIZE);
  return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) : 0;
}

std::string TempFileName(const std::string& prefix, const std::string& extension,
                         const std::string& folder) {
  static std::atomic<uint32_t> counter{0};
  const std::string base = folder.empty() ? TempFolder() : folder;
  thread_local std::mt19937_64 random(Mix(
      ProcessStamp() ^ MonotonicUs() ^ std::hash<std::thread::id>{}(std::this_thread::get_id())));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char unique[32];
    std::snprintf(unique, sizeof unique, "%lx_%x_%06x", static_cast<unsigned long>(getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(random() & 0xFFFFFF));
    std::string path = JoinPath(base, prefix + unique + extension);
    int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      return path;
    }
    if (errno != EEXIST) {
      KLV_LOG(KLV_LOG_ERROR, "cannot create temporary file %s: %s", path.c_str(),
              std::strerror(errno));
      return {};
    }
  }
  KLV_LOG(KLV_LOG_ERROR, "no free temporary file name in %s", base.c_str());
  return {};
}

// --- Time and the process ----------------------------------------------------

void Sleep(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t MonotonicUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t ProcessId() {
  return static_cast<int64_t>(getpid());
}

uint64_t ProcessStamp() {
  // Computed once per process; a forked child has another pid and so
  // computes its own.
  static std::mutex mutex;
  static int64_t stamped_pid = 0;
  static uint64_t stamp = 0;
  const int64_t pid = ProcessId();
  std::lock_guard<std::mutex> lock(mutex);
  if (stamp == 0 || stamped_pid != pid) {
    uint64_t start = StartTicks(pid);
    if (start == 0) {
      // Without /proc: the wall clock at first use stands in for the start.
      start = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    }
    stamp = StampFrom(BootHash(), pid, start);
    stamped_pid = pid;
  }
  return stamp;
}

uint64_t ProcessStampOf(int64_t pid) {
  if (pid <= 0) return 0;
  if (pid == ProcessId()) return ProcessStamp();
  uint64_t start = StartTicks(pid);
  return start ? StampFrom(BootHash(), pid, start) : 0;
}

}  // namespace klv::platform
