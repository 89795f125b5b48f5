// SPDX-License-Identifier: MIT
// The apply operations of the LittleCMS engine and its export
// "cms_apply_api_funcs". Operations that need a window on the platform the
// service came from (create, edit, properties and select dialogs) are not
// available here: they refuse with a log line that says so.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>

#include "klv/kernel_path.h"
#include "klv/log.h"
#include "lcms2_engine.h"

namespace klvcms {
namespace {

void log_lcms_error(cmsContext, cmsUInt32Number code, const char* text) {
  ErrorLogf(KLV_LOG_ERROR, __FILE__, __LINE__, "LittleCMS (error %u): %s", code, text);
}

int32_t not_available(cms_profnode* node, cms_error_callback cb, void* cookie, const char* what) {
  fail(node, cb, cookie, "LittleCMS engine: %s is not available on this platform", what);
  return 0;
}

std::string info_text(cmsHPROFILE p, cmsInfoType which) {
  char text[512] = "";
  cmsGetProfileInfoASCII(p, which, "en", "US", text, sizeof text);
  return text;
}

std::string signature_text(uint32_t s) {
  std::string t(4, ' ');
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(s >> (24 - 8 * i));
    t[i] = (c >= 32 && c < 127) ? c : '.';
  }
  return t;
}

Engine& engine_of(void* handle) {
  return *static_cast<Engine*>(handle);
}

// --- the slots ---------------------------------------------------------------

int32_t terminate(void* handle, cms_error_callback, void*) {
  auto* engine = static_cast<Engine*>(handle);
  if (engine->ctx) cmsDeleteContext(engine->ctx);
  delete engine;
  return 1;
}

int32_t begin_thread(void*, cms_error_callback, void*) {
  return 1;
}
int32_t end_thread(void*, cms_error_callback, void*) {
  return 1;
}
int32_t release_value(void*, void*, cms_error_callback, void*) {
  return 1;
}

// A node is sound when its source profile opens, its arguments read, and its
// input format carries the profile's channels. Missing format words are
// filled in from the profiles.
int32_t check_node(void* handle, cms_profnode* node, cms_error_callback cb, void* cookie) {
  NodeSettings settings;
  std::string error;
  if (!read_settings(node, settings, error)) {
    fail(node, cb, cookie, "LittleCMS engine: node \"%s\": %s", node->path1, error.c_str());
    return 0;
  }
  Profile source = open_profile(engine_of(handle), node->path1, node->path2, error);
  if (!source) {
    fail(node, cb, cookie, "LittleCMS engine: %s", error.c_str());
    return 0;
  }
  const cmsColorSpaceSignature space = cmsGetColorSpace(source.get());
  if (node->in_format == 0) node->in_format = format_word_of(space);
  if (CMS_FMT_CHANNELS(node->in_format) < cmsChannelsOf(space)) {
    fail(node, cb, cookie, "LittleCMS engine: \"%s\" has %u channels, the node's format %u",
         node->path1, cmsChannelsOf(space), CMS_FMT_CHANNELS(node->in_format));
    return 0;
  }
  return 1;
}

int32_t free_node(void*, cms_profnode*, cms_error_callback, void*) {
  return 1;
}

int32_t copy_files(void*, cms_profnode* node, const char* folder, int32_t, cms_error_callback cb,
                   void* cookie) {
  if (!folder || node->path1[0] == '*' || node->path2[0]) return 1;  // nothing on its own to copy
  const std::string source = find_profile_file(node->path1);
  if (source.empty()) {
    fail(node, cb, cookie, "LittleCMS engine: profile \"%s\" not found", node->path1);
    return 0;
  }
  std::error_code ec;
  const auto target = std::filesystem::path(folder) / std::filesystem::path(source).filename();
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) {
    fail(node, cb, cookie, "LittleCMS engine: cannot copy \"%s\" to \"%s\": %s", source.c_str(),
         target.c_str(), ec.message().c_str());
    return 0;
  }
  return 1;
}

int32_t check_settings(void* handle, cms_profnode* node, cms_error_callback cb, void* cookie) {
  NodeSettings settings;
  std::string error;
  if (!read_settings(node, settings, error)) {
    fail(node, cb, cookie, "LittleCMS engine: node \"%s\": %s", node->path1, error.c_str());
    return 0;
  }
  for (const auto& name : settings.links) {
    if (!open_profile(engine_of(handle), name, "", error)) {
      fail(node, cb, cookie, "LittleCMS engine: %s", error.c_str());
      return 0;
    }
  }
  if (!settings.proof.empty() && !open_profile(engine_of(handle), settings.proof, "", error)) {
    fail(node, cb, cookie, "LittleCMS engine: %s", error.c_str());
    return 0;
  }
  return 1;
}

