// SPDX-License-Identifier: MIT
// The commands of klvrip. Each command lives in its own file and is listed in
// the table in main.cpp; it gets the arguments after its own name and returns
// the process exit code (0 success, 1 failure, 2 bad usage).
#pragma once

namespace klvrip {

struct Command {
  const char* name;
  const char* help;  // one line for `klvrip --help`
  int (*run)(int argc, char** argv);
};

int vol_command(int argc, char** argv);
int screen_command(int argc, char** argv);
int info_command(int argc, char** argv);
int print_test_command(int argc, char** argv);
int calib_command(int argc, char** argv);

}  // namespace klvrip
