// SPDX-License-Identifier: MIT
#include "printer/print_info_plus.h"

#include <filesystem>
#include <set>

#include "klv/kernel_path_cxx.h"
#include "klv/kernel_path.h"
#include "klv/platform.h"
#include "klv/prntinfo.h"
#include "printer/printer_lists.h"
#include "klv/printmode_cxx.h"

using klv::printer::make_stral;
using klv::printer::StralPtr;

namespace {

klv::StringArrayList media_rows(const klv::RepPrinter& p) {
  klv::StringArrayList rows;
  for (const klv::RepMedia& m : p.medias)
    rows.push_back({m.name, m.group.empty() ? std::string("_Ungrouped_") : m.group});
  return rows;
}

}  // namespace

std::string PrintInfoPlus::findRepositoryPath(const char* name) {
  std::string base = klv::printer::base_printer_name(name);
  if (!get_server_mode()) {
    std::string folder = klv::printer::printer_folder(base, nullptr);
    if (!folder.empty()) {
      char link[KLV_PATH_MAX];
      if (get_repository_link(folder.c_str(), link) && link[0]) return link;
    }
  }
  // The default: <folder above the program's folder>/db/Printers/<name>/.
  std::string program = klv::platform::ProgramFolder();
  if (program.empty() || base.empty()) return {};
  std::string parent = program;
  size_t slash = parent.find_last_of("/\\");
  parent = slash == std::string::npos ? std::string(".") : parent.substr(0, slash);
  std::string path = parent + "\\db\\Printers\\" + base + "\\";
  std::error_code ec;
  if (std::filesystem::is_directory(klv::kernel::host_path(path.c_str()), ec)) return path;
  return {};
}

bool PrintInfoPlus::open(const std::string& folder) {
  dropCaches();
  m_repository = klv::PrinterRepository::open(folder, klv::PrinterRepository::kSettingsName);
  return m_repository != nullptr;
}

void PrintInfoPlus::dropCaches() {
  m_medias.reset();
  m_dev_res.reset();
  m_default_res.reset();
  m_all_modes.reset();
  m_printer_pages.reset();
  m_media_res.clear();
  m_pages.clear();
  m_mode_names.clear();
  m_modes.clear();
  m_mode_screens.clear();
  m_screens.reset();
  m_screens_built = false;
  m_dotinfo.reset();
  m_dotinfo_built = false;
}

SSTRAL* PrintInfoPlus::mediaList(bool refresh) {
  if (!m_repository) return nullptr;
  if (!m_medias || refresh) m_medias.reset(make_stral(media_rows(m_repository->printer())));
  return m_medias.get();
}

SSTRAL* PrintInfoPlus::devResolutions() {
  if (!m_repository) return nullptr;
  if (!m_dev_res) m_dev_res.reset(make_stral(m_repository->printer().device_resolutions));
  return m_dev_res.get();
}

SSTRAL* PrintInfoPlus::defaultResolutions() {
  if (!m_repository) return nullptr;
  if (!m_default_res) m_default_res.reset(make_stral(m_repository->printer().default_resolutions));
  return m_default_res.get();
}

SSTRAL* PrintInfoPlus::mediaResolutions(const std::string& media) {
  if (!m_repository) return nullptr;
  auto it = m_media_res.find(media);
  if (it != m_media_res.end()) return it->second.get();
  const klv::RepMedia* m = m_repository->find_media(media);
  if (!m) return nullptr;
  return (m_media_res[media] = StralPtr(make_stral(m->resolutions))).get();
}

SSTRAL* PrintInfoPlus::pageSizes(const std::string& media) {
  if (!m_repository) return nullptr;
  const klv::RepMedia* m = media.empty() ? nullptr : m_repository->find_media(media);
  if (!m || !m->has_page_sizes) {
    if (!media.empty() && !m) return nullptr;
    if (!m_printer_pages) m_printer_pages.reset(make_stral(m_repository->printer().page_sizes));
    return m_printer_pages.get();
  }
  auto it = m_pages.find(media);
  if (it != m_pages.end()) return it->second.get();
  return (m_pages[media] = StralPtr(make_stral(m->page_sizes))).get();
}

