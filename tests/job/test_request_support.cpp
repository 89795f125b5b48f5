// SPDX-License-Identifier: MIT
#include "test_request_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/platform.h"
#include "support/files.h"

namespace klv::test {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_term(int) {
  g_stop = 1;
}

int32_t mark(const INTERP_LIST* args, int32_t, INTERP* ip) {
  const auto* host = static_cast<const SRV_SCRIPT_HOST*>(interp_host(ip));
  const auto* file = static_cast<const std::string*>(host->data);
  const char* word = nullptr;
  if (!file || interp_flatten(args, &word, 1) < 1) return 0;
  const std::string line = std::string(word) + " " + std::to_string(::getpid()) + "\n";
  const int fd = ::open(file->c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) return 0;
  const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  return ok;
}

int32_t sleep_ms(const INTERP_LIST* args, int32_t sleeping, INTERP* ip) {
  const char* ms = nullptr;
  if (sleeping && interp_flatten(args, &ms, 1) >= 1) platform::Sleep(interp_sget_num(ip, ms));
  return 1;
}

request::ServerOptions options(const std::string& folder, const std::string* mark_file,
                               bool sleeping) {
  request::ServerOptions o;
  o.folder = folder;
  o.poll_ms = 100;
  o.handler = request::script_handler(request_table(sleeping), const_cast<std::string*>(mark_file));
  return o;
}

}  // namespace

std::vector<INTERP_CMD> request_table(bool sleeping) {
  return {{"Answer", 0, srv_answer_func},
          {"DimStr", 0, interp_dimstr_func},
          {"DimVal", 0, interp_dimval_func},
          {"Fetch", 0, interp_fetch_func},
          {"Mark", 0, mark},
          {"Not", 0, interp_not_func},
          {"Or", 0, interp_or_func},
          {"Sleep", sleeping ? 1 : 0, sleep_ms},
          {"Store", 0, interp_store_func}};
}

void fake_server_info(const std::string& folder) {
  std::filesystem::create_directories(folder + "/Info");
  write_text(folder + "/Info/Server.Info", "Server_Info {\n}\n");
}

std::vector<std::string> files_ending(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    const std::string n = e.path().filename();
    if (n.size() >= suffix.size() &&
        n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
      names.push_back(n);
  }
  return names;
}

Reply ask(const std::string& folder, const std::string& script) {
  CSrvRqx rq(folder.c_str(), "tester");
  Reply r;
  if (!rq.Begin(0)) {
    r.status = rq.status();
    return r;
  }
  SFilemux* s = rq.OpenRequest();
  Oputs(s, script.c_str());
  Oputs(s, "\n");
  rq.CloseRequest(s);
  rq.Wait(0);
  r = read_reply(rq.record(), rq.status());
  rq.End(SRV_DELETE_REQUEST | SRV_DELETE_ANSWER);
  return r;
}

SRV_REQUEST* send(const std::string& folder, const std::string& script, uint32_t flags) {
  int32_t status = -1;
  SRV_REQUEST* rec = begin_srv_request_ex(folder.c_str(), "batch", flags, &status);
  if (!rec) return nullptr;
  SFilemux* s = Ovfopen(rec->volume, ".\\Request", "wb");
  Oprintf(s, "Request {\n ProfOp {\n%s\n }\n}\n", script.c_str());
  Oclose(s);
  wait_srv_request(rec, 0);  // publishes; the server cannot have answered yet
  return rec;
}

Reply read_reply(SRV_REQUEST* rec, int32_t status) {
  Reply r;
  r.status = status;
  if (status != SRV_OK || !rec || !rec->volume) return r;
  int32_t n = 0;
  char** values = srv_read_answers(rec->volume, &n);
  r.answered = values != nullptr;
  for (int32_t i = 0; i < n; ++i) r.values.push_back(values[i]);
  free_char_list(values);
  if (SFilemux* e = Ovfopen(rec->volume, ".\\Error", "rb")) {
    char line[512] = {};
    if (Ogets(line, sizeof line, e)) r.error = line;
    Oclose(e);
  }
  return r;
}

ThreadServer::ThreadServer(const std::string& folder, const std::string* mark_file) {
  const auto o = options(folder, mark_file, false);
  const std::string info = folder + "/Info";
  const size_t before = std::filesystem::exists(info) ? files_ending(info, ".Live").size() : 0;
  thread_ = std::thread([this, o] {
    request::Server server(o);
    server.Run([this] { return stop_.load(); });
  });
  // Started once its mark is there (Server.Info is written just after it).
  while (!std::filesystem::exists(folder + "/Info/Server.Info") ||
         files_ending(info, ".Live").size() <= before)
    platform::Sleep(5);
}

ThreadServer::~ThreadServer() {
  stop_ = true;
  thread_.join();
}

pid_t fork_server(const std::string& folder, const std::string* mark_file, bool sleeping) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  g_stop = 0;
  std::signal(SIGTERM, on_term);
  request::Server server(options(folder, mark_file, sleeping));
  const bool ok = server.Run([] { return g_stop != 0; });
  ::_exit(ok ? 0 : 1);
}

int stop_server(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace klv::test
