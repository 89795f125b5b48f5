/* SPDX-License-Identifier: MIT */
/* What a printer driver library implements: the entry table `printer_funcs`,
 * the records passed through it, the status codes its entries return and the
 * SP_command codes the library sends. A driver library includes this header
 * only; the library's own loading and SP_* calls are in klv/printer_driver.h.
 *
 * A driver library is a shared object that exports one symbol, the entry table
 * `printer_funcs` (below), laid out by this header.
 *
 * The entry table is a size word followed by 91 pointer-sized entries. The size
 * word counts 4 bytes per slot, the size word included, as the table was
 * measured when every slot was a 32-bit word: a full table states
 * KLV_PRINTER_FUNCS_SIZE (368), a table stating 64 has its first 15 entries.
 * Larger sizes are clipped to 368 (a driver that states sizeof(printer_funcs)
 * gets the full table); an entry that is null or lies beyond the stated size is
 * absent.
 *
 * Status codes (returned by the entries and kept in the printer object's
 * status word):
 *   0 success; 2 null printer object or missing argument; 3 out of memory or no
 *   capabilities record at open; 4 driver library not found or not loaded;
 *   5 the library has no printer_funcs; 6 the driver has no such entry; 7 the
 *   printer object has no driver instance; 8 printer info could not be loaded;
 *   13 skipping lines not supported; 20 capabilities record not valid; 32 no
 *   printer repository or the driver loaded no info; 34 the loaded info has no
 *   printer record; -1 colour setup does not match the printer; -2 the driver
 *   has no entry for an optional call; -3 (status word only) a driver call is
 *   in progress or its outcome was not recorded. */
#ifndef KLV_PRINTER_PLUGIN_H
#define KLV_PRINTER_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"
#include "klv/halftone_mlproc.h"
#include "klv/kernel_types.h"
#include "klv/prntinfo.h"

KLV_BEGIN_C

enum {
  SP_OK = 0,
  SP_ERR_ARGUMENT = 2,
  SP_ERR_MEMORY = 3,
  SP_ERR_LIBRARY = 4,
  SP_ERR_NO_TABLE = 5,
  SP_ERR_NO_ENTRY = 6,
  SP_ERR_NO_INSTANCE = 7,
  SP_ERR_NO_INFO = 8,
  SP_ERR_NO_SKIP = 13,
  SP_ERR_CAPABILITIES = 20,
  SP_ERR_NO_REPOSITORY = 32,
  SP_ERR_NO_PRNTINFO = 34,
  SP_ERR_COLOR_SETUP = -1,
  SP_ERR_OPTIONAL = -2,
  SP_STATUS_PENDING = -3
};

/* SP_command codes the library and its print objects send. */
enum {
  SP_CMD_INK_START = 1,       /* a: SP_INK_COUNTER* (counts cleared) */
  SP_CMD_INK_LINE = 2,        /* a: SP_INK_COUNTER*, b: one line of the counter's shape */
  SP_CMD_INK_FINISH = 3,      /* a: SP_INK_COUNTER* */
  SP_CMD_DOTS_RESET = 4,      /* a: ignored (sent as 5) */
  SP_CMD_DOTS_GET = 5,        /* a: _SP_DOT_COUNT* receiving the counts since the last reset;
                                 with b (an SP_INK_COUNTER*): that counter's totals */
  SP_CMD_USAGE_TEXT = 7,      /* and 9: two pointers */
  SP_CMD_LOAD_INFOEX = 20,    /* a: folder, b: SP_INFOEX** out */
  SP_CMD_FREE_INFOEX = 21,    /* a: SP_INFOEX* */
  SP_CMD_SAVE_INFOEX = 22,    /* a: SP_INFOEX*, b: folder */
  SP_CMD_INSERT_MEDIAEX = 23, /* a: SP_INFOEX*, b: media */
  SP_CMD_GET_MEDIAEX = 24,    /* a: SP_INFOEX*, b: SP_MEDIAEX_QUERY* */
  SP_CMD_RELEASE_CAPS = 25,   /* a: the record */
  SP_CMD_FILL_CAPS = 26,      /* a: SP_CAPABILITIES** where to store, b: the driver's record */
  SP_CMD_FRAME_END = 29,      /* a: swatch, b: 1 */
  SP_CMD_SETTINGS = 30,
  SP_CMD_FRAME_START = 33
};

