// SPDX-License-Identifier: MIT
// The C interface of placements: creating one by method number, its
// settings, and the halftone filter as an IMG_file.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "klv/halftone_diffusion.h"
#include "klv/halftone_screenmtx.h"
#include "klv/halftone_setup.h"
#include "klv/htplace.h"
#include "klv/kernel_stral.h"
#include "klv/log.h"
#include "klv/htplace_cxx.h"

namespace {

CHTPlacement* self(HTPLACE* p) {
  return reinterpret_cast<CHTPlacement*>(p);
}
HTPLACE* handle(CHTPlacement* p) {
  return reinterpret_cast<HTPLACE*>(p);
}

// Method 4 and 10 without a screen setup: the four built-in screens.
std::unique_ptr<CHTPlacement> builtin_screens() {
  auto array = std::make_unique<CHTThreshArray<unsigned short>>();
  if (!array->Create(4, 255)) return nullptr;
  for (int i = 0; i < 4; ++i) {
    int32_t w, h, shift;
    const uint16_t* v = HTBuiltinScreen(i, &w, &h, &shift);
    CHTThreshTable<unsigned short>& t = array->tables[size_t(i)];
    if (!v || !t.Alloc(uint32_t(w), uint16_t(h), uint16_t(shift), 255)) return nullptr;
    for (int r = 0; r < h; ++r) std::copy(v + r * w, v + (r + 1) * w, t.rows[r]);
  }
  auto p = std::make_unique<CHTPlaceScreenEx<unsigned short>>();
  p->Own(std::move(array));
  return p;
}

// Generated screens of methods 3, 6, 8 and 9 without a screen setup.
std::unique_ptr<CHTPlacement> generated_screens(int type, double cell, double xres, double yres,
                                                bool vardot_screen) {
  auto p = std::make_unique<CHTPlaceKlvScreen>();
  if (!p->GenerateFour(type, cell, xres, yres)) {
    KLV_LOG(KLV_LOG_ERROR, "screen placement: cannot generate screens of type %d, cell %.2f", type,
            cell);
    return nullptr;
  }
  p->vardot_screen = vardot_screen;
  return p;
}

// Method 5: a screen file named after the setup or the default name.
std::unique_ptr<CHTPlacement> file_screens(uint32_t screens, uint32_t levels,
                                           const _SCREENSETUP* setup, const char* default_name,
                                           void** thresh_out) {
  std::string names[2];
  if (setup && setup->name[0]) {
    char buf[KLV_SCREENSETUP_NAME + 8];
    std::snprintf(buf, sizeof buf, "%s.HTS", setup->name);
    names[0] = buf;
  }
  if (default_name && *default_name) names[1] = default_name;
  for (const std::string& name : names) {
    if (name.empty()) continue;
    auto array = std::make_unique<CHTThreshArray<unsigned short>>();
    if (!array->Load(name.c_str(), screens, levels ? 2048 : 0)) continue;
    std::unique_ptr<CHTPlaceScreen<unsigned short>> p;
    if (thresh_out) {
      p = std::make_unique<CHTPlaceScreen<unsigned short>>();
      p->SetScreens(array.get());
      *thresh_out = array.release();
    } else {
      auto ex = std::make_unique<CHTPlaceScreenEx<unsigned short>>();
      ex->Own(std::move(array));
      p = std::move(ex);
    }
    p->vardot_screen = true;
    return p;
  }
  KLV_LOG(KLV_LOG_WARNING, "screen placement: no screen file loaded; using the built-in screens");
  return builtin_screens();
}

// The job's colour names out of the colour list handed to HTPlaceAlloc: one
// array per colour whose first text is its name, or a single array holding
// every name.
std::vector<const char*> colour_names(const SSTRAL* colors) {
  std::vector<const char*> names;
  const int32_t n = colors ? stral_count(colors) : 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t count = 0;
    const char* const* a = stral_get(colors, i, &count);
    if (!a || count < 1) continue;
    if (n == 1) {
      for (int32_t j = 0; j < count; ++j) names.push_back(a[j] ? a[j] : "");
    } else {
      names.push_back(a[0] ? a[0] : "");
    }
  }
  return names;
}

// The screened methods with a screen setup: the setup's screens, generated
// with the method's placement kind. Null when a screen cannot be made from
// the setup (HTScreenSetupApply logs which one): a job must not print with
// screens it did not ask for.
std::unique_ptr<CHTPlacement> setup_screens(int kind, const _SCREENSETUP* setup,
                                            const SSTRAL* colors, double xres, double yres) {
  const std::vector<const char*> names = colour_names(colors);
  auto p = std::make_unique<CHTPlaceKlvScreen>();
  if (!HTScreenSetupApply(*p, kind, setup, int(names.size()), names.data(), xres, yres))
    return nullptr;
  return p;
}

// The placement kind a screened method gives a screen setup; 0 for methods
// that take no setup screens.
int setup_kind(uint32_t method) {
  switch (method) {
    case KLV_HTMETHOD_SCREEN_ORD:
      return 1;
    case KLV_HTMETHOD_SCREEN_BUILTIN:
    case KLV_HTMETHOD_SCREEN_BUILTIN2:
      return 2;
    case KLV_HTMETHOD_SCREEN_LINE:
      return 3;
    case KLV_HTMETHOD_SCREEN_SPOT:
      return 4;
    case KLV_HTMETHOD_SCREEN_FUZZY:
      return 5;
    default:
      return 0;
  }
}

