/* SPDX-License-Identifier: MIT */
/* Calibration tables of a printer.
 *
 * A printer's calibration lives in one volume, its calibration volume (a file
 * whose name ends in ".Calibrate"). The volume holds an index record (the
 * member "Calb.Info", a settings-text block "Calb_Info") and calibration files
 * named by up to four keys joined by "~": base name, media, a third key chosen
 * by the caller (the demo printer uses the resolution) and the halftone pattern
 * number, for example "Linear1~Glossy Photo~720x720~4".
 *
 * Binary calibration files are sequences of chunks. Every chunk but the
 * density chunk is: a four-character tag ("LNTB", "GBTB", "HMTB"), a 32-bit
 * little-endian length of the rest of the chunk, a channel count byte and the
 * payload; all multi-byte values are little-endian:
 *   LNTB  per channel 256 uint16 entries (a linearization table);
 *   GBTB  per channel 256 uint16 entries, then optionally "GBCP" and per
 *         channel a uint16 point count and that many points (x, y doubles);
 *   HMTB  per channel 256 x 256 x 3 uint16 entries;
 *   DNTB  the tag followed directly by 4 x 256 bytes (no length, no count).
 * Text calibration files (settings text) hold one-line tables:
 *   SDTB { p0 p1 p2 ... }       one 0..255 percentage per channel;
 *   SCTB { scale i1 i2 ... }    the limit record of a calibration.
 *
 * Records handed out are allocated by the library and released with the
 * matching free function below. Functions returning int32_t give 1 on success
 * and 0 on failure (with a log line naming the fault) unless stated. */
#ifndef KLV_CALIB_H
#define KLV_CALIB_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* Entries of one linearization or grey-balance channel table. */
#define KLV_CALB_ENTRIES 256
/* Entries of one HMTB channel block (three planes of 256 x 256). */
#define KLV_HMTB_ENTRIES 196608
/* Size of a calibration name buffer and of each key, terminator included. */
#define KLV_CALB_NAME_MAX 260
/* Size of an ink model buffer (get_inkmodel), terminator included. */
#define KLV_CALB_INKMODEL_MAX 84

/* ---- Index record ------------------------------------------------------- */

/* The index record "Calb.Info" of a calibration volume. Alias and
 * substitution rules are elements of two calibration names (from, to); ink
 * models are elements of two strings (name, ink model). The three lists are
 * owned by the record and never null in a record from calbinfo_new or
 * calbinfo_load. */
typedef struct Calb_Info {
  char Swatch[260];         /* the measurement target of this calibration */
  char DefaultMedia[84];    /* media used when the requested one has no file */
  SSTRAL* Aliases;          /* alias rules */
  SSTRAL* Subs;             /* substitution rules */
  char DefaultInkModel[84]; /* ink model when InkModels has no entry */
  SSTRAL* InkModels;        /* { name inkmodel } entries */
} Calb_Info;

/* A new record with three empty lists; null when memory runs out. */
KLV_API Calb_Info* calbinfo_new(void);
/* Frees the lists and the record; returns null. */
KLV_API Calb_Info* calbinfo_free(Calb_Info* record);
/* Reads the block "Calb_Info" from `path` in `volume` ("Calb.Info" when path is
 * null or empty and volume is a real volume; the host file system, where a path
 * is required, when volume is null or all ones). Null on failure. */
KLV_API Calb_Info* calbinfo_load(SOVolume* volume, const char* path);
/* Writes the record as the block "Calb_Info" (same path rules as
 * calbinfo_load); an earlier file is replaced only when the write succeeds. */
KLV_API int32_t calbinfo_save(SOVolume* volume, const char* path, const Calb_Info* record);

/* The ink model of `name`: the second string of the first InkModels entry
 * whose first string equals name without regard to letter case, else
 * DefaultInkModel. `out` holds KLV_CALB_INKMODEL_MAX bytes. 1, or 0 with out
 * emptied when the index record cannot be loaded. */
KLV_API int32_t get_inkmodel(SOVolume* volume, const char* name, char* out);

/* ---- Calibration names and patterns ---------------------------------------- */

/* Builds a calibration name into `out` (KLV_CALB_NAME_MAX bytes): each of base,
 * media and third that is not null (even when empty) with every "~" removed,
 * followed by "~"; then the pattern number when the pattern text is not
 * empty; then one trailing "~" is dropped. Returns 1. */
KLV_API int32_t make_calb_path(char* out, const char* base, const char* media, const char* third,
                               const char* pattern);
