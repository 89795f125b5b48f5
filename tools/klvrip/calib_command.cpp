// SPDX-License-Identifier: MIT
// klvrip calib: look at a printer's calibration volume (list its files, show
// one as a table, plot its curves, run the calibration file search) and write
// linearization tables made from a curve.
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/calib.h"
#include "klv/kernel.h"
#include "output_file.h"
#include "png_file.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "calib";
constexpr const char* kLinear = "calib linear";  // its messages and help

const CommandHelp kCalibHelp = {
    kCommand,
    "calib PRINTER [MEMBER] [--all] [--plot FILE.png]\n"
    "       klvrip calib PRINTER --find MEDIA THIRD PATTERN [--base NAME]\n"
    "       klvrip calib linear VOLUME MEMBER --gamma G[,G...] [--limit L[,L...]]",
    "PRINTER is a printer name or the path of a .Calibrate volume. Without MEMBER\n"
    "the calibration files are listed; with MEMBER one is shown as a table (every\n"
    "16th entry, all 256 with --all) and --plot draws its curves: one line per\n"
    "ink, input 0-100 % across, output 0-100 % up, the grey diagonal for no\n"
    "change. --find runs the calibration file search (base name \"Linear\" unless\n"
    "--base is given).\n"
    "\n"
    "`klvrip calib linear --help` describes the writing of linearization tables.\n",
    1, 2};

const CommandHelp kLinearHelp = {
    kLinear, "calib linear VOLUME MEMBER --gamma G[,G...] [--limit L[,L...]]",
    "linear writes an LNTB member of one channel per gamma: entry i is\n"
    "round(65535 * limit * (i / 255) ^ gamma), the limit 1.0 unless given.\n",
    2, 2};

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

