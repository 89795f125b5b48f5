// SPDX-License-Identifier: MIT
// The driver's first stages: the set-up (paths, the job's announcement, the
// kind of input), the printer and its resolution, the colour set-up, the
// screens of the job's media and mode, the input image (waiting while it is
// still being produced). The contone copy is imgproc_contone.cpp's.
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "imgproc_internal.h"
#include "klv/cimg_file.h"
#include "klv/gsimg.h"
#include "klv/imgmux.h"
#include "klv/log.h"
#include "klv/ocfimg.h"
#include "klv/kernel_path.h"
#include "klv/printmode.h"
#include "klv/prntinfo.h"

namespace klv::proc {
namespace {

namespace fs = std::filesystem;

// Layout documents are kept in files of these extensions.
bool is_layout(const std::string& image) {
  const std::string ext = fs::path(image).extension().string();
  return !strcasecmp(ext.c_str(), ".lay") || !strcasecmp(ext.c_str(), ".onl");
}

// "720x1440", "720 x 1440", "720" or "720x720@360": the X and Y dots per inch.
bool parse_resolution(const char* text, double* x, double* y) {
  char tail = 0;
  if (std::sscanf(text, " %lf x %lf", x, y) == 2 ||
      (std::sscanf(text, " %lf%c", x, &tail) >= 1 && (tail == 0 || tail == ' ' || tail == '@'))) {
    if (*y <= 0) *y = *x;
    return *x > 0 && *y > 0 && *x < 1e5 && *y < 1e5;
  }
  return false;
}

// The colour model lines are converted from, by the image's colour samples.
bool model_of(const image_info& info, ColorModel* model) {
  const uint32_t colours = info.samples - info.spot_samples - info.mask_samples;
  if (info.photometric == KLV_PHOTO_PALETTE) {
    *model = ColorModel::kRgb;
    return true;
  }
  if (info.photometric == KLV_PHOTO_CIELAB && colours == 3) {
    *model = ColorModel::kLab;
    return true;
  }
  switch (colours) {
    case 1:
      *model = ColorModel::kGray;
      return true;
    case 3:
      *model = ColorModel::kRgb;
      return true;
    case 4:
      *model = ColorModel::kCmyk;
      return true;
    default:
      return false;
  }
}

// Lines of `model` at 8 bits, pixel-interleaved, at the page's size and
// resolution.
image_info lines_for(const Job& j, ColorModel model) {
  image_info t = j.source;
  t.width = j.width;
  t.height = j.height;
  t.samples = model == ColorModel::kGray ? 1 : model == ColorModel::kCmyk ? 4 : 3;
  t.spot_samples = 0;
  t.mask_samples = 0;
  t.bits_per_sample = 8;
  t.photometric = model == ColorModel::kLab    ? KLV_PHOTO_CIELAB
                  : model == ColorModel::kCmyk ? KLV_PHOTO_MINWHITE
                                               : KLV_PHOTO_MINBLACK;
  t.hifi_mode = 0;
  t.planar = KLV_PLANAR_PIXEL;
  t.compression = 0;
  t.xres = j.xres;
  t.yres = j.yres;
  t.width_inches = j.width / j.xres;
  t.height_inches = j.height / j.yres;
  t.cmap = nullptr;
  t.profile_word = nullptr;
  t.bytes_per_line = image_info_line_bytes(&t);
  return t;
}

// The conversion to the printer's inks: from the job's input profile when
// its Colorpath names one (else the image's own, else the default of its
// model) through the printer's profile (ink images without a profile of the
// job's: none) and its calibration of the job's media, resolution and
// pattern when the printer has one. A profile the job names must open.
bool open_conversion(Job& j) {
  j.colour.input = j.model;
  j.colour.embedded = j.profile;
  j.colour.input_profile = j.s->Colorpath;
  const bool named = !j.colour.input_profile.empty();
  j.colour.calibration_only = j.model == ColorModel::kCmyk && !named;
  std::string error;
  j.colour.calibration = j.calibration;
  // The grid folds on the job's screening threads (it is the same grid).
  j.colour.threads = static_cast<uint32_t>(std::max(threads_of(j.options), 1));
  // The profile library's output profile of the job's mode, else the
  // printer's own (its folder's Info/PRINTER.icc).
  TempFile library_profile;
  j.colour.output_profile.clear();
  if (!j.colour.calibration_only && library_output_profile(j, &library_profile)) {
    j.colour.output_profile = library_profile.path;
    j.Message("Output profile \"" + j.output_profile + "\" of the profile library");
  }
  j.conversion = ColorConversion::Open(j.colour, &error);
  if (!j.conversion) {
    j.Message("No calibration \"" + j.calibration + "\": " + error);
    j.colour.calibration.clear();
    if (j.model == ColorModel::kCmyk && !named) return true;  // the inks as they are
    j.conversion = ColorConversion::Open(j.colour, &error);
  }
  if (!j.conversion) return j.Fail("No colour conversion for the job: %s", error.c_str());
  if (j.conversion->OutputModel() != ColorModel::kCmyk || j.conversion->OutputChannels() != 4)
    return j.Fail("The printer's profile gives %u channels, not CMYK inks",
                  j.conversion->OutputChannels());
  // The library's profile is named, not its temporary copy.
  j.colour_text = j.conversion->Description();
  const size_t at =
      library_profile.path.empty() ? std::string::npos : j.colour_text.find(library_profile.path);
  if (at != std::string::npos)
    j.colour_text.replace(at, library_profile.path.size(),
                          "\"" + j.output_profile + "\" of the profile library");
  j.Message("Colour: " + j.colour_text);
  return true;
}

// The crop box of the job's cropping block: left, top, right and bottom
// edges in inches from the image's top left corner (at its own resolution,
// 72 dpi when it has none), held to the image. A box without width or
// height (all zeros: no box) keeps the whole image; one that lies outside
// the image fails.
bool crop_box(Job& j) {
  const settings_crop* c = j.s->Cropping;
  if (!c || !(c->Box[2] > c->Box[0]) || !(c->Box[3] > c->Box[1])) return true;
  const double xres = j.source.xres > 0 ? j.source.xres : 72;
  const double yres = j.source.yres > 0 ? j.source.yres : 72;
  const double w = j.source.width, h = j.source.height;
  // First and last pixel inside the box.
  const double x1 = std::max(0.0, std::floor(c->Box[0] * xres + 1e-6));
  const double y1 = std::max(0.0, std::floor(c->Box[1] * yres + 1e-6));
  const double x2 = std::min(w, std::ceil(c->Box[2] * xres - 1e-6)) - 1;
  const double y2 = std::min(h, std::ceil(c->Box[3] * yres - 1e-6)) - 1;
  if (x1 > x2 || y1 > y2)
    return j.Fail("The crop box (%g, %g, %g, %g in) lies outside image \"%s\"", c->Box[0],
                  c->Box[1], c->Box[2], c->Box[3], j.s->Imagepath);
  if (x1 == 0 && y1 == 0 && x2 == w - 1 && y2 == h - 1) return true;
  j.crop = {w > 1 ? x1 / (w - 1) : 0, h > 1 ? y1 / (h - 1) : 0, w > 1 ? x2 / (w - 1) : 1,
            h > 1 ? y2 / (h - 1) : 1};
  j.cropped = true;
  j.source.width = int32_t(x2 - x1 + 1);
  j.source.height = int32_t(y2 - y1 + 1);
  char box[96];
  std::snprintf(box, sizeof box, "%dx%d pixels from (%d, %d)", j.source.width, j.source.height,
                int(x1), int(y1));
  j.Message(std::string("Cropped to ") + box);
  return true;
}

// The bleed of the job's cropping block: its first four sizes are the
// margins (left, top, right, bottom, in inches) added around the page,
// filled as its mode says: 0 the bleed colour (BleedPixel, one value per
// channel of the image's colours, as light for gray and RGB, as ink for
// CMYK), 1 the repeated edge, 2 the mirrored image.
bool bleed_of(Job& j) {
  const settings_crop* c = j.s->Cropping;
  if (!c || !c->BleedOn) return true;
  if (c->BleedMode < KLV_OCF_BLEED_COLOR || c->BleedMode > KLV_OCF_BLEED_MIRROR)
    return j.Fail("The bleed mode %d of the job is not 0, 1 or 2", c->BleedMode);
  ocfi_info& b = j.bleed;
  b.bleed_on = 1;
  b.bleed.mode = c->BleedMode;
  for (int i = 0; i < 4; ++i) {
    if (!(c->BleedSizes[i] >= 0 && c->BleedSizes[i] <= 100))
      return j.Fail("The bleed margins must be 0 to 100 inches");
    b.bleed.outer[i] = c->BleedSizes[i];
    b.bleed.inner[i] = c->BleedSizes[4 + i];
  }
  for (int i = 0; i < KLV_OCF_BLEED_PIXELS; ++i)
    b.bleed_pixel[i] = std::min(c->BleedPixel[i], 255u);
  b.xres = j.xres;
  b.yres = j.yres;
  for (int i = 0; i < 4; ++i)
    j.bleed_px[i] = int32_t(b.bleed.outer[i] * (i % 2 ? j.yres : j.xres) + 0.5);
  return true;
}

// The page in printer pixels: the image at its own resolution (72 dpi when
// it has none), turned as the job asks (quarter turns of Rotation, mirrored
// with Reflect), within the job's largest print size when it has one.
bool page_size(Job& j) {
  const double inch_w = j.source.width / (j.source.xres > 0 ? j.source.xres : 72);
  const double inch_h = j.source.height / (j.source.yres > 0 ? j.source.yres : 72);
  j.rotation = (j.s->Rotation & 3) | (j.s->Reflect ? 4 : 0);
  const bool turned = j.rotation & 1;
  const double page_w = turned ? inch_h : inch_w, page_h = turned ? inch_w : inch_h;
  const int content_w = int(page_w * j.xres + 0.5), content_h = int(page_h * j.yres + 0.5);
  j.width = content_w + j.bleed_px[0] + j.bleed_px[2];
  j.height = content_h + j.bleed_px[1] + j.bleed_px[3];
  if (content_w < 1 || content_h < 1 || j.width > 1000000 || j.height > 1000000)
    return j.Fail("Image \"%s\" makes a page of %dx%d pixels", j.s->Imagepath, j.width, j.height);
  const double tolerance = 0.5 / 72;
  const double full_w = j.width / j.xres, full_h = j.height / j.yres;
  if ((j.s->PrintMaxX > 0 && full_w > j.s->PrintMaxX + tolerance) ||
      (j.s->PrintMaxY > 0 && full_h > j.s->PrintMaxY + tolerance))
    return j.Fail("The page of \"%s\" (%.2fx%.2f in) is larger than the job allows (%.2fx%.2f in)",
                  j.s->Imagepath, full_w, full_h, j.s->PrintMaxX, j.s->PrintMaxY);
  return true;
}

std::string now_text(const char* format) {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, format, &tm);
  return text;
}

}  // namespace

