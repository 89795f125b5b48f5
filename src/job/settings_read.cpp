// SPDX-License-Identifier: MIT
// Reading the job settings record: the `Settings` block through the field
// table, the value readers the record's own forms need, and the settling of
// a record after it was filled.
#include <strings.h>

#include <charconv>
#include <cstring>
#include <cmath>
#include <string>
#include <vector>

#include "job/settings_fields.h"
#include "kernel/settings_text_reader.h"
#include "klv/log.h"

namespace klv::job {

bool enter_block(SFPARSE* fp, const off_field* f) {
  if (fp->peek() != SFPARSE::kOpen) {
    KLV_LOG(KLV_LOG_WARNING, "settings text %s, line %d: %s without '{' is not applied",
            fp->name().c_str(), fp->line(), f->key);
    return false;
  }
  fp->next();
  return true;
}

bool read_words(SFPARSE* fp, const char* key, std::vector<std::string>& words, size_t least,
                size_t most) {
  words.clear();
  if (fp->peek() != SFPARSE::kOpen) {
    KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: expected '{'", fp->name().c_str(),
            fp->line(), key);
    return false;
  }
  fp->next();
  for (;;) {
    switch (fp->next()) {
      case SFPARSE::kWord:
        if (words.size() == most) {
          KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: more than %zu values",
                  fp->name().c_str(), fp->line(), key, most);
          return false;
        }
        words.push_back(fp->text());
        break;
      case SFPARSE::kClose:
        if (words.size() < least) {
          KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: %zu values, %zu needed",
                  fp->name().c_str(), fp->line(), key, words.size(), least);
          return false;
        }
        return true;
      case SFPARSE::kOpen:
        KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: a list where a value belongs",
                fp->name().c_str(), fp->line(), key);
        return false;
      default:
        KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: the value is not closed",
                fp->name().c_str(), fp->line(), key);
        return false;
    }
  }
}

bool parse_real(const std::string& word, double& value) {
  const char* b = word.data();
  const char* e = b + word.size();
  if (b != e && *b == '+') ++b;
  double v = 0;
  auto r = std::from_chars(b, e, v);
  if (b == e || r.ec != std::errc() || r.ptr != e || !std::isfinite(v)) {
    KLV_LOG(KLV_LOG_ERROR, "settings value \"%.40s\" is not a finite real number", word.c_str());
    return false;
  }
  value = v;
  return true;
}

bool parse_int(const std::string& word, int64_t& value, int64_t least, int64_t most) {
  const char* b = word.data();
  const char* e = b + word.size();
  if (b != e && *b == '+') ++b;
  int64_t v = 0;
  auto r = std::from_chars(b, e, v);
  if (b == e || r.ec != std::errc() || r.ptr != e || v < least || v > most) {
    KLV_LOG(KLV_LOG_ERROR, "settings value \"%.40s\" is not a whole number from %lld to %lld",
            word.c_str(), static_cast<long long>(least), static_cast<long long>(most));
    return false;
  }
  value = v;
  return true;
}

int32_t read_real_field(SFPARSE* fp, const off_field* f, void* record) {
  std::vector<std::string> words;
  double v = 0;
  if (!read_words(fp, f->key, words, 1, 1) || !parse_real(words[0], v)) return 0;
  std::memcpy(static_cast<char*>(record) + f->offset, &v, sizeof v);
  return 1;
}

void settle_settings(settings& s) {
  if (s.UnitMode) s.UnitMode = 1;
  if (!s.Precision) s.Precision = 4;
  if (!s.PrintMode[0] && s.PrintRes[0])
    get_printmode_name(s.PrintMode, sizeof s.PrintMode, s.PatternDif, s.PatternOpt, s.PrintRes);
}

}  // namespace klv::job

using namespace klv::job;

extern "C" {

KLV_API int32_t off_get_settings(SFPARSE* fp, settings* record) {
  if (!fp || !record) return 0;
  try {
    if (fp->next() != SFPARSE::kWord || strcasecmp(fp->text().c_str(), "Settings") != 0) {
      KLV_LOG(KLV_LOG_ERROR, "job settings %s: the text does not begin with \"Settings\"",
              fp->name().c_str());
      return 0;
    }
    if (fp->next() != SFPARSE::kOpen) {
      KLV_LOG(KLV_LOG_ERROR, "job settings %s: \"Settings\" is not followed by '{'",
              fp->name().c_str());
      return 0;
    }
    settings_clear(record);
    const std::vector<off_field>& table = settings_read_table();
    if (!off_load_struct(fp, table.data(), static_cast<int32_t>(table.size()), record)) {
      KLV_LOG(KLV_LOG_ERROR, "job settings %s: refused, the record is left as far as it was read",
              fp->name().c_str());
      return 0;
    }
    settle_settings(*record);
    return 1;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "job settings %s: out of memory", fp->name().c_str());
    return 0;
  }
}

}  // extern "C"
