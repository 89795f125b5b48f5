// SPDX-License-Identifier: MIT
// The answer volume's ".\\Answers" member: writing it (srv_write_answers and
// the Answer command of request scripts) and reading it back.
#include <cstring>
#include <string>
#include <vector>

#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/request.h"

namespace {

constexpr int32_t kMostValues = 65536;

bool write_value(SFilemux* s, const char* value) {
  std::vector<char> token(std::strlen(value) + 3);
  if (fp_fix_string(value, token.data(), static_cast<int32_t>(token.size())) < 0) return false;
  return Oprintf(s, " %s\n", token.data()) >= 0;
}

}  // namespace

extern "C" {

int32_t srv_write_answers(SOVolume* answer, const char* const* values, int32_t count) {
  if (!answer || count < 0 || (count > 0 && !values)) return 0;
  SFilemux* s = Ovfopen(answer, ".\\Answers", "wt");
  if (!s) return 0;
  bool ok = Oputs(s, "Answers {\n") >= 0;
  try {
    for (int32_t i = 0; ok && i < count; ++i) ok = write_value(s, values[i] ? values[i] : "");
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  ok = Oputs(s, "}\n") >= 0 && ok;
  ok = Oclose(s) == 0 && ok;
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "the answer could not be written");
  return ok ? 1 : 0;
}

char** srv_read_answers(SOVolume* answer, int32_t* count) {
  if (count) *count = 0;
  if (!answer || !Ofileexists(answer, ".\\Answers", 0)) return nullptr;
  SFilemux* s = Ovfopen(answer, ".\\Answers", "rb");
  if (!s) return nullptr;
  char** list = nullptr;
  SFPARSE* fp = fp_attach(s);
  char word[16];
  if (fp && fp_get_token(fp, word, sizeof word) == KLV_FP_WORD && std::strcmp(word, "Answers") == 0)
    list = get_char_list(fp, count);
  fp_close(fp);
  Oclose(s);
  return list;
}

int32_t srv_answer_func(const INTERP_LIST* args, int32_t, INTERP* ip) {
  const auto* host = static_cast<const SRV_SCRIPT_HOST*>(interp_host(ip));
  const char* a[2] = {};
  if (!host || !host->answer || interp_flatten(args, a, 2) < 2) return 0;
  const int32_t from = interp_sget_num(ip, a[0]), to = interp_sget_num(ip, a[1]);
  if (to - static_cast<int64_t>(from) > kMostValues) return 0;
  try {
    std::vector<const char*> values;
    for (int32_t i = from; i < to; ++i) {
      const char* v = interp_get_str(ip, i);
      values.push_back(v ? v : "");
    }
    return srv_write_answers(host->answer, values.data(), static_cast<int32_t>(values.size()));
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // extern "C"
