// SPDX-License-Identifier: MIT
// Helpers shared by the format tests: scratch files, fixture paths and a
// small PPM reader for the samples a fixture was made from.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace klv_test {

inline std::string fixture(const std::string& name) {
  return std::string(KLV_TEST_DATA) + "/formats/" + name;
}

// A scratch folder removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    dir_ = std::filesystem::temp_directory_path() /
           ("klv_formats_" + std::to_string(getpid()) + "_" + std::to_string(counter()++));
    std::filesystem::create_directories(dir_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  static int& counter() {
    static int n = 0;
    return n;
  }
  std::filesystem::path dir_;
};

inline std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Reads a binary PPM/PGM (P6 or P5, maxval below 256). Empty on failure.
struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> pixels;
};
inline Pnm read_pnm(const std::string& path) {
  Pnm p;
  std::vector<uint8_t> b = read_file(path);
  if (b.size() < 3 || b[0] != 'P' || (b[1] != '6' && b[1] != '5')) return p;
  size_t pos = 2;
  auto number = [&]() {
    while (pos < b.size() && (isspace(b[pos]) || b[pos] == '#')) {
      if (b[pos] == '#')
        while (pos < b.size() && b[pos] != '\n') ++pos;
      else
        ++pos;
    }
    int v = 0;
    while (pos < b.size() && isdigit(b[pos])) v = v * 10 + (b[pos++] - '0');
    return v;
  };
  int w = number(), h = number();
  number();
  ++pos;
  p.channels = b[1] == '6' ? 3 : 1;
  size_t n = size_t(w) * h * p.channels;
  if (pos + n > b.size()) return p;
  p.width = w;
  p.height = h;
  p.pixels.assign(b.begin() + long(pos), b.begin() + long(pos + n));
  return p;
}

}  // namespace klv_test
