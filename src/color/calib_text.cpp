// SPDX-License-Identifier: MIT
// Text calibration tables: the limit record line (SCTB), the per-channel
// percentage line (SDTB), and the rescaling of linearization tables by an
// SDTB line.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <vector>

#include "color/calib_internal.h"
#include "klv/calib.h"
#include "klv/kernel_util.h"
#include "klv/log.h"

static_assert(offsetof(SCTB, scale) == 0 && offsetof(SCTB, first) == 8 &&
                  offsetof(SCTB, second) == 12 && offsetof(SCTB, triple1) == 16 &&
                  offsetof(SCTB, triple2) == 40 && offsetof(SCTB, single) == 64 &&
                  offsetof(SCTB, min1) == 72 && offsetof(SCTB, min2) == 80 &&
                  offsetof(SCTB, value11) == 88 && offsetof(SCTB, value13) == 96 &&
                  offsetof(SCTB, value12) == 104,
              "the limit record keeps its field order");

namespace klv::calib {
namespace {

struct CharListFree {
  void operator()(char** list) const { free_char_list(list); }
};
using CharList = std::unique_ptr<char*, CharListFree>;

// A whole word that is a number (locale-free).
bool parse_number(const char* text, double* out) {
  const char* end = text;
  *out = OatofEx(text, &end);
  return end != text && *end == '\0';
}

// "%f" without regard to the locale.
std::string fixed(double v) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0.000000");
}

// Reads the keyword and the braced values of a one-line table. 1 with the
// values, 0 when the keyword is another (nothing consumed when `peek_only`),
// -1 when the line is bad.
int read_line(SFPARSE* fp, const char* keyword, bool peek_only, std::vector<double>* values,
              const char* who) {
  char word[16];
  int kind = peek_only ? fp_peek_token(fp, word, sizeof word) : fp_get_token(fp, word, sizeof word);
  if (kind != KLV_FP_WORD || Ostricmp(word, keyword) != 0) return 0;
  if (peek_only) fp_get_token(fp, nullptr, 0);
  int32_t n = 0;
  CharList list(get_char_list(fp, &n));
  if (!list) {
    KLV_LOG(KLV_LOG_ERROR, "%s: %s at line %d has no braced list of values", who, keyword,
            fp_line(fp));
    return -1;
  }
  for (int32_t i = 0; i < n; ++i) {
    double v;
    if (!parse_number(list.get()[i], &v)) {
      KLV_LOG(KLV_LOG_ERROR, "%s: value %d of %s at line %d is not a number: \"%s\"", who, i + 1,
              keyword, fp_line(fp), list.get()[i]);
      return -1;
    }
    values->push_back(v);
  }
  return 1;
}

int32_t to_int(double v) {
  if (!(v > INT32_MIN)) return INT32_MIN;
  if (!(v < INT32_MAX)) return INT32_MAX;
  return int32_t(v);
}

void set_minima(SCTB* r) {
  r->min1 = std::min({r->triple1[0], r->triple1[1], r->triple1[2]});
  r->min2 = std::min({r->triple2[0], r->triple2[1], r->triple2[2]});
}

// Fills the record from the values of an SCTB line as their count decides.
void fill_sctb(const std::vector<double>& v, SCTB* r) {
  *r = SCTB{};
  r->scale = v[0];
  const size_t n = v.size();
  if (n >= 2 && n <= 10) {
    r->first = to_int(v[1]);
    for (int i = 0; i < 3; ++i) r->triple1[i] = r->triple2[i] = r->scale;
    r->single = r->scale;
    r->value11 = r->value13 = 1.0;
  } else if (n >= 11) {
    r->first = to_int(v[1]);
    r->second = to_int(v[2]);
    for (int i = 0; i < 3; ++i) {
      r->triple1[i] = v[3 + i];
      r->triple2[i] = v[6 + i];
    }
    r->single = v[9];
    r->value11 = v[10];
    if (n < 12) {
      r->value13 = 1.0;
    } else {
      r->value12 = to_int(v[11]);
      if (n >= 13) r->value13 = v[12];
    }
  }
  set_minima(r);
}

// A new identity record of four channels at `bits`; null on memory failure.
LNTB* identity_lntb(int32_t bits) {
  auto* record = static_cast<LNTB*>(std::calloc(1, sizeof(LNTB)));
  if (!record) return nullptr;
  record->tables = alloc_lntb(4);
  if (!record->tables) {
    std::free(record);
    return nullptr;
  }
  record->count = 4;
  for (int c = 0; c < 4; ++c)
    for (uint32_t i = 0; i < KLV_CALB_ENTRIES; ++i) record->tables[c][i] = to_bits(i * 257, bits);
  return record;
}

}  // namespace
}  // namespace klv::calib

using namespace klv::calib;

