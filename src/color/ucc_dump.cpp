// SPDX-License-Identifier: MIT
// The text dump of a colour chain: one block per node named by its tag (or
// its type in hexadecimal), with the fields of its record.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "klv/log.h"
#include "ucc_internal.h"

using namespace klv::ucc;

namespace {

class Text {
 public:
  std::string s;
  void line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    s += buf;
    s += '\n';
  }
};

const char* kind_name(int32_t type) {
  switch (type) {
    case CMS_TYPE_ICC:
      return "CMS_TYPE_ICC";
    case CMS_TYPE_GCR:
      return "CMS_TYPE_GCR";
    case CMS_TYPE_DEVLINK:
      return "CMS_TYPE_DEVLINK";
    case CMS_TYPE_EMULATION:
      return "CMS_TYPE_EMULATION";
    default:
      return nullptr;
  }
}

// The value of an argument "key=value" of a profile node, -1 when absent.
long arg_value(const cms_profnode* n, const char* key) {
  const size_t k = std::strlen(key);
  for (int32_t i = 0; n->argv && i < n->argc; ++i)
    if (n->argv[i] && std::strncmp(n->argv[i], key, k) == 0 && n->argv[i][k] == '=')
      return std::strtol(n->argv[i] + k + 1, nullptr, 0);
  return -1;
}

void dump_profnode(Text& t, const cms_profnode* n) {
  t.line("  Profile {");
  if (const char* k = kind_name(n->type))
    t.line("   Kind=%s", k);
  else
    t.line("   Kind=%d", n->type);
  t.line("   cms_in=%02X, cms_out=%02X", n->in_format, n->out_format);
  t.line("   path = '%s'", n->path1);
  if (n->path3[0]) t.line("   destination = '%s'", n->path3);
  static const char* const kIntents[] = {"PERCEPTUAL_INTENT", "RELATIVE_INTENT",
                                         "SATURATION_INTENT", "ABSOLUTE_INTENT",
                                         "POSTERTCOLOR_INTENT"};
  const long intent = arg_value(n, "intent");
  if (intent >= 0 && intent < 5) t.line("     %s", kIntents[intent]);
  static const char* const kPure[] = {"CYAN", "MAGENTA", "YELLOW", "BLACK",
                                      "RED",  "GREEN",   "BLUE",   "HIFIORANGE"};
  const long pure = arg_value(n, "pure");
  for (int b = 0; pure > 0 && b < 8; ++b)
    if (pure & (1L << b)) t.line("     PURECLR_%s", kPure[b]);
  t.line("  }");
}

void dump_calb(Text& t, const ucc_calb* c) {
  t.line("  Calb Data {");
  t.line("    limit_name = '%s'", c->limit_name);
  t.line("    linear_name = '%s'", c->linear_name);
  t.line("    grey_name = '%s'", c->grey_name);
  t.line("    emulation_name = '%s'", c->emulation_name);
  t.line("    calb_vpath = '%s'", c->calb_vpath);
  t.line("    limit_fname = '%s'", c->limit_fname);
  t.line("    linear_fname = '%s'", c->linear_fname);
  t.line("    grey_fname = '%s'", c->grey_fname);
  t.line("    emulation_fname = '%s'", c->emulation_fname);
  t.line("    enable = %08x", c->enable);
  t.line("    limit_switch = %08x", c->limit_switch);
  t.line("    ignore_channels = %08x", c->ignore_channels);
  t.line("    loaded = limit %d, linear %d, grey %d, emulation %d", c->limit != nullptr,
         c->linear ? c->linear->count : 0, c->grey ? c->grey->count : 0, c->emulation != nullptr);
  t.line("  }");
}

void dump_curves(Text& t, const ucc_curves* c) {
  t.line("  used = %d, mode = %d", c->used, c->mode);
  for (int k = 0; k < c->used && k < 12; ++k) {
    std::string pts;
    for (int32_t i = 0; c->curves[k].points && i < c->curves[k].count; ++i) {
      char b[64];
      std::snprintf(b, sizeof b, " (%g, %g)", c->curves[k].points[i].x, c->curves[k].points[i].y);
      pts += b;
    }
    t.line("  curve %d:%s", k, pts.c_str());
  }
}

