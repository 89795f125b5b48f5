// SPDX-License-Identifier: MIT
// The in-memory profile library index: three sorted lists (profiles, defaults,
// models) of entries keyed by arrays of texts, with the key helpers they share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "klv/kernel_settings.h"
#include "klv/proflib.h"

namespace klv::proflib {

// A key: its fields as written in the index ("~" between them in the text).
using Key = std::vector<std::string>;

constexpr size_t kFieldMax = PL_FIELD_MAX - 1;  // characters of one field

// ---- Keys (proflib_keys.cpp) ----------------------------------------------------

// The fields of a key text (split at "~"); false when a field is too long.
bool split_fields(const std::string& text, Key& out);
std::string join_fields(const Key& key);
// A field as stored: "~" removed; false when longer than kFieldMax.
bool clean_field(const char* in, std::string& out);
// The pattern field of a key from a pattern text ("Screen(85)" -> "N-85").
std::string pattern_field(const char* pattern);
// The pattern text of a pattern field ("" stays "").
std::string pattern_text(const std::string& field);
// The type field: "%X", or empty for a type below 0.
std::string type_field(int64_t type);
// Partial comparison: empty fields of `a` match anything.
int compare_partial(const Key& a, const Key& b);
// Total order used to keep the lists sorted: letter case ignored, an empty
// field before any other.
int compare_exact(const Key& a, const Key& b);
// Builds the profile or model key from its parts; false when a field is too long.
bool make_entry_key(Key& out, const char* media, const char* setting, const char* third,
                    int32_t type, const char* name, bool pattern);
bool make_default_key(Key& out, const char* media, const char* setting, const char* pattern);
void copy_text(char* out, size_t size, const std::string& text);

// ---- Entries --------------------------------------------------------------------

struct EntryData {
  virtual ~EntryData() = default;
  virtual std::unique_ptr<EntryData> Clone() const = 0;
};

// A profile or model entry's data: shares (or references) are kept as their
// key fields.
struct ProfileData final : EntryData {
  std::string owner;
  uint32_t flags = 0;
  std::string table, readings;
  std::vector<Key> shares;
  std::unique_ptr<EntryData> Clone() const override { return std::make_unique<ProfileData>(*this); }
};

struct DefaultData final : EntryData {
  std::vector<std::pair<uint32_t, std::string>> items;
  std::unique_ptr<EntryData> Clone() const override { return std::make_unique<DefaultData>(*this); }
};

struct t_pientry {
  Key key;
  std::unique_ptr<EntryData> data;
  t_pientry* next = nullptr;
  t_pientry* prev = nullptr;
};

// One sorted list: a doubly linked list in ascending key order, plus an array
// of its entries for binary search, built on demand and dropped on change.
class CProfLibIdx {
 public:
  CProfLibIdx() = default;
  CProfLibIdx(const CProfLibIdx&) = delete;
  CProfLibIdx& operator=(const CProfLibIdx&) = delete;
  virtual ~CProfLibIdx();

  virtual t_pientry* AllocEntry() = 0;
  virtual void FreeEntry(t_pientry* entry);
  // Links the entry in at its place (taking it); its position, or -1 when
  // an entry with an equal key is there (the entry is then freed).
  virtual int32_t AddEntry(t_pientry* entry);
  // Unlinks and frees the entry.
  virtual void RemoveEntry(t_pientry* entry);
  // The first entry in key order matching the (possibly partial) key.
  virtual t_pientry* FindEntry(const Key& key) const;
  virtual t_pientry* GetFirstEntry() const { return first_; }
  virtual t_pientry* GetNextEntry(const t_pientry* entry) const {
    return entry ? entry->next : nullptr;
  }
  virtual void Empty();
  // Reads the section's content after its "{" up to and including its "}";
  // false when it is malformed.
  virtual bool Read(SFPARSE* fp) = 0;
  // Writes the whole section; false when writing failed.
  virtual bool Write(SFilemux* stream) const = 0;
  virtual void ResetIndex() const { array_.clear(); }
  virtual void BuildIndex() const;

  size_t Count() const { return count_; }
  // The first entry matching the key at or after `from`.
  t_pientry* FindFrom(const Key& key, t_pientry* from) const;

 protected:
  // Reads the optional Version block; false when it is malformed.
  static bool ReadVersion(SFPARSE* fp, uint32_t& version);

 private:
  t_pientry* first_ = nullptr;
  t_pientry* last_ = nullptr;
  size_t count_ = 0;
  mutable std::vector<t_pientry*> array_;
};

// Profiles and models share the entry layout.
class CProfilesIdx : public CProfLibIdx {
 public:
  explicit CProfilesIdx(bool models = false) : models_(models) {}
  t_pientry* AllocEntry() override;
  bool Read(SFPARSE* fp) override;
  bool Write(SFilemux* stream) const override;
  bool MakeKey(Key& out, const char* media, const char* setting, const char* third,
               const char* type, const char* name) const;
  bool MakeKey(Key& out, const char* media, const char* setting, const char* third, int32_t type,
               const char* name) const;
  bool MakeShareKey(Key& out, const char* media, const char* setting, const char* third) const;
  // The table file names of every entry (profiles), in key order.
  std::vector<std::string> GetProfileTablePathList() const;
  bool models() const { return models_; }

 private:
  bool ReadGroup(SFPARSE* fp, uint32_t version);
  bool models_;
};

class CModelsIdx final : public CProfilesIdx {
 public:
  CModelsIdx() : CProfilesIdx(true) {}
  bool MakeReferenceKey(Key& out, const char* media, const char* setting, const char* third) const {
    return MakeShareKey(out, media, setting, third);
  }
};

class CDefaultsIdx final : public CProfLibIdx {
 public:
  t_pientry* AllocEntry() override;
  bool Read(SFPARSE* fp) override;
  bool Write(SFilemux* stream) const override;
  bool MakeKey(Key& out, const char* media, const char* setting, const char* pattern) const {
    return make_default_key(out, media, setting, pattern);
  }
  static int32_t FindItem(const DefaultData& d, uint32_t type);
  static void AddItem(DefaultData& d, uint32_t type, const std::string& name);
  static bool UpdateItem(DefaultData& d, uint32_t type, const std::string& name);
  static bool RemoveItem(DefaultData& d, int32_t position);
  static void RemoveAllItems(DefaultData& d) { d.items.clear(); }

 private:
  bool ReadGroup(SFPARSE* fp);
};

}  // namespace klv::proflib

struct PL_INDEX {
  klv::proflib::CProfilesIdx profiles;
  klv::proflib::CDefaultsIdx defaults;
  klv::proflib::CModelsIdx models;
};
