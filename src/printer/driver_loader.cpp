// SPDX-License-Identifier: MIT
// PrinterDllHandle, PrinterDllManager and the C printer handle functions.
#include "printer/driver_loader.h"

#include <dlfcn.h>

#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "klv/kernel_path.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/printer_driver.h"
#include "klv/prntinfo.h"

namespace {

bool ends_with_nocase(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         Ostrnicmp(text.c_str() + text.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

// The file names a library name stands for: a name ending in ".so" as given;
// a name ending in ".dll" as given and with ".so" in its place; any other name
// with ".dll" appended and with ".so" appended.
std::vector<std::string> candidate_names(const std::string& library) {
  if (ends_with_nocase(library, ".so")) return {library};
  if (ends_with_nocase(library, ".dll"))
    return {library, library.substr(0, library.size() - 4) + ".so"};
  return {library + ".dll", library + ".so"};
}

bool file_exists(const std::string& path) {
  char found[KLV_PATH_MAX];
  return _findinpath(path.c_str(), found) && std::string(found) == path;
}

// Finds a library file: on the search path, then in the dependency folder,
// then in the installed drivers folder. "" when none has it.
std::string locate(const std::string& library, const std::string& dependency_folder) {
  for (const auto& name : candidate_names(library)) {
    char found[KLV_PATH_MAX];
    if (_findinpath(name.c_str(), found)) {
      std::string path = found;
      // A bare file name would make the dynamic loader search its own folders.
      if (path.find('/') == std::string::npos && path.find('\\') == std::string::npos)
        path = "./" + path;
      return path;
    }
    for (const auto& folder : {dependency_folder, PrinterDllManager::DriversFolder()}) {
      if (folder.empty()) continue;
      std::string base = name;
      const size_t slash = base.find_last_of("/\\");
      if (slash != std::string::npos) base = base.substr(slash + 1);
      const std::string path = klv::platform::JoinPath(folder, base);
      if (file_exists(path)) return path;
    }
  }
  return {};
}

// The dependency folder of a library on another computer: the Printer_System
// link of the printer whose client element names the library's folder.
std::string remote_dependency_folder(const std::string& library) {
  char drive[KLV_SPLIT_DRIVE], dir[KLV_SPLIT_DIR];
  _splitvpath(library.c_str(), drive, dir, nullptr, nullptr);
  const std::string folder = std::string(drive) + dir;
  PRNTCLNT* clients = prntclnt_load(nullptr, nullptr);
  if (!clients) return {};
  std::string printer_folder;
  for (int column : {2, 3}) {
    for (int32_t i = 0; i < stral_count(clients->Printers) && printer_folder.empty(); ++i) {
      const char* value = stral_str(clients->Printers, i, column);
      const char* own = stral_str(clients->Printers, i, 1);
      if (value && own && folder == value) printer_folder = own;
    }
    if (!printer_folder.empty()) break;
  }
  prntclnt_free(clients);
  if (printer_folder.empty()) return {};
  char system[KLV_PATH_MAX] = "";
  get_common_links(printer_folder.c_str(), nullptr, nullptr, nullptr, system);
  return system;
}

}  // namespace

namespace klv::printer {

bool is_remote_network_path(const std::string& path) {
  if (path.size() < 3 || path[0] != '\\' || path[1] != '\\') return false;
  const size_t end = path.find('\\', 2);
  if (end == std::string::npos || end == 2) return false;
  const std::string computer = path.substr(2, end - 2);
  const std::string here = klv::platform::ComputerName();
  return here.empty() || Ostricmp(here.c_str(), computer.c_str()) != 0;
}

}  // namespace klv::printer

// ---------------------------------------------------------------------------

PrinterDllHandle::PrinterDllHandle(std::string library, klv::platform::DynamicLibrary module)
    : m_library(std::move(library)), m_module(std::move(module)) {}

PrinterDllHandle::~PrinterDllHandle() = default;

const void* PrinterDllHandle::getInstance() const {
  return m_module.IsOpen() ? static_cast<const void*>(&m_module) : nullptr;
}

void* PrinterDllHandle::getProcAddress(const char* name) {
  if (!m_module.IsOpen() || !name) return nullptr;
  return m_module.Symbol(name);
}

PrinterDllManager& PrinterDllManager::GetInstance() {
  static PrinterDllManager* manager = new PrinterDllManager();  // lives for the process
  return *manager;
}

std::string PrinterDllManager::DriversFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&OpenPrinterHandle), &info) || !info.dli_fname) return {};
  std::string self = info.dli_fname;
  const size_t slash = self.rfind('/');
  if (slash == std::string::npos) return {};
  return self.substr(0, slash) + "/klv/drivers";
}

