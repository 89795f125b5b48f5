// SPDX-License-Identifier: MIT
// The print usage account classes. The file form, the C functions and the
// ink volume helpers are in klv/usage.h.
#ifndef KLV_USAGE_CXX_H
#define KLV_USAGE_CXX_H

#include <stdint.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "klv/export.h"
#include "klv/usage.h"

// One media and the amount used of it.
class KLV_API CPrintMediaUsage {
 public:
  explicit CPrintMediaUsage(std::string name) : m_name(std::move(name)) {}
  const std::string& GetName() const { return m_name; }
  double GetAmount() const { return m_amount; }
  void Add(double amount) { m_amount += amount; }

 private:
  std::string m_name;
  double m_amount = 0.0;
};

// One ink of an ink set: the dots fired and the millilitres they held.
class KLV_API CPrintInkUsage {
 public:
  explicit CPrintInkUsage(std::string name) : m_name(std::move(name)) {}
  const std::string& GetName() const { return m_name; }
  uint64_t GetCount() const { return m_count; }
  double GetMillilitres() const { return m_millilitres; }
  // Counts wrap at 2^64 as the file's counter does; a total that large is
  // beyond any printer's life.
  void Add(uint64_t count) { m_count += count; }
  void AddVolume(double millilitres) { m_millilitres += millilitres; }

 private:
  std::string m_name;
  uint64_t m_count = 0;
  double m_millilitres = 0.0;
};

// An ink set: name, number and its inks in order of creation.
class KLV_API CPrintInkSetUsage {
 public:
  using InkList = std::vector<std::unique_ptr<CPrintInkUsage>>;

  CPrintInkSetUsage(std::string name, int32_t number) : m_name(std::move(name)), m_number(number) {}
  virtual ~CPrintInkSetUsage();

  const std::string& GetName() const { return m_name; }
  int32_t GetNumber() const { return m_number; }
  // The ink of that exact name; created (zero totals, at the end) when
  // `create` is set. Null when there is none or memory ran out.
  CPrintInkUsage* FindInk(const char* name, bool create);
  // Adds count dots to the ink of that name (created when needed).
  void AddInk(const char* name, uint64_t count);
  const InkList& GetList() const { return m_inks; }

 private:
  std::string m_name;
  int32_t m_number;
  InkList m_inks;
};

// A printer's usage account.
class KLV_API CPrintUsage {
 public:
  using InkSetList = std::vector<std::unique_ptr<CPrintInkSetUsage>>;
  using MediaList = std::vector<std::unique_ptr<CPrintMediaUsage>>;

  CPrintUsage();
  CPrintUsage(const CPrintUsage&) = delete;
  CPrintUsage& operator=(const CPrintUsage&) = delete;
  virtual ~CPrintUsage();

  // Clears the account, remembers the path and adds what the file holds.
  // True when its PrintUsage block was read; otherwise the account stays
  // empty (a file that does not open, does not begin with PrintUsage or is
  // malformed, logged).
  bool Load(const char* path);
  // Load from "PrintUse.Info" in the printer's repository folder.
  bool LoadPrinter(const char* printer);
  // True when the printer's account file exists.
  static bool UsageExists(const char* printer);
  // The printer's account file ("" when its repository folder is unknown).
  static std::string PrinterFile(const char* printer);
  // Writes the account to path, or to the remembered path when path is
  // null, through a temporary file renamed over it. True only when the
  // whole file was written and put in place.
  bool Save(const char* path = nullptr);
  // The account as it would be saved.
  std::string Text() const;
  // Removes every ink set and media and forgets the path.
  void Reset();
  const std::string& GetPath() const { return m_path; }

  // The media of that name (a "*tag*" prefix is dropped; letter case
  // ignored), created when `create` is set. Null when none.
  CPrintMediaUsage* FindMedia(const char* name, bool create);
  // The first ink set whose name matches (letter case ignored) or whose
  // number equals `number`, created when `create` is set. Null when none.
  CPrintInkSetUsage* FindInkSet(const char* name, int32_t number, bool create);
  const InkSetList& GetInkList() const { return m_inksets; }
  const MediaList& GetMediaList() const { return m_medias; }

  void UseMedia(const char* name, double amount);
  void UseInk(const char* ink_set, int32_t number, const usage_dot_table* counts);
  // Adds every total of `other` to this account.
  void Add(const CPrintUsage& other);

  // Load the account at path (absent: empty), add `job`, save, under the
  // account's lock. False (logged) when the lock cannot be had, an existing
  // file cannot be read (it is left untouched) or the save fails.
  static bool AddToFile(const char* path, const CPrintUsage& job);
  static bool AddToPrinter(const char* printer, const CPrintUsage& job);

 private:
  std::string m_path;
  InkSetList m_inksets;
  MediaList m_medias;
};

#endif
