/* SPDX-License-Identifier: MIT */
/* Handle types of the kernel services, shared by every public header. */
#ifndef KLV_KERNEL_TYPES_H
#define KLV_KERNEL_TYPES_H

#ifdef __cplusplus
extern "C" {
#endif

/* A file stream: a host file, a volume member, a memory block or a layer over
 * another stream. Opaque to callers. */
typedef struct SFilemux SFilemux;
/* A volume: one host file (or member) that holds many member files. */
typedef struct SOVolume SOVolume;

/* A volume handle of null or of all ones means the host file system. */
#define KLV_HOST_VOLUME ((SOVolume*)0)
#define KLV_IS_HOST_VOLUME(v) ((v) == (SOVolume*)0 || (v) == (SOVolume*)~(unsigned long)0)

#ifdef __cplusplus
}
#endif

#endif