int32_t update_paths(void*, cms_profnode* node, const char* old_folder, const char* new_folder,
                     cms_error_callback, void*) {
  if (!old_folder || !new_folder || !*old_folder) return 1;
  const size_t n = std::strlen(old_folder);
  for (char* path : {node->path1, node->path3}) {
    if (std::strncmp(path, old_folder, n) != 0) continue;
    const std::string moved = std::string(new_folder) + (path + n);
    if (moved.size() >= CMS_PATH_SIZE) return 0;
    std::memcpy(path, moved.c_str(), moved.size() + 1);
  }
  return 1;
}

int32_t get_name(void* handle, cms_profnode* node, char* out, int32_t size, cms_error_callback cb,
                 void* cookie) {
  std::string error;
  Profile p = open_profile(engine_of(handle), node->path1, node->path2, error);
  if (!p) {
    fail(node, cb, cookie, "LittleCMS engine: %s", error.c_str());
    return 0;
  }
  std::string name = info_text(p.get(), cmsInfoDescription);
  if (name.empty()) name = std::filesystem::path(node->path1).filename().string();
  std::snprintf(out, static_cast<size_t>(size), "%s", name.c_str());
  return 1;
}

int32_t create_profile(void*, cms_profnode* node, cms_error_callback cb, void* cookie) {
  return not_available(node, cb, cookie, "the profile creation dialog");
}
int32_t edit_profile(void*, cms_profnode* node, cms_error_callback cb, void* cookie) {
  return not_available(node, cb, cookie, "the profile editing dialog");
}
int32_t properties(void*, cms_profnode* node, cms_error_callback cb, void* cookie) {
  return not_available(node, cb, cookie, "the node properties dialog");
}
int32_t select_profile(void*, cms_profnode* node, cms_error_callback cb, void* cookie) {
  return not_available(node, cb, cookie, "the profile selection dialog");
}
int32_t profile_properties(void*, cms_profnode* node, cms_error_callback cb, void* cookie) {
  return not_available(node, cb, cookie, "the profile properties dialog");
}

// The profile files in the engine's folders (the first "profiles" folder
// along the search path, the system colour folder) whose colour space suits the node's input.
int32_t valid_profiles(void* handle, cms_profnode* node, char*** list, cms_error_callback cb,
                       void* cookie) {
  std::vector<std::string> folders;
  char found_folder[KLV_PATH_MAX];
  if (_findinpath("profiles", found_folder)) folders.push_back(found_folder);
  folders.push_back("/usr/share/color/icc");
  std::vector<std::string> found;
  for (const auto& folder : folders) {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_regular_file(ec)) continue;
      std::string ext = it->path().extension().string();
      for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (ext != ".icc" && ext != ".icm") continue;
      Profile p(cmsOpenProfileFromFileTHR(engine_of(handle).ctx, it->path().c_str(), "r"));
      if (!p) continue;
      const uint32_t word = format_word_of(cmsGetColorSpace(p.get()));
      if (node->in_format == 0 ||
          (CMS_FMT_CHANNELS(word) == CMS_FMT_CHANNELS(node->in_format) &&
           (word & CMS_FMT_MODEL_MASK) == (node->in_format & CMS_FMT_MODEL_MASK)))
        found.push_back(it->path().string());
    }
  }
  auto** out = static_cast<char**>(std::calloc(found.size() + 1, sizeof(char*)));
  if (!out) {
    if (cb) cb(node->path1, CMS_ERR_MEMORY, 0.0, cookie);
    return 0;
  }
  for (size_t i = 0; i < found.size(); ++i) out[i] = dup_text(found[i]);
  *list = out;
  return 1;
}

