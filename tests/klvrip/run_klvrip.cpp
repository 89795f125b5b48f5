// SPDX-License-Identifier: MIT
#include "run_klvrip.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "support/files.h"

namespace klv::test {

namespace {

// Starts klvrip with `args`, its standard output and error into the files
// named (the output may be /dev/null).
pid_t start_klvrip(const std::string& out, const std::string& err,
                   const std::vector<std::string>& args, bool demo_data,
                   const std::vector<std::pair<std::string, std::string>>& env) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) ::_exit(126);
    ::dup2(o, 1);
    ::dup2(e, 2);
    std::vector<std::string> words = {KLVRIP_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    if (demo_data) ::setenv("KLV_PATH", KLV_TEST_DATA "/../../data", 1);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

}  // namespace

KlvripResult run_klvrip(const std::string& folder, const std::vector<std::string>& args,
                        bool demo_data,
                        const std::vector<std::pair<std::string, std::string>>& env) {
  const std::string out = folder + "/stdout", err = folder + "/stderr";
  const pid_t pid = start_klvrip(out, err, args, demo_data, env);
  KlvripResult r;
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    r.code = WEXITSTATUS(status);
  r.out = read_text(out);
  r.err = read_text(err);
  return r;
}

InterruptedRun interrupt_klvrip(const std::string& folder, const std::vector<std::string>& args,
                                const std::string& wait_for,
                                const std::vector<std::pair<std::string, std::string>>& env) {
  const std::string err = folder + "/stderr.int";
  InterruptedRun r;
  const pid_t pid = start_klvrip("/dev/null", err, args, true, env);
  if (pid <= 0) return r;
  for (int i = 0; i < 5000 && read_text(err).find(wait_for) == std::string::npos; ++i)
    ::usleep(1000);
  ::kill(pid, SIGINT);
  ::waitpid(pid, &r.status, 0);
  r.err = read_text(err);
  return r;
}

}  // namespace klv::test
