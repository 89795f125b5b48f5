// SPDX-License-Identifier: MIT
// Finding and opening the profiles a node names, and reading its arguments.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "klv/kernel_path.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_util.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "lcms2_engine.h"

namespace klvcms {
namespace {

// Largest profile read from a volume member.
constexpr int64_t kMaxProfileBytes = int64_t{256} << 20;

bool read_int(const std::string& text, int32_t& value) {
  const char* end = nullptr;
  value = OatoiEx(text.c_str(), &end);
  return end && *end == '\0' && !text.empty();
}

Profile builtin(Engine& engine, const std::string& name) {
  const char* n = name.c_str() + 1;
  if (Ostricmp(n, "sRGB") == 0) return Profile(cmsCreate_sRGBProfileTHR(engine.ctx));
  if (Ostricmp(n, "Lab") == 0 || Ostricmp(n, "Lab2") == 0)
    return Profile(cmsCreateLab2ProfileTHR(engine.ctx, nullptr));
  if (Ostricmp(n, "Lab4") == 0) return Profile(cmsCreateLab4ProfileTHR(engine.ctx, nullptr));
  if (Ostricmp(n, "XYZ") == 0) return Profile(cmsCreateXYZProfileTHR(engine.ctx));
  if (Ostricmp(n, "Gray") == 0) {
    cmsToneCurve* gamma = cmsBuildGamma(engine.ctx, 2.2);
    if (!gamma) return Profile();
    Profile p(cmsCreateGrayProfileTHR(engine.ctx, cmsD50_xyY(), gamma));
    cmsFreeToneCurve(gamma);
    return p;
  }
  return Profile();
}

Profile from_volume(Engine& engine, const std::string& volume_path, const std::string& member,
                    std::string& error) {
  SOVolume* volume = VOpen(nullptr, volume_path.c_str(), 0);
  if (!volume) {
    error = "volume \"" + volume_path + "\" cannot be opened";
    return Profile();
  }
  Profile result;
  if (SFilemux* s = Ovfopen(volume, member.c_str(), "rb")) {
    const int64_t length = Ofileleni64(s);
    if (length > 0 && length <= kMaxProfileBytes) {
      std::vector<uint8_t> bytes(static_cast<size_t>(length));
      if (Oread(s, bytes.data(), bytes.size()) == bytes.size())
        result = Profile(cmsOpenProfileFromMemTHR(engine.ctx, bytes.data(),
                                                  static_cast<cmsUInt32Number>(bytes.size())));
    }
    Oclose(s);
  }
  VClose(volume);
  if (!result) error = "member \"" + member + "\" of \"" + volume_path + "\" is not a profile";
  return result;
}

}  // namespace

char* dup_text(const std::string& text) {
  char* out = static_cast<char*>(std::malloc(text.size() + 1));
  if (out) std::memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

void fail(const cms_profnode* node, cms_error_callback cb, void* cookie, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ErrorLog(KLV_LOG_ERROR, text, __FILE__, __LINE__);
  if (cb) cb(node && node->path1[0] ? node->path1 : "LittleCMS", CMS_ERR_REFUSED, 0.0, cookie);
}

std::string find_profile_file(const std::string& name) {
  char found[KLV_PATH_MAX];
  if (_findinpath(name.c_str(), found)) return found;
  const std::string under = "profiles/" + name;
  if (_findinpath(under.c_str(), found)) return found;
  return {};
}

Profile open_profile(Engine& engine, const std::string& name, const std::string& volume,
                     std::string& error) {
  if (name.empty()) {
    error = "no profile named";
    return Profile();
  }
  if (name[0] == '*') {
    Profile p = builtin(engine, name);
    if (!p) error = "\"" + name + "\" is not a built-in profile";
    return p;
  }
  if (!volume.empty()) return from_volume(engine, volume, name, error);
  const std::string path = find_profile_file(name);
  if (path.empty()) {
    error = "profile \"" + name + "\" not found";
    return Profile();
  }
  Profile p(cmsOpenProfileFromFileTHR(engine.ctx, path.c_str(), "r"));
  if (!p) error = "\"" + path + "\" is not a profile LittleCMS can read";
  return p;
}

uint32_t format_word_of(cmsColorSpaceSignature space) {
  const uint32_t channels = cmsChannelsOf(space);
  switch (space) {
    case cmsSigLabData:
      return channels | CMS_FMT_LAB;
    case cmsSigRgbData:
    case cmsSigGrayData:
    case cmsSigXYZData:
    case cmsSigYCbCrData:
    case cmsSigHsvData:
    case cmsSigHlsData:
    case cmsSigLuvData:
    case cmsSigYxyData:
      return channels;
    default:
      return channels | CMS_FMT_INK;  // CMY, CMYK and the n-colour inks
  }
}

bool read_settings(const cms_profnode* node, NodeSettings& s, std::string& error) {
  for (int32_t i = 0; i < node->argc; ++i) {
    const std::string arg = node->argv && node->argv[i] ? node->argv[i] : "";
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) {
      error = "argument \"" + arg + "\" is not key=value";
      return false;
    }
    const std::string key = arg.substr(0, eq), value = arg.substr(eq + 1);
    int32_t number = 0;
    if (key == "intent" || key == "proof-intent") {
      if (!read_int(value, number) || number < 0 || (number > 3 && number < 10) || number > 15) {
        error = "rendering intent \"" + value + "\" is not 0..3 or 10..15";
        return false;
      }
      (key == "intent" ? s.intent : s.proof_intent) = number;
    } else if (key == "bpc") {
      s.bpc = value == "1" || Ostricmp(value.c_str(), "on") == 0;
    } else if (key == "output") {
      s.output = value;
    } else if (key == "link") {
      s.links.push_back(value);
    } else if (key == "proof") {
      s.proof = value;
    } else {
      error = "argument \"" + key + "\" is not known";
      return false;
    }
  }
  if (!s.proof.empty() && !s.links.empty()) {
    error = "a soft proof cannot be combined with linked profiles";
    return false;
  }
  return true;
}

}  // namespace klvcms
