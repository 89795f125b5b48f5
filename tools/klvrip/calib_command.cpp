// SPDX-License-Identifier: MIT
// klvrip calib: look at a printer's calibration volume (list its files, show
// one as a table, plot its curves, run the calibration file search) and write
// linearization tables made from a curve.
#include <png.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "klv/calib.h"
#include "klv/kernel.h"

namespace klvrip {
namespace {

constexpr const char* kUsage =
    "usage: klvrip calib PRINTER [MEMBER] [--all] [--plot FILE.png]\n"
    "       klvrip calib PRINTER --find MEDIA THIRD PATTERN [--base NAME]\n"
    "       klvrip calib linear VOLUME MEMBER --gamma G[,G...] [--limit L[,L...]]\n"
    "\n"
    "PRINTER is a printer name or the path of a .Calibrate volume. Without MEMBER\n"
    "the calibration files are listed; with MEMBER one is shown as a table (every\n"
    "16th entry, all 256 with --all) and --plot draws its curves: one line per\n"
    "ink, input 0-100 % across, output 0-100 % up, the grey diagonal for no\n"
    "change. --find runs the calibration file search (base name \"Linear\" unless\n"
    "--base is given).\n"
    "\n"
    "linear writes an LNTB member of one channel per gamma: entry i is\n"
    "round(65535 * limit * (i / 255) ^ gamma), the limit 1.0 unless given.\n";

struct VolumeCloser {
  void operator()(SOVolume* v) const { VClose(v); }
};
using VolumePtr = std::unique_ptr<SOVolume, VolumeCloser>;

// The calibration volume named by a path or by a printer.
VolumePtr open_volume(const char* printer, int32_t mode, std::string* path) {
  if (Ofileexists(nullptr, printer, 0)) {
    *path = printer;
    return VolumePtr(VOpen(nullptr, printer, mode));
  }
  std::vector<char> found(KLV_PATH_MAX);
  VolumePtr v(open_calb_volume(printer, mode, found.data()));
  *path = found.data();
  return v;
}

// What a member holds, from its first bytes.
std::string kind_of(SOVolume* v, const char* member) {
  SFilemux* s = Ovfopen(v, member, "rb");
  if (!s) return "?";
  char head[16] = {};
  size_t n = Oread(s, head, sizeof head - 1);
  Oclose(s);
  std::string text(head, n);
  for (const char* tag : {"LNTB", "DNTB", "GBTB", "HMTB"})
    if (text.rfind(tag, 0) == 0) return tag;
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b != std::string::npos) {
    text = text.substr(b);
    for (const char* word : {"SCTB", "SDTB", "Calb_Info"})
      if (strncasecmp(text.c_str(), word, std::strlen(word)) == 0) return word;
  }
  return "data";
}

int list(SOVolume* v, const std::string& path) {
  std::printf("%s\n", path.c_str());
  if (Calb_Info* info = calbinfo_load(v, nullptr)) {
    std::printf("  swatch \"%s\", default media \"%s\", default ink model \"%s\"\n", info->Swatch,
                info->DefaultMedia, info->DefaultInkModel);
    std::printf("  %d alias, %d substitution, %d ink model rules\n", stral_count(info->Aliases),
                stral_count(info->Subs), stral_count(info->InkModels));
    calbinfo_free(info);
  } else {
    std::printf("  (no readable index record Calb.Info)\n");
  }
  SFindRec rec;
  std::vector<std::string> names;
  for (int more = VFindfirst(v, "*", &rec); more; more = VFindnext(&rec))
    if (!(rec.attributes & KLV_FA_DIR)) names.push_back(rec.name);
  std::sort(names.begin(), names.end());
  std::printf("  %-10s %-34s %s\n", "kind", "name", "keys (media / third / pattern)");
  for (const std::string& name : names) {
    char base[KLV_CALB_NAME_MAX], media[KLV_CALB_NAME_MAX], third[KLV_CALB_NAME_MAX],
        pattern[KLV_CALB_NAME_MAX];
    split_calb_path(name.c_str(), base, media, third, pattern);
    std::string keys = name.find('~') == std::string::npos
                           ? std::string()
                           : std::string(media) + " / " + third + " / " + pattern;
    std::printf("  %-10s %-34s %s\n", kind_of(v, name.c_str()).c_str(), name.c_str(), keys.c_str());
  }
  return 0;
}

const char* ink_name(int c, int count) {
  static const char* const kInks[] = {"Cyan", "Magenta", "Yellow", "Black"};
  static const char* const kOther[] = {"ch0", "ch1", "ch2", "ch3", "ch4", "ch5", "ch6", "ch7"};
  if (count == 4 && c < 4) return kInks[c];
  return c < 8 ? kOther[c] : "ch";
}

// Curves of 256 16-bit entries, one per channel.
struct Curves {
  std::vector<std::vector<uint16_t>> channels;
};

void print_table(const Curves& curves, bool all) {
  const int count = int(curves.channels.size());
  std::printf("%5s %7s", "in", "in %");
  for (int c = 0; c < count; ++c) std::printf(" %9s %7s", ink_name(c, count), "%");
  std::printf("\n");
  for (int i = 0; i < 256; i += (all || i == 255) ? 1 : (i + 16 > 255 ? 255 - i : 16)) {
    std::printf("%5d %6.1f%%", i, i * 100.0 / 255);
    for (int c = 0; c < count; ++c) {
      uint16_t v = curves.channels[c][i];
      std::printf(" %9u %6.1f%%", v, v * 100.0 / 65535);
    }
    std::printf("\n");
    if (i == 255) break;
  }
}

// ---- Plot ------------------------------------------------------------------

struct Image {
  int w, h;
  std::vector<uint8_t> rgb;
  void set(int x, int y, const uint8_t* c) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    std::memcpy(&rgb[(size_t(y) * w + x) * 3], c, 3);
  }
  // A line `thick` pixels wide (a square pen), every `dash` pixels on/off when set.
  void line(double x0, double y0, double x1, double y1, const uint8_t* c, int thick, int dash = 0) {
    const int steps = int(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0))) + 1;
    for (int s = 0; s <= steps; ++s) {
      if (dash && (s / dash) % 2) continue;
      const double t = double(s) / steps;
      const int x = int(std::lround(x0 + (x1 - x0) * t)), y = int(std::lround(y0 + (y1 - y0) * t));
      for (int dy = -(thick / 2); dy <= (thick - 1) / 2; ++dy)
        for (int dx = -(thick / 2); dx <= (thick - 1) / 2; ++dx) set(x + dx, y + dy, c);
    }
  }
};

