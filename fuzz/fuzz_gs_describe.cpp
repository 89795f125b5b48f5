// SPDX-License-Identifier: MIT
// Fuzz target for what the PostScript/PDF stream reads about a document
// before rendering: the kind by its first bytes, the DOS EPS header, the
// structuring comments (the input split into a head and a tail) and the
// interpreter's page report, and the header of its separated page file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "img/formats/gs_describe.h"
#include "img/formats/gs_psd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klv::img;
  if (size > (size_t{1} << 20)) return 0;
  const GsKind kind = gs_kind(data, size);
  GsDosEps dos;
  gs_parse_dos_eps(data, size, size, &dos);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t half = size / 2;
  GsDescription d;
  const char* why = "";
  for (GsKind k : {GsKind::kEps, GsKind::kPostScript, kind})
    gs_parse_dsc(text.substr(0, half), text.substr(half), k, &d, &why);
  gs_parse_page_report(text, &d, &why);
  GsPsd psd;
  gs_parse_psd(data, size, &psd, &why);
  return 0;
}
