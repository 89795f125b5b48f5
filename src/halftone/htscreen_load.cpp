// SPDX-License-Identifier: MIT
// The C screen record and its loaders: per-colour "SCR" files and screen
// files mapped through linearization tables or scaled linearly.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "halftone/screen_file.h"
#include "klv/kernel_path_cxx.h"
#include "klv/halftone.h"
#include "klv/halftone_seed.h"
#include "klv/log.h"

namespace {

using klv::halftone::phased_index;
using klv::halftone::ScreenFileReader;

htscreen* free_record(htscreen* s) {
  if (!s) return nullptr;
  for (int i = 0; i < KLV_HTSCREEN_MAX; ++i) {
    std::free(s->data[i]);
    std::free(s->rows[i]);
  }
  std::free(s);
  return nullptr;
}

// Allocates screen i of w x h elements of `elem` bytes (one spare) and its row offsets.
bool alloc_screen(htscreen* s, int i, int w, int h, size_t elem) {
  s->widths[i] = w;
  s->heights[i] = h;
  s->data[i] = std::calloc(size_t(w) * h + 1, elem);
  s->rows[i] = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * size_t(h)));
  if (!s->data[i] || !s->rows[i]) {
    KLV_LOG(KLV_LOG_ERROR, "no memory for a %dx%d screen", w, h);
    return false;
  }
  for (int r = 0; r < h; ++r) s->rows[i][r] = r * w;
  return true;
}

// Maps a file value to a threshold for one screen.
using MapFn = uint32_t (*)(uint32_t v, uint32_t m, int64_t scale, const uint16_t* table,
                           bool invert);

int64_t scaled(uint32_t v, uint32_t m, int64_t scale) {
  return (int64_t(v) * scale + m / 2) / int64_t(m);
}

uint32_t map_lntb8(uint32_t v, uint32_t m, int64_t scale, const uint16_t* t, bool invert) {
  int64_t s = scaled(v, m, scale);
  uint32_t th = 255;
  for (uint32_t i = 0; i < 255; ++i) {
    if (s <= t[i + 1]) {
      th = i;
      break;
    }
  }
  if (invert) th = 255 - th == 0 ? 1 : 255 - th;
  return th;
}

uint32_t map_lntb16(uint32_t v, uint32_t m, int64_t scale, const uint16_t* t, bool invert) {
  int64_t s = scaled(v, m, scale);
  int64_t th = 65535;
  for (uint32_t i = 0; i < 255; ++i) {
    if (s <= t[i + 1]) {
      th = int64_t(i) * 256;
      // Interpolate inside the table step; a value below the step's start
      // (before the table's first entry) stays at the step's start.
      if (t[i + 1] != t[i] && s > t[i]) th += (s - t[i]) * 255 / (int64_t(t[i + 1]) - t[i]);
      break;
    }
  }
  if (th > 65535) th = 65535;
  if (th < 0) th = 0;
  if (invert) th = 65535 - th == 0 ? 1 : 65535 - th;
  return uint32_t(th);
}

uint32_t map_linear16(uint32_t v, uint32_t m, int64_t scale, const uint16_t*, bool) {
  int64_t s = scaled(v, m, scale);
  return uint32_t(s < 0 ? 0 : s > 65535 ? 65535 : s);
}

// Screens 0..3 come from planes 0..3; every later screen re-reads plane 3 at a
// phase drawn from a fixed seed per screen.
htscreen* load_screen_file(const uint16_t* tables, int32_t table_count, int32_t count,
                           int32_t scale, bool invert, const char* name, bool wide, MapFn map) {
  if (count < 1 || count > KLV_HTSCREEN_MAX) {
    KLV_LOG(KLV_LOG_ERROR, "screen count %d is outside 1..%d", count, KLV_HTSCREEN_MAX);
    return nullptr;
  }
  char default_name[32];
  if (!name || !*name) {
    std::snprintf(default_name, sizeof default_name, "%s.%s", "BNMSK", "HTS");
    name = default_name;
  }
  std::vector<uint16_t> identity;
  if (!tables || table_count < 1) {
    identity.resize(256);
    for (int i = 0; i < 256; ++i) identity[i] = uint16_t(int64_t(i) * scale / 255);
    tables = identity.data();
    table_count = 1;
  }
  ScreenFileReader file;
  if (!file.Open(name)) return nullptr;
  auto* rec = static_cast<htscreen*>(std::calloc(1, sizeof(htscreen)));
  if (!rec) return nullptr;
  rec->count = count;
  const uint32_t w = file.width(), h = file.height(), m = file.max_value();
  std::vector<uint16_t> values;
  for (int i = 0; i < count; ++i) {
    uint32_t cp = 0, rp = 0;
    if (i >= 4) {
      if (!file.Seek(file.PlaneOffset(3))) return free_record(rec);
      HTSeedPhase(HTSeedMix(kHTDefaultSeed, uint32_t(i)), w, h, cp, rp);
    }
    if (!file.ReadPlane(values) || !alloc_screen(rec, i, int(w), int(h), wide ? 2 : 1))
      return free_record(rec);
    int ti = i < table_count ? i : table_count < 4 ? 0 : 3;
    const uint16_t* table = tables + size_t(ti) * 256;
    for (uint32_t r = 0; r < h; ++r) {
      for (uint32_t c = 0; c < w; ++c) {
        uint32_t th = map(values[size_t(r) * w + c], m, scale, table, invert);
        uint32_t at = phased_index(r, c, w, h, cp, rp);
        if (wide)
          static_cast<uint16_t*>(rec->data[i])[at] = uint16_t(th);
        else
          static_cast<uint8_t*>(rec->data[i])[at] = uint8_t(th);
      }
    }
  }
  return rec;
}

