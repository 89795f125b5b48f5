// SPDX-License-Identifier: MIT
// Binary calibration tables: the LNTB, DNTB, GBTB and HMTB chunks, their
// allocation and freeing, and the loaders that read them from a volume.
//
// Every size read from a file is checked against the bytes left in the file
// before anything is allocated, so a hostile length or count gives a log line
// and a failure, never a large allocation or a read past the end.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "color/calib_internal.h"
#include "klv/calib.h"
#include "klv/log.h"

namespace klv::calib {

namespace {

constexpr char kLntb[] = "LNTB";
constexpr char kDntb[] = "DNTB";
constexpr char kGbtb[] = "GBTB";
constexpr char kHmtb[] = "HMTB";
constexpr char kGbcp[] = "GBCP";

// Bytes from the stream position to the end of the stream; -1 when unknown.
int64_t bytes_left(SFilemux* s) {
  int64_t len = Ofileleni64(s), pos = Otelli64(s);
  return len < 0 || pos < 0 || pos > len ? -1 : len - pos;
}

// Steps over chunks until one tagged `tag`; the stream is left just after its
// tag. A DNTB chunk, which has no length, is stepped over by its 1,024 bytes.
// False at the end of the stream or on a chunk that runs past it.
bool find_chunk(SFilemux* s, const char* tag, const char* who) {
  for (;;) {
    char got[kTagBytes];
    if (!read_exact(s, got, kTagBytes)) return false;
    if (!std::memcmp(got, tag, kTagBytes)) return true;
    uint64_t skip;
    if (!std::memcmp(got, kDntb, kTagBytes)) {
      skip = kDntbBytes;
    } else {
      uint8_t len[kLengthBytes];
      if (!read_exact(s, len, kLengthBytes)) {
        KLV_LOG(KLV_LOG_ERROR, "%s: chunk \"%.4s\" is cut off before its length", who, got);
        return false;
      }
      skip = get32(len);
    }
    int64_t left = bytes_left(s);
    if (left < 0 || skip > uint64_t(left)) {
      KLV_LOG(KLV_LOG_ERROR, "%s: chunk \"%.4s\" claims %llu bytes, the file has %lld left", who,
              got, static_cast<unsigned long long>(skip), static_cast<long long>(left));
      return false;
    }
    if (Oseeki64(s, int64_t(skip), SEEK_CUR) != 0) return false;
  }
}

// The length and channel count that follow a chunk's tag, checked against
// the bytes left in the stream and against the `fixed` bytes per channel the
// chunk must hold at least. `body` receives the bytes after the count byte.
bool read_chunk_head(SFilemux* s, const char* tag, size_t per_channel, const char* who,
                     int32_t* count, uint64_t* body) {
  uint8_t head[kLengthBytes + 1];
  if (!read_exact(s, head, sizeof head)) {
    KLV_LOG(KLV_LOG_ERROR, "%s: %s chunk is cut off in its header", who, tag);
    return false;
  }
  const uint32_t length = get32(head);
  *count = head[kLengthBytes];
  if (*count == 0) {
    KLV_LOG(KLV_LOG_ERROR, "%s: %s chunk has no channels", who, tag);
    return false;
  }
  const uint64_t need = uint64_t(*count) * per_channel;
  if (length < 1 || length - 1 < need) {
    KLV_LOG(KLV_LOG_ERROR, "%s: %s chunk of %d channels needs %llu bytes, its length says %u", who,
            tag, *count, static_cast<unsigned long long>(need + 1), length);
    return false;
  }
  int64_t left = bytes_left(s);
  if (left < 0 || uint64_t(length) - 1 > uint64_t(left)) {
    KLV_LOG(KLV_LOG_ERROR, "%s: %s chunk claims %u bytes, the file has %lld left", who, tag, length,
            static_cast<long long>(left) + 1);
    return false;
  }
  *body = uint64_t(length) - 1;
  return true;
}

// Reads `count` channel tables of 256 little-endian entries at `bits`.
uint16_t** read_tables(SFilemux* s, int32_t count, int32_t bits, const char* who) {
  uint16_t** tables = alloc_lntb(count);
  if (!tables) {
    KLV_LOG(KLV_LOG_ERROR, "%s: out of memory for %d channel tables", who, count);
    return nullptr;
  }
  uint8_t raw[kTableBytes];
  for (int32_t c = 0; c < count; ++c) {
    if (!read_exact(s, raw, sizeof raw)) {
      KLV_LOG(KLV_LOG_ERROR, "%s: channel table %d is cut off", who, c);
      free_lntb(tables, count);
      return nullptr;
    }
    for (int i = 0; i < KLV_CALB_ENTRIES; ++i) tables[c][i] = to_bits(get16(raw + 2 * i), bits);
  }
  return tables;
}

bool write_tables(SFilemux* s, const uint16_t* const* tables, int32_t count) {
  uint8_t raw[kTableBytes];
  for (int32_t c = 0; c < count; ++c) {
    if (!tables[c]) return false;
    for (int i = 0; i < KLV_CALB_ENTRIES; ++i) put16(raw + 2 * i, tables[c][i]);
    if (!write_exact(s, raw, sizeof raw)) return false;
  }
  return true;
}

// Writes a chunk: tag, a length of 0, the count byte and what `body` writes;
// then goes back, stores the real length and returns to the end.
template <typename Body>
bool write_chunk(SFilemux* s, const char* tag, int32_t count, Body body) {
  const int64_t start = Otelli64(s);
  if (start < 0) return false;
  uint8_t head[kHeaderBytes + 1] = {};
  std::memcpy(head, tag, kTagBytes);
  head[kHeaderBytes] = uint8_t(count);
  if (!write_exact(s, head, sizeof head) || !body()) return false;
  const int64_t end = Otelli64(s);
  const int64_t length = end - start - int64_t(kHeaderBytes);
  if (end < 0 || length > int64_t(UINT32_MAX)) return false;
  uint8_t len[kLengthBytes];
  put32(len, uint32_t(length));
  return Oseeki64(s, start + int64_t(kTagBytes), SEEK_SET) == 0 &&
         write_exact(s, len, sizeof len) && Oseeki64(s, end, SEEK_SET) == 0;
}

bool valid_bits(int32_t bits, const char* who) {
  if (bits >= 1) return true;
  KLV_LOG(KLV_LOG_ERROR, "%s: output precision of %d bits", who, bits);
  return false;
}

// Reads the control points that follow "GBCP" inside `left` bytes of a chunk.
GBCP* read_control(SFilemux* s, int32_t count, uint64_t left, const char* who) {
  GBCP* control = alloc_gbtb_control(count);
  if (!control) return nullptr;
  for (int32_t c = 0; c < count; ++c) {
    uint8_t n_raw[2];
    if (left < 2 || !read_exact(s, n_raw, 2)) {
      KLV_LOG(KLV_LOG_ERROR, "%s: control points of channel %d are cut off", who, c);
      free_gbtb(nullptr, count, control);
      return nullptr;
    }
    left -= 2;
    const uint32_t n = get16(n_raw);
    const uint64_t bytes = uint64_t(n) * kPointBytes;
    if (bytes > left) {
      KLV_LOG(KLV_LOG_ERROR, "%s: channel %d claims %u control points, the chunk has %llu bytes",
              who, c, n, static_cast<unsigned long long>(left));
      free_gbtb(nullptr, count, control);
      return nullptr;
    }
    left -= bytes;
    if (n == 0) continue;
    GBPOINT* points = alloc_gbtb_points(int32_t(n));
    if (!points) {  // no memory for this channel: its points are stepped over
      if (Oseeki64(s, int64_t(bytes), SEEK_CUR) != 0) break;
      continue;
    }
    std::vector<uint8_t> raw(bytes);
    if (!read_exact(s, raw.data(), raw.size())) {
      std::free(points);
      free_gbtb(nullptr, count, control);
      return nullptr;
    }
    for (uint32_t i = 0; i < n; ++i) {
      points[i].x = get_double(&raw[i * kPointBytes]);
      points[i].y = get_double(&raw[i * kPointBytes + 8]);
    }
    control[c].points = points;
    control[c].count = int32_t(n);
  }
  return control;
}

bool has_points(const GBTB* record) {
  if (!record->control) return false;
  for (int32_t c = 0; c < record->count; ++c)
    if (record->control[c].count > 0 && record->control[c].points) return true;
  return false;
}

}  // namespace

SFilemux* open_table_file(SOVolume* volume, const char* path, const char* who) {
  if (!path || !*path || !Ofileexists(volume, path, 0)) {
    KLV_LOG(KLV_LOG_ERROR, "%s: no calibration file \"%s\"", who, path ? path : "");
    return nullptr;
  }
  SFilemux* s = Ovfopen(volume, path, "rb");
  if (!s) KLV_LOG(KLV_LOG_ERROR, "%s: cannot open \"%s\"", who, path);
  return s;
}

}  // namespace klv::calib

