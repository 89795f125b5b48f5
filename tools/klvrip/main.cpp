// SPDX-License-Identifier: MIT
// klvrip: `klvrip [-v] <command> ...` runs one command from the table below.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "commands.h"
#include "klv/log.h"

namespace {

const klvrip::Command kCommands[] = {
    {"vol", "volumes: vol ls|cat|put|rm|check FILE [MEMBER] [SRC]", klvrip::vol_command},
    {"screen", "screen an image into printer dots: screen IN OUT [options]",
     klvrip::screen_command},
    {"info", "describe an image: info FILE [TYPE]", klvrip::info_command},
    {"icc", "describe an ICC profile: icc FILE [--key N]", klvrip::icc_command},
    {"print-test", "print a test page: print-test PRINTER [OUTPUT]", klvrip::print_test_command},
    {"calib", "list, show and plot calibration tables: calib PRINTER [MEMBER]",
     klvrip::calib_command},
    {"convert", "convert an image's colours through ICC profiles: convert IN OUT [options]",
     klvrip::convert_command},
    {"job", "make and show job folders: job new FOLDER IMAGE ... | job show JOB",
     klvrip::job_command},
    {"usage", "a printer's ink and media usage: usage PRINTER [add ...]", klvrip::usage_command},
    {"serve", "answer server requests in a folder: serve FOLDER [--library FILE]",
     klvrip::serve_command},
    {"proflib", "a printer's profile library: proflib PRINTER list|show|set-default|add|remove",
     klvrip::proflib_command},
    {"repeat", "fill a page with copies of a pattern: repeat PATTERN OUT --page WxH [options]",
     klvrip::repeat_command},
    {"process", "process a job into print files: process JOB [--threads N] [--preview FILE.png]",
     klvrip::process_command},
    {"print", "print a processed job: print JOB [--printer P] [--output PORT]",
     klvrip::print_command},
};

void usage(FILE* out) {
  std::fprintf(out,
               "usage: klvrip [-v] <command> [arguments]\n"
               "       klvrip <command> --help\n\ncommands:\n");
  for (const auto& c : kCommands) std::fprintf(out, "  %-10s %s\n", c.name, c.help);
  std::fprintf(out,
               "\n"
               "  -v, --verbose  also show the library's information lines (by default only\n"
               "                 warnings and errors); before or after the command\n"
               "exit status: 0 success, 1 failure, 2 bad usage\n");
}

}  // namespace

int main(int argc, char** argv) {
  const bool verbose = klvrip::take_verbose(&argc, argv);
  ErrorLogSetThreshold(verbose ? KLV_LOG_INFO : KLV_LOG_WARNING);
  if (argc < 2) {
    usage(stderr);
    return klvrip::exit_code(klvrip::Exit::kUsage);
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    usage(stdout);
    return klvrip::exit_code(klvrip::Exit::kOk);
  }
  klvrip::install_interrupt_handler();
  for (const auto& c : kCommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    const int code = c.run(argc - 2, argv + 2);
    // A command that stopped for Ctrl-C has cleaned up; end as the signal would.
    klvrip::end_if_interrupted();
    return code;
  }
  std::fprintf(stderr, "klvrip: unknown command \"%s\"\n", argv[1]);
  usage(stderr);
  return klvrip::exit_code(klvrip::Exit::kUsage);
}
