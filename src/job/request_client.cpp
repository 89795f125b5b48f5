// SPDX-License-Identifier: MIT
// The client side of server requests: creating a request under a working
// name, publishing it whole, waiting for the server, and cleaning up.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "job/request_names.h"
#include "klv/kernel_path_cxx.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/platform.h"
#include "klv/prntinfo.h"
#include "klv/request.h"

namespace {

using namespace klv::request;

constexpr int64_t kPollMs = 500;
constexpr int kAnswerTries = 6;
constexpr int kNameTries = 4096;

int32_t set_status(int32_t* status, int32_t value) {
  if (status) *status = value;
  return value;
}

bool copy_path(char (&out)[SRV_PATH_MAX], const std::string& path) {
  if (path.size() >= SRV_PATH_MAX) return false;
  std::memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

bool exists(const std::string& path) {
  return Ofileexists(nullptr, path.c_str(), 0) != 0;
}

uint32_t first_id() {
  std::random_device device;
  return device();
}

// Reserves a request name: no request, answer or working file of that name
// exists, and the working file is created exclusively. -1 when the folder
// refuses new files (errno kept), 0 when the name is taken, 1 when reserved.
int reserve(const std::string& folder, const std::string& base, bool answer) {
  if (exists(request_path(folder, base)) || (answer && exists(answer_path(folder, base)))) return 0;
  const std::string work = klv::kernel::host_path(work_path(folder, base).c_str());
  const int fd = ::open(work.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? 0 : -1;
  ::close(fd);
  return 1;
}

// Creates the request volume under a free name.
bool create_volume(SRV_REQUEST* rec, const std::string& folder, const std::string& client,
                   bool answer) {
  uint32_t id = first_id();
  for (int i = 0; i < kNameTries; ++i, ++id) {
    const std::string base = request_base(client, id);
    const int r = reserve(folder, base, answer);
    if (r < 0) {
      KLV_LOG(KLV_LOG_ERROR, "server request: cannot create a file in %s: %s", folder.c_str(),
              std::strerror(errno));
      return false;
    }
    if (r == 0) continue;
    const std::string work = work_path(folder, base);
    rec->volume = VOpen(nullptr, work.c_str(), KLV_VOL_CREATE);
    if (!rec->volume) {
      Oremove(nullptr, work.c_str());
      continue;
    }
    copy_path(rec->work_path, work);
    copy_path(rec->request_path, request_path(folder, base));
    if (answer) copy_path(rec->answer_path, answer_path(folder, base));
    return true;
  }
  KLV_LOG(KLV_LOG_ERROR, "server request: no free request name in %s", folder.c_str());
  return false;
}

bool add_need_answer(SOVolume* volume) {
  SFilemux* s = Ovfopen(volume, ".\\NeedAnswer", "wb");
  return s && Oclose(s) == 0;
}

// Closes the request volume and gives it its request name.
bool publish(SRV_REQUEST* rec) {
  const bool closed = VClose(rec->volume) == 0;
  rec->volume = nullptr;
  if (!closed) {
    KLV_LOG(KLV_LOG_ERROR, "server request %s could not be written", rec->work_path);
  } else if (!rename_no_replace(rec->work_path, rec->request_path)) {
    KLV_LOG(KLV_LOG_ERROR, "server request %s could not be published as %s: %s", rec->work_path,
            rec->request_path, std::strerror(errno));
  } else {
    rec->work_path[0] = '\0';
    return true;
  }
  Oremove(nullptr, rec->work_path);
  rec->work_path[0] = '\0';
  return false;
}

// The base name of the request (its file name without ".RQX").
std::string base_of(const SRV_REQUEST* rec) {
  std::string name = rec->request_path;
  const size_t sep = name.find_last_of("/\\");
  if (sep != std::string::npos) name.erase(0, sep + 1);
  return name.size() > 4 ? name.substr(0, name.size() - 4) : name;
}

std::string folder_of(const SRV_REQUEST* rec) {
  const std::string path = rec->request_path;
  const size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

int32_t open_answer(SRV_REQUEST* rec) {
  for (int i = 0; i < kAnswerTries; ++i) {
    if (i > 0) klv::platform::Sleep(kPollMs);
    if (!exists(rec->answer_path)) continue;
    rec->volume = VOpen(nullptr, rec->answer_path, KLV_VOL_READ);
    if (rec->volume) return SRV_OK;
  }
  return SRV_NO_ANSWER;
}

}  // namespace

extern "C" {

SRV_REQUEST* begin_srv_request_ex(const char* folder, const char* client, uint32_t flags,
                                  int32_t* status) {
  if (!folder || !*folder) {
    set_status(status, SRV_NO_FOLDER);
    return nullptr;
  }
  try {
    const std::string dir = with_separator(folder);
    std::string who = client && *client ? client : klv::platform::ComputerName();
    if (who.empty()) who = "client";
    const bool answer = !(flags & SRV_NO_ANSWER_WANTED);
    if (dir.size() + who.size() + 24 >= SRV_PATH_MAX) {
      KLV_LOG(KLV_LOG_ERROR, "server request: the folder %s is too long for request names", folder);
      set_status(status, SRV_NO_FOLDER);
      return nullptr;
    }
    const std::string info = server_info_path(dir);
    if (!(flags & SRV_NO_SERVER_CHECK) && !exists(info)) {
      set_status(status, SRV_NOT_RUNNING);
      return nullptr;
    }
    auto* rec = static_cast<SRV_REQUEST*>(std::calloc(1, sizeof(SRV_REQUEST)));
    if (!rec) {
      set_status(status, SRV_NO_MEMORY);
      return nullptr;
    }
    if (!(flags & SRV_NO_SERVER_CHECK)) copy_path(rec->info_path, info);
    if (!create_volume(rec, dir, who, answer) || (answer && !add_need_answer(rec->volume))) {
      end_srv_request(rec, 0);
      set_status(status, SRV_NO_FOLDER);
      return nullptr;
    }
    set_status(status, SRV_OK);
    return rec;
  } catch (const std::bad_alloc&) {
    set_status(status, SRV_NO_MEMORY);
    return nullptr;
  }
}

SRV_REQUEST* begin_srv_request(const char* printer, const char* client, uint32_t flags,
                               int32_t* status) {
  char folder[KLV_PATH_MAX] = {};
  if (!printer || !get_printer_path(printer, folder, nullptr) || !folder[0]) {
    set_status(status, SRV_NO_FOLDER);
    return nullptr;
  }
  return begin_srv_request_ex(folder, client, flags, status);
}

int32_t wait_srv_request(SRV_REQUEST* rec, uint32_t timeout) {
  if (!rec || !rec->request_path[0]) return SRV_NOTHING;
  if (rec->work_path[0] && !publish(rec)) return SRV_NOTHING;
  try {
    const std::string folder = folder_of(rec), base = base_of(rec);
    int64_t waited = 0;
    while (!rec->info_path[0] || exists(rec->info_path)) {
      if (!exists(rec->request_path) && !being_run(folder, base))
        return rec->answer_path[0] ? open_answer(rec) : SRV_OK;
      if (timeout != SRV_WAIT_FOREVER && waited >= static_cast<int64_t>(timeout))
        return SRV_TIMEOUT;
      klv::platform::Sleep(kPollMs);
      waited += kPollMs;
    }
    return SRV_NOT_RUNNING;
  } catch (const std::bad_alloc&) {
    return SRV_NO_MEMORY;
  }
}

SRV_REQUEST* end_srv_request(SRV_REQUEST* rec, uint32_t flags) {
  if (!rec) return nullptr;
  if (rec->volume) VClose(rec->volume);
  if (rec->work_path[0]) Oremove(nullptr, rec->work_path);
  if ((flags & SRV_DELETE_REQUEST) && rec->request_path[0] && exists(rec->request_path))
    Oremove(nullptr, rec->request_path);
  if ((flags & SRV_DELETE_ANSWER) && rec->answer_path[0] && exists(rec->answer_path))
    Oremove(nullptr, rec->answer_path);
  std::free(rec);
  return nullptr;
}

}  // extern "C"