using namespace klv::calib;

// ---- Linearization ----------------------------------------------------------

KLV_API uint16_t** alloc_lntb(int32_t count) {
  if (count <= 0) return nullptr;
  auto** tables = static_cast<uint16_t**>(std::calloc(size_t(count), sizeof(uint16_t*)));
  if (!tables) return nullptr;
  for (int32_t c = 0; c < count; ++c) {
    tables[c] = static_cast<uint16_t*>(std::calloc(KLV_CALB_ENTRIES, sizeof(uint16_t)));
    if (!tables[c]) {
      free_lntb(tables, c);
      return nullptr;
    }
  }
  return tables;
}

KLV_API void free_lntb(uint16_t** tables, int32_t count) {
  if (!tables) return;
  for (int32_t c = 0; c < count; ++c) std::free(tables[c]);
  std::free(tables);
}

KLV_API void free_linear_tbl(LNTB* record) {
  if (!record) return;
  free_lntb(record->tables, record->count);
  std::free(record);
}

KLV_API int32_t read_lntb(SFilemux* stream, int32_t bits, uint16_t*** tables_out,
                          int32_t* count_out) {
  if (!stream || !tables_out || !count_out || !valid_bits(bits, "read_lntb")) return 0;
  try {
    if (Oseeki64(stream, 0, SEEK_SET) != 0 || !find_chunk(stream, kLntb, "read_lntb")) return 0;
    int32_t count;
    uint64_t body;
    if (!read_chunk_head(stream, kLntb, kTableBytes, "read_lntb", &count, &body)) return 0;
    uint16_t** tables = read_tables(stream, count, bits, "read_lntb");
    if (!tables) return 0;
    *tables_out = tables;
    *count_out = count;
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t read_dntb(SFilemux* stream, int32_t bits, uint16_t*** tables_out) {
  if (!stream || !tables_out || !valid_bits(bits, "read_dntb")) return 0;
  try {
    if (Oseeki64(stream, 0, SEEK_SET) != 0 || !find_chunk(stream, kDntb, "read_dntb")) return 0;
    uint8_t raw[kDntbBytes];
    if (!read_exact(stream, raw, sizeof raw)) {
      KLV_LOG(KLV_LOG_ERROR, "read_dntb: DNTB chunk is cut off");
      return 0;
    }
    uint16_t** tables = alloc_lntb(4);
    if (!tables) return 0;
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < KLV_CALB_ENTRIES; ++k)
        tables[c][255 - k] = to_bits((255u - raw[c * KLV_CALB_ENTRIES + k]) * 257u, bits);
    *tables_out = tables;
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t write_lntb(SFilemux* stream, uint16_t* const* tables, int32_t count) {
  if (!stream || !tables || count < 1 || count > 255) return 0;
  try {
    return write_chunk(stream, kLntb, count, [&] { return write_tables(stream, tables, count); })
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API LNTB* load_lntb(SOVolume* volume, const char* path, int32_t bits) {
  try {
    StreamPtr s(open_table_file(volume, path, "load_lntb"));
    if (!s) return nullptr;
    uint16_t** tables = nullptr;
    int32_t count = 0;
    if (!read_lntb(s.get(), bits, &tables, &count)) {
      if (!read_dntb(s.get(), bits, &tables)) {
        KLV_LOG(KLV_LOG_ERROR, "load_lntb: \"%s\" holds no readable LNTB or DNTB table", path);
        return nullptr;
      }
      count = 4;
    }
    auto* record = static_cast<LNTB*>(std::calloc(1, sizeof(LNTB)));
    if (!record) {
      free_lntb(tables, count);
      return nullptr;
    }
    record->count = uint8_t(count);
    record->tables = tables;
    return record;
  } catch (...) {
    return nullptr;
  }
}

// ---- Grey balance ----------------------------------------------------------

KLV_API uint16_t** alloc_gbtb_table(int32_t count) {
  return alloc_lntb(count);
}

KLV_API GBCP* alloc_gbtb_control(int32_t count) {
  if (count <= 0) return nullptr;
  return static_cast<GBCP*>(std::calloc(size_t(count), sizeof(GBCP)));
}

KLV_API GBPOINT* alloc_gbtb_points(int32_t n) {
  if (n <= 0) return nullptr;
  return static_cast<GBPOINT*>(std::calloc(size_t(n), sizeof(GBPOINT)));
}

KLV_API GBTB* alloc_gbtb(int32_t count) {
  if (count <= 0) return nullptr;
  auto* record = static_cast<GBTB*>(std::calloc(1, sizeof(GBTB)));
  if (!record) return nullptr;
  record->tables = alloc_gbtb_table(count);
  record->control = alloc_gbtb_control(count);
  record->count = count;
  if (!record->tables || !record->control) {
    free_grey_tbl(record, 1);
    return nullptr;
  }
  return record;
}

KLV_API void free_gbtb(uint16_t** tables, int32_t count, GBCP* control) {
  free_lntb(tables, count);
  if (!control) return;
  for (int32_t c = 0; c < count; ++c) std::free(control[c].points);
  std::free(control);
}

KLV_API void free_grey_tbl(GBTB* record, int32_t free_record) {
  if (!record) return;
  free_gbtb(record->tables, record->count, record->control);
  if (record->derived) {
    for (int32_t c = 0; c < record->count; ++c) std::free(record->derived[c]);
    std::free(record->derived);
  }
  record->tables = nullptr;
  record->control = nullptr;
  record->derived = nullptr;
  if (free_record) std::free(record);
}

KLV_API int32_t read_gbtb(SFilemux* stream, uint16_t*** tables_out, int32_t* count_out,
                          GBCP** control_out) {
  if (!stream || !tables_out || !count_out) return 0;
  try {
    if (!find_chunk(stream, kGbtb, "read_gbtb")) return 0;
    int32_t count;
    uint64_t body;
    if (!read_chunk_head(stream, kGbtb, kTableBytes, "read_gbtb", &count, &body)) return 0;
    const int64_t end = Otelli64(stream) + int64_t(body);
    uint16_t** tables = read_tables(stream, count, 16, "read_gbtb");
    if (!tables) return 0;
    GBCP* control = nullptr;
    uint64_t extra = body - uint64_t(count) * kTableBytes;
    if (extra > 0 && control_out) {
      char tag[kTagBytes];
      if (extra >= kTagBytes && read_exact(stream, tag, kTagBytes) &&
          !std::memcmp(tag, kGbcp, kTagBytes)) {
        control = read_control(stream, count, extra - kTagBytes, "read_gbtb");
        if (!control) {
          free_lntb(tables, count);
          return 0;
        }
      }
    }
    // The next chunk starts after this one whatever its tail held.
    if (Oseeki64(stream, end, SEEK_SET) != 0) {
      free_gbtb(tables, count, control);
      return 0;
    }
    *tables_out = tables;
    *count_out = count;
    if (control_out) *control_out = control;
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t write_gbtb(SFilemux* stream, uint16_t* const* tables, const GBTB* record) {
  if (!stream || !record) return 0;
  if (!tables) tables = record->tables;
  if (!tables || record->count < 1 || record->count > 255) return 0;
  try {
    const int32_t count = record->count;
    auto body = [&] {
      if (!write_tables(stream, tables, count)) return false;
      if (!has_points(record)) return true;
      if (!write_exact(stream, kGbcp, kTagBytes)) return false;
      for (int32_t c = 0; c < count; ++c) {
        const GBCP& cp = record->control[c];
        const int32_t n = cp.points ? cp.count : 0;
        if (n < 0 || n > 0xFFFF) {
          KLV_LOG(KLV_LOG_ERROR, "write_gbtb: channel %d has %d control points (at most 65535)", c,
                  n);
          return false;
        }
        std::vector<uint8_t> raw(2 + size_t(n) * kPointBytes);
        put16(raw.data(), uint16_t(n));
        for (int32_t i = 0; i < n; ++i) {
          put_double(&raw[2 + i * kPointBytes], cp.points[i].x);
          put_double(&raw[2 + i * kPointBytes + 8], cp.points[i].y);
        }
        if (!write_exact(stream, raw.data(), raw.size())) return false;
      }
      return true;
    };
    return write_chunk(stream, kGbtb, count, body) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API GBTB* load_gbtb(SOVolume* volume, const char* path) {
  try {
    StreamPtr s(open_table_file(volume, path, "load_gbtb"));
    if (!s) return nullptr;
    uint16_t** tables = nullptr;
    int32_t count = 0;
    if (!read_gbtb(s.get(), &tables, &count, nullptr)) {
      KLV_LOG(KLV_LOG_ERROR, "load_gbtb: \"%s\" holds no readable GBTB table", path);
      return nullptr;
    }
    auto* record = static_cast<GBTB*>(std::calloc(1, sizeof(GBTB)));
    if (!record) {
      free_lntb(tables, count);
      return nullptr;
    }
    record->tables = tables;
    record->count = count;
    return record;
  } catch (...) {
    return nullptr;
  }
}

// ---- HMTB ------------------------------------------------------------------

KLV_API uint16_t* alloc_hmtb(int32_t count) {
  if (count <= 0) return nullptr;
  return static_cast<uint16_t*>(std::calloc(size_t(count) * KLV_HMTB_ENTRIES, sizeof(uint16_t)));
}

KLV_API void free_hmtb(uint16_t* table) {
  std::free(table);
}

KLV_API void free_hmtb_tbl(HMTB* record) {
  if (!record) return;
  free_hmtb(record->table);
  std::free(record);
}

KLV_API int32_t read_hmtb(SFilemux* stream, uint16_t** table_out, int32_t* count_out) {
  if (!stream || !table_out || !count_out) return 0;
  try {
    if (!find_chunk(stream, kHmtb, "read_hmtb")) return 0;
    int32_t count;
    uint64_t body;
    if (!read_chunk_head(stream, kHmtb, kHmtbBytes, "read_hmtb", &count, &body)) return 0;
    const int64_t end = Otelli64(stream) + int64_t(body);
    uint16_t* table = alloc_hmtb(count);
    if (!table) {
      KLV_LOG(KLV_LOG_ERROR, "read_hmtb: out of memory for %d channels", count);
      return 0;
    }
    std::vector<uint8_t> raw(kHmtbBytes);
    for (int32_t c = 0; c < count; ++c) {
      if (!read_exact(stream, raw.data(), raw.size())) {
        KLV_LOG(KLV_LOG_ERROR, "read_hmtb: channel %d is cut off", c);
        free_hmtb(table);
        return 0;
      }
      uint16_t* dst = table + size_t(c) * KLV_HMTB_ENTRIES;
      for (size_t i = 0; i < KLV_HMTB_ENTRIES; ++i) dst[i] = get16(&raw[2 * i]);
    }
    if (Oseeki64(stream, end, SEEK_SET) != 0) {
      free_hmtb(table);
      return 0;
    }
    *table_out = table;
    *count_out = count;
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t write_hmtb(SFilemux* stream, const uint16_t* table, int32_t count) {
  if (!stream || !table || count < 1 || count > 255) return 0;
  try {
    auto body = [&] {
      std::vector<uint8_t> raw(kHmtbBytes);
      for (int32_t c = 0; c < count; ++c) {
        const uint16_t* src = table + size_t(c) * KLV_HMTB_ENTRIES;
        for (size_t i = 0; i < KLV_HMTB_ENTRIES; ++i) put16(&raw[2 * i], src[i]);
        if (!write_exact(stream, raw.data(), raw.size())) return false;
      }
      return true;
    };
    return write_chunk(stream, kHmtb, count, body) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API HMTB* load_hmtb(SOVolume* volume, const char* path) {
  try {
    StreamPtr s(open_table_file(volume, path, "load_hmtb"));
    if (!s) return nullptr;
    uint16_t* table = nullptr;
    int32_t count = 0;
    if (!read_hmtb(s.get(), &table, &count)) {
      KLV_LOG(KLV_LOG_ERROR, "load_hmtb: \"%s\" holds no readable HMTB table", path);
      return nullptr;
    }
    auto* record = static_cast<HMTB*>(std::calloc(1, sizeof(HMTB)));
    if (!record) {
      free_hmtb(table);
      return nullptr;
    }
    record->table = table;
    record->count = count;
    return record;
  } catch (...) {
    return nullptr;
  }
}