bool stage_setup(Job& j) {
  init_image_info(&j.source);
  if (!*j.s->Imagepath) return j.Fail("The job has no image");
  if (is_layout(j.s->Imagepath))
    return j.Fail("Layout jobs cannot be processed yet (\"%s\")", j.s->Imagepath);
  j.list_path = list_path_of(*j.s);
  if (j.list_path.empty()) return j.Fail("The job has no print path");
  std::error_code ec;
  const fs::path folder = fs::path(j.list_path).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec))
    return j.Fail("The print folder \"%s\" does not exist", folder.c_str());
  j.start_date = now_text("%m/%d/%Y");
  j.start_time = now_text("%H:%M:%S");
  if (j.name.empty()) j.name = *j.s->JobName ? j.s->JobName : fs::path(j.s->Imagepath).filename();
  j.Status("Processing " + j.name);
  // Print files of an earlier run would be listed with the new ones.
  imgproc_remove_print_files(j.s, 0);
  return true;
}

bool stage_printer(Job& j) {
  char folder[KLV_PATH_MAX] = "";
  if (!*j.s->PrintDev) return j.Fail("The job names no printer");
  if (!get_printer_path(j.s->PrintDev, folder, nullptr) || !folder[0])
    return j.Fail("Printer \"%s\" is not installed", j.s->PrintDev);
  j.printer_folder = folder;
  if (!parse_resolution(j.s->PrintRes, &j.xres, &j.yres))
    return j.Fail("The print resolution \"%s\" of printer \"%s\" cannot be read", j.s->PrintRes,
                  j.s->PrintDev);
  char res[64];
  std::snprintf(res, sizeof res, "%gx%g", j.xres, j.yres);
  const std::string line =
      std::string("Printer ") + j.s->PrintDev + " (" + folder + ") at " + res + " dpi";
  j.Message(line.c_str());
  // The printer's repository knows its modes: the job's mode there gives the
  // dot pattern; otherwise the job's own pattern number counts.
  j.printer.reset(prntinfo_find(j.s->PrintDev));
  j.mode = j.printer ? prntinfo_mode(j.printer.get(), j.s->PrintMedia, j.s->PrintMode) : nullptr;
  j.pattern = j.mode ? printmode_pattern(j.mode) : j.s->PatternDif;
  if (j.pattern < 0 || j.pattern >= KLV_DOT_PATTERN_COUNT)
    return j.Fail("The dot pattern %d of mode \"%s\" is unknown", j.pattern, j.s->PrintMode);
  char text[KLV_PRINTMODE_TEXT] = "";
  get_pattern_str(text, sizeof text, j.pattern,
                  j.mode ? printmode_pattern_opt(j.mode) : j.s->PatternOpt);
  j.pattern_text = text;
  return build_process_record(j);
}

