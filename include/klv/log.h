/* SPDX-License-Identifier: MIT */
/* The Logger layer and the built-in message table.
 *
 * ErrorLog writes one line "LEVEL text (file:line)" to stderr, or appends it to
 * the file named by the environment variable KLV_LOG (read at first use). */
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
/* printf-style form of ErrorLog. */
KLV_API void ErrorLogf(int32_t level, const char* source_file, int32_t line, const char* format,
                       ...) __attribute__((format(printf, 4, 5)));

/* The English text of a localised message, or "" when the number is unknown. */
KLV_API const char* klv_message(int32_t id);

KLV_END_C

#ifdef __cplusplus
/* Convenience for the library's own code: the source position is filled in. */
#define KLV_LOG(level, ...) ErrorLogf((level), __FILE__, __LINE__, __VA_ARGS__)
#endif

#endif
