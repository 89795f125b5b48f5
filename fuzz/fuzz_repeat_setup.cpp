// SPDX-License-Identifier: MIT
// Fuzz target for the step-and-repeat settings reader: arbitrary text read
// as a settings block; settings that read are then attached over a small
// blank pattern and, when the page is small, every page line is made.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "klv/log.h"
#include "klv/repeat.h"
#include "klv/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    ErrorLogSetThreshold(KLV_LOG_ERROR + 1);
    return true;
  }();
  (void)quiet;
  if (size > 65536) return 0;
  RepeatFileInfo r;
  if (!parse_repeat_info(reinterpret_cast<const char*>(data), int32_t(size), &r)) return 0;
  image_info info;
  init_image_info(&info);
  info.width = 5;
  info.height = 3;
  info.samples = 3;
  info.bits_per_sample = 8;
  info.photometric = KLV_PHOTO_MINBLACK;
  info.bytes_per_line = image_info_line_bytes(&info);
  IMG_file* page =
      RPTFLTR_attach(null_open_img("pattern", nullptr, "r", &info), &r.settings, nullptr);
  if (!page) return 0;
  const uint64_t pixels = uint64_t(uint32_t(page->info.width)) * uint32_t(page->info.height);
  if (pixels <= 200000) {
    std::vector<uint8_t> line(page->info.bytes_per_line);
    for (int32_t y = 0; y < page->info.height; ++y)
      if (img_read_line(page, line.data(), 1) != 1) break;
  }
  img_close(page);
  return 0;
}
