// SPDX-License-Identifier: MIT
// Fuzz target for the step-and-repeat settings reader: arbitrary text read
// as a settings block; settings that read are then attached over a small
// blank pattern and, when the page is small, every page line is made.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "klv/log.h"
#include "klv/repeat.h"
#include "klv/cimg_file.h"

namespace {

// A 5 x 3 RGB pattern of distinct bytes.
class Pattern : public CIMG_file {
 public:
  Pattern() {
    init_image_info(&m_info);
    m_info.width = 5;
    m_info.height = 3;
    m_info.samples = 3;
    m_info.bits_per_sample = 8;
    m_info.photometric = KLV_PHOTO_MINBLACK;
    m_info.xres = m_info.yres = 100;
    m_info.bytes_per_line = image_info_line_bytes(&m_info);
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    for (; done < count && m_line < m_info.height; ++done, ++m_line)
      for (uint32_t i = 0; i < m_info.bytes_per_line; ++i)
        buffer[size_t(done) * m_info.bytes_per_line + i] = uint8_t(m_line * 31 + i);
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekLine(line, plane, page, whence);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    ErrorLogSetThreshold(KLV_LOG_ERROR + 1);
    return true;
  }();
  (void)quiet;
  if (size > 65536) return 0;
  RepeatFileInfo r;
  if (!parse_repeat_info(reinterpret_cast<const char*>(data), int32_t(size), &r)) return 0;
  IMG_file* page = RPTFLTR_attach((new Pattern)->ToImg('r', 0), &r.settings);
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
