// SPDX-License-Identifier: MIT
// What every klvrip command shares: exit statuses and messages, the option
// table and its parser, and Ctrl-C.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace klvrip {

// ---- exit statuses and messages ----

enum class Exit { kOk, kFailure, kUsage };

// The process exit code of a status: 0 success, 1 failure, 2 bad usage.
int exit_code(Exit status);

// Writes "klvrip COMMAND: message" and a newline to stderr and returns
// `status`, so that a stage can end with `return report(Exit::kFailure, ...)`.
Exit report(Exit status, const char* command, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// ---- options ----

// One option of a command. `take` receives the option's value (null for a
// flag) and returns "" when it is good, else what is wrong with it (the
// parser names the option).
struct Option {
  const char* name;   // "--res"
  const char* value;  // what the value looks like in the help ("XxY"); null for a flag
  const char* help;   // one line for the help
  std::function<std::string(const char* value)> take;
};

// A command's help: the synopsis after "usage: klvrip ", its options and
// notes printed after them ("" for none).
struct CommandHelp {
  const char* command;   // "screen"
  const char* synopsis;  // "screen IN OUT [options]"
  const char* notes;
  int min_positional;
  int max_positional;
};

enum class Parsed { kRun, kHelp, kUsageError };

// Parses argv (the arguments after the command's name) against `options`:
// "--name value" and "--name=value"; "--help"/"-h" asks for the help; "--"
// ends the options; other words are positional arguments, gathered in order
// and counted against the help's limits. Prints the fault and the usage on
// stderr for kUsageError; the help on stdout for kHelp.
Parsed parse_options(const CommandHelp& help, const std::vector<Option>& options, int argc,
                     char** argv, std::vector<const char*>* positional);

// What a command returns when the parse does not run it: 0 after the help,
// 2 after a usage error; -1 when the command is to run.
int exit_unless_run(Parsed parsed);

// Prints the usage line, the option table and the notes.
void print_help(FILE* out, const CommandHelp& help, const std::vector<Option>& options);

// Value readers for option tables: each stores a good value and returns "",
// or returns what is wrong.
std::function<std::string(const char*)> take_number(double* target, double above, double most);
std::function<std::string(const char*)> take_integer(int* target, int least, int most);
std::function<std::string(const char*)> take_text(const char** target);
std::function<std::string(const char*)> take_flag(bool* target);

// Removes the global "-v"/"--verbose" from anywhere before "--" in argv and
// says whether it was there.
bool take_verbose(int* argc, char** argv);

// ---- Ctrl-C ----

// Catches SIGINT, SIGTERM and SIGHUP. Files registered as temporaries
// (register_temporary) are removed when the signal arrives. A command that
// polls interrupted() lets the first signal through to be handled in its
// own time; otherwise, and on the second signal, the process ends at once
// as the signal would have ended it.
void install_interrupt_handler();
// Commands that check interrupted() between steps call this first.
void poll_interrupts(bool on);
bool interrupted();
// Ends the process as the caught signal would have, after removing every
// registered temporary. Returns only when no signal was caught.
void end_if_interrupted();

// Files removed if the process is interrupted; at most 16 at a time. False
// when no slot is free (the file is then simply not removed on Ctrl-C).
bool register_temporary(const std::string& path);
void unregister_temporary(const std::string& path);

}  // namespace klvrip
