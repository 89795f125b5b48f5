// SPDX-License-Identifier: MIT
// Running a request's script with a host's command table.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "klv/request.h"
#include "klv/request_cxx.h"

extern "C" int32_t srv_run_script(SFPARSE* fp, SOVolume* answer, const INTERP_CMD* table,
                                  int32_t count, void* data, const INTERP_LIMITS* limits,
                                  char* error, int32_t error_size) {
  if (error && error_size > 0) error[0] = '\0';
  SRV_SCRIPT_HOST host{answer, data};
  INTERP* ip = interp_attach(fp, table, count, &host);
  if (!ip) {
    if (error && error_size > 0) std::snprintf(error, error_size, "out of memory");
    return 0;
  }
  if (limits) interp_set_limits(ip, limits);
  const int32_t ran = interp_file(ip, 0);
  if (!ran && error && error_size > 0)
    std::snprintf(error, static_cast<size_t>(error_size), "%s",
                  interp_error(ip)[0] ? interp_error(ip) : "the script did not run");
  interp_free(ip);
  return ran;
}

namespace klv::request {

Handler script_handler(std::vector<INTERP_CMD> table, void* data, INTERP_LIMITS limits) {
  return [table = std::move(table), data, limits](SFPARSE* fp, SOVolume* answer,
                                                  std::string* error) {
    char text[320];
    const int32_t ran = srv_run_script(fp, answer, table.data(), static_cast<int32_t>(table.size()),
                                       data, &limits, text, sizeof text);
    if (!ran && error) *error = text;
    return ran != 0;
  };
}

}  // namespace klv::request
