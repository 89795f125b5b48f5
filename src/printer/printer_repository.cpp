// SPDX-License-Identifier: MIT
// The printer repository on libxml2: one ".Settings.xml" per printer folder.
#include "klv/printer_repository.h"

#include <libxml/parser.h>
#include <libxml/globals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlstring.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "klv/kernel_path_cxx.h"
#include "klv/log.h"

namespace klv {

namespace {

constexpr size_t kMaxSettingsBytes = 64u << 20;  // a printer description is far smaller
constexpr size_t kMaxArrayStrings = 64;          // strings per element

namespace fs = std::filesystem;

const xmlChar* X(const char* s) {
  return reinterpret_cast<const xmlChar*>(s);
}

std::string attr(xmlNode* node, const char* name) {
  xmlChar* v = xmlGetProp(node, X(name));
  if (!v) return {};
  std::string s(reinterpret_cast<const char*>(v));
  xmlFree(v);
  return s;
}

bool has_attr(xmlNode* node, const char* name) {
  return xmlHasProp(node, X(name)) != nullptr;
}

bool is(xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, X(name)) == 0;
}

xmlNode* child(xmlNode* parent, const char* name) {
  for (xmlNode* c = parent->children; c; c = c->next)
    if (is(c, name)) return c;
  return nullptr;
}

template <typename F>
void each(xmlNode* parent, const char* name, F&& f) {
  if (!parent) return;
  for (xmlNode* c = parent->children; c; c = c->next)
    if (is(c, name)) f(c);
}

// Attribute names of the strings of one element: the first few by name, the
// rest "v<i>".
struct ArrayNames {
  const char* const* names;
  size_t count;
  std::string name(size_t i) const { return i < count ? names[i] : "v" + std::to_string(i); }
};

const char* const kPageNames[] = {"name", "width", "height", "extra", "path"};
const char* const kResNames[] = {"name"};
const ArrayNames kPageArray{kPageNames, 5};
const ArrayNames kResArray{kResNames, 1};
const ArrayNames kPlainArray{nullptr, 0};

StringArray read_array(xmlNode* node, const ArrayNames& names) {
  size_t count = 0;
  for (size_t i = 0; i < kMaxArrayStrings; ++i)
    if (has_attr(node, names.name(i).c_str())) count = i + 1;
  StringArray a(count);
  for (size_t i = 0; i < count; ++i) a[i] = attr(node, names.name(i).c_str());
  return a;
}

StringArrayList read_list(xmlNode* parent, const char* item, const ArrayNames& names) {
  StringArrayList list;
  each(parent, item, [&](xmlNode* n) { list.push_back(read_array(n, names)); });
  return list;
}

std::vector<RepScreenSetup> read_screens(xmlNode* parent) {
  std::vector<RepScreenSetup> out;
  each(parent, "ScreenSetup", [&](xmlNode* n) {
    out.push_back({attr(n, "name"), read_list(n, "Entry", kPlainArray)});
  });
  return out;
}

RepDotInfo read_dotinfo(xmlNode* node) {
  RepDotInfo info;
  info.units = attr(node, "units");
  each(node, "Res", [&](xmlNode* r) {
    RepDotResolution res;
    res.res = attr(r, "name");
    each(r, "Config", [&](xmlNode* c) {
      res.configs.push_back({attr(c, "name"), read_list(c, "Drop", kPlainArray)});
    });
    info.resolutions.push_back(std::move(res));
  });
  return info;
}

RepMedia read_media(xmlNode* node) {
  RepMedia m;
  m.name = attr(node, "name");
  m.group = attr(node, "group");
  m.default_mode = attr(node, "defaultMode");
  if (xmlNode* pages = child(node, "PageSizes")) {
    m.has_page_sizes = true;
    m.page_sizes = read_list(pages, "PageSize", kPageArray);
  }
  m.resolutions = read_list(child(node, "Resolutions"), "Resolution", kResArray);
  each(child(node, "Modes"), "Mode", [&](xmlNode* n) {
    m.modes.push_back({attr(n, "name"), attr(n, "resolution"), attr(n, "pattern"),
                       read_screens(child(n, "ScreenSetups"))});
  });
  return m;
}

bool read_printer(xmlDoc* doc, RepPrinter& p, const std::string& where) {
  xmlNode* root = xmlDocGetRootElement(doc);
  if (!root || !is(root, "Printer")) {
    KLV_LOG(KLV_LOG_ERROR, "printer repository %s: root element is not <Printer>", where.c_str());
    return false;
  }
  p.name = attr(root, "name");
  p.device_name = attr(root, "device");
  p.default_media = attr(root, "defaultMedia");
  p.default_page_size = attr(root, "defaultPageSize");
  p.ppd_file = attr(root, "ppd");
  p.tcp_additional_port = attr(root, "tcpAdditionalPort");
  p.tcp_default_port = attr(root, "tcpDefaultPort");
  p.active = attr(root, "active") != "0";
  p.device_resolutions = read_list(child(root, "DeviceResolutions"), "Resolution", kResArray);
  p.default_resolutions = read_list(child(root, "DefaultResolutions"), "Resolution", kResArray);
  p.page_sizes = read_list(child(root, "PageSizes"), "PageSize", kPageArray);
  p.screen_setups = read_screens(child(root, "ScreenSetups"));
  if (xmlNode* dots = child(root, "DotInfo")) {
    p.has_dot_info = true;
    p.dot_info = read_dotinfo(dots);
  }
  each(child(root, "Medias"), "Media", [&](xmlNode* n) { p.medias.push_back(read_media(n)); });
  return true;
}

// ---- writing ---------------------------------------------------------------

// Values must be UTF-8 to be written; a byte that does not belong to a valid
// UTF-8 character is written as '?' (logged) rather than failing the save.
std::string valid_utf8(const std::string& value) {
  if (xmlCheckUTF8(X(value.c_str()))) return value;
  std::string out;
  size_t i = 0;
  while (i < value.size()) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    std::string ch = len ? value.substr(i, size_t(len)) : std::string();
    if (len && ch.size() == size_t(len) && xmlCheckUTF8(X(ch.c_str()))) {
      out += ch;
      i += size_t(len);
    } else {
      out += '?';
      ++i;
    }
  }
  KLV_LOG(KLV_LOG_WARNING, "printer repository: value \"%s\" is not UTF-8; written as \"%s\"",
          value.c_str(), out.c_str());
  return out;
}

