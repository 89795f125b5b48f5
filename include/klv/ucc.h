/* SPDX-License-Identifier: MIT */
/* Colour transform chains.
 *
 * A chain is a list of colour nodes (`t_ucc_node`) kept sorted by node type,
 * so the type number of a node is also its place in the pipeline: input
 * profiles, spot and named-colour replacement, masks, RGB and HSV
 * adjustments, colour replacement, curves, printer-side profiles, the
 * calibration and the density tables. Each node owns a data record of its
 * type (below); when the chain is first applied each node gets a transform
 * object that binds to its data and then converts whole runs of pixels.
 *
 * Pixel values inside a chain are 16-bit. Subtractive (model 0) values are
 * held inverted there (65535 no ink), as the format word's 0x100 bit says.
 *
 * Saved forms: "UCCI" (adjustment nodes) and "UCCX" (profile, mask,
 * replacement and calibration nodes), chunked files of four-character tag,
 * 32-bit little-endian length and body; a chunk "FLGS" carries node flags.
 *
 * A chain and its context are used by one thread at a time. */
#ifndef KLV_UCC_H
#define KLV_UCC_H

#include <stddef.h>
#include <stdint.h>

#include "klv/calib.h"
#include "klv/cms.h"
#include "klv/export.h"
#include "klv/filter.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* ---- Node types ------------------------------------------------------------ */

enum {
  UCC_ICG3 = 16, /* input profiles acting on 3-channel colour */
  UCC_ICG4 = 17,
  UCC_ICGN = 18,
  UCC_ICI3 = 19,
  UCC_ICI4 = 20,
  UCC_ICIN = 21,
  UCC_ICIO = 22,
  UCC_SREP = 23, /* spot replacement */
  UCC_NREP = 24, /* named-colour replacement list */
  UCC_PDFF = 25, /* embedded-profile flags */
  UCC_DEST = 26,
  UCC_NCLR = 27,
  UCC_MKBF = 32, /* mask before */
  UCC_SKPM = 40, /* white generation */
  UCC_T41 = 41,
  UCC_RGB0 = 48, /* RGB levels */
  UCC_HSV0 = 64, /* HSV adjustment */
  UCC_CREP = 80, /* colour replacement */
  UCC_CRV0_SET = 96,
  UCC_CRV1 = 97, /* curves */
  UCC_YMCD = 112,
  UCC_MKAF = 128, /* mask after */
  UCC_PCG3 = 144, /* printer profiles */
  UCC_PCG4 = 145,
  UCC_PCGN = 146,
  UCC_PCI3 = 147,
  UCC_PCI4 = 148,
  UCC_PCIN = 149,
  UCC_PCIO = 150,
  UCC_OGM1 = 160, /* grey to four channels */
  UCC_CTB0 = 176, /* calibration */
  UCC_DNTB = 192, /* density tables */
  UCC_MCXF = 208, /* multi-channel profiles */
  UCC_MKNU = 224,
  UCC_HSVC = 16400,
  UCC_RGBC = 16416,
  UCC_YMCC = 16432,
  UCC_CRV0 = 16448
};

/* Most channels a chain carries per pixel (process and spot together). */
#define UCC_MAX_CHANNELS 16
#define UCC_NAME_SIZE 260

/* ---- The node -------------------------------------------------------------- */

/* The transform object of a node (a C++ class, klv/ucc_cxx.h). */
#ifdef __cplusplus
class IUccXform;
#else
typedef struct IUccXform IUccXform;
#endif

typedef struct t_ucc_node {
  uint16_t type;
  uint8_t parameters[40]; /* copied unchanged by every copy */
  uint32_t disable;       /* bit 0: skipped when applied */
  uint32_t flags;         /* bit 0: skipped when applied; saved in "FLGS" */
  uint32_t shared;        /* low byte non-zero: data belongs to another chain */
  void* data;             /* the type's record, owned unless shared */
  IUccXform* transform;
  struct t_ucc_node* next;
} t_ucc_node;

/* ---- Data records -------------------------------------------------------------- */

/* Types 16-22, 144-150, 208: the list of CMS profile nodes. */
typedef struct ucc_proflist {
  cms_profnode* first;
} ucc_proflist;

/* Type 23: spot replacement, 11 spot entries. */
typedef struct ucc_spot_entry {
  uint8_t rgb[3];     /* the colour the spot is shown as (8-bit light values) */
  uint8_t enabled;    /* non-zero: the spot sample is replaced */
  char name[60];      /* the spot's name */
  uint8_t values[48]; /* named-colour values found for it (engine form) */
  uint8_t found;      /* non-zero when values hold a colour */
  uint8_t reserved[12];
} ucc_spot_entry;