bool stage_colour(Job& j) {
  // The printer's output profile (its folder's Info/PRINTER.icc, else the
  // default CMYK profile); the input's own profile is taken once the image
  // is open.
  j.colour.printer = j.s->PrintDev;
  j.colour.intent = 0;
  j.calibration = std::string("Linear1~") + j.s->PrintMedia + "~" + j.s->PrintRes + "~" +
                  std::to_string(j.pattern);
  return job_chain(j);
}

bool stage_screens(Job& j) {
  if (!j.printer) {
    j.Message("No printer repository: the built-in screens are used");
    return true;
  }
  _SCREENSETUP* setup =
      j.mode ? prntinfo_mode_screensetup(j.printer.get(), j.s->PrintMedia, j.mode) : nullptr;
  if (setup) {
    j.screens.reset(copy_screen_settings(setup));
    if (!j.screens) return j.Fail("The screens of mode \"%s\" cannot be copied", j.s->PrintMode);
  }
  return true;
}

namespace {

// One page of a multi-page stream as an image of one page: the filters
// that read it (and seek it back to its start) see that page alone. Every
// seek names the view's page: a multi-page stream takes the page of a seek
// from its start (whence 0) or its end (whence 2) as the page to deliver,
// so naming the first page there would turn the view to the first page
// (for the interpreter stream, a new render of it).
class PageView : public CIMG_file {
 public:
  PageView(IMG_file* source, int page) : source_(source), page_(page) {
    m_info = source->info;
    m_info.pages = 1;
  }
  ~PageView() override { img_close(source_); }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    return img_read_line(source_, buffer, count);
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    if (page != 0) return -1;
    return img_seek_line(source_, line, plane, page_, whence);
  }
  int32_t GetStatus(int32_t what) override { return img_status(source_, what); }
  image_cmap* GetCmap() override { return img_get_cmap(source_); }
  image_profile* GetProfile() override { return img_get_profile(source_); }
  int32_t Close() override {
    const int32_t r = img_close_status(source_);
    source_ = nullptr;
    return r;
  }

