// SPDX-License-Identifier: MIT
// Fuzz target for the script interpreter: arbitrary bytes read as a script
// block and run, in statement and in condition mode, with the built-in
// commands and a few of a host's, under small limits so that every input
// ends quickly.
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"
#include "klv/script.h"

namespace {

int32_t constant(const INTERP_LIST*, int32_t arg, INTERP*) {
  return arg;
}

// Add {v<n> k}: a host command that changes a variable.
int32_t add(const INTERP_LIST* args, int32_t, INTERP* ip) {
  if (!args || args->count < 2) return 0;
  int32_t* v = interp_eget_val_ptr(ip, &args->elems[0]);
  if (!v) return 0;
  *v = static_cast<int32_t>(static_cast<uint32_t>(*v) +
                            static_cast<uint32_t>(interp_eget_num(ip, &args->elems[1])));
  return 1;
}

const INTERP_CMD kTable[] = {
    {"Add", 0, add},           {"DimStr", 0, interp_dimstr_func}, {"DimVal", 0, interp_dimval_func},
    {"False", 0, constant},    {"Fetch", 0, interp_fetch_func},   {"Not", 0, interp_not_func},
    {"Or", 0, interp_or_func}, {"Store", 0, interp_store_func},   {"True", 1, constant},
};

void run(const uint8_t* data, size_t size, int32_t cond) {
  SFilemux* stream = Omemopen(data, size);
  SFPARSE* fp = fp_attach(stream);
  INTERP* ip = interp_attach(fp, kTable, static_cast<int32_t>(std::size(kTable)), nullptr);
  INTERP_LIMITS limits{};
  limits.max_steps = 20000;
  limits.max_string_bytes = 1 << 20;
  interp_set_limits(ip, &limits);
  // Every block of the input, until one fails to read.
  for (int blocks = 0; blocks < 16 && interp_file(ip, cond); ++blocks) {
    if (fp_peek_token(fp, nullptr, 0) != KLV_FP_OPEN) break;
  }
  interp_free(ip);
  fp_close(fp);
  Oclose(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int32_t quiet = ErrorLogSetThreshold(KLV_LOG_ERROR + 1);
  (void)quiet;
  run(data, size, 0);
  run(data, size, 1);
  return 0;
}
