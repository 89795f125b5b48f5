// SPDX-License-Identifier: MIT
// String helpers of the kernel: joining texts into a bounded buffer and
// comparisons without regard to ASCII letter case.
#include <cstdarg>
#include <cstring>

#include "klv/kernel_util.h"

namespace {

inline unsigned char fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Length of the longest prefix of text[0, n) that does not end inside a
// multi-byte UTF-8 character.
size_t whole_chars(const char* text, size_t n) {
  if (n == 0) return 0;
  // Walk back over at most three continuation bytes to the lead byte.
  size_t lead = n;
  int back = 0;
  while (lead > 0 && back < 4) {
    --lead;
    unsigned char c = static_cast<unsigned char>(text[lead]);
    if ((c & 0xC0) != 0x80) break;
    ++back;
  }
  unsigned char c = static_cast<unsigned char>(text[lead]);
  size_t need = 1;
  if (c >= 0xF0 && c <= 0xF7)
    need = 4;
  else if (c >= 0xE0)
    need = (c <= 0xEF) ? 3 : 1;
  else if (c >= 0xC0)
    need = 2;
  // A character cut short is dropped whole; anything that is not a valid lead
  // byte counts as a character of its own.
  if (need > 1 && lead + need > n) return lead;
  return n;
}

// Decodes one character; invalid bytes become values above the Unicode range
// so that they neither collide with nor fold into real characters.
uint32_t next_char(const unsigned char*& p) {
  unsigned char c = *p;
  if (c < 0x80) {
    ++p;
    return fold(c);
  }
  int extra = 0;
  uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    extra = 1;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    extra = 2;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    extra = 3;
    cp = c & 0x07;
  } else {
    ++p;
    return 0x110000u + c;
  }
  for (int i = 1; i <= extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      ++p;
      return 0x110000u + c;
    }
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  p += extra + 1;
  return cp;
}

}  // namespace

extern "C" {

KLV_API char* Ostrcpyncat(char* dst, size_t max_chars, ...) {
  if (!dst) return nullptr;
  size_t used = 0;
  va_list args;
  va_start(args, max_chars);
  for (const char* part = va_arg(args, const char*); part; part = va_arg(args, const char*)) {
    size_t len = std::strlen(part);
    size_t room = max_chars - used;
    if (len > room) {
      len = whole_chars(part, room);
      std::memcpy(dst + used, part, len);
      used += len;
      break;
    }
    std::memcpy(dst + used, part, len);
    used += len;
  }
  va_end(args);
  dst[used] = '\0';
  return dst;
}

KLV_API int32_t Ostrnicmp(const char* a, const char* b, size_t count) {
  if (!a || !b) return (a == b) ? 0 : (a ? 1 : -1);
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  for (size_t i = 0; i < count; ++i) {
    int ca = fold(pa[i]);
    int cb = fold(pb[i]);
    if (ca != cb) return ca - cb;
    if (ca == 0) break;
  }
  return 0;
}

KLV_API int32_t Ostricmp(const char* a, const char* b) {
  return Ostrnicmp(a, b, SIZE_MAX);
}

KLV_API int32_t Ostricmp_mb(const char* a, const char* b) {
  if (!a || !b) return (a == b) ? 0 : (a ? 1 : -1);
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  while (*pa && *pb) {
    uint32_t ca = next_char(pa);
    uint32_t cb = next_char(pb);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (*pa == *pb) return 0;
  return *pa ? 1 : -1;
}

}  // extern "C"
