// SPDX-License-Identifier: MIT
// What the PostScript/PDF stream learns about a document before it renders:
// the kind of file by its first bytes, and the pages with their sizes, read
// from the file's document structuring comments (PostScript and EPS) or from
// the page report of the interpreter's page-information run (PDF). Pure
// parsing of outside text; nothing here runs a process or touches a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace klv::img {

enum class GsKind { kNone, kPdf, kPostScript, kEps };

// The kind of document that `n` first bytes of a file begin, kNone when they
// begin none that the interpreter stream takes.
GsKind gs_kind(const uint8_t* head, size_t n);

// The binary header of a DOS EPS file: where its PostScript section lies.
struct GsDosEps {
  uint32_t ps_offset = 0;
  uint32_t ps_length = 0;
};
// Reads the 30-byte header; false when it is not one or its section lies
// outside a file of `file_length` bytes.
bool gs_parse_dos_eps(const uint8_t* head, size_t n, uint64_t file_length, GsDosEps* out);

// One page: its size in points (1/72 inch) as the renderer will lay it out.
struct GsPage {
  double width_pt = 0;
  double height_pt = 0;
};

// Pages of a document in order.
struct GsDescription {
  GsKind kind = GsKind::kNone;
  std::vector<GsPage> pages;
};

// Largest page count and page side (points) taken as credible; a document
// stating more is refused.
inline constexpr size_t kGsMaxPages = 100000;
inline constexpr double kGsMaxSidePt = 200.0 * 72.0 * 10.0;

// Reads the structuring comments of a PostScript or EPS document from the
// text of its head and, when the head defers them "(atend)", of its tail
// (either may be empty). EPS: one page the size of %%HiResBoundingBox (or
// %%BoundingBox), which is required. PostScript: %%Pages gives the count (one
// when absent), the page size comes from %%DocumentMedia, else the bounding
// box from the origin, else US Letter. False with `why` set when the comments
// state something unusable.
bool gs_parse_dsc(std::string_view head, std::string_view tail, GsKind kind, GsDescription* out,
                  const char** why);

// Reads the page report of the page-information run: one line per page,
// "KlvPage: x0 y0 x1 y1 rotate" (the media box and the page rotation), other
// lines ignored. False with `why` set when no page is reported or a box is
// unusable.
bool gs_parse_page_report(std::string_view report, GsDescription* out, const char** why);

}  // namespace klv::img
