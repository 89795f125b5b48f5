// SPDX-License-Identifier: MIT
// Reading and writing screen setups as settings text.
#include <string>

#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"
#include "klv/screen_setup.h"

namespace {

bool put_indent(SFilemux* stream, int32_t indent) {
  for (int32_t i = 0; i < indent; ++i)
    if (Oputs(stream, "  ") < 0) return false;
  return true;
}

const char* str_or_empty(const char* const* strings, int32_t count, int32_t i) {
  return i < count && strings[i] ? strings[i] : "";
}

bool put_node(SFilemux* stream, const _SCREENSETUP* node, int32_t indent) {
  if (node->name[0]) {
    if (!put_indent(stream, indent + 1) || Oprintf(stream, "\"%s\" {\n", node->name) < 0)
      return false;
  } else if (Oputs(stream, "\"\"{\n") < 0) {
    return false;
  }
  for (int32_t i = 0, n = stral_count(node->entries); i < n; ++i) {
    int32_t count = 0;
    const char* const* e = stral_get(node->entries, i, &count);
    if (!put_indent(stream, indent + 2)) return false;
    int rc;
    if (count >= 6)
      rc = Oprintf(stream, "{ \"%s\" \"%s\" \"%s\" \"%s\" \"%s\" \"%s\" }\n", e[0], e[1], e[2],
                   e[3], e[4], e[5]);
    else
      rc = Oprintf(stream, "{ \"%s\" \"%s\" \"%s\" \"%s\" }\n", str_or_empty(e, count, 0),
                   str_or_empty(e, count, 1), str_or_empty(e, count, 2), str_or_empty(e, count, 3));
    if (rc < 0) return false;
  }
  return put_indent(stream, indent + 1) && Oputs(stream, "}\n") >= 0;
}

}  // namespace

extern "C" {

KLV_API int32_t put_screen_settings(SFilemux* stream, const char* block, _SCREENSETUP* const* list,
                                    int32_t indent) {
  if (!list || !*list) return 1;
  if (!stream) return 0;
  if (indent < 0) indent = 0;
  if (!put_indent(stream, indent) || Oprintf(stream, "%s {\n", block ? block : "") < 0) return 0;
  for (const _SCREENSETUP* s = *list; s; s = s->next) {
    if (stral_count(s->entries) <= 0) continue;
    if (!put_node(stream, s, indent)) return 0;
  }
  return put_indent(stream, indent) && Oputs(stream, "}\n") >= 0 ? 1 : 0;
}

KLV_API int32_t get_screen_settings(SFPARSE* fp, _SCREENSETUP** list) {
  if (!fp || !list) return 0;
  try {
    if (fp_peek_token(fp, nullptr, 0) != KLV_FP_OPEN) return 1;  // no block here
    fp_get_token(fp, nullptr, 0);
    _SCREENSETUP** tail = list;
    while (*tail) tail = &(*tail)->next;
    std::string name(KLV_SCREENSETUP_NAME * 4, '\0');
    for (;;) {
      int32_t kind = fp_get_token(fp, name.data(), int32_t(name.size()));
      if (kind == KLV_FP_CLOSE) return 1;
      if (kind != KLV_FP_WORD) {
        KLV_LOG(KLV_LOG_ERROR, "screen setups: block does not close (line %d)", fp_line(fp));
        return 0;
      }
      _SCREENSETUP* node = new_screen_setup(name.c_str());
      if (!node) {
        KLV_LOG(KLV_LOG_ERROR, "screen setups: out of memory");
        return 0;
      }
      SSTRAL* entries = fp_get_list(fp);
      if (!entries) {
        KLV_LOG(KLV_LOG_ERROR, "screen setups: entry list of \"%s\" cannot be read (line %d)",
                node->name, fp_line(fp));
        free_screen_settings(node);
        return 0;
      }
      stral_free(node->entries);
      node->entries = entries;
      *tail = node;
      tail = &node->next;
    }
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
