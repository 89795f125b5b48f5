// SPDX-License-Identifier: MIT
// The request server: Server.Info while it runs, the watch loop, and the
// scan that takes the requests waiting in the folder.
#include <algorithm>
#include <cinttypes>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "job/request_names.h"
#include "job/request_server.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/platform.h"

namespace klv::request {

struct Server::State {
  ServerOptions options;
  std::string folder;
  std::string owner;
  FolderWatch watch;
  bool started = false;
};

namespace {

constexpr int32_t kSliceMs = 200;

// "Info\Server-<owner>.Live": this server's own mark, so that a server
// stopping can see whether another still watches the folder.
std::string live_mark(const std::string& folder, const std::string& owner) {
  return folder + "Info\\Server-" + owner + ".Live";
}

bool write_server_info(const std::string& folder, const std::string& owner) {
  SFSAVE* save = fp_save_begin(nullptr, server_info_path(folder).c_str());
  if (!save) return false;
  SFilemux* s = fp_save_stream(save);
  const std::string host = platform::ComputerName();
  const bool ok =
      Oprintf(s, "Server_Info {\n  Owner { %s }\n  Host { \"%s\" }\n  Started { %lld }\n}\n",
              owner.c_str(), host.c_str(), static_cast<long long>(std::time(nullptr))) >= 0;
  return fp_save_end(save, ok ? 1 : 0) == 1;
}

bool touch(const std::string& path) {
  SFilemux* s = Ovfopen(nullptr, path.c_str(), "wb");
  return s && Oclose(s) == 0;
}

// Another live server watching the folder, by its owner tag ("" when none).
std::string other_live_server(const std::string& folder, const std::string& owner) {
  SFindRec rec{};
  std::string found;
  if (!Ofindfirst(nullptr, (folder + "Info\\Server-*.Live").c_str(), 0, &rec)) return found;
  do {
    std::string tag = rec.name;
    tag = tag.substr(7, tag.size() - 12);  // between "Server-" and ".Live"
    if (tag == owner) continue;
    if (owner_alive(tag))
      found = tag;
    else
      Oremove(nullptr, (folder + "Info\\" + rec.name).c_str());
  } while (found.empty() && Ofindnext(&rec));
  Ofindclose(&rec);
  return found;
}

// The ".RQX" files waiting now, oldest name first.
std::vector<std::string> waiting_requests(const std::string& folder) {
  std::vector<std::string> names;
  SFindRec rec{};
  if (!Ofindfirst(nullptr, (folder + "*.RQX").c_str(), 0, &rec)) return names;
  do {
    names.push_back(rec.name);
  } while (Ofindnext(&rec));
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

Server::Server(ServerOptions options) : state_(std::make_unique<State>()) {
  state_->options = std::move(options);
  state_->folder = with_separator(state_->options.folder);
  state_->owner = owner_tag();
}

Server::~Server() {
  Stop();
}

const std::string& Server::folder() const {
  return state_->folder;
}

bool Server::Start() {
  State& st = *state_;
  if (st.started) return true;
  if (st.folder.empty() || !Ofileexists(nullptr, st.folder.c_str(), KLV_FA_DIR)) {
    KLV_LOG(KLV_LOG_ERROR, "request server: no folder %s", st.options.folder.c_str());
    return false;
  }
  const std::string info = info_folder(st.folder);
  if (!Ofileexists(nullptr, info.c_str(), KLV_FA_DIR) && !VMakeVDir(nullptr, info.c_str()) &&
      !Ofileexists(nullptr, info.c_str(), KLV_FA_DIR)) {
    KLV_LOG(KLV_LOG_ERROR, "request server: cannot make %s", info.c_str());
    return false;
  }
  if (!touch(live_mark(st.folder, st.owner)) || !write_server_info(st.folder, st.owner)) {
    KLV_LOG(KLV_LOG_ERROR, "request server: cannot write %s", server_info_path(st.folder).c_str());
    Oremove(nullptr, live_mark(st.folder, st.owner).c_str());
    return false;
  }
  recover_dead_work(st.folder);
  if (st.options.watch) st.watch.Open(st.folder);
  st.started = true;
  KLV_LOG(KLV_LOG_NOTICE, "request server %s watches %s (%s)", st.owner.c_str(), st.folder.c_str(),
          st.watch.watching() ? "events and polling" : "polling");
  return true;
}

int32_t Server::RunOnce() {
  State& st = *state_;
  int32_t count = 0;
  // A server that stopped beside this one may have removed Server.Info.
  if (st.started && !Ofileexists(nullptr, server_info_path(st.folder).c_str(), 0))
    write_server_info(st.folder, st.owner);
  for (const std::string& name : waiting_requests(st.folder)) {
    try {
      if (take_and_run(st.folder, name, st.options.handler)) ++count;
    } catch (const std::exception& e) {
      KLV_LOG(KLV_LOG_ERROR, "request %s failed: %s", name.c_str(), e.what());
    }
  }
  run_ += count;
  return count;
}

bool Server::Run(const std::function<bool()>& stop) {
  if (!Start()) return false;
  State& st = *state_;
  const int32_t poll = std::max<int32_t>(st.options.poll_ms, 10);
  while (!(stop && stop())) {
    RunOnce();
    for (int32_t waited = 0; waited < poll && !(stop && stop()); waited += kSliceMs)
      if (st.watch.Wait(std::min(kSliceMs, poll - waited))) break;
  }
  Stop();
  return true;
}

void Server::Stop() {
  State& st = *state_;
  if (!st.started) return;
  st.started = false;
  Oremove(nullptr, live_mark(st.folder, st.owner).c_str());
  const std::string other = other_live_server(st.folder, st.owner);
  if (other.empty())
    Oremove(nullptr, server_info_path(st.folder).c_str());
  else
    write_server_info(st.folder, other);
  KLV_LOG(KLV_LOG_NOTICE, "request server %s stopped after %lld requests", st.owner.c_str(),
          static_cast<long long>(run_));
}

}  // namespace klv::request
