// SPDX-License-Identifier: MIT
// klvrip job: make a job folder with its settings, and show a job's settings
// and processing records.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/job_settings_cxx.h"
#include "klv/kernel.h"
#include "klv/printmode.h"
#include "klv/prntinfo.h"
#include "output_file.h"

namespace klvrip {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNew = "job new";
constexpr const char* kShow = "job show";

const CommandHelp kNewHelp = {
    kNew, "job new FOLDER IMAGE --printer P --media M --mode MODE [--res XxY] [options]",
    "Makes the job folder FOLDER (and its parents when missing) and writes its\n"
    "Settings: the image (stored as an absolute path), printer, media, print mode\n"
    "and resolution, and the options given. A folder that already holds a job is\n"
    "left alone unless --force is given.\n",
    2, 2};

const CommandHelp kShowHelp = {
    kShow, "job show JOB",
    "JOB is a job folder, a job volume or a settings file. Prints a summary, the\n"
    "settings as stored (deciphered when the job may not be changed) and every\n"
    "processing record kept beside them.\n",
    1, 1};

struct NewArgs {
  const char* printer = nullptr;
  const char* media = nullptr;
  const char* mode = nullptr;
  const char* res = "";
  const char* name = "";
  const char* comment = "";
  int copies = 0;
  double width = 0, height = 0;
  bool force = false;
};

// Copies a text into a record's field; false when it does not fit.
template <size_t N>
bool put(char (&field)[N], const std::string& text, const char* what) {
  if (text.size() >= N) {
    report(Exit::kUsage, kNew, "%s is longer than %zu bytes", what, N - 1);
    return false;
  }
  std::memcpy(field, text.c_str(), text.size() + 1);
  return true;
}

bool fill(settings& s, const NewArgs& a, const std::string& folder, const std::string& image) {
  if (!put(s.Setpath, folder, "the folder") || !put(s.Imagepath, image, "the image path") ||
      !put(s.Printpath, folder, "the folder") || !put(s.PrintDev, a.printer, "--printer") ||
      !put(s.PrintMedia, a.media, "--media") || !put(s.PrintMode, a.mode, "--mode") ||
      !put(s.PrintRes, a.res, "--res") || !put(s.JobName, a.name, "--name") ||
      !put(s.UserComment, a.comment, "--comment"))
    return false;
  s.NumCopies = static_cast<uint16_t>(a.copies);
  s.PrintMaxX = a.width;
  s.PrintMaxY = a.height;
  s.Precision = 4;
  return true;
}

// The dot pattern a mode name ends with: "720 dpi, Screen(85 lpi)" gives
// Screen with the option "85 lpi", "Stochastic" gives Stochastic. False when
// the name ends with no pattern of the table.
bool pattern_of_name(const std::string& mode, int32_t* pattern, std::string* option) {
  const size_t comma = mode.rfind(", ");
  const std::string text = comma == std::string::npos ? mode : mode.substr(comma + 2);
  const std::string name = text.substr(0, text.find('('));
  for (int32_t p = 0; p < KLV_DOT_PATTERN_COUNT; ++p)
    if (!strcasecmp(name.c_str(), get_pattern_name(p))) {
      char opt[KLV_PRINTMODE_TEXT] = "";
      get_pattern_opt(opt, sizeof opt, text.c_str());
      *pattern = p;
      *option = opt;
      return true;
    }
  return false;
}

// PatternDif and PatternOpt of the chosen mode: the printer's own mode when
// its repository has it (which also gives the resolution when --res is not
// given), else the pattern the mode's name ends with. A mode naming no
// pattern leaves both unset (the driver then screens with pattern 0).
void set_pattern(settings& s, bool res_given) {
  std::unique_ptr<PRNTINFO, decltype(&prntinfo_free)> printer(prntinfo_find(s.PrintDev),
                                                              &prntinfo_free);
  const CPrintMode* mode =
      printer ? prntinfo_mode(printer.get(), s.PrintMedia, s.PrintMode) : nullptr;
  if (mode) {
    const std::string name = s.PrintMode, res = s.PrintRes;
    printmode_to_set(&s, mode);
    std::snprintf(s.PrintMode, sizeof s.PrintMode, "%s", name.c_str());
    if (res_given || !*s.PrintRes) std::snprintf(s.PrintRes, sizeof s.PrintRes, "%s", res.c_str());
    return;
  }
  int32_t pattern = 0;
  std::string option;
  if (!pattern_of_name(s.PrintMode, &pattern, &option)) {
    std::fprintf(stderr, "klvrip %s: mode \"%s\" names no dot pattern: pattern %s is used\n", kNew,
                 s.PrintMode, get_pattern_name(0));
    return;
  }
  s.PatternDif = uint8_t(pattern);
  std::snprintf(s.PatternOpt, sizeof s.PatternOpt, "%s", option.c_str());
}

std::string take_res(const char* value, const char** target) {
  unsigned x = 0, y = 0;
  char end = 0;
  if (std::sscanf(value, "%ux%u%c", &x, &y, &end) != 2 || x == 0 || y == 0)
    return "must look like 720x720";
  *target = value;
  return "";
}

Exit write_job(const std::string& folder, const settings& s, bool force) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec)
    return report(Exit::kFailure, kNew, "cannot make \"%s\": %s", folder.c_str(),
                  ec.message().c_str());
  const std::string target = (fs::path(folder) / KLV_SETTINGS_FILE).string();
  if (!force && fs::exists(target))
    return report(Exit::kFailure, kNew, "\"%s\" already holds a job (--force replaces it)",
                  folder.c_str());
  OutputFile out(target);
  if (out.Failed())
    return report(Exit::kFailure, kNew, "cannot create \"%s\": %s", target.c_str(),
                  out.Error().c_str());
  SFilemux* stream = Ovfopen(nullptr, out.Temp().c_str(), "wb");
  if (!stream || !off_put_settings(stream, &s))
    return report(Exit::kFailure, kNew, "cannot write \"%s\"", target.c_str());
  if (!out.Commit())
    return report(Exit::kFailure, kNew, "cannot write \"%s\": %s", target.c_str(),
                  out.Error().c_str());
  return Exit::kOk;
}