/* Splits a calibration name at its "~" into base, media and third (empty when
 * the name ran out), reads the rest as the pattern number and writes its text
 * (with the option after a "-" in the rest, "Screen(85)"). A rest without a
 * number gives an empty pattern. Each output may be null and holds
 * KLV_CALB_NAME_MAX bytes. Returns 1. */
KLV_API int32_t split_calb_path(const char* name, char* base, char* media, char* third,
                                char* pattern);
/* The pattern table itself (get_pattern_num, get_pattern_str,
 * get_pattern_opt) is shared with the print modes: klv/printmode.h. */

/* ---- Volume and search ----------------------------------------------------- */

/* Opens the calibration volume of a printer with VOpen mode `mode`: the file
 * "Info\PRINTER.Calibrate" in the printer's folder (outside server mode), else
 * "<printer>.Calibrate" on the "Server" search path. The path found is copied
 * to `path_out` (KLV_PATH_MAX bytes) when given. A busy volume is retried up
 * to 50 times, 100 ms apart. Null when there is no such file, it is not a
 * volume, or it cannot be opened. Close it with VClose. */
KLV_API SOVolume* open_calb_volume(const char* printer, int32_t mode, char* path_out);

/* Finds the calibration file for (base, media, third, pattern) in the
 * printer's calibration volume, following the index record's alias and
 * substitution rules and its default media. On success writes the volume's
 * path, two backslashes and the member name to `out` (KLV_PATH_MAX bytes) and
 * returns 1; else 0 with out empty. A cycle of rules ends the search. */
KLV_API int32_t find_calb_file(const char* printer, const char* base, const char* media,
                               const char* third, const char* pattern, char* out);
/* The same search in an open volume; writes the bare member name to `out`
 * (KLV_CALB_NAME_MAX bytes). */
KLV_API int32_t find_calb_vfile(SOVolume* volume, const char* base, const char* media,
                                const char* third, const char* pattern, char* out);

/* ---- Linearization tables ------------------------------------------------- */

/* A linearization record: `count` channels of KLV_CALB_ENTRIES entries. */
typedef struct LNTB {
  uint8_t count;
  uint16_t** tables;
} LNTB;

/* `count` zero-filled channel tables and their pointer array; null for count
 * 0 or when memory runs out (nothing is left allocated). */
KLV_API uint16_t** alloc_lntb(int32_t count);
/* Frees each channel table and the array. */
KLV_API void free_lntb(uint16_t** tables, int32_t count);
/* Frees the tables and the record. */
KLV_API void free_linear_tbl(LNTB* record);
/* Reads the first LNTB chunk of the stream (from its start) at `bits` of
 * output precision (1..16; entries are shifted right by 16 - bits). */
KLV_API int32_t read_lntb(SFilemux* stream, int32_t bits, uint16_t*** tables_out,
                          int32_t* count_out);
/* Reads the first DNTB chunk of the stream (from its start) into four channel
 * tables: byte k of a channel becomes entry 255 - k = (255 - byte) x 257. */
KLV_API int32_t read_dntb(SFilemux* stream, int32_t bits, uint16_t*** tables_out);
/* Appends an LNTB chunk of `count` (1..255) channels at the stream position. */
KLV_API int32_t write_lntb(SFilemux* stream, uint16_t* const* tables, int32_t count);
/* Loads the linearization file `path` of `volume` (LNTB, else DNTB). */
KLV_API LNTB* load_lntb(SOVolume* volume, const char* path, int32_t bits);
/* Rescales `record` by the SDTB line of the settings file `path` (each entry e
 * of channel c becomes m - p_c x (m - e) / 255 with m = 2^bits - 1). A null
 * record starts as a four-channel identity. The record is returned unchanged
 * when the file or its SDTB line is missing; null on memory failure (a record
 * made here is freed). */
KLV_API LNTB* scale_lntb(LNTB* record, SOVolume* volume, const char* path, int32_t bits);

/* ---- Grey-balance tables --------------------------------------------------- */

typedef struct GBPOINT {
  double x;
  double y;
} GBPOINT;

/* The control points of one channel. */
typedef struct GBCP {
  int32_t count;
  GBPOINT* points;
} GBCP;

/* A grey-balance record: channel tables, per-channel buffers that its
 * consumer fills (may be null; freed with the record), per-channel control
 * points (may be null), and the channel count. */
