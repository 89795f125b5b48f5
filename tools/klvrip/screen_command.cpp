// SPDX-License-Identifier: MIT
// klvrip screen: opens any image the library reads, brings it to the asked
// size, resolution and separations through the line filter, screens it
// through the halftone filter and writes the dots as a TIFF or an output image.
//
// The stages: the arguments (screen_options.cpp), the page (sizes and the
// description the engines read), the input, the screening stack (placement,
// dot file, halftone filter), the lines, and finishing the files: the dot
// file and the preview are written under temporary names and renamed only
// when every write and close went well.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "color_stream.h"
#include "commands.h"
#include "dot_preview.h"
#include "klv/halftone_lend.h"
#include "klv/htplace.h"
#include "klv/imgmux.h"
#include "klv/outimg.h"
#include "output_file.h"
#include "read_ahead.h"
#include "screen_options.h"
#include "klv/kernel_util.h"
#include "klv/ocfimg.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "screen";
// Lines per write: every write is one hand-over to the engines.
constexpr int kChunk = 64;

struct ImgCloser {
  void operator()(IMG_file* img) const { img_close(img); }
};
using ImgPtr = std::unique_ptr<IMG_file, ImgCloser>;

// The page being made: its size and resolution and the description of the
// continuous-tone lines the engines read.
struct Page {
  int width = 0, height = 0;
  double xres = 0, yres = 0;
  uint32_t seps = 1;
  image_info source{};  // the input's description
  image_info target{};
  klv::ColorModel model = klv::ColorModel::kRgb;  // of the input
  std::vector<uint8_t> profile;                   // the input's embedded profile
  int32_t type = 0;  // the input's image type: recognised, or an OCF reference
};

bool ends_with(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  return Ostrnicmp(s.c_str() + s.size() - n, tail, n) == 0;
}

// Dots go to a TIFF when the target's name says so, else to an output image.
bool is_tiff(const char* path) {
  return ends_with(path, ".tif") || ends_with(path, ".tiff");
}

void progress(int done, int total, bool tty) {
  if (!tty || total <= 0) return;
  const int w = 40, fill = int(int64_t(done) * w / total);
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%", fill, "########################################",
               w - fill, "", int(int64_t(done) * 100 / total));
  if (done == total) std::fputc('\n', stderr);
}

// The lines the engines read: the page's size and resolution, 8 bits,
// pixel-interleaved; ink amounts from a colour conversion (light values
// when its output is gray). Without one (CMYK input as it is) CMYK already
// as ink or light values keeps its photometric: the engines read both, and
// the lines then come from the reader unconverted.
image_info target_of(const image_info& src, const Page& page, const klv::ColorConversion* conv) {
  image_info t = src;
  t.width = page.width;
  t.height = page.height;
  t.samples = page.seps;
  t.spot_samples = 0;
  t.mask_samples = 0;
  t.bits_per_sample = 8;
  const bool keep_photo = src.bits_per_sample == 8 && src.spot_samples == 0 &&
                          src.mask_samples == 0 && src.samples == page.seps &&
                          src.photometric <= KLV_PHOTO_MINBLACK;
  if (conv)
    t.photometric =
        conv->OutputModel() == klv::ColorModel::kCmyk ? KLV_PHOTO_MINWHITE : KLV_PHOTO_MINBLACK;
  else
    t.photometric = keep_photo ? src.photometric : uint32_t(KLV_PHOTO_MINBLACK);
  t.hifi_mode = 0;
  t.planar = KLV_PLANAR_PIXEL;
  t.xres = page.xres;
  t.yres = page.yres;
  t.width_inches = page.width / page.xres;
  t.height_inches = page.height / page.yres;
  t.cmap = nullptr;
  t.profile_word = nullptr;
  t.bytes_per_line = image_info_line_bytes(&t);
  return t;
}

