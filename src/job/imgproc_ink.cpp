// SPDX-License-Identifier: MIT
// The driver's ink counting: each page file's dots go to the printer
// driver's ink counter (klv/inkcount_cxx.h) as the screening writes them
// (one row per ink in each line, as the counter takes them), so that the
// page is not read back; the ink stage then takes the counts per ink for the
// processing record and the caller. A printer without a driver object
// counts nothing.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
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
// bit first): byte k holds ink k's two bits at the top (first pixel first).
// Four such bytes of consecutive input bytes, each shifted two bits further
// down, make one whole byte per ink: a 32-bit OR does all four inks at once.
using SplitTable = std::array<uint32_t, 256>;
const SplitTable& split_table() {
  static const SplitTable table = [] {
    SplitTable t{};
    for (uint32_t b = 0; b < 256; ++b)
      for (int k = 0; k < kInks; ++k) {
        const uint32_t two = (((b >> (7 - k)) & 1) << 1) | ((b >> (3 - k)) & 1);
        t[b] |= (two << 6) << (8 * k);
      }
    return t;
  }();
  return table;
}

// One line of one-bit four-ink pixels as four rows, each padded to a byte.
void split_line(const uint8_t* pixels, size_t pixel_bytes, size_t row_bytes, uint8_t* rows) {
  const SplitTable& t = split_table();
  uint8_t* row[kInks] = {rows, rows + row_bytes, rows + 2 * row_bytes, rows + 3 * row_bytes};
  size_t i = 0, o = 0;
  for (; i + 4 <= pixel_bytes; i += 4, ++o) {
    const uint32_t v =
        t[pixels[i]] | t[pixels[i + 1]] >> 2 | t[pixels[i + 2]] >> 4 | t[pixels[i + 3]] >> 6;
    for (int k = 0; k < kInks; ++k) row[k][o] = uint8_t(v >> (8 * k));
  }
  if (i < pixel_bytes) {
    uint32_t v = 0;
    for (int shift = 0; i < pixel_bytes; ++i, shift += 2) v |= t[pixels[i]] >> shift;
    for (int k = 0; k < kInks; ++k) row[k][o] = uint8_t(v >> (8 * k));
  }
}

struct PrinterClose {
  void operator()(SP_OBJECT* o) const { SP_close(o); }
};

}  // namespace

// The printer whose driver counts the dots, opened for the first page, and
// the counts of the pages so far.
struct InkTally {
  std::unique_ptr<SP_OBJECT, PrinterClose> printer;
  SP_INFO* info = nullptr;
  std::vector<uint64_t> dots;
  std::string failed;  // the page whose dots could not be counted
  ~InkTally() {
    if (info) SP_free_info(printer.get(), info);
  }
};

namespace {

bool counting(const Job& j) {
  return (j.s->InkCounting || j.options.count_ink) && j.pattern != DP_CONTONE;
}

// The page file as it is written: every line goes to the file, then to the
// driver's ink counter. A line the counter refuses stops the counting (the
// stage after tells), not the page.
class CountingDots : public CIMG_file {
 public:
  CountingDots(InkTally* tally, IMG_file* dots, const std::string& page, const char* job)
      : tally_(tally),
        dots_(dots),
        page_(page),
        counter_(tally->printer.get(), tally->info, nullptr) {
    m_info = dots->info;
    rows_info_ = m_info;
    rows_info_.planar = KLV_PLANAR_LINES;
    rows_info_.bytes_per_line = image_info_line_bytes(&rows_info_);
    row_bytes_ = rows_info_.bytes_per_line / kInks;
    pixel_bytes_ = (size_t(m_info.width) * kInks + 7) / 8;
    rows_.resize(row_bytes_ * kInks);
    counting_ = counter_.Open(rows_info_, "", job, 0, 0, 1, 0, 1);
  }
  ~CountingDots() override {
    if (dots_) img_close(dots_);
  }
  int32_t WriteLine(unsigned char* lines, int32_t count) override {
    const int32_t written = img_write_line(dots_, lines, count);
    for (int32_t y = 0; counting_ && y < written; ++y, lines += m_info.bytes_per_line) {
      split_line(lines, pixel_bytes_, row_bytes_, rows_.data());
      counting_ = counter_.WriteLine(rows_.data(), 1) == 1;
    }
    m_line += std::max(0, written);
    return written;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return img_seek_line(dots_, line, plane, page, whence);
  }
  int32_t GetStatus(int32_t what) override { return img_status(dots_, what); }
  int32_t Close() override {
    const int32_t r = img_close_status(dots_);
    dots_ = nullptr;
    counter_.Close();
    if (!counting_ || m_line < m_info.height) {
      if (tally_->failed.empty()) tally_->failed = page_;
      return r;
    }
    const uint32_t inks = std::min<uint32_t>(counter_.Inks(), kInks);
    if (tally_->dots.size() < inks) tally_->dots.resize(inks, 0);
    for (uint32_t k = 0; k < inks; ++k) tally_->dots[k] += counter_.Dots()[k];
    return r;
  }

 private:
  InkTally* tally_;
  IMG_file* dots_;
  std::string page_;
  CInkCountHT counter_;
  image_info rows_info_{};
  size_t row_bytes_ = 0, pixel_bytes_ = 0;
  std::vector<uint8_t> rows_;
  bool counting_ = false;
};

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

IMG_file* count_ink_while_writing(Job& j, IMG_file* dots, const std::string& page) {
  if (!dots || !counting(j)) return dots;
  if (!j.ink_tally) {
    j.ink_tally = std::make_shared<InkTally>();
    int32_t error = 0;
    j.ink_tally->printer.reset(SP_open_printer(j.s->PrintDev, &error));
    if (j.ink_tally->printer)
      j.ink_tally->info = SP_find_info(j.ink_tally->printer.get(), j.s->PrintDev);
  }
  InkTally& t = *j.ink_tally;
  if (!t.info) return dots;  // told by the ink stage
  const image_info& i = dots->info;
  if (i.samples != kInks || i.bits_per_sample != 1 || i.planar != KLV_PLANAR_PIXEL) {
    if (t.failed.empty()) t.failed = page;
    return dots;
  }
  return (new CountingDots(&t, dots, page, j.name.c_str()))->ToImg('w', dots->type);
}

bool stage_ink(Job& j) {
  if (!j.s->InkCounting && !j.options.count_ink) return true;
  if (j.pattern == DP_CONTONE) {
    j.Message("Contone pages: no dots to count");
    return true;
  }
  const InkTally* t = j.ink_tally.get();
  if (!t || !t->printer) {
    j.Message("No driver for printer \"" + std::string(j.s->PrintDev) + "\": ink not counted");
    return true;
  }
  if (!t->info) {
    j.Message("Printer \"" + std::string(j.s->PrintDev) + "\" has no information");
    return true;
  }
  if (!t->failed.empty()) return j.Fail("The ink of \"%s\" cannot be counted", t->failed.c_str());
  j.inks = t->dots;
  add_millilitres(j);
  if (j.out)
    for (size_t k = 0; k < j.inks.size(); ++k)
      j.out->ink.push_back({kInkNames[k], j.inks[k], k < j.ink_ml.size() ? j.ink_ml[k] : -1});
  return true;
}

}  // namespace klv::proc
