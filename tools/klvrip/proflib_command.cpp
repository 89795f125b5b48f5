// SPDX-License-Identifier: MIT
// klvrip proflib: look at and change a printer's profile library: list its
// index, show one entry, add or remove a profile, and set the default profile
// of a media, setting and pattern.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/kernel.h"
#include "klv/proflib.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "proflib";

const CommandHelp kHelp = {
    kCommand,
    "proflib PRINTER list\n"
    "       klvrip proflib PRINTER show MEDIA SETTING PATTERN TYPE NAME\n"
    "       klvrip proflib PRINTER add MEDIA SETTING PATTERN TYPE NAME [--icc FILE | --table "
    "MEMBER]\n"
    "       klvrip proflib PRINTER remove MEDIA SETTING PATTERN TYPE NAME\n"
    "       klvrip proflib PRINTER set-default MEDIA SETTING PATTERN TYPE NAME",
    "PRINTER is a printer name or the path of a .PrnLib volume (add creates the\n"
    "volume when a path is given). TYPE is the profile type in hexadecimal;\n"
    "PATTERN is a pattern name (\"Screen\", \"Stochastic\") or number. In show and\n"
    "remove an empty argument (\"\") matches any value: the first entry in key\n"
    "order is taken. add with --icc copies the file into the library as the\n"
    "entry's table; --table names a member already there.\n",
    2, 7};

struct VolumeCloser {
  void operator()(SOVolume* v) const { VClose(v); }
};
using VolumePtr = std::unique_ptr<SOVolume, VolumeCloser>;

struct Key {
  const char* media;
  const char* setting;
  const char* pattern;
  int32_t type;
  const char* name;
};

bool is_path(const char* printer) {
  const size_t n = std::strlen(printer);
  return Ofileexists(nullptr, printer, 0) ||
         (n > 7 && std::strcmp(printer + n - 7, ".PrnLib") == 0);
}

VolumePtr open_library(const char* printer, int32_t mode) {
  if (is_path(printer)) return VolumePtr(VOpen(nullptr, printer, mode));
  PL_set_open_retries(50, 100);  // a tool waits 5 s, not 3 minutes
  return VolumePtr(PL_open_library(printer, mode));
}

const char* status_text(int32_t status) {
  switch (status) {
    case PL_OK:
      return "done";
    case PL_ERR_ARGUMENT:
      return "bad arguments";
    case PL_ERR_NO_INDEX:
      return "no index";
    case PL_ERR_IO:
      return "the index could not be read or written";
    case PL_ERR_KEY:
      return "a key could not be made";
    case PL_ERR_OPEN:
      return "the library could not be opened";
    case PL_ERR_NOT_FOUND:
      return "no such entry";
    case PL_ERR_EXISTS:
      return "the entry exists already";
    case PL_ERR_LOCKED:
      return "the entry is locked";
    default:
      return "failed";
  }
}

Exit status_exit(int32_t status) {
  return status == PL_OK ? Exit::kOk : report(Exit::kFailure, kCommand, "%s", status_text(status));
}

void print_list(const char* title, SSTRAL* list) {
  std::printf("%s (%d):\n", title, stral_count(list));
  for (int32_t i = 0; i < stral_count(list); ++i) {
    std::printf(" ");
    for (int32_t c = 0; c < stral_size(list, i); ++c) std::printf(" \"%s\"", stral_str(list, i, c));
    std::printf("\n");
  }
}

Exit list(SOVolume* v) {
  PL_INDEX* index = PL_index_load(v, nullptr);
  if (!index) return report(Exit::kFailure, kCommand, "the index cannot be read");
  SSTRAL* profiles = nullptr;
  SSTRAL* models = nullptr;
  PL_iget_profile_list(index, "", "", "", -1, &profiles);
  PL_iget_model_list(index, "", "", "", -1, &models);
  std::printf("media setting pattern type name\n");
  print_list("profiles", profiles);
  print_list("models", models);
  stral_free(profiles);
  stral_free(models);
  // Defaults: those of every media, setting and pattern that has profiles.
  SSTRAL* medias = nullptr;
  PL_iget_media_list(index, &medias);
  std::printf("defaults:\n");
  PL_DEFAULT_ENTRY* d = PL_new_default_entry();
  SSTRAL* all = nullptr;
  PL_iget_profile_list(index, "", "", "", -1, &all);
  std::string last;
  for (int32_t i = 0; i < stral_count(all); ++i) {
    std::string key =
        std::string(stral_str(all, i, 0)) + "~" + stral_str(all, i, 1) + "~" + stral_str(all, i, 2);
    if (key == last) continue;
    last = key;
    if (PL_iget_default_entry(index, stral_str(all, i, 0), stral_str(all, i, 1),
                              stral_str(all, i, 2), d) != PL_OK)
      continue;
    std::printf("  \"%s\" \"%s\" \"%s\":", d->media, d->setting, d->pattern);
    for (int32_t k = 0; k < d->count; ++k)
      std::printf(" %X=\"%s\"", d->items[k].type, d->items[k].name);
    std::printf("\n");
  }
  PL_free_default_entry(d);
  stral_free(all);
  stral_free(medias);
  PL_index_free(index);
  return Exit::kOk;
}

