// SPDX-License-Identifier: MIT
// The LittleCMS 2 colour engine: what its apply, transform and build parts
// share.
//
// Profile nodes served by this engine:
//   path1  the source profile: a file (found as given, along the program's
//          search path, or under "profiles/" there), a member of the volume
//          named by path2, or a built-in profile: "*sRGB", "*Lab" (v2
//          encoding), "*Lab4", "*XYZ", "*Gray" (gamma 2.2);
//   path3  the destination profile (same forms); when empty, the argument
//          "output=", else the default for the node's output format (sRGB,
//          gray, "profiles/klv_cmyk.icc" for four inks, Lab);
//   arguments, each "key=value": intent=0..3 or 10..15 (LittleCMS's black
//          preserving intents), bpc=1 (black point compensation), link=PATH
//          (a further profile or device link between source and destination,
//          repeatable, in order), proof=PATH and proof-intent=N (soft proof
//          of the destination on a proofing device).
// A source profile that is a device link needs no destination.
#pragma once

#include <lcms2.h>

#include <cstdint>
#include <string>
#include <vector>

#include "klv/cms.h"

namespace klvcms {

struct Engine {
  cmsContext ctx = nullptr;
  std::string name;
};

// A profile handle that closes itself.
class Profile {
 public:
  Profile() = default;
  explicit Profile(cmsHPROFILE h) : h_(h) {}
  Profile(Profile&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
  Profile& operator=(Profile&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = o.h_;
      o.h_ = nullptr;
    }
    return *this;
  }
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;
  ~Profile() { reset(); }
  void reset() {
    if (h_) cmsCloseProfile(h_);
    h_ = nullptr;
  }
  cmsHPROFILE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  cmsHPROFILE h_ = nullptr;
};

// What a node's arguments say.
struct NodeSettings {
  int32_t intent = INTENT_PERCEPTUAL;
  bool bpc = false;
  std::string output;
  std::vector<std::string> links;
  std::string proof;
  int32_t proof_intent = INTENT_RELATIVE_COLORIMETRIC;
};

// Reads the node's arguments; false (with `error`) on a bad one.
bool read_settings(const cms_profnode* node, NodeSettings& settings, std::string& error);

// Opens a profile named as a node names it (see above); `volume` may be "".
Profile open_profile(Engine& engine, const std::string& name, const std::string& volume,
                     std::string& error);

// The path of a profile file as the engine finds it, "" when not found.
std::string find_profile_file(const std::string& name);

// The format word (channels and model) of a colour space.
uint32_t format_word_of(cmsColorSpaceSignature space);

// Logs a fault of the engine and reports it to the caller's callback.
void fail(const cms_profnode* node, cms_error_callback cb, void* cookie, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Slot 13: opens the node's transform and fills node->xform. Option bit 0:
// a precalculated per-pixel path (faster, not exact); bits 1 and 2: only the
// 8-bit or only the 16-bit line form (neither: both); bit 3: no line form
// (the per-pixel form alone, for a caller that samples it once into a grid).
int32_t open_xform(void* engine, cms_profnode* node, int32_t option, cms_error_callback cb,
                   void* cookie);

// Copies text into a malloc'd string (null on memory failure).
char* dup_text(const std::string& text);

}  // namespace klvcms
