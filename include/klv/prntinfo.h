/* SPDX-License-Identifier: MIT */
/* Printer information: where a printer's files live, its client and types
 * lists, its repository, media, page sizes, resolutions, modes and drop
 * sizes, and the nearest-match rules the job code uses.
 *
 * Files (settings text):
 *   Printer_Client.info  Printer_Client { UserId { text } Printers { { name folder } ... } }
 *   Printer_Types.info   Printer_Types followed by one { Name {} Device {} DLL_File {} ID {} }
 *                        group per printer type
 *   <printer folder>/Info/Printer.RepLink
 *                        Printer_Repository { folder } Printer_Common { .. }
 *                        Printer_CFG { .. } Printer_System { .. }
 *
 * Relative folders. A relative printer folder in the client list, and a
 * relative folder in a Printer.RepLink file, are taken relative to the
 * data folder: the folder that holds the Printer_Client.info found on the
 * program's search path (left as written when there is none). With KLV_PATH
 * naming the shipped data folder, the demo printer resolves to folders
 * inside it.
 *
 * Path outputs are buffers of KLV_PATH_MAX bytes (klv/kernel_path.h). The
 * outputs of the media name splitters must hold as many bytes as the input
 * text (terminator included); make_special_media's output must hold the two
 * inputs plus three bytes. */
#ifndef KLV_PRNTINFO_H
#define KLV_PRNTINFO_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_path.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_types.h"
#include "klv/printmode.h"
#include "klv/screen_setup.h"

#ifdef __cplusplus
class PrintInfoPlus;
#else
typedef struct PrintInfoPlus PrintInfoPlus;
#endif

KLV_BEGIN_C

/* ---- Drop sizes ------------------------------------------------------------ */

/* One configuration of drop sizes. Data elements: [0] drop name, [1] drop
 * value, [2] unit value, [3] drop volume. */
typedef struct dotcfg {
  char Name[32];
  SSTRAL* Data;
  struct dotcfg* next;
} dotcfg;

/* The configurations of one resolution. */
typedef struct dotres {
  char Res[20];
  dotcfg* head;
  dotcfg* tail;
  struct dotres* next;
} dotres;

typedef struct dotinfo {
  char Units[20];
  dotres* head;
  dotres* tail;
} dotinfo;

/* ---- Records ----------------------------------------------------------------- */

/* A printer's information. Text fields are copied when the record is built;
 * medias, screen_setup and dot_info belong to the object and stay valid
 * until prntinfo_free (which also frees a screen setup or dot info the
 * caller stored in the record in place of the object's own). */
typedef struct PRNTINFO {
  char device_name[84];
  SSTRAL* medias; /* [0] media name, [1] group ("_Ungrouped_" when none) */
  char default_media[81];
  char default_page_size[81];
  char ppd_file[81];
  char tcp_additional_port[80];
  char tcp_default_port[80];
  _SCREENSETUP* screen_setup;
  dotinfo* dot_info;
  PrintInfoPlus* object;
  int32_t reserved;
} PRNTINFO;

/* The older printer description, the settings block "Printer_Info". */
typedef struct PRNTINFOEX {
  char Device[84];
  SSTRAL* ResList;
  SSTRAL* Media;
  SSTRAL* Patterns;
  SSTRAL* PageSizes;
  char DefaultPageSize[81];
  char PPDFile[81];
  char Version[42];
  _SCREENSETUP* ScreenSetup;
  dotinfo* DotInfo;
} PRNTINFOEX;

/* The printer client list. Printers elements: [0] printer name, [1] its
 * folder, [2] the folder of its driver library when on another computer,
 * [4] the folder of that library's dependent libraries. */
typedef struct PRNTCLNT {
  char UserId[40];
  SSTRAL* Printers;
} PRNTCLNT;

/* ---- Server mode and printer lookup ----------------------------------------- */

/* While server mode is set, printer folders are not looked up in the client
 * list. set_server_mode returns the previous value. */
KLV_API int32_t set_server_mode(int32_t mode);
KLV_API int32_t get_server_mode(void);

/* The folder of a printer instance from the client list, and (when user is
 * given, 40 bytes) the list's UserId. Non-zero when a folder was found. */
KLV_API int32_t get_printer_path(const char* name, char* folder, char* user);

KLV_API PRNTCLNT* prntclnt_new(void);
KLV_API void prntclnt_free(PRNTCLNT* record);
/* Reads the client list (path null or empty: "Printer_Client.info" on the
 * search path). Elements with an empty printer name are dropped. Null when
 * the file cannot be read. */