/* Sizes of the records copied into the printer object. */
enum {
  KLV_PRINTER_FUNCS_SIZE = 368, /* the full entry table, 4 bytes a slot */
  KLV_PRINTER_FUNCS_ENTRIES = 91,
  SP_JOB_SIZE = 452,
  SP_PRINT_SIZE = 1240,
  SP_PASS_SIZE = 12,
  SP_PRINT_TEXT_SIZE = 40,
  SP_PRINT_RESULT_SIZE = 160,
  SP_MAX_CHANNELS = 16
};

/* A volume argument meaning "no volume, pass the path on as it is". */
#define SP_NO_VOLUME ((SOVolume*)(intptr_t)-1)

/* The instance a driver's open returns. */
typedef void* SP_DRIVER;

/* ---- Records ------------------------------------------------------------------ */

#pragma pack(push, 1)
/* The driver's capabilities record (owned by the driver). The library reads
 * flags bit 3 (SP_CAP_SKIP_LINES), the maximum printable width and length in
 * inches and the key word, which must be non-zero for a printer object to
 * open. Bytes 0..87 are the driver's own; this layout suggests a use. */
typedef struct SP_CAPABILITIES {
  uint32_t size;         /*   0 */
  uint32_t channels;     /*   4: colour channels the device takes */
  uint32_t bits;         /*   8: bits per separation pixel */
  uint32_t xres;         /*  12: native resolution */
  uint32_t yres;         /*  16 */
  char name[68];         /*  20: device family */
  uint8_t flags;         /*  88 */
  uint8_t reserved1[7];  /*  89 */
  double max_width;      /*  96 */
  double max_length;     /* 104 */
  uint8_t reserved2[20]; /* 112 */
  uint32_t key;          /* 132 */
} SP_CAPABILITIES;
#pragma pack(pop)
enum { SP_CAP_SKIP_LINES = 8 };

/* The driver's printer information. The library reads only `prntinfo`; a
 * driver may embed this record at the start of a larger one of its own. */
typedef struct SP_INFO {
  uintptr_t size;
  PRNTINFO* prntinfo;
} SP_INFO;

/* The abort callback of a job: returns non-zero when the job is to stop. */
typedef uint8_t (*SP_ABORT_FN)(void* object);

#pragma pack(push, 4)
/* The job record handed to start_job (452 bytes, size word 452). */
typedef struct SP_JOB {
  uint32_t size;          /*   0: 452 */
  char name[201];         /*   4 */
  uint8_t pad0[3];        /* 205 */
  uint32_t count;         /* 208: the job info's count */
  char printer[81];       /* 212 */
  uint8_t pad1[3];        /* 293 */
  uint32_t value;         /* 296 */
  uint8_t flag;           /* 300 */
  uint8_t pad2[3];        /* 301 */
  SP_ABORT_FN abort_fn;   /* 304 */
  void* abort_object;     /* 312 */
  uint8_t reserved0[4];   /* 320 */
  void* swatch;           /* 324 */
  uint8_t reserved1[120]; /* 332 */
} SP_JOB;
#pragma pack(pop)

#pragma pack(push, 1)
/* The print record handed to start_print (1240 bytes, size word 1240). Each
 * call of print_scanline_data with a count of n carries n lines; one line holds
 * the channels one after another, each (bits * width + 7) / 8 bytes, samples
 * packed from the most significant bit. */
typedef struct SP_PRINT {
  uint32_t size;          /*    0: 1240 */
  uint32_t width;         /*    4: pixels */
  uint32_t height;        /*    8: lines */
  uint32_t copies;        /*   12 */
  double xres;            /*   16: dots per inch */
  double yres;            /*   24 */
  uint32_t bits;          /*   32: bits per sample: 1, 2 or 4 (8 where a driver allows) */
  uint32_t channels;      /*   36 */
  uint32_t spot_channels; /*   40 */
  uint32_t flags;         /*   44: SP_PRINT_FLAG_* */
  char name[80];          /*   48: page name */
  uint8_t reserved0[200]; /*  128 */
  uint32_t ink_use;       /*  328: 1 when the job counts ink use */
  uint8_t reserved1[908]; /*  332 */
} SP_PRINT;

