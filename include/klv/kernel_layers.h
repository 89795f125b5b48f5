/* SPDX-License-Identifier: MIT */
/* Streams over memory and layers over other streams: memory streams, the
 * compression layer and the enciphering layer. */
#ifndef KLV_KERNEL_LAYERS_H
#define KLV_KERNEL_LAYERS_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* ---- Memory streams --------------------------------------------------- */

/* A read-only stream over the caller's block, which must stay valid until
 * the stream is closed. Writes move nothing. Null when data is null and size
 * is not 0. */
KLV_API SFilemux* Omemopen(const void* data, size_t size);
/* An empty block that grows as it is written; it can be read, sought and
 * rewritten like a file. Seeking past the end and writing there fills the
 * gap with zeros. */
KLV_API SFilemux* Omemcreate(void);
/* The block of a memory stream and its size in bytes (the furthest byte
 * written, for Omemcreate). The pointer stays valid until the next write or
 * Oclose. Null (and *size 0) for a stream that is not a memory stream. */
KLV_API const void* Omemdata(SFilemux* stream, size_t* size);

/* ---- Compression layer ------------------------------------------------ */

/* A compressed run (zlib's deflate format) read from or written to a stream.
 * The layer reads and writes at the stream's current position and does not
 * own the stream: detach the layer, then close the stream. */
typedef struct SLZW SLZW;

/* Attaches for reading (mode 'r') or writing (mode 'w'). `parameter` is the
 * compression setting the caller stores: a low byte of 1 to 9 is the deflate
 * level (1 fastest), any other value the default level; it is ignored for
 * reading. Null for a null stream or another mode. */
KLV_API SLZW* LZWAttach(SFilemux* stream, int32_t mode, int32_t parameter);
/* Decompresses up to `count` bytes; the count delivered. Fewer at the end of
 * the run, and on damaged or cut compressed data (logged once per run). */
KLV_API size_t LZWRead(SLZW* lzw, void* buffer, size_t count);
/* Compresses `count` bytes; the count taken, or 0 when the stream refused
 * compressed data (that run is then lost). */
KLV_API size_t LZWWrite(SLZW* lzw, const void* buffer, size_t count);
/* Starts a new run at the stream's current position, dropping what the layer
 * holds of the old one. Reading: seek the stream back to where the run
 * starts, then restart to read it again from its first byte. Writing: seek
 * the stream back to 0, then restart to write the data afresh (bytes of the
 * old run beyond the new one stay in the stream and are never read). 0 on
 * success, -1 on failure. */
KLV_API int32_t LZWRestart(SLZW* lzw);
/* Ends the run (writing: compresses what is pending and writes the end of the
 * run to the stream) and frees the layer; the stream stays open. 0 on
 * success, -1 when compressed data could not be written or for a null handle. */
KLV_API int32_t LZWDetach(SLZW* lzw);

/* ---- Enciphering layer ------------------------------------------------ */

/* A stream that enciphers what is written and deciphers what is read,
 * byte for byte at the same positions as the stream below it, so it seeks,
 * reads and writes like the stream itself. This is obfuscation to keep data
 * from being read casually, not security: the cipher is a keystream from a
 * small non-cryptographic generator.
 *
 * `key` is a text (null or "" picks the kernel's built-in key). The new
 * stream owns `stream` and closes it when it is closed; when the attach fails
 * (null result) the caller keeps `stream`. */
KLV_API SFilemux* fencrypt_attach(SFilemux* stream, const char* key);

KLV_END_C

#endif
