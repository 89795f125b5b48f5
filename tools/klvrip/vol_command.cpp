// SPDX-License-Identifier: MIT
// klvrip vol: list, print, store and remove the members of a volume, and
// check a volume for damage.
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
    "       klvrip vol rm FILE MEMBER\n"
    "       klvrip vol check FILE   (exit status 0 when sound, 1 when damaged)\n";

// Members that are volumes are checked inside volumes down to this depth.
constexpr int kMaxCheckDepth = 8;

struct Entry {
  std::string name;
  bool is_dir;
  uint64_t size;
  time_t mtime;
};

// Every member, folders included, walking folders breadth-first.
std::vector<Entry> entries(SOVolume* v) {
  std::vector<Entry> out;
  std::vector<std::string> folders{""};
  for (size_t i = 0; i < folders.size(); ++i) {
    std::string pattern = folders[i].empty() ? "*" : folders[i] + "/*";
    SFindRec rec;
    for (int more = VFindfirst(v, pattern.c_str(), &rec); more; more = VFindnext(&rec)) {
      std::string name = folders[i].empty() ? rec.name : folders[i] + "/" + rec.name;
      const bool is_dir = (rec.attributes & KLV_FA_DIR) != 0;
      if (is_dir) folders.push_back(name);
      out.push_back({name, is_dir, (uint64_t{rec.size_high} << 32) | rec.size_low,
                     static_cast<time_t>(rec.time_write)});
    }
  }
  return out;
}

int list(const char* file) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_READ);
  if (!v) {
    std::fprintf(stderr, "klvrip vol: cannot open volume \"%s\"\n", file);
    return 1;
  }
  for (const Entry& e : entries(v)) {
    char when[32] = "";
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", std::localtime(&e.mtime));
    if (e.is_dir)
      std::printf("%12s  %s  %s/\n", "<dir>", when, e.name.c_str());
    else
      std::printf("%12llu  %s  %s\n", static_cast<unsigned long long>(e.size), when,
                  e.name.c_str());
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

// Prints what VCheck finds in one volume as "LABEL: MEMBER: text" (remarks
// as "note: ..."), then checks the members that are volumes themselves.
// Gives the number of faults.
int check_volume(SOVolume* v, const std::string& label, int depth) {
  struct Findings {
    const std::string* label;
    std::vector<std::string> damaged;
  } found{&label, {}};
  int faults = VCheck(
      v,
      [](void* context, const char* member, const char* text, int32_t fault) {
        auto* f = static_cast<Findings*>(context);
        std::printf("%s%s: %s%s%s\n", fault ? "" : "note: ", f->label->c_str(), member,
                    *member ? ": " : "", text);
        if (fault && *member) f->damaged.push_back(member);
      },
      &found);
  if (faults < 0) return 1;
  if (depth >= kMaxCheckDepth) return faults;
  for (const Entry& e : entries(v)) {
    if (e.is_dir || VIsVolume(v, e.name.c_str()) != 1) continue;
    bool damaged = false;
    for (const std::string& d : found.damaged) damaged = damaged || d == e.name;
    if (damaged) continue;  // already reported; its copy would fail too
    const std::string inner_label = label + "|" + e.name;
    SOVolume* inner = VOpen(v, e.name.c_str(), KLV_VOL_READ);
    if (!inner) {
      std::printf("%s: cannot be opened as a volume\n", inner_label.c_str());
      ++faults;
      continue;
    }
    faults += check_volume(inner, inner_label, depth + 1);
    VClose(inner);
  }
  return faults;
}

int check(const char* file) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_READ);
  if (!v) {
    std::printf("%s: cannot be opened as a volume (damaged, or not a volume)\n", file);
    return 1;
  }
  const int faults = check_volume(v, file, 0);
  VClose(v);
  if (faults == 0) {
    std::printf("%s: sound\n", file);
    return 0;
  }
  std::printf("%s: damaged (%d fault%s)\n", file, faults, faults == 1 ? "" : "s");
  return 1;
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
  if (!std::strcmp(sub, "check") && argc == 2) return check(argv[1]);
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace klvrip
