// SPDX-License-Identifier: MIT
// The keys of the job settings record: one ordered table that says, for
// each key, where its field lies, how its value is written and when. The
// writer walks it in order; the reader's off_field table is made from it.
// The `Default_Config` block and printer presets use views of it: a list of
// its keys in their own order, some written in another form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "klv/job_settings.h"

namespace klv::job {

// How a value is written (and so which reader reads it).
enum class Form : uint8_t {
  kQuoted,       // text, always in double quotes
  kFixed,        // text, quoted only when it needs quoting
  kU8,           // byte, decimal
  kU8Quoted,     // byte, the number in double quotes
  kU8Comma,      // byte, the line ends "},": the reader ignores the stray ","
  kU16,          // 16-bit, decimal
  kU32,          // 32-bit, decimal
  kU32Quoted,    // 32-bit, the number in double quotes
  kI32,          // signed 32-bit, decimal
  kHexLower,     // 32-bit, "%08x"
  kHexUpper,     // 32-bit, "%08X"
  kReal,         // double, "%.15f"
  kFourReals,    // double[4], written when any is non-zero
  kFourBytes,    // uint8_t[4], written when any is non-zero
  kCropping,     // the cropping block
  kPrintBatch,   // the print batch block
  kPrintOptions  // the print options block
};

// When a key is written.
enum class When : uint8_t {
  kAlways,
  kIfSet,    // non-zero, non-empty, or a real different from 0.0
  kWallArt,  // with the others of its group, when WallArtQueueId is set
};

struct Field {
  const char* key;
  Form form;
  When when;
  size_t offset;
  size_t size;  // bytes of the field
};

// Every key of the record in the order the writer emits them.
std::span<const Field> settings_fields();
// The field of `key` (any letter case), or null.
const Field* find_settings_field(const char* key);

// A key of a view: the field and, where the view differs, the key text it
// writes and its form.
struct ViewField {
  const Field* field;
  const char* key;
  Form form;
};
// The keys of `Default_Config` and of a printer preset, in writing order.
const std::vector<ViewField>& default_config_fields();
const std::vector<ViewField>& preset_fields();

// The reader's table over the record: every key of `fields`, sorted as
// off_field tables must be. Built once per view.
const std::vector<off_field>& settings_read_table();
const std::vector<off_field>& default_config_read_table();
const std::vector<off_field>& preset_read_table();

// Writing (settings_write.cpp). Appends " Key { value }\n" lines (each
// prefixed by `indent`) for every key of the view that is to be written.
void write_fields(std::string& out, const settings& s, const std::vector<ViewField>& fields,
                  const std::string& indent);
// The whole `Settings { ... }` text of a record.
std::string settings_block(const settings& s);
// A value in double quotes (a '"' inside becomes an apostrophe, logged).
std::string quoted(const char* text);
// A real in the "%.15f" form (a value that is not finite is written 0).
std::string real_text(double value);

// Reading helpers shared by the record's blocks (settings_read.cpp).
// Reads `{ v1 ... vn }` into exactly `n` words; false (logged) otherwise.
bool read_words(SFPARSE* fp, const char* key, std::vector<std::string>& words, size_t least,
                size_t most);
bool parse_real(const std::string& word, double& value);
bool parse_int(const std::string& word, int64_t& value, int64_t least, int64_t most);
// A real value `{ r }` that must be finite.
int32_t read_real_field(SFPARSE* fp, const off_field* f, void* record);
// Steps into the block that follows the key `f`; false (logged as a warning:
// the key is then skipped, not applied) when no '{' follows.
bool enter_block(SFPARSE* fp, const off_field* f);

// Cropping block (settings_crop.cpp).
int32_t read_cropping(SFPARSE* fp, const off_field* f, void* record);
void write_cropping(std::string& out, const settings_crop& c);
settings_crop* copy_crop(const settings_crop* c);
// Print batch and options (settings_blocks.cpp).
int32_t read_print_batch(SFPARSE* fp, const off_field* f, void* record);
void write_print_batch(std::string& out, const settings_batch& b);
int32_t read_print_options(SFPARSE* fp, const off_field* f, void* record);
void write_print_options(std::string& out, const settings& s);

// After a record was filled: UnitMode made 0 or 1, a zero Precision made 4,
// an empty PrintMode derived from the pattern and resolution.
void settle_settings(settings& s);

}  // namespace klv::job
