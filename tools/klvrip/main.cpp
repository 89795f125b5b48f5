// SPDX-License-Identifier: MIT
// klvrip: `klvrip <command> ...` runs one command from the table below.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

const klvrip::Command kCommands[] = {
    {"vol", "look inside volumes: vol ls|cat|put|rm FILE [MEMBER] [SRC]", klvrip::vol_command},
    {"screen", "screen an image into printer dots: screen IN OUT [options]",
     klvrip::screen_command},
    {"info", "describe an image: info FILE [TYPE]", klvrip::info_command},
    {"icc", "describe an ICC profile: icc FILE [--key N]", klvrip::icc_command},
    {"print-test", "print a test page: print-test PRINTER [OUTPUT]", klvrip::print_test_command},
};

void usage(FILE* out) {
  std::fprintf(out, "usage: klvrip <command> [arguments]\n\ncommands:\n");
  for (const auto& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.help);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage(stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    usage(stdout);
    return 0;
  }
  for (const auto& c : kCommands)
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 2, argv + 2);
  std::fprintf(stderr, "klvrip: unknown command \"%s\"\n", argv[1]);
  usage(stderr);
  return 2;
}
