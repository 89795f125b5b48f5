// SPDX-License-Identifier: MIT
// Settings text writers: value quoting, the off_put_* entry writers and
// whole-file replacement through a temporary file or member.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "kernel/settings_text_reader.h"
#include "kernel/stream.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"

namespace klv::kernel {

std::string fix_string(const char* in) {
  if (!in) in = "";
  size_t len = std::strlen(in);
  if (len >= 2 && in[0] == '"' && in[len - 1] == '"' && !std::memchr(in + 1, '"', len - 2))
    return in;  // already quoted by the caller
  bool quote = len == 0 || in[0] == ';' || in[0] == '"';
  for (size_t i = 0; i < len && !quote; ++i) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    quote = c <= ' ' || c == '{' || c == '}';
  }
  if (!quote) return in;
  std::string out;
  out.reserve(len + 2);
  out.push_back('"');
  bool replaced = false;
  for (size_t i = 0; i < len; ++i) {
    if (in[i] == '"') {
      out.push_back('\'');
      replaced = true;
    } else {
      out.push_back(in[i]);
    }
  }
  out.push_back('"');
  if (replaced)
    KLV_LOG(KLV_LOG_WARNING, "settings text value \"%s\": double quotes written as apostrophes",
            in);
  return out;
}

bool write_text(SFilemux* stream, const std::string& text) {
  return stream && Owrite(stream, text.data(), text.size()) == text.size();
}

}  // namespace klv::kernel

using klv::kernel::fix_string;
using klv::kernel::write_text;

