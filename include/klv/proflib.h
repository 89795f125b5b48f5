/* SPDX-License-Identifier: MIT */
/* Profile libraries: each printer's volume "<printer>.PrnLib" of colour
 * profiles, calibration tables, swatches and readings, with one index member
 * "!ProfLib.Index" (settings text, sections "Profiles", "Defaults" and
 * "Models").
 *
 * Every operation comes in up to three layers:
 *   PL_i...  on a loaded index (PL_index_load / PL_index_new);
 *   PL_v...  on an open library volume: loads the index, does the one change
 *            or lookup, writes the index back when it changed;
 *   PL_...   on a printer name: finds and opens the library (retrying while
 *            another process holds it open for writing), calls the PL_v form
 *            and closes it.
 * The volume admits one writer at a time, so one PL_v or PL_ call is one
 * atomic read-modify-write of the index. Callers that need a longer sequence
 * take entry locks (the lock members "!ProfIndex_Lock" and "!DefIndex_Lock")
 * around it.
 *
 * Status codes (PL_OK ...) are returned by the operations documented as
 * "status"; the exist operations return 1 or 0.
 *
 * Keys: a profile is keyed by (media, setting, pattern, type, name), a model
 * by (media, setting, third field, type, name), a default entry by (media,
 * setting, pattern). In lookups an empty text field, and a type below 0,
 * match anything: the first entry in key order agreeing on the other fields
 * is taken. Patterns are pattern texts ("Stochastic", "Screen(85)"); the
 * index keys hold their numbers. Each field holds at most PL_FIELD_MAX - 1
 * characters; "~" is removed from fields. */
#ifndef KLV_PROFLIB_H
#define KLV_PROFLIB_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

#define PL_FIELD_MAX 81 /* bytes of a key field, terminator included */
#define PL_FILE_MAX 260 /* bytes of a file name, terminator included */
#define PL_KEY_MAX 420  /* bytes of a whole key text, terminator included */
#define PL_INDEX_NAME "!ProfLib.Index"
#define PL_PROFILE_LOCK_NAME "!ProfIndex_Lock"
#define PL_DEFAULT_LOCK_NAME "!DefIndex_Lock"
#define PL_LOCK_RECORD_SIZE 552

/* Status codes. */
enum {
  PL_OK = 0,
  PL_ERR_ARGUMENT = 1, /* bad arguments */
  PL_ERR_NO_INDEX = 2, /* no index */
  PL_ERR_IO = 3,       /* the index or a lock file could not be read or written */
  PL_ERR_KEY = 4,      /* a key could not be made, memory ran out, or a lock count is full */
  PL_ERR_OPEN = 5,     /* the library could not be found or opened */
  PL_ERR_NOT_FOUND = 6,
  PL_ERR_EXISTS = 7, /* an entry with the same key is already there */
  PL_ERR_LOCKED = 8  /* the lock is held by another owner, or the lock file could not be opened */
};

/* Lock kinds. */
enum { PL_LOCK_EXCLUSIVE = 0, PL_LOCK_SHARED = 1 };

/* Entry flags: the entry was created as a share of another entry. */
#define PL_FLAG_SHARE 0x20000000u

/* A loaded index: the three sorted lists. */
typedef struct PL_INDEX PL_INDEX;

/* A profile or model entry. For a model, `pattern` holds the third field.
 * `shares` (profiles) or references (models): one element per key, the
 * strings [media, setting, pattern-or-third]; null or empty when none. */
typedef struct PL_ENTRY {
  char media[PL_FIELD_MAX];
  char setting[PL_FIELD_MAX];
  char pattern[PL_FIELD_MAX];
  int32_t type; /* profile type; below 0 in a lookup: any */
  char owner[PL_FIELD_MAX];
  char name[PL_FIELD_MAX];
  uint32_t flags; /* PL_FLAG_* and the owner's own bits */
  char table[PL_FILE_MAX];
  char readings[PL_FILE_MAX];
  SSTRAL* shares;
} PL_ENTRY;

/* One item of a default entry: the default profile name of one type. */
typedef struct PL_DEFAULT_ITEM {
  uint32_t type;
  char name[PL_FIELD_MAX];
} PL_DEFAULT_ITEM;