typedef struct GBTB {
  uint16_t** tables;
  void** derived;
  GBCP* control;
  int32_t count;
} GBTB;

/* A record of `count` zero-filled tables and `count` empty point lists. */
KLV_API GBTB* alloc_gbtb(int32_t count);
/* `count` zero-filled tables (null for 0). */
KLV_API uint16_t** alloc_gbtb_table(int32_t count);
/* `count` empty point lists (null for 0). */
KLV_API GBCP* alloc_gbtb_control(int32_t count);
/* `n` zero-filled points (null for 0). */
KLV_API GBPOINT* alloc_gbtb_points(int32_t n);
/* Frees every table and point array and the two arrays. */
KLV_API void free_gbtb(uint16_t** tables, int32_t count, GBCP* control);
/* As free_gbtb for the record's arrays, then each derived buffer and their
 * array, and the record itself when free_record is not zero. */
KLV_API void free_grey_tbl(GBTB* record, int32_t free_record);
/* Reads the next GBTB chunk from where the stream stands. control_out null:
 * control points are skipped; else it gets the point lists, or null when the
 * chunk has none. */
KLV_API int32_t read_gbtb(SFilemux* stream, uint16_t*** tables_out, int32_t* count_out,
                          GBCP** control_out);
/* Appends a GBTB chunk of `tables` (null: the record's) with the record's
 * channel count and control points ("GBCP" when any channel has points). */
KLV_API int32_t write_gbtb(SFilemux* stream, uint16_t* const* tables, const GBTB* record);
/* Loads the tables (no control points) of the grey-balance file `path`. */
KLV_API GBTB* load_gbtb(SOVolume* volume, const char* path);

/* ---- HMTB tables ---------------------------------------------------------- */

/* An HMTB record: `count` channel blocks of KLV_HMTB_ENTRIES entries in one
 * allocation. */
typedef struct HMTB {
  int32_t count;
  uint16_t* table;
} HMTB;

/* One zero-filled block of count x KLV_HMTB_ENTRIES entries; null for 0. */
KLV_API uint16_t* alloc_hmtb(int32_t count);
KLV_API void free_hmtb(uint16_t* table);
/* Reads the next HMTB chunk from where the stream stands. */
KLV_API int32_t read_hmtb(SFilemux* stream, uint16_t** table_out, int32_t* count_out);
KLV_API int32_t write_hmtb(SFilemux* stream, const uint16_t* table, int32_t count);
KLV_API HMTB* load_hmtb(SOVolume* volume, const char* path);
/* Frees the block and the record. */
KLV_API void free_hmtb_tbl(HMTB* record);

/* ---- Limit record (SCTB) and per-channel percentages (SDTB) ------------------ */

/* The limit record of a calibration, in the order of its text line (the
 * number after each field is its position in the line). */
typedef struct SCTB {
  double scale;      /* 1, greater than 0 */
  int32_t first;     /* 2 */
  int32_t second;    /* 3 */
  double triple1[3]; /* 4-6 */
  double triple2[3]; /* 7-9 */
  double single;     /* 10 */
  double min1;       /* minimum of triple1, computed on reading */
  double min2;       /* minimum of triple2, computed on reading */
  double value11;    /* 11 */
  double value13;    /* 13 */
  int32_t value12;   /* 12 */
} SCTB;

/* Reads an "SCTB { ... }" line at the parser's position into the record. */
KLV_API int32_t read_sctb(SFPARSE* parser, SCTB* record);
/* Writes the record as one SCTB line. */
KLV_API int32_t write_sctb(SFilemux* stream, const SCTB* record);
/* Loads the SCTB line that begins the settings file `path`; null when the file
 * is missing or does not begin with a good SCTB line. Free with free_sctb. */
KLV_API SCTB* load_sctb(SOVolume* volume, const char* path);
/* Frees a record from load_sctb. */
KLV_API void free_sctb(SCTB* record);

/* One 0..255 percentage per channel, at least three. */
typedef struct SDTB {
  int32_t count;
  int32_t* values;
} SDTB;

/* Reads an "SDTB { ... }" line when the next token is SDTB: 1 with the list in
 * *list_out; 1 with *list_out null when the next token is something else; 0
 * when the line is bad (fewer than three values, a value not in 0..255). */
KLV_API int32_t read_sdtb(SFPARSE* parser, SDTB** list_out);
KLV_API int32_t write_sdtb(SFilemux* stream, const SDTB* list);
KLV_API void free_sdtb(SDTB* list);

KLV_END_C

#endif