std::unique_ptr<CHTPlacement> make_placement(uint32_t screens, double xres, double yres,
                                             double oem_a, double oem_b, uint32_t levels,
                                             uint32_t method, const _SCREENSETUP* setup,
                                             const SSTRAL* colors, const char* default_name,
                                             void** thresh_out) {
  if (setup) {
    if (const int kind = setup_kind(method)) return setup_screens(kind, setup, colors, xres, yres);
  }
  switch (method) {
    case KLV_HTMETHOD_ERRDIF:
      return std::make_unique<CHTPlaceErrDif>();
    case KLV_HTMETHOD_ERRDIF_SCREEN: {
      auto p = std::make_unique<CHTPlaceErrDifScreen>();
      const bool high = xres >= 600;
      p->pattern_type = high ? 3 : 0;
      p->amp_a = high ? 481 : 963;
      p->amp_b = high ? 289 : 578;
      p->pattern_range = 2048;
      return p;
    }
    case KLV_HTMETHOD_ERRDIF_MTX: {
      auto p = std::make_unique<CHTPlaceErrDifMtx>();
      p->SetMatrixFile(default_name ? default_name : "");
      return p;
    }
    case KLV_HTMETHOD_SCREEN_ORD:
      return generated_screens(1, 22.6274, xres, yres, true);
    case KLV_HTMETHOD_SCREEN_BUILTIN:
    case KLV_HTMETHOD_SCREEN_BUILTIN2:
      return builtin_screens();
    case KLV_HTMETHOD_SCREEN_FILE:
      return file_screens(screens, levels, setup, default_name, thresh_out);
    case KLV_HTMETHOD_SCREEN_SPOT:
    case KLV_HTMETHOD_SCREEN_LINE:
    case KLV_HTMETHOD_SCREEN_FUZZY: {
      const int type = method == 6 ? 4 : method == 8 ? 3 : 5;
      const double cell = std::max(16.0, std::min(xres, yres) * 8 / 60);
      return generated_screens(type, cell, xres, yres, false);
    }
    case KLV_HTMETHOD_OEM: {
      if (!setup || !setup->entries) {
        KLV_LOG(KLV_LOG_ERROR, "OEM placement: no screen setup names its configuration");
        return nullptr;
      }
      const char* a = stral_str(setup->entries, 0, 0);
      const char* b = stral_str(setup->entries, 0, 1);
      auto p = std::make_unique<CHTPlaceOem>();
      (void)oem_a;
      (void)oem_b;
      if (!p->Load(a, b, xres, yres)) return nullptr;
      return p;
    }
    default:
      return std::make_unique<CHTPlaceErrDifVarCoef>();
  }
}

}  // namespace

extern "C" {

HTPLACE* HTPlaceAlloc(uint32_t screens, double xres, double yres, double oem_a, double oem_b,
                      uint32_t levels, uint32_t method, const _SCREENSETUP* setup,
                      const void* colors, const char* default_name, void** thresh_out,
                      uint32_t /*oem_flags*/) {
  try {
    if (thresh_out) *thresh_out = nullptr;
    if (!(xres > 0) || !(yres > 0) || xres > 1e6 || yres > 1e6) {
      KLV_LOG(KLV_LOG_ERROR, "HTPlaceAlloc: resolution %gx%g", xres, yres);
      return nullptr;
    }
    auto p = make_placement(screens, xres, yres, oem_a, oem_b, levels, method, setup,
                            static_cast<const SSTRAL*>(colors), default_name, thresh_out);
    if (!p) KLV_LOG(KLV_LOG_ERROR, "HTPlaceAlloc: no placement for method %u", method);
    return handle(p.release());
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "HTPlaceAlloc: out of memory");
    return nullptr;
  }
}

int32_t HTPlaceFree(HTPLACE* placement) {
  delete self(placement);
  return 0;
}

int32_t HTPlaceSetLinearization(HTPLACE* placement, int32_t count, uint16_t (*tables)[256],
                                const MLPROCINFO* record) {
  if (!placement) return 0;
  try {
    return self(placement)->SetLinearization(count, tables, record) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t HTPlaceSetDetachDelete(HTPLACE* placement, int32_t flag) {
  if (!placement) return 0;
  self(placement)->detach_delete = flag != 0;
  return flag != 0;
}

int32_t HTPlaceSetSeed(HTPLACE* placement, uint32_t seed) {
  if (!placement) return -1;
  self(placement)->SetSeed(seed);
  return 0;
}

void HTPlaceSetSpecialMedia(HTPLACE* placement, int32_t flag) {
  if (placement) self(placement)->SetSpecialMedia(flag != 0);
}

uint8_t* HTPlaceGetThreadFlagArray(HTPLACE* placement) {
  return placement ? self(placement)->GetThreadFlagArray() : nullptr;
}

int32_t HTPlaceIsThreaded(HTPLACE* placement) {
  return placement && self(placement)->IsThreaded() ? 1 : 0;
}

IMG_file* HTPlace_AttachImg(HTPLACE* placement, IMG_file* output, image_info* input,
                            int32_t buffer_lines, int32_t staging_lines) {
  try {
    auto filter = std::make_unique<CHTFilter>();
    // AttachImg closes the output and detaches the placement when it fails.
    if (!filter->AttachImg(output, input, self(placement), buffer_lines, staging_lines))
      return nullptr;
    // ToImg deletes the filter (closing the output) when it fails.
    return filter.release()->ToImg('w', 0);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "HTPlace_AttachImg: out of memory");
    return nullptr;
  }
}

int32_t HTPlace_GetDupFactor(HTPLACE* placement, int32_t* x, int32_t* y) {
  if (!placement) return 0;
  const int32_t dx = self(placement)->GetDupFactorX(), dy = self(placement)->GetDupFactorY();
  if (x) *x = dx;
  if (y) *y = dy;
  return dy;
}

}  // extern "C"