void set(xmlNode* node, const char* name, const std::string& value) {
  xmlSetProp(node, X(name), X(valid_utf8(value).c_str()));
}

xmlNode* add(xmlNode* parent, const char* name) {
  return xmlNewChild(parent, nullptr, X(name), nullptr);
}

void write_list(xmlNode* parent, const char* list_name, const char* item,
                const StringArrayList& list, const ArrayNames& names) {
  xmlNode* l = add(parent, list_name);
  for (const StringArray& a : list) {
    xmlNode* n = add(l, item);
    for (size_t i = 0; i < a.size() && i < kMaxArrayStrings; ++i)
      set(n, names.name(i).c_str(), a[i]);
  }
}

void write_screens(xmlNode* parent, const std::vector<RepScreenSetup>& setups) {
  xmlNode* l = add(parent, "ScreenSetups");
  for (const RepScreenSetup& s : setups) {
    xmlNode* n = add(l, "ScreenSetup");
    set(n, "name", s.name);
    for (const StringArray& e : s.entries) {
      xmlNode* en = add(n, "Entry");
      for (size_t i = 0; i < e.size() && i < kMaxArrayStrings; ++i)
        set(en, kPlainArray.name(i).c_str(), e[i]);
    }
  }
}

void write_dotinfo(xmlNode* parent, const RepDotInfo& info) {
  xmlNode* d = add(parent, "DotInfo");
  set(d, "units", info.units);
  for (const RepDotResolution& r : info.resolutions) {
    xmlNode* rn = add(d, "Res");
    set(rn, "name", r.res);
    for (const RepDotConfig& c : r.configs) {
      xmlNode* cn = add(rn, "Config");
      set(cn, "name", c.name);
      for (const StringArray& e : c.data) {
        xmlNode* en = add(cn, "Drop");
        for (size_t i = 0; i < e.size() && i < kMaxArrayStrings; ++i)
          set(en, kPlainArray.name(i).c_str(), e[i]);
      }
    }
  }
}

