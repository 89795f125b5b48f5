// SPDX-License-Identifier: MIT
// The settings text reader behind an SFPARSE handle: a buffered tokenizer
// that reads its stream in large blocks and scans them with a byte class
// table, plus the block-level moves built on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "klv/kernel_settings.h"

struct SFPARSE {
  enum Tok : int32_t {
    kError = KLV_FP_ERROR,
    kEnd = KLV_FP_END,
    kWord = KLV_FP_WORD,
    kOpen = KLV_FP_OPEN,
    kClose = KLV_FP_CLOSE
  };

  // `owned` streams are closed with the reader; `name` is used in log lines.
  SFPARSE(SFilemux* stream, bool owned, std::string name);
  ~SFPARSE();
  SFPARSE(const SFPARSE&) = delete;
  SFPARSE& operator=(const SFPARSE&) = delete;

  Tok next();  // consumes the next token
  Tok peek();  // reads it without consuming
  const std::string& text() const { return tok_; }
  bool quoted() const { return quoted_; }
  int32_t line() const { return line_; }
  const std::string& name() const { return name_; }

  bool open_block(const char* name);
  bool close_block();  // after an open brace: skips to its partner and consumes it
  bool skip_value();
  bool rewind();  // back to the position the reader started at
  // `{ w1 w2 ... }` joined by single blanks; false (logged) when malformed.
  bool value_text(std::string& out, const char* what);
  // The elements of a list value; false when malformed (logged).
  bool list(std::vector<std::vector<std::string>>& out);
  // Leaves an attached stream just after the last token consumed.
  void give_back_stream();
  // Logs a fault at the current line and makes every later read an error.
  Tok fail(const char* what);

 private:
  bool fill();
  Tok scan();
  Tok scan_quoted();
  Tok scan_word();
  void skip_comment();
  bool append(const char* from, size_t n);

  SFilemux* stream_;
  bool owned_;
  std::string name_;
  std::unique_ptr<char[]> buf_;
  size_t len_ = 0;            // bytes in buf_
  size_t pos_ = 0;            // next byte to scan
  int64_t buf_start_ = 0;     // stream offset of buf_[0]
  int64_t start_offset_ = 0;  // where the reader began
  bool eof_ = false;
  bool error_ = false;
  std::string tok_;
  bool quoted_ = false;
  bool have_peek_ = false;
  Tok peek_kind_ = kEnd;
  int64_t consumed_end_ = 0;  // stream offset just after the last consumed token
  int64_t scan_end_ = 0;      // stream offset just after the last scanned token
  int32_t line_ = 1;
  int32_t depth_ = 0;
};

namespace klv::kernel {

// ASCII case-insensitive comparison (<0, 0, >0), as field tables are sorted.
int compare_nocase(const char* a, const char* b);
// Copies `text` into buf[size], cut without splitting a multi-byte character.
void copy_cut(const std::string& text, char* buf, int32_t size);

// `{ number }` readers; `what` names the value in log lines. 1 or 0.
int32_t read_int32(SFPARSE* fp, int32_t* v, const char* what);
int32_t read_uint32(SFPARSE* fp, uint32_t* v, const char* what);
int32_t read_uint64(SFPARSE* fp, uint64_t* v, const char* what);
int32_t read_hex32(SFPARSE* fp, uint32_t* v, const char* what);
int32_t read_double(SFPARSE* fp, double* v, const char* what);

// Writing helpers shared by the field tables and the registry.
// The token form of a value (see fp_fix_string).
std::string fix_string(const char* in);
// Writes all of `text`; false when the stream took less.
bool write_text(SFilemux* stream, const std::string& text);

}  // namespace klv::kernel