// Reads the input's description and works out the page.
Exit plan_page(const ScreenArgs& a, Page* page) {
  image_info src;
  init_image_info(&src);
  page->type = ocfimg_check(nullptr, a.in) ? KLV_TYPE_OCF : 0;
  IMG_file* probe = img_mux_open(a.in, nullptr, "r", &src, page->type);
  if (!probe) return report(Exit::kFailure, kCommand, "cannot read image \"%s\"", a.in);
  page->profile = embedded_profile(probe);
  img_close(probe);
  if (!color_model_of(src, &page->model))
    return report(Exit::kFailure, kCommand, "\"%s\": %u colour samples cannot be screened", a.in,
                  src.samples - src.spot_samples);
  page->xres = a.xres > 0 ? a.xres : (src.xres > 0 ? src.xres : 72);
  page->yres = a.xres > 0 ? a.yres : page->xres;
  const double sx = src.xres > 0 ? page->xres / src.xres : 1;
  const double sy = src.yres > 0 ? page->yres / src.yres : 1;
  page->width = a.width ? a.width : int(src.width * sx + 0.5);
  page->height = a.height ? a.height : int(src.height * sy + 0.5);
  if (page->width < 1 || page->height < 1)
    return report(Exit::kFailure, kCommand, "\"%s\" makes an empty page", a.in);
  if (a.lpi > 0 && !screen_ruling_ok(a.lpi, a.angle, page->xres, page->yres))
    return report(Exit::kUsage, kCommand,
                  "--lpi %g --angle %g: the ruling must be %g to %g lpi at %gx%g dpi and the "
                  "angle within 360 degrees",
                  a.lpi, a.angle, kMinLpi, std::min(page->xres, page->yres) / 2, page->xres,
                  page->yres);
  page->source = src;
  return Exit::kOk;
}

// Whether any colour option was given.
bool colour_asked(const ColorArgs& c) {
  return c.input_profile || c.output_profile || c.printer || c.calibration;
}

// The colour conversion of the input to the printer's inks: RGB and L*a*b*
// always; gray when a colour option is given (else it is screened as one
// black separation, as a gray page prints); CMYK only through a calibration.
// Null: no conversion. Fixes the separations and the engines' lines. False
// after a message.
bool plan_colours(const ScreenArgs& a, Page* page, std::unique_ptr<klv::ColorConversion>* conv) {
  const bool cmyk = page->model == klv::ColorModel::kCmyk;
  const bool gray = page->model == klv::ColorModel::kGray;
  const bool convert = cmyk ? a.color.calibration != nullptr : !gray || colour_asked(a.color);
  if (convert) {
    *conv = open_conversion(kCommand, a.color, page->model, page->profile, cmyk);
    if (!*conv) return false;
    const klv::ColorModel out = (*conv)->OutputModel();
    if (out != klv::ColorModel::kCmyk && out != klv::ColorModel::kGray) {
      report(Exit::kFailure, kCommand,
             "the output profile gives %u light channels; screening needs inks or gray",
             (*conv)->OutputChannels());
      return false;
    }
    page->seps = (*conv)->OutputChannels();
  } else {
    page->seps = gray ? 1 : 4;
  }
  page->target = target_of(page->source, *page, conv->get());
  return true;
}

// The lines the engines read: the filter brings the input to the page's
// size, in its own colour model when a conversion follows.
IMG_file* open_input(const ScreenArgs& a, Page& page, std::unique_ptr<klv::ColorConversion> conv) {
  image_info info;
  init_image_info(&info);
  filter_info opts{};
  opts.stretch = 1;
  if (!conv) return filter_file_open(a.in, nullptr, "r", &info, page.type, &page.target, &opts);
  image_info lines = lines_of(page.target, page.model, 8);
  IMG_file* below = filter_file_open(a.in, nullptr, "r", &info, page.type, &lines, &opts);
  if (!below) return nullptr;
  return color_stream_open(below, std::move(conv), page.target);
}

// The placement of the asked method, its screens from --lpi/--angle when
// given. Null after a message.
HTPLACE* make_placement(const ScreenArgs& a, const Page& page) {
  // A ruling asked for becomes a screen setup with one entry per colour.
  std::unique_ptr<_SCREENSETUP, int32_t (*)(_SCREENSETUP*)> setup(
      a.lpi > 0 ? screen_setup_of(a.lpi, a.angle) : nullptr, free_screen_settings);
  std::unique_ptr<SSTRAL, void (*)(SSTRAL*)> colours(
      a.lpi > 0 ? screen_colours_of(int(page.seps)) : nullptr, stral_free);
  if (a.lpi > 0 && (!setup || !colours)) {
    report(Exit::kFailure, kCommand, "out of memory");
    return nullptr;
  }
  HTPLACE* place = HTPlaceAlloc(4, page.xres, page.yres, 0, 0, 0, uint32_t(a.method), setup.get(),
                                colours.get(), nullptr, nullptr, 0);
  if (!place) {
    report(Exit::kFailure, kCommand, "method %d cannot be set up", a.method);
    return nullptr;
  }
  HTPlaceSetDetachDelete(place, 1);
  // Several threads: every separation is screened on an engine thread of its
  // own, so that this thread only reads, hands lines over and packs dots and
  // never holds the engines up by screening a separation itself (the input
  // is read on yet another thread).
  if (a.threads > 1)
    for (uint32_t s = 0; s < page.seps; ++s) HTPlaceGetThreadFlagArray(place)[s] = 1;
  return place;
}

