// SPDX-License-Identifier: MIT
// The print record's fields of the frame's page: the printer resolution
// nearest the mode's, and the page size and paper path the frame is printed
// on (the smallest of the media's page sizes that holds the frame, else the
// printer's default page size).
#include <cstdio>
#include <cstring>
#include <string>

#include "klv/kernel_stral.h"
#include "klv/printmode.h"
#include "klv/printobj_cxx.h"
#include "klv/prntinfo.h"
#include "print_chain.h"

namespace klv::printing {
namespace {

template <typename T>
void put_at(SP_PRINT* print, size_t at, const T& value) {
  std::memcpy(reinterpret_cast<uint8_t*>(print) + at, &value, sizeof value);
}

void put_text_at(SP_PRINT* print, size_t at, size_t size, const char* text) {
  char* field = reinterpret_cast<char*>(print) + at;
  std::snprintf(field, size, "%s", text ? text : "");
}

struct Page {
  std::string media;  // where the page was found: the media, or "" the printer
  std::string name;
  double width = 0, height = 0;
};

// The smallest page of the media that holds `width` x `height` inches;
// else the printer's default page when the media lists it.
Page page_of(PRNTINFO* printer, const char* media, double width, double height) {
  Page best, fallback;
  const char* preferred = *printer->default_page_size ? printer->default_page_size : nullptr;
  // A media without page sizes of its own takes the printer's.
  const char* where = media;
  SSTRAL* pages = prntinfo_page_sizes(printer, media);
  if (!pages || stral_count(pages) == 0) {
    where = "";
    pages = prntinfo_page_sizes(printer, where);
  }
  for (int32_t i = 0; pages && i < stral_count(pages); ++i) {
    int32_t n = 0;
    const char* const* item = stral_get(pages, i, &n);
    Page p;
    if (n < 1 || !item[0] || !prntinfo_page_size(printer, where, item[0], &p.width, &p.height))
      continue;
    p.media = where;
    p.name = item[0];
    if (preferred && p.name == preferred) fallback = p;
    const bool holds = p.width + 1e-6 >= width && p.height + 1e-6 >= height;
    if (holds && (best.name.empty() || p.width * p.height < best.width * best.height)) best = p;
  }
  return best.name.empty() ? fallback : best;
}

}  // namespace

void fill_page_fields(SP_PRINT* print, PRNTINFO* printer, const CPrintFrameInfo& frame,
                      const CPrintMode* mode) {
  if (!printer) return;
  const char* media = frame.media.c_str();
  double mx = 0, my = 0;
  if (mode && std::sscanf(printmode_res(mode), " %lf x %lf", &mx, &my) >= 1) {
    if (my <= 0) my = mx;
    char wanted[96];
    std::snprintf(wanted, sizeof wanted, "%fx%f", mx, my);
    put_text_at(print, kPrintResolutionAt, kPrintResolutionSize,
                prntinfo_nearest_media_res(printer, media, wanted));
  }
  const double width = print->xres > 0 ? print->width / print->xres : 0;
  const double height = print->yres > 0 ? print->height / print->yres : 0;
  const Page page = page_of(printer, media, width, height);
  if (page.name.empty()) return;
  put_text_at(print, kPrintPageAt, kPrintPageSize, page.name.c_str());
  put_at(print, kPrintPageWidthAt, page.width);
  put_at(print, kPrintPageHeightAt, page.height);
  int32_t sheet = 0;
  uint32_t path = kPaperPathUnknown;
  if (prntinfo_paper_path(printer, page.media.c_str(), page.name.c_str(), &sheet))
    path = sheet ? kPaperPathSheet : kPaperPathRoll;
  put_at(print, kPrintPaperPathAt, path);
}

}  // namespace klv::printing
