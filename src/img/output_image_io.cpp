// SPDX-License-Identifier: MIT
// The output image: moving lines in and out of the page and separation
// members, and the position arithmetic.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/outimg.h"
#include "output_image.h"

namespace klv::img {
namespace {

constexpr size_t kScratchBytes = 64 * 1024;

uint64_t member_key(int32_t page, int32_t sep) {
  return uint64_t{static_cast<uint32_t>(page)} << 32 | static_cast<uint32_t>(sep);
}

// Puts line, separation and page back in range after a move forwards.
void normalise(OutImage& img) {
  const int64_t height = img.info.height;
  if (img.line >= height) {
    img.sep += static_cast<int32_t>(img.line / height);
    img.line = static_cast<int32_t>(img.line % height);
  }
  if (static_cast<uint32_t>(img.sep) >= img.seps) {
    img.page += static_cast<int32_t>(img.sep / img.seps);
    img.sep = static_cast<int32_t>(img.sep % img.seps);
  }
}

// Moves bytes through the member's raw stream or its compression layer.
size_t member_read(OutMember& m, uint8_t* buffer, size_t bytes) {
  return m.lzw ? LZWRead(m.lzw, buffer, bytes) : Oread(m.stream, buffer, bytes);
}
size_t member_write(OutMember& m, const uint8_t* buffer, size_t bytes) {
  return m.lzw ? LZWWrite(m.lzw, buffer, bytes) : Owrite(m.stream, buffer, bytes);
}

}  // namespace

OutMember* OutImage::Member(int32_t pg, int32_t sp) {
  auto [it, fresh] = members.try_emplace(member_key(pg, sp));
  OutMember& m = it->second;
  if (!fresh) return (m.stream || m.missing) ? &m : nullptr;
  char name[48];
  std::snprintf(name, sizeof name, "pg%d_sep%d", pg, sp);
  if (!writing && !Ofileexists(volume, name, 0)) {
    m.missing = true;
    return &m;
  }
  m.stream = Ovfopen(volume, name, writing ? "w" : "r");
  if (!m.stream) {
    KLV_LOG(KLV_LOG_ERROR, "output image: cannot open member \"%s\"", name);
    if (!writing) m.missing = true;  // reads as blank rather than failing each call
    return writing ? nullptr : &m;
  }
  if (info.compression) {
    m.lzw = LZWAttach(m.stream, writing ? 'w' : 'r', static_cast<int32_t>(info.compression));
    if (!m.lzw) {
      KLV_LOG(KLV_LOG_ERROR, "output image: cannot attach compression to \"%s\"", name);
      Oclose(m.stream);
      m.stream = nullptr;
      return nullptr;
    }
  }
  m.pos = 0;
  return &m;
}

bool OutImage::SeekMember(OutMember& m, int64_t target) {
  const uint64_t bpl = info.bytes_per_line;
  if (!m.lzw) {
    if (Oseeki64(m.stream, static_cast<int64_t>(target * bpl), 0) != 0) return false;
    m.pos = target;
    return true;
  }
  if (writing) {
    // A compressed run can only be started again from its beginning.
    if (target != 0) {
      KLV_LOG(KLV_LOG_ERROR,
              "output image: a compressed member being written cannot move to line %" PRId64,
              target);
      return false;
    }
    if (Oseeki64(m.stream, 0, 0) != 0 || LZWRestart(m.lzw) != 0) return false;
    m.pos = 0;
    return true;
  }
  if (m.pos < 0 || target < m.pos) {
    if (Oseeki64(m.stream, 0, 0) != 0 || LZWRestart(m.lzw) != 0) {
      m.pos = -1;
      return false;
    }
    m.pos = 0;
  }
  // Decode the lines up to the target and drop them.
  uint64_t drop = static_cast<uint64_t>(target - m.pos) * bpl;
  if (drop && scratch.empty()) scratch.resize(kScratchBytes);
  while (drop) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(drop, scratch.size()));
    if (LZWRead(m.lzw, scratch.data(), n) != n) {
      m.pos = -1;
      return false;
    }
    drop -= n;
  }
  m.pos = target;
  return true;
}

}  // namespace klv::img

using klv::img::OutImage;
using klv::img::OutMember;

