// SPDX-License-Identifier: MIT
// Profile nodes: making, copying and freeing them, opening and closing their
// transforms, and the operations that pass a node to its engine.
//
// Nodes and everything they hold are malloc'd, so that a C caller and an
// engine see one allocator; cms_profnode_free releases them.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "color/cms_service.h"
#include "klv/log.h"

namespace {

using klv::cms::find_engine;
using klv::cms::report;

void copy_text(char* out, size_t size, const char* text) {
  std::memset(out, 0, size);
  if (text) std::strncpy(out, text, size - 1);
}

// One argument text: at least 81 bytes, or its length plus 10 when longer.
char* copy_argument(const char* text) {
  const size_t length = text ? std::strlen(text) : 0;
  const size_t size = std::max<size_t>(CMS_NAME_SIZE, length + 10);
  char* out = static_cast<char*>(std::calloc(1, size));
  if (out && text) std::memcpy(out, text, length);
  return out;
}

void free_contents(cms_profnode* node) {
  if (node->owns_args && node->argv) {
    for (int32_t i = 0; i < node->argc; ++i) std::free(node->argv[i]);
    std::free(node->argv);
  }
  node->argv = nullptr;
  node->argc = 0;
  std::free(node->extra);
  node->extra = nullptr;
  node->extra_size = 0;
}

// Copies arguments and extra data into `node`; false when memory ran out.
bool fill_contents(cms_profnode* node, int32_t argc, const char* const* argv, int32_t extra_size,
                   const void* extra) {
  node->owns_args = 1;
  if (argc > 0 && argv) {
    node->argv = static_cast<char**>(std::calloc(static_cast<size_t>(argc), sizeof(char*)));
    if (!node->argv) return false;
    node->argc = argc;
    for (int32_t i = 0; i < argc; ++i)
      if (!(node->argv[i] = copy_argument(argv[i]))) return false;
  }
  if (extra_size > 0 && extra) {
    node->extra = std::malloc(static_cast<size_t>(extra_size));
    if (!node->extra) return false;
    std::memcpy(node->extra, extra, static_cast<size_t>(extra_size));
    node->extra_size = extra_size;
  }
  return true;
}

const char* node_name(const cms_profnode* node) {
  return node->path1[0] ? node->path1 : "node";
}

CmsEngine* engine_of(const cms_profnode* node, cms_error_callback cb, void* cookie) {
  return find_engine(node->type, node->engine, node_name(node), cb, cookie);
}

// Calls an apply slot for a node: 0 (reported) when the slot is empty.
template <typename Slot, typename... Args>
int32_t pass(cms_profnode* node, cms_error_callback cb, void* cookie, Slot cms_apply_table::*slot,
             Args... args) {
  if (!node) {
    report(cb, cookie, "", CMS_ERR_NOT_RUNNING);
    return 0;
  }
  try {
    CmsEngine* e = engine_of(node, cb, cookie);
    if (!e) return 0;
    auto fn = e->apply.*slot;
    if (!fn) {
      KLV_LOG(KLV_LOG_ERROR, "colour engine %s does not offer this operation", e->name.c_str());
      report(cb, cookie, node_name(node), CMS_ERR_REFUSED);
      return 0;
    }
    return fn(e->handle, node, args..., cb, cookie);
  } catch (...) {
    report(cb, cookie, node_name(node), CMS_ERR_MEMORY);
    return 0;
  }
}

}  // namespace