std::shared_ptr<PrinterDllHandle> PrinterDllManager::loadLibrary(
    const std::string& library, const std::string& dependency_folder) {
  std::string dependencies = dependency_folder;
  if (dependencies.empty() && klv::printer::is_remote_network_path(library))
    dependencies = remote_dependency_folder(library);
  const std::string located = locate(library, dependencies);
  klv::platform::DynamicLibrary module;
  if (!located.empty()) {
    if (!module.Open(located)) {
      KLV_LOG(KLV_LOG_ERROR, "Failed to load %s from \"%s\": %d (%s)", library.c_str(),
              located.c_str(), -1, module.ErrorText().c_str());
      return nullptr;
    }
  } else {
    // Not found on our paths: the dynamic loader's own folders may still have it.
    bool loaded = false;
    for (const auto& name : candidate_names(library))
      if (name.find_first_of("/\\") == std::string::npos && module.Open(name)) {
        loaded = true;
        break;
      }
    if (!loaded) {
      KLV_LOG(KLV_LOG_ERROR, "Could not locate %s", library.c_str());
      return nullptr;
    }
  }
  KLV_LOG(KLV_LOG_INFO, "Loaded \"%s\"", module.path().c_str());
  return std::make_shared<PrinterDllHandle>(library, std::move(module));
}

std::shared_ptr<PrinterDllHandle> PrinterDllManager::openPrinterHandle(const std::string& library) {
  if (library.empty()) return nullptr;
  klv::platform::CriticalSectionLock guard(m_lock);
  if (auto it = m_by_library.find(library); it != m_by_library.end()) return it->second;
  auto handle = loadLibrary(library, {});
  if (handle) m_by_library[library] = handle;
  return handle;
}

std::shared_ptr<PrinterDllHandle> PrinterDllManager::findPrinterHandle(const std::string& printer) {
  if (printer.empty()) return nullptr;
  klv::platform::CriticalSectionLock guard(m_lock);
  if (auto it = m_by_printer.find(printer); it != m_by_printer.end()) return it->second;
  const std::string name = printer.substr(0, printer.find('('));
  char** types = prntdevs_find(name.c_str());
  if (!types) {
    KLV_LOG(KLV_LOG_ERROR, "printer \"%s\" has no element in the printer types list", name.c_str());
    return nullptr;
  }
  int32_t type_count = 0;
  while (types[type_count]) ++type_count;
  const std::string device = type_count > 1 ? types[1] : "";
  const std::string dll = type_count > 2 ? types[2] : "";
  free_char_list(types);

  std::string library = dll;
  std::string dependencies;
  if (char** client = prntclnts_find(name.c_str())) {
    int32_t count = 0;
    while (client[count]) ++count;
    if (count >= 3 && klv::printer::is_remote_network_path(client[2])) {
      library = client[2];
      if (library.empty() || library.back() != '\\') library += '\\';
      library += dll;
      if (count >= 5) dependencies = client[4];
    }
    free_char_list(client);
  }
  if (dll.empty()) {
    KLV_LOG(KLV_LOG_ERROR, "printer \"%s\" names no driver library", name.c_str());
    return nullptr;
  }
  auto handle = loadLibrary(library, dependencies);
  if (!handle) return nullptr;
  handle->setDeviceName(device);
  m_by_printer[printer] = handle;
  return handle;
}

// ---------------------------------------------------------------------------
// C handle functions

namespace {

PrinterHandle* wrap(std::shared_ptr<PrinterDllHandle> handle) {
  if (!handle) return nullptr;
  return new PrinterHandle{std::move(handle)};
}

}  // namespace

KLV_API PrinterHandle* OpenPrinterHandle(const char* library) {
  if (!library) return nullptr;
  try {
    return wrap(PrinterDllManager::GetInstance().openPrinterHandle(library));
  } catch (...) {
    return nullptr;
  }
}

KLV_API PrinterHandle* FindPrinterHandle(const char* printer) {
  if (!printer) return nullptr;
  try {
    return wrap(PrinterDllManager::GetInstance().findPrinterHandle(printer));
  } catch (...) {
    return nullptr;
  }
}

KLV_API void FreePrinterHandle(PrinterHandle* handle) {
  delete handle;
}

KLV_API void* GetPrinterHandleProcAddress(PrinterHandle* handle, const char* name) {
  if (!handle || !handle->handle) return nullptr;
  return handle->handle->getProcAddress(name);
}

KLV_API const void* GetPrinterHandleInstance(PrinterHandle* handle) {
  if (!handle || !handle->handle) return nullptr;
  return handle->handle->getInstance();
}

KLV_API const char* GetPrinterHandleDeviceName(PrinterHandle* handle) {
  if (!handle || !handle->handle) return nullptr;
  return handle->handle->getDeviceName().c_str();
}
