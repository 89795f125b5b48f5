// SPDX-License-Identifier: MIT
// klvrip screen: opens any image the library reads, brings it to the asked
// size, resolution and separations through the line filter, screens it
// through the halftone filter and writes the dots as a TIFF or an output image.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "dot_preview.h"
#include "read_ahead.h"
#include "klv/htplace.h"
#include "klv/imgmux.h"
#include "klv/outimg.h"
#include "screen_options.h"
#include "klv/kernel_util.h"

namespace klvrip {
namespace {

constexpr const char* kUsage =
    "usage: klvrip screen IN OUT [--method NAME|N] [--lpi L [--angle A]] [--res XxY]\n"
    "                     [--width W --height H] [--bits 1|2|4] [--threads N]\n"
    "                     [--preview FILE.png]\n"
    "  methods: screen (4, built-in screens), ordered (3), spot (6), line (8), fuzzy (9),\n"
    "           diffusion (0), varcoef (12), or a method number\n"
    "  --lpi L --angle A: screens generated at L lines per inch (2.5 up to half the lower\n"
    "           resolution) for the screened methods 3, 4, 6, 8, 9 and 10; black and gray\n"
    "           at A degrees (default 45), cyan at A-30, magenta at A+30, yellow at A-45\n"
    "  --threads N: N > 1 screens every separation but the last on a thread of its own\n"
    "           and reads the input on another\n"
    "  OUT ending in .tif or .tiff is written as TIFF, anything else as an output image\n"
    "  --preview writes a PNG of the dots as printed, reduced to at most 1600 pixels\n";

int method_of(const char* s) {
  struct {
    const char* name;
    int method;
  } names[] = {{"screen", 4}, {"ordered", 3},   {"spot", 6},    {"line", 8},
               {"fuzzy", 9},  {"diffusion", 0}, {"varcoef", 12}};
  for (auto& n : names)
    if (!std::strcmp(s, n.name)) return n.method;
  char* end;
  long v = std::strtol(s, &end, 10);
  return *s && !*end && v >= 0 && v < 1000 ? int(v) : -1;
}

bool ends_with(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  return Ostrnicmp(s.c_str() + s.size() - n, tail, n) == 0;
}

void progress(int done, int total, bool tty) {
  if (!tty || total <= 0) return;
  int w = 40, fill = int(int64_t(done) * w / total);
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%", fill, "########################################",
               w - fill, "", int(int64_t(done) * 100 / total));
  if (done == total) std::fputc('\n', stderr);
}

}  // namespace

