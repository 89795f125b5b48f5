/* SPDX-License-Identifier: MIT */
/* Per-user settings in place of a registry.
 *
 * Values live in the settings text file "Registry.info", found as:
 *   1. the file named by the environment variable KLV_REGISTRY, else
 *   2. $XDG_CONFIG_HOME/klv/Registry.info (when XDG_CONFIG_HOME is set), else
 *   3. ~/.config/klv/Registry.info.
 * The file holds one block of `Name { value }` entries, names matched
 * without regard to ASCII letter case:
 *
 *   Registry {
 *     MultiThreadedProcess { 1 }
 *     ServerRequestTimeout { 30 }
 *   }
 *
 * An environment variable with the same name as a value (for example
 * ServerRequestTimeout=60) overrides the file.
 *
 * The setters rewrite the whole file through a temporary file and a rename,
 * so readers see either the old or the new file. They keep the other values;
 * two processes setting values at the same moment may lose one of the two
 * changes. A file that exists but cannot be read is never overwritten. */
#ifndef KLV_REGISTRY_H
#define KLV_REGISTRY_H

#include <stdint.h>

#include "klv/export.h"

KLV_BEGIN_C

/* The registry file's path (the file need not exist): its length, or -1
 * when no path can be formed or it does not fit in `size` bytes. */
KLV_API int32_t klv_registry_path(char* buf, int32_t size);

/* The value as a decimal (or 0x-prefixed hexadecimal) integer; `fallback`
 * when it is absent or not an integer (logged). */
KLV_API int32_t klv_registry_get_int(const char* name, int32_t fallback);
/* Copies the value (cut to size - 1 bytes) and returns 1; 0 and "" when the
 * value is absent. */
KLV_API int32_t klv_registry_get_string(const char* name, char* buf, int32_t size);

/* Store a value in the file (creating the file and its folder when needed).
 * 1 on success. An environment override stays in force for this process. */
KLV_API int32_t klv_registry_set_int(const char* name, int32_t value);
KLV_API int32_t klv_registry_set_string(const char* name, const char* value);

KLV_END_C

#endif
