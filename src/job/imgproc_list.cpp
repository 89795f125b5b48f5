// SPDX-License-Identifier: MIT
// The print-file list of a job: its entries (the page files in page order)
// and the settings text file "printfiles { ... }" at the job's Printpath,
// written under a temporary name and renamed only once it is whole.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "imgproc_internal.h"
#include "klv/imgmux.h"
#include "klv/log.h"

namespace klv::proc {
namespace {

namespace fs = std::filesystem;

// The most tiles a side is cut into.
constexpr int kMaxTiles = 99;

// An entry the list's quoted text can hold.
bool quotable(const std::string& text) {
  return text.find_first_of("\"\r\n") == std::string::npos;
}

bool write_list(const std::string& path, const SSTRAL* entries) {
  const std::string temp = path + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wt");
  if (!f) return false;
  bool ok = std::fputs("printfiles {\n", f) >= 0;
  for (int32_t i = 0; ok && i < stral_count(entries); ++i)
    ok = std::fprintf(f, " \"%s\"\n", stral_str(entries, i, 0)) > 0;
  ok = ok && std::fputs("}\n", f) >= 0;
  ok = std::fclose(f) == 0 && ok;
  std::error_code ec;
  if (ok) fs::rename(temp, path, ec);
  if (!ok || ec) {
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

// How many tiles of the list `sizes` (then `fallback` each) cut a side of
// `inches`: whole tiles while the rest is wider than the next tile, and one
// more for a rest at least a pixel wide that is wider than the overlap or
// is all there is. A side without tile sizes is one tile.
int tiles_across(double inches, double dpi, const double* sizes, int count, double fallback,
                 double scale, double overlap) {
  int tiles = 0;
  double rest = inches;
  for (int i = 0; tiles < kMaxTiles; ++i) {
    const double tile = (i < count && sizes ? sizes[i] : fallback) * scale;
    if (!(tile > 0) || rest <= tile) break;
    rest -= tile;
    ++tiles;
  }
  if (rest * dpi >= 1 && (rest > overlap || tiles == 0)) ++tiles;
  return std::clamp(tiles, 1, kMaxTiles);
}

// The tile entries of one page file: for every tile, row by row, its
// contone entry when the page has a contone file, its spot entry when the
// job prints spot colours separately, and its halftoned entry.
bool add_tiles(SSTRAL* list, const settings& s, int page, double x_scale, double y_scale) {
  const std::string b_page = page_name_of(s, 'B', page), c_page = page_name_of(s, 'C', page);
  std::error_code ec;
  const bool halftoned = std::filesystem::is_regular_file(b_page, ec);
  const bool contone = std::filesystem::is_regular_file(c_page, ec);
  image_info info;
  init_image_info(&info);
  IMG_file* img =
      img_mux_open((halftoned ? b_page : c_page).c_str(), nullptr, "r", &info, KLV_TYPE_OUTIMG);
  if (!img) {
    ErrorLogf(KLV_LOG_ERROR, kTag, 0, "page file of page %d cannot be opened", page);
    return false;
  }
  img_close(img);
  const settings_crop& c = *s.Cropping;
  const double xres = info.xres > 0 ? info.xres : 72, yres = info.yres > 0 ? info.yres : 72;
  const int columns =
      tiles_across(info.width / xres, xres, c.TileX, c.TileXCount, c.TileWidth, x_scale, c.Overlap);
  const int rows = tiles_across(info.height / yres, yres, c.TileY, c.TileYCount, c.TileHeight,
                                y_scale, c.Overlap);
  const std::string base = print_base_of(s);
  const bool spot = s.PrintType == 2 && s.NumSpotColor > 0;
  for (int row = 1; row <= rows; ++row)
    for (int column = 1; column <= columns; ++column)
      for (const char kind : {'C', 'S', 'B'}) {
        if ((kind == 'C' && !contone) || (kind == 'S' && !spot) || (kind == 'B' && !halftoned))
          continue;
        char tail[48];
        std::snprintf(tail, sizeof tail, "%02d%c.%02dP%03d", row, kind, column, page);
        const std::string entry = "* " + base + tail;
        const char* one = entry.c_str();
        if (!quotable(entry) || stral_add(list, &one, 1) < 0) return false;
      }
  return true;
}

// Whether page `page` has a page file of either kind.
bool page_exists(const settings& s, int page, bool contone_too) {
  std::error_code ec;
  return std::filesystem::is_regular_file(page_name_of(s, 'B', page), ec) ||
         (contone_too && std::filesystem::is_regular_file(page_name_of(s, 'C', page), ec));
}

}  // namespace

bool tiled_job(const settings& s) {
  const settings_crop* c = s.Cropping;
  return c && !c->NoTiles &&
         (c->TileWidth > 0 || c->TileHeight > 0 || c->TileXCount > 0 || c->TileYCount > 0);
}

}  // namespace klv::proc

using namespace klv::proc;

SSTRAL* get_prt_stral(SOVolume* /*volume*/, const settings* record, int32_t tiled, double x_scale,
                      double y_scale) {
  if (!record || print_base_of(*record).empty()) return nullptr;
  if (tiled && !record->Cropping) return nullptr;
  SSTRAL* list = _stral_new();
  if (!list) return nullptr;
  for (int page = 1; tiled && page <= 999 && page_exists(*record, page, true); ++page) {
    if (!add_tiles(list, *record, page, x_scale > 0 ? x_scale : 1, y_scale > 0 ? y_scale : 1)) {
      stral_free(list);
      return nullptr;
    }
  }
  // Not tiled: the halftoned pages, or the contone pages of a job that has
  // none.
  std::error_code none;
  const char kind =
      std::filesystem::is_regular_file(page_name_of(*record, 'B', 1), none) ? 'B' : 'C';
  for (int page = 1; !tiled && page <= 999; ++page) {
    const std::string name = page_name_of(*record, kind, page);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(name, ec)) break;
    const char* one = name.c_str();
    if (!quotable(name) || stral_add(list, &one, 1) < 0) {
      ErrorLogf(KLV_LOG_ERROR, kTag, 0, "print file \"%s\" cannot be listed", one);
      stral_free(list);
      return nullptr;
    }
  }
  if (stral_count(list) == 0) {
    stral_free(list);
    return nullptr;
  }
  return list;
}

int32_t proc_make_prt_file(SOVolume* volume, const settings* record, int32_t tiled) {
  if (!record) return 0;
  const std::string path = list_path_of(*record);
  SSTRAL* entries = get_prt_stral(volume, record, tiled, 1.0, 1.0);
  if (!entries) {
    ErrorLogf(KLV_LOG_ERROR, kTag, 0, "no print files to list for \"%s\"", path.c_str());
    return 0;
  }
  const bool ok = !path.empty() && write_list(path, entries);
  stral_free(entries);
  if (!ok)
    ErrorLogf(KLV_LOG_ERROR, kTag, 0, "cannot write the print-file list \"%s\"", path.c_str());
  return ok ? 1 : 0;
}