/* A default entry: per media, setting and pattern, the default of each type. */
typedef struct PL_DEFAULT_ENTRY {
  char media[PL_FIELD_MAX];
  char setting[PL_FIELD_MAX];
  char pattern[PL_FIELD_MAX];
  int32_t count;
  int32_t capacity;
  PL_DEFAULT_ITEM* items; /* owned; change through the PL_..._default_item calls */
} PL_DEFAULT_ENTRY;

/* The library information record (member ".\\!Information", block "Lib_Info"). */
typedef struct PL_INFO {
  char DefaultProfile[PL_FILE_MAX];
  uint32_t Version;
} PL_INFO;

/* ---- Library ---------------------------------------------------------------- */

/* The path of a printer's library into path_out (KLV_PATH_MAX bytes): outside
 * server mode "<printer folder>\INFO\PRINTER.PrnLib" when that file exists,
 * else "<printer>.PrnLib" on the "Server" search path. Status. */
KLV_API int32_t PL_find_library(const char* printer, char* path_out);
/* Finds and opens a printer's library with VOpen mode `mode`, retrying up to
 * 1,800 times 100 ms apart; a library not found is created beside the
 * printer's folder's INFO folder when mode is KLV_VOL_CREATE. Null on
 * failure. Close it with VClose. */
KLV_API SOVolume* PL_open_library(const char* printer, int32_t mode);
/* Finds a printer's library with one look (no retries) and opens it with
 * VOpen mode `mode`, retrying while another process holds it for at most
 * `wait_ms` milliseconds. For callers that go on without a library: a
 * printer that has none costs no wait. Null when there is none or it cannot
 * be opened in time. Close it with VClose. */
KLV_API SOVolume* PL_open_library_briefly(const char* printer, int32_t mode, int32_t wait_ms);
/* How often and how far apart PL_open_library retries (for tests and tools;
 * both 0 restore the defaults). Returns 1. */
KLV_API int32_t PL_set_open_retries(int32_t attempts, int32_t pause_ms);

/* ---- Index --------------------------------------------------------------------- */

KLV_API PL_INDEX* PL_index_new(void);
/* Loads the index member `path` (PL_INDEX_NAME when null) of the volume, or a
 * host file when volume is null. A missing member gives an empty index; an
 * unreadable or malformed one gives null (logged). */
KLV_API PL_INDEX* PL_index_load(SOVolume* volume, const char* path);
/* Writes the whole index. Status: 1 without a path (and no volume), 2
 * without an index, 3 when a section could not be written. */
KLV_API int32_t PL_index_save(SOVolume* volume, const char* path, const PL_INDEX* index);
KLV_API void PL_index_free(PL_INDEX* index);
/* Reads an index from text in memory (for checks and fuzzing); null when malformed. */
KLV_API PL_INDEX* PL_index_parse(const char* text, int32_t length);

/* ---- Information ---------------------------------------------------------------- */

/* The record; defaults ("DefaultCMYK.ICC", version 0) when the member is
 * missing or unreadable. Null only when memory runs out. */
KLV_API PL_INFO* PL_get_info(SOVolume* volume);
KLV_API int32_t PL_put_info(SOVolume* volume, const PL_INFO* info); /* status */
KLV_API PL_INFO* PL_new_info(void);
KLV_API void PL_free_info(PL_INFO* info);

/* ---- Entry objects ----------------------------------------------------------------- */

KLV_API PL_ENTRY* PL_new_profile_entry(void);
KLV_API void PL_free_profile_entry(PL_ENTRY* entry);
KLV_API PL_ENTRY* PL_new_model_entry(void);
KLV_API void PL_free_model_entry(PL_ENTRY* entry);
KLV_API PL_DEFAULT_ENTRY* PL_new_default_entry(void);
KLV_API void PL_free_default_entry(PL_DEFAULT_ENTRY* entry);
/* Fills an entry's key fields (any may be null: left empty). Returns 1. */
KLV_API int32_t PL_set_entry_key(PL_ENTRY* entry, const char* media, const char* setting,
                                 const char* pattern, int32_t type, const char* name);

/* Default items. PL_find_default_item gives the item's position or -1. The
 * others give a status; adding a type already present replaces its name. */
KLV_API int32_t PL_find_default_item(const PL_DEFAULT_ENTRY* entry, uint32_t type);
KLV_API int32_t PL_add_default_item(PL_DEFAULT_ENTRY* entry, uint32_t type, const char* name);
KLV_API int32_t PL_remove_default_item(PL_DEFAULT_ENTRY* entry, int32_t position);
KLV_API int32_t PL_remove_default_item_type(PL_DEFAULT_ENTRY* entry, uint32_t type);
KLV_API int32_t PL_update_default_item_type(PL_DEFAULT_ENTRY* entry, uint32_t type,
                                            const char* name);

