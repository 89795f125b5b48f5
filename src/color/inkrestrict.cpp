// SPDX-License-Identifier: MIT
// Ink restriction files: curves of separation amounts per input channel, read
// with libxml2 and written as fixed text.
#include "klv/inkrestrict.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "klv/kernel_path_cxx.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"
#include "klv/kernel_util.h"

namespace kelv::inkrestrict {

namespace {

constexpr int64_t kMaxFileBytes = 64 << 20;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return std::string(buf, n < 0 ? 0 : size_t(n) < sizeof buf ? size_t(n) : sizeof buf - 1);
}

// Escapes the characters that would end an attribute value or start markup.
std::string xml_escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool is_element(const xmlNode* n, const char* name) {
  return n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, BAD_CAST name) == 0;
}

// An attribute's text, or false when the element lacks it.
bool attr(const xmlNode* n, const char* name, std::string& out) {
  xmlChar* v = xmlGetProp(n, BAD_CAST name);
  if (!v) return false;
  out = reinterpret_cast<const char*>(v);
  xmlFree(v);
  return true;
}

int32_t int_attr(const xmlNode* n, const char* name) {
  std::string v;
  if (!attr(n, name, v)) return 0;
  return int32_t(std::strtol(v.c_str(), nullptr, 10));
}

bool float_attr(const xmlNode* n, const char* name, float& out) {
  std::string v;
  if (!attr(n, name, v)) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtof(v.c_str(), &end);
  return end != v.c_str() && errno == 0 && std::isfinite(out);
}

std::shared_ptr<SepCurve> read_curve(const xmlNode* sep) {
  auto curve = std::make_shared<SepCurve>();
  std::string name, spline;
  if (!attr(sep, "name", name)) {
    KLV_LOG(KLV_LOG_ERROR, "ink restriction file: a Separation has no name");
    return nullptr;
  }
  curve->setName(name);
  curve->setSplineMode(attr(sep, "spline", spline) && spline == "true");
  for (const xmlNode* p = sep->children; p; p = p->next) {
    if (!is_element(p, "Point")) continue;
    float x, y;
    if (!float_attr(p, "x", x) || !float_attr(p, "y", y)) {
      KLV_LOG(KLV_LOG_ERROR, "ink restriction file: a Point of %s lacks a number x or y",
              name.c_str());
      return nullptr;
    }
    curve->addPoint(x, y);
  }
  return curve;
}

}  // namespace

// ---------------------------------------------------------------------------
// SepCurve

std::string SepCurve::getAttrs() const {
  return " name=\"" + xml_escape(name_) + "\"";
}

void SepCurve::write(std::string& out, int index) const {
  out += format("      <%s%s%s index=\"%d\">\n", "Separation", getAttrs().c_str(),
                spline_ ? " spline=\"true\"" : "", index);
  for (const auto& [x, y] : points_)
    out += format("        <Point x=\"%f\" y=\"%f\"/>\n", double(x), double(y));
  out += format("      </%s>\n", "Separation");
}

void SepCurve::addPoint(float x, float y) {
  points_[x] = y;
  deriv_.clear();
}

bool SepCurve::remove_nth(size_t n) {
  if (n >= points_.size()) return false;
  points_.erase(std::next(points_.begin(), ptrdiff_t(n)));
  deriv_.clear();
  return true;
}

void SepCurve::copy(const SepCurve& other) {
  name_ = other.name_;
  spline_ = other.spline_;
  points_ = other.points_;
  deriv_.clear();
}

void SepCurve::reset() {
  points_.clear();
  deriv_.clear();
}

// Derivatives of the natural cubic spline through the points (a tridiagonal
// system solved by elimination).
bool SepCurve::buildDerivatives() const {
  const size_t n = points_.size();
  std::vector<double> xs, ys;
  for (const auto& [x, y] : points_) {
    xs.push_back(x);
    ys.push_back(y);
  }
  std::vector<double> h(n - 1), s(n - 1);
  for (size_t i = 0; i + 1 < n; ++i) {
    h[i] = xs[i + 1] - xs[i];
    if (!(h[i] > 0)) return false;
    s[i] = (ys[i + 1] - ys[i]) / h[i];
  }
  std::vector<double> a(n), b(n), c(n), r(n);
  b[0] = 1;
  c[0] = 0.5;
  r[0] = 1.5 * s[0];
  for (size_t i = 1; i + 1 < n; ++i) {
    a[i] = h[i];
    b[i] = 2 * (h[i - 1] + h[i]);
    c[i] = h[i - 1];
    r[i] = 3 * (s[i - 1] * h[i] + s[i] * h[i - 1]);
  }
  a[n - 1] = 2;
  b[n - 1] = 4;
  r[n - 1] = 6 * s[n - 2];
  for (size_t i = 1; i < n; ++i) {
    double m = a[i] / b[i - 1];
    b[i] -= m * c[i - 1];
    r[i] -= m * r[i - 1];
  }
  deriv_.assign(n, 0);
  deriv_[n - 1] = r[n - 1] / b[n - 1];
  for (size_t i = n - 1; i-- > 0;) deriv_[i] = (r[i] - c[i] * deriv_[i + 1]) / b[i];
  deriv_count_ = n;
  return true;
}

