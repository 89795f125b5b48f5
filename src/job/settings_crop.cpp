// SPDX-License-Identifier: MIT
// The cropping and tiling block of a job settings record: `Cropping { ... }`
// with the crop size and box, the tiles, their positions and names, the
// border and the bleed.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "job/settings_fields.h"
#include "kernel/settings_text_reader.h"
#include "klv/log.h"

namespace klv::job {
namespace {

using Words = std::vector<std::string>;
constexpr size_t kMaxList = 0xFFFF;  // the lists carry 16-bit counts

settings_crop& crop_of(void* record) {
  return *static_cast<settings_crop*>(record);
}

bool parse_reals(const Words& w, size_t from, double* out, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!parse_real(w[from + i], out[i])) return false;
  return true;
}

template <typename T>
bool parse_ints(const Words& w, size_t from, T* out, size_t n, int64_t least, int64_t most) {
  for (size_t i = 0; i < n; ++i) {
    int64_t v = 0;
    if (!parse_int(w[from + i], v, least, most)) return false;
    out[i] = static_cast<T>(v);
  }
  return true;
}

constexpr int64_t kI32Min = INT32_MIN, kI32Max = INT32_MAX, kU32Max = UINT32_MAX;

int32_t read_box(SFPARSE* fp, const off_field* f, void* record) {
  Words w;
  return read_words(fp, f->key, w, 4, 4) && parse_reals(w, 0, crop_of(record).Box, 4);
}

int32_t read_border(SFPARSE* fp, const off_field* f, void* record) {
  Words w;
  settings_crop& c = crop_of(record);
  return read_words(fp, f->key, w, 5, 5) && parse_reals(w, 0, &c.BorderWidth, 1) &&
         parse_ints(w, 1, c.Border, 4, 0, kU32Max);
}

int32_t read_bleed(SFPARSE* fp, const off_field* f, void* record) {
  Words w;
  settings_crop& c = crop_of(record);
  if (!read_words(fp, f->key, w, 22, 22) || !parse_ints(w, 0, &c.BleedMode, 1, kI32Min, kI32Max) ||
      !parse_reals(w, 1, c.BleedSizes, 8) ||
      !parse_ints(w, 9, c.BleedSwitches, 8, kI32Min, kI32Max) ||
      !parse_reals(w, 17, c.BleedExtra, 2) ||
      !parse_ints(w, 19, c.BleedOptions, 3, kI32Min, kI32Max))
    return 0;
  c.BleedOn = 1;
  return 1;
}

int32_t read_bleed_pixel(SFPARSE* fp, const off_field* f, void* record) {
  Words w;
  return read_words(fp, f->key, w, 12, 12) &&
         parse_ints(w, 0, crop_of(record).BleedPixel, 12, 0, kU32Max);
}

// A list of reals replaces the one the record held.
bool read_positions(SFPARSE* fp, const char* key, double*& list, uint16_t& count) {
  Words w;
  if (!read_words(fp, key, w, 0, kMaxList)) return false;
  double* values =
      w.empty() ? nullptr : static_cast<double*>(std::calloc(w.size(), sizeof(double)));
  if (!w.empty() && !values) return false;
  if (!parse_reals(w, 0, values, w.size())) {
    std::free(values);
    return false;
  }
  std::free(list);
  list = values;
  count = static_cast<uint16_t>(w.size());
  return true;
}

int32_t read_tile_x(SFPARSE* fp, const off_field* f, void* record) {
  settings_crop& c = crop_of(record);
  return read_positions(fp, f->key, c.TileX, c.TileXCount);
}

int32_t read_tile_y(SFPARSE* fp, const off_field* f, void* record) {
  settings_crop& c = crop_of(record);
  return read_positions(fp, f->key, c.TileY, c.TileYCount);
}

void free_names(char** names, size_t count) {
  for (size_t i = 0; i < count; ++i) std::free(names[i]);
  std::free(names);
}

char** copy_names(const char* const* names, size_t count) {
  if (count == 0) return nullptr;
  char** out = static_cast<char**>(std::calloc(count, sizeof(char*)));
  for (size_t i = 0; out && i < count; ++i) {
    out[i] = strdup(names[i] ? names[i] : "");
    if (!out[i]) {
      free_names(out, i);
      return nullptr;
    }
  }
  return out;
}

int32_t read_ex_names(SFPARSE* fp, const off_field* f, void* record) {
  settings_crop& c = crop_of(record);
  Words w;
  if (!read_words(fp, f->key, w, 0, kMaxList)) return 0;
  std::vector<const char*> names;
  for (const std::string& s : w) names.push_back(s.c_str());
  char** copy = copy_names(names.data(), names.size());
  if (!names.empty() && !copy) return 0;
  free_names(c.ExNames, c.ExNamesCount);
  c.ExNames = copy;
  c.ExNamesCount = static_cast<uint16_t>(names.size());
  return 1;
}

off_field real(const char* key, size_t offset) {
  return {key, OFF_CUSTOM, 0, offset, sizeof(double), read_real_field, nullptr};
}

off_field custom(const char* key, off_read_fn read) {
  return {key, OFF_CUSTOM, 0, 0, 0, read, nullptr};
}

std::vector<off_field> make_crop_table() {
  using c = settings_crop;
  std::vector<off_field> t = {
      custom("Bleed", read_bleed),
      custom("BleedPixel", read_bleed_pixel),
      custom("Border", read_border),
      custom("Box", read_box),
      custom("ExNames", read_ex_names),
      real("Height", offsetof(c, Height)),
      {"IndividualTiles", OFF_INT32, 0, offsetof(c, IndividualTiles), 0, nullptr, nullptr},
      real("LastBleedTileBottom", offsetof(c, LastBleedTileBottom)),
      real("LastBleedTileLeft", offsetof(c, LastBleedTileLeft)),
      real("LastBleedTileRight", offsetof(c, LastBleedTileRight)),
      real("LastBleedTileTop", offsetof(c, LastBleedTileTop)),
      {"NoTiles", OFF_INT32, 0, offsetof(c, NoTiles), 0, nullptr, nullptr},
      real("Overlap", offsetof(c, Overlap)),
      real("OverlapWhiteSpace", offsetof(c, OverlapWhiteSpace)),
      real("TileHeight", offsetof(c, TileHeight)),
      real("TileWidth", offsetof(c, TileWidth)),
      custom("TileX", read_tile_x),
      custom("TileY", read_tile_y),
      real("Width", offsetof(c, Width)),
  };
  std::sort(t.begin(), t.end(),
            [](const off_field& a, const off_field& b) { return strcasecmp(a.key, b.key) < 0; });
  return t;
}

void line(std::string& out, const char* key, const std::string& value) {
  out += "  ";
  out += key;
  out += " { ";
  out += value;
  out += " }\n";
}

void list_block(std::string& out, const char* key, const std::vector<std::string>& items) {
  if (items.empty()) return;
  out += "  ";
  out += key;
  out += " {\n";
  for (const std::string& item : items) out += "   " + item + "\n";
  out += "  }\n";
}

std::vector<std::string> reals(const double* values, size_t count) {
  std::vector<std::string> out;
  for (size_t i = 0; i < count; ++i) out.push_back(real_text(values[i]));
  return out;
}

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : " ") + s;
  return out;
}

