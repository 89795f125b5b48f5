// SPDX-License-Identifier: MIT
// Running parsed lists: blocks, if/then/else, while/do, do/while, case and
// commands of the host's table.
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "script/interp_internal.h"

namespace {

using klv::script::fault;
using klv::script::find_command;
using klv::script::step;

bool is_word(const INTERP_ELEM* e, const char* word) {
  return e && e->token && Ostricmp(e->token, word) == 0;
}

// The element at i when it is a list, else null.
const INTERP_LIST* list_at(const INTERP_LIST* list, int32_t i) {
  return i < list->count ? list->elems[i].list : nullptr;
}

const INTERP_ELEM* elem_at(const INTERP_LIST* list, int32_t i) {
  return i < list->count ? &list->elems[i] : nullptr;
}

// Counts a nested run; false (with a fault) when it goes too deep.
class Depth {
 public:
  Depth(INTERP* ip, int32_t line) : ip_(ip) {
    ok_ = ++ip_->depth <= ip_->limits.max_depth ||
          fault(ip_, line, "runs nested deeper than %d levels", ip_->limits.max_depth);
  }
  ~Depth() { --ip_->depth; }
  bool ok() const { return ok_; }

 private:
  INTERP* ip_;
  bool ok_;
};

// The statements of one list. Each Run* handles the element at `i` and
// returns the index of the next element to run; `result` turns 0 when the
// list ends in condition mode.
class ListRun {
 public:
  ListRun(INTERP* ip, const INTERP_LIST* list, bool cond) : ip_(ip), list_(list), cond_(cond) {}

  int32_t Run() {
    int32_t i = 0;
    while (i < list_->count) {
      if (!step(ip_, list_->elems[i].line)) return 0;
      i = RunAt(i);
      if (!result_ || ip_->faulted) return 0;
    }
    return 1;
  }

 private:
  int32_t RunAt(int32_t i) {
    const INTERP_ELEM& e = list_->elems[i];
    if (e.list) {
      interp_list(ip_, e.list, 0);
      return i + 1;
    }
    if (Ostricmp(e.token, "if") == 0 && list_at(list_, i + 1)) return RunIf(i);
    if (Ostricmp(e.token, "while") == 0 && list_at(list_, i + 1)) return RunWhile(i);
    if (Ostricmp(e.token, "do") == 0 && list_at(list_, i + 1)) return RunDo(i);
    if (Ostricmp(e.token, "case") == 0 && list_at(list_, i + 1)) {
      interp_case(ip_, list_at(list_, i + 1));
      return i + 2;
    }
    return RunCommand(i);
  }

  // if {C} [then {A}] [else {B}]
  int32_t RunIf(int32_t i) {
    const INTERP_LIST* c = list_at(list_, i + 1);
    const INTERP_LIST *a = nullptr, *b = nullptr;
    i += 2;
    if (is_word(elem_at(list_, i), "then") && list_at(list_, i + 1)) {
      a = list_at(list_, i + 1);
      i += 2;
    }
    if (is_word(elem_at(list_, i), "else") && list_at(list_, i + 1)) {
      b = list_at(list_, i + 1);
      i += 2;
    }
    interp_try(ip_, c, a, b);
    return i;
  }

  // while {C} do {A}: nothing runs when the do part is missing.
  int32_t RunWhile(int32_t i) {
    const INTERP_LIST* c = list_at(list_, i + 1);
    i += 2;
    if (!is_word(elem_at(list_, i), "do") || !list_at(list_, i + 1)) return i;
    const INTERP_LIST* a = list_at(list_, i + 1);
    while (!ip_->faulted && interp_list(ip_, c, 1)) interp_list(ip_, a, 0);
    return i + 2;
  }

  // do {A} [while {C}]
  int32_t RunDo(int32_t i) {
    const INTERP_LIST* a = list_at(list_, i + 1);
    const INTERP_LIST* c = nullptr;
    i += 2;
    if (is_word(elem_at(list_, i), "while") && list_at(list_, i + 1)) {
      c = list_at(list_, i + 1);
      i += 2;
    }
    do {
      interp_list(ip_, a, 0);
    } while (c && !ip_->faulted && interp_list(ip_, c, 1));
    return i;
  }

  int32_t RunCommand(int32_t i) {
    const INTERP_ELEM& e = list_->elems[i];
    const INTERP_CMD* cmd = find_command(ip_, e.token);
    if (!cmd || !cmd->func) {
      if (cond_)
        result_ = 0;
      else
        KLV_LOG(KLV_LOG_WARNING, "script line %d: \"%.80s\" names no command; skipped", e.line,
                e.token);
      return i + 1;
    }
    const INTERP_LIST* args = list_at(list_, i + 1);
    const int32_t r = cmd->func(args, cmd->arg, ip_);
    if (r == 0 && cond_) result_ = 0;
    return args ? i + 2 : i + 1;
  }

  INTERP* ip_;
  const INTERP_LIST* list_;
  bool cond_;
  int32_t result_ = 1;
};

}  // namespace

extern "C" {

int32_t interp_list(INTERP* ip, const INTERP_LIST* list, int32_t cond) {
  if (!ip || ip->faulted) return 0;
  if (!list) return 1;
  // Every run costs a step, so that loops over empty lists end too.
  if (!step(ip, list->line)) return 0;
  Depth depth(ip, list->line);
  if (!depth.ok()) return 0;
  return ListRun(ip, list, cond != 0).Run();
}

int32_t interp_file(INTERP* ip, int32_t cond) {
  if (!ip || ip->faulted) return 0;
  INTERP_LIST* block = klv::script::read_block(ip);
  if (!block) return 0;
  const int32_t r = interp_list(ip, block, cond);
  interp_free_list(block);
  return ip->faulted ? 0 : r;
}

int32_t interp_try(INTERP* ip, const INTERP_LIST* condition, const INTERP_LIST* then_list,
                   const INTERP_LIST* else_list) {
  if (!ip || ip->faulted) return 0;
  const INTERP_LIST* chosen = interp_list(ip, condition, 1) ? then_list : else_list;
  if (ip->faulted || !chosen) return 0;
  return interp_list(ip, chosen, 0);
}

int32_t interp_case(INTERP* ip, const INTERP_LIST* list) {
  if (!ip || ip->faulted || !list || list->count < 1 || !list->elems[0].list) return 0;
  const INTERP_LIST* s = list->elems[0].list;
  for (int32_t i = 0; i < s->count; ++i) {
    const INTERP_CMD* cmd = find_command(ip, s->elems[i].token);
    if (!cmd || !cmd->func) continue;
    const int32_t k = cmd->func(list_at(s, i + 1), cmd->arg, ip);
    if (k >= 1 && k < list->count && list->elems[k].list && !ip->faulted)
      interp_list(ip, list->elems[k].list, 0);
    return k;
  }
  return s->count;
}

}  // extern "C"
