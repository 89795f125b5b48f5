/* SPDX-License-Identifier: MIT */
/* The printer driver interface on the library's side: loading driver
 * libraries, the printer object opened over one, and the SP_* calls that
 * forward to the driver's entry table with uniform argument checks, status
 * codes and fall-backs. The entry table, the records and the status codes a
 * driver library works with are in klv/printer_plugin.h, included here. */
#ifndef KLV_PRINTER_DRIVER_H
#define KLV_PRINTER_DRIVER_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_types.h"
#include "klv/printer_plugin.h"

KLV_BEGIN_C

/* ---- Loading ------------------------------------------------------------------ */

/* A shared reference to a loaded driver library. */
typedef struct PrinterHandle PrinterHandle;

/* A handle for a driver library by file name ("klvdrv_file.so"; a name ending
 * in ".dll" is also looked for with ".so"), searched for on the program's
 * search path and in the installed drivers folder; null when it cannot be
 * loaded (logged). */
KLV_API PrinterHandle* OpenPrinterHandle(const char* library);
/* A handle for a printer instance by name, through its types element; null when
 * the printer has none or its library cannot be loaded. */
KLV_API PrinterHandle* FindPrinterHandle(const char* printer);
KLV_API void FreePrinterHandle(PrinterHandle* handle);
KLV_API void* GetPrinterHandleProcAddress(PrinterHandle* handle, const char* name);
/* A value that identifies the loaded module; null when none. */
KLV_API const void* GetPrinterHandleInstance(PrinterHandle* handle);
KLV_API const char* GetPrinterHandleDeviceName(PrinterHandle* handle);

/* ---- The printer object -------------------------------------------------------- */

typedef struct _SP_OBJECT {
  SP_DRIVER instance;
  PrinterHandle* handle;
  int32_t status;
  struct printer_funcs funcs; /* the copied entry table; size = the copied size */
  SP_CAPABILITIES* capabilities;
  uint8_t job[SP_JOB_SIZE];
  uint8_t print[SP_PRINT_SIZE];
  uint32_t pass[SP_PASS_SIZE / 4];
  char print_text[SP_PRINT_TEXT_SIZE];
  SP_INFO* info;
  uint8_t print_result[SP_PRINT_RESULT_SIZE];
} _SP_OBJECT;
typedef _SP_OBJECT SP_OBJECT;

KLV_API SP_OBJECT* SP_open_printer(const char* printer, int32_t* error);
KLV_API SP_OBJECT* SP_open(const char* library, const char* device, int32_t* error,
                           const char* printer);
KLV_API int32_t SP_close(SP_OBJECT* object);
KLV_API int32_t SP_init_printer(SP_OBJECT* object, const char* printer, const char* options);
KLV_API int32_t SP_init_from_info(SP_OBJECT* object, SP_INFO* info, const char* options);
KLV_API int32_t SP_init_from_repository(SP_OBJECT* object, const char* folder, const char* options);
KLV_API SP_INFO* SP_load_info(SP_OBJECT* object, const char* folder);
KLV_API SP_INFO* SP_find_info(SP_OBJECT* object, const char* printer);
KLV_API SP_CAPABILITIES* SP_get_capabilities(SP_OBJECT* object);

/* The print sequence. */
KLV_API int32_t SP_start_job(SP_OBJECT* object, const SP_JOB* job);
KLV_API int32_t SP_start_print(SP_OBJECT* object, const SP_PRINT* print, char* text);
KLV_API int32_t SP_start_print_ex(SP_OBJECT* object, const SP_PRINT* print, uint8_t* result);
KLV_API int32_t SP_start_pass(SP_OBJECT* object, const SP_PASS* pass);
KLV_API int32_t SP_print_scanline_data(SP_OBJECT* object, const uint8_t* data, int32_t count);
KLV_API int32_t SP_skip_lines(SP_OBJECT* object, int32_t lines);
KLV_API int32_t SP_end_pass(SP_OBJECT* object);
KLV_API int32_t SP_end_print(SP_OBJECT* object);
KLV_API int32_t SP_end_job(SP_OBJECT* object);
KLV_API int32_t SP_cancel_job(SP_OBJECT* object);
KLV_API int32_t SP_start_cut(SP_OBJECT* object, void* data);
KLV_API int32_t SP_send_cut(SP_OBJECT* object, void* data);
KLV_API int32_t SP_send_cut_layer(SP_OBJECT* object, void* data);
KLV_API int32_t SP_end_cut(SP_OBJECT* object);

