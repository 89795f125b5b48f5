// SPDX-License-Identifier: MIT
// Settings text reader: tokenizer, block moves, list and value readers, and
// the fp_* functions of the C interface.
#include "kernel/settings_text_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "klv/kernel_stream.h"
#include "klv/log.h"
#include "klv/kernel_util.h"

namespace {

constexpr size_t kBlock = 64 * 1024;

// Byte classes: 0 blank, 1 word character, 2 special ('{', '}', '"', ';'
// where they start a token). '"' and ';' are word characters inside a word.
struct ByteClasses {
  bool word[256];
  constexpr ByteClasses() : word() {
    for (int c = 0; c < 256; ++c) word[c] = c > ' ' && c != '{' && c != '}';
  }
};
constexpr ByteClasses kClasses;

}  // namespace

namespace klv::kernel {

int compare_nocase(const char* a, const char* b) {
  const int32_t c = Ostricmp(a, b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void copy_cut(const std::string& text, char* buf, int32_t size) {
  if (!buf || size < 1) return;
  size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
  if (n < text.size()) {
    // Do not end inside a multi-byte character: drop trailing bytes of a cut one.
    size_t lead = n;
    while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
    if (lead < n || (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) n = lead;
  }
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
}

}  // namespace klv::kernel

using klv::kernel::compare_nocase;

SFPARSE::SFPARSE(SFilemux* stream, bool owned, std::string name)
    : stream_(stream), owned_(owned), name_(std::move(name)), buf_(new char[kBlock]) {
  int64_t at = Otelli64(stream_);
  start_offset_ = buf_start_ = consumed_end_ = scan_end_ = at > 0 ? at : 0;
  tok_.reserve(256);
}

SFPARSE::~SFPARSE() {
  if (owned_) Oclose(stream_);
}

bool SFPARSE::fill() {
  if (eof_) return false;
  buf_start_ += static_cast<int64_t>(len_);
  pos_ = 0;
  len_ = Oread(stream_, buf_.get(), kBlock);
  if (len_ == 0) eof_ = true;
  return len_ > 0;
}

SFPARSE::Tok SFPARSE::fail(const char* what) {
  if (!error_) KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s", name_.c_str(), line_, what);
  error_ = true;
  have_peek_ = false;
  return kError;
}

bool SFPARSE::append(const char* from, size_t n) {
  if (tok_.size() + n > KLV_FP_MAX_TOKEN) {
    fail("token longer than 65536 bytes");
    return false;
  }
  tok_.append(from, n);
  return true;
}

void SFPARSE::skip_comment() {
  for (;;) {
    const char* p = buf_.get() + pos_;
    const void* nl = std::memchr(p, '\n', len_ - pos_);
    if (nl) {
      pos_ = static_cast<size_t>(static_cast<const char*>(nl) - buf_.get());
      return;  // the line end itself is a blank and is counted there
    }
    pos_ = len_;
    if (!fill()) return;
  }
}

SFPARSE::Tok SFPARSE::scan_quoted() {
  const int32_t first_line = line_;
  ++pos_;
  tok_.clear();
  quoted_ = true;
  for (;;) {
    const char* p = buf_.get() + pos_;
    size_t avail = len_ - pos_;
    const char* q = static_cast<const char*>(std::memchr(p, '"', avail));
    size_t n = q ? static_cast<size_t>(q - p) : avail;
    line_ += static_cast<int32_t>(std::count(p, p + n, '\n'));
    if (!append(p, n)) return kError;
    if (q) {
      pos_ += n + 1;
      return kWord;
    }
    pos_ = len_;
    if (!fill()) {
      line_ = first_line;
      return fail("quoted string not closed before the end of the text");
    }
  }
}

SFPARSE::Tok SFPARSE::scan_word() {
  tok_.clear();
  quoted_ = false;
  for (;;) {
    const char* b = buf_.get();
    size_t i = pos_;
    while (i < len_ && kClasses.word[static_cast<unsigned char>(b[i])]) ++i;
    if (!append(b + pos_, i - pos_)) return kError;
    pos_ = i;
    if (i < len_) return kWord;
    if (!fill()) return kWord;
  }
}

SFPARSE::Tok SFPARSE::scan() {
  if (error_) return kError;
  for (;;) {
    if (pos_ >= len_ && !fill()) {
      tok_.clear();
      quoted_ = false;
      return kEnd;
    }
    unsigned char c = static_cast<unsigned char>(buf_[pos_]);
    if (c <= ' ') {
      if (c == '\n') ++line_;
      ++pos_;
      continue;
    }
    Tok kind;
    switch (c) {
      case ';':
        skip_comment();
        continue;
      case '{':
        ++pos_;
        if (++depth_ > KLV_FP_MAX_DEPTH) return fail("lists nested deeper than 256 levels");
        tok_.assign(1, '{');
        quoted_ = false;
        kind = kOpen;
        break;
      case '}':
        ++pos_;
        if (depth_ > 0) --depth_;
        tok_.assign(1, '}');
        quoted_ = false;
        kind = kClose;
        break;
      case '"':
        kind = scan_quoted();
        break;
      default:
        kind = scan_word();
        break;
    }
    if (kind != kError) scan_end_ = buf_start_ + static_cast<int64_t>(pos_);
    return kind;
  }
}

SFPARSE::Tok SFPARSE::next() {
  if (have_peek_) {
    have_peek_ = false;
    consumed_end_ = scan_end_;
    return peek_kind_;
  }
  Tok t = scan();
  if (t != kError) consumed_end_ = scan_end_;
  return t;
}

SFPARSE::Tok SFPARSE::peek() {
  if (!have_peek_) {
    peek_kind_ = scan();
    have_peek_ = peek_kind_ != kError;
    if (!have_peek_) return kError;
  }
  return peek_kind_;
}

bool SFPARSE::close_block() {
  int32_t nested = 0;
  for (;;) {
    switch (next()) {
      case kOpen:
        ++nested;
        break;
      case kClose:
        if (nested == 0) return true;
        --nested;
        break;
      case kEnd:
        fail("block not closed before the end of the text");
        return false;
      case kError:
        return false;
      case kWord:
        break;
    }
  }
}

bool SFPARSE::skip_value() {
  Tok t = peek();
  if (t == kWord) {
    next();
    return true;
  }
  if (t != kOpen) return false;
  next();
  return close_block();
}

bool SFPARSE::open_block(const char* name) {
  for (;;) {
    Tok t = peek();
    if (t != kWord && t != kOpen) return false;
    next();
    if (t == kOpen) {
      if (!close_block()) return false;
      continue;
    }
    bool match = compare_nocase(tok_.c_str(), name) == 0;
    if (peek() == kOpen) {
      next();
      if (match) return true;
      if (!close_block()) return false;
    }
  }
}

bool SFPARSE::rewind() {
  if (Oseeki64(stream_, start_offset_, 0) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "settings text %s: cannot go back to the start", name_.c_str());
    return false;
  }
  buf_start_ = consumed_end_ = scan_end_ = start_offset_;
  len_ = pos_ = 0;
  eof_ = error_ = have_peek_ = quoted_ = false;
  tok_.clear();
  line_ = 1;
  depth_ = 0;
  return true;
}

void SFPARSE::give_back_stream() {
  if (!owned_ && stream_ && consumed_end_ != buf_start_ + static_cast<int64_t>(len_))
    Oseeki64(stream_, consumed_end_, 0);
}

bool SFPARSE::value_text(std::string& out, const char* what) {
  out.clear();
  if (peek() != kOpen) {
    if (!error_)
      KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: expected '{'", name_.c_str(), line_,
              what);
    return false;
  }
  next();
  for (bool first = true;; first = false) {
    Tok t = next();
    if (t == kClose) return true;
    if (t == kWord) {
      if (!first) out.push_back(' ');
      out += tok_;
      continue;
    }
    if (t == kOpen) {
      close_block();
      close_block();
      if (!error_)
        KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: a list where one value belongs",
                name_.c_str(), line_, what);
      return false;
    }
    if (t == kEnd) fail("value not closed before the end of the text");
    return false;
  }
}

