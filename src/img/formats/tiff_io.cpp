// SPDX-License-Identifier: MIT
// libtiff client procedures over SFilemux and per-handle message handlers.
#include "img/formats/tiff_io.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "klv/log.h"

namespace klv::img::tiff {
namespace {

// Strip and tile buffers larger than this are taken as a lying file.
constexpr tmsize_t kMaxSingleAlloc = tmsize_t{256} << 20;

SFilemux* stream_of(thandle_t h) {
  return static_cast<SFilemux*>(h);
}
tmsize_t read_proc(thandle_t h, void* buf, tmsize_t size) {
  return size <= 0 ? 0 : static_cast<tmsize_t>(Oread(stream_of(h), buf, size_t(size)));
}
tmsize_t write_proc(thandle_t h, void* buf, tmsize_t size) {
  return size <= 0 ? 0 : static_cast<tmsize_t>(Owrite(stream_of(h), buf, size_t(size)));
}
toff_t seek_proc(thandle_t h, toff_t off, int whence) {
  if (Oseeki64(stream_of(h), static_cast<int64_t>(off), whence) != 0) return toff_t(-1);
  return static_cast<toff_t>(Otelli64(stream_of(h)));
}
int close_proc(thandle_t h) {
  return Oclose(stream_of(h));
}
toff_t size_proc(thandle_t h) {
  int64_t len = Ofileleni64(stream_of(h));
  return len < 0 ? 0 : static_cast<toff_t>(len);
}
int map_proc(thandle_t, void**, toff_t*) {
  return 0;
}
void unmap_proc(thandle_t, void*, toff_t) {}

int log_message(int level, const Messages* m, const char* module, const char* fmt, va_list ap) {
  const char* name = m ? m->name.c_str() : nullptr;
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  ErrorLogf(level, __FILE__, __LINE__, "TIFF \"%s\" %s: %s", name ? name : "", module ? module : "",
            text);
  return 1;
}
int error_handler(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  return log_message(KLV_LOG_ERROR, static_cast<const Messages*>(user), module, fmt, ap);
}
// libtiff warns once per unknown tag while it reads a directory; those are
// counted here and reported in one line by report_unknown_tags. Of the other
// warnings (one per damaged tag or strip, say) a file logs a few.
constexpr uint32_t kMaxWarnings = 16;
int warning_handler(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  auto* m = static_cast<Messages*>(user);
  if (m && fmt && std::strncmp(fmt, "Unknown field with tag", 22) == 0) {
    ++m->unknown_tags;
    return 1;
  }
  if (m && ++m->warnings > kMaxWarnings) {
    if (m->warnings == kMaxWarnings + 1)
      ErrorLogf(KLV_LOG_WARNING, __FILE__, __LINE__,
                "TIFF \"%s\": further libtiff warnings for this file are not logged",
                m->name.c_str());
    return 1;
  }
  return log_message(KLV_LOG_WARNING, m, module, fmt, ap);
}

}  // namespace

TIFF* open_client(SFilemux* stream, Messages* messages, const char* mode) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  if (!opts) {
    Oclose(stream);
    return nullptr;
  }
  // The handlers keep `messages` as their user data: it must outlive the
  // handle, so the stream record passes one it owns.
  TIFFOpenOptionsSetErrorHandlerExtR(opts, error_handler, messages);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, warning_handler, messages);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxSingleAlloc);
  // 'm': no memory mapping; the stream may be a volume member.
  std::string m = std::string(mode) + "m";
  TIFF* tif = TIFFClientOpenExt(messages->name.c_str(), m.c_str(), static_cast<thandle_t>(stream),
                                read_proc, write_proc, seek_proc, close_proc, size_proc, map_proc,
                                unmap_proc, opts);
  TIFFOpenOptionsFree(opts);
  if (!tif) Oclose(stream);  // a failed open does not call the close procedure
  report_unknown_tags(messages);
  return tif;
}

void report_unknown_tags(Messages* messages) {
  if (!messages->unknown_tags) return;
  KLV_LOG(KLV_LOG_WARNING, "TIFF \"%s\": %u unknown tags ignored", messages->name.c_str(),
          messages->unknown_tags);
  messages->unknown_tags = 0;
}

}  // namespace klv::img::tiff