enum { SP_PRINT_FLAG_PLANAR = 1 /* the driver is asked for whole planes, where it can */ };

/* The pass record handed to start_pass (three words, size word 12). */
typedef struct SP_PASS {
  uint32_t size;
  uint32_t pass;
  uint32_t direction;
} SP_PASS;

/* One channel of a colour description. */
typedef struct SP_CHANNEL_INFO {
  char name[32];
  uint8_t rgb[3]; /* display colour of full ink */
  uint8_t flags;  /* SP_CHANNEL_* */
} SP_CHANNEL_INFO;

/* A colour description: the channels in the order the driver takes them. */
typedef struct _SP_COLOR_INFO {
  uint32_t size;
  uint32_t channels;      /* all channels, spots included */
  uint32_t spot_channels; /* the last channels are spots */
  uint32_t kind;          /* info item 7: 0 plain, 1 additive (RGB), 2 extra inks */
  SP_CHANNEL_INFO channel[SP_MAX_CHANNELS];
} _SP_COLOR_INFO;
typedef _SP_COLOR_INFO SP_COLOR_INFO;

/* A colour setup checked against the printer. */
typedef struct SP_COLOR_SETUP {
  uint8_t channels;
  uint8_t spot_channels;
  uint8_t kind;
  uint8_t extra;
  uint8_t reserved[12];
} SP_COLOR_SETUP;

/* Dot counts per channel (ink and dot counting commands). */
typedef struct _SP_DOT_COUNT {
  uint32_t size;
  uint32_t channels;
  uint64_t dots[SP_MAX_CHANNELS];
} _SP_DOT_COUNT;

/* The counter record of the ink counting commands (1240 bytes, size word
 * 1240). The caller fills the image's shape; a line sent with
 * SP_CMD_INK_LINE holds `samples` rows one after another, each
 * (bits * width + 7) / 8 bytes, samples packed from the most significant bit.
 * The driver adds each sample's dots to `dots` (any non-zero value) and,
 * when `drops` is set, to drops[channel * drop_levels + value - 1]: one count
 * per channel and drop size (value 1 to 2^bits - 1). */
typedef struct SP_INK_COUNTER {
  uint32_t size;                  /*    0: 1240 */
  uint32_t width;                 /*    4: pixels of a line */
  uint32_t height;                /*    8: lines to be counted */
  uint32_t bits;                  /*   12: bits per sample: 1, 2, 4 or 8 */
  uint32_t samples;               /*   16: channels, spots included */
  uint32_t spot_samples;          /*   20 */
  double xres;                    /*   24 */
  double yres;                    /*   32 */
  uint32_t flags;                 /*   40: the caller's */
  uint32_t lines;                 /*   44: lines counted (driver) */
  void* job;                      /*   48: the caller's job record */
  char text[80];                  /*   56: the caller's text */
  char info[256];                 /*  136: the driver's info text */
  uint64_t dots[SP_MAX_CHANNELS]; /* 392 */
  uint64_t* drops;                /*  520: samples * drop_levels counts, or null */
  uint32_t drop_levels;           /*  528: 2^bits - 1 (set by the caller) */
  uint8_t reserved[708];          /*  532 */
} SP_INK_COUNTER;
#pragma pack(pop)

/* The question of SP_command code 24: the driver stores the media found. */
typedef struct SP_MEDIAEX_QUERY {
  const char* media;
  void* result;
} SP_MEDIAEX_QUERY;

enum { SP_CHANNEL_PROCESS = 1, SP_CHANNEL_LIGHT = 2, SP_CHANNEL_SPOT = 4 };

/* The message callback a driver reports through. */
typedef void (*SP_MSG_CALLBACK)(void* context, int32_t level, const char* text);

