// SPDX-License-Identifier: MIT
// The account file: reading "PrintUsage { ... }" and writing it whole
// through a temporary file.
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "job/usage_names.h"
#include "klv/kernel.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/usage_cxx.h"

using klv::usage::fixed15;
using klv::usage::quotable;

namespace {

struct ParserCloser {
  void operator()(SFPARSE* fp) const { fp_close(fp); }
};
using ParserPtr = std::unique_ptr<SFPARSE, ParserCloser>;

struct CharListFree {
  void operator()(char** list) const { free_char_list(list); }
};
using CharListPtr = std::unique_ptr<char*, CharListFree>;

// One "{ name value }" entry of a list, or a Media value.
struct Entry {
  std::vector<std::string> values;
};

// What an InkSet or InkVolume value holds: its head words (name, number)
// and its ink entries.
struct SetBlock {
  std::vector<std::string> head;
  std::vector<Entry> inks;
};

enum class Got { kValue, kNone, kBad };

// Reads the account's entries from a reader standing inside "PrintUsage {".
class UsageReader {
 public:
  UsageReader(SFPARSE* fp, CPrintUsage* usage, const char* path)
      : m_fp(fp), m_usage(usage), m_path(path), m_token(KLV_FP_MAX_TOKEN + 1) {}

  // True when the block closed and every entry read was well formed.
  bool ReadBlock();

 private:
  int32_t Peek() { return fp_peek_token(m_fp, m_token.data(), int32_t(m_token.size())); }
  int32_t Next() { return fp_get_token(m_fp, m_token.data(), int32_t(m_token.size())); }
  bool Fail(const char* what);
  Got ReadList(Entry* out);
  Got ReadSet(SetBlock* out);
  bool ReadEntry(const std::string& key);
  bool AddMedia(const Entry& e);
  bool AddSet(const SetBlock& block, bool volumes);

  SFPARSE* m_fp;
  CPrintUsage* m_usage;
  const char* m_path;
  std::vector<char> m_token;
};

bool UsageReader::Fail(const char* what) {
  KLV_LOG(KLV_LOG_ERROR, "usage account \"%s\", line %d: %s", m_path, fp_line(m_fp), what);
  return false;
}

// A braced list of words (nested lists flattened); kNone when the next
// token is not "{" (nothing consumed).
Got UsageReader::ReadList(Entry* out) {
  if (Peek() != KLV_FP_OPEN) return Got::kNone;
  int32_t count = 0;
  CharListPtr list(get_char_list(m_fp, &count));
  if (!list) return Got::kBad;
  for (int32_t i = 0; i < count; ++i) out->values.emplace_back(list.get()[i]);
  return Got::kValue;
}

// `{ name number { { ink value } ... } }`: words go to the head, entries of
// inner lists to the inks; stray words inside the ink list are skipped.
Got UsageReader::ReadSet(SetBlock* out) {
  if (Peek() != KLV_FP_OPEN) return Got::kNone;
  Next();
  for (;;) {
    const int32_t t = Peek();
    if (t == KLV_FP_CLOSE) {
      Next();
      return Got::kValue;
    }
    if (t == KLV_FP_WORD) {
      Next();
      out->head.emplace_back(m_token.data());
      continue;
    }
    if (t != KLV_FP_OPEN) return Got::kBad;
    Next();
    for (int32_t k = Peek(); k != KLV_FP_CLOSE; k = Peek()) {
      if (k == KLV_FP_WORD) {
        Next();
        continue;
      }
      Entry e;
      if (k != KLV_FP_OPEN || ReadList(&e) != Got::kValue) return Got::kBad;
      out->inks.push_back(std::move(e));
    }
    Next();
  }
}

bool UsageReader::AddMedia(const Entry& e) {
  if (e.values.size() < 2) return true;
  double amount = 0;
  if (!klv::usage::read_amount(e.values[1].c_str(), &amount))
    return Fail(("media amount \"" + e.values[1] + "\" is not a number").c_str());
  m_usage->UseMedia(e.values[0].c_str(), amount);
  return true;
}

bool UsageReader::AddSet(const SetBlock& block, bool volumes) {
  if (block.head.size() < 2) return true;
  int32_t number = 0;
  if (!klv::usage::read_number(block.head[1].c_str(), &number))
    return Fail(("ink set number \"" + block.head[1] + "\" is not a number").c_str());
  CPrintInkSetUsage* set = m_usage->FindInkSet(block.head[0].c_str(), number, true);
  if (!set) return Fail("out of memory");
  for (const Entry& e : block.inks) {
    if (e.values.size() < 2) continue;
    CPrintInkUsage* ink = set->FindInk(e.values[0].c_str(), true);
    if (!ink) return Fail("out of memory");
    const char* text = e.values[1].c_str();
    if (volumes) {
      double ml = 0;
      if (!klv::usage::read_amount(text, &ml))
        return Fail(("ink volume \"" + e.values[1] + "\" is not a number").c_str());
      ink->AddVolume(ml);
    } else {
      uint64_t dots = 0;
      if (!klv::usage::read_count(text, &dots))
        return Fail(("dot count \"" + e.values[1] + "\" is not a whole number").c_str());
      ink->Add(dots);
    }
  }
  return true;
}

bool UsageReader::ReadEntry(const std::string& key) {
  if (Ostricmp(key.c_str(), "Media") == 0) {
    Entry e;
    const Got got = ReadList(&e);
    if (got == Got::kBad) return Fail("a Media entry does not close");
    return got == Got::kNone || AddMedia(e);
  }
  const bool volumes = Ostricmp(key.c_str(), "InkVolume") == 0;
  if (volumes || Ostricmp(key.c_str(), "InkSet") == 0) {
    SetBlock block;
    const Got got = ReadSet(&block);
    if (got == Got::kBad) return Fail("an ink set entry is malformed");
    return got == Got::kNone || AddSet(block, volumes);
  }
  // Other keys are skipped with their values.
  const int32_t t = Peek();
  if (t == KLV_FP_CLOSE) return true;
  if (t != KLV_FP_WORD && t != KLV_FP_OPEN) return true;  // the loop reports the end
  if (!fp_skip_value(m_fp)) return Fail("an entry does not close");
  return true;
}

bool UsageReader::ReadBlock() {
  for (;;) {
    const int32_t t = Peek();
    if (t == KLV_FP_CLOSE) {
      Next();
      return true;
    }
    if (t == KLV_FP_OPEN) {
      if (!fp_skip_value(m_fp)) return Fail("a list does not close");
      continue;
    }
    if (t != KLV_FP_WORD) return Fail("the PrintUsage block does not close");
    Next();
    if (!ReadEntry(m_token.data())) return false;
  }
}

bool write_all(SFilemux* stream, const std::string& text) {
  return Owrite(stream, text.data(), text.size()) == text.size();
}

// One ink set block: `key { "name" number {`, an entry per ink, `} }`.
void append_set(std::string* out, const char* key, const CPrintInkSetUsage& set, bool volumes) {
  *out += std::string(" ") + key + " { \"" + quotable(set.GetName()) + "\" " +
          std::to_string(set.GetNumber()) + " {\n";
  for (const auto& ink : set.GetList())
    *out += "  { \"" + quotable(ink->GetName()) + "\" " +
            (volumes ? fixed15(ink->GetMillilitres()) : std::to_string(ink->GetCount())) + " }\n";
  *out += " } }\n";
}

// True when a volume of the set shows in the written form (a volume below
// the 15th decimal is written, and read back, as 0).
bool has_volume(const CPrintInkSetUsage& set) {
  for (const auto& ink : set.GetList())
    if (fixed15(ink->GetMillilitres()).find_first_of("123456789") != std::string::npos) return true;
  return false;
}

}  // namespace