// A 3 x 5 pixel font for the axis labels and the key: digits, '%' and the
// letters of the ink names. Each glyph is five rows of three bits.
struct Glyph {
  char c;
  uint8_t rows[5];
};
constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 3, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 2, 2}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'%', {5, 1, 2, 4, 5}}, {'C', {7, 4, 4, 4, 7}},
    {'M', {5, 7, 7, 5, 5}}, {'Y', {5, 5, 2, 2, 2}}, {'K', {5, 5, 6, 5, 5}}, {'h', {4, 4, 7, 5, 5}},
    {'i', {2, 0, 2, 2, 2}}, {'n', {0, 0, 7, 5, 5}}, {'o', {0, 0, 7, 5, 7}}, {'u', {0, 0, 5, 5, 7}},
    {'t', {2, 7, 2, 2, 3}}, {' ', {0, 0, 0, 0, 0}}};

// Writes `text` with its top left corner at (x, y), each font pixel `scale` wide.
void draw_text(Image& img, int x, int y, const char* text, const uint8_t* colour, int scale = 2) {
  for (; *text; ++text, x += 4 * scale) {
    for (const Glyph& g : kGlyphs) {
      if (g.c != *text) continue;
      for (int r = 0; r < 5; ++r)
        for (int b = 0; b < 3; ++b)
          if (g.rows[r] & (4 >> b))
            for (int dy = 0; dy < scale; ++dy)
              for (int dx = 0; dx < scale; ++dx)
                img.set(x + b * scale + dx, y + r * scale + dy, colour);
    }
  }
}

bool write_png(const std::string& path, const Image& img) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  if (png && info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, f);
    png_set_IHDR(png, info, img.w, img.h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < img.h; ++y)
      png_write_row(png, const_cast<png_bytep>(img.rgb.data() + size_t(y) * img.w * 3));
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  return (std::fclose(f) == 0) && ok;
}