bool SFPARSE::list(std::vector<std::vector<std::string>>& out) {
  out.clear();
  if (peek() != kOpen) {
    if (!error_)
      KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: expected '{' before a list", name_.c_str(),
              line_);
    return false;
  }
  next();
  size_t flat = SIZE_MAX;  // element collecting the words of the outer list
  for (;;) {
    Tok t = next();
    if (t == kClose) return true;
    if (t == kWord) {
      if (flat == SIZE_MAX) {
        flat = out.size();
        out.emplace_back();
      }
      out[flat].push_back(tok_);
      continue;
    }
    if (t == kOpen) {
      std::vector<std::string> element;
      int32_t nested = 0;
      for (;;) {
        Tok u = next();
        if (u == kWord) {
          element.push_back(tok_);
        } else if (u == kOpen) {
          ++nested;
        } else if (u == kClose) {
          if (nested-- == 0) break;
        } else {
          if (u == kEnd) fail("list not closed before the end of the text");
          return false;
        }
      }
      out.push_back(std::move(element));
      continue;
    }
    if (t == kEnd) fail("list not closed before the end of the text");
    return false;
  }
}

// ---- Number parsing --------------------------------------------------------

namespace {

template <typename T>
bool parse_integer(const std::string& text, T& value, int base = 10) {
  const char* b = text.data();
  const char* e = b + text.size();
  if (b != e && *b == '+') ++b;
  if (std::is_unsigned_v<T> && b != e && *b == '-') return false;
  if (base == 16 && e - b > 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X')) b += 2;
  if (b == e) return false;
  auto r = std::from_chars(b, e, value, base);
  return r.ec == std::errc() && r.ptr == e;
}

bool parse_double(const std::string& text, double& value) {
  const char* b = text.data();
  const char* e = b + text.size();
  if (b != e && *b == '+') ++b;
  if (b == e) return false;
  auto r = std::from_chars(b, e, value);
  return r.ec == std::errc() && r.ptr == e;
}

template <typename T>
int32_t get_integer(SFPARSE* fp, T* value, const char* what, int base = 10) {
  std::string text;
  if (!fp->value_text(text, what)) return 0;
  T v{};
  if (!parse_integer(text, v, base)) {
    KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: \"%s\" is not a valid number",
            fp->name().c_str(), fp->line(), what, text.c_str());
    return 0;
  }
  *value = v;
  return 1;
}

}  // namespace

