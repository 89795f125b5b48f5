// SPDX-License-Identifier: MIT
// The contone copy of a job (its PrintCache setting): every page of the
// image as the output chain reads it (cropped, at the printer's resolution
// and size, turned, with its colour adjustments and bleed, still in the
// image's own colours with its embedded profile) kept as a tiled TIFF, so
// that later runs of the job screen from it instead of reading, scaling and
// adjusting the original again. A job volume keeps the pages as members
// ".\Contone.T001", ...; a job folder keeps them beside the print files as
// "<base>.T001", .... Each page has a description member or file
// ("<page>.Info") that names the source (path, size, modification time) and
// the processing description it was made with; it is written last, so a
// page without it is incomplete, and a later run reuses a page only when its
// description is the one the run would write. Any failure removes the page
// being written.
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "imgproc_internal.h"
#include "img/formats/ocf_stream.h"
#include "klv/imgmux.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/tilefilter.h"
#include "klv/ucc.h"

namespace klv::proc {

struct VolumeCloser {
  void operator()(SOVolume* v) const { VClose(v); }
};

// Where the job's contone pages are kept, and which of them stage 8 reads.
struct ContoneCopy {
  std::unique_ptr<SOVolume, VolumeCloser> volume;  // the job volume, when the job is one
  std::string stem;                                // "<base>" or ".\\Contone"
  std::string Page(int page) const {
    char ext[16];
    std::snprintf(ext, sizeof ext, ".T%03d", page + 1);
    return stem + ext;
  }
  std::string Info(int page) const { return Page(page) + ".Info"; }
  void Remove(int page) const {
    Oremove(volume.get(), Info(page).c_str());
    Oremove(volume.get(), Page(page).c_str());
  }
};

void ContoneCopyFree::operator()(ContoneCopy* c) const {
  delete c;
}

namespace {

namespace fs = std::filesystem;

// Lines copied per band.
constexpr int kBand = 64;
// Tiles of the copy.
constexpr uint32_t kTile = 256;

// FNV-1a over a byte string.
uint64_t fnv(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::string read_all(SOVolume* volume, const std::string& path) {
  SFilemux* f = Ovfopen(volume, path.c_str(), "rb");
  if (!f) return {};
  std::string text;
  char buffer[4096];
  for (size_t n; (n = Oread(f, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  Oclose(f);
  return text;
}

// The adjustments of the job's colour chain as a signature of their saved
// form ("none" without any).
std::string adjust_signature(Job& j, const ContoneCopy& c) {
  if (!j.adjust || !j.chain) return "none";
  TempFile saved;
  saved.path =
      c.volume ? (fs::temp_directory_path() / ("klv-contone-" + std::to_string(getpid()) + ".ucc"))
                     .string()
               : c.stem + ".T.ucc";
  if (!save_ucc(nullptr, saved.path.c_str(), j.chain.get())) return "unknown";
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIx64, fnv(read_all(nullptr, saved.path)));
  return text;
}

// The description a page made now would carry; empty when the source cannot
// be told apart from a changed one (not a host file), so never reused.
std::string description_of(Job& j, int page, const std::string& adjust) {
  struct stat st {};
  if (::stat(j.s->Imagepath, &st) != 0 || j.options.open_image) return {};
  char text[2048];
  const image_info& l = j.lines;
  const cropfltr_info& k = j.crop;
  const ocfi_info& b = j.bleed;
  std::snprintf(text, sizeof text,
                "Source \"%s\"\nSize %lld\nModified %lld.%09ld\nPage %d\n"
                "Lines %dx%d %.17gx%.17g dpi, %u samples, photometric %u\n"
                "Rotation %d\nCrop %d %.17g %.17g %.17g %.17g\nAdjust %s\n"
                "Bleed %d %d %d %d %d %d\n",
                j.s->Imagepath, static_cast<long long>(st.st_size),
                static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec, page + 1, l.width,
                l.height, l.xres, l.yres, l.samples, l.photometric, j.rotation, j.cropped ? 1 : 0,
                k.x1, k.y1, k.x2, k.y2, adjust.c_str(), b.bleed_on, b.bleed.mode, j.bleed_px[0],
                j.bleed_px[1], j.bleed_px[2], j.bleed_px[3]);
  std::string d = text;
  for (int i = 0; i < KLV_OCF_BLEED_PIXELS; ++i) d += " " + std::to_string(b.bleed_pixel[i]);
  return d + "\nProfile " + std::to_string(fnv(std::string(j.profile.begin(), j.profile.end()))) +
         "\n";
}

// The tiled file of one page, opened for writing lines; null when it
// cannot be made.
IMG_file* open_tiled(Job& j, const ContoneCopy& c, int page) {
  image_info info = j.lines;
  info.planar = KLV_PLANAR_PIXEL | KLV_PLANAR_TILED;
  info.tile_words[KLV_TILE_WIDTH] = kTile;
  info.tile_words[KLV_TILE_HEIGHT] = kTile;
  info.pages = 1;
  image_profile* profile = nullptr;
  if (!j.profile.empty()) {
    profile = static_cast<image_profile*>(std::malloc(sizeof(image_profile) + j.profile.size()));
    if (!profile) return nullptr;
    profile->size = uint32_t(j.profile.size());
    std::memcpy(profile->data, j.profile.data(), j.profile.size());
    info.profile_word = profile;
  }
  IMG_file* tif = img_mux_open(c.Page(page).c_str(), c.volume.get(), "w", &info, KLV_TYPE_TIFF);
  std::free(profile);
  return tif ? tilefilter_attachtiledimg(tif, 0) : nullptr;
}

// Copies every line of `in` into `out` in bands, polling for cancellation
// and telling the progress of the copy; false after telling why.
bool copy_bands(Job& j, IMG_file* in, IMG_file* out, int page, const std::string& name) {
  const size_t line = j.lines.bytes_per_line;
  std::unique_ptr<uint8_t[]> band(new (std::nothrow) uint8_t[line * kBand]);
  if (!band) return j.Fail("Cannot allocate buffer!");
  const int64_t total = int64_t(j.height) * j.pages;
  for (int done = 0; done < j.height;) {
    if (j.Cancelled())
      return j.Fail("Cancelled while writing the contone copy of \"%s\"", j.name.c_str());
    const int n = std::min(kBand, j.height - done);
    if (img_read_line(in, band.get(), n) != n)
      return j.Fail("Reading \"%s\" failed at line %d", j.s->Imagepath, done);
    if (img_write_line(out, band.get(), n) != n)
      return j.Fail("Writing the contone copy \"%s\" failed at line %d", name.c_str(), done);
    done += n;
    j.Progress(int64_t(j.height) * page + done, total);
  }
  return true;
}

// Writes page `page` of the copy and then its description; removes both on
// any failure.
bool write_page(Job& j, int page, const std::string& description) {
  ContoneCopy& c = *j.contone;
  c.Remove(page);
  ImgPtr in(page_lines(j, page));
  if (!in) return false;
  ImgPtr out(open_tiled(j, c, page));
  bool ok = out != nullptr;
  if (!ok) j.Fail("Cannot create the contone copy \"%s\"", c.Page(page).c_str());
  ok = ok && copy_bands(j, in.get(), out.get(), page, c.Page(page));
  if (out) {
    const bool closed = img_status(out.get(), 0) == 1 && img_close_status(out.release()) == 0;
    if (ok && !closed) ok = j.Fail("Writing the contone copy \"%s\" failed", c.Page(page).c_str());
  }
  if (ok && !description.empty()) {
    SFilemux* f = Ovfopen(c.volume.get(), c.Info(page).c_str(), "wb");
    ok = f && Owrite(f, description.data(), description.size()) == description.size();
    ok = (f && Oclose(f) == 0) && ok;
    if (!ok)
      j.Fail("Cannot write the description of the contone copy \"%s\"", c.Page(page).c_str());
  }
  if (!ok) c.Remove(page);
  return ok;
}

// Where the copy goes: members of the job volume, else beside the print
// files.
bool place_copy(Job& j) {
  auto c = std::make_unique<ContoneCopy>();
  std::error_code ec;
  if (!j.job.empty() && !fs::is_directory(j.job, ec) && VIsVolume(nullptr, j.job.c_str())) {
    c->volume.reset(VOpen(nullptr, j.job.c_str(), KLV_VOL_UPDATE));
    if (!c->volume) return j.Fail("Cannot open the job volume \"%s\"", j.job.c_str());
    c->stem = ".\\Contone";
  } else {
    c->stem = print_base_of(*j.s);
  }
  j.contone.reset(c.release());
  return true;
}

}  // namespace

bool stage_contone(Job& j) {
  if (!j.s->PrintCache) return true;  // screened straight from the image
  if (!place_copy(j)) return false;
  const std::string adjust = adjust_signature(j, *j.contone);
  int reused = 0;
  std::vector<int> written;
  for (int page = 0; page < j.pages; ++page) {
    const std::string description = description_of(j, page, adjust);
    const ContoneCopy& c = *j.contone;
    if (!description.empty() && Ofileexists(c.volume.get(), c.Page(page).c_str(), 0) &&
        read_all(c.volume.get(), c.Info(page)) == description) {
      ++reused;
      continue;
    }
    if (written.empty()) j.Status("Writing the contone copy of " + j.name);
    if (!write_page(j, page, description)) {
      // A copy left unfinished is not kept: the pages written by this run
      // go with the failed page.
      for (int done : written) j.contone->Remove(done);
      return false;
    }
    written.push_back(page);
  }
  j.Message(reused == j.pages ? "The contone copy of the job is reused"
            : reused > 0      ? "The contone copy of the job is partly rebuilt"
                              : "The contone copy of the job is written");
  // The screening reports its own run of progress.
  j.last_tenths = -1;
  return true;
}

IMG_file* open_contone(Job& j, int page) {
  const ContoneCopy& c = *j.contone;
  image_info info;
  init_image_info(&info);
  IMG_file* tif = img_mux_open(c.Page(page).c_str(), c.volume.get(), "r", &info, KLV_TYPE_TIFF);
  if (!tif) return j.Fail("Cannot open the contone copy \"%s\"", c.Page(page).c_str()), nullptr;
  // Its lines are the page's already: the line filter only lays its tiles
  // out as lines.
  filter_info options{};
  IMG_file* in = filter_img_attach(tif, &j.lines, &options);
  if (!in) j.Fail("Cannot read the contone copy \"%s\"", c.Page(page).c_str());
  return in;
}

}  // namespace klv::proc
