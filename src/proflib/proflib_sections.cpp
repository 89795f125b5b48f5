// SPDX-License-Identifier: MIT
// Reading and writing the index sections. Each entry is one brace group on
// one line:
//   Profiles: { KEY "flags" OWNER TABLE READINGS { SHARE ... } }
//   Defaults: { KEY TYPE NAME TYPE NAME ... }
//   Models:   as profiles, with reference keys in place of share keys.
// Every text value goes through fp_fix_string, so an empty value is written
// "" and keeps its place in the group.
#include <strings.h>

#include <cstdio>
#include <cstdlib>

#include "klv/kernel_stream.h"
#include "klv/log.h"
#include "proflib/proflib_index.h"

namespace klv::proflib {
namespace {

constexpr int32_t kTokenMax = 4096;

std::string quoted(const std::string& text) {
  std::vector<char> out(text.size() * 2 + 8);
  if (fp_fix_string(text.c_str(), out.data(), static_cast<int32_t>(out.size())) < 0) return "\"\"";
  return out.data();
}

bool put(SFilemux* stream, const std::string& text) {
  return Owrite(stream, text.data(), text.size()) == text.size();
}

// One word token into `out`; false for anything else.
bool get_word(SFPARSE* fp, std::string& out) {
  std::vector<char> buf(kTokenMax);
  if (fp_get_token(fp, buf.data(), kTokenMax) != KLV_FP_WORD) return false;
  out = buf.data();
  return true;
}

bool get_hex(SFPARSE* fp, uint32_t& value) {
  std::string word;
  if (!get_word(fp, word) || word.empty()) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(word.c_str(), &end, 16);
  if (*end || v > 0xffffffffULL) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

// Skips the values left in a group and consumes its "}".
bool skip_rest(SFPARSE* fp) {
  for (;;) {
    int32_t kind = fp_peek_token(fp, nullptr, 0);
    if (kind == KLV_FP_CLOSE) return fp_get_token(fp, nullptr, 0) == KLV_FP_CLOSE;
    if (kind != KLV_FP_WORD && kind != KLV_FP_OPEN) return false;
    if (!fp_skip_value(fp)) return false;
  }
}

// The type of a version-0 profile from the low three bits of its flags.
int32_t old_type(uint32_t flags) {
  static const int32_t kTypes[8] = {2, 1, 6, 10, -1, 9, 7, 3};
  return kTypes[flags & 7];
}

// Reads the section's groups up to its closing brace.
template <typename ReadGroup>
bool read_groups(SFPARSE* fp, ReadGroup read_group) {
  for (;;) {
    int32_t kind = fp_get_token(fp, nullptr, 0);
    if (kind == KLV_FP_CLOSE) return true;
    if (kind != KLV_FP_OPEN || !read_group()) return false;
  }
}

}  // namespace

t_pientry* CProfilesIdx::AllocEntry() {
  auto* e = new t_pientry;
  e->data = std::make_unique<ProfileData>();
  return e;
}

bool CProfilesIdx::MakeKey(Key& out, const char* media, const char* setting, const char* third,
                           int32_t type, const char* name) const {
  return make_entry_key(out, media, setting, third, type, name, !models_);
}

bool CProfilesIdx::MakeKey(Key& out, const char* media, const char* setting, const char* third,
                           const char* type, const char* name) const {
  return MakeKey(out, media, setting, third, type && *type ? PI_map_type(type) : -1, name);
}

bool CProfilesIdx::MakeShareKey(Key& out, const char* media, const char* setting,
                                const char* third) const {
  out.assign(3, std::string());
  if (!clean_field(media, out[0]) || !clean_field(setting, out[1])) return false;
  if (models_) return clean_field(third, out[2]);
  out[2] = pattern_field(third);
  return out[2].size() <= kFieldMax;
}

std::vector<std::string> CProfilesIdx::GetProfileTablePathList() const {
  std::vector<std::string> paths;
  for (t_pientry* e = GetFirstEntry(); e; e = GetNextEntry(e)) {
    const auto& d = static_cast<const ProfileData&>(*e->data);
    if (!d.table.empty()) paths.push_back(d.table);
  }
  return paths;
}

bool CProfilesIdx::ReadGroup(SFPARSE* fp, uint32_t version) {
  const bool old = version == 0 && !models_;
  std::string key_text, flags_text;
  t_pientry* e = AllocEntry();
  auto& d = static_cast<ProfileData&>(*e->data);
  bool ok = get_word(fp, key_text) && split_fields(key_text, e->key) && get_hex(fp, d.flags);
  if (ok && old) {
    // Old entries keep the type in the flags and have no owner field.
    int32_t type = old_type(d.flags);
    ok = type >= 0 && e->key.size() <= 4;
    if (ok) {
      e->key.resize(4);
      e->key.insert(e->key.begin() + 3, type_field(type));
      d.flags = 0;
      d.owner = "KELV";
    }
  } else if (ok) {
    ok = e->key.size() <= 5 && get_word(fp, d.owner);
    e->key.resize(5);
  }
  ok = ok && get_word(fp, d.table) && get_word(fp, d.readings);
  if (ok && fp_peek_token(fp, nullptr, 0) == KLV_FP_OPEN) {
    fp_get_token(fp, nullptr, 0);
    for (;;) {
      int32_t kind = fp_peek_token(fp, nullptr, 0);
      if (kind == KLV_FP_CLOSE) {
        fp_get_token(fp, nullptr, 0);
        break;
      }
      std::string share;
      Key k;
      if (!get_word(fp, share) || !split_fields(share, k) || k.size() > 5) {
        ok = false;
        break;
      }
      k.resize(3);
      d.shares.push_back(std::move(k));
    }
  }
  ok = ok && skip_rest(fp);
  if (!ok) {
    FreeEntry(e);
    return false;
  }
  AddEntry(e);  // a repeated key keeps the first entry
  return true;
}

bool CProfilesIdx::Read(SFPARSE* fp) {
  uint32_t version = 0;
  if (!ReadVersion(fp, version)) return false;
  return read_groups(fp, [&] { return ReadGroup(fp, version); });
}

bool CProfilesIdx::Write(SFilemux* stream) const {
  std::string text = models_ ? "Models {\nVersion { 0 }\n" : "Profiles {\nVersion { 1 }\n";
  bool ok = put(stream, text);
  for (t_pientry* e = GetFirstEntry(); e && ok; e = GetNextEntry(e)) {
    const auto& d = static_cast<const ProfileData&>(*e->data);
    char flags[16];
    std::snprintf(flags, sizeof flags, "%lx", static_cast<unsigned long>(d.flags));
    std::string line = "{ " + quoted(join_fields(e->key)) + " \"" + flags + "\" " +
                       quoted(d.owner) + " " + quoted(d.table) + " " + quoted(d.readings);
    if (!d.shares.empty()) {
      line += " {";
      for (const Key& s : d.shares) line += " " + quoted(join_fields(s));
      line += " }";
    }
    line += " }\n";
    ok = put(stream, line);
  }
  return ok && put(stream, "}\n");
}

t_pientry* CDefaultsIdx::AllocEntry() {
  auto* e = new t_pientry;
  e->data = std::make_unique<DefaultData>();
  return e;
}

int32_t CDefaultsIdx::FindItem(const DefaultData& d, uint32_t type) {
  for (size_t i = 0; i < d.items.size(); ++i)
    if (d.items[i].first == type) return static_cast<int32_t>(i);
  return -1;
}

void CDefaultsIdx::AddItem(DefaultData& d, uint32_t type, const std::string& name) {
  if (!UpdateItem(d, type, name)) d.items.emplace_back(type, name);
}

bool CDefaultsIdx::UpdateItem(DefaultData& d, uint32_t type, const std::string& name) {
  int32_t i = FindItem(d, type);
  if (i < 0) return false;
  d.items[static_cast<size_t>(i)].second = name;
  return true;
}

bool CDefaultsIdx::RemoveItem(DefaultData& d, int32_t position) {
  if (position < 0 || static_cast<size_t>(position) >= d.items.size()) return false;
  d.items.erase(d.items.begin() + position);
  return true;
}

bool CDefaultsIdx::ReadGroup(SFPARSE* fp) {
  std::string key_text;
  t_pientry* e = AllocEntry();
  auto& d = static_cast<DefaultData&>(*e->data);
  bool ok = get_word(fp, key_text) && split_fields(key_text, e->key) && e->key.size() <= 3;
  e->key.resize(3);
  while (ok) {
    int32_t kind = fp_peek_token(fp, nullptr, 0);
    if (kind == KLV_FP_CLOSE) {
      fp_get_token(fp, nullptr, 0);
      break;
    }
    uint32_t type = 0;
    std::string name;
    ok = get_hex(fp, type) && get_word(fp, name) && name.size() <= kFieldMax;
    if (ok) AddItem(d, type, name);
  }
  if (!ok) {
    FreeEntry(e);
    return false;
  }
  AddEntry(e);
  return true;
}

bool CDefaultsIdx::Read(SFPARSE* fp) {
  uint32_t version = 0;
  if (!ReadVersion(fp, version)) return false;
  return read_groups(fp, [&] { return ReadGroup(fp); });
}

bool CDefaultsIdx::Write(SFilemux* stream) const {
  bool ok = put(stream, "Defaults {\nVersion { 1 }\n");
  for (t_pientry* e = GetFirstEntry(); e && ok; e = GetNextEntry(e)) {
    const auto& d = static_cast<const DefaultData&>(*e->data);
    std::string line = "{ " + quoted(join_fields(e->key));
    for (const auto& [type, name] : d.items) {
      char t[16];
      std::snprintf(t, sizeof t, "%lX", static_cast<unsigned long>(type));
      line += std::string(" ") + t + " " + quoted(name);
    }
    line += " }\n";
    ok = put(stream, line);
  }
  return ok && put(stream, "}\n");
}

}  // namespace klv::proflib
