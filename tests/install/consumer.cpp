// SPDX-License-Identifier: MIT
// A C++ program built against the installed library through find_package(klv).
#include <klv/cimg_file.h>
#include <klv/klv.h>

#include <cstdio>

namespace {

// A stream of blank lines, to show that a program can derive its own streams.
class BlankImage : public CIMG_file {
 public:
  BlankImage() {
    m_info.width = 8;
    m_info.height = 4;
    m_info.samples = 1;
    m_info.bits_per_sample = 8;
    m_info.bytes_per_line = 8;
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    while (done < count && m_line < m_info.height) {
      for (int i = 0; i < 8; ++i) buffer[done * 8 + i] = 0;
      ++done;
      ++m_line;
    }
    return done;
  }
};

}  // namespace

int main() {
  IMG_file* img = (new BlankImage)->ToImg('r', 999);
  unsigned char lines[64];
  if (!img || img_read_line(img, lines, 8) != 4) return 1;
  img_close(img);
  std::puts("klv C++ consumer ok");
  return 0;
}