namespace {

std::string indent_of(int32_t indent) {
  return std::string(indent > 0 ? static_cast<size_t>(indent) * 2 : 0, ' ');
}

int32_t put_entry(SFilemux* stream, int32_t indent, const char* key, const std::string& value) {
  if (!stream || !key) return 0;
  try {
    std::string line = indent_of(indent);
    line += key;
    line += " { ";
    line += value;
    line += " }\n";
    return write_text(stream, line) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

std::string double_text(double value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::atomic<unsigned> g_save_counter{0};

bool sync_host_path(const std::string& path, bool directory) {
  int fd = ::open(path.c_str(), directory ? (O_RDONLY | O_DIRECTORY) : O_RDONLY);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

struct SFSAVE {
  SOVolume* volume = nullptr;
  std::string path;  // as given
  std::string tmp;   // temporary name, same form as path
  SFilemux* stream = nullptr;
};

namespace {

bool commit_host(SFSAVE* s) {
  std::string host_tmp = klv::kernel::host_path(s->tmp.c_str());
  std::string host = klv::kernel::host_path(s->path.c_str());
  if (!sync_host_path(host_tmp, false))
    KLV_LOG(KLV_LOG_WARNING, "cannot flush \"%s\" to disk", host_tmp.c_str());
  if (std::rename(host_tmp.c_str(), host.c_str()) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "cannot rename \"%s\" to \"%s\": %s", host_tmp.c_str(), host.c_str(),
            std::strerror(errno));
    std::remove(host_tmp.c_str());
    return false;
  }
  size_t slash = host.rfind('/');
  sync_host_path(slash == std::string::npos ? "." : (slash == 0 ? "/" : host.substr(0, slash)),
                 true);
  return true;
}

bool commit_member(SFSAVE* s) {
  if (VRename(s->volume, s->tmp.c_str(), s->path.c_str())) return true;
  // The rename may refuse to replace an existing member.
  VRemove(s->volume, s->path.c_str());
  if (VRename(s->volume, s->tmp.c_str(), s->path.c_str())) return true;
  KLV_LOG(KLV_LOG_ERROR, "cannot rename member \"%s\" to \"%s\"", s->tmp.c_str(), s->path.c_str());
  VRemove(s->volume, s->tmp.c_str());
  return false;
}

void discard(SFSAVE* s) {
  if (KLV_IS_HOST_VOLUME(s->volume))
    std::remove(klv::kernel::host_path(s->tmp.c_str()).c_str());
  else
    VRemove(s->volume, s->tmp.c_str());
}

}  // namespace

extern "C" {

KLV_API int32_t fp_fix_string(const char* in, char* out, int32_t size) {
  if (!out || size < 1) return -1;
  try {
    std::string fixed = fix_string(in);
    if (fixed.size() >= static_cast<size_t>(size)) {
      out[0] = '\0';
      return -1;
    }
    std::memcpy(out, fixed.c_str(), fixed.size() + 1);
    return static_cast<int32_t>(fixed.size());
  } catch (...) {
    out[0] = '\0';
    return -1;
  }
}

KLV_API int32_t off_put_string(SFilemux* stream, int32_t indent, const char* key,
                               const char* value) {
  try {
    return put_entry(stream, indent, key, fix_string(value));
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t off_put_int(SFilemux* stream, int32_t indent, const char* key, int32_t value) {
  return put_entry(stream, indent, key, std::to_string(value));
}

KLV_API int32_t off_put_uint(SFilemux* stream, int32_t indent, const char* key, uint32_t value) {
  return put_entry(stream, indent, key, std::to_string(value));
}

KLV_API int32_t off_put_uint64(SFilemux* stream, int32_t indent, const char* key, uint64_t value) {
  return put_entry(stream, indent, key, std::to_string(value));
}

KLV_API int32_t off_put_double(SFilemux* stream, int32_t indent, const char* key, double value) {
  return put_entry(stream, indent, key, double_text(value));
}

KLV_API int32_t off_put_stral(SFilemux* stream, int32_t indent, const char* key,
                              const SSTRAL* list) {
  if (!stream || !key) return 0;
  try {
    std::string pad = indent_of(indent);
    int32_t n = stral_count(list);
    if (n == 0) return write_text(stream, pad + key + " { }\n") ? 1 : 0;
    std::string text = pad + key + " {\n";
    for (int32_t i = 0; i < n; ++i) {
      int32_t count = 0;
      const char* const* strings = stral_get(list, i, &count);
      text += pad;
      text += "  {";
      for (int32_t j = 0; j < count; ++j) {
        text.push_back(' ');
        text += fix_string(strings[j]);
      }
      text += " }\n";
    }
    text += pad + "}\n";
    return write_text(stream, text) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t off_put_open(SFilemux* stream, int32_t indent, const char* name) {
  if (!stream || !name) return 0;
  try {
    return write_text(stream, indent_of(indent) + fix_string(name) + " {\n") ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t off_put_close(SFilemux* stream, int32_t indent) {
  if (!stream) return 0;
  try {
    return write_text(stream, indent_of(indent) + "}\n") ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API SFSAVE* fp_save_begin(SOVolume* volume, const char* path) {
  if (!path || !*path) return nullptr;
  try {
    auto s = std::make_unique<SFSAVE>();
    s->volume = volume;
    s->path = path;
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".~%ld_%u", static_cast<long>(::getpid()),
                  g_save_counter.fetch_add(1));
    s->tmp = s->path + suffix;
    s->stream = Ovfopen(volume, s->tmp.c_str(), "wb");
    if (!s->stream) {
      KLV_LOG(KLV_LOG_ERROR, "cannot create a temporary file to replace \"%s\"", path);
      return nullptr;
    }
    return s.release();
  } catch (...) {
    return nullptr;
  }
}

KLV_API SFilemux* fp_save_stream(SFSAVE* save) {
  return save ? save->stream : nullptr;
}

KLV_API int32_t fp_save_end(SFSAVE* save, int32_t commit) {
  if (!save) return 0;
  bool ok = false;
  try {
    bool written = Oclose(save->stream) == 0;
    save->stream = nullptr;
    if (commit && !written)
      KLV_LOG(KLV_LOG_ERROR, "writing \"%s\" failed; the earlier file is kept", save->path.c_str());
    if (commit && written)
      ok = KLV_IS_HOST_VOLUME(save->volume) ? commit_host(save) : commit_member(save);
    else
      discard(save);
  } catch (...) {
    ok = false;
  }
  delete save;
  return ok ? 1 : 0;
}

}  // extern "C"
