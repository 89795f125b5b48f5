// SPDX-License-Identifier: MIT
// Reading lists of tokens and nested lists from the interpreter's settings
// text reader, under the interpreter's step and depth limits.
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "script/interp_internal.h"

namespace {

using klv::script::fault;
using klv::script::step;

struct ListBuilder {
  std::vector<INTERP_ELEM> elems;
  ~ListBuilder() {
    for (auto& e : elems) {
      std::free(e.token);
      interp_free_list(e.list);
    }
  }
  // Hands the elements over to a new list; null when memory runs out.
  INTERP_LIST* release(int32_t line) {
    auto* list = static_cast<INTERP_LIST*>(std::calloc(1, sizeof(INTERP_LIST)));
    if (!list) return nullptr;
    list->line = line;
    if (!elems.empty()) {
      list->elems = static_cast<INTERP_ELEM*>(std::malloc(elems.size() * sizeof(INTERP_ELEM)));
      if (!list->elems) {
        std::free(list);
        return nullptr;
      }
      std::memcpy(list->elems, elems.data(), elems.size() * sizeof(INTERP_ELEM));
      list->count = static_cast<int32_t>(elems.size());
      elems.clear();
    }
    return list;
  }
};

class Parser {
 public:
  explicit Parser(INTERP* ip) : ip_(ip), buf_(KLV_FP_MAX_TOKEN + 1) {}

  // Reads elements up to the closing brace of a list opened at `line` (the
  // brace already consumed). Null on a fault.
  INTERP_LIST* body(int32_t line, int32_t depth) {
    if (depth > ip_->limits.max_depth) {
      fault(ip_, line, "lists nested deeper than %d levels", ip_->limits.max_depth);
      return nullptr;
    }
    ListBuilder b;
    for (;;) {
      const int32_t at = fp_line(ip_->fp);
      const int32_t t = fp_get_token(ip_->fp, buf_.data(), static_cast<int32_t>(buf_.size()));
      if (t == KLV_FP_CLOSE) break;
      if (t == KLV_FP_END || t == KLV_FP_ERROR) {
        fault(ip_, fp_line(ip_->fp), "the list opened at line %d does not close", line);
        return nullptr;
      }
      if (!step(ip_, at)) return nullptr;
      INTERP_ELEM e{nullptr, nullptr, at};
      if (t == KLV_FP_OPEN) {
        e.list = body(at, depth + 1);
        if (!e.list) return nullptr;
      } else {
        bytes_ += static_cast<int64_t>(std::strlen(buf_.data())) + 1;
        if (bytes_ > ip_->limits.max_script_bytes) {
          fault(ip_, at, "the script holds more than %lld bytes",
                static_cast<long long>(ip_->limits.max_script_bytes));
          return nullptr;
        }
        e.token = strdup(buf_.data());
        if (!e.token) return out_of_memory(at);
      }
      try {
        b.elems.push_back(e);
      } catch (const std::bad_alloc&) {
        std::free(e.token);
        interp_free_list(e.list);
        return out_of_memory(at);
      }
    }
    INTERP_LIST* list = b.release(line);
    return list ? list : out_of_memory(line);
  }

 private:
  INTERP_LIST* out_of_memory(int32_t line) {
    fault(ip_, line, "out of memory reading the script");
    return nullptr;
  }

  INTERP* ip_;
  std::vector<char> buf_;
  int64_t bytes_ = 0;  // token bytes read so far
};

}  // namespace

namespace klv::script {

// Reads the block that comes next for interp_file: a braced list, or the
// rest of the block the reader stands in.
INTERP_LIST* read_block(INTERP* ip) {
  if (!ip->fp) {
    fault(ip, 0, "no script to read");
    return nullptr;
  }
  const int32_t line = fp_line(ip->fp);
  try {
    Parser parser(ip);
    if (fp_peek_token(ip->fp, nullptr, 0) == KLV_FP_OPEN) fp_get_token(ip->fp, nullptr, 0);
    return parser.body(line, 1);
  } catch (const std::bad_alloc&) {
    fault(ip, line, "out of memory reading the script");
    return nullptr;
  }
}

namespace {

void flatten_into(const INTERP_LIST* list, std::vector<const char*>& out) {
  if (!list) return;
  for (int32_t i = 0; i < list->count; ++i) {
    const INTERP_ELEM& e = list->elems[i];
    if (e.token)
      out.push_back(e.token);
    else
      flatten_into(e.list, out);
  }
}

}  // namespace

std::vector<const char*> flatten(const INTERP_LIST* list) {
  std::vector<const char*> out;
  try {
    flatten_into(list, out);
  } catch (const std::bad_alloc&) {
    out.clear();
  }
  return out;
}

}  // namespace klv::script

extern "C" {

INTERP_LIST* interp_read_list(INTERP* ip) {
  if (!ip || !ip->fp || ip->faulted) return nullptr;
  if (fp_peek_token(ip->fp, nullptr, 0) != KLV_FP_OPEN) return nullptr;
  const int32_t line = fp_line(ip->fp);
  fp_get_token(ip->fp, nullptr, 0);
  try {
    Parser parser(ip);
    return parser.body(line, 1);
  } catch (const std::bad_alloc&) {
    fault(ip, line, "out of memory reading the script");
    return nullptr;
  }
}

void interp_free_list(INTERP_LIST* list) {
  if (!list) return;
  for (int32_t i = 0; i < list->count; ++i) {
    std::free(list->elems[i].token);
    interp_free_list(list->elems[i].list);
  }
  std::free(list->elems);
  std::free(list);
}

int32_t interp_flatten(const INTERP_LIST* list, const char** out, int32_t max) {
  const auto tokens = klv::script::flatten(list);
  for (size_t i = 0; out && i < tokens.size() && static_cast<int32_t>(i) < max; ++i)
    out[i] = tokens[i];
  return static_cast<int32_t>(tokens.size());
}

}  // extern "C"
