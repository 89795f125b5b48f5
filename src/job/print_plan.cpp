// SPDX-License-Identifier: MIT
// The plan of a frame's chain and its building. An image of the printer's
// dots goes to the frame as it is (laid out as lines, its pixels repeated
// when the frame asks); a contone image is brought to the screening's
// description by the line filter (depth, samples, palette, size at the
// mode's resolution), converted to the printer's inks through its profile
// and calibration, screened with the placement of the mode's dot pattern
// and then repeated. Written from the caller's side:
//   caller -> line filter -> colour -> halftone filter -> repeat -> frame
#include <cmath>
#include <cstdio>
#include <cstring>

#include "imgproc_internal.h"
#include "klv/filter.h"
#include "klv/layoutfilter.h"
#include "klv/log.h"
#include "klv/printmode.h"
#include "klv/printobj_cxx.h"
#include "print_chain.h"

namespace klv::printing {
namespace {

// Lines handed to the screening engines at a time.
constexpr int32_t kScreenLines = 64;

// "720x1440", "720 x 1440", "720" or "720x720@360": dots per inch.
bool parse_res(const char* text, double* x, double* y) {
  *x = *y = 0;
  if (!text || std::sscanf(text, " %lf x %lf", x, y) < 1) return false;
  if (*y <= 0) *y = *x;
  return *x > 0 && *y > 0 && *x < 1e5 && *y < 1e5;
}

// Whether the image holds the printer's dots: 1, 2 or 4 bits a sample, one
// sample per channel of the printer.
bool is_dots(const image_info& image, const SP_COLOR_SETUP& setup) {
  const uint32_t b = image.bits_per_sample;
  const bool layout = image.planar == KLV_PLANAR_PIXEL || image.planar == KLV_PLANAR_LINES;
  return (b == 1 || b == 2 || b == 4) && layout && image.samples == setup.channels &&
         setup.channels > 0;
}

// The whole factor by which `high` exceeds `low`, or 1.
int32_t whole_factor(double high, double low) {
  if (high <= 0 || low <= 0) return 1;
  const double f = high / low;
  const double r = std::round(f);
  return r >= 2 && std::fabs(f - r) < 1e-6 ? int32_t(r) : 1;
}

image_info lines_of(int32_t width, int32_t height, double xres, double yres, uint32_t bits,
                    uint32_t samples, uint32_t spots, uint32_t planar, uint32_t photometric) {
  image_info t;
  init_image_info(&t);
  t.width = width;
  t.height = height;
  t.xres = xres;
  t.yres = yres;
  t.bits_per_sample = bits;
  t.samples = samples;
  t.spot_samples = spots;
  t.planar = planar;
  t.photometric = photometric;
  t.width_inches = xres > 0 ? width / xres : 0;
  t.height_inches = yres > 0 ? height / yres : 0;
  t.bytes_per_line = image_info_line_bytes(&t);
  return t;
}

// The colour model of a contone image by its colour samples.
bool model_of(const image_info& image, ColorModel* model) {
  const uint32_t colours = image.samples - image.spot_samples - image.mask_samples;
  if (image.photometric == KLV_PHOTO_PALETTE)
    *model = ColorModel::kRgb;
  else if (image.photometric == KLV_PHOTO_CIELAB && colours == 3)
    *model = ColorModel::kLab;
  else if (colours == 1)
    *model = ColorModel::kGray;
  else if (colours == 3)
    *model = ColorModel::kRgb;
  else if (colours == 4)
    *model = ColorModel::kCmyk;
  else
    return false;
  return true;
}

bool same_lines(const image_info& a, const image_info& b) {
  return a.width == b.width && a.height == b.height && a.bits_per_sample == b.bits_per_sample &&
         a.samples == b.samples && a.spot_samples == b.spot_samples &&
         a.mask_samples == b.mask_samples && a.photometric == b.photometric &&
         a.planar == b.planar && a.hifi_mode == b.hifi_mode;
}

bool plan_dots(const CPrintFrameInfo& frame, const image_info& image, double mx, double my,
               FramePlan* plan) {
  plan->contone = false;
  if (!frame.repeat.empty()) {
    plan->xrep = get_xrep(frame.repeat.c_str());
    plan->yrep = get_yrep(frame.repeat.c_str());
  } else {
    plan->xrep = whole_factor(mx, image.xres);
    plan->yrep = whole_factor(my, image.yres);
  }
  plan->dots = image;
  plan->dots.planar = KLV_PLANAR_LINES;
  plan->dots.cmap = nullptr;
  plan->dots.profile_word = nullptr;
  plan->dots.bytes_per_line = image_info_line_bytes(&plan->dots);
  plan->layout = image.planar == KLV_PLANAR_PIXEL && image.samples > 1;
  return true;
}

// The conversion of a contone image of `model` to the printer's inks: its
// profile (the frame's, else the model's default) through the printer's
// profile, with the printer's calibration of the media, resolution and
// pattern when it has one.
bool plan_colour(const CPrintFrameInfo& frame, ColorModel model, const char* printer_name,
                 const std::string& res, FramePlan* plan) {
  ColorConversionSetup setup;
  setup.input = model;
  setup.embedded = frame.profile;
  setup.printer = printer_name ? printer_name : "";
  setup.calibration = "Linear1~" + frame.media + "~" + res + "~" + std::to_string(plan->pattern);
  std::string error;
  plan->conversion = ColorConversion::Open(setup, &error);
  if (plan->conversion) {
    plan->calibration = setup.calibration;
  } else {
    KLV_LOG(KLV_LOG_INFO, "No calibration \"%s\" for the frame: %s", setup.calibration.c_str(),
            error.c_str());
    setup.calibration.clear();
    plan->conversion = ColorConversion::Open(setup, &error);
  }
  if (!plan->conversion) {
    KLV_LOG(KLV_LOG_ERROR, "No colour conversion for the frame: %s", error.c_str());
    return false;
  }
  if (plan->conversion->OutputModel() != ColorModel::kCmyk ||
      plan->conversion->OutputChannels() != 4) {
    KLV_LOG(KLV_LOG_ERROR, "The printer's profile gives %u channels, not CMYK inks",
            plan->conversion->OutputChannels());
    return false;
  }
  return true;
}

// The screening of the frame's dot pattern: the mode's screens, threads as
// the registry says.
bool plan_placement(const CPrintMode* mode, PRNTINFO* printer, const CPrintFrameInfo& frame,
                    FramePlan* plan) {
  std::unique_ptr<_SCREENSETUP, int32_t (*)(_SCREENSETUP*)> screens(nullptr, free_screen_settings);
  if (mode) {
    if (_SCREENSETUP* setup = prntinfo_mode_screensetup(printer, frame.media.c_str(), mode))
      screens.reset(copy_screen_settings(setup));
  }
  plan->placement.reset(HTPlaceAlloc(4, plan->screen.xres, plan->screen.yres, 0, 0, 0,
                                     proc::method_of(plan->pattern), screens.get(), nullptr,
                                     nullptr, nullptr, 0));
  if (!plan->placement) {
    KLV_LOG(KLV_LOG_ERROR, "The screening of the frame cannot be set up (pattern %d)",
            plan->pattern);
    return false;
  }
  HTPlaceSetDetachDelete(plan->placement.get(), 1);
  // The process record carries the ink restriction to the engines.
  if (plan->inks &&
      !HTPlaceSetLinearization(plan->placement.get(), 0, nullptr, plan->inks->record.get())) {
    KLV_LOG(KLV_LOG_ERROR, "The ink restriction cannot be given to the frame's screening");
    return false;
  }
  plan->threads = proc::threads_of(ProcOptions{});
  // Several threads: every separation on an engine thread of its own (the
  // ring of engines), so that the caller's thread stays free to feed them.
  if (plan->threads > 1)
    for (uint32_t s = 0; s < plan->screen.samples; ++s)
      HTPlaceGetThreadFlagArray(plan->placement.get())[s] = 1;
  return true;
}

// Ink images: the printer's calibration of the media, resolution and
// pattern (its linearization) applied to the ink amounts alone, as the job
// driver does for them. Nothing when the printer has no such calibration.
bool plan_calibration(const CPrintFrameInfo& frame, const image_info& image,
                      const char* printer_name, const std::string& res, FramePlan* plan) {
  const std::string pattern = std::to_string(plan->pattern);
  if (!printer_name || !*printer_name || image.photometric != KLV_PHOTO_MINWHITE) return true;
  ColorConversionSetup setup;
  setup.input = ColorModel::kCmyk;
  setup.calibration_only = true;
  setup.printer = printer_name;
  setup.calibration = "Linear1~" + frame.media + "~" + res + "~" + pattern;
  std::string error;
  plan->conversion = ColorConversion::Open(setup, &error);
  if (plan->conversion) {
    plan->calibration = setup.calibration;
    KLV_LOG(KLV_LOG_INFO, "The frame's inks through the calibration \"%s\"",
            setup.calibration.c_str());
  } else {
    KLV_LOG(KLV_LOG_INFO, "No calibration \"%s\" for the frame: %s", setup.calibration.c_str(),
            error.c_str());
  }
  return true;
}

bool plan_contone(const CPrintFrameInfo& frame, const image_info& image,
                  const SP_COLOR_SETUP& setup, const CPrintMode* mode, PRNTINFO* printer,
                  const char* printer_name, double mx, double my, const MLPROCINFO* driver,
                  FramePlan* plan) {
  plan->contone = true;
  ColorModel model;
  if (setup.channels != 4 || setup.spot_channels != 0 || !model_of(image, &model) ||
      (image.planar != KLV_PLANAR_PIXEL && image.samples > 1) || image.width < 1 ||
      image.height < 1) {
    KLV_LOG(KLV_LOG_ERROR,
            "A contone frame takes pixel-interleaved gray, RGB, L*a*b* or CMYK for a printer of "
            "four process inks; it was given %u samples (%u-bit, layout %u) for %u channels",
            image.samples, image.bits_per_sample, image.planar, setup.channels);
    return false;
  }
  plan->xrep = get_xrep(frame.repeat.c_str());
  plan->yrep = get_yrep(frame.repeat.c_str());
  // The screening's resolution: the mode's over the repeat, else the
  // image's (72 dpi when neither says). An image without a resolution keeps
  // its pixels.
  double sx = mx > 0 ? mx / plan->xrep : image.xres, sy = my > 0 ? my / plan->yrep : image.yres;
  if (sx <= 0 || sy <= 0) sx = sy = 72;
  int32_t width = image.width, height = image.height;
  if (image.xres > 0 && image.yres > 0) {
    width = int32_t(std::lround(image.width * sx / image.xres));
    height = int32_t(std::lround(image.height * sy / image.yres));
  }
  if (width < 1 || height < 1 || width > 1000000 || height > 1000000) {
    KLV_LOG(KLV_LOG_ERROR, "The frame would be %dx%d pixels", width, height);
    return false;
  }
  char res[64];
  std::snprintf(res, sizeof res, "%gx%g", sx * plan->xrep, sy * plan->yrep);
  const std::string res_text = mode ? printmode_res(mode) : res;
  const bool ink = model == ColorModel::kCmyk;
  if (!ink && !plan_colour(frame, model, printer_name, res_text, plan)) return false;
  if (ink && !frame.inks_final && !plan_calibration(frame, image, printer_name, res_text, plan))
    return false;
  plan->inks = frame_inks(frame.inks_final ? "" : printer_name, frame, res_text, mode,
                          plan->pattern, driver);
  if (!plan->inks) return false;
  // Ink images are the printer's inks already; they keep their form (ink or
  // light values), which the engines read either way.
  const uint32_t photo =
      ink && image.photometric == KLV_PHOTO_MINBLACK ? KLV_PHOTO_MINBLACK : KLV_PHOTO_MINWHITE;
  plan->screen = lines_of(width, height, sx, sy, 8, 4, 0, KLV_PLANAR_PIXEL, photo);
  if (plan->conversion) {
    const uint32_t in = plan->conversion->InputChannels();
    const uint32_t in_photo = ink                         ? KLV_PHOTO_MINWHITE
                              : model == ColorModel::kLab ? KLV_PHOTO_CIELAB
                                                          : KLV_PHOTO_MINBLACK;
    plan->colour = lines_of(width, height, sx, sy, 8, in, 0, KLV_PLANAR_PIXEL, in_photo);
  }
  plan->caller = image;
  plan->filter = !same_lines(image, plan->conversion ? plan->colour : plan->screen);
  plan->dots = lines_of(width, height, sx, sy, 1, setup.channels, setup.spot_channels,
                        KLV_PLANAR_LINES, KLV_PHOTO_MINWHITE);
  return plan_placement(mode, printer, frame, plan);
}

}  // namespace

bool plan_frame(const CPrintFrameInfo& frame, const image_info& image, const SP_COLOR_SETUP& setup,
                PRNTINFO* printer, const char* printer_name, FramePlan* plan,
                const MLPROCINFO* driver) {
  const CPrintMode* mode =
      printer ? prntinfo_mode(printer, frame.media.c_str(), frame.mode.c_str()) : nullptr;
  double mx = 0, my = 0;
  if (mode) parse_res(printmode_res(mode), &mx, &my);
  plan->pattern = mode ? printmode_pattern(mode) : frame.pattern;
  if (is_dots(image, setup)) return plan_dots(frame, image, mx, my, plan);
  return plan_contone(frame, image, setup, mode, printer, printer_name, mx, my, driver, plan);
}

IMG_file* build_chain(FramePlan& plan, IMG_file* frame_img) {
  IMG_file* head = frame_img;
  if (plan.xrep > 1 || plan.yrep > 1) {
    head = repeat_stage_open(head, plan.dots, plan.xrep, plan.yrep);
    if (!head) return nullptr;
  }
  if (!plan.contone) {
    if (!plan.layout) return head;
    lnvfltr* layout = lnvfltr_attach(head);  // closes what is below when it refuses
    return layout ? lnvfltr_to_img(layout) : nullptr;
  }
  // The filter owns the placement from here, also when it cannot start.
  head = HTPlace_AttachImg(plan.placement.release(), head, &plan.screen, kScreenLines, 0);
  if (!head) return nullptr;
  if (plan.inks) {
    head = keep_inks_open(head, std::move(plan.inks));
    if (!head) return nullptr;
  }
  if (plan.conversion) {
    head = color_stage_open(head, std::move(plan.conversion), plan.colour);
    if (!head) return nullptr;
  }
  if (!plan.filter) return head;
  filter_info options{};
  options.stretch = 1;
  image_info caller = plan.caller;
  filter_rec* filter = filter_attach(head, &caller, &options);  // closes `head` on failure
  return filter ? filter_to_img(filter) : nullptr;
}

}  // namespace klv::printing