KLV_API int32_t read_sctb(SFPARSE* parser, SCTB* record) {
  if (!parser || !record) return 0;
  try {
    std::vector<double> v;
    int got = read_line(parser, "SCTB", false, &v, "read_sctb");
    if (got == 0) KLV_LOG(KLV_LOG_ERROR, "read_sctb: no SCTB line at line %d", fp_line(parser));
    if (got <= 0) return 0;
    *record = SCTB{};
    if (v.empty() || !(v[0] > 0)) {
      KLV_LOG(KLV_LOG_ERROR, "read_sctb: the scale of an SCTB line must be greater than 0");
      return 0;
    }
    fill_sctb(v, record);
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t write_sctb(SFilemux* stream, const SCTB* r) {
  if (!stream || !r) return 0;
  try {
    std::string line = "SCTB { " + fixed(r->scale) + " " + std::to_string(r->first) + " " +
                       std::to_string(r->second);
    for (double d : {r->triple1[0], r->triple1[1], r->triple1[2], r->triple2[0], r->triple2[1],
                     r->triple2[2], r->single, r->value11})
      line += " " + fixed(d);
    const bool with13 = r->value13 > 0;
    if (r->value12 == 0 && !with13)
      line += " }";
    else if (r->value12 == 0)
      line += " 0 " + fixed(r->value13) + "}";
    else if (with13)
      line += " " + std::to_string(r->value12) + " " + fixed(r->value13) + "}";
    else
      line += " " + std::to_string(r->value12) + " }";
    line += "\n";
    return write_exact(stream, line.data(), line.size()) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API SCTB* load_sctb(SOVolume* volume, const char* path) {
  if (!path || !*path || !Ofileexists(volume, path, 0)) return nullptr;
  try {
    ParserPtr fp(fp_open(volume, path, 0));
    if (!fp) return nullptr;
    auto* record = static_cast<SCTB*>(std::calloc(1, sizeof(SCTB)));
    if (!record) return nullptr;
    if (!read_sctb(fp.get(), record)) {
      KLV_LOG(KLV_LOG_ERROR, "load_sctb: \"%s\" does not begin with a good SCTB line", path);
      std::free(record);
      return nullptr;
    }
    return record;
  } catch (...) {
    return nullptr;
  }
}

KLV_API void free_sctb(SCTB* record) {
  std::free(record);
}

KLV_API int32_t read_sdtb(SFPARSE* parser, SDTB** list_out) {
  if (!parser || !list_out) return 0;
  *list_out = nullptr;
  try {
    std::vector<double> v;
    int got = read_line(parser, "SDTB", true, &v, "read_sdtb");
    if (got == 0) return 1;
    if (got < 0) return 0;
    if (v.size() < 3) {
      KLV_LOG(KLV_LOG_ERROR, "read_sdtb: an SDTB line needs at least 3 values, it has %zu",
              v.size());
      return 0;
    }
    for (size_t i = 0; i < v.size(); ++i) {
      if (!(v[i] >= 0 && v[i] <= 255) || v[i] != double(int32_t(v[i]))) {
        KLV_LOG(KLV_LOG_ERROR, "read_sdtb: value %zu of an SDTB line is not an integer in 0..255",
                i + 1);
        return 0;
      }
    }
    auto* list = static_cast<SDTB*>(std::calloc(1, sizeof(SDTB)));
    if (!list) return 0;
    list->values = static_cast<int32_t*>(std::calloc(v.size(), sizeof(int32_t)));
    if (!list->values) {
      std::free(list);
      return 0;
    }
    list->count = int32_t(v.size());
    for (size_t i = 0; i < v.size(); ++i) list->values[i] = int32_t(v[i]);
    *list_out = list;
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t write_sdtb(SFilemux* stream, const SDTB* list) {
  if (!stream || !list || list->count < 0 || (list->count > 0 && !list->values)) return 0;
  try {
    std::string line = "SDTB {";
    for (int32_t i = 0; i < list->count; ++i) line += " " + std::to_string(list->values[i]);
    line += "}\n";
    return write_exact(stream, line.data(), line.size()) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API void free_sdtb(SDTB* list) {
  if (!list) return;
  std::free(list->values);
  std::free(list);
}

KLV_API LNTB* scale_lntb(LNTB* record, SOVolume* volume, const char* path, int32_t bits) {
  if (bits < 1) {
    KLV_LOG(KLV_LOG_ERROR, "scale_lntb: output precision of %d bits", bits);
    return record;
  }
  if (!path || !*path || !Ofileexists(volume, path, 0)) return record;
  try {
    SDTB* sdtb = nullptr;
    {
      ParserPtr fp(fp_open(volume, path, 0));
      if (!fp || !read_sdtb(fp.get(), &sdtb) || !sdtb) return record;
    }
    std::unique_ptr<SDTB, void (*)(SDTB*)> owner(sdtb, free_sdtb);
    if (!record) {
      record = identity_lntb(bits);
      if (!record) {
        KLV_LOG(KLV_LOG_ERROR, "scale_lntb: out of memory for an identity table");
        return nullptr;
      }
    }
    const int64_t m = (int64_t{1} << std::min(bits, 16)) - 1;
    const int32_t channels = std::min<int32_t>(record->count, sdtb->count);
    for (int32_t c = 0; c < channels; ++c) {
      uint16_t* t = record->tables ? record->tables[c] : nullptr;
      if (!t) continue;
      const int64_t p = sdtb->values[c];
      for (int i = 0; i < KLV_CALB_ENTRIES; ++i) {
        const int64_t e = m - (p * (m - int64_t(t[i]))) / 255;  // C++ division truncates to 0
        t[i] = uint16_t(std::clamp<int64_t>(e, 0, 65535));
      }
    }
    return record;
  } catch (...) {
    return record;
  }
}
