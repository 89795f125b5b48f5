/* SPDX-License-Identifier: MIT */
/* The Logger layer and the built-in message table.
 *
 * ErrorLog writes one line "klv LEVEL text (file:line)" to stderr, or appends
 * it to the file named by the environment variable KLV_LOG. The file is kept
 * open between lines and opened again when KLV_LOG names another file; each
 * line is flushed as it is written. KLV_LOG=/dev/null silences the Logger.
 * When the file cannot be opened the line goes to stderr. Lines below a level
 * threshold (ErrorLogSetThreshold) are dropped. Thread-safe. */
#ifndef KLV_LOG_H
#define KLV_LOG_H

#include <stdint.h>

#include "klv/export.h"

KLV_BEGIN_C

enum {
  KLV_LOG_INFO = 0,
  KLV_LOG_DEBUG = 1,
  KLV_LOG_NOTICE = 2,
  KLV_LOG_WARNING = 3,
  KLV_LOG_ERROR = 4
};

KLV_API void ErrorLog(int32_t level, const char* text, const char* source_file, int32_t line);
/* Drops every line whose level number is below `lowest` (KLV_LOG_WARNING keeps
 * warnings and errors; KLV_LOG_INFO, the default, keeps everything). Applies
 * to all threads at once. Returns the threshold it replaces. */
KLV_API int32_t ErrorLogSetThreshold(int32_t lowest);
/* printf-style form of ErrorLog. */
KLV_API void ErrorLogf(int32_t level, const char* source_file, int32_t line, const char* format,
                       ...) __attribute__((format(printf, 4, 5)));

/* Numbers of the localised messages. The numbers are fixed: they are stored
 * and compared by callers (unit names are matched inside page dimension
 * texts), so a number never changes meaning; new messages get new numbers. */
enum {
  KLV_MSG_UNIT_METRE = 31,       /* "m" */
  KLV_MSG_UNIT_CENTIMETRE = 38,  /* "cm" */
  KLV_MSG_UNIT_MILLIMETRE = 39,  /* "mm" */
  KLV_MSG_UNIT_DECIMETRE = 40,   /* "dm" */
  KLV_MSG_UNIT_INCH = 41,        /* "in" */
  KLV_MSG_PAPER_ROLL = 42,       /* "Roll", the paper path of roll-fed media */
  KLV_MSG_PAPER_SHEET = 43,      /* "Sheet", the paper path of cut sheets */
  KLV_MSG_PAGE_CLASS = 44,       /* "Custom", the kind of a page size made by the library */
  KLV_MSG_PAGE_DEFAULT = 45,     /* "Default", the name of the default page size */
  KLV_MSG_CLIP_FAILED = 104,     /* a clip of a layout cannot be processed */
  KLV_MSG_UNIT_METRE_LONG = 219, /* "metre" */
  /* Ink and channel names of default colour descriptions. */
  KLV_MSG_INK_CYAN = 500,
  KLV_MSG_INK_MAGENTA = 501,
  KLV_MSG_INK_YELLOW = 502,
  KLV_MSG_INK_BLACK = 503,
  KLV_MSG_INK_RED = 504,
  KLV_MSG_INK_GREEN = 505,
  KLV_MSG_INK_BLUE = 506,
  KLV_MSG_INK_LIGHT_CYAN = 507,
  KLV_MSG_INK_LIGHT_MAGENTA = 508,
  KLV_MSG_INK_LIGHT_BLACK = 509,
  KLV_MSG_INK_ORANGE = 510,
  KLV_MSG_INK_WHITE = 511
};

/* The English text of a localised message, or "" when the number is unknown.
 * The text is static; the caller must not free it. */
KLV_API const char* klv_message(int32_t id);

KLV_END_C

#ifdef __cplusplus
/* Convenience for the library's own code: the source position is filled in. */
#define KLV_LOG(level, ...) ErrorLogf((level), __FILE__, __LINE__, __VA_ARGS__)
#endif

#endif
