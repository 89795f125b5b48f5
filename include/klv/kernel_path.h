/* SPDX-License-Identifier: MIT */
/* The program's search path and splitting of path texts.
 *
 * The search path is, in order: the folders of the environment variable
 * KLV_PATH (separated by ':'), the folder of the running program, and the
 * installed data folder (share/klv). The "Server" search path is the folders
 * of KLV_SERVER_PATH when that variable is set and not empty, else a folder
 * "Server" under each folder of the ordinary search path.
 *
 * Paths may use '\' or '/'. The C++ helpers (host paths, the folders of a
 * search path) are in klv/kernel_path_cxx.h. */
#ifndef KLV_KERNEL_PATH_H
#define KLV_KERNEL_PATH_H

#include <stdint.h>

#include "klv/export.h"

KLV_BEGIN_C

/* Size of the result buffer of the search functions, terminator included. */
#define KLV_PATH_MAX 4096

/* Sizes of the _splitvpath outputs, terminator included. */
#define KLV_SPLIT_DRIVE 3
#define KLV_SPLIT_DIR 256
#define KLV_SPLIT_FNAME 256
#define KLV_SPLIT_EXT 256

/* Looks for `name` and writes its full path to `result` (KLV_PATH_MAX bytes).
 * A name that already names an existing file or folder (absolute, or relative
 * to the current folder) is copied as it is; otherwise each folder of the
 * search path is tried in order with the name appended, and the first that
 * exists is written with '/' separators. Returns 1 when found; else 0 with
 * result "". A null or empty name, or a null result, gives 0. */
KLV_API int32_t _findinpath(const char* name, char* result);

/* As _findinpath over a named search path: `which` null or "" is the ordinary
 * search path, "Server" (any letter case) the Server search path. Another
 * name gives 0 (logged). */
KLV_API int32_t _findinpath_ex(const char* which, const char* name, char* result);

/* Splits a path into drive, folder, file name and extension. Each output may
 * be null; each is always terminated and cut to its size (KLV_SPLIT_*), never
 * inside a multi-byte UTF-8 character.
 *   drive: "C:" when the path starts with a letter and ':', else "";
 *   dir:   everything up to and including the last '\' or '/' (as written);
 *   fname: the last part without its extension;
 *   ext:   from the last '.' of the last part, dot included; a last part with
 *          nothing but dots before its last dot (".profile", ".", "..") has
 *          no extension and is all file name.
 * "C:\\Jobs\\a.b.tif" gives "C:", "\\Jobs\\", "a.b", ".tif". */
KLV_API void _splitvpath(const char* path, char* drive, char* dir, char* fname, char* ext);

KLV_END_C

#endif
