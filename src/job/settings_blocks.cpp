// SPDX-License-Identifier: MIT
// The print batch block and the print options block of a job settings
// record. Both used to be written unquoted, so a value with blanks read
// back as several words; they are now quoted when they need it, and the
// readers still take the old form: a batch value's words are joined again,
// and a print option is read line by line (the name first, the rest of the
// line its value).
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "job/settings_fields.h"
#include "kernel/settings_text_reader.h"
#include "klv/log.h"

namespace klv::job {
namespace {

using klv::kernel::fix_string;

std::vector<off_field> make_batch_table() {
  using b = settings_batch;
  auto text = [](const char* key, size_t offset, size_t size) {
    return off_field{key, OFF_STRING, 0, offset, size, nullptr, nullptr};
  };
  std::vector<off_field> t = {
      text("BatchCopies", offsetof(b, BatchCopies), sizeof(b::BatchCopies)),
      text("BatchId", offsetof(b, BatchId), sizeof(b::BatchId)),
      {"BatchMarks", OFF_UINT8, 0, offsetof(b, BatchMarks), 0, nullptr, nullptr},
      text("BatchName", offsetof(b, BatchName), sizeof(b::BatchName)),
      text("JobsInBatch", offsetof(b, JobsInBatch), sizeof(b::JobsInBatch)),
      text("SeqNum", offsetof(b, SeqNum), sizeof(b::SeqNum)),
  };
  std::sort(t.begin(), t.end(),
            [](const off_field& x, const off_field& y) { return strcasecmp(x.key, y.key) < 0; });
  return t;
}

void batch_line(std::string& out, const char* key, const char* value, size_t size) {
  out += "  ";
  out += key;
  out += " { ";
  out += fix_string(std::string(value, strnlen(value, size)).c_str());
  out += " }\n";
}

// A print option slot being filled from one line of the block.
void put_option(settings_option& slot, const std::string& name, const std::string& value) {
  if (name.size() >= sizeof slot.name || value.size() >= sizeof slot.value)
    KLV_LOG(KLV_LOG_WARNING, "print option \"%.40s\": name or value cut to %zu characters",
            name.c_str(), sizeof slot.name - 1);
  klv::kernel::copy_cut(name, slot.name, sizeof slot.name);
  klv::kernel::copy_cut(value, slot.value, sizeof slot.value);
}

}  // namespace

int32_t read_print_batch(SFPARSE* fp, const off_field* f, void* record) {
  settings& s = *static_cast<settings*>(record);
  if (!enter_block(fp, f)) return 1;
  static const std::vector<off_field> table = make_batch_table();
  settings_batch* batch = settings_batch_new();
  if (!batch) return 0;
  if (!off_load_struct(fp, table.data(), static_cast<int32_t>(table.size()), batch)) {
    std::free(batch);
    return 0;
  }
  std::free(s.PrintBatch);
  s.PrintBatch = batch;
  return 1;
}

void write_print_batch(std::string& out, const settings_batch& b) {
  out += " PrintBatch {\n";
  batch_line(out, "BatchCopies", b.BatchCopies, sizeof b.BatchCopies);
  batch_line(out, "BatchId", b.BatchId, sizeof b.BatchId);
  batch_line(out, "BatchName", b.BatchName, sizeof b.BatchName);
  batch_line(out, "JobsInBatch", b.JobsInBatch, sizeof b.JobsInBatch);
  batch_line(out, "SeqNum", b.SeqNum, sizeof b.SeqNum);
  out += "  BatchMarks { " + std::to_string(b.BatchMarks) + " }\n";
  out += " }\n";
}

int32_t read_print_options(SFPARSE* fp, const off_field* f, void* record) {
  settings& s = *static_cast<settings*>(record);
  if (fp->next() != SFPARSE::kOpen) {
    KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: expected '{'", fp->name().c_str(),
            fp->line(), f->key);
    return 0;
  }
  std::vector<std::pair<std::string, std::string>> lines;
  int32_t line = -1;
  bool ignoring = false;
  for (;;) {
    SFPARSE::Tok t = fp->next();
    if (t == SFPARSE::kClose) break;
    if (t != SFPARSE::kWord) {
      KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: %s", fp->name().c_str(), fp->line(),
              f->key, t == SFPARSE::kOpen ? "a list where an option belongs" : "not closed");
      return 0;
    }
    if (fp->line() == line) {
      if (ignoring) continue;
      std::string& value = lines.back().second;
      value += (value.empty() ? "" : " ") + fp->text();
      continue;
    }
    line = fp->line();
    if (lines.size() < KLV_SET_OPTIONS) {
      lines.emplace_back(fp->text(), std::string());
    } else if (!ignoring) {
      KLV_LOG(KLV_LOG_WARNING,
              "settings text %s, line %d: %s: more than %d options, the rest "
              "is ignored",
              fp->name().c_str(), fp->line(), f->key, KLV_SET_OPTIONS);
      ignoring = true;
    }
  }
  for (settings_option& slot : s.PrintOptions) slot = settings_option{};
  for (size_t i = 0; i < lines.size(); ++i)
    put_option(s.PrintOptions[i], lines[i].first, lines[i].second);
  return 1;
}

void write_print_options(std::string& out, const settings& s) {
  out += " PrintOptions {\n";
  for (const settings_option& o : s.PrintOptions) {
    if (!o.name[0]) continue;
    std::string name(o.name, strnlen(o.name, sizeof o.name));
    std::string value(o.value, strnlen(o.value, sizeof o.value));
    out += "   " + fix_string(name.c_str()) + " " + fix_string(value.c_str()) + " \n";
  }
  out += " }\n";
}

}  // namespace klv::job

extern "C" KLV_API settings_batch* settings_batch_new(void) {
  return static_cast<settings_batch*>(std::calloc(1, sizeof(settings_batch)));
}
