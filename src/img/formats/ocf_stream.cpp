// SPDX-License-Identifier: MIT
// The OCF stream: its description comes from the OCF record alone; the
// source image, the colour chain and the filters over the source are opened
// at the first line, seek or colour-map request (or at once when asked).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "img/formats/ocf_stream.h"
#include "klv/imgmux.h"
#include "klv/kernel_volume.h"
#include "klv/layoutfilter.h"
#include "klv/log.h"
#include "klv/ocfimg.h"
#include "klv/ucc.h"

struct ocfimg {
  ocfi_info* record = nullptr;
  SOVolume* volume = nullptr;  // the OCF's volume (the record's, or the caller's)
  std::string name;            // the OCF's path, for messages and relative sources
  image_info info{};
  klv::img::OcfState state = klv::img::OcfState::kPending;
  IMG_file* chain = nullptr;
  t_ucc_node* ucc = nullptr;
  ucc_info* ucc_context = nullptr;
  filter_transform transform{};

  ~ocfimg() {
    img_close(chain);
    if (ucc_context)
      ucc_info_free(ucc_context, 1);
    else
      free_ucc(ucc);
    free_ocfi_info(record);
  }
};

namespace klv::img {
namespace {

constexpr const char* kMemberPrefix = ".\\";

bool is_member_path(const char* p) {
  return std::strncmp(p, kMemberPrefix, 2) == 0;
}

int32_t round_pixels(double inches, double res) {
  return static_cast<int32_t>(inches * res + 0.5);
}

// The printed image before bleed: size, resolution, samples and crop of the record.
image_info printed_description(const ocfi_info& r) {
  image_info d;
  init_image_info(&d);
  d.width = round_pixels(r.width, r.xres);
  d.height = round_pixels(r.height, r.yres);
  d.width_inches = r.width;
  d.height_inches = r.height;
  d.pages = 1;
  d.xres = r.xres;
  d.yres = r.yres;
  d.samples = uint32_t(r.samples);
  d.spot_samples = uint32_t(r.spot_samples);
  d.mask_samples = uint32_t(r.mask_samples);
  d.bits_per_sample = uint32_t(r.bits_per_sample);
  d.photometric = uint32_t(r.photometric);
  d.planar = uint32_t(r.planar);
  d.crop = r.crop;
  return d;
}

// The description enlarged by the bleed margins.
void add_bleed(image_info* d, const ocfi_info& r) {
  int32_t m[4];
  ocf_bleed_margins(r, m);
  d->width += m[0] + m[2];
  d->height += m[1] + m[3];
  d->width_inches = d->width / r.xres;
  d->height_inches = d->height / r.yres;
}

image_info stream_description(const ocfi_info& r) {
  image_info d = printed_description(r);
  if (r.bleed_on) add_bleed(&d, r);
  d.bytes_per_line = image_info_line_bytes(&d);
  return d;
}

// ---- Building the chain ------------------------------------------------------

// Where the source lives: a member of the OCF's volume (".\\name"), a host
// path relative to the folder of the OCF's file, or a path as written.
struct SourceRef {
  std::string path;
  SOVolume* volume = nullptr;
};

SourceRef source_of(const ocfimg& s) {
  const char* p = s.record->image_path;
  if (is_member_path(p) && s.volume) return {p, s.volume};
  SourceRef ref{p, s.record->image_volume};
  const bool absolute = p[0] == '/' || p[0] == '\\' || (p[0] && p[1] == ':');
  if (!ref.volume && !absolute && !is_member_path(s.name.c_str())) {
    const size_t slash = s.name.find_last_of("/\\");
    if (slash != std::string::npos) ref.path = s.name.substr(0, slash + 1) + p;
  }
  return ref;
}

// The volume a chain or calibration path is read from.
SOVolume* volume_for(const ocfimg& s, const char* path) {
  return is_member_path(path) ? s.volume : nullptr;
}

// The library's own layered sources are volumes; they carry no embedded profile.
bool source_is_ils(const SourceRef& src) {
  return VIsVolume(src.volume, src.path.c_str()) != 0;
}

// A chain or calibration file named by the record must be there.
bool present(const ocfimg& s, const char* path, const char* what) {
  if (Ofileexists(volume_for(s, path), path, 0)) return true;
  KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": %s \"%s\" cannot be found", s.name.c_str(), what, path);
  return false;
}

bool load_chain(ocfimg& s, const SourceRef& src) {
  const ocfi_info& r = *s.record;
  if (r.ucc_path[0]) {
    if (!present(s, r.ucc_path, "colour chain")) return false;
    s.ucc = load_ucc(volume_for(s, r.ucc_path), r.ucc_path, nullptr);
  }
  if (r.ccx_path[0]) {
    if (!present(s, r.ccx_path, "calibration")) return false;
    s.ucc = load_ucc_ext(volume_for(s, r.ccx_path), r.ccx_path, s.ucc);
  }
  if (!s.ucc) return true;
  image_profile* profile = nullptr;
  if (!source_is_ils(src)) {
    // The embedded profile is taken from a short open of the source.
    if (IMG_file* probe =
            img_mux_open(src.path.c_str(), src.volume, "r", nullptr, KLV_TYPE_RECOGNISE_NO_PS)) {
      profile = img_get_profile(probe);
      img_close(probe);
    }
  }
  const int32_t loaded =
      load_calibration(s.volume, &s.ucc, uint32_t(r.ccx_types), uint32_t(r.ccx_flags), profile);
  checkin_image_profile(profile);
  if (!loaded) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": the calibration cannot be loaded", s.name.c_str());
    return false;
  }
  if (!s.ucc) return true;
  s.ucc_context = ucc_info_init(s.ucc, 1, r.ucc_gcr);
  if (!s.ucc_context) return false;
  ucc_filter_transform(s.ucc_context, &s.transform);
  return true;
}

