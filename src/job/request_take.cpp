// SPDX-License-Identifier: MIT
// The run of one request by a server: take it by renaming it, read its
// ProfOp block, run it, publish the answer whole, and log what happened.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "job/request_names.h"
#include "job/request_server.h"
#include "klv/kernel_path_cxx.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/platform.h"

namespace klv::request {
namespace {

// "<folder>Info\<base>.<owner>.ANW": an answer being written.
std::string answer_work_path(const std::string& folder, const std::string& base,
                             const std::string& owner) {
  return folder + "Info\\" + base + "." + owner + ".ANW";
}

// Opens the request's ProfOp block and runs the handler on it.
bool run_profop(SOVolume* request, SOVolume* answer, const Handler& handler, std::string* error) {
  SFilemux* s = Ovfopen(request, ".\\Request", "rb");
  if (!s) {
    *error = "the request has no Request member";
    return false;
  }
  bool ok = false;
  SFPARSE* fp = fp_attach(s);
  if (!fp || !off_open_rec(fp, "Request"))
    *error = "the Request member holds no Request block";
  else if (!fp_open_block(fp, "ProfOp"))
    *error = "the request holds no ProfOp block";
  else if (!handler)
    *error = "this server runs no request scripts";
  else
    ok = handler(fp, answer, error);
  fp_close(fp);
  Oclose(s);
  return ok;
}

bool write_error(SOVolume* answer, const std::string& error) {
  SFilemux* s = Ovfopen(answer, ".\\Error", "wt");
  if (!s) return false;
  const bool ok = Oprintf(s, "%s\n", error.c_str()) >= 0;
  return Oclose(s) == 0 && ok;
}

// Closes the answer volume and gives it its answer name.
bool publish_answer(SOVolume* answer, const std::string& work, const std::string& final) {
  if (VClose(answer) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "request server: the answer %s could not be written", work.c_str());
    Oremove(nullptr, work.c_str());
    return false;
  }
  if (!Orename(nullptr, work.c_str(), final.c_str())) {
    Oremove(nullptr, work.c_str());
    return false;
  }
  return true;
}

struct Outcome {
  bool ran = false;
  bool answered = false;
  std::string error;
};

Outcome run_taken(const std::string& folder, const std::string& base, const std::string& taken,
                  const std::string& owner, const Handler& handler) {
  Outcome out;
  SOVolume* request = VOpen(nullptr, taken.c_str(), KLV_VOL_READ);
  if (!request) {
    out.error = "the request is not a volume";
    return out;
  }
  const bool need_answer = Ofileexists(request, ".\\NeedAnswer", 0) != 0;
  SOVolume* answer = nullptr;
  const std::string work = answer_work_path(folder, base, owner);
  if (need_answer) {
    answer = VOpen(nullptr, work.c_str(), KLV_VOL_CREATE);
    if (!answer) out.error = "the answer volume could not be created";
  }
  if (!need_answer || answer) {
    try {
      out.ran = run_profop(request, answer, handler, &out.error);
    } catch (const std::exception& e) {
      out.error = std::string("the request failed: ") + e.what();
    }
  }
  VClose(request);
  if (answer) {
    if (!out.ran) write_error(answer, out.error);
    out.answered = publish_answer(answer, work, answer_path(folder, base));
  }
  return out;
}

}  // namespace

bool take_and_run(const std::string& folder, const std::string& name, const Handler& handler) {
  if (name.size() <= 4) return false;
  const std::string base = name.substr(0, name.size() - 4);
  const std::string owner = owner_tag();
  const std::string taken = taken_path(folder, base, owner);
  // The claim: of several servers renaming the request at once, one succeeds
  // and the others find it gone (not logged: it is how requests are shared).
  const std::string from = kernel::host_path((folder + name).c_str());
  if (std::rename(from.c_str(), kernel::host_path(taken.c_str()).c_str()) != 0) return false;
  const int64_t start = platform::MonotonicMs();
  const Outcome out = run_taken(folder, base, taken, owner, handler);
  Oremove(nullptr, taken.c_str());
  const long long ms = static_cast<long long>(platform::MonotonicMs() - start);
  if (out.ran)
    KLV_LOG(KLV_LOG_NOTICE, "request %s ran in %lld ms%s", base.c_str(), ms,
            out.answered ? ", answered" : "");
  else
    KLV_LOG(KLV_LOG_WARNING, "request %s refused: %s%s", base.c_str(), out.error.c_str(),
            out.answered ? " (answered with the error)" : "");
  return true;
}

void recover_dead_work(const std::string& folder) {
  SFindRec rec{};
  if (Ofindfirst(nullptr, (folder + "*.RUN").c_str(), 0, &rec)) {
    do {
      std::string owner;
      const std::string base = split_taken(rec.name, &owner);
      if (base.empty() || owner_alive(owner)) continue;
      const std::string taken = folder + rec.name;
      Oremove(nullptr, answer_work_path(folder, base, owner).c_str());
      if (rename_no_replace(taken, request_path(folder, base)))
        KLV_LOG(KLV_LOG_WARNING, "request %s: its server stopped while running it; queued again",
                base.c_str());
    } while (Ofindnext(&rec));
    Ofindclose(&rec);
  }
  // Answers being written by servers that are gone.
  if (Ofindfirst(nullptr, (folder + "Info\\*.ANW").c_str(), 0, &rec)) {
    do {
      const std::string name = rec.name;
      const std::string stem = name.substr(0, name.size() - 4);
      const size_t dot = stem.rfind('.');
      if (dot != std::string::npos && !owner_alive(stem.substr(dot + 1)))
        Oremove(nullptr, (folder + "Info\\" + name).c_str());
    } while (Ofindnext(&rec));
    Ofindclose(&rec);
  }
}

}  // namespace klv::request
