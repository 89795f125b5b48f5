// SPDX-License-Identifier: MIT
// Helpers of the ICC and CMS tests: a scratch folder, whole-file reads and a
// builder of raw profile bytes (header, tag table, bodies) for damaged and
// unusual profiles that no writer would make.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace icc_test {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "klv_icc_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
         b[at + 3];
}

inline void put_be32(std::vector<uint8_t>& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

inline uint32_t sig(const char* four) {
  return (uint32_t(uint8_t(four[0])) << 24) | (uint32_t(uint8_t(four[1])) << 16) |
         (uint32_t(uint8_t(four[2])) << 8) | uint32_t(uint8_t(four[3]));
}

// Raw profile bytes: a header of the given colour space and a tag table whose
// entries point where the caller says (bodies are placed by the caller with
// `place`).
struct RawProfile {
  std::vector<uint8_t> bytes;
  explicit RawProfile(const char* space = "RGB ", uint32_t tag_count = 0) {
    bytes.assign(128, 0);
    auto set = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    set(4, sig("lcms"));
    set(8, 0x02100000);
    set(12, sig("mntr"));
    set(16, sig(space));
    set(20, sig("Lab "));
    set(36, sig("acsp"));
    put_be32(bytes, tag_count);
    bytes.resize(bytes.size() + 12 * tag_count, 0);
  }
  void entry(uint32_t index, const char* signature, uint32_t offset, uint32_t size) {
    const size_t at = 132 + 12 * index;
    for (int i = 0; i < 4; ++i) {
      bytes[at + i] = static_cast<uint8_t>(sig(signature) >> (24 - 8 * i));
      bytes[at + 4 + i] = static_cast<uint8_t>(offset >> (24 - 8 * i));
      bytes[at + 8 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }
  }
  // Puts `body` at `offset` (growing the file) and returns the offset.
  uint32_t place(uint32_t offset, const std::vector<uint8_t>& body) {
    if (bytes.size() < offset + body.size()) bytes.resize(offset + body.size(), 0);
    std::copy(body.begin(), body.end(), bytes.begin() + offset);
    return offset;
  }
  void finish() {
    const uint32_t n = static_cast<uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(n >> (24 - 8 * i));
  }
};

// A "text" body: type, reserved word, characters and terminator.
inline std::vector<uint8_t> text_body(const std::string& text) {
  std::vector<uint8_t> b;
  put_be32(b, sig("text"));
  put_be32(b, 0);
  b.insert(b.end(), text.begin(), text.end());
  b.push_back(0);
  return b;
}

}  // namespace icc_test