// One per-colour screen: width byte, height byte, then the thresholds.
bool load_scr_file(htscreen* rec, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%d.%s", "HTSCRN", i, "SCR");
  std::string path = klv::halftone::find_screen_file(name);
  SFilemux* f = Ovfopen(nullptr, path.c_str(), "rb");
  if (!f) {
    KLV_LOG(KLV_LOG_ERROR, "screen file %s cannot be opened", path.c_str());
    return false;
  }
  int w = Ogetc(f), h = Ogetc(f);
  bool ok = w > 0 && h > 0;
  if (!ok)
    KLV_LOG(KLV_LOG_ERROR, "screen file %s: no width and height bytes, or a zero size",
            path.c_str());
  ok = ok && alloc_screen(rec, i, w, h, 1);
  if (ok) {
    auto* d = static_cast<uint8_t*>(rec->data[i]);
    size_t n = size_t(w) * h;
    ok = Oread(f, d, n) == n;
    if (!ok)
      KLV_LOG(KLV_LOG_ERROR, "screen file %s: fewer than %dx%d thresholds", path.c_str(), w, h);
    for (size_t k = 0; ok && k < n; ++k) d[k] = d[k] == 255 ? 1 : uint8_t(255 - d[k]);
  }
  Oclose(f);
  return ok;
}

}  // namespace

extern "C" {

KLV_API htscreen* free_htscreen(htscreen* screen) {
  return free_record(screen);
}
KLV_API htscreen* free_htwscreen(htscreen* screen) {
  return free_record(screen);
}

KLV_API htscreen* load_htscreen(void) {
  try {
    auto* rec = static_cast<htscreen*>(std::calloc(1, sizeof(htscreen)));
    if (!rec) return nullptr;
    rec->count = 4;
    for (int i = 0; i < 4; ++i)
      if (!load_scr_file(rec, i)) return free_record(rec);
    return rec;
  } catch (...) {
    return nullptr;
  }
}

KLV_API htscreen* load_lntb_htscreen(const uint16_t* tables, int32_t table_count,
                                     int32_t screen_count, int32_t scale, int32_t invert,
                                     const char* name) {
  try {
    return load_screen_file(tables, table_count, screen_count, scale, invert != 0, name, false,
                            map_lntb8);
  } catch (...) {
    return nullptr;
  }
}

KLV_API htscreen* load_lntb_htwscreen(const uint16_t* tables, int32_t table_count,
                                      int32_t screen_count, int32_t scale, int32_t invert,
                                      const char* name) {
  try {
    return load_screen_file(tables, table_count, screen_count, scale, invert != 0, name, true,
                            map_lntb16);
  } catch (...) {
    return nullptr;
  }
}

KLV_API htscreen* load_htwscreen(int32_t screen_count, int32_t scale, const char* name) {
  try {
    static const uint16_t unused[256] = {};
    return load_screen_file(unused, 1, screen_count, scale, false, name, true, map_linear16);
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t save_htwscreen_file(const char* path, const uint16_t* data, int32_t width,
                                    int32_t height, int32_t planes, int32_t max_value) {
  try {
    if (!path || !*path || !data || width < 1 || width > 65535 || height < 1 || height > 65535 ||
        planes < 1 || max_value < 0 || max_value > 65535) {
      KLV_LOG(KLV_LOG_ERROR, "screen file %s: bad arguments (%dx%d, %d planes, max %d)",
              path ? path : "(null)", width, height, planes, max_value);
      return 0;
    }
    std::string target = klv::kernel::host_path(path);
    std::string tmp = target + ".tmp";
    SFilemux* f = Ovfopen(nullptr, tmp.c_str(), "wb");
    if (!f) {
      KLV_LOG(KLV_LOG_ERROR, "screen file %s cannot be created", tmp.c_str());
      return 0;
    }
    uint8_t head[20] = {'H', 'S', 'C', 'R'};
    head[4] = uint8_t(width);
    head[5] = uint8_t(width >> 8);
    head[6] = uint8_t(height);
    head[7] = uint8_t(height >> 8);
    head[16] = uint8_t(max_value);
    head[17] = uint8_t(max_value >> 8);
    bool ok = Owrite(f, head, sizeof head) == sizeof head;
    size_t n = size_t(width) * height * planes;
    std::vector<uint8_t> bytes(n * 2);
    for (size_t i = 0; i < n; ++i) {
      bytes[2 * i] = uint8_t(data[i]);
      bytes[2 * i + 1] = uint8_t(data[i] >> 8);
    }
    ok = ok && Owrite(f, bytes.data(), bytes.size()) == bytes.size();
    ok = Oclose(f) == 0 && ok;
    if (ok) ok = std::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
      std::remove(tmp.c_str());
      KLV_LOG(KLV_LOG_ERROR, "screen file %s could not be written", target.c_str());
      return 0;
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