KLV_API PRNTCLNT* prntclnt_load(SOVolume* volume, const char* path);
/* Writes it (path null or empty: where prntclnt_load would find it). 1 on
 * success. */
KLV_API int32_t prntclnt_save(SOVolume* volume, const char* path, const PRNTCLNT* record);
/* The client-list element of a printer (a copy the caller frees with
 * free_char_list), null when none. */
KLV_API char** prntclnts_find(const char* name);

/* The printer types list: four-string elements Name, Device, DLL_File, ID.
 * prntdevs_load: null when the file cannot be read; an empty list when it has
 * no Printer_Types block. prntdevs_save: 1, or 0 when the file cannot be
 * written. prntdevs_find: the element of a printer (copy, free_char_list). */
KLV_API SSTRAL* prntdevs_load(SOVolume* volume, const char* path);
KLV_API int32_t prntdevs_save(SOVolume* volume, const char* path, const SSTRAL* list);
KLV_API char** prntdevs_find(const char* name);

/* The links of a printer folder's Info/Printer.RepLink. get_repository_link
 * returns non-zero when a repository folder was read; get_common_links only
 * when all four values were present (each output may be null). */
KLV_API int32_t get_repository_link(const char* folder, char* repository);
KLV_API int32_t get_common_links(const char* folder, char* repository, char* common, char* cfg,
                                 char* system);

/* ---- The PRNTINFO record ------------------------------------------------------ */

KLV_API PRNTINFO* prntinfo_new(void);
/* The record of a printer instance ("Name" or "Name (2)"); null when its
 * repository cannot be opened. */
KLV_API PRNTINFO* prntinfo_find(const char* name);
/* The record of the repository in folder. */
KLV_API PRNTINFO* prntinfo_load_info(const char* folder);
KLV_API PRNTINFO* prntinfo_copy(const PRNTINFO* record);
KLV_API void prntinfo_free(PRNTINFO* record);

/* Paths; each returns non-zero when the output is not empty. */
KLV_API int32_t prntinfo_find_repository(const char* name, char* out);
KLV_API int32_t prntinfo_find_repository_file(const char* name, char* out);
KLV_API int32_t prntinfo_repository_file(const char* folder, char* out);
KLV_API int32_t prntinfo_find_default_file(const char* folder, char* out, const char* file,
                                           const char* subfolder);

/* The repository (a klv::PrinterRepository* for C++ callers), and its folder. */
KLV_API void* prntinfo_get_repository(const PRNTINFO* record);
KLV_API int32_t prntinfo_get_repository_path(const PRNTINFO* record, char* out);

KLV_API int32_t prntinfo_reset(PRNTINFO* record);
KLV_API int32_t prntinfo_reset_repository(PrintInfoPlus* object, const char* name);
KLV_API int32_t prntinfo_set_active(PRNTINFO* record, int32_t active);
KLV_API int32_t prntinfo_remove_media(PRNTINFO* record, const char* media);
/* Writes default media, default page size, dot info, the printer's page
 * sizes (the list of prntinfo_page_sizes(record, null)) and screen setups
 * into the repository (moved to folder first when folder is given and
 * differs) and saves it. 1 on success. */
KLV_API int32_t prntinfo_save_info(PRNTINFO* record, const char* folder);

/* Lists owned by the object; null when there is none. A null or empty media
 * gives the printer's own page sizes. */
KLV_API SSTRAL* prntinfo_dev_resolutions(PRNTINFO* record);
KLV_API SSTRAL* prntinfo_default_resolutions(PRNTINFO* record);
KLV_API SSTRAL* prntinfo_media_resolutions(PRNTINFO* record, const char* media);
KLV_API SSTRAL* prntinfo_page_sizes(PRNTINFO* record, const char* media);
KLV_API SSTRAL* prntinfo_mode_names(PRNTINFO* record, const char* media);
KLV_API SSTRAL* prntinfo_all_mode_names(PRNTINFO* record);

/* Page size in inches; 1 when found. */
KLV_API int32_t prntinfo_page_size(PRNTINFO* record, const char* media, const char* page,
                                   double* width, double* height);
KLV_API int32_t prntinfo_paper_path(PRNTINFO* record, const char* media, const char* page,
                                    int32_t* is_sheet);
KLV_API const char* prntinfo_nearest_page_size(PRNTINFO* record, const char* media, double width,
                                               double height);
