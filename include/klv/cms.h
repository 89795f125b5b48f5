/* SPDX-License-Identifier: MIT */
/* The colour-management service: a registry of engine types read from
 * "CMSTypes.Info" (found along the "Server" search path), the engine
 * libraries loaded at run time (dlopen; a ".dll" name is also looked for as
 * ".so"), and profile nodes (`cms_profnode`), through which a colour chain
 * names a profile and keeps the transform an engine opened for it.
 *
 * Every operation takes an error callback and a cookie; failures return 0 or
 * null and are reported to the callback with one of the CMS_ERR_ codes (and
 * a log line). The service runs between cms_initialize and cms_terminate.
 *
 * The second half of this header is for engine writers: the operation
 * tables an engine library fills through its exports "cms_apply_api_funcs"
 * and "cms_build_api_funcs". */
#ifndef KLV_CMS_H
#define KLV_CMS_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"

KLV_BEGIN_C

/* ---- Errors ---------------------------------------------------------------- */

typedef void (*cms_error_callback)(const char* name, int32_t code, double value, void* cookie);

enum {
  CMS_ERR_NOT_RUNNING = 0,     /* the service is not running, or an argument is missing */
  CMS_ERR_MEMORY = -3,         /* memory ran out */
  CMS_ERR_LOAD = -5,           /* an engine library could not be loaded */
  CMS_ERR_REFUSED = -6,        /* the engine refused, or no loaded engine serves the type */
  CMS_ERR_NO_TYPE = -8,        /* no type has that id */
  CMS_ERR_NOT_REGISTERED = -12 /* no type has that id in the registry */
};

/* Built-in type ids (0 to 20 are built in; others come from registration). */
enum {
  CMS_TYPE_NONE = 0,
  CMS_TYPE_ICC = 1,       /* ICC profiles */
  CMS_TYPE_GCR = 2,       /* black generation tables */
  CMS_TYPE_DEVLINK = 3,   /* device links */
  CMS_TYPE_EMULATION = 15 /* printer emulation profiles ("KELVIcc") */
};

#define CMS_NAME_SIZE 81
#define CMS_ENGINE_NAME_SIZE 84
#define CMS_PATH_SIZE 260

/* ---- Profile nodes ---------------------------------------------------------- */

/* Format words, as colour chains use them: bits 0-7 total channels, bits
 * 8-11 the model (CMS_FMT_INK: subtractive, values held inverted; 0
 * additive; CMS_FMT_LAB: L*a*b*), bits 12-14 a sub-mode, bits 16-23 the spot
 * count. Bit 15 of a format a transform returns stops the chain after it. */
#define CMS_FMT_CHANNELS(f) ((f)&0xFFu)
#define CMS_FMT_INK 0x100u
#define CMS_FMT_LAB 0x400u
#define CMS_FMT_MODEL_MASK 0xF00u
#define CMS_FMT_STOP 0x8000u

/* Converts one pixel of 16-bit values in place (as many values as the
 * larger of the two formats has channels). Returns the output format word. */
typedef uint32_t (*cms_xform_pixel_fn)(void* handle, uint32_t format, uint16_t* values);
/* Converts `count` pixels of interleaved samples of `depth` bits (8 or 16)
 * from `in` to `out`, ink values as image files hold them (0 no ink).
 * Returns 1, or 0 when the transform has no line form for that depth. */
typedef int32_t (*cms_xform_line_fn)(void* handle, const void* in, void* out, uint32_t count,
                                     int32_t depth);
typedef void (*cms_xform_close_fn)(void* handle);

/* An open transform: the engine's handle and its operations. */
typedef struct cms_xform {
  void* handle;
  cms_xform_close_fn close;
  cms_xform_pixel_fn transform;
  cms_xform_line_fn transform_line; /* may be null */
} cms_xform;

typedef struct cms_profnode {
  int32_t type;
  char engine[CMS_ENGINE_NAME_SIZE]; /* the engine of the type; "" the default */
  int32_t value;                     /* engine-defined */
  char path1[CMS_PATH_SIZE];         /* the profile file */
  char path2[CMS_PATH_SIZE];         /* the volume it is a member of, "" for a host file */
  char path3[CMS_PATH_SIZE]; /* engine-defined (the LittleCMS engine: destination profile) */
  char path4[CMS_PATH_SIZE]; /* its member name in a colour chain */
  int32_t argc;
  char** argv; /* each at least 81 bytes, or its length + 10 */
  int32_t extra_size;
  void* extra;
  int32_t owns_args;
  uint32_t in_format, out_format, format3;
  cms_xform* xform; /* the open transform, null when closed */
  struct cms_profnode* next;
} cms_profnode;

