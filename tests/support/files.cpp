// SPDX-License-Identifier: MIT
#include "support/files.h"

#include <atomic>
#include <cstdlib>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "klv/platform.h"

namespace klv::test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(const std::string& tag) {
  static std::atomic<int> serial{0};
  path_ = fs::path(klv::platform::TempFolder()) /
          ("klv_" + tag + "_" + std::to_string(klv::platform::ProcessId()) + "_" +
           std::to_string(serial++));
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string ScratchFolder::write(const std::string& name, const std::string& text) const {
  const std::string file = path(name);
  write_text(file, text);
  return file;
}

size_t ScratchFolder::entries() const {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(path_)) ++n;
  return n;
}

std::string fixture(const std::string& folder, const std::string& name) {
  return std::string(KLV_TEST_DATA) + "/" + folder + "/" + name;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

bool write_bytes(const std::string& path, const char* data, size_t size) {
  const fs::path parent = fs::path(path).parent_path();
  std::error_code ignored;
  if (!parent.empty()) fs::create_directories(parent, ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
  return bool(out);
}

}  // namespace

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  return write_bytes(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool write_text(const std::string& path, const std::string& text) {
  return write_bytes(path, text.data(), text.size());
}

Pnm read_pnm(const std::string& path) {
  Pnm p;
  const std::vector<uint8_t> b = read_file(path);
  if (b.size() < 3 || b[0] != 'P' || (b[1] != '6' && b[1] != '5')) return p;
  size_t pos = 2;
  auto number = [&]() {
    while (pos < b.size() && (std::isspace(b[pos]) || b[pos] == '#')) {
      if (b[pos] == '#')
        while (pos < b.size() && b[pos] != '\n') ++pos;
      else
        ++pos;
    }
    int v = 0;
    while (pos < b.size() && std::isdigit(b[pos])) v = v * 10 + (b[pos++] - '0');
    return v;
  };
  const int w = number(), h = number();
  number();
  ++pos;
  p.channels = b[1] == '6' ? 3 : 1;
  const size_t n = size_t(w) * h * p.channels;
  if (pos + n > b.size()) return p;
  p.width = w;
  p.height = h;
  p.pixels.assign(b.begin() + long(pos), b.begin() + long(pos + n));
  return p;
}

std::string make_pdf(const ScratchFolder& dir, const std::string& ps_text,
                     const std::string& name) {
  const std::string ps = dir.write(name + ".ps", ps_text);
  const std::string pdf = dir.path(name + ".pdf");
  const std::string command =
      "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile='" + pdf + "' '" + ps + "'";
  if (std::system(command.c_str()) != 0) return {};
  return pdf;
}

}  // namespace klv::test
