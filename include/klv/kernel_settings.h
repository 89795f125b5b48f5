/* SPDX-License-Identifier: MIT */
/* Settings text: the brace-structured text format of description files.
 *
 * A file is a sequence of tokens separated by blanks (any byte up to and
 * including the space character):
 *   - a word: a run of characters other than blanks, "{" and "}";
 *   - a quoted string: from a double quote to the next double quote, which may
 *     hold blanks, braces and line ends; the token is the text between the
 *     quotes. A backslash is an ordinary character (paths such as
 *     "C:\Data\x" are kept as written), so a quoted string cannot hold '"';
 *   - "{" and "}".
 * A ';' at the start of a token begins a comment that runs to the end of the
 * line. Blocks are `Name {` ... `}`, entries `Key { value ... }`, and values
 * may be lists of lists: `Key { { a b } { c d } }`. Keys and block names are
 * matched without regard to ASCII letter case. Writers indent by two spaces
 * per level and quote values that need it (fp_fix_string).
 *
 * Example:
 *   ; comment
 *   Printer_Client {
 *     UserId { "Print Room" }
 *     Printers { { Roll "C:\Printers\Roll" } { Sheet /srv/sheet } }
 *   }
 *
 * Limits: a token longer than KLV_FP_MAX_TOKEN bytes and lists nested deeper
 * than KLV_FP_MAX_DEPTH levels are errors (logged); after an error every
 * further token read gives KLV_FP_ERROR. */
#ifndef KLV_KERNEL_SETTINGS_H
#define KLV_KERNEL_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

#define KLV_FP_MAX_TOKEN 65536
#define KLV_FP_MAX_DEPTH 256

/* A settings text reader. */
typedef struct SFPARSE SFPARSE;

/* Token kinds. */
enum { KLV_FP_ERROR = -1, KLV_FP_END = 0, KLV_FP_WORD = 1, KLV_FP_OPEN = 2, KLV_FP_CLOSE = 3 };

/* ---- Reader ------------------------------------------------------------ */

/* Opens `path` for reading: a host file when volume is null (or all ones),
 * else a member of the volume. `flags` is 0. Null when it cannot be opened. */
KLV_API SFPARSE* fp_open(SOVolume* volume, const char* path, int32_t flags);
/* A reader over an open stream, from its current position. The caller keeps
 * the stream; fp_close leaves it positioned just after the last token read
 * (when the stream can seek). Null for a null stream. */
KLV_API SFPARSE* fp_attach(SFilemux* stream);
/* Frees the reader (and closes the stream when fp_open opened it). 0. */
KLV_API int32_t fp_close(SFPARSE* fp);

/* Reads the next token. Its text ("{" and "}" for braces, the text without
 * quotes for a quoted string) goes to `buf` when given, cut to size - 1
 * bytes without splitting a multi-byte character. Returns the kind. */
KLV_API int32_t fp_get_token(SFPARSE* fp, char* buf, int32_t size);
/* The same without consuming the token. */
KLV_API int32_t fp_peek_token(SFPARSE* fp, char* buf, int32_t size);
/* 1 when the last token read or peeked was a quoted string. */
KLV_API int32_t fp_token_quoted(SFPARSE* fp);
/* Line number (from 1) where reading stands; for messages. */
KLV_API int32_t fp_line(SFPARSE* fp);

/* Finds `name {` among the remaining entries of the current level (skipping
 * other entries with their values) and enters it: 1. When the current block
 * closes or the text ends first, 0 and the closing brace is not consumed. */
KLV_API int32_t fp_open_block(SFPARSE* fp, const char* name);
/* Skips the rest of the current block and consumes its closing brace: 1.
 * 0 when the text ends (or fails) before the block closes. */
KLV_API int32_t fp_close_block(SFPARSE* fp);
/* Skips the next value: a word, or a braced list with everything in it. 1;
 * 0 when the next token is "}" (not consumed), the end, or the list does
 * not close. */
KLV_API int32_t fp_skip_value(SFPARSE* fp);

