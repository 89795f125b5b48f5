/* SPDX-License-Identifier: MIT */
/* Volumes and host file helpers.
 *
 * A volume is one host file that holds many member files (an SQLite database
 * underneath; see src/kernel/README.md). Members are reached with Ovfopen
 * (volume, ".\\name", mode). A member may itself be opened as a volume.
 * Member data carries checksums: a read that meets damaged data fails (a
 * short count and a log line naming the volume and member) rather than give
 * changed bytes.
 *
 * Results: functions named as questions or actions return 1 on success and 0
 * on failure (with a log line saying why), unless stated otherwise. */
#ifndef KLV_KERNEL_VOLUME_H
#define KLV_KERNEL_VOLUME_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* VOpen modes. */
enum {
  KLV_VOL_READ = 0,   /* read only; the volume must exist */
  KLV_VOL_UPDATE = 1, /* read and write an existing volume */
  KLV_VOL_CREATE = 2  /* read and write; created when missing (an empty file counts as missing) */
};

/* Attribute bits of a find record and of the `attributes` arguments. */
enum { KLV_FA_NORMAL = 0, KLV_FA_READONLY = 1, KLV_FA_HIDDEN = 2, KLV_FA_DIR = 16 };

/* One directory entry found by Ofindfirst/Ofindnext or VFindfirst/VFindnext. */
typedef struct SFindRec {
  char name[260];      /* file name without its folder */
  uint32_t attributes; /* KLV_FA_* */
  uint32_t time_write; /* modification time, seconds since 1970 (low 32 bits) */
  uint32_t size_low;   /* size in bytes, low and high 32 bits */
  uint32_t size_high;
  uint32_t file_id; /* a number that names the file on its device (inode or member id) */
  void* search;     /* the search in progress; released by Ofindclose */
} SFindRec;

/* Opens a volume: a host file when parent is null, else a member of parent.
 * Null while it cannot be opened; in particular a second writer gets null
 * while another process or handle holds the volume open for writing. */
KLV_API SOVolume* VOpen(SOVolume* parent, const char* path, int32_t mode);
/* Commits what was written and closes. 0 on success, -1 when the commit failed. */
KLV_API int32_t VClose(SOVolume* volume);
/* Commits what was written so far; the volume stays open and locked. 1 on
 * success, 0 on failure. A nested volume is also written back into its member
 * (the parent commits it at its own VFlush or VClose). */
KLV_API int32_t VFlush(SOVolume* volume);
/* Removes a member (or a host file when volume is null). */
KLV_API int32_t VRemove(SOVolume* volume, const char* name);
KLV_API int32_t VRename(SOVolume* volume, const char* from, const char* to);
/* The host path of the volume's file (for a nested volume: the parent's path,
 * a '|' and the member name). Owned by the volume. */
KLV_API const char* VGetFName(SOVolume* volume);
/* Makes a folder inside the volume. */
KLV_API int32_t VMakeVDir(SOVolume* volume, const char* name);
/* Lists members matching a pattern with '*' and '?' (for example ".\\*"),
 * folders included; letter case is ignored. The search is released when
 * VFindnext reaches the end, or by Ofindclose when stopping early. */
KLV_API int32_t VFindfirst(SOVolume* volume, const char* pattern, SFindRec* record);
KLV_API int32_t VFindnext(SFindRec* record);
/* Verifies a volume: SQLite's check of the file's structure, every member's
 * row (name, size, time) against its check, and every chunk below each
 * member's size against its checksum (a chunk missing there is damage too).
 * `report` (may be null) receives each finding with the member's name ("" for
 * the volume as a whole) and a line of text; `fault` is 1 for damage and 0
 * for remarks, such as chunks written before volumes kept checksums. Gives
 * the number of faults (0: sound), or -1 when volume is null. Reads the whole
 * file; members open for writing are checked as last stored. */
typedef void (*VCheckReport)(void* context, const char* member, const char* text, int32_t fault);
KLV_API int32_t VCheck(SOVolume* volume, VCheckReport report, void* context);
/* 1 when the host file (or member) is an SQLite volume. */
KLV_API int32_t VIsVolume(SOVolume* parent, const char* path);

/* Host file helpers; volume null means the host file system. Ofileexists
 * counts a folder only when attributes has KLV_FA_DIR. Ocopyfile writes under a
 * temporary name beside the target and renames it over the target. */
KLV_API int32_t Ofileexists(SOVolume* volume, const char* path, uint32_t attributes);
KLV_API int32_t Ocopyfile(SOVolume* src_volume, const char* src, SOVolume* dst_volume,
                          const char* dst);
KLV_API int32_t Oremove(SOVolume* volume, const char* path);
KLV_API int32_t Orename(SOVolume* volume, const char* from, const char* to);
/* Finds the first entry matching a pattern ('*' and '?' in the last part,
 * letter case ignored). Folders are found only with KLV_FA_DIR in attributes,
 * names starting with '.' only with KLV_FA_HIDDEN. */
KLV_API int32_t Ofindfirst(SOVolume* volume, const char* pattern, uint32_t attributes,
                           SFindRec* record);
KLV_API int32_t Ofindnext(SFindRec* record);
KLV_API void Ofindclose(SFindRec* record);
/* Removes every file matching the pattern; the count removed, or -1. */
KLV_API int32_t Oremovefiles(SOVolume* volume, const char* pattern);

KLV_END_C

#endif