float SepCurve::getValue(float x) const {
  if (!spline_) {
    if (points_.empty()) return x;
    auto it = points_.begin();
    if (x < it->first) return it->second;
    auto next = points_.upper_bound(x);  // the first point beyond x
    if (next == points_.end()) return points_.rbegin()->second;
    auto prev = std::prev(next);
    return prev->second +
           (x - prev->first) * (next->second - prev->second) / (next->first - prev->first);
  }
  if (points_.size() < 2) return 0;
  if (deriv_.empty() && !buildDerivatives()) return 0;
  auto next = points_.upper_bound(x);
  if (next == points_.begin()) ++next;  // below the first point
  if (next == points_.end()) --next;    // beyond the last point
  auto prev = std::prev(next);
  size_t i = size_t(std::distance(points_.begin(), prev));
  double h = double(next->first) - prev->first;
  double s = (double(next->second) - prev->second) / h;
  double d0 = deriv_[i], d1 = deriv_[i + 1];
  double t = double(x) - prev->first;
  double y =
      prev->second + t * (d0 + t * ((3 * s - 2 * d0 - d1) / h + t * (d0 - 2 * s + d1) / (h * h)));
  if (y < 0) y = 0;
  if (y > 100) y = 100;
  return float(y);
}

// ---------------------------------------------------------------------------
// ChannelSeps and InkRestrictFile

std::shared_ptr<SepCurve> ChannelSeps::getSep(int i) const {
  if (i < 0 || i >= int(seps_.size())) return nullptr;
  return seps_[size_t(i)];
}

InkRestrictFile::InkRestrictFile(int32_t samples, int32_t spot_samples, int32_t hifi,
                                 int32_t photometric)
    : samples_(samples), spot_samples_(spot_samples), hifi_(hifi), photometric_(photometric) {
  for (int32_t i = 0; i < samples && i < 256; ++i)
    channels_.push_back(std::make_shared<ChannelSeps>(uint8_t(i)));
}

InkRestrictFile::InkRestrictFile(int32_t samples, int32_t spot_samples,
                                 const InkConfiguration& inks)
    : InkRestrictFile(samples, spot_samples, inks.hifi_mode, inks.photometric) {
  for (auto& ch : channels_)
    for (const std::string& name : inks.names)
      ch->addSep(std::make_shared<SepCurve>(name.substr(0, 10)));
}

std::shared_ptr<ChannelSeps> InkRestrictFile::getChannelSeps(int i) const {
  if (i < 0 || i >= int(channels_.size())) return nullptr;
  return channels_[size_t(i)];
}

std::shared_ptr<SepCurve> InkRestrictFile::getSepCurve(const std::string& name) const {
  for (const auto& ch : channels_)
    for (const auto& c : ch->getSeps())
      if (c && Ostricmp(c->getName().c_str(), name.c_str()) == 0) return c;
  return nullptr;
}

std::string InkRestrictFile::toText() const {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += format("<InkRestrict samples=\"%d\" spotsamples=\"%d\" hifi=\"%d\" photo=\"%d\">\n",
                samples_, spot_samples_, hifi_, photometric_);
  out += "  <Channels>\n";
  for (size_t c = 0; c < channels_.size(); ++c) {
    out += format("    <Channel index=\"%d\">\n", int(c));
    const auto& seps = channels_[c]->getSeps();
    for (size_t s = 0; s < seps.size(); ++s) seps[s]->write(out, int(s));
    out += "    </Channel>\n";
  }
  out += "  </Channels>\n";
  out += "</InkRestrict>\n";
  return out;
}

void InkRestrictFile::dump(FILE* stream) const {
  if (!stream) return;
  std::string text = toText();
  std::fwrite(text.data(), 1, text.size(), stream);
}

