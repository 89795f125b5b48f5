// SPDX-License-Identifier: MIT
// klvrip vol: list, print, store and remove the members of a volume, and
// check a volume for damage.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/kernel.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "vol";

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

Exit list(const char* file) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_READ);
  if (!v) {
    report(Exit::kFailure, kCommand, "cannot open volume \"%s\"", file);
    return Exit::kFailure;
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
  return Exit::kOk;
}

Exit cat(const char* file, const char* member) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_READ);
  if (!v) {
    report(Exit::kFailure, kCommand, "cannot open volume \"%s\"", file);
    return Exit::kFailure;
  }
  SFilemux* f = Ovfopen(v, member, "rb");
  if (!f) {
    report(Exit::kFailure, kCommand, "no member \"%s\" in \"%s\"", member, file);
    VClose(v);
    return Exit::kFailure;
  }
  std::vector<char> buf(1 << 20);
  Exit rc = Exit::kOk;
  for (;;) {
    size_t n = Oread(f, buf.data(), buf.size());
    if (n > 0 && std::fwrite(buf.data(), 1, n, stdout) != n) {
      report(Exit::kFailure, kCommand, "cannot write to standard output");
      rc = Exit::kFailure;
      break;
    }
    if (n < buf.size()) break;
  }
  if (rc == Exit::kOk && Otelli64(f) < Ofileleni64(f)) {
    report(Exit::kFailure, kCommand, "cannot read all of \"%s\" in \"%s\"", member, file);
    rc = Exit::kFailure;
  }
  Oclose(f);
  VClose(v);
  return rc;
}

Exit put(const char* file, const char* member, const char* src) {
  FILE* in = src ? std::fopen(src, "rb") : stdin;
  if (!in) {
    report(Exit::kFailure, kCommand, "cannot open \"%s\": %s", src, std::strerror(errno));
    return Exit::kFailure;
  }
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_CREATE);
  if (!v) {
    report(Exit::kFailure, kCommand, "cannot open volume \"%s\" for writing", file);
    if (src) std::fclose(in);
    return Exit::kFailure;
  }
  // Written under a temporary name and renamed over the member at the end, so
  // that a failed put leaves an existing member as it was.
  const std::string temp = std::string(member) + ".klvput";
  Exit rc = Exit::kOk;
  SFilemux* f = Ovfopen(v, temp.c_str(), "wb");
  if (!f) {
    report(Exit::kFailure, kCommand, "cannot create member \"%s\" in \"%s\"", member, file);
    rc = Exit::kFailure;
  } else {
    std::vector<char> buf(1 << 20);
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
      if (Owrite(f, buf.data(), n) != n) {
        report(Exit::kFailure, kCommand, "cannot write member \"%s\" in \"%s\"", member, file);
        rc = Exit::kFailure;
        break;
      }
    }
    if (std::ferror(in)) {
      report(Exit::kFailure, kCommand, "cannot read \"%s\"", src ? src : "standard input");
      rc = Exit::kFailure;
    }
    if (Oclose(f) != 0) rc = Exit::kFailure;
  }
  if (src) std::fclose(in);
  if (rc == Exit::kOk && VRename(v, temp.c_str(), member) != 1) {
    report(Exit::kFailure, kCommand, "cannot store member \"%s\" in \"%s\"", member, file);
    rc = Exit::kFailure;
  }
  if (rc != Exit::kOk) VRemove(v, temp.c_str());
  if (VClose(v) != 0) {
    report(Exit::kFailure, kCommand, "cannot save volume \"%s\"", file);
    rc = Exit::kFailure;
  }
  return rc;
}

Exit remove(const char* file, const char* member) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_UPDATE);
  if (!v) {
    report(Exit::kFailure, kCommand, "cannot open volume \"%s\" for writing", file);
    return Exit::kFailure;
  }
  Exit rc = Exit::kOk;
  if (VRemove(v, member) != 1) {
    report(Exit::kFailure, kCommand, "cannot remove \"%s\" from \"%s\"", member, file);
    rc = Exit::kFailure;
  }
  if (VClose(v) != 0) rc = Exit::kFailure;
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

Exit check(const char* file) {
  SOVolume* v = VOpen(nullptr, file, KLV_VOL_READ);
  if (!v) {
    std::printf("%s: cannot be opened as a volume (damaged, or not a volume)\n", file);
    return Exit::kFailure;
  }
  const int faults = check_volume(v, file, 0);
  VClose(v);
  if (faults == 0) {
    std::printf("%s: sound\n", file);
    return Exit::kOk;
  }
  std::printf("%s: damaged (%d fault%s)\n", file, faults, faults == 1 ? "" : "s");
  return Exit::kFailure;
}

// The forms of `klvrip vol`: the word after "vol", its synopsis and its
// arguments (the volume first).
struct Form {
  const char* name;
  CommandHelp help;
  Exit (*run)(const std::vector<const char*>& args);
};

const Form kForms[] = {
    {"ls",
     {kCommand, "vol ls FILE", "Lists the members of a volume, folders included.\n", 1, 1},
     [](const std::vector<const char*>& a) { return list(a[0]); }},
    {"cat",
     {kCommand, "vol cat FILE MEMBER", "Copies a member to standard output.\n", 2, 2},
     [](const std::vector<const char*>& a) { return cat(a[0], a[1]); }},
    {"put",
     {kCommand, "vol put FILE MEMBER [SRC]",
      "Stores SRC (standard input without it) as MEMBER, making the volume when\n"
      "it is missing. An existing member is replaced only when the new one is\n"
      "complete.\n",
      2, 3},
     [](const std::vector<const char*>& a) {
       return put(a[0], a[1], a.size() > 2 ? a[2] : nullptr);
     }},
    {"rm",
     {kCommand, "vol rm FILE MEMBER", "Removes a member.\n", 2, 2},
     [](const std::vector<const char*>& a) { return remove(a[0], a[1]); }},
    {"check",
     {kCommand, "vol check FILE",
      "Checks a volume, and the volumes inside it, for damage: exit status 0\n"
      "when sound, 1 when damaged.\n",
      1, 1},
     [](const std::vector<const char*>& a) { return check(a[0]); }},
};

const CommandHelp kVolHelp = {
    kCommand,
    "vol ls FILE\n"
    "       klvrip vol cat FILE MEMBER\n"
    "       klvrip vol put FILE MEMBER [SRC]   (from standard input without SRC)\n"
    "       klvrip vol rm FILE MEMBER\n"
    "       klvrip vol check FILE   (exit status 0 when sound, 1 when damaged)",
    "`klvrip vol ls|cat|put|rm|check --help` describes each.\n", 1, 4};

}  // namespace

int vol_command(int argc, char** argv) {
  const std::vector<Option> no_options;
  const Form* form = nullptr;
  for (const Form& f : kForms)
    if (argc > 0 && !std::strcmp(argv[0], f.name)) form = &f;
  if (!form) {
    // No form named: --help, a usage error, or a word that is no form.
    std::vector<const char*> args;
    if (const int code = exit_unless_run(parse_options(kVolHelp, no_options, argc, argv, &args));
        code >= 0)
      return code;
    return exit_code(report(Exit::kUsage, kCommand,
                            "unknown form \"%s\" (klvrip vol --help lists the forms)", args[0]));
  }
  std::vector<const char*> args;
  if (const int code =
          exit_unless_run(parse_options(form->help, no_options, argc - 1, argv + 1, &args));
      code >= 0)
    return code;
  return exit_code(form->run(args));
}

}  // namespace klvrip
