// SPDX-License-Identifier: MIT
// Runs the built klvrip program as a user would, for the suite's tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace klv::test {

struct KlvripResult {
  int code = -1;  // the exit status; -1 when the program did not exit normally
  std::string out, err;
};

// Runs klvrip with `args`, standard output and standard error apart (kept
// in `folder` as "stdout" and "stderr"). With `demo_data` the shipped data
// folder (demo printers, profiles) is on KLV_PATH; otherwise the test's own
// environment is passed on unchanged. `env` pairs are set besides.
KlvripResult run_klvrip(const std::string& folder, const std::vector<std::string>& args,
                        bool demo_data = true,
                        const std::vector<std::pair<std::string, std::string>>& env = {});

// What an interrupted run left: its wait status and its standard error.
struct InterruptedRun {
  int status = 0;
  std::string err;
};

// Runs klvrip with `args` (the shipped data on KLV_PATH, `env` set too; its
// standard output is dropped), sends it SIGINT once its standard error holds
// `wait_for` (or after five seconds), and waits for it to end.
InterruptedRun interrupt_klvrip(const std::string& folder, const std::vector<std::string>& args,
                                const std::string& wait_for,
                                const std::vector<std::pair<std::string, std::string>>& env = {});

}  // namespace klv::test
