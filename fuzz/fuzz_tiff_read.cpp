// SPDX-License-Identifier: MIT
// Opens arbitrary bytes as a TIFF file, reads its lines (or tiles) in every
// plane, seeks, lends its lines in place (touching every lent line's first
// and last byte), turns to its next pages (directories) and reads a few lines
// of each, and takes the colour map and the profile.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "klv/tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A few hundred executions a second: an input may state at most 2^16
  // pixels, so no input costs more than decoding that many.
  static const bool limited = setenv("MaxImagePixels", "65536", 1) == 0;
  (void)limited;
  // In memory when the system has a memory file system: rewriting a file on
  // disk for every input costs more than reading it.
  static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  "/klv_fuzz_tiff_" + std::to_string(getpid()) + ".tif";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  image_info info;
  init_image_info(&info);
  void* rec = tif_open(nullptr, path.c_str(), "r", &info);
  if (!rec) return 0;
  const bool tiled = info.planar & KLV_PLANAR_TILED;
  const size_t unit = tiled ? info.tile_words[TIF_TILE_BYTES] : info.bytes_per_line;
  std::vector<uint8_t> buf(unit ? unit : 1);
  const uint32_t planes = (info.planar & 3) == 1 ? info.samples + info.mask_samples : 1;
  const uint32_t per_plane = tiled ? info.tile_words[KLV_TILE_PER_PLANE] : uint32_t(info.height);
  // Bounded: a lying header may announce millions of lines.
  int64_t budget = std::max<int64_t>(1, (int64_t{4} << 20) / int64_t(buf.size()));
  for (uint32_t p = 0; p < planes && budget > 0; ++p) {
    if ((tiled ? tif_seek_tile(rec, 0, int32_t(p), 0, 0)
               : tif_seek_line(rec, 0, int32_t(p), 0, 0)) < 0)
      break;
    for (uint32_t u = 0; u < per_plane && budget-- > 0; ++u)
      if ((tiled ? tif_read_tile(rec, buf.data(), 1) : tif_read_line(rec, buf.data(), 1)) != 1)
        break;
  }
  if (!tiled && tif_seek_line(rec, 0, 0, 0, 2) >= 0) tif_read_line(rec, buf.data(), 1);
  if (!tiled && info.bytes_per_line && tif_seek_line(rec, 0, 0, 0, 0) >= 0) {
    volatile uint8_t sink = 0;
    const uint8_t* lines = nullptr;
    for (int32_t n; (n = tif_lend_lines(rec, &lines, 16)) > 0;)
      for (int32_t l = 0; l < n; ++l) {
        const uint8_t* line = lines + size_t(l) * info.bytes_per_line;
        sink = sink + line[0] + line[info.bytes_per_line - 1];
      }
  }
  for (int32_t page = 1; page < int32_t(std::min<uint32_t>(info.pages, 4)); ++page) {
    if ((tiled ? tif_seek_tile(rec, 0, 0, page, 0) : tif_seek_line(rec, 0, 0, page, 0)) < 0)
      continue;
    for (int u = 0; u < 4; ++u)
      if ((tiled ? tif_read_tile(rec, buf.data(), 1) : tif_read_line(rec, buf.data(), 1)) != 1)
        break;
  }
  free_cmap(tif_get_cmap(rec));
  checkin_image_profile(tif_get_profile(rec));
  tif_close(rec);
  return 0;
}
