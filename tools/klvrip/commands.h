// SPDX-License-Identifier: MIT
// The commands of klvrip. Each command lives in its own file and is listed in
// the table in main.cpp; it gets the arguments after its own name and returns
// the process exit code (0 success, 1 failure, 2 bad usage).
#pragma once

#include <cstddef>

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
int icc_command(int argc, char** argv);
int convert_command(int argc, char** argv);
int job_command(int argc, char** argv);
int usage_command(int argc, char** argv);
int serve_command(int argc, char** argv);
int proflib_command(int argc, char** argv);
int repeat_command(int argc, char** argv);
int process_command(int argc, char** argv);
int print_command(int argc, char** argv);
// Prints an ICC profile held in memory, each line starting with `indent`; 0
// when it is not a profile.
int print_icc_summary(const void* data, size_t size, const char* indent);

}  // namespace klvrip