int screen_command(int argc, char** argv) {
  std::vector<const char*> pos;
  int method = 4, bits = 1, threads = 1;
  double xres = 0, yres = 0;
  int width = 0, height = 0;
  const char* preview = nullptr;
  double lpi = 0, angle = 45;
  bool have_angle = false;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--method") {
      const char* v = value();
      method = v ? method_of(v) : -1;
      if (method < 0) return std::fprintf(stderr, "klvrip screen: bad --method\n%s", kUsage), 2;
    } else if (a == "--lpi" || a == "--angle") {
      const char* v = value();
      char* end = nullptr;
      const double d = v ? std::strtod(v, &end) : 0;
      if (!v || end == v || *end || !std::isfinite(d) || (a == "--lpi" && d <= 0))
        return std::fprintf(stderr, "klvrip screen: bad %s\n", a.c_str()), 2;
      if (a == "--lpi") {
        lpi = d;
      } else {
        angle = d;
        have_angle = true;
      }
    } else if (a == "--res") {
      const char* v = value();
      if (!v || std::sscanf(v, "%lfx%lf", &xres, &yres) != 2 || xres <= 0 || yres <= 0)
        return std::fprintf(stderr, "klvrip screen: --res wants XxY, e.g. 720x720\n"), 2;
    } else if (a == "--width" || a == "--height") {
      const char* v = value();
      int n = v ? std::atoi(v) : 0;
      if (n <= 0 || n > 1000000)
        return std::fprintf(stderr, "klvrip screen: bad %s\n", a.c_str()), 2;
      (a == "--width" ? width : height) = n;
    } else if (a == "--bits") {
      const char* v = value();
      bits = v ? std::atoi(v) : 0;
      if (bits != 1 && bits != 2 && bits != 4)
        return std::fprintf(stderr, "klvrip screen: --bits is 1, 2 or 4\n"), 2;
    } else if (a == "--preview") {
      preview = value();
      if (!preview) return std::fprintf(stderr, "klvrip screen: --preview wants a file name\n"), 2;
    } else if (a == "--threads") {
      const char* v = value();
      threads = v ? std::atoi(v) : 0;
      if (threads < 1) return std::fprintf(stderr, "klvrip screen: bad --threads\n"), 2;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "klvrip screen: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    } else {
      pos.push_back(argv[i]);
    }
  }
  if (pos.size() != 2) return std::fputs(kUsage, stderr), 2;
  const bool screened =
      method == 3 || method == 4 || method == 6 || method == 8 || method == 9 || method == 10;
  if (have_angle && lpi <= 0)
    return std::fprintf(stderr, "klvrip screen: --angle needs --lpi\n"), 2;
  if (lpi > 0 && !screened)
    return std::fprintf(stderr,
                        "klvrip screen: --lpi applies to the screened methods 3, 4, 6, 8, 9 "
                        "and 10, not to method %d\n",
                        method),
           2;

  image_info src;
  init_image_info(&src);
  IMG_file* probe = img_mux_open(pos[0], nullptr, "r", &src, 0);
  if (!probe) return std::fprintf(stderr, "klvrip screen: cannot read image \"%s\"\n", pos[0]), 1;
  img_close(probe);
  if (xres <= 0) xres = yres = src.xres > 0 ? src.xres : 72;
  const double sx = src.xres > 0 ? xres / src.xres : 1, sy = src.yres > 0 ? yres / src.yres : 1;
  if (!width) width = int(src.width * sx + 0.5);
  if (!height) height = int(src.height * sy + 0.5);
  if (width < 1 || height < 1) return std::fprintf(stderr, "klvrip screen: empty page\n"), 1;
  if (lpi > 0 && !screen_ruling_ok(lpi, angle, xres, yres))
    return std::fprintf(stderr,
                        "klvrip screen: --lpi %g --angle %g: the ruling must be %g to %g lpi at "
                        "%gx%g dpi and the angle within 360 degrees\n",
                        lpi, angle, kMinLpi, std::min(xres, yres) / 2, xres, yres),
           2;

  // Gray stays gray; everything else becomes CMYK, as inverted (light) values
  // unless it already is CMYK.
  const uint32_t process = src.samples - src.spot_samples;
  const uint32_t seps = process == 1 ? 1 : 4;
  image_info target = src;
  target.width = width;
  target.height = height;
  target.samples = seps;
  target.spot_samples = 0;
  target.mask_samples = 0;
  target.bits_per_sample = 8;
  // Gray and CMYK already as ink or light values keep their photometric: the
  // engines read both, and the lines then come from the reader unconverted.
  const bool keep_photo = src.bits_per_sample == 8 && src.spot_samples == 0 &&
                          src.mask_samples == 0 && src.samples == seps &&
                          src.photometric <= KLV_PHOTO_MINBLACK;
  target.photometric = keep_photo ? src.photometric : uint32_t(KLV_PHOTO_MINBLACK);
  target.planar = KLV_PLANAR_PIXEL;
  target.xres = xres;
  target.yres = yres;
  target.width_inches = width / xres;
  target.height_inches = height / yres;
  target.cmap = nullptr;
  target.profile_word = nullptr;
  target.bytes_per_line = image_info_line_bytes(&target);
  filter_info opts{};
  opts.stretch = 1;
  image_info info;
  init_image_info(&info);
  IMG_file* in = filter_file_open(pos[0], nullptr, "r", &info, 0, &target, &opts);
  if (!in) return std::fprintf(stderr, "klvrip screen: cannot convert \"%s\"\n", pos[0]), 1;

  // A ruling asked for becomes a screen setup with one entry per colour.
  std::unique_ptr<_SCREENSETUP, int32_t (*)(_SCREENSETUP*)> setup(
      lpi > 0 ? screen_setup_of(lpi, angle) : nullptr, free_screen_settings);
  std::unique_ptr<SSTRAL, void (*)(SSTRAL*)> colours(
      lpi > 0 ? screen_colours_of(int(seps)) : nullptr, stral_free);
  if (lpi > 0 && (!setup || !colours)) {
    img_close(in);
    return std::fprintf(stderr, "klvrip screen: out of memory\n"), 1;
  }
  HTPLACE* place = HTPlaceAlloc(4, xres, yres, 0, 0, 0, uint32_t(method), setup.get(),
                                colours.get(), nullptr, nullptr, 0);
  if (!place) {
    img_close(in);
    return std::fprintf(stderr, "klvrip screen: method %d cannot be set up\n", method), 1;
  }
  HTPlaceSetDetachDelete(place, 1);
  // Several threads: every separation but the last is screened on an engine
  // thread of its own; the last on this thread, after the filter has started
  // the others (the input is read on yet another thread).
  if (threads > 1)
    for (uint32_t s = 0; s + 1 < seps; ++s) HTPlaceGetThreadFlagArray(place)[s] = 1;

  image_info out = target;
  out.bits_per_sample = uint32_t(bits);
  out.photometric = KLV_PHOTO_MINWHITE;
  out.compression = 0;
  out.bytes_per_line = image_info_line_bytes(&out);
  const bool tiff = ends_with(pos[1], ".tif") || ends_with(pos[1], ".tiff");
  IMG_file* dots = tiff ? img_mux_open(pos[1], nullptr, "w", &out, KLV_TYPE_TIFF)
                        : outimg_open_img(pos[1], nullptr, "w", &out);
  if (!dots) {
    HTPlaceFree(place);
    img_close(in);
    return std::fprintf(stderr, "klvrip screen: cannot create \"%s\"\n", pos[1]), 1;
  }
  // The filter buffers exactly the lines of one write, so that every write is
  // one hand-over to the engines and one flush of whole buffers.
  const int chunk = 64;
  IMG_file* ht = HTPlace_AttachImg(place, dots, &target, chunk, 0);
  if (!ht) {
    img_close(in);
    return std::fprintf(stderr, "klvrip screen: the screening cannot start\n"), 1;
  }
  const bool tty = isatty(2);
  int done = 0;
  bool ok = true;
  // An input that can lend its lines in place (an uncompressed file) goes to
  // the engines without a copy. Otherwise the lines are read into buffers:
  // with several threads on a thread of its own, so that reading the next
  // lines overlaps screening the ones before.
  const uint8_t* lines = nullptr;
  int n = img_lend_lines(in, &lines, chunk);
  if (n == 0 && threads > 1) {
    ReadAhead ahead(in, height, chunk);
    for (; (n = ahead.Next(&lines)) > 0; done += n) {
      if (img_write_line(ht, const_cast<uint8_t*>(lines), n) != n) break;
      if ((done + n) % (chunk * 16) == 0 || done + n == height) progress(done + n, height, tty);
    }
    ok = done == height;
  } else {
    std::vector<uint8_t> buffer;
    while (done < height) {
      const int want = std::min(chunk, height - done);
      if (n == 0) {
        // This stretch cannot be lent: read it.
        buffer.resize(size_t(target.bytes_per_line) * size_t(chunk));
        n = img_read_line(in, buffer.data(), want) == want ? want : -1;
        lines = buffer.data();
      }
      if (n < 0 || img_write_line(ht, const_cast<uint8_t*>(lines), n) != n) {
        ok = false;
        break;
      }
      done += n;
      if (done % (chunk * 16) == 0 || done == height) progress(done, height, tty);
      n = done < height ? img_lend_lines(in, &lines, std::min(chunk, height - done)) : 0;
    }
  }
  ok = ok && img_status(ht, 0) == 1;
  img_close(ht);
  img_close(in);
  if (!ok) {
    std::fprintf(stderr, "klvrip screen: screening stopped after %d of %d lines\n", done, height);
    return 1;
  }
  std::printf("%s: %dx%d at %gx%g dpi, %u separation%s of %d bit%s\n", pos[1], width, height, xres,
              yres, seps, seps > 1 ? "s" : "", bits, bits > 1 ? "s" : "");
  if (preview) {
    if (!write_dot_preview(pos[1], preview, 1600)) return 1;
    std::printf("%s: preview of the printed dots\n", preview);
  }
  return 0;
}

}  // namespace klvrip
