// SPDX-License-Identifier: MIT
// The print mode class. The C functions over it and the dot pattern numbers
// are in klv/printmode.h.
#ifndef KLV_PRINTMODE_CXX_H
#define KLV_PRINTMODE_CXX_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "klv/export.h"
#include "klv/printmode.h"

/* One print mode: mode name, dot pattern, pattern option and print resolution
 * name. Every constructor and Set form makes the name from the other values
 * (MakeName) when the given name is null or empty. */
class KLV_API CPrintMode {
 public:
  /* The mode of a null name: "Unknown dpi, Stochastic". */
  CPrintMode();
  CPrintMode(int32_t pattern, const char* option, const char* resolution, const char* name);
  CPrintMode(const char* pattern_text, const char* resolution, const char* name);
  /* Reads resolution, pattern and option back from the name. A null name, or
   * one that does not split, gives pattern Stochastic, no option and the
   * resolution "Unknown" (a null name is named "Unknown dpi, Stochastic"). */
  explicit CPrintMode(const char* name);
  CPrintMode(const CPrintMode&) = default;
  CPrintMode& operator=(const CPrintMode&) = default;
  virtual ~CPrintMode();

  void Set(int32_t pattern, const char* option, const char* resolution, const char* name);
  void Set(const char* pattern_text, const char* resolution, const char* name);
  void Set(const char* name);

  /* Writes the mode name into out (size bytes) and returns out. */
  static char* MakeName(char* out, size_t size, int32_t pattern, const char* option,
                        const char* resolution);
  static char* MakeName(char* out, size_t size, const char* pattern_text, const char* resolution);
  static std::string MakeName(int32_t pattern, const char* option, const char* resolution);
  /* Splits at the first " dpi, " (which must come after the first character):
   * the resolution before it, the pattern text after it. */
  static bool SplitName(const char* name, std::string* pattern_text, std::string* option,
                        std::string* resolution);

  const char* GetModeName() const { return m_name.c_str(); }
  const char* GetPatternOpt() const { return m_option.c_str(); }
  const char* GetPrintRes() const { return m_res.c_str(); }
  int32_t GetDotPattern() const { return m_pattern; }
  /* The pattern text, for example "Screen(85 lpi)". */
  std::string GetPatternName() const;
  char* GetPatternName(char* out, size_t size) const;
  /* The rounded resolution text, for example "1440x720@720". */
  std::string GetDisplayRes() const;
  char* GetDisplayRes(char* out, size_t size) const;
  double GetProcessXRes() const;
  double GetProcessYRes() const;
  /* The numbers after "@" (the process resolution when there is no "@"). */
  double GetPrintXRes() const;
  double GetPrintYRes() const;
  double GetPrintedXRes() const;
  double GetPrintedYRes() const;

 private:
  std::string m_name;
  int32_t m_pattern = DP_STOCHASTIC;
  std::string m_option;
  std::string m_res;
};

#endif
