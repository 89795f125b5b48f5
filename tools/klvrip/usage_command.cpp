// SPDX-License-Identifier: MIT
// `klvrip usage PRINTER`: shows a printer's usage account (media in square
// metres, per ink set the dots and millilitres of each ink);
// `klvrip usage PRINTER add ...` adds one job to it under the account's lock.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/kernel_path_cxx.h"
#include "klv/prntinfo.h"
#include "klv/usage.h"
#include "klv/usage_cxx.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "usage";

const CommandHelp kUsageHelp = {
    kCommand,
    "usage PRINTER\n"
    "       klvrip usage PRINTER add --inks NAME=DOTS[/DOTS...][,...] [options]",
    "PRINTER is a printer name (its account is PrintUse.Info in the printer's\n"
    "repository folder) or the path of an account file (a text with a '/').\n"
    "Without `add` the account is shown: media in square metres, and per ink\n"
    "set the dots and the millilitres of each ink.\n"
    "\n"
    "add adds one job, as the print server would: --inks gives each ink's dots\n"
    "per drop size (small/medium/large for multi-level output, one number for\n"
    "one-bit output), --media and --size the media and the printed size in\n"
    "inches (square metres are added), --res and --config pick the printer's drop\n"
    "table for the millilitres (the table of --printer when PRINTER is a file).\n",
    1, 2};

bool is_file_path(const char* text) {
  return std::strchr(text, '/') || std::strchr(text, '\\');
}

// The account file PRINTER names.
std::string account_path(const char* printer) {
  if (is_file_path(printer)) return printer;
  return CPrintUsage::PrinterFile(printer);
}

Exit show(const char* printer) {
  const std::string path = account_path(printer);
  if (path.empty())
    return report(Exit::kFailure, kCommand, "no repository folder for printer \"%s\"", printer);
  std::printf("account   %s\n", path.c_str());
  CPrintUsage usage;
  if (!usage.Load(path.c_str())) {
    std::error_code ec;
    if (!std::filesystem::exists(klv::kernel::host_path(path.c_str()), ec)) {
      if (is_file_path(printer))
        return report(Exit::kFailure, kCommand, "\"%s\" does not exist", path.c_str());
      std::printf("(no usage recorded)\n");
      return Exit::kOk;
    }
    return report(Exit::kFailure, kCommand, "\"%s\" cannot be read as a usage account",
                  path.c_str());
  }
  std::printf("media%30s\n", "square metres");
  for (const auto& m : usage.GetMediaList())
    std::printf("  %-24s %14.6f\n", m->GetName().c_str(), m->GetAmount());
  for (const auto& set : usage.GetInkList()) {
    std::printf("ink set \"%s\" (%d)\n", set->GetName().c_str(), set->GetNumber());
    std::printf("  %-16s %20s %14s\n", "ink", "dots", "ml");
    for (const auto& ink : set->GetList())
      std::printf("  %-16s %20" PRIu64 " %14.6f\n", ink->GetName().c_str(), ink->GetCount(),
                  ink->GetMillilitres());
  }
  return Exit::kOk;
}

// What `add` was given.
struct AddArgs {
  const char* inks = nullptr;
  const char* media = nullptr;
  const char* size = nullptr;
  const char* ink_set = "Default";
  int number = 0;
  const char* res = nullptr;
  const char* config = nullptr;
  const char* drop_printer = nullptr;
};

// "Cyan=100/20/3,Black=7": names, and dots per drop size (the same number
// of drop sizes for every ink).
bool parse_inks(const char* text, std::vector<std::string>* names, std::vector<uint64_t>* dots,
                int* sizes) {
  *sizes = 0;
  std::string all = text;
  size_t start = 0;
  while (start <= all.size()) {
    size_t comma = all.find(',', start);
    if (comma == std::string::npos) comma = all.size();
    const std::string item = all.substr(start, comma - start);
    const size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    names->push_back(item.substr(0, eq));
    int count = 0;
    const char* p = item.c_str() + eq + 1;
    for (;;) {
      char* end = nullptr;
      if (*p < '0' || *p > '9') return false;
      dots->push_back(std::strtoull(p, &end, 10));
      ++count;
      if (*end == '\0') break;
      if (*end != '/') return false;
      p = end + 1;
    }
    if (*sizes && count != *sizes) return false;
    *sizes = count;
    start = comma + 1;
  }
  return !names->empty() && names->size() <= KLV_USAGE_MAX_INKS;
}