Exit list(SOVolume* v, const std::string& path) {
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
  return Exit::kOk;
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

// Writes the plot under a temporary name beside `out` and renames it over
// `out` when complete; a failure leaves no file behind.
bool write_plot(const Image& img, const std::string& out) {
  OutputFile file(out);
  if (file.Failed()) {
    report(Exit::kFailure, kCommand, "cannot create \"%s\": %s", out.c_str(), file.Error().c_str());
    return false;
  }
  if (!write_png(file.Temp().c_str(), img.w, img.h, img.rgb)) {
    report(Exit::kFailure, kCommand, "cannot write \"%s\"", out.c_str());
    return false;
  }
  if (!file.Commit()) {
    report(Exit::kFailure, kCommand, "cannot write \"%s\": %s", out.c_str(), file.Error().c_str());
    return false;
  }
  return true;
}

constexpr int kSize = 512, kMargin = 40, kKey = 60;
double plot_x(double f) {
  return kMargin + f * kSize;
}
double plot_y(double f) {
  return kMargin + (1 - f) * kSize;
}

// The frame of the plot: a grid every 10 %, the axes with their ticks and
// labels, and the diagonal of "no change" dashed in grey.
void draw_axes(Image& img) {
  const uint8_t grid[3] = {225, 225, 225}, axis[3] = {90, 90, 90}, diag[3] = {160, 160, 160};
  const auto px = plot_x;
  const auto py = plot_y;
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
}

// Draws the curves: input 0-100 % across, output 0-100 % up, one line per
// ink, and a key of ink colour swatches down the right-hand side.
bool plot(const Curves& curves, const std::string& out) {
  Image img{kSize + 2 * kMargin + kKey, kSize + 2 * kMargin, {}};
  img.rgb.assign(size_t(img.w) * img.h * 3, 255);
  draw_axes(img);
  const auto px = plot_x;
  const auto py = plot_y;
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
  return write_plot(img, out);
}

// ---- Showing one member -----------------------------------------------------

bool tables_of(uint16_t* const* tables, int count, Curves* curves) {
  for (int c = 0; c < count; ++c) curves->channels.emplace_back(tables[c], tables[c] + 256);
  return count > 0;
}

// An HMTB table: its channels' ranges (it has no curves).
Exit show_hmtb(SOVolume* v, const char* member) {
  HMTB* r = load_hmtb(v, member);
  if (!r) return report(Exit::kFailure, kCommand, "\"%s\" is not a readable HMTB table", member);
  std::printf("%s: HMTB, %d channels of 3 planes of 256 x 256 entries\n", member, r->count);
  for (int c = 0; c < r->count; ++c) {
    const uint16_t* p = r->table + size_t(c) * KLV_HMTB_ENTRIES;
    auto [lo, hi] = std::minmax_element(p, p + KLV_HMTB_ENTRIES);
    std::printf("  channel %d: entries %u..%u\n", c, *lo, *hi);
  }
  free_hmtb_tbl(r);
  return Exit::kOk;
}

// An SCTB limit record, value by value.
Exit show_sctb(SOVolume* v, const char* member) {
  SCTB* r = load_sctb(v, member);
  if (!r) return report(Exit::kFailure, kCommand, "\"%s\" is not a readable SCTB line", member);
  std::printf(
      "%s: limit record\n  scale %g, integers %d %d\n  triples %g %g %g / %g %g %g (minima %g "
      "%g)\n  single %g, value 11 %g, value 12 %d, value 13 %g\n",
      member, r->scale, r->first, r->second, r->triple1[0], r->triple1[1], r->triple1[2],
      r->triple2[0], r->triple2[1], r->triple2[2], r->min1, r->min2, r->single, r->value11,
      r->value12, r->value13);
  free_sctb(r);
  return Exit::kOk;
}

// Any other member, copied to standard output as it is.
void show_raw(SOVolume* v, const char* member) {
  SFilemux* s = Ovfopen(v, member, "rb");
  char buf[4096];
  size_t n;
  while (s && (n = Oread(s, buf, sizeof buf)) > 0) std::fwrite(buf, 1, n, stdout);
  Oclose(s);
}

// Reads the curves of a member of `kind` that has them (LNTB, DNTB, GBTB,
// SDTB) and prints its heading; false when it has none or cannot be read.
bool load_curves(SOVolume* v, const char* member, const std::string& kind, Curves* curves) {
  if (kind == "LNTB" || kind == "DNTB") {
    LNTB* r = load_lntb(v, member, 16);
    if (r) {
      std::printf("%s: linearization (%s), %d channels\n", member, kind.c_str(), r->count);
      tables_of(r->tables, r->count, curves);
    }
    free_linear_tbl(r);
  } else if (kind == "GBTB") {
    GBTB* r = load_gbtb(v, member);
    if (r) {
      std::printf("%s: grey balance, %d channels\n", member, r->count);
      tables_of(r->tables, r->count, curves);
    }
    free_grey_tbl(r, 1);
  } else if (kind == "SDTB") {
    // The identity tables scaled by the line: the curves of the percentages.
    LNTB* r = scale_lntb(nullptr, v, member, 16);
    if (r) {
      std::printf("%s: per-channel percentages applied to an identity table\n", member);
      tables_of(r->tables, r->count, curves);
    }
    free_linear_tbl(r);
  }
  return !curves->channels.empty();
}

Exit show(SOVolume* v, const char* member, bool all, const char* plot_file) {
  if (!Ofileexists(v, member, 0))
    return report(Exit::kFailure, kCommand, "no calibration file \"%s\"", member);
  const std::string kind = kind_of(v, member);
  if (kind == "SCTB") return show_sctb(v, member);
  const bool has_curves = kind == "LNTB" || kind == "DNTB" || kind == "GBTB" || kind == "SDTB";
  if (!has_curves) {
    if (kind == "HMTB") {
      const Exit shown = show_hmtb(v, member);
      if (shown != Exit::kOk) return shown;
    } else {
      show_raw(v, member);
    }
    if (!plot_file) return Exit::kOk;
    return kind == "HMTB"
               ? report(Exit::kFailure, kCommand, "an HMTB table has no curves to plot")
               : report(Exit::kFailure, kCommand, "\"%s\" has no curves to plot", member);
  }
  Curves curves;
  if (!load_curves(v, member, kind, &curves))
    return report(Exit::kFailure, kCommand, "\"%s\" is not a readable %s table", member,
                  kind.c_str());
  print_table(curves, all);
  if (plot_file && !plot(curves, plot_file)) return Exit::kFailure;
  return Exit::kOk;
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

// An option value that is a comma-separated list of numbers.
std::function<std::string(const char*)> take_list(std::vector<double>* target) {
  return [=](const char* v) -> std::string {
    target->clear();
    if (!parse_list(v, target)) return std::string("bad number list \"") + v + "\"";
    return "";
  };
}

// Checks the gammas and limits of `calib linear` against each other.
Exit check_curve(const std::vector<double>& gammas, const std::vector<double>& limits) {
  if (gammas.empty() || gammas.size() > 255 ||
      (!limits.empty() && limits.size() != 1 && limits.size() != gammas.size()))
    return report(Exit::kUsage, kLinear, "give one gamma per channel and one limit or one each");
  for (double g : gammas)
    if (!(g > 0)) return report(Exit::kUsage, kLinear, "a gamma must be greater than 0");
  for (double l : limits)
    if (!(l >= 0 && l <= 1))
      return report(Exit::kUsage, kLinear, "a limit is a fraction from 0 to 1");
  return Exit::kOk;
}

// Stores `count` tables as the LNTB member `member` of the volume `file`
// (made when missing): written under a temporary member name and renamed
// over the member when complete.
Exit store_lntb(const char* file, const char* member, uint16_t** tables, int count) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_CREATE);
  if (!v) return report(Exit::kFailure, kLinear, "cannot open volume \"%s\" for writing", file);
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
    report(Exit::kFailure, kLinear, "cannot write \"%s\" in \"%s\"", member, file);
  }
  if (VClose(v) != 0) ok = false;
  return ok ? Exit::kOk : Exit::kFailure;
}

