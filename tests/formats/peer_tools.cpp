// SPDX-License-Identifier: MIT
// Running other programs in the format tests.
#include "peer_tools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "klv/imgmux.h"

namespace klv::test {

bool have_tool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool run_shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

namespace {

// The next header token, skipping white space and comments.
std::string token(std::istream& in) {
  std::string t;
  int c;
  while ((c = in.get()) != EOF) {
    if (c == '#') {
      while ((c = in.get()) != EOF && c != '\n') {
      }
      continue;
    }
    if (std::isspace(c)) {
      if (!t.empty()) return t;
      continue;
    }
    t.push_back(static_cast<char>(c));
  }
  return t;
}

}  // namespace

Raster read_netpbm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Raster r;
  const std::string magic = token(in);
  if (magic == "P7") {
    for (std::string key = token(in); !key.empty() && key != "ENDHDR"; key = token(in)) {
      if (key == "WIDTH") r.width = std::stoi(token(in));
      if (key == "HEIGHT") r.height = std::stoi(token(in));
      if (key == "DEPTH") r.depth = std::stoi(token(in));
      if (key == "MAXVAL") r.maxval = std::stoul(token(in));
      if (key == "TUPLTYPE") token(in);
    }
  } else if (magic == "P4" || magic == "P5" || magic == "P6") {
    r.width = std::stoi(token(in));
    r.height = std::stoi(token(in));
    r.depth = magic == "P6" ? 3 : 1;
    r.maxval = magic == "P4" ? 1 : std::stoul(token(in));
  } else {
    return {};
  }
  const size_t n = size_t(r.width) * r.height * r.depth;
  r.samples.resize(n);
  if (magic == "P4") {
    const size_t row = (size_t(r.width) + 7) / 8;
    std::vector<uint8_t> bits(row * r.height);
    in.read(reinterpret_cast<char*>(bits.data()), std::streamsize(bits.size()));
    for (int y = 0; y < r.height; ++y)
      for (int x = 0; x < r.width; ++x)
        r.samples[size_t(y) * r.width + x] = (bits[y * row + x / 8] >> (7 - x % 8)) & 1 ? 0 : 1;
    return in ? r : Raster{};
  }
  const int bytes = r.maxval > 255 ? 2 : 1;
  std::vector<uint8_t> raw(n * bytes);
  in.read(reinterpret_cast<char*>(raw.data()), std::streamsize(raw.size()));
  if (!in) return {};
  for (size_t i = 0; i < n; ++i)
    r.samples[i] = bytes == 2 ? uint16_t(raw[2 * i] << 8 | raw[2 * i + 1]) : raw[i];
  return r;
}

bool write_netpbm(const std::string& path, const Raster& r, const std::string& tupltype) {
  std::ostringstream head;
  if (!tupltype.empty())
    head << "P7\nWIDTH " << r.width << "\nHEIGHT " << r.height << "\nDEPTH " << r.depth
         << "\nMAXVAL " << r.maxval << "\nTUPLTYPE " << tupltype << "\nENDHDR\n";
  else
    head << (r.depth == 1 ? "P5" : "P6") << "\n"
         << r.width << " " << r.height << "\n"
         << r.maxval << "\n";
  std::ofstream out(path, std::ios::binary);
  out << head.str();
  for (uint16_t v : r.samples) {
    if (r.maxval > 255) out.put(static_cast<char>(v >> 8));
    out.put(static_cast<char>(v & 255));
  }
  return bool(out);
}

bool decode_file(const std::string& path, int32_t type, Decoded* out) {
  init_image_info(&out->info);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", &out->info, type);
  if (!img) return false;
  out->type = img->type;
  const size_t bpl = out->info.bytes_per_line;
  out->lines.assign(bpl * out->info.height, 0);
  bool ok = true;
  for (int32_t y = 0; y < out->info.height && ok; ++y)
    ok = img_read_line(img, out->lines.data() + bpl * y, 1) == 1;
  if (image_cmap* map = img_get_cmap(img)) {
    for (uint32_t i = 0; i < map->entries; ++i)
      for (int c = 0; c < 3; ++c) out->map.push_back(map->channel[c][i]);
    free_cmap(map);
  }
  if (image_profile* p = img_get_profile(img)) {
    out->profile = true;
    out->profile_size = p->size;
    checkin_image_profile(p);
  }
  img_close(img);
  return ok;
}

}  // namespace klv::test
