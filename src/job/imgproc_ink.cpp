// SPDX-License-Identifier: MIT
// The driver's ink counting stage: the page file's dots go to the printer
// driver's ink counter (klv/inkcount_cxx.h), one row per ink in each line as
// the counter takes them; the counts per ink are kept for the processing
// record and the caller. A printer without a driver object counts nothing.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "imgproc_internal.h"
#include "klv/imgmux.h"
#include "klv/inkcount_cxx.h"
#include "klv/printer_driver.h"
#include "klv/printmode.h"
#include "klv/usage.h"

namespace klv::proc {
namespace {

constexpr int kInks = 4;
constexpr const char* kInkNames[kInks] = {"Cyan", "Magenta", "Yellow", "Black"};

// For a byte of one-bit four-ink pixels (two pixels, inks in order, first
// bit first): the two bits of each ink, first pixel first.
using SplitTable = std::array<std::array<uint8_t, kInks>, 256>;
const SplitTable& split_table() {
  static const SplitTable table = [] {
    SplitTable t{};
    for (int b = 0; b < 256; ++b)
      for (int k = 0; k < kInks; ++k)
        t[b][k] = uint8_t((((b >> (7 - k)) & 1) << 1) | ((b >> (3 - k)) & 1));
    return t;
  }();
  return table;
}

// One line of one-bit four-ink pixels as four rows, each padded to a byte.
void split_line(const uint8_t* pixels, size_t pixel_bytes, size_t row_bytes, uint8_t* rows) {
  const SplitTable& t = split_table();
  std::memset(rows, 0, row_bytes * kInks);
  for (size_t i = 0; i < pixel_bytes; ++i) {
    const auto& two = t[pixels[i]];
    const int shift = 6 - 2 * int(i & 3);
    for (int k = 0; k < kInks; ++k) rows[k * row_bytes + (i >> 2)] |= uint8_t(two[k] << shift);
  }
}

struct PrinterClose {
  void operator()(SP_OBJECT* o) const { SP_close(o); }
};

bool count_page(Job& j, SP_OBJECT* printer, SP_INFO* info, const std::string& page) {
  image_info pi;
  init_image_info(&pi);
  ImgPtr img(img_mux_open(page.c_str(), nullptr, "r", &pi, KLV_TYPE_OUTIMG));
  if (!img || pi.samples != kInks || pi.bits_per_sample != 1 || pi.planar != KLV_PLANAR_PIXEL)
    return j.Fail("Print file \"%s\" cannot be counted", page.c_str());
  image_info rows_info = pi;
  rows_info.planar = KLV_PLANAR_LINES;
  rows_info.bytes_per_line = image_info_line_bytes(&rows_info);
  const size_t row_bytes = rows_info.bytes_per_line / kInks;
  std::vector<uint8_t> pixels(pi.bytes_per_line), rows(size_t(row_bytes) * kInks);
  CInkCountHT counter(printer, info, nullptr);
  if (!counter.Open(rows_info, "", j.name.c_str(), 0, 0, 1, 0, 1))
    return j.Fail("The ink of \"%s\" cannot be counted", page.c_str());
  for (int y = 0; y < pi.height; ++y) {
    if (img_read_line(img.get(), pixels.data(), 1) != 1)
      return j.Fail("Print file \"%s\" cannot be read", page.c_str());
    split_line(pixels.data(), (size_t(pi.width) * kInks + 7) / 8, row_bytes, rows.data());
    if (counter.WriteLine(rows.data(), 1) != 1)
      return j.Fail("The ink of \"%s\" cannot be counted", page.c_str());
  }
  counter.Close();
  const uint32_t inks = std::min<uint32_t>(counter.Inks(), kInks);
  if (j.inks.size() < inks) j.inks.resize(inks, 0);
  for (uint32_t k = 0; k < inks; ++k) j.inks[k] += counter.Dots()[k];
  return true;
}

// The millilitres the dots hold: one-bit output fires the printer's
// "Bilevel" drop at the job's resolution (else the first drop of its
// "Normal" set). Nothing when the printer has no drop table for it.
void add_millilitres(Job& j) {
  if (!j.printer || j.inks.empty()) return;
  if (!j.printer->dot_info) prntinfo_create_dotinfo(j.printer.get());
  const dotinfo* drops = j.printer->dot_info;
  if (!drops) return;
  char res[64];
  std::snprintf(res, sizeof res, "%gx%g", j.xres, j.yres);
  double drop_ml[8] = {};
  if (usage_drop_volumes(drops, res, "Bilevel", drop_ml, 8) < 1 &&
      usage_drop_volumes(drops, res, "Normal", drop_ml, 8) < 1)
    return;
  j.ink_ml.assign(j.inks.size(), 0);
  if (!usage_ink_millilitres(drop_ml, 1, j.inks.data(), int32_t(j.inks.size()), j.ink_ml.data()))
    j.ink_ml.clear();
}

}  // namespace

bool stage_ink(Job& j) {
  if (!j.s->InkCounting && !j.options.count_ink) return true;
  if (j.pattern == DP_CONTONE) {
    j.Message("Contone pages: no dots to count");
    return true;
  }
  int32_t error = 0;
  std::unique_ptr<SP_OBJECT, PrinterClose> printer(SP_open_printer(j.s->PrintDev, &error));
  if (!printer) {
    j.Message("No driver for printer \"" + std::string(j.s->PrintDev) + "\": ink not counted");
    return true;
  }
  SP_INFO* info = SP_find_info(printer.get(), j.s->PrintDev);
  bool ok = info != nullptr;
  for (int page = 1; ok && page <= j.pages; ++page)
    ok = count_page(j, printer.get(), info, page_name_of(*j.s, 'B', page));
  if (info) SP_free_info(printer.get(), info);
  if (!info) j.Message("Printer \"" + std::string(j.s->PrintDev) + "\" has no information");
  if (ok) add_millilitres(j);
  if (ok && j.out)
    for (size_t k = 0; k < j.inks.size(); ++k)
      j.out->ink.push_back({kInkNames[k], j.inks[k], k < j.ink_ml.size() ? j.ink_ml[k] : -1});
  return ok || !info;
}

}  // namespace klv::proc