/* The information record of a profile: fifteen texts (null when unknown). */
typedef struct cms_profile_info {
  char* name;
  char* description;
  char* manufacturer;
  char* model;
  char* copyright;
  char* profile_class;
  char* color_space;
  char* pcs;
  char* version;
  char* created;
  char* cmm;
  char* creator;
  char* rendering_intent;
  char* white_point;
  char* tags;
} cms_profile_info;

/* ---- The service ------------------------------------------------------------ */

typedef struct cms_info cms_info;

/* Reads "CMSTypes.Info" and loads each engine's apply library. 1 when the
 * service runs (also on a second call); 0 when the file is missing (quietly)
 * or cannot be read (logged). */
KLV_API int32_t cms_initialize(cms_error_callback callback, void* cookie);
/* Releases and terminates every loaded engine and unloads its libraries;
 * 0 when an engine refuses to terminate (the service then stays). */
KLV_API int32_t cms_terminate(cms_error_callback callback, void* cookie);
KLV_API int32_t cms_init_thread(cms_error_callback callback, void* cookie);
KLV_API int32_t cms_term_thread(cms_error_callback callback, void* cookie);

/* The running service, null when not running. */
KLV_API const cms_info* cms_get_info(void);
/* The id of the type of that name (any letter case), -1 when none. */
KLV_API int32_t cms_type_id_from_name(const char* name);
/* The name of a type into `out` (81 bytes); 1, or 0 when no type has the id. */
KLV_API int32_t cms_type_name_from_id(int32_t id, char* out);
/* 1 when the type is registered and an engine (by name, else the default)
 * has its apply operations loaded. */
KLV_API int32_t cms_type_get_info(int32_t id, const char* engine);
/* Number of registered types and the id of the n-th (registration order). */
KLV_API int32_t cms_type_count(void);
KLV_API int32_t cms_type_id_at(int32_t index);

/* ---- Profile nodes ---------------------------------------------------------- */

KLV_API cms_profnode* cms_profnode_new(int32_t type, const char* engine, int32_t value,
                                       const char* path1, const char* path2, const char* path3,
                                       const char* path4, int32_t argc, const char* const* argv,
                                       int32_t extra_size, const void* extra, uint32_t in_format,
                                       uint32_t out_format, cms_error_callback callback,
                                       void* cookie);
KLV_API cms_profnode* cms_profnode_copy(const cms_profnode* node, cms_error_callback callback,
                                        void* cookie);
KLV_API cms_profnode* cms_profnode_copy_list(const cms_profnode* first, cms_error_callback callback,
                                             void* cookie);