/* ---- Profile entries (status unless stated) ------------------------------------------- */

/* Add: refused with PL_ERR_EXISTS when an entry with the same key exists.
 * Update: replaces the entry with the same key (PL_ERR_NOT_FOUND when none)
 * and creates a share entry for each share key that has none. Get: the
 * first entry matching the (possibly partial) key into `out` (its share list
 * replaced). Remove: the first matching entry. Exist: 1 or 0. List: a new
 * list (caller frees) with one element per matching entry, the strings
 * [media, setting, pattern, type in hexadecimal, name]. Table: the matching
 * entry's table file name into out (PL_FILE_MAX bytes). Share: adds the
 * share key (share media, setting, pattern) to the entry and creates its
 * share entry (flag PL_FLAG_SHARE), copied to `out` when given; an entry that
 * is itself a share takes no shares (PL_ERR_ARGUMENT). */
KLV_API int32_t PL_iadd_profile_entry(PL_INDEX* index, const PL_ENTRY* entry);
KLV_API int32_t PL_vadd_profile_entry(SOVolume* volume, const PL_ENTRY* entry);
KLV_API int32_t PL_add_profile_entry(const char* printer, const PL_ENTRY* entry);
KLV_API int32_t PL_iupdate_profile_entry(PL_INDEX* index, const PL_ENTRY* entry);
KLV_API int32_t PL_vupdate_profile_entry(SOVolume* volume, const PL_ENTRY* entry);
KLV_API int32_t PL_update_profile_entry(const char* printer, const PL_ENTRY* entry);
KLV_API int32_t PL_iget_profile_entry(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      PL_ENTRY* out);
KLV_API int32_t PL_vget_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      PL_ENTRY* out);
KLV_API int32_t PL_get_profile_entry(const char* printer, const char* media, const char* setting,
                                     const char* pattern, int32_t type, const char* name,
                                     PL_ENTRY* out);
KLV_API int32_t PL_iremove_profile_entry(PL_INDEX* index, const char* media, const char* setting,
                                         const char* pattern, int32_t type, const char* name);
KLV_API int32_t PL_vremove_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                         const char* pattern, int32_t type, const char* name);
KLV_API int32_t PL_remove_profile_entry(const char* printer, const char* media, const char* setting,
                                        const char* pattern, int32_t type, const char* name);
KLV_API int32_t PL_iexist_profile_entry(const PL_INDEX* index, const char* media,
                                        const char* setting, const char* pattern, int32_t type,
                                        const char* name);
KLV_API int32_t PL_vexist_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                        const char* pattern, int32_t type, const char* name);
KLV_API int32_t PL_exist_profile_entry(const char* printer, const char* media, const char* setting,
                                       const char* pattern, int32_t type, const char* name);
KLV_API int32_t PL_iget_profile_list(const PL_INDEX* index, const char* media, const char* setting,
                                     const char* pattern, int32_t type, SSTRAL** out);
KLV_API int32_t PL_vget_profile_list(SOVolume* volume, const char* media, const char* setting,
                                     const char* pattern, int32_t type, SSTRAL** out);
KLV_API int32_t PL_get_profile_list(const char* printer, const char* media, const char* setting,
                                    const char* pattern, int32_t type, SSTRAL** out);
KLV_API int32_t PL_iget_profile_table(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      char* out);
KLV_API int32_t PL_vget_profile_table(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      char* out);
KLV_API int32_t PL_get_profile_table(const char* printer, const char* media, const char* setting,
                                     const char* pattern, int32_t type, const char* name,
                                     char* out);
KLV_API int32_t PL_iadd_profile_share(PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      const char* share_media, const char* share_setting,
                                      const char* share_pattern, PL_ENTRY* out);
KLV_API int32_t PL_vadd_profile_share(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      const char* share_media, const char* share_setting,
                                      const char* share_pattern, PL_ENTRY* out);
KLV_API int32_t PL_add_profile_share(const char* printer, const char* media, const char* setting,
                                     const char* pattern, int32_t type, const char* name,
                                     const char* share_media, const char* share_setting,
                                     const char* share_pattern, PL_ENTRY* out);