/* ---- The entry table ---------------------------------------------------------- */

/* Every entry but open takes the driver instance first, then the arguments of
 * its SP_* call in the same order. The struct has no typedef: a driver defines
 * a variable of the same name (in C, `struct printer_funcs printer_funcs`). */
struct printer_funcs {
  uintptr_t size;
  /* 1-5 */
  SP_DRIVER (*open)(const char* device, int32_t* error, const char* printer);
  int32_t (*close)(SP_DRIVER);
  int32_t (*init_from_info)(SP_DRIVER, SP_INFO* info, const char* options);
  int32_t (*get_status)(SP_DRIVER, void* request);
  SP_CAPABILITIES* (*get_capabilities)(SP_DRIVER);
  /* 6-15 */
  int32_t (*groupable_jobs)(SP_DRIVER, const void* a, const void* b);
  int32_t (*start_job)(SP_DRIVER, SP_JOB* job);
  int32_t (*start_print)(SP_DRIVER, SP_PRINT* print, char* text);
  int32_t (*start_pass)(SP_DRIVER, SP_PASS* pass);
  int32_t (*print_scanline_data)(SP_DRIVER, const uint8_t* data, int32_t count);
  int32_t (*end_pass)(SP_DRIVER);
  int32_t (*skip_lines)(SP_DRIVER, int32_t lines);
  int32_t (*end_print)(SP_DRIVER);
  int32_t (*end_job)(SP_DRIVER);
  int32_t (*cancel_job)(SP_DRIVER);
  /* 16-19 */
  int32_t (*start_cut)(SP_DRIVER, void* data);
  int32_t (*send_cut)(SP_DRIVER, void* data);
  int32_t (*send_cut_layer)(SP_DRIVER, void* data);
  int32_t (*end_cut)(SP_DRIVER);
  /* 20-22 */
  int32_t (*get_info_str)(SP_DRIVER, char* text, int32_t size, int32_t item);
  int32_t (*get_info_num)(SP_DRIVER, int32_t* value, const void* a, const void* b, const void* c,
                          int32_t item);
  void* (*default_settings)(SP_DRIVER);
  /* 23-30 */
  void* (*new_settings)(SP_DRIVER);
  void* (*copy_settings)(SP_DRIVER, const void* settings);
  void* (*load_settings)(SP_DRIVER, SOVolume* volume, const char* path);
  int32_t (*save_settings)(SP_DRIVER, const void* settings, SOVolume* volume, const char* path,
                           int32_t flags);
  int32_t (*free_settings)(SP_DRIVER, void* settings);
  int32_t (*edit_settings)(SP_DRIVER, void* settings);
  int32_t (*edit_settings_ex)(SP_DRIVER, void* settings, void* parent);
  int32_t (*compare_settings)(SP_DRIVER, const void* a, const void* b);
  /* 31-37 */
  SP_INFO* (*new_info)(SP_DRIVER);
  SP_INFO* (*copy_info)(SP_DRIVER, const SP_INFO* info);
  SP_INFO* (*load_info)(SP_DRIVER, const char* folder);
  int32_t (*save_info)(SP_DRIVER, const SP_INFO* info, const char* folder);
  int32_t (*free_info)(SP_DRIVER, SP_INFO* info);
  int32_t (*edit_info)(SP_DRIVER, SP_INFO* info);
  int32_t (*add_media)(SP_DRIVER, SP_INFO* info, const char* media);
  /* 38-46 */
  int32_t (*start_bidir)(SP_DRIVER);
  int32_t (*end_bidir)(SP_DRIVER);
  int32_t (*handle_request)(SP_DRIVER, void* request);
  int32_t (*start_display)(SP_DRIVER);
  int32_t (*end_display)(SP_DRIVER);
  void* (*get_display_hwnd)(SP_DRIVER);
  int32_t (*get_printable_area)(SP_DRIVER, char* text);
  int32_t (*get_ink_restrict)(SP_DRIVER, const char* media, void* out);
  int32_t (*get_mlproc_info)(SP_DRIVER, const char* media, const char* mode, MLPROCINFO* out);
  /* 47 */
  int32_t (*get_info_num_ex)(SP_DRIVER, int32_t* value, const void* a, const void* b, const void* c,
                             const void* d, int32_t item);
  /* 48-58 */
  void* (*new_media)(SP_DRIVER);
  void* (*get_media)(SP_DRIVER, const char* name);
  void* (*copy_media)(SP_DRIVER, const void* media);
  void* (*load_media)(SP_DRIVER, SOVolume* volume, const char* path);
  int32_t (*save_media)(SP_DRIVER, const void* media, SOVolume* volume, const char* path);
  int32_t (*free_media)(SP_DRIVER, void* media);
  int32_t (*edit_media)(SP_DRIVER, void* media);
  int32_t (*auto_media)(SP_DRIVER, void* media);
  int32_t (*auto_mode)(SP_DRIVER, void* media);
  int32_t (*update_media)(SP_DRIVER, void* media);
  int32_t (*delete_media)(SP_DRIVER, const char* name);
  /* 59-64 */
  int32_t (*edit_feature)(SP_DRIVER, int32_t feature, void* data);
  int32_t (*get_port_name)(SP_DRIVER, char* out, int32_t size);
  int32_t (*set_port_name)(SP_DRIVER, const char* port);
  int32_t (*get_port_data)(SP_DRIVER, void* out, int32_t size);
  int32_t (*set_port_data)(SP_DRIVER, const void* data, int32_t size);
  int32_t (*config_port)(SP_DRIVER, void* parent);
  /* 65-72 */
  int32_t (*get_color_info)(SP_DRIVER, const void* a, const void* b, SP_COLOR_INFO* out);
  int32_t (*validate_color_setup)(SP_DRIVER, const void* a, const void* b, SP_COLOR_SETUP* setup);
  int32_t (*get_media_color_info)(SP_DRIVER, const char* media, SP_COLOR_INFO* out);
  int32_t (*set_media_color_info)(SP_DRIVER, const char* media, const SP_COLOR_INFO* info);
  int32_t (*get_media_thresholds)(SP_DRIVER, const char* media, void* out);
  int32_t (*set_media_thresholds)(SP_DRIVER, const char* media, const void* data);
  int32_t (*get_inkcfg_names)(SP_DRIVER, SSTRAL** out);
  int32_t (*get_inkcfg_setup)(SP_DRIVER, const char* name, void* out);
  /* 73-81 */
  int32_t (*get_media_abilities)(SP_DRIVER, const char* media, void* out);
  int32_t (*get_media_flats)(SP_DRIVER, const char* media, void* out);
  int32_t (*set_media_flats)(SP_DRIVER, const char* media, const void* data);
  int32_t (*set_msg_callback)(SP_DRIVER, SP_MSG_CALLBACK callback, void* context);
  int32_t (*get_port_info)(SP_DRIVER, void* out);
  int32_t (*set_port_info)(SP_DRIVER, const void* data);
  int32_t (*update_info)(SP_DRIVER, SP_INFO* info);
  int32_t (*show_help)(SP_DRIVER, int32_t topic);
  int32_t (*command)(SP_DRIVER, int32_t code, void* a, void* b);
  /* 82-91 */
  int32_t (*start_print_ex)(SP_DRIVER, SP_PRINT* print, uint8_t* result);
  void* (*get_modeset)(SP_DRIVER, const char* name);
  int32_t (*set_modeset)(SP_DRIVER, const char* name, const void* modeset);
  void* (*new_modeset)(SP_DRIVER);
  void* (*copy_modeset)(SP_DRIVER, const void* modeset);
  void* (*load_modeset)(SP_DRIVER, SOVolume* volume, const char* path);
  int32_t (*save_modeset)(SP_DRIVER, const void* modeset, SOVolume* volume, const char* path,
                          int32_t flags);
  int32_t (*free_modeset)(SP_DRIVER, void* modeset);
  int32_t (*edit_modeset)(SP_DRIVER, void* modeset);
  int32_t (*compare_modesets)(SP_DRIVER, const void* a, const void* b);
};

