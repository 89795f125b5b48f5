// SPDX-License-Identifier: MIT
// The Logger layer: level, text, source file and line, one line per call.
#include "klv/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_log_mutex;

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

}  // namespace

extern "C" KLV_API void ErrorLog(int32_t level, const char* text, const char* source_file,
                                 int32_t line) {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  const char* target = std::getenv("KLV_LOG");
  FILE* out = stderr;
  bool close_after = false;
  if (target && *target) {
    if (std::strcmp(target, "/dev/null") == 0) return;
    FILE* f = std::fopen(target, "a");
    if (f) {
      out = f;
      close_after = true;
    }
  }
  std::fprintf(out, "klv %s %s (%s:%d)\n", level_name(level), text ? text : "",
               base_name(source_file), static_cast<int>(line));
  if (close_after) std::fclose(out);
}

extern "C" KLV_API void ErrorLogf(int32_t level, const char* source_file, int32_t line,
                                  const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format ? format : "", args);
  va_end(args);
  ErrorLog(level, text, source_file, line);
}