typedef struct ucc_srep {
  char name[UCC_NAME_SIZE]; /* spot table path */
  ucc_spot_entry spots[11];
} ucc_srep;

/* Type 24: named-colour replacements. */
typedef struct ucc_nrep_entry {
  char name[81];
  uint8_t bytes[4];
  uint8_t data[24];
} ucc_nrep_entry;

typedef struct ucc_nrep {
  int32_t count;
  ucc_nrep_entry* entries;
} ucc_nrep;

/* Type 25. */
typedef struct ucc_pdff {
  uint8_t use_embedded_intent;
  uint8_t disable_embedded_profiles;
} ucc_pdff;

/* Types 32, 128, 224: a mask (two outlines of n and m points). */
typedef struct ucc_mask {
  uint8_t mode;
  int32_t a1, a2, n;
  int32_t* x1;
  int32_t* y1;
  int32_t b1, b2, m;
  int32_t* x2;
  int32_t* y2;
} ucc_mask;

/* Type 40: white generation. */
typedef struct ucc_skpm {
  int32_t count1;
  int32_t* list1;
  int32_t count2;
  int32_t* list2;
  int32_t mode;
  int32_t levels[4];
  int32_t value_count; /* 0..36 */
  double values[36];
} ucc_skpm;

/* Types 48, 16400, 16432: RGB levels. */
typedef struct ucc_rgb_levels {
  uint8_t enable[3];    /* black points, white points, fourth channel */
  uint8_t black[3];     /* black points */
  uint8_t white_inv[3]; /* 255 - white point */
  uint8_t k_black;      /* fourth channel black point */
  uint8_t k_white_inv;  /* fourth channel 255 - white point */
  uint8_t tables[4][256];
} ucc_rgb_levels;

/* Types 64, 16416: HSV adjustment. Values are signed: hue shift in degrees,
 * saturation and value changes in percent. Groups: one signed byte per hue
 * sector (red, yellow, green, cyan, blue, magenta): hue shift in degrees,
 * saturation change in percent. Hue tables hold signed offsets per degree
 * (hue in degrees, saturation and value in 1/65535). */
typedef struct ucc_hsv {
  int16_t hue;
  int16_t saturation;
  int16_t value;
  int8_t sector_hue[6];
  int8_t sector_saturation[6];
  int16_t hue_tables[3][360];
  uint16_t curves[2][256]; /* saturation and value curves, 16-bit */
} ucc_hsv;

/* Type 80: colour replacement. Each side names a colour of v[2] 16-bit values
 * (v[0]: the format word of that colour, v[1]: a tolerance on each value). */
typedef struct ucc_crep_side {
  uint8_t kind;
  int32_t v[4];
  int32_t* values; /* v[2] entries */
  char name[32];
  uint8_t a[12];
  uint8_t b[12];
} ucc_crep_side;

typedef struct ucc_crep_entry {
  ucc_crep_side from, to;
  uint16_t enabled;
} ucc_crep_entry;

typedef struct ucc_crep {
  int32_t count;
  ucc_crep_entry* entries;
} ucc_crep;

/* Types 96, 97: twelve curves. Curve 0 acts on every process channel, curve
 * c (1..11) on channel c - 1; the first `used` curves take part. Tables hold
 * output values 0..255 indexed by input value; mode 2: both are ink amounts. */
typedef struct ucc_point {
  double x, y;
} ucc_point;

typedef struct ucc_curve {
  int32_t count;
  ucc_point* points;
  int16_t table[256];
} ucc_curve;

typedef struct ucc_curves {
  uint8_t used;
  uint8_t reserved[2];
  ucc_curve curves[12];
  uint8_t mode;
  uint8_t extra[16];
} ucc_curves;

/* Type 176: calibration. */
typedef struct ucc_calb {
  char limit_name[UCC_NAME_SIZE];
  char linear_name[UCC_NAME_SIZE];
  char grey_name[UCC_NAME_SIZE];
  char emulation_name[UCC_NAME_SIZE];
  char calb_vpath[UCC_NAME_SIZE];
  char limit_fname[UCC_NAME_SIZE];
  char linear_fname[UCC_NAME_SIZE];
  char grey_fname[UCC_NAME_SIZE];
  char emulation_fname[UCC_NAME_SIZE];
  uint32_t enable;          /* bit 0 linearization, bit 1 grey balance, bit 2 emulation */
  uint32_t limit_switch;    /* bit 0: no limit record */
  uint32_t ignore_channels; /* bit c: channel c is not linearized */
  SCTB* limit;
  LNTB* linear;
  GBTB* grey;
  cms_profnode* emulation;
  int32_t linear_bits; /* precision the linearization was loaded at (8 when 0) */
} ucc_calb;