void write_bleed(std::string& out, const settings_crop& c) {
  std::string text = "  Bleed { " + std::to_string(c.BleedMode);
  for (double v : c.BleedSizes) text += " " + real_text(v);
  for (int32_t v : c.BleedSwitches) text += " " + std::to_string(v);
  for (double v : c.BleedExtra) text += " " + real_text(v);
  for (int32_t v : c.BleedOptions) text += " " + std::to_string(v);
  out += text + "}\n";  // no blank before the brace: the stored form
  if (c.BleedMode != 0) return;
  out += "  BleedPixel {";
  for (uint32_t v : c.BleedPixel) out += " " + std::to_string(v);
  out += " }\n";
}

}  // namespace

int32_t read_cropping(SFPARSE* fp, const off_field* f, void* record) {
  settings& s = *static_cast<settings*>(record);
  if (!enter_block(fp, f)) return 1;
  static const std::vector<off_field> table = make_crop_table();
  settings_crop* crop = settings_crop_new();
  if (!crop) return 0;
  if (!off_load_struct(fp, table.data(), static_cast<int32_t>(table.size()), crop)) {
    settings_crop_free(crop);
    return 0;
  }
  settings_crop_free(s.Cropping);
  s.Cropping = crop;
  return 1;
}

void write_cropping(std::string& out, const settings_crop& c) {
  out += " Cropping {\n";
  line(out, "Width", real_text(c.Width));
  line(out, "Height", real_text(c.Height));
  line(out, "Box", joined(reals(c.Box, 4)));
  if (c.NoTiles) line(out, "NoTiles", std::to_string(c.NoTiles));
  if (c.IndividualTiles) line(out, "IndividualTiles", std::to_string(c.IndividualTiles));
  const std::pair<const char*, double> always[] = {
      {"TileWidth", c.TileWidth},
      {"TileHeight", c.TileHeight},
      {"Overlap", c.Overlap},
      {"OverlapWhiteSpace", c.OverlapWhiteSpace},
      {"LastBleedTileLeft", c.LastBleedTileLeft},
      {"LastBleedTileRight", c.LastBleedTileRight},
      {"LastBleedTileTop", c.LastBleedTileTop},
      {"LastBleedTileBottom", c.LastBleedTileBottom},
  };
  for (const auto& [key, value] : always) line(out, key, real_text(value));
  list_block(out, "TileX", reals(c.TileX, c.TileX ? c.TileXCount : 0));
  list_block(out, "TileY", reals(c.TileY, c.TileY ? c.TileYCount : 0));
  std::vector<std::string> names;
  for (size_t i = 0; c.ExNames && i < c.ExNamesCount; ++i)
    names.push_back(quoted(c.ExNames[i] ? c.ExNames[i] : ""));
  list_block(out, "ExNames", names);
  std::string border = real_text(c.BorderWidth);
  for (uint32_t v : c.Border) border += " " + std::to_string(v);
  line(out, "Border", border);
  if (c.BleedOn) write_bleed(out, c);
  out += " }\n";
}

