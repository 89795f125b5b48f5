// SPDX-License-Identifier: MIT
// klvrip process: runs the image processing driver on a job folder and says
// what it made: the print files, the print-file list, the processing record,
// the dots per ink (counted by the printer's driver) and the time each stage
// took. Progress goes to a terminal as one updating
// line, otherwise as a plain line per tenth of the run; Ctrl-C cancels the
// job, which then leaves no print file behind.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "dot_preview.h"
#include "klv/cms.h"
#include "klv/imgmux.h"
#include "klv/imgproc_cxx.h"
#include "output_file.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "process";

const CommandHelp kHelp = {
    kCommand, "process JOB [--threads N] [--preview FILE.png]",
    "Processes the job JOB (a job folder, job volume or settings file, as `klvrip\n"
    "job new` makes): its image is brought to the printer's resolution, converted\n"
    "to the printer's inks and screened into print files beside the job's print\n"
    "path, with the print-file list and the processing record. Ctrl-C cancels the\n"
    "job and removes what it made.\n",
    1, 1};

struct Args {
  int threads = 0;
  const char* preview = nullptr;
};

struct Display {
  bool tty = false;
  int last_plain = -1;  // the last tenth of the run shown on a plain line
};

void show_percent(Display* d, const char* text) {
  int whole = 0, tenth = 0;
  if (std::sscanf(text, "%d.%d", &whole, &tenth) != 2) return;
  if (d->tty) {
    std::fprintf(stderr, "\r%s: screening %5s", kCommand, text);
    if (whole >= 100) std::fputc('\n', stderr);
  } else if (whole / 10 != d->last_plain) {
    d->last_plain = whole / 10;
    std::fprintf(stderr, "%s: %d%%\n", kCommand, whole / 10 * 10);
  }
}

int32_t callback(void* context, int32_t code, const char* argument) {
  auto* d = static_cast<Display*>(context);
  switch (code) {
    case KLV_PROC_CB_POLL:
      return interrupted() ? 1 : 0;
    case KLV_PROC_CB_PERCENT:
      show_percent(d, argument);
      return 0;
    case KLV_PROC_CB_STATUS:
      if (d->tty) std::fputc('\r', stderr);
      std::fprintf(stderr, "%s: %s\n", kCommand, argument);
      return 0;
    default:
      return 0;  // messages are in the log (-v shows them)
  }
}

// The usage record as one JSON object on one line.
std::string usage_json(const klv::ProcOutcome& o) {
  std::string line = "{";
  const auto quoted = [&line](const std::string& text) {
    line += '"';
    for (const char c : text) {
      if (c == '"' || c == '\\') {
        line += '\\';
        line += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(c));
        line += esc;
      } else {
        line += c;
      }
    }
    line += '"';
  };
  for (const auto& [key, value] : o.usage) {
    if (line.size() > 1) line += ',';
    quoted(key);
    line += ':';
    quoted(value);
  }
  return line + "}";
}

void print_outcome(const klv::ProcOutcome& o) {
  std::printf("page %dx%d at %gx%g dpi, %zu separations (%s), %d screening thread%s\n", o.width,
              o.height, o.xres, o.yres, o.separations.size(), o.separations.empty() ? "" : "CMYK",
              o.threads, o.threads == 1 ? "" : "s");
  std::printf("colour      %s\n", o.colour.empty() ? "inks as they are" : o.colour.c_str());
  if (!o.ink_restriction.empty()) std::printf("restriction %s\n", o.ink_restriction.c_str());
  for (const std::string& f : o.print_files) std::printf("print file  %s\n", f.c_str());
  std::printf("list        %s\n", o.list_path.c_str());
  std::printf("record      %s\n", o.record_path.c_str());
  std::printf("usage       %s\n", usage_json(o).c_str());
  for (const auto& ink : o.ink) {
    std::printf("ink         %-8s %llu dots", ink.ink.c_str(),
                static_cast<unsigned long long>(ink.dots));
    if (ink.millilitres >= 0) std::printf(", %.4f ml", ink.millilitres);
    std::printf("\n");
  }
  for (const klv::ProcStageTime& s : o.stages) {
    std::printf("  %-10s %8.3f s\n", s.stage.c_str(), s.seconds);
    if (s.stage == "output")
      for (const klv::ProcStageTime& p : o.parts)
        std::printf("    %-10s %6.3f s\n", p.stage.c_str(), p.seconds);
  }
}

Exit write_preview(const klv::ProcOutcome& o, const char* png) {
  if (o.print_files.empty()) return Exit::kOk;
  const std::string& first = o.print_files[0];
  if (first.size() < 4 || first.compare(first.size() - 4, 4, "B001") != 0) {
    std::printf("preview     none (the pages are contone)\n");
    return Exit::kOk;
  }
  OutputFile preview(png);
  if (preview.Failed())
    return report(Exit::kFailure, kCommand, "cannot create \"%s\": %s", png,
                  preview.Error().c_str());
  if (!write_dot_preview(o.print_files[0].c_str(), KLV_TYPE_OUTIMG, o.print_files[0].c_str(),
                         preview.Temp().c_str(), png, 1600))
    return report(Exit::kFailure, kCommand, "no preview");
  if (!preview.Commit())
    return report(Exit::kFailure, kCommand, "cannot write \"%s\": %s", png,
                  preview.Error().c_str());
  std::printf("preview     %s\n", png);
  return Exit::kOk;
}

Exit run(const char* job, const Args& a) {
  Display display;
  display.tty = isatty(2);
  klv::ProcOptions options;
  options.threads = a.threads;
  options.count_ink = true;
  klv::ProcOutcome outcome;
  const bool ok = klv::process_job(job, nullptr, nullptr, options, callback, &display, &outcome);
  cms_terminate(nullptr, nullptr);
  if (!ok) {
    if (interrupted()) return report(Exit::kFailure, kCommand, "cancelled; no print file was left");
    return report(Exit::kFailure, kCommand, "\"%s\" was not processed: %s", job,
                  outcome.error.c_str());
  }
  print_outcome(outcome);
  return a.preview ? write_preview(outcome, a.preview) : Exit::kOk;
}

}  // namespace

int process_command(int argc, char** argv) {
  Args a;
  const std::vector<Option> options = {
      {"--threads", "N", "screening threads (default: the registry's MultiThreadedProcess)",
       take_integer(&a.threads, 1, 64)},
      {"--preview", "FILE.png", "also write a picture of the first page's dots",
       take_text(&a.preview)},
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
