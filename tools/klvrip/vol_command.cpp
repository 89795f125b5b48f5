// SPDX-License-Identifier: MIT
// klvrip vol: list, print, store and remove the members of a volume.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "commands.h"
#include "klv/kernel.h"

namespace klvrip {
namespace {

constexpr const char* kUsage =
    "usage: klvrip vol ls FILE\n"
    "       klvrip vol cat FILE MEMBER\n"
    "       klvrip vol put FILE MEMBER [SRC]   (from standard input without SRC)\n"
    "       klvrip vol rm FILE MEMBER\n";

int list(const char* file) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_READ);
  if (!v) {
    std::fprintf(stderr, "klvrip vol: cannot open volume \"%s\"\n", file);
    return 1;
  }
  // Walks folders breadth-first so that members inside folders are listed too.
  std::vector<std::string> folders{""};
  for (size_t i = 0; i < folders.size(); ++i) {
    std::string pattern = folders[i].empty() ? "*" : folders[i] + "/*";
    SFindRec rec;
    for (int more = VFindfirst(v, pattern.c_str(), &rec); more; more = VFindnext(&rec)) {
      std::string name = folders[i].empty() ? rec.name : folders[i] + "/" + rec.name;
      uint64_t size = (uint64_t{rec.size_high} << 32) | rec.size_low;
      time_t t = rec.time_write;
      char when[32] = "";
      std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", std::localtime(&t));
      if (rec.attributes & KLV_FA_DIR) {
        std::printf("%12s  %s  %s/\n", "<dir>", when, name.c_str());
        folders.push_back(name);
      } else {
        std::printf("%12llu  %s  %s\n", static_cast<unsigned long long>(size), when, name.c_str());
      }
    }
  }
  VClose(v);
  return 0;
}

int cat(const char* file, const char* member) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_READ);
  if (!v) {
    std::fprintf(stderr, "klvrip vol: cannot open volume \"%s\"\n", file);
    return 1;
  }
  SFilemux* f = Ovfopen(v, member, "rb");
  if (!f) {
    std::fprintf(stderr, "klvrip vol: no member \"%s\" in \"%s\"\n", member, file);
    VClose(v);
    return 1;
  }
  std::vector<char> buf(1 << 20);
  int rc = 0;
  for (;;) {
    size_t n = Oread(f, buf.data(), buf.size());
    if (n > 0 && std::fwrite(buf.data(), 1, n, stdout) != n) {
      std::fprintf(stderr, "klvrip vol: cannot write to standard output\n");
      rc = 1;
      break;
    }
    if (n < buf.size()) break;
  }
  if (rc == 0 && Otelli64(f) < Ofileleni64(f)) {
    std::fprintf(stderr, "klvrip vol: cannot read all of \"%s\"\n", member);
    rc = 1;
  }
  Oclose(f);
  VClose(v);
  return rc;
}

int put(const char* file, const char* member, const char* src) {
  FILE* in = src ? std::fopen(src, "rb") : stdin;
  if (!in) {
    std::fprintf(stderr, "klvrip vol: cannot open \"%s\": %s\n", src, std::strerror(errno));
    return 1;
  }
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_CREATE);
  if (!v) {
    std::fprintf(stderr, "klvrip vol: cannot open volume \"%s\" for writing\n", file);
    if (src) std::fclose(in);
    return 1;
  }
  // Written under a temporary name and renamed over the member at the end, so
  // that a failed put leaves an existing member as it was.
  const std::string temp = std::string(member) + ".klvput";
  int rc = 0;
  SFilemux* f = Ovfopen(v, temp.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "klvrip vol: cannot create member \"%s\"\n", member);
    rc = 1;
  } else {
    std::vector<char> buf(1 << 20);
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
      if (Owrite(f, buf.data(), n) != n) {
        std::fprintf(stderr, "klvrip vol: cannot write member \"%s\"\n", member);
        rc = 1;
        break;
      }
    }
    if (std::ferror(in)) {
      std::fprintf(stderr, "klvrip vol: cannot read the input\n");
      rc = 1;
    }
    if (Oclose(f) != 0) rc = 1;
  }
  if (src) std::fclose(in);
  if (rc == 0 && VRename(v, temp.c_str(), member) != 1) {
    std::fprintf(stderr, "klvrip vol: cannot store member \"%s\"\n", member);
    rc = 1;
  }
  if (rc != 0) VRemove(v, temp.c_str());
  if (VClose(v) != 0) {
    std::fprintf(stderr, "klvrip vol: cannot save volume \"%s\"\n", file);
    rc = 1;
  }
  return rc;
}

int remove(const char* file, const char* member) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_UPDATE);
  if (!v) {
    std::fprintf(stderr, "klvrip vol: cannot open volume \"%s\" for writing\n", file);
    return 1;
  }
  int rc = 0;
  if (VRemove(v, member) != 1) {
    std::fprintf(stderr, "klvrip vol: cannot remove \"%s\" from \"%s\"\n", member, file);
    rc = 1;
  }
  if (VClose(v) != 0) rc = 1;
  return rc;
}

}  // namespace

int vol_command(int argc, char** argv) {
  if (argc < 1 || !std::strcmp(argv[0], "--help")) {
    std::fputs(kUsage, argc < 1 ? stderr : stdout);
    return argc < 1 ? 2 : 0;
  }
  const char* sub = argv[0];
  if (!std::strcmp(sub, "ls") && argc == 2) return list(argv[1]);
  if (!std::strcmp(sub, "cat") && argc == 3) return cat(argv[1], argv[2]);
  if (!std::strcmp(sub, "put") && (argc == 3 || argc == 4))
    return put(argv[1], argv[2], argc == 4 ? argv[3] : nullptr);
  if (!std::strcmp(sub, "rm") && argc == 3) return remove(argv[1], argv[2]);
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace klvrip