/* The medias that have profiles: one element [media] each, in key order. */
KLV_API int32_t PL_iget_media_list(const PL_INDEX* index, SSTRAL** out);
KLV_API int32_t PL_vget_media_list(SOVolume* volume, SSTRAL** out);
KLV_API int32_t PL_get_media_list(const char* printer, SSTRAL** out);
/* The swatch members of the volume for a media (null or empty: all): one
 * element [member name, media, setting, pattern, type, name] each. */
KLV_API int32_t PL_vget_swatch_list(SOVolume* volume, const char* media, SSTRAL** out);
KLV_API int32_t PL_get_swatch_list(const char* printer, const char* media, SSTRAL** out);

/* ---- Defaults ------------------------------------------------------------------------- */

KLV_API int32_t PL_iadd_default_entry(PL_INDEX* index, const PL_DEFAULT_ENTRY* entry);
KLV_API int32_t PL_vadd_default_entry(SOVolume* volume, const PL_DEFAULT_ENTRY* entry);
KLV_API int32_t PL_add_default_entry(const char* printer, const PL_DEFAULT_ENTRY* entry);
KLV_API int32_t PL_iupdate_default_entry(PL_INDEX* index, const PL_DEFAULT_ENTRY* entry);
KLV_API int32_t PL_vupdate_default_entry(SOVolume* volume, const PL_DEFAULT_ENTRY* entry);
KLV_API int32_t PL_update_default_entry(const char* printer, const PL_DEFAULT_ENTRY* entry);
KLV_API int32_t PL_iget_default_entry(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, PL_DEFAULT_ENTRY* out);
KLV_API int32_t PL_vget_default_entry(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, PL_DEFAULT_ENTRY* out);
KLV_API int32_t PL_get_default_entry(const char* printer, const char* media, const char* setting,
                                     const char* pattern, PL_DEFAULT_ENTRY* out);
KLV_API int32_t PL_iremove_default_entry(PL_INDEX* index, const char* media, const char* setting,
                                         const char* pattern);
KLV_API int32_t PL_vremove_default_entry(SOVolume* volume, const char* media, const char* setting,
                                         const char* pattern);
KLV_API int32_t PL_remove_default_entry(const char* printer, const char* media, const char* setting,
                                        const char* pattern);
KLV_API int32_t PL_iexist_default_entry(const PL_INDEX* index, const char* media,
                                        const char* setting, const char* pattern);
KLV_API int32_t PL_vexist_default_entry(SOVolume* volume, const char* media, const char* setting,
                                        const char* pattern);
KLV_API int32_t PL_exist_default_entry(const char* printer, const char* media, const char* setting,
                                       const char* pattern);
/* The default profile name of `type` for media, setting and pattern into
 * name_out (PL_FIELD_MAX bytes). Status. */
KLV_API int32_t PL_iget_default_profile(const PL_INDEX* index, const char* media,
                                        const char* setting, const char* pattern, uint32_t type,
                                        char* name_out);
/* The table file of a named profile into out (PL_FILE_MAX bytes); an empty
 * name means the default profile of the type; when the named entry does not
 * exist the default profile's table is tried. Status. */
KLV_API int32_t PL_iget_named_profile(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, uint32_t type, const char* name,
                                      char* out);
KLV_API int32_t PL_vget_named_profile(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, uint32_t type, const char* name,
                                      char* out);
KLV_API int32_t PL_get_named_profile(const char* printer, const char* media, const char* setting,
                                     const char* pattern, uint32_t type, const char* name,
                                     char* out);

/* ---- Models (the entry's `pattern` is the third field) -------------------------------- */

KLV_API int32_t PL_iadd_model_entry(PL_INDEX* index, const PL_ENTRY* entry);
KLV_API int32_t PL_vadd_model_entry(SOVolume* volume, const PL_ENTRY* entry);
KLV_API int32_t PL_add_model_entry(const char* printer, const PL_ENTRY* entry);
KLV_API int32_t PL_iupdate_model_entry(PL_INDEX* index, const PL_ENTRY* entry);
KLV_API int32_t PL_vupdate_model_entry(SOVolume* volume, const PL_ENTRY* entry);
KLV_API int32_t PL_update_model_entry(const char* printer, const PL_ENTRY* entry);
KLV_API int32_t PL_iget_model_entry(const PL_INDEX* index, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name,
                                    PL_ENTRY* out);
KLV_API int32_t PL_vget_model_entry(SOVolume* volume, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name,
                                    PL_ENTRY* out);