KLV_API const char* prntinfo_nearest_media_res(PRNTINFO* record, const char* media,
                                               const char* resolution);

/* Modes: pointers into the object's mode lists. */
KLV_API const CPrintMode* prntinfo_mode(PRNTINFO* record, const char* media, const char* mode);
KLV_API const CPrintMode* prntinfo_default_mode(PRNTINFO* record, const char* media);
KLV_API const CPrintMode* prntinfo_nearest_mode(PRNTINFO* record, const char* media,
                                                const char* mode, const char* resolution,
                                                int32_t pattern, const char* option);
KLV_API const CPrintMode* prntinfo_nearest_mode_ex(PRNTINFO* record, const char* media,
                                                   const char* mode, const char* resolution,
                                                   const char* pattern_text);
KLV_API const CPrintMode* prntinfo_nearest_printmode(PRNTINFO* record, const char* media,
                                                     const CPrintMode* wanted);
/* The screen setups of a media's mode (owned by the object); null when the
 * mode has none. */
KLV_API _SCREENSETUP* prntinfo_mode_screensetup(PRNTINFO* record, const char* media,
                                                const CPrintMode* mode);

/* ---- Drop sizes ------------------------------------------------------------------ */

KLV_API int32_t prntinfo_create_dotinfo(PRNTINFO* record);
KLV_API dotcfg* prntinfo_find_dotcfg(PRNTINFO* record, const char* resolution, const char* config);
KLV_API dotinfo* prntinfo_copy_dotinfo(const dotinfo* info);
KLV_API void prntinfo_free_dotinfo(dotinfo* info);
KLV_API void prntinfo_free_dotcfg(dotcfg* cfg);
KLV_API dotcfg* dotinfo_find_dotcfg(const dotinfo* info, const char* resolution,
                                    const char* config);
KLV_API double dotinfo_get_drop_value(const dotcfg* cfg, const char* key);
KLV_API double dotinfo_get_unit_value(const dotcfg* cfg, const char* key);
KLV_API double dotinfo_get_drop_volume(const dotcfg* cfg, const char* key);
KLV_API int32_t dotinfo_set_data(dotinfo* info, const char* resolution, const char* config,
                                 const char* units, const SSTRAL* data);

/* ---- Media names ----------------------------------------------------------------- */

/* "Glossy Photo [Fast] [Uni]" -> media "Glossy Photo", config "Fast, Uni". */
KLV_API void prntinfo_split_media_config(const char* text, char* config, char* media);
/* "*special*media" and back. */
KLV_API char* make_special_media(char* out, const char* special, const char* media);
KLV_API void split_special_media(const char* name, char* special, char* media);
KLV_API const char* get_special_media_resolution(const char* media, const char* resolution);
/* A page dimension text ("297mm", "8.5") in inches; 0 for null. */
KLV_API double prntinfo_dimension(const char* text);

/* ---- The older description -------------------------------------------------------- */

KLV_API PRNTINFOEX* prntinfoex_new(void);
KLV_API void prntinfoex_free(PRNTINFOEX* record);
KLV_API PRNTINFOEX* prntinfoex_copy(const PRNTINFOEX* record);
/* Reads the Printer_Info block from an open reader; null when it is missing
 * or cannot be read. */
KLV_API PRNTINFOEX* prntinfoex_get(SFPARSE* parser);
/* Writes the Printer_Info block; non-zero on success, 0 for a null record. */
KLV_API int32_t prntinfoex_put(SFilemux* stream, const PRNTINFOEX* record);
KLV_API PRNTINFOEX* prntinfoex_load(SOVolume* volume, const char* path);
KLV_API PRNTINFOEX* prntinfoex_find(const char* name);
KLV_API int32_t prntinfoex_find_path(const char* name, char* out);
KLV_API int32_t prntinfoex_pagesize(const PRNTINFOEX* record, const char* page, double* width,
                                    double* height);
KLV_API int32_t prntinfoex_paperpath(const PRNTINFOEX* record, const char* page, int32_t* is_sheet);
KLV_API const char* prntinfoex_nearest_pagesize(const PRNTINFOEX* record, double width,
                                                double height);
KLV_API const char* prntinfoex_nearest_res(const PRNTINFOEX* record, const char* resolution);
KLV_API int32_t prntinfoex_create_dotinfo(PRNTINFOEX* record);
KLV_API dotcfg* prntinfoex_find_dotcfg(const PRNTINFOEX* record, const char* resolution,
                                       const char* config);

KLV_END_C

#endif