// The dot file at `path` under the halftone filter. Null after a message.
IMG_file* open_screening(const ScreenArgs& a, Page& page, const std::string& path) {
  HTPLACE* place = make_placement(a, page);
  if (!place) return nullptr;
  image_info out = page.target;
  out.bits_per_sample = uint32_t(a.bits);
  out.photometric = KLV_PHOTO_MINWHITE;
  out.compression = 0;
  out.bytes_per_line = image_info_line_bytes(&out);
  IMG_file* dots = is_tiff(a.out) ? img_mux_open(path.c_str(), nullptr, "w", &out, KLV_TYPE_TIFF)
                                  : outimg_open_img(path.c_str(), nullptr, "w", &out);
  if (!dots) {
    HTPlaceFree(place);
    report(Exit::kFailure, kCommand, "cannot create \"%s\"", a.out);
    return nullptr;
  }
  // The filter buffers exactly the lines of one write, so that every write is
  // one hand-over to the engines and one flush of whole buffers. On failure
  // it closes the dots and deletes the placement.
  IMG_file* ht = HTPlace_AttachImg(place, dots, &page.target, kChunk, 0);
  if (!ht) report(Exit::kFailure, kCommand, "the screening of \"%s\" cannot start", a.out);
  return ht;
}

// Moves the lines of `in` into the room the filter lends (with engines on
// threads): lines the input lends are copied there once, the others are read
// (and converted) straight into it, so no buffer of this thread's own sits
// between the input and the engines. Starts with `first` lines lent at
// `room`; returns the lines done. Stops early on Ctrl-C.
int screen_into_filter(IMG_file* in, IMG_file* ht, const Page& page, uint8_t* room, int first) {
  const int height = page.height;
  const size_t bpl = page.target.bytes_per_line;
  const bool tty = isatty(2);
  int done = 0;
  for (int n = first; n > 0 && !interrupted();) {
    const uint8_t* lines = nullptr;
    int got = img_lend_lines(in, &lines, n);
    if (got > 0)
      std::memcpy(room, lines, size_t(got) * bpl);
    else if (got == 0)
      got = img_read_line(in, room, n) == n ? n : -1;
    if (got < 0 || HTPlace_CommitLines(ht, got) != got) break;
    done += got;
    if (done % (kChunk * 16) == 0 || done == height) progress(done, height, tty);
    n = done < height ? HTPlace_LendLines(ht, &room, std::min(kChunk, height - done)) : 0;
  }
  return done;
}

// Moves every line of `in` into `ht`; returns the lines done. A filter that
// lends room for its input takes the lines there. Otherwise an input that
// can lend its lines in place (an uncompressed file) goes to the engines
// without a copy, and other lines are read into buffers: with several
// threads on a thread of its own, so that reading the next lines overlaps
// screening the ones before. Stops early on Ctrl-C.
int screen_lines(IMG_file* in, IMG_file* ht, const Page& page, int threads) {
  const int height = page.height;
  const bool tty = isatty(2);
  uint8_t* room = nullptr;
  if (const int lent = HTPlace_LendLines(ht, &room, std::min(kChunk, height)); lent != 0)
    return lent < 0 ? 0 : screen_into_filter(in, ht, page, room, lent);
  int done = 0;
  const uint8_t* lines = nullptr;
  int n = img_lend_lines(in, &lines, kChunk);
  if (n == 0 && threads > 1) {
    ReadAhead ahead(in, height, kChunk);
    for (; !interrupted() && (n = ahead.Next(&lines)) > 0; done += n) {
      if (img_write_line(ht, const_cast<uint8_t*>(lines), n) != n) break;
      if ((done + n) % (kChunk * 16) == 0 || done + n == height) progress(done + n, height, tty);
    }
    return done;
  }
  std::vector<uint8_t> buffer;
  while (done < height && !interrupted()) {
    const int want = std::min(kChunk, height - done);
    if (n == 0) {
      // This stretch cannot be lent: read it.
      buffer.resize(size_t(page.target.bytes_per_line) * size_t(kChunk));
      n = img_read_line(in, buffer.data(), want) == want ? want : -1;
      lines = buffer.data();
    }
    if (n < 0 || img_write_line(ht, const_cast<uint8_t*>(lines), n) != n) break;
    done += n;
    if (done % (kChunk * 16) == 0 || done == height) progress(done, height, tty);
    n = done < height ? img_lend_lines(in, &lines, std::min(kChunk, height - done)) : 0;
  }
  return done;
}