bool parse_size(const char* text, double* w, double* h) {
  char x = 0;
  char tail = 0;
  return std::sscanf(text, "%lf%c%lf%c", w, &x, h, &tail) == 3 && (x == 'x' || x == 'X') &&
         *w > 0 && *h > 0;
}

struct InfoFree {
  void operator()(PRNTINFO* p) const { prntinfo_free(p); }
};

Exit add(const char* printer, const AddArgs& a) {
  std::vector<std::string> names;
  std::vector<uint64_t> dots;
  int sizes = 0;
  if (!a.inks || !parse_inks(a.inks, &names, &dots, &sizes))
    return report(Exit::kUsage, kCommand, "--inks wants NAME=DOTS[/DOTS...][,NAME=...]");
  double w = 0, h = 0;
  if (a.size && !parse_size(a.size, &w, &h))
    return report(Exit::kUsage, kCommand, "--size wants WIDTHxHEIGHT in inches");
  if (!a.res != !a.config) return report(Exit::kUsage, kCommand, "--res and --config go together");
  const std::string path = account_path(printer);
  if (path.empty())
    return report(Exit::kFailure, kCommand, "no repository folder for printer \"%s\"", printer);

  std::unique_ptr<PRNTINFO, InfoFree> info;
  if (a.res) {
    const char* from = is_file_path(printer) ? a.drop_printer : printer;
    if (!from) return report(Exit::kUsage, kCommand, "--res with an account file needs --printer");
    info.reset(prntinfo_find(from));
    if (!info) return report(Exit::kFailure, kCommand, "printer \"%s\" cannot be found", from);
    if (!info->dot_info)
      return report(Exit::kFailure, kCommand, "printer \"%s\" has no drop table", from);
  }
  std::vector<const char*> name_ptrs;
  for (const std::string& n : names) name_ptrs.push_back(n.c_str());
  const usage_job job{a.media,          w,        h,
                      a.ink_set,        a.number, int32_t(names.size()),
                      name_ptrs.data(), sizes,    dots.data()};
  CPrintUsage usage;
  if (!printusage_use_job(&usage, &job, info ? info->dot_info : nullptr, a.res, a.config))
    return report(Exit::kFailure, kCommand, "the drop table of %s / %s does not fit the job",
                  a.res ? a.res : "-", a.config ? a.config : "-");
  if (!CPrintUsage::AddToFile(path.c_str(), usage))
    return report(Exit::kFailure, kCommand, "cannot add to \"%s\"", path.c_str());
  return Exit::kOk;
}

}  // namespace

int usage_command(int argc, char** argv) {
  AddArgs a;
  const std::vector<Option> options = {
      {"--inks", "NAME=DOTS[/DOTS...],...", "add: dots per ink and drop size", take_text(&a.inks)},
      {"--media", "NAME", "add: the media printed on", take_text(&a.media)},
      {"--size", "WxH", "add: the printed size in inches", take_text(&a.size)},
      {"--inkset", "NAME", "add: the ink set's name (\"Default\")", take_text(&a.ink_set)},
      {"--number", "N", "add: the ink set's number (0)", take_integer(&a.number, 0, 1 << 30)},
      {"--res", "RES", "add: the resolution of the drop table", take_text(&a.res)},
      {"--config", "NAME", "add: the configuration of the drop table", take_text(&a.config)},
      {"--printer", "NAME", "add: the printer whose drop table is used for a file",
       take_text(&a.drop_printer)},
  };
  std::vector<const char*> args;
  if (const int code = exit_unless_run(parse_options(kUsageHelp, options, argc, argv, &args));
      code >= 0)
    return code;
  if (args.size() == 2) {
    if (std::strcmp(args[1], "add") != 0)
      return exit_code(report(Exit::kUsage, kCommand, "unknown action \"%s\"", args[1]));
    return exit_code(add(args[0], a));
  }
  return exit_code(show(args[0]));
}

}  // namespace klvrip
