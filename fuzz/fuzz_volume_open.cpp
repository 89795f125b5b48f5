// SPDX-License-Identifier: MIT
// Opens the input as a volume for reading, checks it whole (VCheck), lists its
// members and reads each one to the end. Damaged or crafted databases must
// fail cleanly. The seeds are small volumes (1 KiB pages, 4 KiB chunks) with
// and without chunk checksums, one with a chunk that fails its checksum.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "klv/kernel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] { return setenv("KLV_LOG", "/dev/null", 0) == 0; }();
  (void)quiet;
  char name[] = "/tmp/klv-fuzzvol-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) return 0;
  bool written = write(fd, data, size) == static_cast<ssize_t>(size);
  close(fd);
  if (written) {
    if (SOVolume* v = VOpen(nullptr, name, KLV_VOL_READ)) {
      VCheck(v, nullptr, nullptr);
      std::vector<std::string> names;
      SFindRec rec;
      for (int more = VFindfirst(v, "*", &rec); more && names.size() < 1000; more = VFindnext(&rec))
        names.push_back(rec.name);
      Ofindclose(&rec);
      std::vector<uint8_t> buf(64 * 1024);
      for (const std::string& member : names) {
        SFilemux* f = Ovfopen(v, member.c_str(), "rb");
        if (!f) continue;
        // A member may claim a huge size while holding no chunks; stop after
        // a bounded amount so that the target stays quick.
        for (int i = 0; i < 256 && Oread(f, buf.data(), buf.size()) > 0; ++i) {
        }
        Oseeki64(f, -1, SEEK_END);
        Ogetc(f);
        Oclose(f);
      }
      VClose(v);
    }
  }
  unlink(name);
  unlink((std::string(name) + "-journal").c_str());
  return 0;
}
