// SPDX-License-Identifier: MIT
// Forwarding helpers shared by the SP_* calls: each looks up one entry of the
// printer object's copied table, applies the uniform checks and keeps the
// outcome in the status word.
#pragma once

#include "klv/printer_driver.h"

namespace klv::printer::sp {

// An action call: null object -> 2; absent entry -> `absent` (0 for most calls);
// no instance -> 7; otherwise the driver's result. The result is kept in the
// status word.
template <typename Fn, typename... Args>
int32_t action(SP_OBJECT* object, Fn printer_funcs::*member, int32_t absent, Args... args) {
  if (!object) return SP_ERR_ARGUMENT;
  Fn fn = object->funcs.*member;
  int32_t result;
  if (!fn) {
    result = absent;
  } else if (!object->instance) {
    result = SP_ERR_NO_INSTANCE;
  } else {
    object->status = SP_STATUS_PENDING;
    result = fn(object->instance, args...);
  }
  object->status = result;
  return result;
}

// A call whose result is an object or value: null or 0 on failure, with the
// code (6 absent, 7 no instance) left in the status word. The status word is
// -3 while the driver runs and stays so: the outcome is not recorded.
template <typename R, typename Fn, typename... Args>
R value(SP_OBJECT* object, Fn printer_funcs::*member, Args... args) {
  if (!object) return R{};
  Fn fn = object->funcs.*member;
  if (!fn) {
    object->status = SP_ERR_NO_ENTRY;
    return R{};
  }
  if (!object->instance) {
    object->status = SP_ERR_NO_INSTANCE;
    return R{};
  }
  object->status = SP_STATUS_PENDING;
  return fn(object->instance, args...);
}

}  // namespace klv::printer::sp
