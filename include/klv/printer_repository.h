/* SPDX-License-Identifier: MIT */
/* The printer repository: the folder that keeps one printer's settings,
 * media, page sizes, print modes, screen setups and drop sizes.
 *
 * On disk a repository is a folder holding ".Settings.xml" (everything this
 * class reads and writes, as XML) and a folder "Defaults" for default files
 * that belong to the printer (looked up with prntinfo_find_default_file).
 * Opening a folder without a readable, well-formed ".Settings.xml" gives no
 * repository and one log line. Saving writes a temporary file next to
 * ".Settings.xml" and renames it over the old one.
 *
 * The XML form (attributes not named here are ignored when reading):
 *
 *   <Printer name="" device="" active="1" ppd="" tcpAdditionalPort=""
 *            tcpDefaultPort="" defaultMedia="" defaultPageSize="">
 *     <DeviceResolutions><Resolution name="720x720"/>...</DeviceResolutions>
 *     <DefaultResolutions>...</DefaultResolutions>
 *     <PageSizes><PageSize name="" width="210mm" height="297mm" extra=""
 *                          path="Roll"/>...</PageSizes>
 *     <ScreenSetups><ScreenSetup name=""><Entry v0="" v1="" .../>
 *     </ScreenSetup></ScreenSetups>
 *     <DotInfo units=""><Res name=""><Config name=""><Drop v0="" .../>
 *     </Config></Res></DotInfo>
 *     <Medias><Media name="" group="" defaultMode="">
 *       <PageSizes/> <Resolutions/>
 *       <Modes><Mode name="" resolution="" pattern=""><ScreenSetups/></Mode></Modes>
 *     </Media></Medias>
 *   </Printer>
 *
 * A media without its own PageSizes element uses the printer's page sizes. */
#ifndef KLV_PRINTER_REPOSITORY_H
#define KLV_PRINTER_REPOSITORY_H

#ifdef __cplusplus
#include <memory>
#include <string>
#include <vector>

#include "klv/export.h"

namespace klv {

using StringArray = std::vector<std::string>;
using StringArrayList = std::vector<StringArray>;

/* A named screen setup: one string array per colour (colour, ruling, angle,
 * dot shape[, option, option]). */
struct RepScreenSetup {
  std::string name;
  StringArrayList entries;
};

struct RepDotConfig {
  std::string name;
  StringArrayList data; /* key, drop value, unit value, drop volume */
};

struct RepDotResolution {
  std::string res;
  std::vector<RepDotConfig> configs;
};

struct RepDotInfo {
  std::string units;
  std::vector<RepDotResolution> resolutions;
};

struct RepMode {
  std::string name;
  std::string resolution;
  std::string pattern; /* pattern text, e.g. "Screen(85 lpi)" */
  std::vector<RepScreenSetup> screen_setups;
};

struct RepMedia {
  std::string name;
  std::string group; /* empty: listed as "_Ungrouped_" */
  std::string default_mode;
  bool has_page_sizes = false; /* false: the printer's page sizes apply */
  StringArrayList page_sizes;  /* name, width, height, extra, paper path */
  StringArrayList resolutions; /* one resolution name per element */
  std::vector<RepMode> modes;
};

struct RepPrinter {
  std::string name; /* the printer instance the repository belongs to */
  std::string device_name;
  std::string default_media;
  std::string default_page_size;
  std::string ppd_file;
  std::string tcp_additional_port;
  std::string tcp_default_port;
  bool active = true;
  StringArrayList device_resolutions;
  StringArrayList default_resolutions;
  StringArrayList page_sizes;
  std::vector<RepScreenSetup> screen_setups;
  bool has_dot_info = false;
  RepDotInfo dot_info;
  std::vector<RepMedia> medias;
};

class KLV_API PrinterRepository {
 public:
  static constexpr const char* kSettingsName = ".Settings.xml";

  /* Opens the repository in folder (settings file name: ".Settings.xml" when
   * null or empty). Null, with a log line, when the file is missing,
   * unreadable, too large or not a printer repository. */
  static std::shared_ptr<PrinterRepository> open(const std::string& folder,
                                                 const char* settings_name = nullptr);
  /* Reads a repository from XML text in memory (for tests and checks); the
   * folder is only remembered. */
  static std::shared_ptr<PrinterRepository> parse(const char* data, size_t size,
                                                  const std::string& folder);
  /* A new, empty repository for folder (nothing is written until save). */
  static std::shared_ptr<PrinterRepository> create(const std::string& folder);

  /* The XML text of the repository. */
  std::string to_xml() const;
  /* Writes ".Settings.xml" (temporary file, then rename) and makes sure the
   * "Defaults" folder exists. False, with a log line, on failure. */
  bool save();
  /* Saves to another folder and makes it this repository's folder. */
  bool save_as(const std::string& folder);

  /* The folder, ending in a separator. */
  const std::string& folder() const { return m_folder; }
  RepPrinter& printer() { return m_printer; }
  const RepPrinter& printer() const { return m_printer; }

  RepMedia* find_media(const std::string& name);
  const RepMedia* find_media(const std::string& name) const;
  /* Removes a media; false when there is none of that name. */
  bool remove_media(const std::string& name);
  /* The printer instance is now called name. */
  void rename(const std::string& name) { m_printer.name = name; }
  void set_active(bool active) { m_printer.active = active; }

 private:
  explicit PrinterRepository(std::string folder);
  std::string m_folder;
  std::string m_settings_name;
  RepPrinter m_printer;
};

} /* namespace klv */
#endif

#endif