extern "C" {

KLV_API int32_t outimg_read_line(void* state, uint8_t* buffer, int32_t count) {
  if (!state || !buffer || count < 1) return 0;
  auto& img = *static_cast<OutImage*>(state);
  if (img.writing) return 0;
  const uint32_t bpl = img.info.bytes_per_line;
  const uint8_t blank = img.info.photometric == KLV_PHOTO_MINBLACK ? 0xFF : 0x00;
  int32_t done = 0;
  try {
    while (done < count) {
      klv::img::normalise(img);
      if (static_cast<uint32_t>(img.page) >= img.info.pages) break;
      int32_t n = std::min(count - done, img.info.height - img.line);
      uint8_t* out = buffer + size_t{bpl} * done;
      OutMember* m = img.Member(img.page, img.sep);
      if (!m) break;
      if (m->missing) {
        std::memset(out, blank, size_t{bpl} * n);
      } else {
        if (m->pos != img.line && !img.SeekMember(*m, img.line)) break;
        size_t want = size_t{bpl} * n;
        size_t got = klv::img::member_read(*m, out, want);
        if (got != want) {
          int32_t whole = static_cast<int32_t>(got / bpl);
          m->pos = -1;
          img.line += whole;
          done += whole;
          KLV_LOG(KLV_LOG_ERROR, "output image: member pg%d_sep%d ends before line %d", img.page,
                  img.sep, img.line + 1);
          break;
        }
        m->pos += n;
      }
      img.line += n;
      done += n;
    }
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "output image: unexpected failure while reading");
  }
  return done;
}

KLV_API int32_t outimg_write_line(void* state, uint8_t* buffer, int32_t count) {
  if (!state || !buffer || count < 1) return 0;
  auto& img = *static_cast<OutImage*>(state);
  if (!img.writing) return 0;
  const uint32_t bpl = img.info.bytes_per_line;
  int32_t done = 0;
  try {
    while (done < count) {
      klv::img::normalise(img);
      if (static_cast<uint32_t>(img.page) >= img.info.pages) break;
      int32_t n = std::min(count - done, img.info.height - img.line);
      OutMember* m = img.Member(img.page, img.sep);
      if (!m || (m->pos != img.line && !img.SeekMember(*m, img.line))) {
        img.write_failed = true;
        break;
      }
      size_t want = size_t{bpl} * n;
      if (klv::img::member_write(*m, buffer + size_t{bpl} * done, want) != want) {
        KLV_LOG(KLV_LOG_ERROR, "output image: cannot write member pg%d_sep%d at line %d", img.page,
                img.sep, img.line);
        m->pos = -1;
        img.write_failed = true;
        break;
      }
      m->pos += n;
      img.line += n;
      done += n;
    }
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "output image: unexpected failure while writing");
    img.write_failed = true;
  }
  return done;
}

KLV_API int32_t outimg_seek_line(void* state, int32_t line, int32_t sep, int32_t page,
                                 int32_t whence) {
  if (!state) return -1;
  auto& img = *static_cast<OutImage*>(state);
  const int64_t L = img.info.height;
  const int64_t S = img.seps;
  const int64_t P = img.info.pages;
  if (whence == 0) {
    int64_t l = line < 0 ? img.line : line;
    int64_t s = sep < 0 ? img.sep : sep;
    int64_t p = page < 0 ? img.page : page;
    if (l >= L || s >= S || p >= P) return -1;
    img.line = static_cast<int32_t>(l);
    img.sep = static_cast<int32_t>(s);
    img.page = static_cast<int32_t>(p);
    return img.line;
  }
  if (whence != 1 && whence != 2) return -1;
  int64_t pos = int64_t{page} * S * L + int64_t{sep} * L + line;
  if (whence == 1)
    pos += int64_t{img.page} * S * L + int64_t{img.sep} * L + img.line;
  else
    pos += P * S * L - 1;
  if (pos < 0) pos = 0;
  int64_t p = pos / (S * L);
  if (p >= P) return -1;  // past the last page: the position stays where it was
  int64_t rest = pos % (S * L);
  img.page = static_cast<int32_t>(p);
  img.sep = static_cast<int32_t>(rest / L);
  img.line = static_cast<int32_t>(rest % L);
  return img.line;
}

}  // extern "C"