// What the line filter is asked for: the printed image, pixel-interleaved,
// at 16 bits when the record asks for 16-bit handling of an 8-bit image.
image_info filter_target(ocfi_info& r) {
  image_info t = printed_description(r);
  if (r.use_16bit && r.bits_per_sample == 8)
    t.bits_per_sample = 16;
  else
    r.use_16bit = 0;
  t.planar = KLV_PLANAR_PIXEL;
  t.bytes_per_line = image_info_line_bytes(&t);
  return t;
}

filter_info filter_options(const ocfimg& s) {
  filter_info o;
  std::memset(&o, 0, sizeof o);
  o.stretch = 1;  // the printed size is exact, whatever the source's aspect
  o.smooth = s.record->interpolate ? 1 : 0;
  o.mask_opaque = s.record->no_image_mask ? 1 : 0;
  if (s.ucc_context) o.transform = const_cast<filter_transform*>(&s.transform);
  return o;
}

// Pixel-interleaved lines in the requested layout (planes or line-interleaved).
// The source is a readable stream of several samples, never a palette (the
// record's check), so the filters can refuse it only when memory is short,
// and they close it then.
IMG_file* relayout(IMG_file* img, int32_t planar) {
  if (planar == KLV_PLANAR_PLANES) {
    sepfltr* f = sepfltr_attach(img);
    return f ? sepfltr_to_img(f) : nullptr;
  }
  lnvfltr* f = lnvfltr_attach(img);
  return f ? lnvfltr_to_img(f) : nullptr;
}

// The delivered stream must be the one the description promised.
bool matches(const image_info& got, const image_info& want) {
  // With one sample a line is the same in every layout.
  const bool one = want.samples + want.mask_samples == 1;
  return got.width == want.width && got.height == want.height &&
         got.bytes_per_line == want.bytes_per_line &&
         (one || (got.planar & 7) == (want.planar & 7)) &&
         got.bits_per_sample == want.bits_per_sample &&
         got.samples + got.mask_samples == want.samples + want.mask_samples;
}

bool open_filters(ocfimg& s, const SourceRef& src) {
  ocfi_info& r = *s.record;
  image_info target = filter_target(r);
  const filter_info options = filter_options(s);
  image_info opened;
  init_image_info(&opened);
  IMG_file* img = filter_file_open(src.path.c_str(), src.volume, "r", &opened,
                                   KLV_TYPE_RECOGNISE_NO_PS, &target, &options);
  if (!img) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": source image \"%s\" cannot be opened", s.name.c_str(),
            src.path.c_str());
    return false;
  }
  if (r.use_16bit) img = ocf_depth_dither_attach(img, uint32_t(r.bits_per_sample));
  if (img && r.bleed_on) img = ocf_bleed_attach(img, r);
  const bool relaid = s.info.planar != KLV_PLANAR_PIXEL && s.info.samples + s.info.mask_samples > 1;
  if (img && relaid) img = relayout(img, int32_t(s.info.planar));
  if (!img) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": the filters over the source cannot be built",
            s.name.c_str());
    return false;
  }
  s.chain = img;
  if (!matches(img->info, s.info)) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": the source is not delivered as described (%dx%d)",
            s.name.c_str(), img->info.width, img->info.height);
    return false;
  }
  return true;
}