// Draws the curves: input 0-100 % across, output 0-100 % up, a grid every
// 10 %, the diagonal of "no change" dashed in grey, one line per ink, and a
// key of ink colour swatches down the right-hand side.
bool plot(const Curves& curves, const std::string& out) {
  constexpr int kSize = 512, kMargin = 40, kKey = 60;
  Image img{kSize + 2 * kMargin + kKey, kSize + 2 * kMargin, {}};
  img.rgb.assign(size_t(img.w) * img.h * 3, 255);
  const uint8_t grid[3] = {225, 225, 225}, axis[3] = {90, 90, 90}, diag[3] = {160, 160, 160};
  auto px = [&](double f) { return kMargin + f * kSize; };
  auto py = [&](double f) { return kMargin + (1 - f) * kSize; };
  for (int g = 0; g <= 10; ++g) {
    img.line(px(g / 10.0), py(0), px(g / 10.0), py(1), grid, 1);
    img.line(px(0), py(g / 10.0), px(1), py(g / 10.0), grid, 1);
    img.line(px(g / 10.0), py(0), px(g / 10.0), py(0) + 6, axis, 1);  // ticks
    img.line(px(0) - 6, py(g / 10.0), px(0), py(g / 10.0), axis, 1);
  }
  img.line(px(0), py(0), px(1), py(0), axis, 2);
  img.line(px(0), py(0), px(0), py(1), axis, 2);
  img.line(px(0), py(0), px(1), py(1), diag, 1, 6);
  for (int g = 0; g <= 100; g += 50) {  // 0, 50 and 100 % on both axes
    const std::string label = std::to_string(g);
    const int width = int(label.size()) * 8 - 2;
    draw_text(img, int(px(g / 100.0)) - width / 2, int(py(0)) + 10, label.c_str(), axis);
    draw_text(img, int(px(0)) - 10 - width, int(py(g / 100.0)) - 5, label.c_str(), axis);
  }
  draw_text(img, int(px(0.5)) + 40, int(py(0)) + 10, "in %", axis);
  draw_text(img, int(px(0)) - 34, int(py(1)) - 26, "out %", axis);
  static const uint8_t kColours[][3] = {{0, 160, 225},  {225, 0, 140},  {235, 190, 0},
                                        {0, 0, 0},      {230, 90, 20},  {40, 170, 60},
                                        {120, 60, 200}, {140, 140, 140}};
  const int count = int(curves.channels.size());
  for (int c = 0; c < count; ++c) {
    const uint8_t* col = kColours[count == 4 ? c : 4 + c % 4];
    const auto& t = curves.channels[c];
    for (int i = 0; i < 255; ++i)
      img.line(px(i / 255.0), py(t[i] / 65535.0), px((i + 1) / 255.0), py(t[i + 1] / 65535.0), col,
               2);
    const int ky = kMargin + 12 + c * 24;  // key swatch in the ink order
    for (int y = ky; y < ky + 14; ++y) img.line(px(1) + 20, y, px(1) + 40, y, col, 1);
    const char letter[2] = {count == 4 ? "CMYK"[c] : char('0' + c % 10), 0};
    draw_text(img, int(px(1)) + 46, ky + 2, letter, col);
  }
  // Written beside the target and renamed when complete.
  const std::string temp = out + ".klvtmp";
  if (!write_png(temp, img) || std::rename(temp.c_str(), out.c_str()) != 0) {
    std::remove(temp.c_str());
    std::fprintf(stderr, "klvrip calib: cannot write \"%s\": %s\n", out.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

// ---- Showing one member -----------------------------------------------------

bool tables_of(uint16_t* const* tables, int count, Curves* curves) {
  for (int c = 0; c < count; ++c) curves->channels.emplace_back(tables[c], tables[c] + 256);
  return count > 0;
}

int show(SOVolume* v, const char* member, bool all, const char* plot_file) {
  if (!Ofileexists(v, member, 0)) {
    std::fprintf(stderr, "klvrip calib: no calibration file \"%s\"\n", member);
    return 1;
  }
  const std::string kind = kind_of(v, member);
  Curves curves;
  if (kind == "LNTB" || kind == "DNTB") {
    LNTB* r = load_lntb(v, member, 16);
    if (r) {
      std::printf("%s: linearization (%s), %d channels\n", member, kind.c_str(), r->count);
      tables_of(r->tables, r->count, &curves);
    }
    free_linear_tbl(r);
  } else if (kind == "GBTB") {
    GBTB* r = load_gbtb(v, member);
    if (r) {
      std::printf("%s: grey balance, %d channels\n", member, r->count);
      tables_of(r->tables, r->count, &curves);
    }
    free_grey_tbl(r, 1);
  } else if (kind == "HMTB") {
    HMTB* r = load_hmtb(v, member);
    if (!r) {
      std::fprintf(stderr, "klvrip calib: \"%s\" is not a readable HMTB table\n", member);
      return 1;
    }
    std::printf("%s: HMTB, %d channels of 3 planes of 256 x 256 entries\n", member, r->count);
    for (int c = 0; c < r->count; ++c) {
      const uint16_t* p = r->table + size_t(c) * KLV_HMTB_ENTRIES;
      auto [lo, hi] = std::minmax_element(p, p + KLV_HMTB_ENTRIES);
      std::printf("  channel %d: entries %u..%u\n", c, *lo, *hi);
    }
    free_hmtb_tbl(r);
    if (plot_file) std::fprintf(stderr, "klvrip calib: an HMTB table has no curves to plot\n");
    return plot_file ? 1 : 0;
  } else if (kind == "SCTB") {
    SCTB* r = load_sctb(v, member);
    if (!r) {
      std::fprintf(stderr, "klvrip calib: \"%s\" is not a readable SCTB line\n", member);
      return 1;
    }
    std::printf(
        "%s: limit record\n  scale %g, integers %d %d\n  triples %g %g %g / %g %g %g (minima %g "
        "%g)\n  single %g, value 11 %g, value 12 %d, value 13 %g\n",
        member, r->scale, r->first, r->second, r->triple1[0], r->triple1[1], r->triple1[2],
        r->triple2[0], r->triple2[1], r->triple2[2], r->min1, r->min2, r->single, r->value11,
        r->value12, r->value13);
    free_sctb(r);
    return 0;
  } else if (kind == "SDTB") {
    // The identity tables scaled by the line: the curves of the percentages.
    LNTB* r = scale_lntb(nullptr, v, member, 16);
    if (r) {
      std::printf("%s: per-channel percentages applied to an identity table\n", member);
      tables_of(r->tables, r->count, &curves);
    }
    free_linear_tbl(r);
  } else {
    SFilemux* s = Ovfopen(v, member, "rb");
    char buf[4096];
    size_t n;
    while (s && (n = Oread(s, buf, sizeof buf)) > 0) std::fwrite(buf, 1, n, stdout);
    Oclose(s);
    if (plot_file) std::fprintf(stderr, "klvrip calib: \"%s\" has no curves to plot\n", member);
    return plot_file ? 1 : 0;
  }
  if (curves.channels.empty()) {
    std::fprintf(stderr, "klvrip calib: \"%s\" is not a readable %s table\n", member, kind.c_str());
    return 1;
  }
  print_table(curves, all);
  if (plot_file && !plot(curves, plot_file)) return 1;
  return 0;
}

// ---- Writing a linearization from a curve -------------------------------------

bool parse_list(const char* text, std::vector<double>* out) {
  std::string s(text);
  size_t at = 0;
  while (at <= s.size()) {
    size_t comma = s.find(',', at);
    std::string part = s.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    char* end = nullptr;
    double v = std::strtod(part.c_str(), &end);
    if (part.empty() || *end || !std::isfinite(v)) return false;
    out->push_back(v);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return !out->empty();
}

int write_linear(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* file = argv[0];
  const char* member = argv[1];
  std::vector<double> gammas, limits;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--gamma" || a == "--limit") && i + 1 < argc) {
      if (!parse_list(argv[++i], a == "--gamma" ? &gammas : &limits)) {
        std::fprintf(stderr, "klvrip calib: bad number list \"%s\"\n", argv[i]);
        return 2;
      }
    } else {
      std::fprintf(stderr, "klvrip calib: unknown option \"%s\"\n", argv[i]);
      return 2;
    }
  }
  if (gammas.empty() || gammas.size() > 255 ||
      (!limits.empty() && limits.size() != 1 && limits.size() != gammas.size())) {
    std::fprintf(stderr, "klvrip calib: give one gamma per channel and one limit or one each\n");
    return 2;
  }
  for (double g : gammas)
    if (!(g > 0)) {
      std::fprintf(stderr, "klvrip calib: a gamma must be greater than 0\n");
      return 2;
    }
  for (double l : limits)
    if (!(l >= 0 && l <= 1)) {
      std::fprintf(stderr, "klvrip calib: a limit is a fraction from 0 to 1\n");
      return 2;
    }
  const int count = int(gammas.size());
  uint16_t** tables = alloc_lntb(count);
  if (!tables) return 1;
  for (int c = 0; c < count; ++c) {
    const double limit = limits.empty() ? 1.0 : limits[limits.size() == 1 ? 0 : c];
    for (int i = 0; i < 256; ++i)
      tables[c][i] = uint16_t(std::lround(65535.0 * limit * std::pow(i / 255.0, gammas[c])));
  }
  int rc = 1;
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_CREATE);
  if (!v) {
    std::fprintf(stderr, "klvrip calib: cannot open volume \"%s\" for writing\n", file);
  } else {
    // Written under a temporary name and renamed over the member when complete.
    const std::string temp = std::string(member) + ".klvtmp";
    SFilemux* s = Ovfopen(v, temp.c_str(), "wb");
    bool ok = s && write_lntb(s, tables, count);
    if (s && Oclose(s) != 0) ok = false;
    if (ok) {
      if (Ofileexists(v, member, 0)) VRemove(v, member);
      ok = VRename(v, temp.c_str(), member);
    }
    if (!ok) {
      VRemove(v, temp.c_str());
      std::fprintf(stderr, "klvrip calib: cannot write \"%s\" in \"%s\"\n", member, file);
    }
    if (VClose(v) != 0) ok = false;
    rc = ok ? 0 : 1;
  }
  free_lntb(tables, count);
  return rc;
}

}  // namespace

