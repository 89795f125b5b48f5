/* SPDX-License-Identifier: MIT */
/* Print usage accounting: each printer's running account of the media it
 * used and, per ink set, the dots (and millilitres of ink) it fired per ink.
 *
 * The account lives in the file "PrintUse.Info" in the printer's repository
 * folder, as settings text:
 *
 *   PrintUsage {
 *    Media { "Glossy Photo" 1.250000000000000 }
 *    InkSet { "CMYK" 4 {
 *     { "Cyan" 123456 }
 *     { "Magenta" 0 }
 *    } }
 *    InkVolume { "CMYK" 4 {
 *     { "Cyan" 0.000864192000000 }
 *     { "Magenta" 0.000000000000000 }
 *    } }
 *   }
 *
 * Media lines carry an amount (in the unit the caller adds; the job code
 * adds square metres), InkSet blocks the dot count per ink. An InkVolume
 * block follows the InkSet block of a set when an ink of it has a volume:
 * millilitres for every ink of the set. Readers that do not know InkVolume skip it as an
 * unknown key, so the file stays readable by them; an account without
 * volumes is written without InkVolume blocks, exactly as before. Names are
 * always written quoted (an empty name too); a double quote inside a name
 * cannot be written and becomes an apostrophe.
 *
 * Saves write a temporary file beside the account and rename it over the
 * account, so a crash during a save leaves the earlier account whole.
 * printusage_add_to_file and printusage_add_to_printer load, add and save
 * under an exclusive lock (flock on "<file>.lock" beside the account,
 * released by the system if the holder dies), so processes adding to one
 * account at the same time lose nothing; the lock is taken per call, so
 * threads of one process exclude each other as well. An account object
 * belongs to one thread at a time.
 *
 * Media names that begin with '*' carry a tag up to the second '*'
 * ("*Tiled*Glossy"): the tag is dropped and "Glossy" is the media. Media and
 * ink-set names are compared without regard to letter case, ink names
 * exactly. */
#ifndef KLV_USAGE_H
#define KLV_USAGE_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/prntinfo.h"

#ifdef __cplusplus
class CPrintUsage;
#else
typedef struct CPrintUsage CPrintUsage;
#endif

KLV_BEGIN_C

/* The account file's name in the repository folder. */
#define KLV_USAGE_FILE "PrintUse.Info"
/* Most inks (separations) a job's counts may have. */
#define KLV_USAGE_MAX_INKS 32

/* One entry of a dot-count table: an ink, its dots and (optionally) the
 * millilitres of ink those dots hold. A null or empty name ends the table. */
typedef struct usage_ink_count {
  const char* name;
  uint64_t dots;
  double millilitres; /* 0 when not known */
} usage_ink_count;

/* One job's dot counts for an ink set. Each entry adds its dots divided by
 * the divisor, rounded to the nearest whole number ((dots + divisor / 2) /
 * divisor); a divisor of 0 is taken as 1. Millilitres are added as given. */
typedef struct usage_dot_table {
  uint32_t divisor;
  const usage_ink_count* entries;
} usage_dot_table;

/* ---- The account ----------------------------------------------------------- */

KLV_API CPrintUsage* printusage_new(void);
KLV_API void printusage_free(CPrintUsage* usage);

/* Clears the account, remembers the path and reads the file: 1 when its
 * PrintUsage block was read, else 0 with the account empty. */
KLV_API int32_t printusage_load(CPrintUsage* usage, const char* path);
/* The same for the account of a printer: "PrintUse.Info" in its repository
 * folder (prntinfo_find_repository). */
KLV_API int32_t printusage_load_printer(CPrintUsage* usage, const char* printer);
/* 1 when the printer's account file exists. */
KLV_API int32_t printusage_exists(const char* printer);
/* The account file path of a printer into out (KLV_PATH_MAX bytes); 1 when
 * the printer's repository folder is known. */
KLV_API int32_t printusage_printer_file(const char* printer, char* out);
/* Writes the account to path, or to the path last loaded when path is null.
 * 1 when the whole file was written and put in place; 0 otherwise (logged;
 * the earlier file is kept). */
