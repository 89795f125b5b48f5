// SPDX-License-Identifier: MIT
// Field tables: reading the entries of a block into a record and writing a
// record back as a block, driven by a table of key, kind and offset.
#include <cstdio>
#include <cstring>
#include <string>

#include "kernel/settings_text_reader.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

using klv::kernel::compare_nocase;

namespace {

char* field_at(void* record, const off_field& f) {
  return static_cast<char*>(record) + f.offset;
}
const char* field_at(const void* record, const off_field& f) {
  return static_cast<const char*>(record) + f.offset;
}

template <typename T>
void store(void* record, const off_field& f, T value) {
  std::memcpy(field_at(record, f), &value, sizeof value);
}

template <typename T>
T load(const void* record, const off_field& f) {
  T value;
  std::memcpy(&value, field_at(record, f), sizeof value);
  return value;
}

// A table must be sorted by key without regard to case, with unique keys
// and entries that can be handled; a mistake here would make keys vanish
// silently, so it is refused loudly.
bool table_ok(const off_field* table, int32_t count) {
  if (!table || count < 0) {
    KLV_LOG(KLV_LOG_ERROR, "settings field table missing");
    return false;
  }
  for (int32_t i = 0; i < count; ++i) {
    const off_field& f = table[i];
    const char* fault = nullptr;
    if (!f.key || !*f.key)
      fault = "has no key";
    else if (i > 0 && compare_nocase(table[i - 1].key, f.key) >= 0)
      fault = "is out of order or repeated";
    else if (f.kind < OFF_INT32 || f.kind > OFF_CUSTOM)
      fault = "has an unknown kind";
    else if (f.kind == OFF_STRING && f.size == 0)
      fault = "is a string of size 0";
    else if (f.kind == OFF_CUSTOM && !f.read)
      fault = "is custom without a reader";
    if (fault) {
      KLV_LOG(KLV_LOG_ERROR, "settings field table entry %d \"%s\" %s", i, f.key ? f.key : "",
              fault);
      return false;
    }
  }
  return true;
}

const off_field* find_field(const off_field* table, int32_t count, const char* key) {
  int32_t lo = 0, hi = count;
  while (lo < hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int c = compare_nocase(table[mid].key, key);
    if (c == 0) return &table[mid];
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return nullptr;
}

template <typename Small>
int32_t read_small(SFPARSE* fp, const off_field& f, void* record, uint32_t max) {
  uint32_t v = 0;
  if (!klv::kernel::read_uint32(fp, &v, f.key)) return -1;
  if (v > max) {
    KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: %u is larger than %u",
            fp->name().c_str(), fp->line(), f.key, v, max);
    return -1;
  }
  store(record, f, static_cast<Small>(v));
  return 1;
}

int32_t read_field(SFPARSE* fp, const off_field& f, void* record) {
  using namespace klv::kernel;
  if (f.read) {
    if (f.read(fp, &f, record)) return 1;
    // A custom reader may not say why; the refusal is logged here once.
    KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: the value was refused",
            fp->name().c_str(), fp->line(), f.key);
    return -1;
  }
  switch (f.kind) {
    case OFF_INT32: {
      int32_t v = 0;
      if (!read_int32(fp, &v, f.key)) return -1;
      store(record, f, v);
      return 1;
    }
    case OFF_UINT32:
    case OFF_HEX32: {
      uint32_t v = 0;
      if (!(f.kind == OFF_HEX32 ? read_hex32(fp, &v, f.key) : read_uint32(fp, &v, f.key)))
        return -1;
      store(record, f, v);
      return 1;
    }
    case OFF_UINT8:
      return read_small<uint8_t>(fp, f, record, 0xFF);
    case OFF_UINT16:
      return read_small<uint16_t>(fp, f, record, 0xFFFF);
    case OFF_UINT64: {
      uint64_t v = 0;
      if (!read_uint64(fp, &v, f.key)) return -1;
      store(record, f, v);
      return 1;
    }
    case OFF_DOUBLE: {
      double v = 0;
      if (!read_double(fp, &v, f.key)) return -1;
      store(record, f, v);
      return 1;
    }
    case OFF_STRING: {
      std::string text;
      if (!fp->value_text(text, f.key)) return -1;
      if (text.size() >= f.size)
        KLV_LOG(KLV_LOG_WARNING, "settings text %s, line %d: %s: value cut to %zu bytes",
                fp->name().c_str(), fp->line(), f.key, f.size - 1);
      copy_cut(text, field_at(record, f), static_cast<int32_t>(f.size));
      return 1;
    }
    case OFF_STRAL: {
      SSTRAL* list = fp_get_list(fp);
      if (!list) return -1;
      stral_free(load<SSTRAL*>(record, f));
      store(record, f, list);
      return 1;
    }
    default:
      return fp->skip_value() ? 1 : -1;
  }
}