/* Information. */
KLV_API int32_t SP_get_status(SP_OBJECT* object, void* request);
KLV_API int32_t SP_get_info_str(SP_OBJECT* object, char* text, int32_t size, int32_t item);
KLV_API int32_t SP_get_info_num(SP_OBJECT* object, int32_t* value, const void* a, const void* b,
                                const void* c, int32_t item);
KLV_API int32_t SP_get_info_num_ex(SP_OBJECT* object, int32_t* value, const void* a, const void* b,
                                   const void* c, const void* d, int32_t item);
/* SP_default_info_num is in klv/printer_plugin.h. */

/* Settings. */
KLV_API void* SP_default_settings(SP_OBJECT* object);
KLV_API void* SP_new_settings(SP_OBJECT* object);
KLV_API void* SP_copy_settings(SP_OBJECT* object, const void* settings);
KLV_API void* SP_load_settings(SP_OBJECT* object, SOVolume* volume, const char* path);
KLV_API int32_t SP_save_settings(SP_OBJECT* object, const void* settings, SOVolume* volume,
                                 const char* path, int32_t flags);
KLV_API int32_t SP_free_settings(SP_OBJECT* object, void* settings);
KLV_API int32_t SP_edit_settings(SP_OBJECT* object, void* settings);
KLV_API int32_t SP_edit_settings_ex(SP_OBJECT* object, void* settings, void* parent);
KLV_API int32_t SP_compare_settings(SP_OBJECT* object, const void* a, const void* b);

/* Mode sets. */
KLV_API void* SP_get_modeset(SP_OBJECT* object, const char* name);
KLV_API int32_t SP_set_modeset(SP_OBJECT* object, const char* name, const void* modeset);
KLV_API void* SP_new_modeset(SP_OBJECT* object);
KLV_API void* SP_copy_modeset(SP_OBJECT* object, const void* modeset);
KLV_API void* SP_load_modeset(SP_OBJECT* object, SOVolume* volume, const char* path);
KLV_API int32_t SP_save_modeset(SP_OBJECT* object, const void* modeset, SOVolume* volume,
                                const char* path, int32_t flags);
KLV_API int32_t SP_free_modeset(SP_OBJECT* object, void* modeset);
KLV_API int32_t SP_edit_modeset(SP_OBJECT* object, void* modeset);
KLV_API int32_t SP_compare_modesets(SP_OBJECT* object, const void* a, const void* b);

/* Printer info objects. */
KLV_API SP_INFO* SP_new_info(SP_OBJECT* object);
KLV_API SP_INFO* SP_copy_info(SP_OBJECT* object, const SP_INFO* info);
KLV_API int32_t SP_save_info(SP_OBJECT* object, const SP_INFO* info, const char* folder);
KLV_API int32_t SP_free_info(SP_OBJECT* object, SP_INFO* info);
KLV_API int32_t SP_update_info(SP_OBJECT* object, SP_INFO* info);
KLV_API int32_t SP_edit_info(SP_OBJECT* object, SP_INFO* info);
KLV_API int32_t SP_add_media(SP_OBJECT* object, SP_INFO* info, const char* media);

/* Extended info records, through SP_command codes 20-24. */
KLV_API void* SP_load_infoex(SP_OBJECT* object, const char* folder);
KLV_API int32_t SP_free_infoex(SP_OBJECT* object, void* infoex);
KLV_API int32_t SP_save_infoex(SP_OBJECT* object, void* infoex, const char* folder);
KLV_API int32_t SP_insert_mediaex(SP_OBJECT* object, void* infoex, void* media);
KLV_API void* SP_get_mediaex(SP_OBJECT* object, void* infoex, const char* media);

/* Media. */
KLV_API void* SP_new_media(SP_OBJECT* object);
KLV_API void* SP_get_media(SP_OBJECT* object, const char* name);
KLV_API void* SP_copy_media(SP_OBJECT* object, const void* media);
KLV_API void* SP_load_media(SP_OBJECT* object, SOVolume* volume, const char* path);
KLV_API int32_t SP_save_media(SP_OBJECT* object, const void* media, SOVolume* volume,
                              const char* path);