struct DocDeleter {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocDeleter>;

// Keeps libxml2's own messages off stderr while a repository is parsed; the
// reader logs one line of its own instead. libxml2 keeps this handler per
// thread, so other users of the library are not affected.
void silent_xml_error(void*, const char*, ...) {}

class QuietXmlErrors {
 public:
  QuietXmlErrors() : m_old(xmlGenericError), m_old_ctx(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, silent_xml_error);
  }
  ~QuietXmlErrors() { xmlSetGenericErrorFunc(m_old_ctx, m_old); }

 private:
  xmlGenericErrorFunc m_old;
  void* m_old_ctx;
};

std::string with_separator(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder;
}

}  // namespace

PrinterRepository::PrinterRepository(std::string folder)
    : m_folder(with_separator(std::move(folder))), m_settings_name(kSettingsName) {}

std::shared_ptr<PrinterRepository> PrinterRepository::create(const std::string& folder) {
  return std::shared_ptr<PrinterRepository>(new PrinterRepository(folder));
}

std::shared_ptr<PrinterRepository> PrinterRepository::parse(const char* data, size_t size,
                                                            const std::string& folder) {
  if (!data || size > kMaxSettingsBytes) {
    KLV_LOG(KLV_LOG_ERROR, "printer repository %s: settings text of %zu bytes refused",
            folder.c_str(), size);
    return nullptr;
  }
  QuietXmlErrors quiet;
  DocPtr doc(xmlReadMemory(data, int(size), nullptr, nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) {
    const xmlError* err = xmlGetLastError();
    // libxml2 ends its messages with a newline; the log line is one line.
    std::string message = err && err->message ? err->message : "unknown error";
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
      message.pop_back();
    KLV_LOG(KLV_LOG_ERROR, "printer repository %s: malformed XML (line %d: %s)", folder.c_str(),
            err ? err->line : 0, message.c_str());
    return nullptr;
  }
  auto repo = create(folder);
  if (!read_printer(doc.get(), repo->m_printer, folder)) return nullptr;
  return repo;
}

std::shared_ptr<PrinterRepository> PrinterRepository::open(const std::string& folder,
                                                           const char* settings_name) {
  std::string name = settings_name && *settings_name ? settings_name : kSettingsName;
  std::string path = klv::kernel::host_path((with_separator(folder) + name).c_str());
  std::error_code ec;
  auto size = fs::file_size(path, ec);
  if (ec) {
    KLV_LOG(KLV_LOG_ERROR, "printer repository: cannot read %s", path.c_str());
    return nullptr;
  }
  if (size > kMaxSettingsBytes) {
    KLV_LOG(KLV_LOG_ERROR, "printer repository: %s has %ju bytes, more than %zu", path.c_str(),
            uintmax_t(size), kMaxSettingsBytes);
    return nullptr;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text(size, '\0');
  if (!in || !in.read(text.data(), std::streamsize(size))) {
    KLV_LOG(KLV_LOG_ERROR, "printer repository: cannot read %s", path.c_str());
    return nullptr;
  }
  auto repo = parse(text.data(), text.size(), path);
  if (!repo) return nullptr;
  repo->m_folder = with_separator(folder);
  repo->m_settings_name = name;
  return repo;
}

std::string PrinterRepository::to_xml() const {
  DocPtr doc(xmlNewDoc(X("1.0")));
  xmlNode* root = xmlNewNode(nullptr, X("Printer"));
  xmlDocSetRootElement(doc.get(), root);
  const RepPrinter& p = m_printer;
  set(root, "name", p.name);
  set(root, "device", p.device_name);
  set(root, "active", p.active ? "1" : "0");
  set(root, "ppd", p.ppd_file);
  set(root, "tcpAdditionalPort", p.tcp_additional_port);
  set(root, "tcpDefaultPort", p.tcp_default_port);
  set(root, "defaultMedia", p.default_media);
  set(root, "defaultPageSize", p.default_page_size);
  write_list(root, "DeviceResolutions", "Resolution", p.device_resolutions, kResArray);
  write_list(root, "DefaultResolutions", "Resolution", p.default_resolutions, kResArray);
  write_list(root, "PageSizes", "PageSize", p.page_sizes, kPageArray);
  write_screens(root, p.screen_setups);
  if (p.has_dot_info) write_dotinfo(root, p.dot_info);
  xmlNode* medias = add(root, "Medias");
  for (const RepMedia& m : p.medias) {
    xmlNode* mn = add(medias, "Media");
    set(mn, "name", m.name);
    if (!m.group.empty()) set(mn, "group", m.group);
    set(mn, "defaultMode", m.default_mode);
    if (m.has_page_sizes) write_list(mn, "PageSizes", "PageSize", m.page_sizes, kPageArray);
    write_list(mn, "Resolutions", "Resolution", m.resolutions, kResArray);
    xmlNode* modes = add(mn, "Modes");
    for (const RepMode& mode : m.modes) {
      xmlNode* n = add(modes, "Mode");
      set(n, "name", mode.name);
      set(n, "resolution", mode.resolution);
      set(n, "pattern", mode.pattern);
      if (!mode.screen_setups.empty()) write_screens(n, mode.screen_setups);
    }
  }
  xmlChar* mem = nullptr;
  int len = 0;
  QuietXmlErrors quiet;
  xmlDocDumpFormatMemoryEnc(doc.get(), &mem, &len, "UTF-8", 1);
  std::string out = mem ? std::string(reinterpret_cast<const char*>(mem), size_t(len)) : "";
  xmlFree(mem);
  return out;
}

bool PrinterRepository::save() {
  const std::string folder = klv::kernel::host_path(m_folder.c_str());
  std::error_code ec;
  fs::create_directories(folder + "Defaults", ec);
  if (ec) {
    KLV_LOG(KLV_LOG_ERROR, "printer repository: cannot create %sDefaults: %s", folder.c_str(),
            ec.message().c_str());
    return false;
  }
  const std::string xml = to_xml();
  if (xml.empty()) {
    KLV_LOG(KLV_LOG_ERROR, "printer repository %s: could not serialise the settings",
            folder.c_str());
    return false;
  }
  const std::string path = folder + m_settings_name;
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) {
    KLV_LOG(KLV_LOG_ERROR, "printer repository: cannot create %s", temp.c_str());
    return false;
  }
  bool ok = std::fwrite(xml.data(), 1, xml.size(), f) == xml.size();
  ok = (std::fflush(f) == 0) && ok;
  ok = (fsync(fileno(f)) == 0) && ok;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "printer repository: cannot write %s", path.c_str());
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool PrinterRepository::save_as(const std::string& folder) {
  std::string old = m_folder;
  m_folder = with_separator(folder);
  if (save()) return true;
  m_folder = old;
  return false;
}

RepMedia* PrinterRepository::find_media(const std::string& name) {
  for (RepMedia& m : m_printer.medias)
    if (m.name == name) return &m;
  return nullptr;
}

const RepMedia* PrinterRepository::find_media(const std::string& name) const {
  return const_cast<PrinterRepository*>(this)->find_media(name);
}

bool PrinterRepository::remove_media(const std::string& name) {
  auto& v = m_printer.medias;
  for (auto it = v.begin(); it != v.end(); ++it)
    if (it->name == name) {
      v.erase(it);
      return true;
    }
  return false;
}

}  // namespace klv