extern "C" {

KLV_API cms_profnode* cms_profnode_new(int32_t type, const char* engine, int32_t value,
                                       const char* path1, const char* path2, const char* path3,
                                       const char* path4, int32_t argc, const char* const* argv,
                                       int32_t extra_size, const void* extra, uint32_t in_format,
                                       uint32_t out_format, cms_error_callback callback,
                                       void* cookie) {
  try {
    CmsEngine* e = find_engine(type, engine, path1, callback, cookie);
    if (!e) return nullptr;
    auto* node = static_cast<cms_profnode*>(std::calloc(1, sizeof(cms_profnode)));
    if (!node) {
      report(callback, cookie, path1, CMS_ERR_MEMORY);
      return nullptr;
    }
    node->type = type;
    copy_text(node->engine, sizeof node->engine, engine);
    node->value = value;
    copy_text(node->path1, sizeof node->path1, path1);
    copy_text(node->path2, sizeof node->path2, path2);
    copy_text(node->path3, sizeof node->path3, path3);
    copy_text(node->path4, sizeof node->path4, path4);
    node->in_format = in_format;
    node->out_format = out_format;
    if (!fill_contents(node, argc, argv, extra_size, extra)) {
      free_contents(node);
      std::free(node);
      report(callback, cookie, path1, CMS_ERR_MEMORY);
      return nullptr;
    }
    if (e->apply.check_node && !e->apply.check_node(e->handle, node, callback, cookie)) {
      KLV_LOG(KLV_LOG_ERROR, "colour engine %s refused the profile node for \"%s\"",
              e->name.c_str(), node->path1);
      report(callback, cookie, node_name(node), CMS_ERR_REFUSED);
      if (e->apply.free_node) e->apply.free_node(e->handle, node, callback, cookie);
      free_contents(node);
      std::free(node);
      return nullptr;
    }
    return node;
  } catch (...) {
    report(callback, cookie, path1, CMS_ERR_MEMORY);
    return nullptr;
  }
}

KLV_API cms_profnode* cms_profnode_copy(const cms_profnode* node, cms_error_callback callback,
                                        void* cookie) {
  if (!node) {
    report(callback, cookie, "", CMS_ERR_NOT_RUNNING);
    return nullptr;
  }
  auto* copy = static_cast<cms_profnode*>(std::malloc(sizeof(cms_profnode)));
  if (!copy) {
    report(callback, cookie, node_name(node), CMS_ERR_MEMORY);
    return nullptr;
  }
  *copy = *node;
  copy->argv = nullptr;
  copy->argc = 0;
  copy->extra = nullptr;
  copy->extra_size = 0;
  copy->xform = nullptr;
  copy->next = nullptr;
  if (!fill_contents(copy, node->argc, node->argv, node->extra_size, node->extra)) {
    free_contents(copy);
    std::free(copy);
    report(callback, cookie, node_name(node), CMS_ERR_MEMORY);
    return nullptr;
  }
  return copy;
}

KLV_API cms_profnode* cms_profnode_copy_list(const cms_profnode* first, cms_error_callback callback,
                                             void* cookie) {
  cms_profnode* head = nullptr;
  cms_profnode** tail = &head;
  for (const cms_profnode* n = first; n; n = n->next) {
    cms_profnode* copy = cms_profnode_copy(n, callback, cookie);
    if (!copy) {
      cms_profnode_free_list(&head, nullptr, nullptr);
      return nullptr;
    }
    *tail = copy;
    tail = &copy->next;
  }
  return head;
}

KLV_API int32_t cms_profnode_close_xform(cms_profnode* node, cms_error_callback, void*) {
  if (!node) return 0;
  if (cms_xform* x = node->xform) {
    if (x->handle && x->close) x->close(x->handle);
    std::free(x);
    node->xform = nullptr;
  }
  return 1;
}

KLV_API int32_t cms_profnode_free(cms_profnode* node, cms_error_callback callback, void* cookie) {
  if (!node) return 0;
  try {
    cms_profnode_close_xform(node, callback, cookie);
    // Without a running engine there is no engine data to free.
    CmsEngine* e = find_engine(node->type, node->engine, node_name(node), nullptr, nullptr);
    if (e && e->apply.free_node && !e->apply.free_node(e->handle, node, callback, cookie)) {
      report(callback, cookie, node_name(node), CMS_ERR_REFUSED);
      return 0;
    }
    free_contents(node);
    std::free(node);
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t cms_profnode_free_list(cms_profnode** first, cms_error_callback callback,
                                       void* cookie) {
  if (!first) return 0;
  while (*first) {
    cms_profnode* next = (*first)->next;
    if (!cms_profnode_free(*first, callback, cookie)) return 0;
    *first = next;
  }
  return 1;
}

KLV_API int32_t cms_profnode_open_xform_ex(const cms_info*, cms_profnode* node,
                                           cms_error_callback callback, void* cookie,
                                           int32_t option) {
  if (!node) {
    report(callback, cookie, "", CMS_ERR_NOT_RUNNING);
    return 0;
  }
  if (node->xform) return 1;
  try {
    CmsEngine* e = engine_of(node, callback, cookie);
    if (!e) return 0;
    if (!e->apply.open_xform) {
      report(callback, cookie, node_name(node), CMS_ERR_REFUSED);
      return 0;
    }
    node->xform = static_cast<cms_xform*>(std::calloc(1, sizeof(cms_xform)));
    if (!node->xform) {
      report(callback, cookie, node_name(node), CMS_ERR_MEMORY);
      return 0;
    }
    if (!e->apply.open_xform(e->handle, node, option, callback, cookie) ||
        !node->xform->transform) {
      // An engine that opened half a transform still gets it closed.
      cms_profnode_close_xform(node, nullptr, nullptr);
      KLV_LOG(KLV_LOG_ERROR, "colour engine %s could not open a transform for \"%s\"",
              e->name.c_str(), node->path1);
      return 0;
    }
    return 1;
  } catch (...) {
    report(callback, cookie, node_name(node), CMS_ERR_MEMORY);
    return 0;
  }
}

KLV_API int32_t cms_profnode_open_xform(const cms_info* cms, cms_profnode* node,
                                        cms_error_callback callback, void* cookie) {
  return cms_profnode_open_xform_ex(cms, node, callback, cookie, 0);
}

KLV_API int32_t cms_profnode_get_name(cms_profnode* node, char* out, int32_t size,
                                      cms_error_callback callback, void* cookie) {
  if (!out || size <= 0) {
    report(callback, cookie, node ? node_name(node) : "", CMS_ERR_NOT_RUNNING);
    return 0;
  }
  out[0] = '\0';
  return pass(node, callback, cookie, &cms_apply_table::get_name, out, size);
}

KLV_API int32_t cms_profnode_create(cms_profnode* node, cms_error_callback callback, void* cookie) {
  return pass(node, callback, cookie, &cms_apply_table::create_profile);
}

KLV_API int32_t cms_profnode_edit(cms_profnode* node, cms_error_callback callback, void* cookie) {
  return pass(node, callback, cookie, &cms_apply_table::edit_profile);
}

KLV_API int32_t cms_profnode_properties(cms_profnode* node, cms_error_callback callback,
                                        void* cookie) {
  return pass(node, callback, cookie, &cms_apply_table::properties);
}

KLV_API int32_t cms_profnode_selectprofile(cms_profnode* node, cms_error_callback callback,
                                           void* cookie) {
  return pass(node, callback, cookie, &cms_apply_table::select_profile);
}

KLV_API int32_t cms_profnode_valid_profiles(cms_profnode* node, char*** list,
                                            cms_error_callback callback, void* cookie) {
  if (!list) {
    report(callback, cookie, node ? node_name(node) : "", CMS_ERR_NOT_RUNNING);
    return 0;
  }
  *list = nullptr;
  return pass(node, callback, cookie, &cms_apply_table::valid_profiles, list);
}

KLV_API int32_t cms_profnode_check_settings(cms_profnode* node, cms_error_callback callback,
                                            void* cookie) {
  return pass(node, callback, cookie, &cms_apply_table::check_settings);
}

KLV_API int32_t cms_profnode_update_paths(cms_profnode* node, const char* old_folder,
                                          const char* new_folder, cms_error_callback callback,
                                          void* cookie) {
  return pass(node, callback, cookie, &cms_apply_table::update_paths, old_folder, new_folder);
}

KLV_API int32_t cms_profnode_copy_files_ex(cms_profnode* node, const char* folder, int32_t option,
                                           cms_error_callback callback, void* cookie) {
  return pass(node, callback, cookie, &cms_apply_table::copy_files, folder, option);
}

KLV_API int32_t cms_profnode_copy_files(cms_profnode* node, const char* folder,
                                        cms_error_callback callback, void* cookie) {
  return cms_profnode_copy_files_ex(node, folder, 0, callback, cookie);
}

KLV_API void cms_free_list(char** list) {
  if (!list) return;
  for (char** p = list; *p; ++p) std::free(*p);
  std::free(list);
}

KLV_API int32_t cms_profile_get_info(cms_profnode* node, cms_profile_info** info,
                                     cms_error_callback callback, void* cookie) {
  if (!info) {
    report(callback, cookie, node ? node_name(node) : "", CMS_ERR_NOT_RUNNING);
    return 0;
  }
  *info = nullptr;
  return pass(node, callback, cookie, &cms_apply_table::profile_info, info);
}

KLV_API void cms_profile_free_info(cms_profile_info* info) {
  if (!info) return;
  char** fields[] = {&info->name,
                     &info->description,
                     &info->manufacturer,
                     &info->model,
                     &info->copyright,
                     &info->profile_class,
                     &info->color_space,
                     &info->pcs,
                     &info->version,
                     &info->created,
                     &info->cmm,
                     &info->creator,
                     &info->rendering_intent,
                     &info->white_point,
                     &info->tags};
  static_assert(sizeof(cms_profile_info) == 15 * sizeof(char*), "fifteen texts");
  for (char** f : fields) std::free(*f);
  std::free(info);
}

KLV_API int32_t cms_profile_is_valid(cms_profnode* node, cms_error_callback callback,
                                     void* cookie) {
  return pass(node, callback, cookie, &cms_apply_table::profile_valid);
}

KLV_API int32_t cms_profile_properties(cms_profnode* node, cms_error_callback callback,
                                       void* cookie) {
  return pass(node, callback, cookie, &cms_apply_table::profile_properties);
}

}  // extern "C"
