// SPDX-License-Identifier: MIT
// Starts and stops the CMS service over an arbitrary "CMSTypes.Info".
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "klv/cms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/klv-fuzz-cms-XXXXXX";
    const char* made = mkdtemp(tmpl);
    std::string f = made ? made : "/tmp";
    setenv("KLV_SERVER_PATH", f.c_str(), 1);
    setenv("KLV_LOG", "/dev/null", 1);
    return f;
  }();
  FILE* f = std::fopen((folder + "/CMSTypes.Info").c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  if (cms_initialize(nullptr, nullptr)) {
    for (int32_t i = 0; i < cms_type_count(); ++i) {
      char name[CMS_NAME_SIZE];
      cms_type_name_from_id(cms_type_id_at(i), name);
      cms_type_get_info(cms_type_id_at(i), nullptr);
    }
    cms_terminate(nullptr, nullptr);
  }
  return 0;
}