KLV_API int32_t printusage_save(CPrintUsage* usage, const char* path);
/* Removes every ink set and media and forgets the path. */
KLV_API void printusage_reset(CPrintUsage* usage);
/* The path last loaded ("" when none). */
KLV_API const char* printusage_path(const CPrintUsage* usage);

/* Adds amount to a media (created when needed). 1, or 0 on a null name. */
KLV_API int32_t printusage_use_media(CPrintUsage* usage, const char* media, double amount);
/* Adds one job's dot counts to an ink set found by name or number (created
 * with its inks when needed). 1, or 0 on null arguments. */
KLV_API int32_t printusage_use_ink(CPrintUsage* usage, const char* ink_set, int32_t number,
                                   const usage_dot_table* counts);
/* Adds everything in `from` to `usage`, as loading its file would. */
KLV_API int32_t printusage_add(CPrintUsage* usage, const CPrintUsage* from);

/* Loads the account at path (an absent file is an empty account), adds
 * `job` to it and saves it, all under the account's lock. 1 on success; 0
 * when the lock could not be had, the existing file could not be read (it
 * is then left as it is) or the save failed. */
KLV_API int32_t printusage_add_to_file(const char* path, const CPrintUsage* job);
/* The same for the account of a printer. */
KLV_API int32_t printusage_add_to_printer(const char* printer, const CPrintUsage* job);

/* Reading the account: media and ink sets in order of creation. Index
 * functions return 0 for an index out of range; outputs may be null. The
 * name pointers stay valid until the account changes. */
KLV_API int32_t printusage_media_count(const CPrintUsage* usage);
KLV_API int32_t printusage_media(const CPrintUsage* usage, int32_t index, const char** name,
                                 double* amount);
KLV_API int32_t printusage_inkset_count(const CPrintUsage* usage);
KLV_API int32_t printusage_inkset(const CPrintUsage* usage, int32_t index, const char** name,
                                  int32_t* number, int32_t* inks);
KLV_API int32_t printusage_ink(const CPrintUsage* usage, int32_t set, int32_t index,
                               const char** name, uint64_t* dots, double* millilitres);

/* ---- Ink volume and media area ---------------------------------------------- */

/* The volume of one drop of each drop size, in millilitres, from the
 * printer's drop table for a resolution and configuration: drop size k
 * (from 1) is the k-th Data element of the configuration, its volume the
 * element's fourth string in the table's Units ("pl" when empty; also "nl",
 * "ul", "ml"). Writes up to `sizes` values and returns how many drop sizes
 * the configuration has; 0 when it is missing, a volume is missing or
 * negative, or the unit is unknown (logged). */
KLV_API int32_t usage_drop_volumes(const dotinfo* info, const char* resolution, const char* config,
                                   double* millilitres, int32_t sizes);

/* Ink used per separation: millilitres[i] = sum over drop sizes d of
 * dots[i * drop_sizes + d] x drop_ml[d]. One-bit output has one drop size.
 * 1, or 0 on bad arguments (inks outside 1..KLV_USAGE_MAX_INKS). */
KLV_API int32_t usage_ink_millilitres(const double* drop_ml, int32_t drop_sizes,
                                      const uint64_t* dots, int32_t inks, double* millilitres);

/* The area of a printed size given in inches, in square metres (0 when
 * either side is not positive). */
KLV_API double usage_square_metres(double width_inches, double height_inches);

/* One job's consumption: the printed media and size, the ink set, and the
 * dots per ink and drop size (dots[i * drop_sizes + d], drop size d + 1). */
typedef struct usage_job {
  const char* media;
  double width_inches;
  double height_inches;
  const char* ink_set;
  int32_t ink_set_number;
  int32_t inks;
  const char* const* ink_names; /* inks names */
  int32_t drop_sizes;
  const uint64_t* dots;
} usage_job;

/* Adds one job to the account: the media's area in square metres, and per
 * ink the dots of every drop size and their millilitres from the printer's
 * drop table (resolution, config; volumes 0 when info is null). 1, or 0
 * (logged, nothing added) on bad arguments or a drop table that does not
 * cover the job's drop sizes. */
KLV_API int32_t printusage_use_job(CPrintUsage* usage, const usage_job* job, const dotinfo* info,
                                   const char* resolution, const char* config);

KLV_END_C

#endif
