// SPDX-License-Identifier: MIT
// klvrip serve: answers the server requests dropped into a folder, running
// each ProfOp script against a profile library (or, without one, with the
// interpreter's own commands and Answer only).
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/platform.h"
#include "klv/proflib.h"
#include "klv/proflib_request.h"
#include "klv/request_cxx.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "serve";

const CommandHelp kHelp = {
    kCommand, "serve FOLDER [--library FILE.PrnLib | --printer NAME] [options]",
    "Watches FOLDER for requests (NAME.RQX volumes) and answers each one\n"
    "(Info\\NAME.ANS), until Ctrl-C or SIGTERM. While it runs, Info\\Server.Info\n"
    "says so. Each request's ProfOp script runs against the profile library\n"
    "given by --library (created when missing) or found for --printer; without\n"
    "either, only the interpreter's own commands and Answer are offered.\n"
    "Several servers may watch one folder: each request is run by one of them.\n"
    "Every request is logged (on stderr, or to the file named by KLV_LOG).\n",
    1, 1};

struct Settings {
  const char* library = nullptr;
  const char* printer = nullptr;
  int poll_ms = 1000;
  int steps = 0;
  bool no_watch = false;
};

// Opens the library for one request; null (logged) when it cannot be had.
SOVolume* open_library(const Settings& s) {
  if (s.printer) return PL_open_library(s.printer, KLV_VOL_CREATE);
  for (int i = 0; i < 100; ++i) {
    if (SOVolume* v = VOpen(nullptr, s.library, KLV_VOL_CREATE)) return v;
    klv::platform::Sleep(100);
  }
  KLV_LOG(KLV_LOG_ERROR, "the profile library %s cannot be opened", s.library);
  return nullptr;
}

klv::request::Handler library_handler(const Settings& s) {
  INTERP_LIMITS limits{};
  limits.max_steps = s.steps;
  return [s, limits](SFPARSE* fp, SOVolume* answer, std::string* error) {
    SOVolume* library = open_library(s);
    if (!library) {
      *error = "the profile library cannot be opened";
      return false;
    }
    char text[320];
    const int32_t ran = PL_handle_request_ex(fp, answer, library, &limits, text, sizeof text);
    if (VClose(library) != 0) {
      *error = "the profile library could not be written";
      return false;
    }
    if (!ran) *error = text;
    return ran != 0;
  };
}

klv::request::Handler builtin_handler(const Settings& s) {
  INTERP_LIMITS limits{};
  limits.max_steps = s.steps;
  return klv::request::script_handler({{"Answer", 0, srv_answer_func},
                                       {"DimStr", 0, interp_dimstr_func},
                                       {"DimVal", 0, interp_dimval_func},
                                       {"Fetch", 0, interp_fetch_func},
                                       {"Not", 0, interp_not_func},
                                       {"Or", 0, interp_or_func},
                                       {"Store", 0, interp_store_func}},
                                      nullptr, limits);
}

}  // namespace

int serve_command(int argc, char** argv) {
  Settings s;
  const std::vector<Option> options = {
      {"--library", "FILE", "the profile library volume the scripts work on",
       take_text(&s.library)},
      {"--printer", "NAME", "the printer whose profile library the scripts work on",
       take_text(&s.printer)},
      {"--poll", "MS", "scan the folder this often (default 1000)",
       take_integer(&s.poll_ms, 10, 3600000)},
      {"--steps", "N", "stop scripts after N steps (default 1000000)",
       take_integer(&s.steps, 1, 1000000000)},
      {"--no-watch", nullptr, "do not wake on file events; scan only", take_flag(&s.no_watch)},
  };
  std::vector<const char*> args;
  const int code = exit_unless_run(parse_options(kHelp, options, argc, argv, &args));
  if (code >= 0) return code;
  if (s.library && s.printer) {
    std::fprintf(stderr, "klvrip serve: give --library or --printer, not both\n");
    return exit_code(Exit::kUsage);
  }
  // Every request is logged, even without -v.
  const int32_t threshold = ErrorLogSetThreshold(KLV_LOG_NOTICE);
  if (threshold < KLV_LOG_NOTICE) ErrorLogSetThreshold(threshold);

  klv::request::ServerOptions o;
  o.folder = args[0];
  o.poll_ms = s.poll_ms;
  o.watch = !s.no_watch;
  o.handler = s.library || s.printer ? library_handler(s) : builtin_handler(s);
  klv::request::Server server(o);
  poll_interrupts(true);
  const bool ok = server.Run([] { return interrupted(); });
  poll_interrupts(false);
  if (!ok)
    return exit_code(report(Exit::kFailure, kCommand, "cannot serve the folder %s", args[0]));
  std::fprintf(stderr, "klvrip serve: stopped after %lld requests\n",
               static_cast<long long>(server.requests_run()));
  return exit_code(Exit::kOk);
}

}  // namespace klvrip