/* Entry numbers (1-based slot of each entry in the table). */
enum {
  SPF_OPEN = 1,
  SPF_GET_CAPABILITIES = 5,
  SPF_START_JOB = 7,
  SPF_END_JOB = 14,
  SPF_CANCEL_JOB = 15,
  SPF_GET_INFO_NUM = 21,
  SPF_GET_INFO_NUM_EX = 47,
  SPF_GET_COLOR_INFO = 65,
  SPF_COMMAND = 81,
  SPF_START_PRINT_EX = 82,
  SPF_COMPARE_MODESETS = 91
};

/* ---- Library helpers a driver may call ---------------------------------------- */

/* The library's answer to an info item (SP_get_info_num) that the driver
 * cannot give: item 0 -> 4 colour channels; items 4, 5, 17, 20, 21 -> 1;
 * every other item -> 0. */
KLV_API int32_t SP_default_info_num(int32_t item);
/* The default colour description of `channels` channels, `spots` of them spot
 * channels named "Spot%u", the process channels chosen by their number (1, 3,
 * 4, 5, 6, 7 or 8) and `kind` (1: red, green, blue for three; 2: orange and
 * green as extra inks). Non-zero on success; 0 for another process count. */
KLV_API int32_t SP_get_default_color_info(SP_COLOR_INFO* info, int32_t channels, int32_t spots,
                                          int32_t kind);
