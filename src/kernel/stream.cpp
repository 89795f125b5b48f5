// SPDX-License-Identifier: MIT
// The O* functions of the C interface: argument checks and dispatch to the
// stream object. No exception leaves these functions.
#include "kernel/stream.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "kernel/host_file.h"
#include "kernel/volume_internal.h"
#include "klv/log.h"

namespace klv::kernel {

OpenMode OpenMode::parse(const char* mode) {
  OpenMode m;
  if (!mode || !*mode) return m;
  switch (mode[0]) {
    case 'r':
      m.read = true;
      break;
    case 'w':
      m.write = m.create = m.truncate = true;
      break;
    case 'a':
      m.write = m.create = m.append = true;
      break;
    default:
      return m;
  }
  for (const char* p = mode + 1; *p; ++p) {
    switch (*p) {
      case '+':
        m.read = m.write = true;
        break;
      case 'b':
      case 't':
      case 'p':
      case 'n':
        break;
      default:
        return m;  // an unknown letter makes the mode invalid
    }
  }
  m.valid = true;
  return m;
}

std::string host_path(const char* path) {
  std::string out = path ? path : "";
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

}  // namespace klv::kernel

using klv::kernel::OpenMode;

extern "C" {

KLV_API SFilemux* Ovfopen(SOVolume* volume, const char* path, const char* mode) {
  if (!path || !*path) return nullptr;
  OpenMode m = OpenMode::parse(mode);
  if (!m.valid) {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": bad mode \"%s\"", path, mode ? mode : "(null)");
    return nullptr;
  }
  try {
    if (KLV_IS_HOST_VOLUME(volume)) return klv::kernel::open_host_file(path, m);
    return klv::kernel::open_volume_member(volume, path, m);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": out of memory", path);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": unexpected failure", path);
  }
  return nullptr;
}

KLV_API int32_t Oclose(SFilemux* stream) {
  if (!stream) return -1;
  bool ok = false;
  try {
    ok = stream->finish();
  } catch (...) {
    ok = false;
  }
  delete stream;
  return ok ? 0 : -1;
}

KLV_API size_t Oread(SFilemux* stream, void* buffer, size_t count) {
  if (!stream || !buffer || count == 0) return 0;
  try {
    size_t n = stream->read(buffer, count);
    if (n < count) stream->at_eof = true;
    return n;
  } catch (...) {
    return 0;
  }
}

KLV_API size_t Owrite(SFilemux* stream, const void* buffer, size_t count) {
  if (!stream || !buffer || count == 0) return 0;
  try {
    return stream->write(buffer, count);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t Oseeki64(SFilemux* stream, int64_t offset, int32_t origin) {
  if (!stream || origin < 0 || origin > 2) return -1;
  try {
    if (!stream->seek(offset, origin)) return -1;
    stream->at_eof = false;
    return 0;
  } catch (...) {
    return -1;
  }
}

KLV_API int32_t Oseek(SFilemux* stream, int32_t offset, int32_t origin) {
  return Oseeki64(stream, offset, origin);
}

KLV_API int64_t Otelli64(SFilemux* stream) {
  if (!stream) return -1;
  try {
    return stream->tell();
  } catch (...) {
    return -1;
  }
}

KLV_API int32_t Otell(SFilemux* stream) {
  int64_t pos = Otelli64(stream);
  return (pos < 0 || pos > INT32_MAX) ? -1 : static_cast<int32_t>(pos);
}

KLV_API int64_t Ofileleni64(SFilemux* stream) {
  if (!stream) return -1;
  try {
    return stream->length();
  } catch (...) {
    return -1;
  }
}

KLV_API int32_t Ofilelen(SFilemux* stream) {
  int64_t len = Ofileleni64(stream);
  return (len < 0 || len > INT32_MAX) ? -1 : static_cast<int32_t>(len);
}

KLV_API int32_t Oeof(SFilemux* stream) {
  return stream ? (stream->at_eof ? 1 : 0) : 1;
}

KLV_API int32_t Ogetc(SFilemux* stream) {
  if (!stream) return -1;
  try {
    int c = stream->getc();
    if (c < 0) stream->at_eof = true;
    return c;
  } catch (...) {
    return -1;
  }
}

KLV_API char* Ogets(char* buffer, int32_t size, SFilemux* stream) {
  if (!buffer || size < 1 || !stream) return nullptr;
  int32_t n = 0;
  while (n < size - 1) {
    int c = Ogetc(stream);
    if (c < 0) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[n] = '\0';
  return n > 0 ? buffer : nullptr;
}

KLV_API int32_t Oputs(SFilemux* stream, const char* text) {
  if (!stream || !text) return -1;
  size_t len = std::strlen(text);
  return Owrite(stream, text, len) == len ? static_cast<int32_t>(len) : -1;
}

KLV_API int32_t Oprintf(SFilemux* stream, const char* format, ...) {
  if (!stream || !format) return -1;
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int len = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  int32_t result = -1;
  if (len >= 0) {
    if (static_cast<size_t>(len) < sizeof small) {
      result = Owrite(stream, small, len) == static_cast<size_t>(len) ? len : -1;
    } else {
      try {
        std::vector<char> big(static_cast<size_t>(len) + 1);
        std::vsnprintf(big.data(), big.size(), format, again);
        result = Owrite(stream, big.data(), len) == static_cast<size_t>(len) ? len : -1;
      } catch (...) {
        result = -1;
      }
    }
  }
  va_end(again);
  return result;
}

KLV_API int32_t Oflush(SFilemux* stream) {
  if (!stream) return -1;
  try {
    return stream->flush() ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

KLV_API int32_t OreadLongSwab(SFilemux* stream, uint32_t* value) {
  uint8_t b[4];
  if (!value || Oread(stream, b, 4) != 4) return 0;
  *value = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  return 1;
}

KLV_API int32_t OreadShortSwab(SFilemux* stream, uint16_t* value) {
  uint8_t b[2];
  if (!value || Oread(stream, b, 2) != 2) return 0;
  *value = static_cast<uint16_t>((b[0] << 8) | b[1]);
  return 1;
}

KLV_API int32_t OwriteLongSwab(SFilemux* stream, uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return Owrite(stream, b, 4) == 4 ? 1 : 0;
}

KLV_API int32_t OwriteShortSwab(SFilemux* stream, uint16_t value) {
  const uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return Owrite(stream, b, 2) == 2 ? 1 : 0;
}

KLV_API SOVolume* Ovolume(SFilemux* stream) {
  return stream ? stream->volume() : nullptr;
}

}  // extern "C"
