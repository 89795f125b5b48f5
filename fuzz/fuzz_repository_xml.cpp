// SPDX-License-Identifier: MIT
// Fuzz target for the printer repository's XML reader: arbitrary bytes as
// ".Settings.xml", then the lists and nearest rules over what was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "klv/printer_repository.h"
#include "klv/printmode.h"
#include "klv/printmode_cxx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setenv("KLV_LOG", "/dev/null", 0);
  auto repo = klv::PrinterRepository::parse(reinterpret_cast<const char*>(data), size, "fuzz/");
  if (!repo) return 0;
  for (const klv::RepMedia& m : repo->printer().medias)
    for (const klv::RepMode& mode : m.modes) {
      CPrintMode pm(mode.pattern.c_str(), mode.resolution.c_str(), mode.name.c_str());
      (void)pm.GetDisplayRes();
      (void)pm.GetPrintedYRes();
    }
  (void)repo->to_xml();
  return 0;
}
