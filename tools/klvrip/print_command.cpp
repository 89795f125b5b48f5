// SPDX-License-Identifier: MIT
// klvrip print: sends a processed job's print files to its printer through
// the printer's driver, one frame per page file, and says where the output
// went and how many dots each separation got. Progress goes to a terminal as
// one updating bar, otherwise as a plain line per tenth; Ctrl-C aborts the
// job through the driver's abort callback.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/imgproc.h"
#include "klv/job_settings_cxx.h"
#include "klv/kernel_stral.h"
#include "klv/printmode.h"
#include "klv/printobj_cxx.h"
#include "klv/prntinfo.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "print";

const CommandHelp kHelp = {
    kCommand,
    "print JOB|IMAGE [--printer P] [--output PORT] [--no-send] [--media M] [--mode MODE]\n"
    "      [--repeat XxY]",
    "Prints the print files of the processed job JOB (a job folder, job volume or\n"
    "settings file, as `klvrip process` leaves it) on the job's printer or P. Pages\n"
    "of ink amounts (a job processed in a contone mode) are screened as they print.\n"
    "An IMAGE (any picture the library reads) is printed on P with media M (default:\n"
    "the printer's) and mode MODE (default: the media's): converted to the printer's\n"
    "inks through its profile and calibration and screened with the mode's screens,\n"
    "at the mode's resolution. XxY repeats every pixel X times across and Y times\n"
    "down. PORT is given to the driver as its port (the file driver: a folder; the\n"
    "CUPS raster driver: a file, a folder or \"|command\"). With --no-send everything\n"
    "is prepared and nothing reaches the printer. Ctrl-C aborts the job.\n"
    "Exit codes: 0 printed, 1 not printed, 2 bad usage; after Ctrl-C the job is\n"
    "cancelled and klvrip ends as the signal would have.\n",
    1, 1};

struct Args {
  const char* printer = nullptr;
  const char* output = nullptr;
  const char* media = nullptr;
  const char* mode = nullptr;
  const char* repeat = nullptr;
  bool no_send = false;
};

// What is printed: the pages, and the frame each is printed as.
struct Work {
  std::string name;     // the job's name
  std::string printer;  // the printer's name
  std::vector<std::string> files;
  CPrintFrameInfo frame;
};

// Ctrl-C reaches the driver through the job's abort callback.
struct InterruptAbort : IPrintAbort {
  bool ShouldAbort() override { return interrupted(); }
};

struct Display {
  bool tty = false;
  size_t page = 0, pages = 0;
  int last_plain = -1;
};

void show_progress(void* context, int32_t done, int32_t total) {
  auto* d = static_cast<Display*>(context);
  const int permille = total > 0 ? int(int64_t(done) * 1000 / total) : 1000;
  if (d->tty) {
    constexpr int kWidth = 40;
    const int filled = permille * kWidth / 1000;
    std::fprintf(stderr, "\r%s: page %zu/%zu [%.*s%*s] %3d%%", kCommand, d->page, d->pages, filled,
                 "########################################", kWidth - filled, "", permille / 10);
    if (done >= total) std::fputc('\n', stderr);
  } else if (permille / 100 != d->last_plain) {
    d->last_plain = permille / 100;
    std::fprintf(stderr, "%s: page %zu/%zu %d%%\n", kCommand, d->page, d->pages,
                 permille / 100 * 10);
  }
}

std::vector<std::string> page_files(const settings& s) {
  std::vector<std::string> files;
  SSTRAL* list = get_prt_stral(nullptr, &s, 0, 1.0, 1.0);
  for (int32_t i = 0; list && i < stral_count(list); ++i) {
    int32_t count = 0;
    const char* const* strings = stral_get(list, i, &count);
    if (strings && count > 0 && strings[0]) files.push_back(strings[0]);
  }
  stral_free(list);
  return files;
}

// The driver's counts, in the order it takes the channels: with four
// process channels or more black comes first, then the other process inks
// in the colour description's order.
void print_counts(CPrintObj& printer) {
  _SP_DOT_COUNT counts{};
  if (printer.GetDotCount(&counts, true) != 0) return;
  SP_COLOR_INFO colour{};
  const bool named = printer.GetMediaInfo(nullptr, &colour) == 0;
  const bool black_first = named && colour.channels >= colour.spot_channels + 4;
  for (uint32_t c = 0; c < counts.channels && c < SP_MAX_CHANNELS; ++c) {
    const uint32_t source = black_first && c < 4 ? (c + 3) % 4 : c;
    std::string name = named && source < colour.channels ? colour.channel[source].name : "";
    if (name.empty()) name = "channel " + std::to_string(c + 1);
    std::printf("dots        %-8s %llu\n", name.c_str(),
                static_cast<unsigned long long>(counts.dots[c]));
  }
}

// A processed job: its print files, its printer, media, mode and pattern.
Exit job_work(const settings& s, const char* job_path, const Args& a, Work* w) {
  w->printer = a.printer ? a.printer : s.PrintDev;
  w->files = page_files(s);
  if (w->files.empty())
    return report(Exit::kFailure, kCommand, "the job \"%s\" has no print files (process it first)",
                  job_path);
  w->name = *s.JobName ? s.JobName : "job";
  w->frame.media = a.media ? a.media : s.PrintMedia;
  w->frame.mode = a.mode ? a.mode : s.PrintMode;
  w->frame.pattern = s.PatternDif;
  return Exit::kOk;
}