int32_t get_control(SFPARSE* fp, const off_field* table, int32_t count, void* record,
                    const char* key) {
  const off_field* f = find_field(table, count, key);
  if (!f) {
    if (fp->peek() == SFPARSE::kOpen && !fp->skip_value()) return -1;
    return 0;
  }
  return read_field(fp, *f, record);
}

bool is_empty(const off_field& f, const void* record) {
  switch (f.kind) {
    case OFF_INT32:
      return load<int32_t>(record, f) == 0;
    case OFF_UINT32:
    case OFF_HEX32:
      return load<uint32_t>(record, f) == 0;
    case OFF_UINT8:
      return load<uint8_t>(record, f) == 0;
    case OFF_UINT16:
      return load<uint16_t>(record, f) == 0;
    case OFF_UINT64:
      return load<uint64_t>(record, f) == 0;
    case OFF_DOUBLE:
      return load<double>(record, f) == 0.0;
    case OFF_STRING:
      return field_at(record, f)[0] == '\0';
    case OFF_STRAL:
      return stral_count(load<SSTRAL*>(record, f)) == 0;
    default:
      return false;
  }
}

int32_t write_field(SFilemux* stream, int32_t indent, const off_field& f, const void* record) {
  if (f.write) return f.write(stream, indent, &f, record);
  if ((f.flags & OFF_SKIP_EMPTY) && is_empty(f, record)) return 1;
  switch (f.kind) {
    case OFF_INT32:
      return off_put_int(stream, indent, f.key, load<int32_t>(record, f));
    case OFF_UINT32:
      return off_put_uint(stream, indent, f.key, load<uint32_t>(record, f));
    case OFF_UINT8:
      return off_put_uint(stream, indent, f.key, load<uint8_t>(record, f));
    case OFF_UINT16:
      return off_put_uint(stream, indent, f.key, load<uint16_t>(record, f));
    case OFF_HEX32: {
      char text[16];
      std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(load<uint32_t>(record, f)));
      return off_put_string(stream, indent, f.key, text);
    }
    case OFF_UINT64:
      return off_put_uint64(stream, indent, f.key, load<uint64_t>(record, f));
    case OFF_DOUBLE:
      return off_put_double(stream, indent, f.key, load<double>(record, f));
    case OFF_STRING: {
      // A field that was never terminated is written up to its size.
      const char* s = field_at(record, f);
      std::string text(s, strnlen(s, f.size));
      return off_put_string(stream, indent, f.key, text.c_str());
    }
    case OFF_STRAL:
      return off_put_stral(stream, indent, f.key, load<SSTRAL*>(record, f));
    default:
      return 1;  // a custom entry without a writer is read-only
  }
}

}  // namespace

extern "C" {

KLV_API int32_t off_get_control(SFPARSE* fp, const off_field* table, int32_t count, void* record,
                                const char* key) {
  if (!fp || !record || !key || !table_ok(table, count)) return -1;
  try {
    return get_control(fp, table, count, record, key);
  } catch (...) {
    fp->fail("out of memory");
    return -1;
  }
}

KLV_API int32_t off_load_struct(SFPARSE* fp, const off_field* table, int32_t count, void* record) {
  if (!fp || !record || !table_ok(table, count)) return 0;
  try {
    for (;;) {
      switch (fp->peek()) {
        case SFPARSE::kWord: {
          fp->next();
          std::string key = fp->text();
          if (get_control(fp, table, count, record, key.c_str()) < 0) return 0;
          break;
        }
        case SFPARSE::kOpen:
          if (!fp->skip_value()) return 0;
          break;
        case SFPARSE::kClose:
          fp->next();
          return 1;
        case SFPARSE::kEnd:
          fp->fail("block not closed before the end of the text");
          return 0;
        default:
          return 0;
      }
    }
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

KLV_API int32_t off_write_struct(SFilemux* stream, const off_field* table, int32_t count,
                                 const void* record, const char* name, int32_t indent) {
  if (!stream || !record || !name || !table_ok(table, count)) return 0;
  try {
    if (!off_put_open(stream, indent, name)) return 0;
    for (int32_t i = 0; i < count; ++i)
      if (!write_field(stream, indent + 1, table[i], record)) return 0;
    return off_put_close(stream, indent);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t off_save_struct(SOVolume* volume, const char* path, const off_field* table,
                                int32_t count, const void* record, const char* name) {
  if (!path || !record || !name || !table_ok(table, count)) return 0;
  SFSAVE* save = fp_save_begin(volume, path);
  if (!save) return 0;
  int32_t ok = off_write_struct(fp_save_stream(save), table, count, record, name, 0);
  return fp_save_end(save, ok);
}

}  // extern "C"
