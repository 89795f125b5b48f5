// SPDX-License-Identifier: MIT
// Recognition of PDF, PostScript and EPS files and the parsing of their page
// descriptions (structuring comments, the interpreter's page report).
#include "img/formats/gs_describe.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace klv::img {
namespace {

constexpr uint8_t kDosEpsMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
constexpr double kLetterWidthPt = 612.0, kLetterHeightPt = 792.0;

bool starts_with(const uint8_t* h, size_t n, const char* text) {
  const size_t k = std::strlen(text);
  return n >= k && std::memcmp(h, text, k) == 0;
}

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The lines of a text, each without its end of line (LF, CR or CRLF).
template <typename Fn>
void for_each_line(std::string_view text, Fn fn) {
  size_t i = 0;
  while (i < text.size()) {
    size_t e = i;
    while (e < text.size() && text[e] != '\n' && text[e] != '\r') ++e;
    fn(text.substr(i, e - i));
    if (e < text.size() && text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ++e;
    i = e + 1;
  }
}

// Up to `max` numbers after `key` on a line that begins with it; the count read.
int numbers_after(std::string_view line, std::string_view key, double* out, int max) {
  if (line.substr(0, key.size()) != key) return 0;
  std::string rest(line.substr(key.size()));
  const char* p = rest.c_str();
  int count = 0;
  while (count < max) {
    char* end = nullptr;
    const double v = std::strtod(p, &end);
    if (end == p || !std::isfinite(v)) break;
    out[count++] = v;
    p = end;
  }
  return count;
}

bool credible_side(double pt) {
  return pt > 0 && pt <= kGsMaxSidePt;
}

// The comments a head or tail states; later values win over earlier ones
// only where the head deferred them.
struct DscFields {
  bool has_bbox = false, has_hires = false, has_media = false, has_pages = false;
  double bbox[4] = {}, hires[4] = {}, media[2] = {};
  double pages = 0;
};

void read_dsc(std::string_view text, DscFields* f) {
  for_each_line(text, [f](std::string_view line) {
    if (line.size() < 3 || line[0] != '%' || line[1] != '%') return;
    double v[4];
    if (!f->has_hires && numbers_after(line, "%%HiResBoundingBox:", v, 4) == 4) {
      f->has_hires = true;
      std::memcpy(f->hires, v, sizeof v);
    } else if (!f->has_bbox && numbers_after(line, "%%BoundingBox:", v, 4) == 4) {
      f->has_bbox = true;
      std::memcpy(f->bbox, v, sizeof v);
    } else if (!f->has_pages && numbers_after(line, "%%Pages:", v, 1) == 1) {
      f->has_pages = true;
      f->pages = v[0];
    } else if (!f->has_media && line.substr(0, 16) == "%%DocumentMedia:") {
      // "%%DocumentMedia: name width height weight colour type"
      std::string_view rest = line.substr(16);
      while (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
      const size_t sp = rest.find(' ');
      if (sp != std::string_view::npos && numbers_after(rest.substr(sp), "", v, 2) == 2) {
        f->has_media = true;
        f->media[0] = v[0];
        f->media[1] = v[1];
      }
    }
  });
}

}  // namespace

GsKind gs_kind(const uint8_t* head, size_t n) {
  if (!head) return GsKind::kNone;
  if (n >= 4 && std::memcmp(head, kDosEpsMagic, 4) == 0) return GsKind::kEps;
  if (starts_with(head, n, "%PDF-")) return GsKind::kPdf;
  if (starts_with(head, n, "%!PS")) {
    // "%!PS-Adobe-3.0 EPSF-3.0": the first line names the EPS form.
    std::string_view first(reinterpret_cast<const char*>(head), n);
    first = first.substr(0, first.find_first_of("\r\n"));
    return first.find("EPSF") != std::string_view::npos ? GsKind::kEps : GsKind::kPostScript;
  }
  return GsKind::kNone;
}

bool gs_parse_dos_eps(const uint8_t* head, size_t n, uint64_t file_length, GsDosEps* out) {
  if (!head || n < 30 || std::memcmp(head, kDosEpsMagic, 4) != 0) return false;
  const uint32_t offset = le32(head + 4), length = le32(head + 8);
  if (offset < 30 || length == 0 || uint64_t(offset) + length > file_length) return false;
  out->ps_offset = offset;
  out->ps_length = length;
  return true;
}

bool gs_parse_dsc(std::string_view head, std::string_view tail, GsKind kind, GsDescription* out,
                  const char** why) {
  DscFields f;
  read_dsc(head, &f);
  read_dsc(tail, &f);  // fills only what the head left open ("(atend)")
  const double* box = f.has_hires ? f.hires : (f.has_bbox ? f.bbox : nullptr);
  out->kind = kind;
  out->pages.clear();
  if (kind == GsKind::kEps) {
    if (!box) return *why = "the EPS file has no %%BoundingBox", false;
    const GsPage page{box[2] - box[0], box[3] - box[1]};
    if (!credible_side(page.width_pt) || !credible_side(page.height_pt))
      return *why = "the EPS bounding box is empty or too large", false;
    out->pages.push_back(page);
    return true;
  }
  GsPage page{kLetterWidthPt, kLetterHeightPt};
  if (f.has_media) {
    page = GsPage{f.media[0], f.media[1]};
  } else if (box && box[0] >= 0 && box[1] >= 0 && box[2] > 0 && box[3] > 0) {
    page = GsPage{box[2], box[3]};
  }
  if (!credible_side(page.width_pt) || !credible_side(page.height_pt))
    return *why = "the stated page size is empty or too large", false;
  double count = f.has_pages ? f.pages : 1;
  if (count == 0) count = 1;  // "%%Pages: 0" is written by some producers for one page
  if (count < 0 || count > double(kGsMaxPages) || count != std::floor(count))
    return *why = "the stated page count is not credible", false;
  out->pages.assign(size_t(count), page);
  return true;
}

bool gs_parse_page_report(std::string_view report, GsDescription* out, const char** why) {
  out->kind = GsKind::kPdf;
  out->pages.clear();
  bool bad = false;
  for_each_line(report, [&](std::string_view line) {
    double v[5];
    if (bad || numbers_after(line, "KlvPage:", v, 5) != 5) return;
    GsPage page{std::fabs(v[2] - v[0]), std::fabs(v[3] - v[1])};
    const long quarter = std::fabs(v[4]) < 1e6 ? std::lround(v[4] / 90.0) : 0;
    if (quarter % 2 != 0) std::swap(page.width_pt, page.height_pt);
    if (!credible_side(page.width_pt) || !credible_side(page.height_pt) ||
        out->pages.size() >= kGsMaxPages) {
      bad = true;
      return;
    }
    out->pages.push_back(page);
  });
  if (bad) return *why = "a page is empty, too large or one of too many", false;
  if (out->pages.empty()) return *why = "the document reports no pages", false;
  return true;
}

}  // namespace klv::img