/* Selecting a block. off_open_rec goes back to where the reader started
 * (the start of the file, or the position at fp_attach) and opens the block
 * `name` found at the top level. off_find_rec searches from the current
 * position among the remaining entries of the current level, as
 * fp_open_block does; call it again after fp_close_block to reach the next
 * block of the same name. Both return 1 when the block was entered. */
KLV_API int32_t off_open_rec(SFPARSE* fp, const char* name);
KLV_API int32_t off_find_rec(SFPARSE* fp, const char* name);

/* Reads a list value into a new string list (caller frees it with
 * stral_free). Each inner list `{ a b }` becomes one element; words that
 * stand directly in the outer list form one element together (so a flat
 * `{ a b }` gives one element [a b]); lists nested deeper are flattened into
 * their element. `{ }` gives an empty list. Null when the next token is not
 * "{" (it is then not consumed) or the list does not close. */
KLV_API SSTRAL* fp_get_list(SFPARSE* fp);
/* Reads `{ a b c }` (nested lists flattened) into a malloc'd array of
 * strings ending with a null pointer; `count` (optional) receives the number
 * of strings. Free it with free_char_list. Null on the same failures as
 * fp_get_list. */
KLV_API char** get_char_list(SFPARSE* fp, int32_t* count);
KLV_API void free_char_list(char** list);

/* Value helpers for `{ value }`. fp_get_string joins the words of the value
 * with single blanks ("{ }" gives "") and cuts it to size - 1 bytes without
 * splitting a multi-byte character. The number readers need exactly one word
 * holding a number in decimal (doubles also in exponent form, "inf", "nan"),
 * read without regard to the locale and within the type's range. Each
 * returns 1, or 0 (with a log line) when the value is missing or bad; the
 * value is consumed whenever it was a braced list. */
KLV_API int32_t fp_get_string(SFPARSE* fp, char* buf, int32_t size);
KLV_API int32_t fp_get_int(SFPARSE* fp, int32_t* value);
KLV_API int32_t fp_get_uint(SFPARSE* fp, uint32_t* value);
KLV_API int32_t fp_get_uint64(SFPARSE* fp, uint64_t* value);
KLV_API int32_t fp_get_double(SFPARSE* fp, double* value);

/* ---- Field tables -------------------------------------------------------- */

/* Field kinds of a table entry. */
enum {
  OFF_INT32 = 1,  /* int32_t, written "%d" */
  OFF_UINT32 = 2, /* uint32_t, written "%u" */
  OFF_UINT8 = 3,  /* uint8_t, written "%u" */
  OFF_UINT16 = 4, /* uint16_t, written "%u" */
  OFF_HEX32 = 5,  /* uint32_t, written "%08X", read as hexadecimal */
  OFF_UINT64 = 6, /* uint64_t, written as decimal */
  OFF_DOUBLE = 7, /* double, written in the shortest form that reads back exactly */
  OFF_STRING = 8, /* char[size], zero-terminated; longer values are cut */
  OFF_STRAL = 9,  /* SSTRAL* owned by the record; replaced when read */
  OFF_CUSTOM = 10 /* read and written only by the entry's functions */
};

/* Field flags. */
enum { OFF_SKIP_EMPTY = 1 /* not written when zero, empty or a null list */ };

typedef struct off_field off_field;
/* Reads the value that follows the key into the record; 1 or 0 on failure. */
typedef int32_t (*off_read_fn)(SFPARSE* fp, const off_field* field, void* record);
/* Writes the whole entry (key included) at `indent`; 1 or 0 on failure. */
typedef int32_t (*off_write_fn)(SFilemux* stream, int32_t indent, const off_field* field,
                                const void* record);

/* One entry of a field table. Tables are sorted by key without regard to
 * letter case (as Ostricmp orders them: ASCII letters folded to lower case)
 * and keys are unique; functions given an unsorted table fail with a log
 * line. `read` and `write`, when set, replace the built-in handling of the
 * kind; OFF_CUSTOM entries need them. */
