// SPDX-License-Identifier: MIT
// The Logger layer: level, text, source file and line, one line per call.
#include "klv/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

const char* level_name(int32_t level) {
  switch (level) {
    case KLV_LOG_INFO:
      return "INFO";
    case KLV_LOG_DEBUG:
      return "DEBUG";
    case KLV_LOG_NOTICE:
      return "NOTICE";
    case KLV_LOG_WARNING:
      return "WARNING";
    default:
      return level >= KLV_LOG_ERROR ? "ERROR" : "INFO";
  }
}

// Base name of a source path, so log lines stay short.
const char* base_name(const char* path) {
  if (!path) return "?";
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// The log file named by KLV_LOG, kept open while the variable names it.
class LogTarget {
 public:
  // The stream to write to for the current value of KLV_LOG, or null when
  // logging is silenced. Called with the Logger's lock held.
  FILE* stream() {
    const char* target = std::getenv("KLV_LOG");
    if (!target || !*target) {
      close();
      return stderr;
    }
    if (std::strcmp(target, "/dev/null") == 0) return nullptr;
    if (file_ && name_ == target) return file_;
    close();
    // "e": the descriptor is not inherited by child programs.
    file_ = std::fopen(target, "ae");
    if (!file_) return stderr;
    name_ = target;
    return file_;
  }

 private:
  void close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    name_.clear();
  }

  FILE* file_ = nullptr;
  std::string name_;
};

// Never destroyed, so that code running during exit can still log; stdio
// flushes and closes the file when the process ends.
std::mutex& log_mutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
LogTarget& log_target() {
  static auto* target = new LogTarget;
  return *target;
}

// Lines of a level number below this are dropped.
std::atomic<int32_t> g_threshold{KLV_LOG_INFO};

}  // namespace

extern "C" KLV_API int32_t ErrorLogSetThreshold(int32_t lowest) {
  return g_threshold.exchange(lowest);
}

extern "C" KLV_API void ErrorLog(int32_t level, const char* text, const char* source_file,
                                 int32_t line) {
  if (level < g_threshold.load(std::memory_order_relaxed)) return;
  try {
    std::lock_guard<std::mutex> lock(log_mutex());
    FILE* out = log_target().stream();
    if (!out) return;
    std::fprintf(out, "klv %s %s (%s:%d)\n", level_name(level), text ? text : "",
                 base_name(source_file), static_cast<int>(line));
    std::fflush(out);
  } catch (...) {
    // Logging never fails its caller.
  }
}

extern "C" KLV_API void ErrorLogf(int32_t level, const char* source_file, int32_t line,
                                  const char* format, ...) {
  if (level < g_threshold.load(std::memory_order_relaxed)) return;
  char text[1024] = "";
  if (format) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
  }
  ErrorLog(level, text, source_file, line);
}
