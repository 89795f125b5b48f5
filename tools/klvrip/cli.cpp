// SPDX-License-Identifier: MIT
// Exit statuses, messages, the option parser and Ctrl-C handling of klvrip.
#include "cli.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace klvrip {

int exit_code(Exit status) {
  switch (status) {
    case Exit::kOk:
      return 0;
    case Exit::kUsage:
      return 2;
    case Exit::kFailure:
      break;
  }
  return 1;
}

Exit report(Exit status, const char* command, const char* format, ...) {
  std::fprintf(stderr, "klvrip %s: ", command);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return status;
}

// ---- options ----

namespace {

const Option* find_option(const std::vector<Option>& options, const std::string& name) {
  for (const Option& o : options)
    if (name == o.name) return &o;
  return nullptr;
}

Parsed usage_error(const CommandHelp& help, const std::string& fault) {
  std::fprintf(stderr,
               "klvrip %s: %s\n"
               "usage: klvrip [-v] %s\n"
               "(klvrip %s --help lists the options)\n",
               help.command, fault.c_str(), help.synopsis, help.command);
  return Parsed::kUsageError;
}

}  // namespace

int exit_unless_run(Parsed parsed) {
  switch (parsed) {
    case Parsed::kHelp:
      return exit_code(Exit::kOk);
    case Parsed::kUsageError:
      return exit_code(Exit::kUsage);
    case Parsed::kRun:
      break;
  }
  return -1;
}

void print_help(FILE* out, const CommandHelp& help, const std::vector<Option>& options) {
  std::fprintf(out, "usage: klvrip [-v] %s\n\noptions:\n", help.synopsis);
  std::vector<std::string> heads;
  for (const Option& o : options)
    heads.push_back(std::string(o.name) + (o.value ? std::string(" ") + o.value : ""));
  heads.push_back("-v, --verbose");
  heads.push_back("-h, --help");
  size_t width = 0;
  for (const std::string& h : heads) width = std::max(width, h.size());
  for (size_t i = 0; i < heads.size(); ++i) {
    const char* text = i < options.size()    ? options[i].help
                       : i == options.size() ? "also show the library's information lines"
                                             : "show this help";
    std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), heads[i].c_str(), text);
  }
  if (help.notes && *help.notes) std::fprintf(out, "\n%s", help.notes);
}

Parsed parse_options(const CommandHelp& help, const std::vector<Option>& options, int argc,
                     char** argv, std::vector<const char*>* positional) {
  positional->clear();
  bool options_done = false;
  for (int i = 0; i < argc; ++i) {
    std::string word = argv[i];
    if (options_done || word.size() < 2 || word[0] != '-') {
      positional->push_back(argv[i]);
      continue;
    }
    if (word == "--") {
      options_done = true;
      continue;
    }
    if (word == "--help" || word == "-h") {
      print_help(stdout, help, options);
      return Parsed::kHelp;
    }
    std::string name = word;
    const char* value = nullptr;
    const size_t eq = word.find('=');
    if (eq != std::string::npos) {
      name = word.substr(0, eq);
      value = argv[i] + eq + 1;
    }
    const Option* option = find_option(options, name);
    if (!option) return usage_error(help, "unknown option " + name);
    if (option->value && !value) {
      if (i + 1 >= argc) return usage_error(help, name + " wants " + option->value);
      value = argv[++i];
    } else if (!option->value && value) {
      return usage_error(help, name + " takes no value");
    }
    const std::string fault = option->take(value);
    if (!fault.empty()) return usage_error(help, "bad " + name + ": " + fault);
  }
  const int count = static_cast<int>(positional->size());
  if (count < help.min_positional || count > help.max_positional)
    return usage_error(help,
                       count < help.min_positional ? "too few arguments" : "too many arguments");
  return Parsed::kRun;
}

std::function<std::string(const char*)> take_number(double* target, double above, double most) {
  return [=](const char* v) -> std::string {
    char* end = nullptr;
    const double d = std::strtod(v, &end);
    if (end == v || *end || !std::isfinite(d)) return std::string("\"") + v + "\" is not a number";
    if (d <= above || d > most) return std::string("\"") + v + "\" is out of range";
    *target = d;
    return "";
  };
}

std::function<std::string(const char*)> take_integer(int* target, int least, int most) {
  return [=](const char* v) -> std::string {
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (end == v || *end) return std::string("\"") + v + "\" is not a whole number";
    if (n < least || n > most)
      return std::string("\"") + v + "\" is not within " + std::to_string(least) + " to " +
             std::to_string(most);
    *target = static_cast<int>(n);
    return "";
  };
}

std::function<std::string(const char*)> take_text(const char** target) {
  return [=](const char* v) -> std::string {
    if (!*v) return "an empty value";
    *target = v;
    return "";
  };
}

std::function<std::string(const char*)> take_flag(bool* target) {
  return [=](const char*) -> std::string {
    *target = true;
    return "";
  };
}

bool take_verbose(int* argc, char** argv) {
  bool found = false;
  int out = 0;
  bool done = false;
  for (int i = 0; i < *argc; ++i) {
    const bool verbose =
        !done && (!std::strcmp(argv[i], "-v") || !std::strcmp(argv[i], "--verbose"));
    if (!std::strcmp(argv[i], "--")) done = true;
    if (verbose && i > 0) {
      found = true;
      continue;
    }
    argv[out++] = argv[i];
  }
  *argc = out;
  argv[out] = nullptr;
  return found;
}

// ---- Ctrl-C ----

namespace {

constexpr int kSlots = 16;
// Paths the signal handler removes. A slot's path is complete before it is
// marked used, and marked unused before it changes.
char g_paths[kSlots][PATH_MAX];
volatile sig_atomic_t g_used[kSlots];
volatile sig_atomic_t g_signal = 0;
volatile sig_atomic_t g_polling = 0;

void remove_temporaries() {
  for (int i = 0; i < kSlots; ++i)
    if (g_used[i]) ::unlink(g_paths[i]);
}

[[noreturn]] void die_by(int sig) {
  remove_temporaries();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
  ::_exit(128 + sig);
}

void on_signal(int sig) {
  const bool first = g_signal == 0;
  g_signal = sig;
  if (first && g_polling) return;  // the command stops at its next check
  die_by(sig);
}

}  // namespace

void install_interrupt_handler() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

void poll_interrupts(bool on) {
  g_polling = on ? 1 : 0;
}

bool interrupted() {
  return g_signal != 0;
}

void end_if_interrupted() {
  if (g_signal) die_by(g_signal);
}

bool register_temporary(const std::string& path) {
  if (path.size() >= PATH_MAX) return false;
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i]) continue;
    std::memcpy(g_paths[i], path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_used[i] = 1;
    return true;
  }
  return false;
}

void unregister_temporary(const std::string& path) {
  for (int i = 0; i < kSlots; ++i)
    if (g_used[i] && path == g_paths[i]) g_used[i] = 0;
}

}  // namespace klvrip