const std::vector<CPrintMode>* PrintInfoPlus::modes(const std::string& media) {
  if (!m_repository) return nullptr;
  auto it = m_modes.find(media);
  if (it != m_modes.end()) return it->second.get();
  const klv::RepMedia* m = m_repository->find_media(media);
  if (!m) return nullptr;
  auto list = std::make_unique<std::vector<CPrintMode>>();
  for (const klv::RepMode& mode : m->modes)
    list->emplace_back(mode.pattern.c_str(), mode.resolution.c_str(), mode.name.c_str());
  return (m_modes[media] = std::move(list)).get();
}

SSTRAL* PrintInfoPlus::modeNames(const std::string& media) {
  auto it = m_mode_names.find(media);
  if (it != m_mode_names.end()) return it->second.get();
  const std::vector<CPrintMode>* list = modes(media);
  if (!list) return nullptr;
  klv::StringArrayList rows;
  for (const CPrintMode& m : *list) rows.push_back({m.GetModeName()});
  return (m_mode_names[media] = StralPtr(make_stral(rows))).get();
}

SSTRAL* PrintInfoPlus::allModeNames() {
  if (!m_repository) return nullptr;
  if (m_all_modes) return m_all_modes.get();
  klv::StringArrayList rows;
  std::set<std::string> seen;
  for (const klv::RepMedia& media : m_repository->printer().medias) {
    const std::vector<CPrintMode>* list = modes(media.name);
    if (!list) continue;
    for (const CPrintMode& m : *list)
      if (seen.insert(m.GetModeName()).second) rows.push_back({m.GetModeName()});
  }
  m_all_modes.reset(make_stral(rows));
  return m_all_modes.get();
}

_SCREENSETUP* PrintInfoPlus::screenSetups() {
  if (!m_repository) return nullptr;
  if (!m_screens_built) {
    m_screens.reset(klv::printer::make_screen_setups(m_repository->printer().screen_setups));
    m_screens_built = true;
  }
  return m_screens.get();
}

_SCREENSETUP* PrintInfoPlus::modeScreenSetups(const std::string& media, const std::string& mode) {
  if (!m_repository) return nullptr;
  const std::string key = media + '\n' + mode;
  auto it = m_mode_screens.find(key);
  if (it != m_mode_screens.end()) return it->second.get();
  const klv::RepMedia* m = m_repository->find_media(media);
  if (!m) return nullptr;
  for (const klv::RepMode& rm : m->modes) {
    CPrintMode pm(rm.pattern.c_str(), rm.resolution.c_str(), rm.name.c_str());
    if (pm.GetModeName() != mode) continue;
    if (rm.screen_setups.empty()) return nullptr;
    return (m_mode_screens[key] =
                klv::printer::ScreenSetupPtr(klv::printer::make_screen_setups(rm.screen_setups)))
        .get();
  }
  return nullptr;
}

dotinfo* PrintInfoPlus::dotInfo() {
  if (!m_repository) return nullptr;
  if (!m_dotinfo_built) {
    if (m_repository->printer().has_dot_info)
      m_dotinfo.reset(klv::printer::make_dotinfo(m_repository->printer().dot_info));
    m_dotinfo_built = true;
  }
  return m_dotinfo.get();
}

dotinfo* PrintInfoPlus::newDotInfo() {
  klv::printer::DotInfoPtr info(klv::printer::make_dotinfo({}));
  if (!info) return nullptr;
  m_extra_dots.push_back(std::move(info));
  return m_extra_dots.back().get();
}

bool PrintInfoPlus::owns(const dotinfo* info) const {
  if (info == m_dotinfo.get()) return true;
  for (const auto& d : m_extra_dots)
    if (d.get() == info) return true;
  return false;
}

bool PrintInfoPlus::owns(const _SCREENSETUP* setups) const {
  return setups == m_screens.get();
}