int32_t profile_info(void* handle, cms_profnode* node, cms_profile_info** info,
                     cms_error_callback cb, void* cookie) {
  std::string error;
  Profile p = open_profile(engine_of(handle), node->path1, node->path2, error);
  if (!p) {
    fail(node, cb, cookie, "LittleCMS engine: %s", error.c_str());
    return 0;
  }
  auto* r = static_cast<cms_profile_info*>(std::calloc(1, sizeof(cms_profile_info)));
  if (!r) return 0;
  char number[64];
  r->name = dup_text(std::filesystem::path(node->path1).filename().string());
  r->description = dup_text(info_text(p.get(), cmsInfoDescription));
  r->manufacturer = dup_text(info_text(p.get(), cmsInfoManufacturer));
  r->model = dup_text(info_text(p.get(), cmsInfoModel));
  r->copyright = dup_text(info_text(p.get(), cmsInfoCopyright));
  r->profile_class = dup_text(signature_text(cmsGetDeviceClass(p.get())));
  r->color_space = dup_text(signature_text(cmsGetColorSpace(p.get())));
  r->pcs = dup_text(signature_text(cmsGetPCS(p.get())));
  std::snprintf(number, sizeof number, "%.2f", cmsGetProfileVersion(p.get()));
  r->version = dup_text(number);
  struct tm created {};
  if (cmsGetHeaderCreationDateTime(p.get(), &created)) {
    std::strftime(number, sizeof number, "%Y-%m-%d %H:%M:%S", &created);
    r->created = dup_text(number);
  }
  r->cmm = dup_text("lcms");
  r->creator = dup_text(signature_text(cmsGetHeaderCreator(p.get())));
  std::snprintf(number, sizeof number, "%u", cmsGetHeaderRenderingIntent(p.get()));
  r->rendering_intent = dup_text(number);
  if (const auto* white =
          static_cast<const cmsCIEXYZ*>(cmsReadTag(p.get(), cmsSigMediaWhitePointTag))) {
    std::snprintf(number, sizeof number, "%.4f %.4f %.4f", white->X, white->Y, white->Z);
    r->white_point = dup_text(number);
  }
  std::string tags;
  for (cmsInt32Number i = 0; i < cmsGetTagCount(p.get()); ++i) {
    if (!tags.empty()) tags += ' ';
    tags += signature_text(cmsGetTagSignature(p.get(), static_cast<cmsUInt32Number>(i)));
  }
  r->tags = dup_text(tags);
  *info = r;
  return 1;
}

// A profile is valid for the engine when LittleCMS reads it and it can stand
// at one end of a transform with its default intent.
int32_t profile_valid(void* handle, cms_profnode* node, cms_error_callback cb, void* cookie) {
  std::string error;
  Profile p = open_profile(engine_of(handle), node->path1, node->path2, error);
  if (!p) {
    fail(node, cb, cookie, "LittleCMS engine: %s", error.c_str());
    return 0;
  }
  const cmsUInt32Number intent = cmsGetHeaderRenderingIntent(p.get());
  if (cmsGetDeviceClass(p.get()) == cmsSigLinkClass ||
      cmsIsIntentSupported(p.get(), intent, LCMS_USED_AS_INPUT) ||
      cmsIsIntentSupported(p.get(), intent, LCMS_USED_AS_OUTPUT))
    return 1;
  fail(node, cb, cookie, "LittleCMS engine: \"%s\" supports its own intent %u in no direction",
       node->path1, intent);
  return 0;
}

}  // namespace
}  // namespace klvcms

extern "C" __attribute__((visibility("default"))) int32_t cms_apply_api_funcs(
    cms_apply_table* table, void** engine, void** value, const char* engine_name,
    cms_error_callback cb, void* cookie) {
  using namespace klvcms;
  if (!table || !engine || table->size < sizeof(cms_apply_table)) return 0;
  auto* e = new (std::nothrow) Engine;
  if (!e) return 0;
  e->name = engine_name ? engine_name : "LittleCMS";
  e->ctx = cmsCreateContext(nullptr, e);
  if (!e->ctx) {
    delete e;
    if (cb) cb(engine_name, CMS_ERR_MEMORY, 0.0, cookie);
    return 0;
  }
  cmsSetLogErrorHandlerTHR(e->ctx, log_lcms_error);
  *table = cms_apply_table{};
  table->size = sizeof(cms_apply_table);
  table->version = CMS_API_VERSION;
  table->terminate = terminate;
  table->begin_thread = begin_thread;
  table->end_thread = end_thread;
  table->release_value = release_value;
  table->check_node = check_node;
  table->free_node = free_node;
  table->copy_files = copy_files;
  table->check_settings = check_settings;
  table->update_paths = update_paths;
  table->open_xform = open_xform;
  table->get_name = get_name;
  table->create_profile = create_profile;
  table->edit_profile = edit_profile;
  table->properties = properties;
  table->select_profile = select_profile;
  table->valid_profiles = valid_profiles;
  table->profile_info = profile_info;
  table->profile_valid = profile_valid;
  table->profile_properties = profile_properties;
  *engine = e;
  if (value) *value = nullptr;
  return 1;
}
