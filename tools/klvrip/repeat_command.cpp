// SPDX-License-Identifier: MIT
// klvrip repeat: fills a page with copies of a pattern image (step and
// repeat) and writes the page as a TIFF, line by line, so that the page is
// never held whole.
//
// The stages: the arguments (sizes with units, grid options), the settings
// (the pattern's own size unless given), the page stream, and the file,
// written under a temporary name and renamed only when complete.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/imgmux.h"
#include "klv/repeat.h"
#include "output_file.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "repeat";
constexpr int kChunk = 16;  // page lines per read and write

const CommandHelp kRepeatHelp = {
    "repeat", "repeat PATTERN OUT --page WxH [options]",
    "  Fills a page with copies of PATTERN and writes OUT as TIFF (8 bits per sample).\n"
    "  Sizes are inches unless they end in mm, cm or m (\"2mx3m\", \"24x36\").\n"
    "  --brick F steps every other row sideways by F of a copy (0.5: half brick);\n"
    "  --half-drop F steps every other column down by F of a copy.\n"
    "  OUT is written under a temporary name beside it and appears only when complete.\n",
    2, 2};

struct RepeatArgs {
  const char* pattern = nullptr;
  const char* out = nullptr;
  double page_w = 0, page_h = 0;
  double pat_w = 0, pat_h = 0;  // 0: the pattern's own size
  double gap_h = 0, gap_v = 0;
  double step = 0;
  bool vertical = false, stepped = false;
  bool mirror_cols = false, mirror_rows = false;
  bool smooth = false;
  double res = 0;
  double xoff = 0, yoff = 0;
  int gap_type = KLV_REPEAT_GAP_WHITE;
  std::vector<int> gap_samples;
};

// A length with an optional unit, in inches; NaN when it is not one.
double length(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(v)) return NAN;
  const std::string unit(end);
  if (unit.empty() || unit == "in") return v;
  if (unit == "mm") return v / 25.4;
  if (unit == "cm") return v / 2.54;
  if (unit == "m") return v / 0.0254;
  return NAN;
}

// "WxH" (or one length for both when `both` allows it).
std::function<std::string(const char*)> take_size(double* w, double* h, bool positive, bool both) {
  return [=](const char* v) -> std::string {
    const std::string s(v);
    const size_t x = s.find('x');
    if (x == std::string::npos && !both) return "must be WxH";
    const double a = length(s.substr(0, x));
    const double b = x == std::string::npos ? a : length(s.substr(x + 1));
    if (std::isnan(a) || std::isnan(b)) return std::string("\"") + v + "\" is not a size";
    if (positive && (a <= 0 || b <= 0)) return "must be above 0";
    if (std::fabs(a) > 1e5 || std::fabs(b) > 1e5) return "is out of range";
    *w = a;
    *h = b;
    return "";
  };
}

std::function<std::string(const char*)> take_step(RepeatArgs* a, bool vertical) {
  return [=](const char* v) -> std::string {
    if (a->stepped) return "--brick and --half-drop exclude each other";
    std::string fault = take_number(&a->step, -1, 1)(v);
    if (fault.empty()) a->stepped = true, a->vertical = vertical;
    return fault;
  };
}

std::string take_gap_colour(RepeatArgs* a, const char* v) {
  const std::string s(v);
  if (s == "white") return a->gap_type = KLV_REPEAT_GAP_WHITE, "";
  if (s == "first") return a->gap_type = KLV_REPEAT_GAP_FIRST_PIXEL, "";
  a->gap_samples.clear();
  for (size_t at = 0; at <= s.size();) {
    const size_t comma = std::min(s.find(',', at), s.size());
    char* end = nullptr;
    const std::string part = s.substr(at, comma - at);
    const long n = std::strtol(part.c_str(), &end, 10);
    if (part.empty() || *end || n < 0 || n > 255) return "must be white, first or R,G,B (0..255)";
    a->gap_samples.push_back(int(n));
    at = comma + 1;
  }
  if (a->gap_samples.size() > KLV_REPEAT_MAX_GAP_SAMPLES) return "has too many samples";
  a->gap_type = KLV_REPEAT_GAP_SAMPLES;
  return "";
}

std::vector<Option> options(RepeatArgs* a) {
  return {
      {"--page", "WxH", "the page size (required)", take_size(&a->page_w, &a->page_h, true, false)},
      {"--pattern", "WxH", "one copy's size on the page (default: the image's own size)",
       take_size(&a->pat_w, &a->pat_h, true, false)},
      {"--brick", "F", "step every other row sideways by F of a copy", take_step(a, false)},
      {"--half-drop", "F", "step every other column down by F of a copy", take_step(a, true)},
      {"--gap", "H[xV]", "space between copies (negative overlaps)",
       take_size(&a->gap_h, &a->gap_v, false, true)},
      {"--gap-color", "white|first|R,G,B", "colour of the gaps (default white)",
       [a](const char* v) { return take_gap_colour(a, v); }},
      {"--mirror", "rows|cols|both", "mirror every other row or column of copies",
       [a](const char* v) -> std::string {
         const std::string s(v);
         if (s != "rows" && s != "cols" && s != "both") return "must be rows, cols or both";
         a->mirror_rows = a->mirror_rows || s != "cols";
         a->mirror_cols = a->mirror_cols || s != "rows";
         return "";
       }},
      {"--offset", "XxY", "shift of the grid, fractions of a copy",
       take_size(&a->xoff, &a->yoff, false, false)},
      {"--res", "DPI", "largest resolution of the page", take_number(&a->res, 0, 1e5)},
      {"--smooth", nullptr, "smooth the scaling of the pattern", take_flag(&a->smooth)},
  };
}

