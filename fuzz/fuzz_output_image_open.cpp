// SPDX-License-Identifier: MIT
// Opens an output image whose description, colour map and first member come
// from the input, then reads and seeks through it. The input is
// [u16 description length][description][u16 map length][map][member bytes],
// lengths little-endian; the pieces are stored as ".\\image_info",
// "color_map" and "pg0_sep0" of a fresh volume.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "klv/kernel.h"
#include "klv/outimg.h"

namespace {

bool take(const uint8_t*& p, size_t& left, std::vector<uint8_t>* out) {
  if (left < 2) return false;
  size_t n = p[0] | size_t{p[1]} << 8;
  p += 2;
  left -= 2;
  if (n > left) n = left;
  out->assign(p, p + n);
  p += n;
  left -= n;
  return true;
}

void put(SOVolume* v, const char* name, const std::vector<uint8_t>& bytes) {
  if (SFilemux* f = Ovfopen(v, name, "wb")) {
    Owrite(f, bytes.data(), bytes.size());
    Oclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] { return setenv("KLV_LOG", "/dev/null", 0) == 0; }();
  (void)quiet;
  std::vector<uint8_t> info_bytes, map_bytes;
  const uint8_t* p = data;
  size_t left = size;
  if (!take(p, left, &info_bytes)) return 0;
  bool has_map = take(p, left, &map_bytes);
  std::vector<uint8_t> member(p, p + left);

  // In memory when the system has a memory file system: a fresh volume per
  // input is synced to its file, and a disk makes each sync a wait.
  static const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string templ = folder + "/klv-fuzzout-XXXXXX";
  char* name = templ.data();
  int fd = mkstemp(name);
  if (fd < 0) return 0;
  close(fd);
  if (SOVolume* v = VOpen(nullptr, name, KLV_VOL_CREATE)) {
    put(v, ".\\image_info", info_bytes);
    if (has_map) put(v, "color_map", map_bytes);
    if (!member.empty()) put(v, "pg0_sep0", member);
    VClose(v);
    image_info info;
    init_image_info(&info);
    if (void* img = outimg_open(name, nullptr, "r", &info)) {
      // Lines are read only while they stay small, to keep the target quick.
      if (info.bytes_per_line <= (1u << 20)) {
        std::vector<uint8_t> buf(size_t{info.bytes_per_line} * 4);
        outimg_read_line(img, buf.data(), 4);
        outimg_seek_line(img, 0, 0, 0, 0);
        outimg_read_line(img, buf.data(), 2);
        outimg_seek_line(img, -1, 0, 0, 2);
        outimg_read_line(img, buf.data(), 1);
      }
      free_cmap(outimg_get_cmap(img));
      outimg_close(img);
    }
  }
  unlink(name);
  unlink((std::string(name) + "-journal").c_str());
  return 0;
}