namespace klv::kernel {

// Shared with the field table code.
int32_t read_int32(SFPARSE* fp, int32_t* v, const char* what) {
  return get_integer(fp, v, what);
}
int32_t read_uint32(SFPARSE* fp, uint32_t* v, const char* what) {
  return get_integer(fp, v, what);
}
int32_t read_uint64(SFPARSE* fp, uint64_t* v, const char* what) {
  return get_integer(fp, v, what);
}
int32_t read_hex32(SFPARSE* fp, uint32_t* v, const char* what) {
  return get_integer(fp, v, what, 16);
}
int32_t read_double(SFPARSE* fp, double* v, const char* what) {
  std::string text;
  if (!fp->value_text(text, what)) return 0;
  double d = 0;
  if (!parse_double(text, d)) {
    KLV_LOG(KLV_LOG_ERROR, "settings text %s, line %d: %s: \"%s\" is not a valid number",
            fp->name().c_str(), fp->line(), what, text.c_str());
    return 0;
  }
  *v = d;
  return 1;
}

}  // namespace klv::kernel

// ---- C interface -------------------------------------------------------------

extern "C" {

KLV_API SFPARSE* fp_open(SOVolume* volume, const char* path, int32_t /*flags*/) {
  if (!path || !*path) return nullptr;
  SFilemux* stream = Ovfopen(volume, path, "rb");
  if (!stream) return nullptr;
  try {
    return new SFPARSE(stream, true, path);
  } catch (...) {
    Oclose(stream);
    KLV_LOG(KLV_LOG_ERROR, "settings text %s: out of memory", path);
    return nullptr;
  }
}

KLV_API SFPARSE* fp_attach(SFilemux* stream) {
  if (!stream) return nullptr;
  try {
    return new SFPARSE(stream, false, "(stream)");
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t fp_close(SFPARSE* fp) {
  if (!fp) return 0;
  try {
    fp->give_back_stream();
  } catch (...) {
  }
  delete fp;
  return 0;
}

KLV_API int32_t fp_get_token(SFPARSE* fp, char* buf, int32_t size) {
  if (!fp) return KLV_FP_ERROR;
  try {
    int32_t t = fp->next();
    klv::kernel::copy_cut(fp->text(), buf, size);
    return t;
  } catch (...) {
    return fp->fail("out of memory");
  }
}

KLV_API int32_t fp_peek_token(SFPARSE* fp, char* buf, int32_t size) {
  if (!fp) return KLV_FP_ERROR;
  try {
    int32_t t = fp->peek();
    klv::kernel::copy_cut(fp->text(), buf, size);
    return t;
  } catch (...) {
    return fp->fail("out of memory");
  }
}

KLV_API int32_t fp_token_quoted(SFPARSE* fp) {
  return fp && fp->quoted() ? 1 : 0;
}

KLV_API int32_t fp_line(SFPARSE* fp) {
  return fp ? fp->line() : 0;
}

KLV_API int32_t fp_open_block(SFPARSE* fp, const char* name) {
  if (!fp || !name) return 0;
  try {
    return fp->open_block(name) ? 1 : 0;
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

KLV_API int32_t fp_close_block(SFPARSE* fp) {
  if (!fp) return 0;
  try {
    return fp->close_block() ? 1 : 0;
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

KLV_API int32_t fp_skip_value(SFPARSE* fp) {
  if (!fp) return 0;
  try {
    return fp->skip_value() ? 1 : 0;
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

KLV_API int32_t off_open_rec(SFPARSE* fp, const char* name) {
  if (!fp || !name) return 0;
  try {
    return fp->rewind() && fp->open_block(name) ? 1 : 0;
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

KLV_API int32_t off_find_rec(SFPARSE* fp, const char* name) {
  return fp_open_block(fp, name);
}

KLV_API SSTRAL* fp_get_list(SFPARSE* fp) {
  if (!fp) return nullptr;
  SSTRAL* list = nullptr;
  try {
    std::vector<std::vector<std::string>> elements;
    if (!fp->list(elements)) return nullptr;
    list = _stral_new();
    if (!list) throw std::bad_alloc();
    std::vector<const char*> ptrs;
    for (const auto& e : elements) {
      ptrs.clear();
      for (const auto& s : e) ptrs.push_back(s.c_str());
      if (stral_add(list, ptrs.data(), static_cast<int32_t>(ptrs.size())) < 0)
        throw std::bad_alloc();
    }
    return list;
  } catch (...) {
    stral_free(list);
    fp->fail("out of memory");
    return nullptr;
  }
}

KLV_API char** get_char_list(SFPARSE* fp, int32_t* count) {
  if (count) *count = 0;
  if (!fp) return nullptr;
  try {
    std::vector<std::vector<std::string>> elements;
    if (!fp->list(elements)) return nullptr;
    size_t n = 0, bytes = 0;
    for (const auto& e : elements)
      for (const auto& s : e) {
        ++n;
        bytes += s.size() + 1;
      }
    if (n >= static_cast<size_t>(INT32_MAX)) return nullptr;
    // One block: the pointer array (null-terminated), then the texts.
    size_t head = (n + 1) * sizeof(char*);
    char** out = static_cast<char**>(std::malloc(head + bytes));
    if (!out) throw std::bad_alloc();
    char* text = reinterpret_cast<char*>(out) + head;
    size_t i = 0;
    for (const auto& e : elements)
      for (const auto& s : e) {
        std::memcpy(text, s.c_str(), s.size() + 1);
        out[i++] = text;
        text += s.size() + 1;
      }
    out[n] = nullptr;
    if (count) *count = static_cast<int32_t>(n);
    return out;
  } catch (...) {
    fp->fail("out of memory");
    return nullptr;
  }
}

KLV_API void free_char_list(char** list) {
  std::free(list);
}

KLV_API int32_t fp_get_string(SFPARSE* fp, char* buf, int32_t size) {
  if (!fp) return 0;
  try {
    std::string text;
    if (!fp->value_text(text, "string value")) return 0;
    klv::kernel::copy_cut(text, buf, size);
    return 1;
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

KLV_API int32_t fp_get_int(SFPARSE* fp, int32_t* value) {
  if (!fp || !value) return 0;
  try {
    return klv::kernel::read_int32(fp, value, "integer value");
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

KLV_API int32_t fp_get_uint(SFPARSE* fp, uint32_t* value) {
  if (!fp || !value) return 0;
  try {
    return klv::kernel::read_uint32(fp, value, "unsigned value");
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

KLV_API int32_t fp_get_uint64(SFPARSE* fp, uint64_t* value) {
  if (!fp || !value) return 0;
  try {
    return klv::kernel::read_uint64(fp, value, "unsigned value");
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

KLV_API int32_t fp_get_double(SFPARSE* fp, double* value) {
  if (!fp || !value) return 0;
  try {
    return klv::kernel::read_double(fp, value, "real value");
  } catch (...) {
    fp->fail("out of memory");
    return 0;
  }
}

}  // extern "C"