Exit run_new(int argc, char** argv) {
  NewArgs a;
  const std::vector<Option> options = {
      {"--printer", "P", "the printer's name", take_text(&a.printer)},
      {"--media", "M", "the media's name", take_text(&a.media)},
      {"--mode", "MODE", "the print mode's name", take_text(&a.mode)},
      {"--res", "XxY", "the print resolution in dpi",
       [&a](const char* v) { return take_res(v, &a.res); }},
      {"--name", "TEXT", "the job's name", take_text(&a.name)},
      {"--comment", "TEXT", "a comment kept with the job", take_text(&a.comment)},
      {"--copies", "N", "copies to print (1-65535)", take_integer(&a.copies, 1, 65535)},
      {"--width", "IN", "largest print width in inches", take_number(&a.width, 0, 1e6)},
      {"--height", "IN", "largest print height in inches", take_number(&a.height, 0, 1e6)},
      {"--force", nullptr, "replace the settings of an existing job", take_flag(&a.force)},
  };
  std::vector<const char*> args;
  const int code = exit_unless_run(parse_options(kNewHelp, options, argc, argv, &args));
  if (code >= 0) return code == 0 ? Exit::kOk : Exit::kUsage;
  for (const auto& [value, name] : {std::pair{a.printer, "--printer"},
                                    std::pair{a.media, "--media"}, std::pair{a.mode, "--mode"}})
    if (!value || !*value) return report(Exit::kUsage, kNew, "%s is required", name);
  std::error_code ec;
  const std::string folder = fs::absolute(args[0], ec).lexically_normal().string();
  const std::string image = fs::absolute(args[1], ec).lexically_normal().string();
  if (!fs::is_regular_file(image, ec))
    return report(Exit::kFailure, kNew, "no image \"%s\"", args[1]);
  klv::SettingsPtr s(settings_new());
  if (!s) return report(Exit::kFailure, kNew, "out of memory");
  if (!fill(*s, a, folder, image)) return Exit::kUsage;
  set_pattern(*s, *a.res != 0);
  Exit rc = write_job(folder, *s, a.force);
  if (rc == Exit::kOk) std::printf("%s\n", (fs::path(folder) / KLV_SETTINGS_FILE).c_str());
  return rc;
}

