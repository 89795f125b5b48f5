// SPDX-License-Identifier: MIT
// libtiff client procedures over SFilemux and per-handle message handlers.
#include "img/formats/tiff_io.h"

#include <cstdarg>
#include <cstdio>
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

int log_message(int level, const char* name, const char* module, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  ErrorLogf(level, __FILE__, __LINE__, "TIFF \"%s\" %s: %s", name ? name : "", module ? module : "",
            text);
  return 1;
}
int error_handler(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  return log_message(KLV_LOG_ERROR, static_cast<const char*>(user), module, fmt, ap);
}
int warning_handler(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  return log_message(KLV_LOG_WARNING, static_cast<const char*>(user), module, fmt, ap);
}

}  // namespace

TIFF* open_client(SFilemux* stream, const char* name, const char* mode) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  if (!opts) {
    Oclose(stream);
    return nullptr;
  }
  // The handlers keep `name` as their user data: it must outlive the handle,
  // so the stream record passes a string it owns.
  TIFFOpenOptionsSetErrorHandlerExtR(opts, error_handler, const_cast<char*>(name));
  TIFFOpenOptionsSetWarningHandlerExtR(opts, warning_handler, const_cast<char*>(name));
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxSingleAlloc);
  // 'm': no memory mapping; the stream may be a volume member.
  std::string m = std::string(mode) + "m";
  TIFF* tif =
      TIFFClientOpenExt(name, m.c_str(), static_cast<thandle_t>(stream), read_proc, write_proc,
                        seek_proc, close_proc, size_proc, map_proc, unmap_proc, opts);
  TIFFOpenOptionsFree(opts);
  if (!tif) Oclose(stream);  // a failed open does not call the close procedure
  return tif;
}

}  // namespace klv::img::tiff