int calib_command(int argc, char** argv) {
  if (argc < 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!std::strcmp(argv[0], "--help") || !std::strcmp(argv[0], "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!std::strcmp(argv[0], "linear")) return write_linear(argc - 1, argv + 1);

  const char* printer = argv[0];
  const char* member = nullptr;
  const char* plot_file = nullptr;
  const char* base = "Linear";
  const char* find[3] = {nullptr, nullptr, nullptr};
  bool all = false, finding = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--all") {
      all = true;
    } else if (a == "--plot" && i + 1 < argc) {
      plot_file = argv[++i];
    } else if (a == "--base" && i + 1 < argc) {
      base = argv[++i];
    } else if (a == "--find" && i + 3 < argc) {
      finding = true;
      for (int k = 0; k < 3; ++k) find[k] = argv[++i];
    } else if (a.rfind("--", 0) != 0 && !member) {
      member = argv[i];
    } else {
      std::fprintf(stderr, "klvrip calib: unknown or incomplete option \"%s\"\n", argv[i]);
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (plot_file && !member && !finding) {
    std::fprintf(stderr, "klvrip calib: --plot needs a MEMBER to plot\n");
    return 2;
  }
  std::string path;
  VolumePtr v = open_volume(printer, KLV_VOL_READ, &path);
  if (!v) {
    std::fprintf(stderr, "klvrip calib: no calibration volume for \"%s\"%s%s\n", printer,
                 path.empty() ? "" : " at ", path.c_str());
    return 1;
  }
  if (finding) {
    char out[KLV_CALB_NAME_MAX];
    if (!find_calb_vfile(v.get(), base, find[0], find[1], find[2], out)) {
      std::fprintf(stderr, "klvrip calib: no calibration file for %s / %s / %s in \"%s\"\n",
                   find[0], find[1], find[2], path.c_str());
      return 1;
    }
    std::printf("%s\n", out);
    if (!member && !plot_file) return 0;
    return show(v.get(), out, all, plot_file);
  }
  return member ? show(v.get(), member, all, plot_file) : list(v.get(), path);
}

}  // namespace klvrip