// Builds once; a failure is logged once and sticks.
bool ensure_built(ocfimg* s) {
  if (s->state == OcfState::kBuilt) return true;
  if (s->state == OcfState::kFailed) return false;
  bool ok = false;
  try {
    const SourceRef src = source_of(*s);
    ok = load_chain(*s, src) && open_filters(*s, src);
  } catch (...) {
    ok = false;
  }
  if (ok) {
    s->state = OcfState::kBuilt;
    return true;
  }
  KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": no lines can be delivered", s->name.c_str());
  s->chain = img_close(s->chain);
  s->state = OcfState::kFailed;
  return false;
}

}  // namespace

OcfState ocf_state(const IMG_file* img) {
  if (!img || img->close != ocfimg_close || !img->handle) return OcfState::kFailed;
  return static_cast<const ocfimg*>(img->handle)->state;
}

}  // namespace klv::img

using namespace klv::img;

extern "C" {

KLV_API ocfimg* ocfimg_open_ex(SOVolume* volume, ocfi_info* record, int32_t build_now) {
  if (!record) return nullptr;
  auto* s = new (std::nothrow) ocfimg;
  if (!s) {
    free_ocfi_info(record);
    return nullptr;
  }
  s->record = record;
  s->volume = record->volume ? record->volume : volume;
  s->name = "(OCF record)";
  s->info = stream_description(*record);
  if (build_now && !ensure_built(s)) {
    delete s;
    return nullptr;
  }
  return s;
}

KLV_API ocfimg* ocfimg_open(const char* path, SOVolume* volume, const char* mode,
                            image_info* info) {
  if (!path || !mode) return nullptr;
  if (!std::strchr(mode, 'r') && !std::strchr(mode, 'R')) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": OCF images are read-only (mode \"%s\")", path, mode);
    return nullptr;
  }
  try {
    // Recognition of documents offers other volumes here: they are refused
    // without an error.
    if (!ocfimg_check(volume, path)) {
      KLV_LOG(KLV_LOG_NOTICE, "\"%s\" is not an OCF image reference", path);
      return nullptr;
    }
    ocfi_info* record = load_ocfi_info(volume, path);
    if (!record) return nullptr;
    ocfimg* s = ocfimg_open_ex(volume, record, 0);
    if (!s) return nullptr;
    s->name = path;
    if (info) *info = s->info;
    return s;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": out of memory", path);
    return nullptr;
  }
}

KLV_API const image_info* ocfimg_info(const ocfimg* img) {
  return img ? &img->info : nullptr;
}

KLV_API int32_t ocfimg_read_line(void* img, uint8_t* buffer, int32_t count) {
  auto* s = static_cast<ocfimg*>(img);
  if (!s || !buffer || count <= 0 || !ensure_built(s)) return 0;
  return img_read_line(s->chain, buffer, count);
}

KLV_API int32_t ocfimg_seek_line(void* img, int32_t line, int32_t plane, int32_t page,
                                 int32_t whence) {
  auto* s = static_cast<ocfimg*>(img);
  if (!s || !ensure_built(s)) return -1;
  return img_seek_line(s->chain, line, plane, page, whence);
}

KLV_API int32_t ocfimg_write_line(void* img, uint8_t*, int32_t) {
  auto* s = static_cast<ocfimg*>(img);
  KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": OCF images are read-only; nothing was written",
          s ? s->name.c_str() : "");
  return 0;
}

KLV_API image_cmap* ocfimg_get_cmap(void* img) {
  auto* s = static_cast<ocfimg*>(img);
  if (!s || !ensure_built(s)) return nullptr;
  return img_get_cmap(s->chain);
}

KLV_API int32_t ocfimg_close(void* img) {
  delete static_cast<ocfimg*>(img);
  return 0;
}

KLV_API IMG_file* ocfimg_to_img(ocfimg* img) {
  if (!img) return nullptr;
  auto* out = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!out) {
    ocfimg_close(img);
    return nullptr;
  }
  out->handle = img;
  out->type = KLV_TYPE_OCF;
  out->mode = 'r';
  out->info = img->info;
  out->close = ocfimg_close;
  out->read_line = ocfimg_read_line;
  out->write_line = ocfimg_write_line;
  out->seek_line = ocfimg_seek_line;
  out->get_cmap = ocfimg_get_cmap;
  return out;
}

}  // extern "C"