KLV_API int32_t SP_free_media(SP_OBJECT* object, void* media);
KLV_API int32_t SP_edit_media(SP_OBJECT* object, void* media);
KLV_API int32_t SP_auto_media(SP_OBJECT* object, void* media);
KLV_API int32_t SP_auto_mode(SP_OBJECT* object, void* media);
KLV_API int32_t SP_update_media(SP_OBJECT* object, void* media);
KLV_API int32_t SP_delete_media(SP_OBJECT* object, const char* name);
KLV_API int32_t SP_get_media_abilities(SP_OBJECT* object, const char* media, void* out);
KLV_API int32_t SP_edit_feature(SP_OBJECT* object, int32_t feature, void* data);

/* Ports. */
KLV_API int32_t SP_get_port_name(SP_OBJECT* object, char* out, int32_t size);
KLV_API int32_t SP_set_port_name(SP_OBJECT* object, const char* port);
KLV_API int32_t SP_get_port_data(SP_OBJECT* object, void* out, int32_t size);
KLV_API int32_t SP_set_port_data(SP_OBJECT* object, const void* data, int32_t size);
KLV_API int32_t SP_get_port_info(SP_OBJECT* object, void* out);
KLV_API int32_t SP_set_port_info(SP_OBJECT* object, const void* data);
KLV_API int32_t SP_config_port(SP_OBJECT* object, void* parent);

/* Colour. */
KLV_API int32_t SP_get_color_info(SP_OBJECT* object, const void* a, const void* b,
                                  SP_COLOR_INFO* out);
KLV_API int32_t SP_validate_color_setup(SP_OBJECT* object, const void* a, const void* b,
                                        SP_COLOR_SETUP* setup);
KLV_API int32_t SP_get_media_color_info(SP_OBJECT* object, const char* media, SP_COLOR_INFO* out);
KLV_API int32_t SP_set_media_color_info(SP_OBJECT* object, const char* media,
                                        const SP_COLOR_INFO* info);
KLV_API int32_t SP_get_media_thresholds(SP_OBJECT* object, const char* media, void* out);
KLV_API int32_t SP_set_media_thresholds(SP_OBJECT* object, const char* media, const void* data);
KLV_API int32_t SP_get_media_flats(SP_OBJECT* object, const char* media, void* out);
KLV_API int32_t SP_set_media_flats(SP_OBJECT* object, const char* media, const void* data);
KLV_API int32_t SP_get_inkcfg_names(SP_OBJECT* object, SSTRAL** out);
KLV_API int32_t SP_get_inkcfg_setup(SP_OBJECT* object, const char* name, void* out);
KLV_API int32_t SP_get_ink_restrict(SP_OBJECT* object, const char* media, void* out);
KLV_API int32_t SP_get_mlproc_info(SP_OBJECT* object, const char* media, const char* mode,
                                   MLPROCINFO* out);
/* The default colour descriptions are in klv/printer_plugin.h. */

/* Other. */
KLV_API int32_t SP_groupable_jobs(SP_OBJECT* object, const void* a, const void* b);
KLV_API int32_t SP_start_bidir(SP_OBJECT* object);
KLV_API int32_t SP_end_bidir(SP_OBJECT* object);
KLV_API int32_t SP_handle_request(SP_OBJECT* object, void* request);
KLV_API int32_t SP_start_display(SP_OBJECT* object);
KLV_API int32_t SP_end_display(SP_OBJECT* object);
KLV_API void* SP_get_display_hwnd(SP_OBJECT* object);
/* The printable area as text "WxH" in inches (80 bytes are enough). */
KLV_API int32_t SP_get_printable_area(SP_OBJECT* object, char* text);
KLV_API int32_t SP_set_msg_callback(SP_OBJECT* object, SP_MSG_CALLBACK callback, void* context);
KLV_API int32_t SP_show_help(SP_OBJECT* object, int32_t topic);
KLV_API int32_t SP_command(SP_OBJECT* object, int32_t code, void* a, void* b);

KLV_END_C

#endif
