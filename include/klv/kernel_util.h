/* SPDX-License-Identifier: MIT */
/* Small kernel helpers used across the library: the number reader, the
 * 32-bit checksum and file identity, CRC-32C, and string helpers.
 *
 * Text is UTF-8. "Without regard to letter case" folds the ASCII letters
 * only; the multi-byte aware forms never split a multi-byte character. */
#ifndef KLV_KERNEL_UTIL_H
#define KLV_KERNEL_UTIL_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* ---- Numbers ---------------------------------------------------------- */

/* Reads the number at the start of `text`: leading blanks (space, tab, CR,
 * LF, FF, VT), an optional sign, digits with an optional decimal point ('.'
 * whatever the locale), and an optional exponent ('e' or 'E', optional sign,
 * digits; taken only when a digit follows). At least one digit is needed
 * before or after the point. Hexadecimal, "inf" and "nan" are not numbers.
 *
 * Returns the value, or 0 when the text does not begin with a number (or is
 * null). A value too large for a double gives +/-HUGE_VAL, one too small 0.
 * When `end` is not null it receives the first character after the number,
 * or `text` itself when nothing was read; end - text is the count used. */
KLV_API double OatofEx(const char* text, const char** end);

/* Reads a decimal integer the same way (blanks, sign, digits; no point or
 * exponent). Values beyond the 32-bit range are clamped to INT32_MIN or
 * INT32_MAX. 0 and `*end` = text when there is no digit. */
KLV_API int32_t OatoiEx(const char* text, const char** end);

/* ---- Checksum and file identity --------------------------------------- */

/* The library's 32-bit checksum of `length` bytes, starting from `seed`.
 * length 0: `data` is zero-terminated text and its length is counted;
 * length < 0 (or null data): nothing is hashed. The byte count is folded in
 * after the data, lowest byte first, and the result is complemented. */
KLV_API uint32_t Ocalccrc_ex(const void* data, int32_t length, uint32_t seed);
/* Ocalccrc_ex with seed 0. */
KLV_API uint32_t Ocalccrc(const void* data, int32_t length);

/* CRC-32C (Castagnoli) of `length` bytes, continuing `crc` (0 to start, or
 * the result over the bytes before): Ocrc32c(Ocrc32c(0, a, n), b, m) is the
 * CRC of a followed by b, and Ocrc32c(0, "123456789", 9) = 0xE3069283. Uses
 * the processor's CRC32 instruction when it has one. Null data or length 0
 * gives `crc` back. Volumes keep this checksum beside every chunk. */
KLV_API uint32_t Ocrc32c(uint32_t crc, const void* data, size_t length);

/* A number that names one state of a file: the checksum of its modification
 * time, size and file number as the text "%08x %08x %08X". It changes when the
 * file is rewritten. 0 when the file cannot be found; a checksum that comes
 * out 0 is given as 0xDEADBEEF so that 0 always means "not found".
 * `attributes` is passed to Ofindfirst. */
KLV_API uint32_t Ofilerefid(SOVolume* volume, const char* path, uint32_t attributes);
/* As Ofilerefid; when `volume` is a volume (not the host), its file name is
 * appended to the text (" %s") so that equal members of different volumes
 * get different identities. */
KLV_API uint32_t Ofilerefid_ex(SOVolume* volume, const char* path, uint32_t attributes);

/* ---- Strings ---------------------------------------------------------- */

/* Joins the texts that follow `max_chars` (a list ended by a null pointer)
 * into `dst`: at most `max_chars` bytes of text, then a terminating zero, so
 * `dst` must hold max_chars + 1 bytes. Truncation never splits a multi-byte
 * character. Returns dst (null when dst is null). Example:
 *   char key[81];
 *   Ostrcpyncat(key, 80, "ImgICC", "~", hex, "~", name, (const char*)0); */
KLV_API char* Ostrcpyncat(char* dst, size_t max_chars, ...) __attribute__((sentinel));

/* ASCII case-insensitive comparisons: < 0, 0 or > 0 as strcmp, comparing
 * bytes as unsigned after folding A-Z to a-z. A null text sorts before any
 * text; two nulls are equal. Ostrnicmp compares at most `count` bytes.
 * These two are the library's one case-insensitive compare: every other place
 * that ignores letter case (names, keys, suffixes, sorted tables) calls them. */
KLV_API int32_t Ostricmp(const char* a, const char* b);
KLV_API int32_t Ostrnicmp(const char* a, const char* b, size_t count);
/* Case-insensitive comparison of names, character by character: ASCII
 * letters are folded, a multi-byte UTF-8 character is compared whole (by its
 * code point), and a byte that does not start a valid character is compared
 * as itself. Null handling as Ostricmp. */
KLV_API int32_t Ostricmp_mb(const char* a, const char* b);

KLV_END_C

#endif