struct off_field {
  const char* key;
  int32_t kind;
  uint32_t flags;
  size_t offset; /* offsetof the field in the record */
  size_t size;   /* bytes of an OFF_STRING field, terminator included */
  off_read_fn read;
  off_write_fn write;
};

/* Handles one key just read (its value is next): 1 handled, 0 the table has
 * no such key (the value, if it is a braced list, was skipped), -1 the value
 * could not be read (logged). */
KLV_API int32_t off_get_control(SFPARSE* fp, const off_field* table, int32_t count, void* record,
                                const char* key);
/* Reads every entry of the current block into the record up to and
 * including its closing brace. Keys the table lacks are skipped with their
 * values, and so are stray words and anonymous lists. 1, or 0 when a value
 * is bad or the block does not close. */
KLV_API int32_t off_load_struct(SFPARSE* fp, const off_field* table, int32_t count, void* record);
/* Writes the record as a block: `Name {`, one entry per table row at indent
 * + 1, `}`. 1, or 0 when writing failed. */
KLV_API int32_t off_write_struct(SFilemux* stream, const off_field* table, int32_t count,
                                 const void* record, const char* name, int32_t indent);
/* Writes a whole file (host when volume is null, else a member) holding the
 * block, through fp_save_begin/fp_save_end so that a failed write leaves any
 * earlier file in place. 1 on success. */
KLV_API int32_t off_save_struct(SOVolume* volume, const char* path, const off_field* table,
                                int32_t count, const void* record, const char* name);

/* ---- Writers -------------------------------------------------------------- */

/* Each writes one entry `Key { value }` and a line end after 2 * indent
 * blanks; 1, or 0 when writing failed. Strings are quoted as fp_fix_string
 * does; doubles use the shortest form that reads back exactly. */
KLV_API int32_t off_put_string(SFilemux* stream, int32_t indent, const char* key,
                               const char* value);
KLV_API int32_t off_put_int(SFilemux* stream, int32_t indent, const char* key, int32_t value);
KLV_API int32_t off_put_uint(SFilemux* stream, int32_t indent, const char* key, uint32_t value);
KLV_API int32_t off_put_uint64(SFilemux* stream, int32_t indent, const char* key, uint64_t value);
KLV_API int32_t off_put_double(SFilemux* stream, int32_t indent, const char* key, double value);
/* A list: `Key {`, one line `{ a b }` per element at indent + 1, `}`; an
 * empty or null list is written `Key { }`. */
KLV_API int32_t off_put_stral(SFilemux* stream, int32_t indent, const char* key,
                              const SSTRAL* list);
/* `Name {` and `}` lines, for writing nested blocks by hand. */
KLV_API int32_t off_put_open(SFilemux* stream, int32_t indent, const char* name);
KLV_API int32_t off_put_close(SFilemux* stream, int32_t indent);

/* Writes `in` to `out` as a token that reads back as `in`: unchanged when it
 * is a plain word; in double quotes when it is empty or holds blanks or
 * braces, or begins with ';' or '"'. A text that already begins and ends
 * with a double quote (and holds none between) is taken as quoted and kept.
 * A double quote inside a text that must be quoted cannot be written; it is
 * replaced by an apostrophe (logged). Returns the length written, or -1
 * (and "" in out) when `out` is too small. */
KLV_API int32_t fp_fix_string(const char* in, char* out, int32_t size);

/* ---- Whole-file writes ------------------------------------------------- */

/* A file being replaced. fp_save_begin opens a temporary file (or member)
 * beside `path`; write to fp_save_stream; fp_save_end with commit 1 closes
 * it, flushes it to disk and renames it over `path`, with commit 0 (or after
 * a failed write) removes it and leaves `path` untouched. fp_save_end
 * returns 1 when the file was replaced and frees the handle either way. */
typedef struct SFSAVE SFSAVE;
KLV_API SFSAVE* fp_save_begin(SOVolume* volume, const char* path);
KLV_API SFilemux* fp_save_stream(SFSAVE* save);
KLV_API int32_t fp_save_end(SFSAVE* save, int32_t commit);

KLV_END_C

#endif