// An image printed as it is: the printer's default media and its default
// mode unless named.
Exit image_work(CPrintObj& printer, const char* image, const Args& a, Work* w) {
  w->files = {image};
  const std::string base = std::filesystem::path(image).stem().string();
  w->name = base.empty() ? "image" : base;
  PRNTINFO* info = printer.GetPrntInfo();
  w->frame.media = a.media ? a.media : (info ? info->default_media : "");
  const CPrintMode* mode =
      a.mode ? printer.GetMode(w->frame.media.c_str(), a.mode)
             : (info ? prntinfo_default_mode(info, w->frame.media.c_str()) : nullptr);
  if (a.mode && !mode)
    return report(Exit::kFailure, kCommand, "printer \"%s\" has no mode \"%s\" for \"%s\"",
                  w->printer.c_str(), a.mode, w->frame.media.c_str());
  if (mode) w->frame.mode = printmode_name(mode);
  return Exit::kOk;
}

Exit print_work(CPrintObj& printer, const Args& a, Work& w) {
  InterruptAbort abort;
  CPrintJobInfo job;
  job.name = w.name;
  job.abort = &abort;
  if (const int32_t r = printer.StartJob(job))
    return report(Exit::kFailure, kCommand, "the printer refused the job (status %d)", r);
  if (a.repeat) w.frame.repeat = a.repeat;
  Display display;
  display.tty = isatty(2);
  display.pages = w.files.size();
  int32_t status = 0;
  for (size_t i = 0; i < w.files.size() && status == 0 && !interrupted(); ++i) {
    display.page = i + 1;
    display.last_plain = -1;
    CPrintFrameInfo frame = w.frame;
    frame.page = int32_t(i);
    frame.name = w.files[i];
    status = klv::print_page_file(printer, w.files[i].c_str(), frame, show_progress, &display);
  }
  if (display.tty && status != 0) std::fputc('\n', stderr);
  if (!a.no_send && status == 0 && !interrupted()) print_counts(printer);
  const int32_t ended = printer.EndJob();
  if (interrupted()) return report(Exit::kFailure, kCommand, "aborted; the job was cancelled");
  if (status != 0)
    return report(Exit::kFailure, kCommand, "printing stopped (status %d); the job was cancelled",
                  status);
  if (ended != 0) return report(Exit::kFailure, kCommand, "the job did not end (status %d)", ended);
  char where[KLV_PATH_MAX] = "";
  if (!a.no_send) SP_get_info_str(printer.Object(), where, sizeof where, 1);
  std::printf("printed     %zu page%s of \"%s\" on %s\n", w.files.size(),
              w.files.size() == 1 ? "" : "s", job.name.c_str(), w.printer.c_str());
  if (*where) std::printf("output      %s\n", where);
  return Exit::kOk;
}

// A job is a folder, a settings text (perhaps enciphered) or a volume;
// any other file is taken for an image.
bool is_image(const char* path) {
  if (!std::filesystem::is_regular_file(path)) return false;
  char head[16] = {};
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  const size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  const std::string start(head, n);
  return start.rfind("Settings", 0) != 0 && start.rfind("ESET", 0) != 0 &&
         start.rfind("SQLite format 3", 0) != 0;
}

Exit run(const char* path, const Args& a) {
  Work w;
  const bool image = is_image(path);
  klv::SettingsPtr s = image ? nullptr : klv::load_job_settings(path);
  if (!s && !image) return report(Exit::kFailure, kCommand, "cannot read the job \"%s\"", path);
  if (image && !a.printer)
    return report(Exit::kUsage, kCommand, "printing the image \"%s\" needs --printer", path);
  if (s) {
    if (const Exit e = job_work(*s, path, a, &w); e != Exit::kOk) return e;
  } else {
    w.printer = a.printer;
  }
  CPrintObj printer(w.printer.c_str(), !a.no_send);
  if (printer.GetLastStatus() != 0)
    return report(Exit::kFailure, kCommand, "cannot open printer \"%s\" (status %d)",
                  w.printer.c_str(), printer.GetLastStatus());
  if (image) {
    if (const Exit e = image_work(printer, path, a, &w); e != Exit::kOk) return e;
  }
  if (a.output && SP_set_port_name(printer.Object(), a.output) != 0)
    return report(Exit::kFailure, kCommand, "the driver did not take the output \"%s\"", a.output);
  return print_work(printer, a, w);
}

}  // namespace

int print_command(int argc, char** argv) {
  Args a;
  const std::vector<Option> options = {
      {"--printer", "P", "the printer (default: the job's)", take_text(&a.printer)},
      {"--output", "PORT", "the driver's port for this job", take_text(&a.output)},
      {"--no-send", nullptr, "prepare every frame without sending anything", take_flag(&a.no_send)},
      {"--media", "M", "the media (default: the job's, or the printer's)", take_text(&a.media)},
      {"--mode", "MODE", "the print mode (default: the job's, or the media's)", take_text(&a.mode)},
      {"--repeat", "XxY", "repeat every pixel X times across, Y times down", take_text(&a.repeat)},
  };
  std::vector<const char*> args;
  const int code = exit_unless_run(parse_options(kHelp, options, argc, argv, &args));
  if (code >= 0) return code;
  poll_interrupts(true);
  const Exit e = run(args[0], a);
  poll_interrupts(false);
  return exit_code(e);
}

}  // namespace klvrip