KLV_API int32_t cms_profnode_free(cms_profnode* node, cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profnode_free_list(cms_profnode** first, cms_error_callback callback,
                                       void* cookie);

KLV_API int32_t cms_profnode_open_xform(const cms_info* cms, cms_profnode* node,
                                        cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profnode_open_xform_ex(const cms_info* cms, cms_profnode* node,
                                           cms_error_callback callback, void* cookie,
                                           int32_t option);
KLV_API int32_t cms_profnode_close_xform(cms_profnode* node, cms_error_callback callback,
                                         void* cookie);

KLV_API int32_t cms_profnode_get_name(cms_profnode* node, char* out, int32_t size,
                                      cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profnode_create(cms_profnode* node, cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profnode_edit(cms_profnode* node, cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profnode_properties(cms_profnode* node, cms_error_callback callback,
                                        void* cookie);
KLV_API int32_t cms_profnode_selectprofile(cms_profnode* node, cms_error_callback callback,
                                           void* cookie);
/* The profiles the node's engine offers for the node's formats: a malloc'd,
 * null-terminated list of malloc'd paths (free with cms_free_list). */
KLV_API int32_t cms_profnode_valid_profiles(cms_profnode* node, char*** list,
                                            cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profnode_check_settings(cms_profnode* node, cms_error_callback callback,
                                            void* cookie);
KLV_API int32_t cms_profnode_update_paths(cms_profnode* node, const char* old_folder,
                                          const char* new_folder, cms_error_callback callback,
                                          void* cookie);
KLV_API int32_t cms_profnode_copy_files(cms_profnode* node, const char* folder,
                                        cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profnode_copy_files_ex(cms_profnode* node, const char* folder, int32_t option,
                                           cms_error_callback callback, void* cookie);
KLV_API void cms_free_list(char** list);

KLV_API int32_t cms_profile_get_info(cms_profnode* node, cms_profile_info** info,
                                     cms_error_callback callback, void* cookie);
KLV_API void cms_profile_free_info(cms_profile_info* info);
KLV_API int32_t cms_profile_is_valid(cms_profnode* node, cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profile_properties(cms_profnode* node, cms_error_callback callback,
                                       void* cookie);

/* ---- Profiling work (the build operations) ---------------------------------- */

/* Each finds the engine of `type` (by name, else its default) and passes
 * through to its build table, loading the build library on first use. */
KLV_API int32_t cms_profile_make_path(int32_t type, const char* engine, const char* name, char* out,
                                      int32_t size, cms_error_callback callback, void* cookie);
KLV_API void* cms_profile_swatch_new(int32_t type, const char* engine, cms_error_callback callback,
                                     void* cookie);
KLV_API int32_t cms_profile_swatch_free(int32_t type, const char* engine, void* swatch,
                                        cms_error_callback callback, void* cookie);
KLV_API void* cms_profile_swatch_load(int32_t type, const char* engine, const char* path,
                                      cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profile_swatch_save(int32_t type, const char* engine, void* swatch,
                                        const char* path, cms_error_callback callback,
                                        void* cookie);
KLV_API int32_t cms_profile_swatch_makejob(int32_t type, const char* engine, void* swatch,
                                           const char* path, cms_error_callback callback,
                                           void* cookie);
KLV_API int32_t cms_profile_swatch_createjob(int32_t type, const char* engine, void* swatch,
                                             const char* path, cms_error_callback callback,
                                             void* cookie);
KLV_API int32_t cms_profile_swatch_setup(int32_t type, const char* engine, void* swatch,
                                         cms_error_callback callback, void* cookie);
KLV_API void* cms_profile_table_new(int32_t type, const char* engine, cms_error_callback callback,
                                    void* cookie);
KLV_API int32_t cms_profile_table_free(int32_t type, const char* engine, void* table,
                                       cms_error_callback callback, void* cookie);
KLV_API void* cms_profile_table_load(int32_t type, const char* engine, const char* path,
                                     cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profile_table_save(int32_t type, const char* engine, void* table,
                                       const char* path, cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profile_table_setup(int32_t type, const char* engine, void* table,
                                        cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profile_table_build(int32_t type, const char* engine, void* table, void* swatch,
                                        cms_error_callback callback, void* cookie);
KLV_API int32_t cms_profile_table_create(int32_t type, const char* engine, void* table,
                                         const char* path, cms_error_callback callback,
                                         void* cookie);
KLV_API int32_t cms_profile_table_tweak(int32_t type, const char* engine, void* table,
                                        cms_error_callback callback, void* cookie);

/* ---- For engine writers ----------------------------------------------------- */

/* The version of the tables below; an engine that fills another version is
 * unloaded. */
#define CMS_API_VERSION 1

/* Apply operations, by slot. `engine` is the handle the engine gave at
 * load. Each returns 1 on success, 0 on refusal (after reporting it). */
typedef struct cms_apply_table {
  uint32_t size;    /* sizeof(cms_apply_table) as the engine was built */
  uint32_t version; /* CMS_API_VERSION */
  void* slot0;
  void* slot1;
  int32_t (*terminate)(void* engine, cms_error_callback cb, void* cookie);    /* 2 */
  int32_t (*begin_thread)(void* engine, cms_error_callback cb, void* cookie); /* 3 */
  int32_t (*end_thread)(void* engine, cms_error_callback cb, void* cookie);   /* 4 */
  void* slot5;
  int32_t (*release_value)(void* engine, void* value, cms_error_callback cb, void* cookie); /* 6 */
  int32_t (*check_node)(void* engine, cms_profnode* node, cms_error_callback cb,
                        void* cookie); /* 7 */
  int32_t (*free_node)(void* engine, cms_profnode* node, cms_error_callback cb,
                       void* cookie); /* 8 */
  void* slot9;
  int32_t (*copy_files)(void* engine, cms_profnode* node, const char* folder, int32_t option,
                        cms_error_callback cb, void* cookie); /* 10 */
  int32_t (*check_settings)(void* engine, cms_profnode* node, cms_error_callback cb,
                            void* cookie); /* 11 */
  int32_t (*update_paths)(void* engine, cms_profnode* node, const char* old_folder,
                          const char* new_folder, cms_error_callback cb, void* cookie); /* 12 */
  int32_t (*open_xform)(void* engine, cms_profnode* node, int32_t option, cms_error_callback cb,
                        void* cookie); /* 13: fills node->xform (allocated by the service) */
  int32_t (*get_name)(void* engine, cms_profnode* node, char* out, int32_t size,
                      cms_error_callback cb, void* cookie); /* 14 */
  int32_t (*create_profile)(void* engine, cms_profnode* node, cms_error_callback cb,
                            void* cookie); /* 15 */
  int32_t (*edit_profile)(void* engine, cms_profnode* node, cms_error_callback cb,
                          void* cookie); /* 16 */
  int32_t (*properties)(void* engine, cms_profnode* node, cms_error_callback cb,
                        void* cookie); /* 17 */
  int32_t (*select_profile)(void* engine, cms_profnode* node, cms_error_callback cb,
                            void* cookie); /* 18 */
  int32_t (*valid_profiles)(void* engine, cms_profnode* node, char*** list, cms_error_callback cb,
                            void* cookie); /* 19 */
  int32_t (*profile_info)(void* engine, cms_profnode* node, cms_profile_info** info,
                          cms_error_callback cb, void* cookie); /* 20 */
  int32_t (*profile_valid)(void* engine, cms_profnode* node, cms_error_callback cb,
                           void* cookie); /* 21 */
  int32_t (*profile_properties)(void* engine, cms_profnode* node, cms_error_callback cb,
                                void* cookie); /* 22 */
} cms_apply_table;

/* Build operations, by slot. `builder` is the handle the build export gave. */
typedef struct cms_build_table {
  uint32_t size;
  uint32_t version;
  void* slot0;
  void* slot1;
  void* slot2;
  int32_t (*make_path)(void* builder, const char* name, char* out, int32_t size,
                       cms_error_callback cb, void* cookie);                                /* 3 */
  void* (*swatch_new)(void* builder, cms_error_callback cb, void* cookie);                  /* 4 */
  int32_t (*swatch_free)(void* builder, void* swatch, cms_error_callback cb, void* cookie); /* 5 */
  void* (*swatch_load)(void* builder, const char* path, cms_error_callback cb,
                       void* cookie); /* 6 */
  int32_t (*swatch_save)(void* builder, void* swatch, const char* path, cms_error_callback cb,
                         void* cookie); /* 7 */
  int32_t (*swatch_makejob)(void* builder, void* swatch, const char* path, cms_error_callback cb,
                            void* cookie); /* 8 */
  void* slot9;
  int32_t (*swatch_setup)(void* builder, void* swatch, cms_error_callback cb,
                          void* cookie); /* 10 */
  void* slot11;
  void* (*table_new)(void* builder, cms_error_callback cb, void* cookie);                 /* 12 */
  int32_t (*table_free)(void* builder, void* table, cms_error_callback cb, void* cookie); /* 13 */
  void* (*table_load)(void* builder, const char* path, cms_error_callback cb,
                      void* cookie); /* 14 */
  int32_t (*table_save)(void* builder, void* table, const char* path, cms_error_callback cb,
                        void* cookie);                                                     /* 15 */
  int32_t (*table_setup)(void* builder, void* table, cms_error_callback cb, void* cookie); /* 16 */
  int32_t (*table_build)(void* builder, void* table, void* swatch, cms_error_callback cb,
                         void* cookie);                                                    /* 17 */
  int32_t (*table_tweak)(void* builder, void* table, cms_error_callback cb, void* cookie); /* 18 */
  int32_t (*swatch_createjob)(void* builder, void* swatch, const char* path, cms_error_callback cb,
                              void* cookie); /* 19 */
  int32_t (*table_create)(void* builder, void* table, const char* path, cms_error_callback cb,
                          void* cookie); /* 20 */
} cms_build_table;

/* The exports of an engine library. The apply export fills `table` (whose
 * size field the service sets to the size it knows), the engine handle and
 * the per-engine value the service releases at termination (slot 6). The
 * build export fills the build table and the builder handle. Both return 1,
 * or 0 on refusal. */
typedef int32_t (*cms_apply_api_funcs_fn)(cms_apply_table* table, void** engine, void** value,
                                          const char* engine_name, cms_error_callback cb,
                                          void* cookie);
typedef int32_t (*cms_build_api_funcs_fn)(cms_build_table* table, void** builder,
                                          const char* engine_name, cms_error_callback cb,
                                          void* cookie);

KLV_END_C

#endif
