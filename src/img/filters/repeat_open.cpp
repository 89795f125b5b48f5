// SPDX-License-Identifier: MIT
// The step-and-repeat page as an image stream: RPTFLTR_attach over an open
// pattern, and repeat_open, which opens the pattern a settings file names.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "klv/imgmux.h"
#include "klv/log.h"
#include "klv/repeat.h"
#include "klv/repeat_cxx.h"

namespace {

constexpr const char* kJoin = "*:";
// A settings file whose pattern is again a settings file nests pages; this
// bounds the nesting (a file naming itself would never end).
constexpr int kMaxNesting = 4;
thread_local int g_nesting = 0;

struct Nested {
  Nested() { ++g_nesting; }
  ~Nested() { --g_nesting; }
  Nested(const Nested&) = delete;
  Nested& operator=(const Nested&) = delete;
};

int32_t close_op(void* h) {
  delete static_cast<CRepeatFilter*>(h);
  return 0;
}
int32_t read_op(void* h, uint8_t* b, int32_t n) {
  return static_cast<CRepeatFilter*>(h)->ReadLine(b, n);
}
int32_t write_op(void*, uint8_t*, int32_t) {
  return 0;
}
int32_t seek_op(void* h, int32_t l, int32_t p, int32_t g, int32_t w) {
  return static_cast<CRepeatFilter*>(h)->SeekLine(l, p, g, w);
}
image_cmap* cmap_op(void* h) {
  return static_cast<CRepeatFilter*>(h)->GetCmap();
}
image_profile* profile_op(void* h) {
  return static_cast<CRepeatFilter*>(h)->GetProfile();
}

IMG_file* wrap(CRepeatFilter* f) {
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) {
    delete f;
    KLV_LOG(KLV_LOG_ERROR, "step and repeat: out of memory");
    return nullptr;
  }
  img->handle = f;
  img->type = KLV_TYPE_REPEAT;
  img->mode = 'r';
  img->info = *f->Info();
  img->close = close_op;
  img->read_line = read_op;
  img->write_line = write_op;
  img->seek_line = seek_op;
  img->get_cmap = cmap_op;
  img->get_profile = profile_op;
  return img;
}

// The settings file and the pattern image of `name` ("settings*:image").
struct Names {
  std::string settings, image;
};

Names split(const char* name) {
  Names n;
  const char* join = std::strstr(name, kJoin);
  n.settings = join ? std::string(name, size_t(join - name)) : std::string(name);
  if (join) n.image = join + std::strlen(kJoin);
  return n;
}

// A relative pattern name is taken from the settings file's folder.
std::string pattern_path(const std::string& settings, const std::string& file) {
  if (file.empty() || file[0] == '/' || file[0] == '\\' || (file.size() > 1 && file[1] == ':'))
    return file;
  const size_t slash = settings.find_last_of("/\\");
  if (slash == std::string::npos) return file;
  return settings.substr(0, slash) + "/" + file;
}

}  // namespace

extern "C" {

KLV_API IMG_file* RPTFLTR_attach(IMG_file* pattern, const RepeatFilterInfo* settings) {
  return RPTFLTR_attach_ex(pattern, settings, nullptr);
}

KLV_API IMG_file* RPTFLTR_attach_ex(IMG_file* pattern, const RepeatFilterInfo* settings,
                                    const filter_info* options) {
  auto* f = new (std::nothrow) CRepeatFilter;
  if (!f) {
    img_close(pattern);
    return nullptr;
  }
  if (!f->AttachImg(pattern, settings, options)) {
    delete f;
    return nullptr;
  }
  return wrap(f);
}

KLV_API IMG_file* RPTFLTR_detach_img(IMG_file* page) {
  if (!page) return nullptr;
  IMG_file* pattern = nullptr;
  if (page->close == close_op && page->handle)
    pattern = static_cast<CRepeatFilter*>(page->handle)->DetachImg();
  img_close(page);
  return pattern;
}

KLV_API IMG_file* repeat_open(const char* name, SOVolume* volume, const char* mode,
                              image_info* info) {
  if (!name || !mode || mode[0] != 'r') return nullptr;
  if (g_nesting >= kMaxNesting) {
    KLV_LOG(KLV_LOG_ERROR, "step and repeat \"%s\": patterns nested too deeply", name);
    return nullptr;
  }
  const Nested nested;
  try {
    const Names n = split(name);
    if (!repeat_file_check(volume, n.settings.c_str())) return nullptr;
    RepeatFileInfo r;
    std::memset(&r, 0, sizeof r);
    if (!load_repeat_info(volume, n.settings.c_str(), &r)) return nullptr;
    const std::string image = pattern_path(n.settings, n.image.empty() ? r.FileName : n.image);
    image_info pinfo;
    init_image_info(&pinfo);
    IMG_file* pattern = img_mux_open(image.c_str(), volume, "r", &pinfo, KLV_TYPE_RECOGNISE);
    if (!pattern) {
      KLV_LOG(KLV_LOG_ERROR, "Unable to open '%s'\n", image.c_str());
      return nullptr;
    }
    IMG_file* page = RPTFLTR_attach(pattern, &r.settings);
    if (page && info) *info = page->info;
    return page;
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "step and repeat: out of memory");
    return nullptr;
  }
}

}  // extern "C"
