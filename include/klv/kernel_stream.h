/* SPDX-License-Identifier: MIT */
/* File streams of the kernel: host files and volume members behind one handle.
 *
 * Mode strings are those of C's fopen: 'r' read (the file must exist), 'w'
 * create or truncate, 'a' append, '+' read and write; the letters 'b', 't',
 * 'p' and 'n' are accepted and change nothing on this host ("rb", "wb", "w+",
 * "wt", "at", "rbp", "wbp", "w+tn", "r+b"). Paths may use '\' or '/'.
 *
 * Byte counts: Oread and Owrite return the count moved; a count shorter than
 * asked is failure (or end of file for Oread). */
#ifndef KLV_KERNEL_STREAM_H
#define KLV_KERNEL_STREAM_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* Opens `path` on the host (volume null or all ones) or as a member of
 * `volume`; a member path may begin with ".\\". Null on failure (logged). */
KLV_API SFilemux* Ovfopen(SOVolume* volume, const char* path, const char* mode);
/* Flushes and closes; 0 on success, -1 when data could not be written. */
KLV_API int32_t Oclose(SFilemux* stream);

KLV_API size_t Oread(SFilemux* stream, void* buffer, size_t count);
KLV_API size_t Owrite(SFilemux* stream, const void* buffer, size_t count);
/* origin: 0 start, 1 current, 2 end (SEEK_SET/SEEK_CUR/SEEK_END). 0 success, -1 failure. */
KLV_API int32_t Oseek(SFilemux* stream, int32_t offset, int32_t origin);
KLV_API int32_t Oseeki64(SFilemux* stream, int64_t offset, int32_t origin);
/* Position; -1 on failure. The 32-bit form gives -1 past 2 GiB. */
KLV_API int32_t Otell(SFilemux* stream);
KLV_API int64_t Otelli64(SFilemux* stream);
/* Length in bytes; -1 on failure. The 32-bit form gives -1 past 2 GiB. */
KLV_API int32_t Ofilelen(SFilemux* stream);
KLV_API int64_t Ofileleni64(SFilemux* stream);
/* Non-zero once a read has hit the end of the stream. */
KLV_API int32_t Oeof(SFilemux* stream);
/* Next byte (0..255) or -1 (EOF) at the end or on failure. */
KLV_API int32_t Ogetc(SFilemux* stream);
/* Like fgets: at most size-1 bytes up to and including a newline, zero-terminated.
 * Returns buffer, or null when nothing was read. */
KLV_API char* Ogets(char* buffer, int32_t size, SFilemux* stream);
/* Like fprintf; returns the bytes written or -1. */
KLV_API int32_t Oprintf(SFilemux* stream, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
KLV_API int32_t Oputs(SFilemux* stream, const char* text);
/* Writes buffered data through to the file or volume. 0 success, -1 failure. */
KLV_API int32_t Oflush(SFilemux* stream);

/* Byte-swapping integer moves: the value is stored with its bytes reversed
 * relative to the host (big-endian on this little-endian host). Each returns
 * 1 when the whole integer moved, else 0. */
KLV_API int32_t OreadLongSwab(SFilemux* stream, uint32_t* value);
KLV_API int32_t OreadShortSwab(SFilemux* stream, uint16_t* value);
KLV_API int32_t OwriteLongSwab(SFilemux* stream, uint32_t value);
KLV_API int32_t OwriteShortSwab(SFilemux* stream, uint16_t value);

/* The volume a stream is a member of, or null for host files. */
KLV_API SOVolume* Ovolume(SFilemux* stream);

KLV_END_C

#endif
