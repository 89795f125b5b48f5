/* SPDX-License-Identifier: MIT */
/* Screen setups: named sets of per-colour screen settings offered by a
 * printer or a print mode, kept as a singly linked list.
 *
 * Settings text form (two spaces per indent level):
 *
 *   ScreenSetup {
 *     "Fine" {
 *       { "Cyan" "150" "15" "1" }
 *       { "Black" "150" "45" "1" "2" "1" }
 *     }
 *   }
 *
 * Each entry is 4 or 6 texts: colour name, ruling in lines per inch, angle in
 * degrees, dot-shape number and optionally two option numbers. */
#ifndef KLV_SCREEN_SETUP_H
#define KLV_SCREEN_SETUP_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

#define KLV_SCREENSETUP_NAME 80

typedef struct _SCREENSETUP {
  char name[KLV_SCREENSETUP_NAME]; /* at most 79 characters */
  SSTRAL* entries;                 /* one string array per colour */
  struct _SCREENSETUP* next;
} _SCREENSETUP;

/* Reads one block of setups whose name has just been read (the reader
 * stands before its "{"): each sub-block is a setup name followed by its
 * list of string arrays. Appends the nodes to *list. 1 when
 * the block is absent or was read up to its closing brace; 0 when memory runs
 * out, an entry list cannot be read or the block does not close. */
KLV_API int32_t get_screen_settings(SFPARSE* parser, _SCREENSETUP** list);
/* Writes the list as a block named `block` at `indent` levels. 1, also for an
 * empty list (which writes nothing); 0 on a write failure or null stream. */
KLV_API int32_t put_screen_settings(SFilemux* stream, const char* block, _SCREENSETUP* const* list,
                                    int32_t indent);
/* A deep copy; null for a null list or when memory runs out. */
KLV_API _SCREENSETUP* copy_screen_settings(const _SCREENSETUP* list);
/* Frees every node and its entries; returns 0. */
KLV_API int32_t free_screen_settings(_SCREENSETUP* list);
/* The first node whose name equals name without regard to letter case. */
KLV_API _SCREENSETUP* find_screen_setup(_SCREENSETUP* list, const char* name);
/* Unlinks node from *list (updating the head), frees it and returns 1; 0
 * for an empty list or a node that is not in it. */
KLV_API int32_t delete_screen_setup(_SCREENSETUP** list, _SCREENSETUP* node);

/* A new node (name cut to 79 bytes, never inside a multi-byte character)
 * with an empty entry list; null when memory runs out. */
KLV_API _SCREENSETUP* new_screen_setup(const char* name);

KLV_END_C

#endif