void dump_record(Text& t, const t_ucc_node* n) {
  const TypeInfo* ti = type_info(n->type);
  if (!ti || !n->data) return;
  switch (ti->record) {
    case Record::ProfList:
      for (const cms_profnode* p = static_cast<const ucc_proflist*>(n->data)->first; p; p = p->next)
        dump_profnode(t, p);
      break;
    case Record::Calb:
      dump_calb(t, static_cast<const ucc_calb*>(n->data));
      break;
    case Record::Curves:
      dump_curves(t, static_cast<const ucc_curves*>(n->data));
      break;
    case Record::Rgb: {
      const auto* r = static_cast<const ucc_rgb_levels*>(n->data);
      t.line("  enable = %d %d %d", r->enable[0], r->enable[1], r->enable[2]);
      t.line("  black = %d %d %d %d", r->black[0], r->black[1], r->black[2], r->k_black);
      t.line("  white = %d %d %d %d", 255 - r->white_inv[0], 255 - r->white_inv[1],
             255 - r->white_inv[2], 255 - r->k_white_inv);
      break;
    }
    case Record::Hsv: {
      const auto* h = static_cast<const ucc_hsv*>(n->data);
      t.line("  hue = %d, saturation = %d, value = %d", h->hue, h->saturation, h->value);
      break;
    }
    case Record::Crep:
      t.line("  entries = %d", static_cast<const ucc_crep*>(n->data)->count);
      break;
    case Record::Nrep:
      t.line("  entries = %d", static_cast<const ucc_nrep*>(n->data)->count);
      break;
    case Record::Srep: {
      const auto* s = static_cast<const ucc_srep*>(n->data);
      t.line("  table = '%s'", s->name);
      for (int i = 0; i < 11; ++i)
        if (s->spots[i].enabled || s->spots[i].name[0])
          t.line("   spot %d '%s' = %d %d %d", i, s->spots[i].name, s->spots[i].rgb[0],
                 s->spots[i].rgb[1], s->spots[i].rgb[2]);
      break;
    }
    case Record::Pdff: {
      const auto* p = static_cast<const ucc_pdff*>(n->data);
      t.line("  use_embedded_intent = %d, disable_embedded = %d", p->use_embedded_intent,
             p->disable_embedded_profiles);
      break;
    }
    case Record::Mask: {
      const auto* m = static_cast<const ucc_mask*>(n->data);
      t.line("  mode = %d, points = %d and %d", m->mode, m->n, m->m);
      break;
    }
    default:
      break;
  }
}

std::string dump(const t_ucc_node* chain) {
  Text t;
  t.line("Dump of a ucc node starting at %08llX {",
         static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(chain)));
  for (const t_ucc_node* n = chain; n; n = n->next) {
    char tag[5];
    if (ucc_type_tag(n->type, tag))
      t.line(" %s {", tag);
    else
      t.line(" %04X {", n->type);
    if (n->disable || n->flags) t.line("  disable = %u, flags = %08x", n->disable, n->flags);
    dump_record(t, n);
    t.line(" }");
  }
  t.line("}");
  return t.s;
}

}  // namespace

KLV_API int32_t dump_ucc_ex(const t_ucc_node* chain, char* out, int32_t size) {
  try {
    const std::string s = dump(chain);
    if (out && size > 0) {
      const size_t n = std::min(s.size(), static_cast<size_t>(size) - 1);
      std::memcpy(out, s.data(), n);
      out[n] = '\0';
    }
    return static_cast<int32_t>(s.size());
  } catch (...) {
    if (out && size > 0) out[0] = '\0';
    return 0;
  }
}

KLV_API void dump_ucc(const t_ucc_node* chain) {
  try {
    const std::string s = dump(chain);
    size_t at = 0;
    while (at < s.size()) {
      const size_t end = s.find('\n', at);
      KLV_LOG(KLV_LOG_INFO, "%s", s.substr(at, end - at).c_str());
      at = end + 1;
    }
  } catch (...) {
  }
}