// Closes the screening (which writes the last lines and closes the dot
// file), writes the preview and keeps both files only when all went well.
Exit finish_files(const ScreenArgs& a, IMG_file* ht, bool lines_ok, OutputFile& dots,
                  OutputFile* preview, const klv::ColorConversion* proof) {
  const bool status_ok = img_status(ht, 0) == 1;
  const bool closed_ok = img_close_status(ht) == 0;
  if (interrupted()) return report(Exit::kFailure, kCommand, "interrupted; no file was left");
  if (!lines_ok || !status_ok || !closed_ok)
    return report(Exit::kFailure, kCommand, "writing \"%s\" failed%s; no file was left", a.out,
                  closed_ok ? "" : ": written data was lost (is the disk full?)");
  const int type = is_tiff(a.out) ? KLV_TYPE_TIFF : KLV_TYPE_OUTIMG;
  if (preview && !write_dot_preview(dots.Temp().c_str(), type, a.out, preview->Temp().c_str(),
                                    a.preview, 1600, proof))
    return report(Exit::kFailure, kCommand, "no preview; no file was left");
  if (!dots.Commit())
    return report(Exit::kFailure, kCommand, "cannot write \"%s\": %s", a.out, dots.Error().c_str());
  if (preview && !preview->Commit())
    return report(Exit::kFailure, kCommand, "cannot write \"%s\": %s", a.preview,
                  preview->Error().c_str());
  return Exit::kOk;
}

// How the printer's profile says its inks print, for the preview: the CMYK
// the input was separated into, through the same profile, to sRGB (relative
// colorimetric, so the paper shows white). Null without a profile conversion.
std::unique_ptr<klv::ColorConversion> open_proof(const klv::ColorConversion* conv) {
  if (!conv || conv->OutputModel() != klv::ColorModel::kCmyk || conv->OutputProfile().empty())
    return nullptr;
  klv::ColorConversionSetup setup;
  setup.input = klv::ColorModel::kCmyk;
  setup.embedded = conv->OutputProfile();
  setup.output_profile = "klv_srgb.icc";
  setup.intent = 1;
  std::string error;
  auto proof = klv::ColorConversion::Open(setup, &error);
  if (!proof) std::fprintf(stderr, "klvrip: the preview shows ideal inks: %s\n", error.c_str());
  return proof;
}

Exit screen(const ScreenArgs& a) {
  ColorServiceStop stop;  // after the input stream and its conversion are gone
  Page page;
  if (Exit e = plan_page(a, &page); e != Exit::kOk) return e;
  std::unique_ptr<klv::ColorConversion> conv;
  if (!plan_colours(a, &page, &conv)) return Exit::kFailure;
  OutputFile dots(a.out);
  if (dots.Failed())
    return report(Exit::kFailure, kCommand, "cannot create \"%s\": %s", a.out,
                  dots.Error().c_str());
  std::unique_ptr<OutputFile> preview;
  if (a.preview) {
    preview = std::make_unique<OutputFile>(a.preview);
    if (preview->Failed())
      return report(Exit::kFailure, kCommand, "cannot create \"%s\": %s", a.preview,
                    preview->Error().c_str());
  }
  const auto proof = a.preview ? open_proof(conv.get()) : nullptr;
  ImgPtr in(open_input(a, page, std::move(conv)));
  if (!in) return report(Exit::kFailure, kCommand, "cannot convert \"%s\"", a.in);
  IMG_file* ht = open_screening(a, page, dots.Temp());
  if (!ht) return Exit::kFailure;
  const int done = screen_lines(in.get(), ht, page, a.threads);
  if (done < page.height && !interrupted())
    report(Exit::kFailure, kCommand, "screening stopped after %d of %d lines", done, page.height);
  const Exit e = finish_files(a, ht, done == page.height, dots, preview.get(), proof.get());
  if (e != Exit::kOk) return e;
  std::printf("%s: %dx%d at %gx%g dpi, %u separation%s of %d bit%s\n", a.out, page.width,
              page.height, page.xres, page.yres, page.seps, page.seps > 1 ? "s" : "", a.bits,
              a.bits > 1 ? "s" : "");
  if (a.preview) std::printf("%s: preview of the printed dots\n", a.preview);
  return Exit::kOk;
}

}  // namespace

int screen_command(int argc, char** argv) {
  ScreenArgs args;
  if (const int code = exit_unless_run(parse_screen_args(argc, argv, &args)); code >= 0)
    return code;
  poll_interrupts(true);
  const Exit e = screen(args);
  poll_interrupts(false);
  return exit_code(e);
}

}  // namespace klvrip