settings_crop* copy_crop(const settings_crop* c) {
  if (!c) return nullptr;
  settings_crop* out = settings_crop_new();
  if (!out) return nullptr;
  *out = *c;
  out->TileX = out->TileY = nullptr;
  out->ExNames = nullptr;
  out->TileXCount = out->TileYCount = out->ExNamesCount = 0;
  auto copy_reals = [](const double* from, uint16_t n, double*& to) {
    if (!from || n == 0) return true;
    to = static_cast<double*>(std::malloc(n * sizeof(double)));
    if (to) std::memcpy(to, from, n * sizeof(double));
    return to != nullptr;
  };
  bool ok = copy_reals(c->TileX, c->TileXCount, out->TileX) &&
            copy_reals(c->TileY, c->TileYCount, out->TileY);
  if (ok && out->TileX) out->TileXCount = c->TileXCount;
  if (ok && out->TileY) out->TileYCount = c->TileYCount;
  if (ok && c->ExNames && c->ExNamesCount) {
    out->ExNames = copy_names(c->ExNames, c->ExNamesCount);
    ok = out->ExNames != nullptr;
    if (ok) out->ExNamesCount = c->ExNamesCount;
  }
  if (!ok) {
    settings_crop_free(out);
    return nullptr;
  }
  return out;
}

}  // namespace klv::job

extern "C" {

KLV_API settings_crop* settings_crop_new(void) {
  return static_cast<settings_crop*>(std::calloc(1, sizeof(settings_crop)));
}

KLV_API void settings_crop_free(settings_crop* crop) {
  if (!crop) return;
  std::free(crop->TileX);
  std::free(crop->TileY);
  klv::job::free_names(crop->ExNames, crop->ExNames ? crop->ExNamesCount : 0);
  std::free(crop);
}

}  // extern "C"
