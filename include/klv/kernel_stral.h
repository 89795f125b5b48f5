/* SPDX-License-Identifier: MIT */
/* String lists (SSTRAL): an ordered list of elements, each element an array
 * of zero or more strings. Printer lists, page sizes, drop tables, alias rules
 * and answer values are kept in them.
 *
 * The list is opaque; read it through the accessors. Every string is a copy
 * owned by the list. Pointers handed out by stral_get and stral_str stay valid
 * until that element is deleted or the list is freed (adding elements does not
 * move the strings of other elements).
 *
 * Every function accepts a null list: counts are 0, lookups give -1 or null,
 * changes fail. */
#ifndef KLV_KERNEL_STRAL_H
#define KLV_KERNEL_STRAL_H

#include <stdint.h>

#include "klv/export.h"

KLV_BEGIN_C

typedef struct SSTRAL SSTRAL;

/* A new empty list; null when memory runs out. Freed with stral_free. */
KLV_API SSTRAL* _stral_new(void);
/* A deep copy; null for a null list or when memory runs out. */
KLV_API SSTRAL* _stral_copy(const SSTRAL* list);
KLV_API void stral_free(SSTRAL* list);

/* Appends one element made of `count` strings (a null string is stored as
 * ""). Returns the new element's index, or -1 (null list, count < 0, or out of
 * memory). */
KLV_API int32_t stral_add(SSTRAL* list, const char* const* strings, int32_t count);
/* Convenience form: the strings follow `list` and end with a null pointer,
 * e.g. stral_addv(list, "Letter", "8.5in", "11in", (const char*)0). */
KLV_API int32_t stral_addv(SSTRAL* list, ...) __attribute__((sentinel));
/* Removes element `index`; later elements move down by one. 1, or 0 when the
 * index is out of range. */
KLV_API int32_t stral_del(SSTRAL* list, int32_t index);
/* Removes every element. */
KLV_API void stral_clear(SSTRAL* list);

/* Number of elements. */
KLV_API int32_t stral_count(const SSTRAL* list);
/* Number of strings in element `index`; -1 when out of range. */
KLV_API int32_t stral_size(const SSTRAL* list, int32_t index);
/* The strings of element `index` as an array ending with a null pointer
 * (like argv); `count` (optional) receives the string count. Null when the
 * index is out of range. */
KLV_API const char* const* stral_get(const SSTRAL* list, int32_t index, int32_t* count);
/* String `column` of element `index`, or null when either is out of range. */
KLV_API const char* stral_str(const SSTRAL* list, int32_t index, int32_t column);

/* The index of the first element whose strings equal the keys column by
 * column, or -1. A key "?" matches any string; an element with fewer strings
 * than there are keys does not match. Strings are compared exactly (letter
 * case counts): the lists hold names such as printer instances and drop
 * names that are matched exactly. stral_ifind_array ignores ASCII letter
 * case. The variadic form takes the keys after `list`, ended by a null
 * pointer: stral_find(list, "?", device, (const char*)0). */
KLV_API int32_t stral_find_array(const SSTRAL* list, const char* const* keys, int32_t count);
KLV_API int32_t stral_ifind_array(const SSTRAL* list, const char* const* keys, int32_t count);
KLV_API int32_t stral_find(const SSTRAL* list, ...) __attribute__((sentinel));

KLV_END_C

#endif
