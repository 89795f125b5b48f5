// SPDX-License-Identifier: MIT
// Loading printer driver libraries and sharing them between users.
//
// A PrinterDllHandle is one loaded library; handles are shared (std::shared_ptr)
// and the module stays loaded while any holder lives. PrinterDllManager is the
// process-wide loader: it keeps the handles it made by library name and by
// printer name so that later requests reuse them, and serialises loading with
// one critical section.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "klv/export.h"
#include "klv/kernel_util.h"
#include "klv/platform.h"

class PrinterDllHandle {
 public:
  PrinterDllHandle(std::string library, klv::platform::DynamicLibrary module);
  PrinterDllHandle(const PrinterDllHandle&) = delete;
  PrinterDllHandle& operator=(const PrinterDllHandle&) = delete;
  virtual ~PrinterDllHandle();

  // A value that identifies the loaded module, null when none.
  const void* getInstance() const;
  const std::string& getDeviceName() const { return m_device; }
  void setDeviceName(const std::string& device) { m_device = device; }
  const std::string& getLibraryName() const { return m_library; }
  // The address of an exported symbol, null when absent or when there is no module.
  void* getProcAddress(const char* name);

 private:
  std::string m_library;
  std::string m_device;
  klv::platform::DynamicLibrary m_module;
};

class PrinterDllManager {
 public:
  // The process-wide manager, made on first use.
  static PrinterDllManager& GetInstance();

  // A handle for a library by file name; a library already loaded under the
  // same name (any letter case) is reused. Null when it cannot be loaded.
  std::shared_ptr<PrinterDllHandle> openPrinterHandle(const std::string& library);
  // A handle for a printer instance through its types element; reused by
  // printer name. Null when the printer has no types element or its library
  // cannot be loaded.
  std::shared_ptr<PrinterDllHandle> findPrinterHandle(const std::string& printer);

  // Loads a library: the name as given, with ".so" for ".dll", searched on the
  // program's search path, the dependency folder and the installed drivers
  // folder. Logs the outcome. Null on failure.
  std::shared_ptr<PrinterDllHandle> loadLibrary(const std::string& library,
                                                const std::string& dependency_folder);

  // The folder the installed driver libraries live in (klv/drivers beside the
  // folder of libklv), "" when unknown.
  static std::string DriversFolder();

 private:
  PrinterDllManager() = default;

  klv::platform::CriticalSection m_lock;
  // Ordered without regard to letter case: one library under any spelling.
  struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
      return Ostricmp(a.c_str(), b.c_str()) < 0;
    }
  };
  std::map<std::string, std::shared_ptr<PrinterDllHandle>, NoCaseLess> m_by_library;
  std::map<std::string, std::shared_ptr<PrinterDllHandle>> m_by_printer;
};

namespace klv::printer {

// True when `path` is a network path ("\\computer\share...") naming a computer
// other than this one (compared without regard to case; a computer name that
// cannot be read counts as other).
bool is_remote_network_path(const std::string& path);

}  // namespace klv::printer

// The C printer handle: a heap-held shared reference.
struct PrinterHandle {
  std::shared_ptr<PrinterDllHandle> handle;
};