/* Type 192: four density tables (ink in, ink out). */
typedef struct ucc_density {
  uint8_t tables[4][256];
} ucc_density;

/* ---- Chain context and requests ---------------------------------------------------- */

typedef struct ucc_info ucc_info;

/* Request flags. */
#define UCC_REQ_NO_GENERIC 0x1u /* skip the generic profile nodes (ICG., PCG.) */
#define UCC_REQ_NO_IMAGE 0x2u   /* skip the image profile nodes (ICI., PCI., ICIO, PCIO) */
#define UCC_REQ_ALPHA 0x4u      /* alpha 254 makes the colour white */
#define UCC_REQ_LIGHT_IO 0x100u /* model-0 values enter and leave in light form */
#define UCC_REQ_FIT 0x200u      /* fit the result to out_channels (black generation, grey) */

/* One colour (apply_ucc, apply_ucc8, apply_ucc16) or the form of a line
 * (ucc_apply_line8/16). Models: 0 subtractive ink, 1 additive light, 3 Lab. */
typedef struct ucc_request {
  ucc_info* info;
  uint32_t flags;
  uint16_t last_type; /* 0: the whole chain; else stop after this type */
  uint8_t model;
  uint8_t sub_mode;    /* 0..7 */
  uint8_t in_channels; /* total input channels, spots included */
  uint8_t in_spots;
  uint8_t out_channels;    /* channels the caller expects out, spots included; 0 any */
  uint8_t out_spots;       /* of those, spot channels */
  uint8_t special_channel; /* counted from 1; 0 none */
  uint8_t bits;            /* apply_ucc: 8 or 16 */
  uint8_t has_alpha;
  uint16_t alpha;
  int8_t identity;      /* -1 unknown; set by identity_ucc */
  uint8_t got_channels; /* channels the chain gave */
  uint32_t got_format;  /* format word of the result */
  uint16_t in[UCC_MAX_CHANNELS];
  uint16_t out[UCC_MAX_CHANNELS];
} ucc_request;

/* Fills a request with its defaults (identity unknown). */
KLV_API void ucc_request_init(ucc_request* request, ucc_info* info, uint8_t model,
                              uint8_t in_channels, uint8_t out_channels);

/* ---- Nodes and chains ------------------------------------------------------------ */

KLV_API t_ucc_node* new_ucc(int32_t type);
KLV_API t_ucc_node* free_ucc(t_ucc_node* chain);
KLV_API void restart_ucc(t_ucc_node* chain, int32_t all);
KLV_API t_ucc_node* add_ucc(t_ucc_node* chain, t_ucc_node* node);
KLV_API t_ucc_node* merge_ucc(t_ucc_node* chain, t_ucc_node* other);
KLV_API t_ucc_node* find_ucc_node(t_ucc_node* chain, int32_t type);
KLV_API t_ucc_node* remove_ucc_node(t_ucc_node** chain, int32_t type);
KLV_API t_ucc_node* copy_ucc(const t_ucc_node* chain);
KLV_API t_ucc_node* copy_ucc_ref(const t_ucc_node* chain, int32_t ref);
KLV_API t_ucc_node* copy_ucc_ref_ex(const t_ucc_node* chain, int32_t ref, const int32_t* types);
KLV_API t_ucc_node* copy_ucc_ref_ex2(const t_ucc_node* chain, int32_t ref, uint32_t classes);
KLV_API t_ucc_node* simplify_ucc(t_ucc_node* chain);
KLV_API t_ucc_node* ucc_set_calb(t_ucc_node* chain, const char* limit, const char* linear,
                                 const char* grey, const char* emulation, uint32_t enable,
                                 uint32_t limit_switch);
/* The four-character tag of a type into `out` (5 bytes); 0 when it has none. */
KLV_API int32_t ucc_type_tag(int32_t type, char* out);
/* Non-zero when every enabled node converts a pixel from its value alone (no
 * mask, nothing that depends on where the pixel is): such a chain may be
 * sampled once into a lookup grid. */
KLV_API int32_t ucc_is_pure(const t_ucc_node* chain);

/* ---- Context and application ----------------------------------------------------- */

/* A context over `chain` (not copied). caches non-zero: results are kept in a
 * colour cache. mode: the black-generation mode (0 or 1). */
