// SPDX-License-Identifier: MIT
// ReadAhead: the chunks come in order and whole, a short image ends in -1,
// and stopping early leaves no thread behind.
#include "read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "klv/cimg_file.h"

namespace {

// A stream of `height` lines of 5 bytes, line y filled with y.
class Counting : public CIMG_file {
 public:
  explicit Counting(int32_t height) {
    m_info.width = 5;
    m_info.height = height;
    m_info.samples = 1;
    m_info.bits_per_sample = 8;
    m_info.pages = 1;
    m_info.bytes_per_line = 5;
  }
  int32_t ReadLine(unsigned char* b, int32_t count) override {
    const int32_t n = std::min(count, m_info.height - m_line);
    for (int32_t k = 0; k < n; ++k) std::memset(b + 5 * k, m_line + k, 5);
    m_line += n;
    return n;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekLine(line, plane, page, whence);
  }
};

TEST(ReadAhead, ChunksInOrderThenTheEnd) {
  for (int32_t chunk : {1, 7, 64, 100}) {
    SCOPED_TRACE(chunk);
    IMG_file* img = (new Counting(100))->ToImg('r', 13);
    {
      klvrip::ReadAhead ahead(img, 100, chunk);
      const uint8_t* lines = nullptr;
      int32_t line = 0;
      for (int32_t n; (n = ahead.Next(&lines)) > 0; line += n) {
        ASSERT_LE(n, chunk);
        for (int32_t k = 0; k < n; ++k) ASSERT_EQ(lines[5 * k + 4], line + k);
      }
      EXPECT_EQ(line, 100);
      EXPECT_EQ(ahead.Next(&lines), 0);  // the end stays the end
    }
    img_close(img);
  }
}

TEST(ReadAhead, ShortImageFailsAndEarlyStopJoins) {
  IMG_file* img = (new Counting(10))->ToImg('r', 13);
  {
    klvrip::ReadAhead ahead(img, 20, 4);  // asks for more lines than there are
    const uint8_t* lines = nullptr;
    int32_t got = 0, n;
    while ((n = ahead.Next(&lines)) > 0) got += n;
    EXPECT_EQ(n, -1);
    EXPECT_EQ(got, 8);
  }
  img_close(img);
  IMG_file* big = (new Counting(100000))->ToImg('r', 13);
  {
    klvrip::ReadAhead ahead(big, 100000, 16);
    const uint8_t* lines = nullptr;
    EXPECT_EQ(ahead.Next(&lines), 16);
  }  // destroyed while the reader is still busy
  img_close(big);
}

}  // namespace