void summary(const char* job, const settings& s) {
  std::printf("job %s\n", job);
  const std::pair<const char*, const char*> rows[] = {
      {"name", s.JobName},        {"image", s.Imagepath}, {"printer", s.PrintDev},
      {"media", s.PrintMedia},    {"mode", s.PrintMode},  {"resolution", s.PrintRes},
      {"comment", s.UserComment},
  };
  for (const auto& [label, value] : rows)
    if (*value) std::printf("  %-11s %s\n", label, value);
  if (s.PrintMaxX != 0 || s.PrintMaxY != 0)
    std::printf("  %-11s %g x %g in\n", "size", s.PrintMaxX, s.PrintMaxY);
  std::printf("  %-11s %u\n", "copies", s.NumCopies ? s.NumCopies : 1u);
  if (s.UnmodifiableFlag) std::printf("  %-11s %s\n", "changes", "not allowed (stored enciphered)");
}

// The processing records kept with the job: a member of a job volume, else
// a file in the job's folder (or beside a settings file).
void show_records(const char* job) {
  std::error_code ec;
  SOVolume* v = nullptr;
  std::string path;
  if (!fs::is_directory(job, ec) && VIsVolume(nullptr, job)) {
    v = VOpen(nullptr, job, KLV_VOL_READ);
    if (!v) {
      std::printf("processing records: (the job volume cannot be opened)\n");
      return;
    }
    path = std::string(".\\") + KLV_PROC_INFO_FILE;
  } else {
    fs::path folder = fs::is_directory(job, ec) ? fs::path(job) : fs::path(job).parent_path();
    path = (folder / KLV_PROC_INFO_FILE).string();
  }
  const int32_t count = Ofileexists(v, path.c_str(), 0) ? count_prtinfo(v, path.c_str()) : 0;
  std::printf("processing records: %d\n", count < 0 ? 0 : count);
  for (int32_t i = 0; i < count; ++i) {
    klv::ProcInfoPtr r(proc_info_load(v, path.c_str(), i));
    std::printf("record %d:\n", i + 1);
    if (r)
      std::fputs(klv::text_of(*r).c_str(), stdout);
    else
      std::printf("  (cannot be read)\n");
  }
  if (v) VClose(v);
}

Exit run_show(int argc, char** argv) {
  std::vector<const char*> args;
  const int code = exit_unless_run(parse_options(kShowHelp, {}, argc, argv, &args));
  if (code >= 0) return code == 0 ? Exit::kOk : Exit::kUsage;
  klv::SettingsPtr s = klv::load_job_settings(args[0]);
  if (!s) return report(Exit::kFailure, kShow, "cannot read the settings of \"%s\"", args[0]);
  summary(args[0], *s);
  std::printf("settings:\n%s", klv::text_of(*s).c_str());
  show_records(args[0]);
  return Exit::kOk;
}

void job_usage(FILE* out) {
  std::fprintf(out,
               "usage: klvrip job new FOLDER IMAGE --printer P --media M --mode MODE [options]\n"
               "       klvrip job show JOB\n"
               "`klvrip job new --help` and `klvrip job show --help` describe each.\n");
}

}  // namespace

int job_command(int argc, char** argv) {
  if (argc < 1) {
    job_usage(stderr);
    return exit_code(Exit::kUsage);
  }
  if (!std::strcmp(argv[0], "--help") || !std::strcmp(argv[0], "-h")) {
    job_usage(stdout);
    return exit_code(Exit::kOk);
  }
  if (!std::strcmp(argv[0], "new")) return exit_code(run_new(argc - 1, argv + 1));
  if (!std::strcmp(argv[0], "show")) return exit_code(run_show(argc - 1, argv + 1));
  report(Exit::kUsage, "job", "unknown action \"%s\"", argv[0]);
  job_usage(stderr);
  return exit_code(Exit::kUsage);
}

}  // namespace klvrip