Parsed parse(int argc, char** argv, RepeatArgs* a) {
  std::vector<const char*> files;
  const Parsed parsed = parse_options(kRepeatHelp, options(a), argc, argv, &files);
  if (parsed != Parsed::kRun) return parsed;
  a->pattern = files[0];
  a->out = files[1];
  if (a->page_w <= 0) {
    report(Exit::kUsage, kCommand, "--page WxH is required");
    return Parsed::kUsageError;
  }
  return Parsed::kRun;
}

// The pattern's own size in inches, from its description.
bool own_size(const char* path, double* w, double* h) {
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(path, nullptr, "r", &info, KLV_TYPE_RECOGNISE);
  if (!img) return false;
  img_close(img);
  const double xres = info.xres > 0 ? info.xres : 300, yres = info.yres > 0 ? info.yres : xres;
  *w = info.width / xres;
  *h = info.height / yres;
  return *w > 0 && *h > 0;
}

RepeatFilterInfo settings_of(const RepeatArgs& a) {
  RepeatFilterInfo s;
  InitRepeatFilterInfo(&s);
  s.PageWidth = a.page_w, s.PageHeight = a.page_h;
  s.PatternWidth = a.pat_w, s.PatternHeight = a.pat_h;
  s.StepAmount = a.step;
  s.StepVertical = a.vertical ? 1 : 0;
  s.GapHorizontal = a.gap_h, s.GapVertical = a.gap_v;
  s.FlipHorizontal = a.mirror_cols, s.FlipVertical = a.mirror_rows;
  s.Interpolate = a.smooth;
  s.XRes = s.YRes = a.res;
  s.XOffset = a.xoff, s.YOffset = a.yoff;
  s.GapType = a.gap_type;
  if (a.gap_type == KLV_REPEAT_GAP_SAMPLES) {
    s.GapSampleCount = s.GapTotalSamples = int32_t(a.gap_samples.size());
    for (size_t k = 0; k < a.gap_samples.size(); ++k) s.GapSamples[k] = a.gap_samples[k];
    s.GapPhotometric = KLV_PHOTO_MINBLACK;
    s.GapBitsPerSample = 8;
  }
  return s;
}

int copy_lines(IMG_file* in, IMG_file* out) {
  const image_info& i = in->info;
  std::vector<uint8_t> buffer(size_t(i.bytes_per_line) * kChunk);
  int done = 0;
  while (done < i.height && !interrupted()) {
    const int n = std::min(kChunk, i.height - done);
    if (img_read_line(in, buffer.data(), n) != n || img_write_line(out, buffer.data(), n) != n)
      break;
    done += n;
  }
  return done;
}

Exit repeat(RepeatArgs a) {
  if (a.pat_w <= 0 && !own_size(a.pattern, &a.pat_w, &a.pat_h))
    return report(Exit::kFailure, kCommand, "cannot read image \"%s\"", a.pattern);
  const RepeatFilterInfo s = settings_of(a);
  IMG_file* pattern = img_mux_open(a.pattern, nullptr, "r", nullptr, KLV_TYPE_RECOGNISE);
  if (!pattern) return report(Exit::kFailure, kCommand, "cannot read image \"%s\"", a.pattern);
  IMG_file* page = RPTFLTR_attach(pattern, &s);
  if (!page) return report(Exit::kFailure, kCommand, "cannot make the page (see the log)");
  image_info dest = page->info;
  OutputFile file(a.out);
  if (file.Failed()) {
    img_close(page);
    return report(Exit::kFailure, kCommand, "cannot create \"%s\": %s", a.out,
                  file.Error().c_str());
  }
  IMG_file* out = img_mux_open(file.Temp().c_str(), nullptr, "w", &dest, KLV_TYPE_TIFF);
  if (!out) {
    img_close(page);
    return report(Exit::kFailure, kCommand, "cannot create \"%s\"", a.out);
  }
  const int done = copy_lines(page, out);
  const int height = page->info.height, width = page->info.width;
  img_close(page);
  const bool closed = img_close_status(out) == 0;
  if (interrupted()) return report(Exit::kFailure, kCommand, "interrupted; no file was left");
  if (done < height || !closed)
    return report(Exit::kFailure, kCommand, "writing \"%s\" failed after %d of %d lines%s", a.out,
                  done, height, closed ? "" : " (is the disk full?)");
  if (!file.Commit())
    return report(Exit::kFailure, kCommand, "cannot write \"%s\": %s", a.out, file.Error().c_str());
  std::printf("%s: %dx%d at %.4g x %.4g pixels per inch\n", a.out, width, height, dest.xres,
              dest.yres);
  return Exit::kOk;
}

}  // namespace

int repeat_command(int argc, char** argv) {
  RepeatArgs args;
  if (const int code = exit_unless_run(parse(argc, argv, &args)); code >= 0) return code;
  poll_interrupts(true);
  const Exit e = repeat(args);
  poll_interrupts(false);
  return exit_code(e);
}

}  // namespace klvrip
