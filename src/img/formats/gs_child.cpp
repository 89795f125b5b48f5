// SPDX-License-Identifier: MIT
// The interpreter child process: spawning without a shell, reading its output
// against a deadline, killing and reaping it, and its private folder.
#include "img/formats/gs_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace klv::img {
namespace {

constexpr const char* kMessagesFile = "messages.txt";

bool executable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The child's environment: the parent's, with TMPDIR and TEMP pointing at the
// private folder, and without GS_OPTIONS, through which the environment could
// otherwise add options (such as lifting the file restrictions) to every run.
std::vector<std::string> child_environment(const std::string& folder) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string_view v(*e);
    if (v.starts_with("TMPDIR=") || v.starts_with("TEMP=") || v.starts_with("TMP=") ||
        v.starts_with("GS_OPTIONS="))
      continue;
    env.emplace_back(v);
  }
  env.push_back("TMPDIR=" + folder);
  env.push_back("TEMP=" + folder);
  env.push_back("TMP=" + folder);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> p;
  for (auto& t : texts) p.push_back(t.data());
  p.push_back(nullptr);
  return p;
}

}  // namespace

std::string GsChild::program() {
  if (const char* own = std::getenv("KLV_GS"); own && *own) {
    const std::string p(own);
    if (p.find('/') != std::string::npos) return executable(p) ? p : std::string();
  }
  const char* name = std::getenv("KLV_GS");
  const std::string program = name && *name ? name : "gs";
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/bin:/bin";
  while (true) {
    const size_t colon = dirs.find(':');
    const std::string dir(dirs.substr(0, colon));
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (executable(candidate)) return candidate;
    if (colon == std::string_view::npos) return {};
    dirs.remove_prefix(colon + 1);
  }
}

bool GsChild::prepare(std::string* error) {
  return !folder_.empty() || make_folder(error);
}

bool GsChild::make_folder(std::string* error) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/klvgs-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    *error = "cannot create a temporary folder in \"" + pattern + "\": " + std::strerror(errno);
    return false;
  }
  folder_ = pattern;
  return true;
}

bool GsChild::start(const std::vector<std::string>& args, std::chrono::milliseconds time_limit,
                    std::string* error) {
  if (pid_ > 0 || out_fd_ >= 0) stop();
  timed_out_ = false;
  const std::string gs = program();
  if (gs.empty()) {
    *error =
        "the PostScript/PDF interpreter \"gs\" was not found; install the Debian package "
        "\"ghostscript\"";
    return false;
  }
  if (folder_.empty() && !make_folder(error)) return false;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    stop();
    return false;
  }
  std::vector<std::string> argv{gs};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = child_environment(folder_);
  const std::string messages = folder_ + "/" + kMessagesFile;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addchdir_np(&fa, folder_.c_str());
  auto av = pointers(argv);
  auto ev = pointers(env);
  exit_status_ = -1;
  const int rc = ::posix_spawn(&pid_, gs.c_str(), &fa, nullptr, av.data(), ev.data());
  posix_spawn_file_actions_destroy(&fa);
  ::close(fds[1]);
  out_fd_ = fds[0];
  ::fcntl(out_fd_, F_SETPIPE_SZ, 1 << 20);  // fewer wake-ups for large pages; best effort
  if (rc != 0) {
    pid_ = 0;
    *error = "cannot start \"" + gs + "\": " + std::strerror(rc);
    stop();
    return false;
  }
  limit_ = time_limit;
  deadline_ = Clock::now() + time_limit;
  return true;
}

int GsChild::wait_ms() const {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
  return int(std::clamp<int64_t>(left, 0, 1 << 30));
}

bool GsChild::readable() {
  if (out_fd_ < 0) return true;
  pollfd p{out_fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 || wait_ms() == 0;
}

ptrdiff_t GsChild::read(uint8_t* buffer, size_t n) {
  if (out_fd_ < 0) return -1;
  while (true) {
    pollfd p{out_fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, wait_ms());
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timed_out_ = ready == 0;
      if (pid_ > 0) ::kill(pid_, SIGKILL);
      return -1;
    }
    const ssize_t got = ::read(out_fd_, buffer, n);
    if (got < 0 && errno == EINTR) continue;
    return got;  // 0: the child closed its output
  }
}

void GsChild::restart_clock() {
  deadline_ = Clock::now() + limit_;
}

int GsChild::poll_exit() {
  if (pid_ <= 0) return exit_status_;
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r == 0) return kRunning;
  pid_ = 0;
  exit_status_ = r == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return exit_status_;
}

int GsChild::finish() {
  while (true) {
    const int status = poll_exit();
    if (status != kRunning) return status;
    if (wait_ms() == 0) {
      timed_out_ = true;
      ::kill(pid_, SIGKILL);
      poll_exit();
      while (poll_exit() == kRunning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::string GsChild::messages_tail(size_t max_bytes) const {
  if (folder_.empty()) return {};
  std::ifstream in(folder_ + "/" + kMessagesFile, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The interpreter's own error line says most ("Error: /invalidfileaccess
  // in --file--"); without one, the last lines.
  if (const size_t at = text.find("Error: "); at != std::string::npos)
    text = text.substr(at, text.find('\n', at) - at);
  if (text.size() > max_bytes) text = text.substr(text.size() - max_bytes);
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

void GsChild::stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
  }
  if (out_fd_ >= 0) ::close(out_fd_);
  out_fd_ = -1;
  if (!folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    folder_.clear();
  }
}

}  // namespace klv::img