KLV_API ucc_info* ucc_info_init(t_ucc_node* chain, int32_t caches, int32_t mode);
KLV_API t_ucc_node* ucc_info_get_nodes(ucc_info* info);
KLV_API void ucc_info_set_nodes(ucc_info* info, t_ucc_node* chain);
KLV_API void ucc_info_remove_node(ucc_info* info, int32_t type);
KLV_API void ucc_info_free(ucc_info* info, int32_t free_chain);
/* Black generation percentage (0..255, 230 when made). */
KLV_API void ucc_info_set_black(ucc_info* info, int32_t percentage, int32_t mode);
/* Cache statistics: hits and misses since made. */
KLV_API void ucc_info_cache_stats(const ucc_info* info, uint64_t* hits, uint64_t* misses);

KLV_API int32_t apply_ucc16(ucc_request* request);
KLV_API int32_t apply_ucc8(ucc_request* request);
KLV_API int32_t apply_ucc(ucc_request* request);
/* A whole line of `count` interleaved pixels in the request's form (request
 * in/out arrays unused). Output has out_channels values a pixel (the chain's
 * own count when 0). The colour cache is used as for single colours.
 * Returns 1, or 0 when the output does not have the expected channels. */
KLV_API int32_t ucc_apply_line16(ucc_request* form, const uint16_t* in, uint16_t* out,
                                 int32_t count);
KLV_API int32_t ucc_apply_line8(ucc_request* form, const uint8_t* in, uint8_t* out, int32_t count);
KLV_API int32_t identity_ucc(ucc_request* request);
KLV_API void ucc3to4(const ucc_info* info, uint8_t* c1, uint8_t* c2, uint8_t* c3, uint8_t* k_out);
KLV_API void ucc3to4_16(const ucc_info* info, uint16_t* c1, uint16_t* c2, uint16_t* c3,
                        uint16_t* k_out);

/* ---- Tables and curves ------------------------------------------------------------- */

KLV_API int32_t spline(const ucc_point* points, int32_t count, double* slopes);
KLV_API int32_t splint(const ucc_point* points, int32_t count, const double* slopes, double x,
                       double* y_out);
KLV_API void InterpLut8(uint16_t* out, int32_t n, const uint8_t* in, int32_t m, int32_t low,
                        int32_t high);
KLV_API void InterpLut16(uint16_t* out, int32_t n, const uint16_t* in, int32_t m, int32_t low,
                         int32_t high);
KLV_API void InterpLutSigned16(uint16_t* out, int32_t n, const int16_t* in, int32_t m, int32_t low,
                               int32_t high);
KLV_API int32_t ucc_calc_rgb(ucc_rgb_levels* record);
KLV_API int32_t ucc_calc_hsv(ucc_hsv* record);
KLV_API int32_t ucc_calc_crep(ucc_crep* record);
/* Rebuilds a curve's table from its points; 0 when the points are refused. */
KLV_API int32_t ucc_calc_curve(ucc_curve* curve);

/* ---- Saved forms and dump --------------------------------------------------------- */

KLV_API int32_t save_ucc(SOVolume* volume, const char* path, const t_ucc_node* chain);
KLV_API t_ucc_node* load_ucc(SOVolume* volume, const char* path, t_ucc_node* chain);
KLV_API int32_t save_ucc_ext(SOVolume* volume, const char* path, const t_ucc_node* chain);
KLV_API t_ucc_node* load_ucc_ext(SOVolume* volume, const char* path, t_ucc_node* chain);
/* The same from and to memory: `form` 0 "UCCI", 1 "UCCX". The buffer from
 * ucc_save_mem is released with ucc_free_mem. */
KLV_API t_ucc_node* ucc_load_mem(const void* data, size_t size, t_ucc_node* chain);
KLV_API int32_t ucc_save_mem(const t_ucc_node* chain, int32_t form, void** data, size_t* size);
KLV_API void ucc_free_mem(void* data);
/* The text dump into `out` (size bytes, always terminated); returns the length
 * the whole dump needs. dump_ucc writes it to the log. */
KLV_API int32_t dump_ucc_ex(const t_ucc_node* chain, char* out, int32_t size);
KLV_API void dump_ucc(const t_ucc_node* chain);

/* ---- Calibration ------------------------------------------------------------------- */

KLV_API int32_t load_calibration(SOVolume* volume, t_ucc_node** chain, uint32_t what,
                                 uint32_t flags, void* extra);
/* A density node (type 192) from a linearization file of four or more
 * channels; null when the file has fewer. */
KLV_API t_ucc_node* ucc_density_from_lntb(SOVolume* volume, const char* path);

/* ---- The line filter's transform ------------------------------------------------ */

/* Fills `out` so that a line filter (filter_info.transform) converts its
 * pixels through the chain of `info`; the context must outlive the filter. */
KLV_API void ucc_filter_transform(ucc_info* info, filter_transform* out);

KLV_END_C

#endif