Exit write_linear(int argc, char** argv) {
  std::vector<double> gammas, limits;
  const std::vector<Option> options = {
      {"--gamma", "G[,G...]", "one gamma per channel, each above 0", take_list(&gammas)},
      {"--limit", "L[,L...]", "the largest output, a fraction 0 to 1: one, or one per channel",
       take_list(&limits)},
  };
  std::vector<const char*> args;
  switch (parse_options(kLinearHelp, options, argc, argv, &args)) {
    case Parsed::kHelp:
      return Exit::kOk;
    case Parsed::kUsageError:
      return Exit::kUsage;
    case Parsed::kRun:
      break;
  }
  const Exit checked = check_curve(gammas, limits);
  if (checked != Exit::kOk) return checked;
  const int count = int(gammas.size());
  uint16_t** tables = alloc_lntb(count);
  if (!tables) return report(Exit::kFailure, kLinear, "out of memory");
  for (int c = 0; c < count; ++c) {
    const double limit = limits.empty() ? 1.0 : limits[limits.size() == 1 ? 0 : c];
    for (int i = 0; i < 256; ++i)
      tables[c][i] = uint16_t(std::lround(65535.0 * limit * std::pow(i / 255.0, gammas[c])));
  }
  const Exit stored = store_lntb(args[0], args[1], tables, count);
  free_lntb(tables, count);
  return stored;
}

// ---- Looking at a calibration volume ------------------------------------------

struct CalibArgs {
  const char* printer = nullptr;
  const char* member = nullptr;
  const char* plot_file = nullptr;
  const char* base = "Linear";
  const char* find[3] = {nullptr, nullptr, nullptr};
  bool all = false;
};

// "--find MEDIA THIRD PATTERN" takes three words, the option table one:
// THIRD and PATTERN are taken out of `words` here and MEDIA is left as the
// option's value.
void take_find_words(std::vector<char*>* words, CalibArgs* a) {
  for (size_t i = 0; i < words->size(); ++i) {
    const std::string w = (*words)[i];
    if (w == "--") return;
    const bool joined = w.rfind("--find=", 0) == 0;
    const size_t first = joined ? i + 1 : i + 2;  // where THIRD is
    if ((w != "--find" && !joined) || first + 1 >= words->size()) continue;
    a->find[1] = (*words)[first];
    a->find[2] = (*words)[first + 1];
    words->erase(words->begin() + first, words->begin() + first + 2);
  }
}

Parsed parse_calib(int argc, char** argv, CalibArgs* a) {
  std::vector<char*> words(argv, argv + argc);
  take_find_words(&words, a);
  const std::vector<Option> options = {
      {"--all", nullptr, "show all 256 entries of a table, not every 16th", take_flag(&a->all)},
      {"--plot", "FILE.png", "draw the member's curves into a PNG image", take_text(&a->plot_file)},
      {"--find", "MEDIA THIRD PATTERN", "run the calibration file search (and show what it finds)",
       [a](const char* v) -> std::string {
         if (!a->find[2]) return "wants MEDIA THIRD PATTERN";
         a->find[0] = v;
         return "";
       }},
      {"--base", "NAME", "the base name --find looks for (\"Linear\")", take_text(&a->base)},
  };
  std::vector<const char*> args;
  const Parsed parsed = parse_options(kCalibHelp, options, int(words.size()), words.data(), &args);
  if (parsed != Parsed::kRun) return parsed;
  a->printer = args[0];
  a->member = args.size() > 1 ? args[1] : nullptr;
  if (a->plot_file && !a->member && !a->find[0]) {
    report(Exit::kUsage, kCommand, "--plot needs a MEMBER to plot");
    return Parsed::kUsageError;
  }
  return Parsed::kRun;
}

Exit find_and_show(SOVolume* v, const std::string& path, const CalibArgs& a) {
  char out[KLV_CALB_NAME_MAX];
  if (!find_calb_vfile(v, a.base, a.find[0], a.find[1], a.find[2], out))
    return report(Exit::kFailure, kCommand, "no calibration file for %s / %s / %s in \"%s\"",
                  a.find[0], a.find[1], a.find[2], path.c_str());
  std::printf("%s\n", out);
  if (!a.member && !a.plot_file) return Exit::kOk;
  return show(v, out, a.all, a.plot_file);
}

Exit run_calib(int argc, char** argv) {
  if (argc > 0 && !std::strcmp(argv[0], "linear")) return write_linear(argc - 1, argv + 1);
  CalibArgs a;
  switch (parse_calib(argc, argv, &a)) {
    case Parsed::kHelp:
      return Exit::kOk;
    case Parsed::kUsageError:
      return Exit::kUsage;
    case Parsed::kRun:
      break;
  }
  std::string path;
  VolumePtr v = open_volume(a.printer, KLV_VOL_READ, &path);
  if (!v)
    return report(Exit::kFailure, kCommand, "no calibration volume for \"%s\"%s%s", a.printer,
                  path.empty() ? "" : " at ", path.c_str());
  if (a.find[0]) return find_and_show(v.get(), path, a);
  if (!a.member) return list(v.get(), path);
  return show(v.get(), a.member, a.all, a.plot_file);
}

}  // namespace

int calib_command(int argc, char** argv) {
  return exit_code(run_calib(argc, argv));
}

}  // namespace klvrip