KLV_API int32_t PL_get_model_entry(const char* printer, const char* media, const char* setting,
                                   const char* third, int32_t type, const char* name,
                                   PL_ENTRY* out);
KLV_API int32_t PL_iremove_model_entry(PL_INDEX* index, const char* media, const char* setting,
                                       const char* third, int32_t type, const char* name);
KLV_API int32_t PL_vremove_model_entry(SOVolume* volume, const char* media, const char* setting,
                                       const char* third, int32_t type, const char* name);
KLV_API int32_t PL_remove_model_entry(const char* printer, const char* media, const char* setting,
                                      const char* third, int32_t type, const char* name);
KLV_API int32_t PL_iexist_model_entry(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* third, int32_t type, const char* name);
KLV_API int32_t PL_vexist_model_entry(SOVolume* volume, const char* media, const char* setting,
                                      const char* third, int32_t type, const char* name);
KLV_API int32_t PL_exist_model_entry(const char* printer, const char* media, const char* setting,
                                     const char* third, int32_t type, const char* name);
KLV_API int32_t PL_iget_model_list(const PL_INDEX* index, const char* media, const char* setting,
                                   const char* third, int32_t type, SSTRAL** out);
KLV_API int32_t PL_vget_model_list(SOVolume* volume, const char* media, const char* setting,
                                   const char* third, int32_t type, SSTRAL** out);
KLV_API int32_t PL_get_model_list(const char* printer, const char* media, const char* setting,
                                  const char* third, int32_t type, SSTRAL** out);
KLV_API int32_t PL_iget_model_table(const PL_INDEX* index, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name, char* out);
KLV_API int32_t PL_vget_model_table(SOVolume* volume, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name, char* out);
KLV_API int32_t PL_get_model_table(const char* printer, const char* media, const char* setting,
                                   const char* third, int32_t type, const char* name, char* out);

/* ---- Entry locks (status) ---------------------------------------------------------------
 * Counted per key and owner (this process): a process may take a lock again
 * and must release it as often. Exclusive: refused (PL_ERR_LOCKED) while
 * another owner holds any lock on the key. Shared: refused while another
 * owner holds an exclusive lock and this one holds none. A count at 255
 * refuses with PL_ERR_KEY. Records of owners that are no longer running are
 * dropped whenever a lock file is read. Unlock all drops every record of this
 * process in that lock file. */
KLV_API int32_t PL_vlock_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                       const char* pattern, int32_t type, const char* name,
                                       int32_t kind);
KLV_API int32_t PL_lock_profile_entry(const char* printer, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      int32_t kind);
KLV_API int32_t PL_vunlock_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                         const char* pattern, int32_t type, const char* name,
                                         int32_t kind);
KLV_API int32_t PL_unlock_profile_entry(const char* printer, const char* media, const char* setting,
                                        const char* pattern, int32_t type, const char* name,
                                        int32_t kind);
KLV_API int32_t PL_vunlockall_profile_entry(SOVolume* volume);
KLV_API int32_t PL_unlockall_profile_entry(const char* printer);
KLV_API int32_t PL_vlock_default_entry(SOVolume* volume, const char* media, const char* setting,
                                       const char* pattern, int32_t kind);
KLV_API int32_t PL_lock_default_entry(const char* printer, const char* media, const char* setting,
                                      const char* pattern, int32_t kind);
KLV_API int32_t PL_vunlock_default_entry(SOVolume* volume, const char* media, const char* setting,
                                         const char* pattern, int32_t kind);
KLV_API int32_t PL_unlock_default_entry(const char* printer, const char* media, const char* setting,
                                        const char* pattern, int32_t kind);
KLV_API int32_t PL_vunlockall_default_entry(SOVolume* volume);
KLV_API int32_t PL_unlockall_default_entry(const char* printer);
KLV_API int32_t PL_vlock_model_entry(SOVolume* volume, const char* media, const char* setting,
                                     const char* third, int32_t type, const char* name,
                                     int32_t kind);
KLV_API int32_t PL_lock_model_entry(const char* printer, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name,
                                    int32_t kind);
KLV_API int32_t PL_vunlock_model_entry(SOVolume* volume, const char* media, const char* setting,
                                       const char* third, int32_t type, const char* name,
                                       int32_t kind);
KLV_API int32_t PL_unlock_model_entry(const char* printer, const char* media, const char* setting,
                                      const char* third, int32_t type, const char* name,
                                      int32_t kind);
