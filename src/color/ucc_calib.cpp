// SPDX-License-Identifier: MIT
// Loading what a chain needs before it is applied: the transforms of its
// profile nodes and the tables of its calibration node (limit record,
// linearization, grey balance, emulation profile) from the calibration
// volume; and density nodes made from a linearization file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "ucc_internal.h"

using namespace klv::ucc;

namespace {

// `flags` bits that leave profile nodes of particular input types closed.
bool profile_excluded(int32_t type, uint32_t flags) {
  switch (type) {
    case UCC_ICG3:
    case UCC_PCG3:
      return flags & 0x10;
    case UCC_ICG4:
    case UCC_PCG4:
      return flags & 0x20;
    case UCC_ICGN:
    case UCC_PCGN:
      return flags & 0x40;
    case UCC_ICI3:
    case UCC_PCI3:
      return flags & 0x80;
    case UCC_ICI4:
    case UCC_PCI4:
      return flags & 0x100;
    case UCC_ICIN:
    case UCC_PCIN:
    case UCC_ICIO:
    case UCC_PCIO:
      return flags & 0x800;
    default:
      return false;
  }
}

bool profile_wanted(int32_t type, uint32_t what) {
  if (type >= UCC_PCG3 && type <= UCC_PCIO) return what & 1;
  if (type == UCC_MCXF) return what & 2;
  if (type >= UCC_ICG3 && type <= UCC_ICIO) return what & 4;
  return false;
}

void open_profiles(t_ucc_node* n) {
  auto* list = static_cast<ucc_proflist*>(n->data);
  for (cms_profnode* p = list ? list->first : nullptr; p; p = p->next)
    if (!p->xform && !cms_profnode_open_xform(cms_get_info(), p, nullptr, nullptr))
      KLV_LOG(KLV_LOG_ERROR, "colour chain: the profile \"%s\" could not be opened", p->path1);
}

// An inline limit record: "*scale first".
SCTB* inline_limit(const char* text) {
  auto* r = static_cast<SCTB*>(std::calloc(1, sizeof(SCTB)));
  if (!r) return nullptr;
  if (std::sscanf(text + 1, "%lf %d", &r->scale, &r->first) < 1) {
    KLV_LOG(KLV_LOG_ERROR, "colour chain: the inline limit \"%s\" has no scale", text);
    std::free(r);
    return nullptr;
  }
  return r;
}

bool local_name(const char* name) {
  return name[0] == '.' && name[1] == '\\';
}

cms_profnode* open_emulation(const char* path) {
  cms_profnode* n =
      cms_profnode_new(CMS_TYPE_EMULATION, "", 0, path, "", "", "KELVIcc", 0, nullptr, 0, nullptr,
                       4 | CMS_FMT_INK, 4 | CMS_FMT_INK, nullptr, nullptr);
  if (n && !cms_profnode_open_xform(cms_get_info(), n, nullptr, nullptr)) {
    cms_profnode_free(n, nullptr, nullptr);
    n = nullptr;
  }
  if (!n)
    KLV_LOG(KLV_LOG_ERROR, "colour chain: the emulation profile \"%s\" could not be opened", path);
  return n;
}

// Loads the calibration tables; true when any could be loaded.
bool load_calb_tables(SOVolume* volume, ucc_calb* c, uint32_t flags) {
  free_calb_tables(c);
  SOVolume* cv = c->calb_vpath[0] ? VOpen(nullptr, c->calb_vpath, KLV_VOL_READ) : volume;
  if (c->calb_vpath[0] && !cv)
    KLV_LOG(KLV_LOG_ERROR, "colour chain: the calibration volume \"%s\" cannot be opened",
            c->calb_vpath);
  if (!(c->limit_switch & 1) && !(flags & 0x2)) {
    if (c->limit_name[0] == '*')
      c->limit = inline_limit(c->limit_name);
    else if (c->limit_fname[0] && cv)
      c->limit = load_sctb(cv, c->limit_fname);
  }
  if ((c->enable & 1) && !(flags & 0x1) && c->linear_fname[0]) {
    const int32_t bits = (flags & 0x4) ? 16 : (flags & 0x200) ? 11 : 8;
    SOVolume* from = local_name(c->linear_fname) ? volume : cv;
    c->linear = load_lntb(from, c->linear_fname, bits);
    c->linear_bits = bits;
  }
  if ((c->enable & 2) && !(flags & 0x2) && c->grey_fname[0] && cv)
    c->grey = load_gbtb(cv, c->grey_fname);
  if ((c->enable & 4) && !(flags & 0x2) && c->emulation_fname[0])
    c->emulation = open_emulation(c->emulation_fname);
  if (cv && cv != volume) VClose(cv);
  return c->limit || c->linear || c->grey || c->emulation;
}

}  // namespace

KLV_API int32_t load_calibration(SOVolume* volume, t_ucc_node** chain, uint32_t what,
                                 uint32_t flags, void*) {
  if (!chain) return 0;
  try {
    t_ucc_node** at = chain;
    while (*at) {
      t_ucc_node* n = *at;
      bool drop = false;
      if (is_proflist(n->type) && profile_wanted(n->type, what) &&
          !profile_excluded(n->type, flags)) {
        open_profiles(n);
      } else if (n->type == UCC_CTB0 && (what & 0x9) && !(flags & 0x400) && n->data) {
        const bool any = load_calb_tables(volume, static_cast<ucc_calb*>(n->data), flags);
        drop = !any && (flags & 0x8);
      }
      delete n->transform;
      n->transform = nullptr;
      if (drop) {
        *at = n->next;
        n->next = nullptr;
        free_ucc(n);
      } else {
        at = &n->next;
      }
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API t_ucc_node* ucc_density_from_lntb(SOVolume* volume, const char* path) {
  LNTB* l = load_lntb(volume, path, 8);
  if (!l) return nullptr;
  t_ucc_node* node = nullptr;
  if (l->count >= 4 && (node = new_ucc(UCC_DNTB))) {
    auto* d = static_cast<ucc_density*>(node->data);
    for (int c = 0; c < 4; ++c)
      for (int i = 0; i < 256; ++i)
        d->tables[c][255 - i] = static_cast<uint8_t>(255 - (l->tables[c][i] & 0xFF));
  }
  free_linear_tbl(l);
  return node;
}
