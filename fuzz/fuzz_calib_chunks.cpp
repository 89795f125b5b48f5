// SPDX-License-Identifier: MIT
// Reads arbitrary bytes as a calibration file: every binary chunk reader
// (LNTB at two precisions, DNTB, every GBTB chunk with and without control
// points, every HMTB chunk) over a memory stream, then the text lines SCTB and
// SDTB through the settings reader.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "klv/calib.h"
#include "klv/kernel_layers.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"

namespace {

void read_binary(SFilemux* s) {
  for (int32_t bits : {16, 8}) {
    uint16_t** t = nullptr;
    int32_t count = 0;
    if (read_lntb(s, bits, &t, &count)) free_lntb(t, count);
  }
  uint16_t** d = nullptr;
  if (read_dntb(s, 11, &d)) free_lntb(d, 4);

  for (bool points : {true, false}) {
    Oseek(s, 0, SEEK_SET);
    for (int n = 0; n < 64; ++n) {  // each call moves past one chunk at least
      uint16_t** t = nullptr;
      int32_t count = 0;
      GBCP* cp = nullptr;
      if (!read_gbtb(s, &t, &count, points ? &cp : nullptr)) break;
      free_gbtb(t, count, cp);
    }
  }
  Oseek(s, 0, SEEK_SET);
  for (int n = 0; n < 4; ++n) {
    uint16_t* h = nullptr;
    int32_t count = 0;
    if (!read_hmtb(s, &h, &count)) break;
    free_hmtb(h);
  }
}

void read_text(SFilemux* s) {
  Oseek(s, 0, SEEK_SET);
  if (SFPARSE* fp = fp_attach(s)) {
    SCTB r;
    read_sctb(fp, &r);
    fp_close(fp);
  }
  Oseek(s, 0, SEEK_SET);
  if (SFPARSE* fp = fp_attach(s)) {
    SDTB* l = nullptr;
    if (read_sdtb(fp, &l)) free_sdtb(l);
    fp_close(fp);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SFilemux* s = Omemopen(data, size);
  if (!s) return 0;
  read_binary(s);
  read_text(s);
  Oclose(s);
  return 0;
}
