// SPDX-License-Identifier: MIT
#include "script_support.h"

#include <iterator>

#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"

namespace klv::test {
namespace {

// Say {words}: appends the words to the trace; succeeds.
int32_t say(const INTERP_LIST* args, int32_t, INTERP* ip) {
  auto* trace = static_cast<std::string*>(interp_host(ip));
  const int32_t n = interp_flatten(args, nullptr, 0);
  std::vector<const char*> words(static_cast<size_t>(n));
  interp_flatten(args, words.data(), n);
  for (const char* w : words) {
    if (!trace->empty()) *trace += ' ';
    *trace += w;
  }
  return 1;
}

// True and False: their table argument is the result.
int32_t constant(const INTERP_LIST*, int32_t arg, INTERP*) {
  return arg;
}

// Add {v<n> k}: numeric variable n grows by k; fails when out of range.
int32_t add(const INTERP_LIST* args, int32_t, INTERP* ip) {
  if (!args || args->count < 2) return 0;
  int32_t* v = interp_eget_val_ptr(ip, &args->elems[0]);
  if (!v) return 0;
  *v += interp_eget_num(ip, &args->elems[1]);
  return 1;
}

// Less {a b}: a < b.
int32_t less(const INTERP_LIST* args, int32_t, INTERP* ip) {
  if (!args || args->count < 2) return 0;
  return interp_eget_num(ip, &args->elems[0]) < interp_eget_num(ip, &args->elems[1]);
}

const INTERP_CMD kTable[] = {
    {"Say", 0, say},
    {"True", 1, constant},
    {"False", 0, constant},
    {"Add", 0, add},
    {"Less", 0, less},
    {"DimVal", 0, interp_dimval_func},
    {"Or", 0, interp_or_func},
    {"Not", 0, interp_not_func},
    {"DimStr", 0, interp_dimstr_func},
    {"Store", 0, interp_store_func},
    {"Fetch", 0, interp_fetch_func},
    {"Nothing", 0, nullptr},
};

}  // namespace

ScriptRun run_script(const std::string& text, bool cond, const INTERP_LIMITS& limits) {
  ScriptRun run;
  SFilemux* stream = Omemopen(text.data(), text.size());
  SFPARSE* fp = fp_attach(stream);
  INTERP* ip = interp_attach(fp, kTable, static_cast<int32_t>(std::size(kTable)), &run.trace);
  interp_set_limits(ip, &limits);
  run.result = interp_file(ip, cond ? 1 : 0);
  run.error = interp_error(ip);
  run.error_line = interp_error_line(ip);
  run.steps = interp_steps(ip);
  for (int32_t i = 0; i < interp_val_count(ip); ++i)
    run.numbers.push_back(*interp_sget_val_ptr(ip, std::to_string(i).c_str()));
  for (int32_t i = 0; i < interp_str_count(ip); ++i) run.strings.push_back(interp_get_str(ip, i));
  interp_free(ip);
  fp_close(fp);
  Oclose(stream);
  return run;
}

}  // namespace klv::test
