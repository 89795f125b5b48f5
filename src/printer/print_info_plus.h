// SPDX-License-Identifier: MIT
// The object behind a PRNTINFO record: a shared handle to the printer's
// repository and the C lists built from it, kept until the object goes.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "klv/printer_repository.h"
#include "klv/printmode.h"
#include "klv/prntinfo.h"
#include "printer/c_records.h"
#include "klv/printmode_cxx.h"

class PrintInfoPlus {
 public:
  PrintInfoPlus() = default;
  PrintInfoPlus(const PrintInfoPlus& other) : m_repository(other.m_repository) {}
  PrintInfoPlus& operator=(const PrintInfoPlus&) = delete;
  virtual ~PrintInfoPlus() = default;

  // The repository folder of a printer instance ("" when none; see the
  // lookup order in prntinfo.cpp).
  static std::string findRepositoryPath(const char* name);

  // Opens the repository in folder and drops every cache; false when there
  // is no repository there.
  bool open(const std::string& folder);
  const std::shared_ptr<klv::PrinterRepository>& repository() const { return m_repository; }
  void dropCaches();

  // Caches: each list is built once and stays valid while the object lives
  // (media_list(true) rebuilds the media list; the old one is freed).
  SSTRAL* mediaList(bool refresh);
  SSTRAL* devResolutions();
  SSTRAL* defaultResolutions();
  SSTRAL* mediaResolutions(const std::string& media);
  SSTRAL* pageSizes(const std::string& media);
  SSTRAL* modeNames(const std::string& media);
  SSTRAL* allModeNames();
  const std::vector<CPrintMode>* modes(const std::string& media);
  _SCREENSETUP* screenSetups();
  _SCREENSETUP* modeScreenSetups(const std::string& media, const std::string& mode);
  dotinfo* dotInfo();
  // An empty dot info owned by the object.
  dotinfo* newDotInfo();
  // Whether the object already frees this dot info or screen setup list.
  bool owns(const dotinfo* info) const;
  bool owns(const _SCREENSETUP* setups) const;

 private:
  using StralPtr = klv::printer::StralPtr;
  std::shared_ptr<klv::PrinterRepository> m_repository;
  StralPtr m_medias, m_dev_res, m_default_res, m_all_modes, m_printer_pages;
  std::map<std::string, StralPtr> m_media_res, m_pages, m_mode_names;
  std::map<std::string, std::unique_ptr<std::vector<CPrintMode>>> m_modes;
  std::map<std::string, klv::printer::ScreenSetupPtr> m_mode_screens;
  klv::printer::ScreenSetupPtr m_screens;
  bool m_screens_built = false;
  klv::printer::DotInfoPtr m_dotinfo;
  bool m_dotinfo_built = false;
  std::vector<klv::printer::DotInfoPtr> m_extra_dots;
};