 private:
  IMG_file* source_;
  int page_;
};

}  // namespace

IMG_file* open_image(Job& j, image_info* info, int page) {
  // OCF references are the library's own documents, which recognition of
  // pictures leaves out: they are opened by their type. A document the
  // interpreter renders starts on the page asked for (not on its first page,
  // whose render the seek below would throw away).
  const int32_t type = ocfimg_check(nullptr, j.s->Imagepath) ? KLV_TYPE_OCF : 0;
  gsimg_options at{};
  at.page = page;
  IMG_file* img = page > 0 && type == 0 && !j.options.open_image
                      ? gsimg_open_ex(j.s->Imagepath, nullptr, info, &at, KLV_TYPE_POSTSCRIPT)
                      : nullptr;
  if (!img)
    img = j.options.open_image ? j.options.open_image(j.s->Imagepath, info)
                               : img_mux_open(j.s->Imagepath, nullptr, "r", info, type);
  if (!img || page == 0) return img;
  if (img_seek_line(img, 0, 0, page, 0) < 0) {
    ErrorLogf(KLV_LOG_ERROR, kTag, 0, "image \"%s\" has no page %d", j.s->Imagepath, page + 1);
    img_close(img);
    return nullptr;
  }
  const int32_t page_type = img->type;
  return (new PageView(img, page))->ToImg('r', page_type);
}

bool stage_input(Job& j) {
  ImgPtr img(open_image(j, &j.source, 0));
  if (!img) return j.Fail("Cannot open image \"%s\"", j.s->Imagepath);
  // An image still being produced answers 0: ask again after a wait.
  while (img_status(img.get(), 0) == 0) {
    if (j.Cancelled()) return j.Fail("Cancelled while waiting for \"%s\"", j.s->Imagepath);
    std::this_thread::sleep_for(std::chrono::milliseconds(j.options.wait_ms));
  }
  if (img_status(img.get(), 0) < 0) return j.Fail("Image \"%s\" is damaged", j.s->Imagepath);
  if (image_profile* p = img_get_profile(img.get())) {
    j.profile.assign(p->data, p->data + p->size);
    checkin_image_profile(p);
  }
  if (!model_of(j.source, &j.model))
    return j.Fail("Image \"%s\" has %u colour samples and cannot be printed", j.s->Imagepath,
                  j.source.samples);
  if (!crop_box(j) || !bleed_of(j) || !page_size(j)) return false;
  j.pages = int(std::clamp<uint32_t>(j.source.pages, 1, 999));
  if (j.pages > 1) j.Message("Image has " + std::to_string(j.pages) + " pages");
  if (!open_conversion(j)) return false;
  j.lines = lines_for(j, j.model);
  j.content = j.lines;
  j.content.width = j.width - j.bleed_px[0] - j.bleed_px[2];
  j.content.height = j.height - j.bleed_px[1] - j.bleed_px[3];
  j.content.width_inches = j.content.width / j.xres;
  j.content.height_inches = j.content.height / j.yres;
  j.content.bytes_per_line = image_info_line_bytes(&j.content);
  j.target = lines_for(j, ColorModel::kCmyk);
  j.input = std::move(img);
  return true;
}

}  // namespace klv::proc
