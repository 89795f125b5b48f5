// SPDX-License-Identifier: MIT
// Colour chains as lists: making and freeing nodes, insertion in type order,
// lookup and removal, copies by type list or class, simplification, and the
// calibration node's names.
#include <cstdlib>
#include <cstring>

#include "klv/log.h"
#include "ucc_internal.h"

using namespace klv::ucc;

namespace {

void free_node(t_ucc_node* node) {
  delete node->transform;
  if (!(node->shared & 0xFF)) free_record(node->type, node->data);
  std::free(node);
}

// The class bit of a type for copy_ucc_ref_ex2; 0 means always copied.
uint32_t class_bit(int32_t type) {
  if (type <= 26) return 1;
  if (type <= 128) return 2;
  if (type <= 149) return 4;
  if (type <= 192) return 16;
  if (type <= 208) return 8;
  return 0;
}

t_ucc_node* copy_node(const t_ucc_node* node, int32_t ref, bool* failed) {
  auto* copy = static_cast<t_ucc_node*>(std::calloc(1, sizeof(t_ucc_node)));
  if (!copy) {
    *failed = true;
    return nullptr;
  }
  copy->type = node->type;
  std::memcpy(copy->parameters, node->parameters, sizeof copy->parameters);
  copy->disable = node->disable;
  copy->flags = node->flags;
  copy->shared = static_cast<uint32_t>(ref);
  copy->data = copy_record(node->type, node->data, failed);
  if (*failed) {
    std::free(copy);
    return nullptr;
  }
  return copy;
}

template <typename Keep>
t_ucc_node* copy_selected(const t_ucc_node* chain, int32_t ref, Keep keep) {
  t_ucc_node* head = nullptr;
  t_ucc_node** tail = &head;
  for (const t_ucc_node* n = chain; n; n = n->next) {
    if (!keep(n)) continue;
    bool failed = false;
    t_ucc_node* copy = copy_node(n, ref, &failed);
    if (failed) {
      KLV_LOG(KLV_LOG_ERROR, "colour chain: memory ran out copying a node of type %d", n->type);
      free_ucc(head);
      return nullptr;
    }
    *tail = copy;
    tail = &copy->next;
  }
  return head;
}

void copy_name(char* out, const char* in) {
  if (!in) return;
  std::strncpy(out, in, UCC_NAME_SIZE - 1);
  out[UCC_NAME_SIZE - 1] = '\0';
}

bool proflist_empty(const t_ucc_node* n) {
  return !n->data || !static_cast<const ucc_proflist*>(n->data)->first;
}

}  // namespace

KLV_API t_ucc_node* new_ucc(int32_t type) {
  auto* node = static_cast<t_ucc_node*>(std::calloc(1, sizeof(t_ucc_node)));
  if (!node) return nullptr;
  node->type = static_cast<uint16_t>(type);
  const TypeInfo* t = type_info(type);
  if (t && t->record != Record::None) {
    node->data = make_record(type);
    if (!node->data) {
      std::free(node);
      return nullptr;
    }
  }
  return node;
}

KLV_API t_ucc_node* free_ucc(t_ucc_node* chain) {
  while (chain) {
    t_ucc_node* next = chain->next;
    free_node(chain);
    chain = next;
  }
  return nullptr;
}

KLV_API void restart_ucc(t_ucc_node* chain, int32_t all) {
  for (t_ucc_node* n = chain; n; n = n->next) {
    if (!n->transform) continue;
    delete n->transform;
    n->transform = nullptr;
    if (!all) return;
  }
}

KLV_API t_ucc_node* add_ucc(t_ucc_node* chain, t_ucc_node* node) {
  if (!node) return chain;
  node->next = nullptr;
  t_ucc_node** at = &chain;
  while (*at && (*at)->type <= node->type) at = &(*at)->next;
  node->next = *at;
  *at = node;
  return chain;
}

KLV_API t_ucc_node* merge_ucc(t_ucc_node* chain, t_ucc_node* other) {
  while (other) {
    t_ucc_node* next = other->next;
    chain = add_ucc(chain, other);
    other = next;
  }
  return chain;
}

KLV_API t_ucc_node* find_ucc_node(t_ucc_node* chain, int32_t type) {
  for (t_ucc_node* n = chain; n; n = n->next)
    if (n->type == type) return n;
  return nullptr;
}

KLV_API t_ucc_node* remove_ucc_node(t_ucc_node** chain, int32_t type) {
  if (!chain) return nullptr;
  for (t_ucc_node** at = chain; *at; at = &(*at)->next) {
    if ((*at)->type != type) continue;
    t_ucc_node* found = *at;
    *at = found->next;
    found->next = nullptr;
    return found;
  }
  return nullptr;
}

KLV_API t_ucc_node* copy_ucc(const t_ucc_node* chain) {
  return copy_ucc_ref_ex(chain, 0, nullptr);
}

KLV_API t_ucc_node* copy_ucc_ref(const t_ucc_node* chain, int32_t ref) {
  return copy_ucc_ref_ex(chain, ref, nullptr);
}

KLV_API t_ucc_node* copy_ucc_ref_ex(const t_ucc_node* chain, int32_t ref, const int32_t* types) {
  return copy_selected(chain, ref, [types](const t_ucc_node* n) {
    if (!types) return true;
    for (const int32_t* t = types; *t; ++t)
      if (*t == n->type) return true;
    return false;
  });
}

KLV_API t_ucc_node* copy_ucc_ref_ex2(const t_ucc_node* chain, int32_t ref, uint32_t classes) {
  return copy_selected(chain, ref, [classes](const t_ucc_node* n) {
    const uint32_t bit = class_bit(n->type);
    return classes == 0 || bit == 0 || (classes & bit) != 0;
  });
}

KLV_API t_ucc_node* simplify_ucc(t_ucc_node* chain) {
  t_ucc_node** at = &chain;
  while (*at) {
    t_ucc_node* n = *at;
    if (!n->data || (is_proflist(n->type) && proflist_empty(n))) {
      *at = n->next;
      free_node(n);
    } else {
      at = &n->next;
    }
  }
  return chain;
}

KLV_API t_ucc_node* ucc_set_calb(t_ucc_node* chain, const char* limit, const char* linear,
                                 const char* grey, const char* emulation, uint32_t enable,
                                 uint32_t limit_switch) {
  t_ucc_node* node = find_ucc_node(chain, UCC_CTB0);
  if (!node) {
    node = new_ucc(UCC_CTB0);
    if (!node) return chain;
    chain = add_ucc(chain, node);
  }
  auto* c = static_cast<ucc_calb*>(node->data);
  copy_name(c->limit_name, limit);
  copy_name(c->linear_name, linear);
  copy_name(c->grey_name, grey);
  copy_name(c->emulation_name, emulation);
  c->enable = enable;
  c->limit_switch = limit_switch;
  delete node->transform;
  node->transform = nullptr;
  return chain;
}

KLV_API int32_t ucc_type_tag(int32_t type, char* out) {
  const TypeInfo* t = type_info(type);
  if (!t || !t->tag) {
    if (out) out[0] = '\0';
    return 0;
  }
  if (out) {
    std::memcpy(out, t->tag, 4);
    out[4] = '\0';
  }
  return 1;
}

KLV_API int32_t ucc_is_pure(const t_ucc_node* chain) {
  for (const t_ucc_node* n = chain; n; n = n->next) {
    if ((n->disable & 1) || (n->flags & 1)) continue;
    if (is_mask(n->type) && n->data) return 0;
  }
  return 1;
}