bool InkRestrictFile::writeFile(SOVolume* volume, const char* path) const {
  if (!path || !*path) return false;
  const bool host = KLV_IS_HOST_VOLUME(volume);
  std::string target = host ? klv::kernel::host_path(path) : std::string(path);
  std::string dest = host ? target + ".tmp" : target;
  SFilemux* f = Ovfopen(volume, dest.c_str(), "wt");
  if (!f) {
    KLV_LOG(KLV_LOG_ERROR, "ink restriction file %s cannot be created", dest.c_str());
    return false;
  }
  std::string text = toText();
  bool ok = Owrite(f, text.data(), text.size()) == text.size();
  ok = Oclose(f) == 0 && ok;
  if (ok && host) ok = std::rename(dest.c_str(), target.c_str()) == 0;
  if (!ok) {
    if (host) std::remove(dest.c_str());
    KLV_LOG(KLV_LOG_ERROR, "ink restriction file %s could not be written", target.c_str());
  }
  return ok;
}

std::shared_ptr<InkRestrictFile> InkRestrictFile::ReadFile(SOVolume* volume, const char* path) {
  if (!path || !*path) return nullptr;
  SFilemux* f = Ovfopen(volume, path, "rbp");
  if (!f) {
    KLV_LOG(KLV_LOG_ERROR, "ink restriction file %s cannot be opened", path);
    return nullptr;
  }
  int64_t len = Ofileleni64(f);
  if (len < 0 || len > kMaxFileBytes) {
    KLV_LOG(KLV_LOG_ERROR, "ink restriction file %s: length %lld is outside 0..%lld", path,
            static_cast<long long>(len), static_cast<long long>(kMaxFileBytes));
    Oclose(f);
    return nullptr;
  }
  std::string bytes(size_t(len), '\0');
  bool read_ok = Oread(f, bytes.data(), bytes.size()) == bytes.size();
  Oclose(f);
  if (!read_ok) {
    KLV_LOG(KLV_LOG_ERROR, "ink restriction file %s: short read", path);
    return nullptr;
  }
  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
      xmlReadMemory(bytes.data(), int(bytes.size()), "inkrestrict.xml", nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
      xmlFreeDoc);
  if (!doc) {
    KLV_LOG(KLV_LOG_ERROR, "ink restriction file %s is not well-formed XML", path);
    return nullptr;
  }
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!root || !is_element(root, "InkRestrict")) {
    KLV_LOG(KLV_LOG_ERROR, "ink restriction file %s: the root element is not InkRestrict", path);
    return nullptr;
  }
  std::shared_ptr<InkRestrictFile> file(new InkRestrictFile());
  file->samples_ = int_attr(root, "samples");
  file->spot_samples_ = int_attr(root, "spotsamples");
  file->hifi_ = int_attr(root, "hifi");
  file->photometric_ = int_attr(root, "photo");
  file->volume_ = volume;
  file->filename_ = path;
  for (const xmlNode* chs = root->children; chs; chs = chs->next) {
    if (!is_element(chs, "Channels")) continue;
    for (const xmlNode* ch = chs->children; ch; ch = ch->next) {
      if (!is_element(ch, "Channel")) continue;
      if (file->channels_.size() >= 256) {
        KLV_LOG(KLV_LOG_ERROR, "ink restriction file %s: more than 256 channels", path);
        return nullptr;
      }
      auto seps = std::make_shared<ChannelSeps>(uint8_t(file->channels_.size()));
      for (const xmlNode* sep = ch->children; sep; sep = sep->next) {
        if (!is_element(sep, "Separation")) continue;
        auto curve = read_curve(sep);
        if (!curve) return nullptr;
        seps->addSep(std::move(curve));
      }
      file->channels_.push_back(std::move(seps));
    }
  }
  return file;
}

// ---------------------------------------------------------------------------
// Channel links

namespace {
struct LinkTable {
  std::mutex mutex;
  std::unordered_map<uint32_t, std::shared_ptr<ChannelSeps>> links;
  uint32_t next = 1;
};
LinkTable& link_table() {
  static LinkTable table;
  return table;
}
}  // namespace

uint32_t registerChannelLink(std::shared_ptr<ChannelSeps> channel) {
  if (!channel) return 0;
  LinkTable& t = link_table();
  std::lock_guard<std::mutex> lock(t.mutex);
  uint32_t id;
  do {
    id = t.next++;
  } while (id == 0 || t.links.count(id));
  t.links[id] = std::move(channel);
  return id;
}

std::shared_ptr<ChannelSeps> findChannelLink(uint32_t handle) {
  if (!handle) return nullptr;
  LinkTable& t = link_table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.links.find(handle);
  return it == t.links.end() ? nullptr : it->second;
}

void releaseChannelLink(uint32_t handle) {
  LinkTable& t = link_table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.links.erase(handle);
}

}  // namespace kelv::inkrestrict