Exit show(SOVolume* v, const Key& k) {
  PL_ENTRY* e = PL_new_profile_entry();
  int32_t s = PL_vget_profile_entry(v, k.media, k.setting, k.pattern, k.type, k.name, e);
  if (s == PL_OK) {
    std::printf("media     %s\nsetting   %s\npattern   %s\ntype      %X\nname      %s\n", e->media,
                e->setting, e->pattern, e->type, e->name);
    std::printf("owner     %s\nflags     %08X%s\ntable     %s\nreadings  %s\n", e->owner, e->flags,
                e->flags & PL_FLAG_SHARE ? " (share)" : "", e->table, e->readings);
    for (int32_t i = 0; i < stral_count(e->shares); ++i)
      std::printf("share     %s %s %s\n", stral_str(e->shares, i, 0), stral_str(e->shares, i, 1),
                  stral_str(e->shares, i, 2));
    if (e->table[0] && Ofileexists(v, e->table, 0)) {
      std::vector<uint8_t> data;
      if (SFilemux* f = Ovfopen(v, e->table, "rb")) {
        data.resize(static_cast<size_t>(Ofileleni64(f)));
        if (Oread(f, data.data(), data.size()) != data.size()) data.clear();
        Oclose(f);
      }
      if (!data.empty()) print_icc_summary(data.data(), data.size(), "  ");
    }
  }
  PL_free_profile_entry(e);
  return status_exit(s);
}

Exit add(SOVolume* v, const Key& k, const char* icc, const char* table) {
  PL_ENTRY* e = PL_new_profile_entry();
  PL_set_entry_key(e, k.media, k.setting, k.pattern, k.type, k.name);
  std::snprintf(e->owner, sizeof e->owner, "klvrip");
  if (icc) {
    if (!PL_make_table_path(e->table, k.media, k.setting, k.pattern, k.type, k.name) ||
        !Ocopyfile(nullptr, icc, v, e->table)) {
      PL_free_profile_entry(e);
      return report(Exit::kFailure, kCommand, "cannot copy %s into the library", icc);
    }
  } else if (table) {
    if (!Ofileexists(v, table, 0)) {
      PL_free_profile_entry(e);
      return report(Exit::kFailure, kCommand, "the library has no member %s", table);
    }
    std::snprintf(e->table, sizeof e->table, "%s", table);
  }
  const int32_t s = PL_vadd_profile_entry(v, e);
  PL_free_profile_entry(e);
  return status_exit(s);
}

Exit remove(SOVolume* v, const Key& k) {
  return status_exit(PL_vremove_profile_entry(v, k.media, k.setting, k.pattern, k.type, k.name));
}

Exit set_default(SOVolume* v, const Key& k) {
  if (k.type < 0) return report(Exit::kUsage, kCommand, "set-default needs a TYPE");
  PL_DEFAULT_ENTRY* d = PL_new_default_entry();
  int32_t s = PL_vget_default_entry(v, k.media, k.setting, k.pattern, d);
  const bool exists = s == PL_OK;
  // A partial match is another entry's: start a new one for this key.
  if (exists && (std::strcmp(d->media, k.media) || std::strcmp(d->setting, k.setting))) {
    PL_free_default_entry(d);
    d = PL_new_default_entry();
  }
  std::snprintf(d->media, sizeof d->media, "%s", k.media);
  std::snprintf(d->setting, sizeof d->setting, "%s", k.setting);
  std::snprintf(d->pattern, sizeof d->pattern, "%s", k.pattern);
  PL_add_default_item(d, static_cast<uint32_t>(k.type), k.name);
  s = PL_vupdate_default_entry(v, d);
  if (s == PL_ERR_NOT_FOUND) s = PL_vadd_default_entry(v, d);
  PL_free_default_entry(d);
  return status_exit(s);
}

Exit run(const std::vector<const char*>& args, const char* icc, const char* table) {
  const char* printer = args[0];
  const std::string action = args[1];
  const bool changes = action != "list" && action != "show";
  if (action != "list" && action != "show" && action != "add" && action != "remove" &&
      action != "set-default")
    return report(Exit::kUsage, kCommand, "unknown action %s", action.c_str());
  if (action == "list" ? args.size() != 2 : args.size() != 7)
    return report(Exit::kUsage, kCommand, "%s needs %s", action.c_str(),
                  action == "list" ? "no further arguments" : "MEDIA SETTING PATTERN TYPE NAME");
  Key k{};
  if (args.size() == 7) {
    k = {args[2], args[3], args[4], PI_map_type(args[5]), args[6]};
    if (args[5][0] && k.type < 0)
      return report(Exit::kUsage, kCommand, "TYPE %s is not hexadecimal", args[5]);
  }
  const int32_t mode =
      changes ? (is_path(printer) ? KLV_VOL_CREATE : KLV_VOL_UPDATE) : KLV_VOL_READ;
  VolumePtr v = open_library(printer, mode);
  if (!v) return report(Exit::kFailure, kCommand, "cannot open the library of %s", printer);
  Exit result = Exit::kOk;
  if (action == "list") result = list(v.get());
  if (action == "show") result = show(v.get(), k);
  if (action == "add") result = add(v.get(), k, icc, table);
  if (action == "remove") result = remove(v.get(), k);
  if (action == "set-default") result = set_default(v.get(), k);
  if (VClose(v.release()) != 0 && result == Exit::kOk)
    return report(Exit::kFailure, kCommand, "the library could not be written");
  return result;
}

}  // namespace

int proflib_command(int argc, char** argv) {
  const char* icc = nullptr;
  const char* table = nullptr;
  const std::vector<Option> options = {
      {"--icc", "FILE", "add: copy this ICC profile into the library as the table",
       take_text(&icc)},
      {"--table", "MEMBER", "add: use this member of the library as the table", take_text(&table)},
  };
  std::vector<const char*> args;
  const int early = exit_unless_run(parse_options(kHelp, options, argc, argv, &args));
  if (early >= 0) return early;
  if (icc && table) return exit_code(report(Exit::kUsage, kCommand, "--icc or --table, not both"));
  return exit_code(run(args, icc, table));
}

}  // namespace klvrip