KLV_API int32_t SP_get_default_ENU_color_info(SP_COLOR_INFO* info, int32_t channels, int32_t spots,
                                              int32_t kind);
/* As the default description, with one- or two-letter names ("C", "Lc"). */
KLV_API int32_t SP_get_abreviated_color_info(SP_COLOR_INFO* info, int32_t channels, int32_t spots,
                                             int32_t kind);

KLV_END_C

#ifdef __cplusplus
static_assert(sizeof(void*) == sizeof(uintptr_t));
static_assert(sizeof(printer_funcs) == sizeof(void*) * (1 + KLV_PRINTER_FUNCS_ENTRIES));
static_assert(offsetof(printer_funcs, get_capabilities) == sizeof(void*) * SPF_GET_CAPABILITIES);
static_assert(offsetof(printer_funcs, get_info_num_ex) == sizeof(void*) * SPF_GET_INFO_NUM_EX);
static_assert(offsetof(printer_funcs, get_color_info) == sizeof(void*) * SPF_GET_COLOR_INFO);
static_assert(offsetof(printer_funcs, command) == sizeof(void*) * SPF_COMMAND);
static_assert(offsetof(printer_funcs, compare_modesets) == sizeof(void*) * SPF_COMPARE_MODESETS);
static_assert(offsetof(SP_CAPABILITIES, flags) == 88);
static_assert(offsetof(SP_CAPABILITIES, max_width) == 96);
static_assert(offsetof(SP_CAPABILITIES, max_length) == 104);
static_assert(offsetof(SP_CAPABILITIES, key) == 132);
static_assert(sizeof(SP_JOB) == SP_JOB_SIZE);
static_assert(offsetof(SP_JOB, count) == 208);
static_assert(offsetof(SP_JOB, printer) == 212);
static_assert(offsetof(SP_JOB, value) == 296);
static_assert(offsetof(SP_JOB, flag) == 300);
static_assert(offsetof(SP_JOB, abort_fn) == 304);
static_assert(offsetof(SP_JOB, swatch) == 324);
static_assert(sizeof(SP_PRINT) == SP_PRINT_SIZE);
static_assert(sizeof(SP_INK_COUNTER) == 1240);
static_assert(offsetof(SP_INK_COUNTER, dots) == 392 && offsetof(SP_INK_COUNTER, drops) == 520);
static_assert(offsetof(SP_PRINT, xres) == 16);
static_assert(offsetof(SP_PRINT, yres) == 24);
static_assert(offsetof(SP_PRINT, bits) == 32);
static_assert(offsetof(SP_PRINT, ink_use) == 328);
static_assert(sizeof(SP_PASS) == SP_PASS_SIZE);
#endif

#endif
