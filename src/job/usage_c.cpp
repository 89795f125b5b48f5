// SPDX-License-Identifier: MIT
// The C functions over the usage account.
#include <new>

#include "klv/kernel_path.h"
#include "klv/usage_cxx.h"

namespace {

template <typename F>
int32_t guarded(F&& body) {
  try {
    return body() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

bool in_range(int32_t index, size_t size) {
  return index >= 0 && size_t(index) < size;
}

}  // namespace

extern "C" {

KLV_API CPrintUsage* printusage_new(void) {
  return new (std::nothrow) CPrintUsage();
}

KLV_API void printusage_free(CPrintUsage* usage) {
  delete usage;
}

KLV_API int32_t printusage_load(CPrintUsage* usage, const char* path) {
  return usage ? guarded([&] { return usage->Load(path); }) : 0;
}

KLV_API int32_t printusage_load_printer(CPrintUsage* usage, const char* printer) {
  return usage ? guarded([&] { return usage->LoadPrinter(printer); }) : 0;
}

KLV_API int32_t printusage_exists(const char* printer) {
  return guarded([&] { return CPrintUsage::UsageExists(printer); });
}

KLV_API int32_t printusage_printer_file(const char* printer, char* out) {
  if (!out) return 0;
  out[0] = '\0';
  return guarded([&] {
    const std::string path = CPrintUsage::PrinterFile(printer);
    if (path.empty() || path.size() >= KLV_PATH_MAX) return false;
    path.copy(out, path.size());
    out[path.size()] = '\0';
    return true;
  });
}

KLV_API int32_t printusage_save(CPrintUsage* usage, const char* path) {
  return usage ? guarded([&] { return usage->Save(path); }) : 0;
}

KLV_API void printusage_reset(CPrintUsage* usage) {
  if (usage) usage->Reset();
}

KLV_API const char* printusage_path(const CPrintUsage* usage) {
  return usage ? usage->GetPath().c_str() : "";
}

KLV_API int32_t printusage_use_media(CPrintUsage* usage, const char* media, double amount) {
  if (!usage || !media) return 0;
  return guarded([&] {
    usage->UseMedia(media, amount);
    return true;
  });
}

KLV_API int32_t printusage_use_ink(CPrintUsage* usage, const char* ink_set, int32_t number,
                                   const usage_dot_table* counts) {
  if (!usage || !counts || !counts->entries) return 0;
  return guarded([&] {
    usage->UseInk(ink_set, number, counts);
    return true;
  });
}

KLV_API int32_t printusage_add(CPrintUsage* usage, const CPrintUsage* from) {
  if (!usage || !from || usage == from) return 0;
  return guarded([&] {
    usage->Add(*from);
    return true;
  });
}

KLV_API int32_t printusage_add_to_file(const char* path, const CPrintUsage* job) {
  return job ? guarded([&] { return CPrintUsage::AddToFile(path, *job); }) : 0;
}

KLV_API int32_t printusage_add_to_printer(const char* printer, const CPrintUsage* job) {
  return job ? guarded([&] { return CPrintUsage::AddToPrinter(printer, *job); }) : 0;
}

KLV_API int32_t printusage_media_count(const CPrintUsage* usage) {
  return usage ? int32_t(usage->GetMediaList().size()) : 0;
}

KLV_API int32_t printusage_media(const CPrintUsage* usage, int32_t index, const char** name,
                                 double* amount) {
  if (!usage || !in_range(index, usage->GetMediaList().size())) return 0;
  const CPrintMediaUsage& m = *usage->GetMediaList()[size_t(index)];
  if (name) *name = m.GetName().c_str();
  if (amount) *amount = m.GetAmount();
  return 1;
}

KLV_API int32_t printusage_inkset_count(const CPrintUsage* usage) {
  return usage ? int32_t(usage->GetInkList().size()) : 0;
}

KLV_API int32_t printusage_inkset(const CPrintUsage* usage, int32_t index, const char** name,
                                  int32_t* number, int32_t* inks) {
  if (!usage || !in_range(index, usage->GetInkList().size())) return 0;
  const CPrintInkSetUsage& s = *usage->GetInkList()[size_t(index)];
  if (name) *name = s.GetName().c_str();
  if (number) *number = s.GetNumber();
  if (inks) *inks = int32_t(s.GetList().size());
  return 1;
}

KLV_API int32_t printusage_ink(const CPrintUsage* usage, int32_t set, int32_t index,
                               const char** name, uint64_t* dots, double* millilitres) {
  if (!usage || !in_range(set, usage->GetInkList().size())) return 0;
  const auto& inks = usage->GetInkList()[size_t(set)]->GetList();
  if (!in_range(index, inks.size())) return 0;
  const CPrintInkUsage& ink = *inks[size_t(index)];
  if (name) *name = ink.GetName().c_str();
  if (dots) *dots = ink.GetCount();
  if (millilitres) *millilitres = ink.GetMillilitres();
  return 1;
}

}  // extern "C"