bool CPrintUsage::Load(const char* path) {
  Reset();
  if (!path || !*path) return false;
  try {
    m_path = path;
    ParserPtr fp(fp_open(nullptr, path, 0));
    if (!fp) return false;
    char first[64] = "";
    if (fp_get_token(fp.get(), first, sizeof first) != KLV_FP_WORD ||
        Ostricmp(first, "PrintUsage") != 0 || fp_get_token(fp.get(), nullptr, 0) != KLV_FP_OPEN) {
      KLV_LOG(KLV_LOG_ERROR, "\"%s\" is not a usage account (no PrintUsage block)", path);
      return false;
    }
    UsageReader reader(fp.get(), this, path);
    if (reader.ReadBlock()) return true;
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "out of memory reading the usage account \"%s\"", path);
  }
  // A half-read account must never be saved over the file it came from.
  std::string remembered = m_path;
  Reset();
  m_path = remembered;
  return false;
}

std::string CPrintUsage::Text() const {
  std::string out = "PrintUsage {\n";
  for (const auto& m : m_medias)
    out += " Media { \"" + quotable(m->GetName()) + "\" " + fixed15(m->GetAmount()) + " }\n";
  for (const auto& set : m_inksets) {
    if (set->GetList().empty()) continue;
    append_set(&out, "InkSet", *set, false);
    if (has_volume(*set)) append_set(&out, "InkVolume", *set, true);
  }
  out += "}\n";
  return out;
}

bool CPrintUsage::Save(const char* path) {
  if (!path) path = m_path.c_str();
  if (!*path) {
    KLV_LOG(KLV_LOG_ERROR, "usage account not saved: no file named");
    return false;
  }
  try {
    const std::string text = Text();
    SFSAVE* save = fp_save_begin(nullptr, path);
    if (!save) {
      KLV_LOG(KLV_LOG_ERROR, "cannot save the usage account \"%s\"", path);
      return false;
    }
    const bool written = write_all(fp_save_stream(save), text);
    if (fp_save_end(save, written ? 1 : 0)) return true;
    KLV_LOG(KLV_LOG_ERROR, "the usage account \"%s\" was not saved; the earlier file is kept",
            path);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "out of memory saving the usage account \"%s\"", path);
  }
  return false;
}
