// SPDX-License-Identifier: MIT
// CSrvRqx: one server request from the client's side.
#include <cstring>

#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_util.h"
#include "klv/platform.h"
#include "klv/registry.h"
#include "klv/request_cxx.h"

namespace {

constexpr int32_t kDefaultTimeoutMs = 30000;
constexpr size_t kUserMax = 256;

// The per-user ServerRequestTimeout (seconds) in milliseconds.
uint32_t request_timeout() {
  const int32_t seconds = klv_registry_get_int("ServerRequestTimeout", -1);
  if (seconds < 0) return kDefaultTimeoutMs;
  return static_cast<uint32_t>(seconds) >= SRV_WAIT_FOREVER / 1000
             ? SRV_WAIT_FOREVER - 1
             : static_cast<uint32_t>(seconds) * 1000;
}

int32_t count_of(char** list) {
  int32_t n = 0;
  while (list && list[n]) ++n;
  return n;
}

}  // namespace

CSrvRqx::CSrvRqx(const char* folder, const char* user) : folder_(folder ? folder : "") {
  user_ = user && *user ? user : klv::platform::UserName();
  if (user_.size() >= kUserMax) user_.resize(kUserMax - 1);
}

CSrvRqx::~CSrvRqx() {
  if (record_) End(SRV_DELETE_REQUEST | SRV_DELETE_ANSWER);
}

bool CSrvRqx::Begin(uint32_t flags) {
  if (record_) End(SRV_DELETE_REQUEST | SRV_DELETE_ANSWER);
  record_ = begin_srv_request_ex(folder_.c_str(), user_.c_str(), flags, &status_);
  return record_ != nullptr;
}

bool CSrvRqx::Wait(int32_t retries) {
  const uint32_t timeout = request_timeout();
  status_ = wait_srv_request(record_, timeout);
  for (int32_t i = 0; i < retries && status_ == SRV_TIMEOUT; ++i)
    status_ = wait_srv_request(record_, timeout);
  return status_ == SRV_OK;
}

void CSrvRqx::End(uint32_t flags) {
  record_ = end_srv_request(record_, flags);
}

SFilemux* CSrvRqx::OpenBasicRequest(const char* mode) {
  if (!record_ || !record_->volume || !record_->work_path[0]) return nullptr;
  SFilemux* s = Ovfopen(record_->volume, ".\\Request", mode && *mode ? mode : "wb");
  if (s && Oputs(s, "Request {\n") < 0) {
    Oclose(s);
    return nullptr;
  }
  return s;
}

int32_t CSrvRqx::CloseBasicRequest(SFilemux* stream) {
  if (!stream) return 0;
  const bool ok = Oputs(stream, "}\n") >= 0;
  return Oclose(stream) == 0 && ok ? 1 : 0;
}

SFilemux* CSrvRqx::OpenRequest(const char* mode) {
  SFilemux* s = OpenBasicRequest(mode);
  if (s && Oputs(s, " ProfOp {\n") < 0) {
    Oclose(s);
    return nullptr;
  }
  return s;
}

int32_t CSrvRqx::CloseRequest(SFilemux* stream) {
  if (!stream) return 0;
  const bool ok = Oputs(stream, " }\n") >= 0;
  return CloseBasicRequest(stream) && ok ? 1 : 0;
}

char** CSrvRqx::OpenAnswer() {
  if (!record_ || !record_->volume || record_->work_path[0]) return nullptr;
  return srv_read_answers(record_->volume, nullptr);
}

void CSrvRqx::CloseAnswer(char** list) {
  free_char_list(list);
}

int32_t CSrvRqx::GetIntResult(char** list, int32_t i) {
  if (i < 0 || i >= count_of(list)) return 0;
  return OatoiEx(list[i], nullptr);
}

int32_t CSrvRqx::GetStrResult(char** list, int32_t i, char* buffer, int32_t size) {
  if (!buffer || size < 1) return 0;
  buffer[0] = '\0';
  if (i < 0 || i >= count_of(list)) return 0;
  const size_t n = std::min(std::strlen(list[i]), static_cast<size_t>(size - 1));
  std::memcpy(buffer, list[i], n);
  buffer[n] = '\0';
  return 1;
}