KLV_API int32_t PL_vunlockall_model_entry(SOVolume* volume);
KLV_API int32_t PL_unlockall_model_entry(const char* printer);

/* ---- Maintenance --------------------------------------------------------------------- */

/* Drops share entries whose original is gone and index references to files
 * that are not in the volume, and rewrites the index. Status. */
KLV_API int32_t PL_vdefragment_library(SOVolume* volume);
/* Rewrites an index read in an older form (version 0 profiles) in the
 * current form. Status. */
KLV_API int32_t PL_vconvert_library(SOVolume* volume);
/* Appends a verification report for the library at host path `library` to
 * the text file `report`: medias not among `valid_medias` (elements [media];
 * null: not checked), files the index references that the volume lacks,
 * members the index does not reference, swatches without their media model
 * and linearizations without media models. `printer` names the printer in
 * the report; `model_file` (may be null) names the media model file checked
 * when is_model_file is set. Returns the number of errors found, or -1 when
 * the library or the report cannot be opened. */
KLV_API int32_t PL_verify_library(const char* library, const char* report,
                                  const SSTRAL* valid_medias, int32_t is_model_file,
                                  const char* printer, const char* model_file);
/* Removes every profile, default and model entry of a media (and the files
 * they name). Status. */
KLV_API int32_t PL_vremove_media_profiles(SOVolume* volume, const char* media);
KLV_API int32_t PL_remove_media_profiles(const char* printer, const char* media);
/* Copies every profile and default entry of media `from` (with its files) to
 * media `to`; entries already there are kept. Status. */
KLV_API int32_t PL_vcopy_media_profiles(SOVolume* volume, const char* from, const char* to);
KLV_API int32_t PL_copy_media_profiles(const char* printer, const char* from, const char* to);

/* Member names of a profile's files, built from its key into out
 * (PL_FILE_MAX bytes); 1, or 0 when a field is too long. Tables end ".icc",
 * readings ".rdg", model tables ".mdl", swatches ".swt". */
KLV_API int32_t PL_make_table_path(char* out, const char* media, const char* setting,
                                   const char* pattern, int32_t type, const char* name);
KLV_API int32_t PL_make_readings_path(char* out, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name);
KLV_API int32_t PL_make_modeltable_path(char* out, const char* media, const char* setting,
                                        const char* third, int32_t type, const char* name);
KLV_API int32_t PL_make_modelswatch_path(char* out, const char* media, const char* setting,
                                         const char* third, int32_t type, const char* name);
KLV_API int32_t PL_make_swatch_path(char* out, const char* media, const char* setting,
                                    const char* pattern, int32_t type, const char* name);
/* Splits a swatch member name into its key (each output PL_FIELD_MAX bytes,
 * may be null). 1, or 0 when it is not a swatch name. */
KLV_API int32_t PL_split_swatch_path(const char* path, char* media, char* setting, char* pattern,
                                     int32_t* type, char* name);

/* ---- Keys --------------------------------------------------------------------------- */

/* Key texts into out (PL_KEY_MAX bytes); 1, or 0 when a field is too long.
 * A type below 0 is written as an empty field. */
KLV_API int32_t PI_make_key(char* out, const char* media, const char* setting, const char* pattern,
                            int32_t type, const char* name);
KLV_API int32_t PI_make_model_key(char* out, const char* media, const char* setting,
                                  const char* third, int32_t type, const char* name);
KLV_API int32_t PI_make_reference_key(char* out, const char* a, const char* b, const char* c,
                                      const char* d);
/* Splits keys (outputs PL_FIELD_MAX bytes, may be null); 0 when a field has
 * PL_FIELD_MAX characters or more. */
KLV_API int32_t PI_split_key(const char* key, char* media, char* setting, char* pattern,
                             int32_t* type, char* name);
KLV_API int32_t PI_split_model_key(const char* key, char* media, char* setting, char* third,
                                   int32_t* type, char* name);
KLV_API int32_t PI_split_reference_key(const char* key, char* a, char* b, char* c, char* d);
/* Compares two key texts field by field: an empty field of `a` matches
 * anything; otherwise fields compare without regard to letter case. <0, 0, >0. */
KLV_API int32_t PI_compare_keys(const char* a, const char* b);
/* A hexadecimal type, or -1 when the text holds none. */
KLV_API int32_t PI_map_type(const char* text);

KLV_END_C

#endif
