// SPDX-License-Identifier: MIT
#include "run_klvrip.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/files.h"

namespace klv::test {

KlvripResult run_klvrip(const std::string& folder, const std::vector<std::string>& args,
                        bool demo_data) {
  const std::string out = folder + "/stdout", err = folder + "/stderr";
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
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  KlvripResult r;
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    r.code = WEXITSTATUS(status);
  r.out = read_text(out);
  r.err = read_text(err);
  return r;
}

}  // namespace klv::test
