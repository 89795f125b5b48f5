// SPDX-License-Identifier: MIT
// Writing the job settings record: one " Key { value }" line per key, in
// the table's order and value forms, then the blocks.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "job/settings_fields.h"
#include "kernel/settings_text_reader.h"
#include "klv/log.h"

namespace klv::job {
namespace {

template <typename T>
T load(const settings& s, const Field& f) {
  T v;
  std::memcpy(&v, reinterpret_cast<const char*>(&s) + f.offset, sizeof v);
  return v;
}

const char* text_at(const settings& s, const Field& f) {
  return reinterpret_cast<const char*>(&s) + f.offset;
}

// A text field up to its terminator or its size, whichever comes first.
std::string text_of(const settings& s, const Field& f) {
  const char* t = text_at(s, f);
  return std::string(t, strnlen(t, f.size));
}

std::string printf_text(const char* format, auto... values) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, values...);
  return buf;
}

bool is_set(const settings& s, const Field& f) {
  switch (f.form) {
    case Form::kQuoted:
    case Form::kFixed:
      return text_at(s, f)[0] != '\0';
    case Form::kU8:
    case Form::kU8Quoted:
    case Form::kU8Comma:
      return load<uint8_t>(s, f) != 0;
    case Form::kU16:
      return load<uint16_t>(s, f) != 0;
    case Form::kU32:
    case Form::kU32Quoted:
    case Form::kHexLower:
    case Form::kHexUpper:
      return load<uint32_t>(s, f) != 0;
    case Form::kI32:
      return load<int32_t>(s, f) != 0;
    case Form::kReal:
      return load<double>(s, f) != 0.0;
    case Form::kFourReals: {
      double v[4];
      std::memcpy(v, text_at(s, f), sizeof v);
      return v[0] != 0.0 || v[1] != 0.0 || v[2] != 0.0 || v[3] != 0.0;
    }
    case Form::kFourBytes: {
      uint8_t v[4];
      std::memcpy(v, text_at(s, f), sizeof v);
      return (v[0] | v[1] | v[2] | v[3]) != 0;
    }
    case Form::kCropping:
      return s.Cropping != nullptr;
    case Form::kPrintBatch:
      return s.PrintBatch != nullptr;
    case Form::kPrintOptions:
      for (const settings_option& o : s.PrintOptions)
        if (o.name[0]) return true;
      return false;
  }
  return false;
}

// The value between the braces, for the forms written as one line.
std::string value_of(const settings& s, const Field& f, Form form) {
  switch (form) {
    case Form::kQuoted:
      return quoted(text_of(s, f).c_str());
    case Form::kFixed:
      return klv::kernel::fix_string(text_of(s, f).c_str());
    case Form::kU8:
    case Form::kU8Comma:
      return std::to_string(load<uint8_t>(s, f));
    case Form::kU8Quoted:
      return "\"" + std::to_string(load<uint8_t>(s, f)) + "\"";
    case Form::kU16:
      return std::to_string(load<uint16_t>(s, f));
    case Form::kU32:
      return std::to_string(load<uint32_t>(s, f));
    case Form::kU32Quoted:
      return "\"" + std::to_string(load<uint32_t>(s, f)) + "\"";
    case Form::kI32:
      return std::to_string(load<int32_t>(s, f));
    case Form::kHexLower:
      return printf_text("%08" PRIx32, load<uint32_t>(s, f));
    case Form::kHexUpper:
      return printf_text("%08" PRIX32, load<uint32_t>(s, f));
    case Form::kReal:
      return real_text(load<double>(s, f));
    case Form::kFourReals: {
      double v[4];
      std::memcpy(v, text_at(s, f), sizeof v);
      return real_text(v[0]) + " " + real_text(v[1]) + " " + real_text(v[2]) + " " +
             real_text(v[3]);
    }
    case Form::kFourBytes: {
      uint8_t v[4];
      std::memcpy(v, text_at(s, f), sizeof v);
      return printf_text("%d %d %d %d", v[0], v[1], v[2], v[3]);
    }
    default:
      return {};
  }
}

void write_one(std::string& out, const settings& s, const ViewField& v, const std::string& indent) {
  const Field& f = *v.field;
  switch (v.form) {
    case Form::kCropping:
      write_cropping(out, *s.Cropping);
      return;
    case Form::kPrintBatch:
      write_print_batch(out, *s.PrintBatch);
      return;
    case Form::kPrintOptions:
      write_print_options(out, s);
      return;
    default:
      break;
  }
  out += indent;
  out += ' ';
  out += v.key;
  out += " { ";
  out += value_of(s, f, v.form);
  out += v.form == Form::kU8Comma ? " },\n" : " }\n";
}

bool wanted(const settings& s, const ViewField& v) {
  switch (v.field->when) {
    case When::kAlways:
      return true;
    case When::kIfSet:
      return is_set(s, *v.field);
    case When::kWallArt:
      return s.WallArtQueueId[0] != '\0';
  }
  return false;
}

}  // namespace

std::string quoted(const char* text) {
  std::string out = "\"";
  bool replaced = false;
  for (const char* p = text; *p; ++p) {
    replaced |= *p == '"';
    out.push_back(*p == '"' ? '\'' : *p);
  }
  if (replaced)
    KLV_LOG(KLV_LOG_WARNING, "settings value \"%s\": double quotes written as apostrophes", text);
  return out + "\"";
}

std::string real_text(double value) {
  if (!std::isfinite(value)) value = 0.0;
  char buf[400];  // "%.15f" of the largest double fits
  std::snprintf(buf, sizeof buf, "%.15f", value);
  return buf;
}

void write_fields(std::string& out, const settings& s, const std::vector<ViewField>& fields,
                  const std::string& indent) {
  for (const ViewField& v : fields)
    if (wanted(s, v)) write_one(out, s, v, indent);
}

std::string settings_block(const settings& s) {
  static const std::vector<ViewField> all = [] {
    std::vector<ViewField> view;
    for (const Field& f : settings_fields()) view.push_back({&f, f.key, f.form});
    return view;
  }();
  std::string out = "Settings {\n";
  write_fields(out, s, all, "");
  out += "}\n";
  return out;
}

}  // namespace klv::job
