/* SPDX-License-Identifier: MIT */
/* The script interpreter: a small command language written in settings text.
 *
 * A script is a block of tokens and brace-delimited lists. The host supplies
 * a table of named commands; the interpreter adds control flow and variables:
 *
 *   if {C} then {A} else {B}     run C as a condition; A when it holds, else B
 *                                (then and else parts are each optional)
 *   while {C} do {A}             while C holds, run A
 *   do {A} while {C}             run A, then again while C holds (do {A}: once)
 *   case {{S} {B1} {B2} ...}     the first command in S gives k; branch Bk runs
 *   Name {args}                  a command of the table (the list is optional)
 *   {block}                      a list standing alone runs as a block
 *
 * Keywords and command names are matched without regard to ASCII letter case.
 * A condition list holds when every command in it succeeds (returns non-zero)
 * and names no unknown command; in statement mode a failing command does not
 * stop the script and an unknown command is skipped (logged with its line).
 *
 * Variables: v<n> (or a bare number where a variable is expected) names
 * numeric variable n, s<n> string variable n. The built-in commands (DimVal,
 * DimStr, Store, Fetch, Or, Not) are put in a table by the host like any
 * other command.
 *
 * Limits: a script comes from outside (a server request), so every
 * interpreter runs under limits the host may change (interp_set_limits): a
 * step budget (each element parsed and each element run is one step),
 * the depth of nested lists and of nested runs, the bytes of a block read,
 * and the count and size of variables. A script that passes a limit, or is malformed (a block that
 * does not close, a token too long), stops with a fault: interp_file and interp_list return 0 from
 * then on, and interp_error gives the text with the line where it happened. A whole block is read
 * before any of it runs, so a script cut short runs none of its commands. */
#ifndef KLV_SCRIPT_H
#define KLV_SCRIPT_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_settings.h"

KLV_BEGIN_C

typedef struct INTERP INTERP;
typedef struct INTERP_LIST INTERP_LIST;

/* One element of a list: a token or a nested list. */
typedef struct INTERP_ELEM {
  char* token;       /* the token's text; null for a list */
  INTERP_LIST* list; /* the nested list; null for a token */
  int32_t line;      /* script line where the element starts */
} INTERP_ELEM;

/* A parsed list, owned by whoever read it (interp_free_list). */
struct INTERP_LIST {
  int32_t count;
  INTERP_ELEM* elems;
  int32_t line; /* line of its opening brace */
};

/* A command function: its argument list (null when the command is not
 * followed by a list), the table entry's argument and the interpreter.
 * Non-zero means success (true in a condition). */
typedef int32_t (*interp_func)(const INTERP_LIST* args, int32_t arg, INTERP* ip);

/* One entry of a host's command table. The interpreter keeps its own copy,
 * sorted by name without regard to letter case, so the host's table may be
 * in any order; names must stay valid while the interpreter lives. */
typedef struct INTERP_CMD {
  const char* name;
  int32_t arg;
  interp_func func;
} INTERP_CMD;

/* Limits of one interpreter. A value of 0 or below in interp_set_limits
 * keeps the current limit. */
typedef struct INTERP_LIMITS {
  int64_t max_steps;         /* elements parsed plus elements run (default 1,000,000) */
  int32_t max_depth;         /* nested lists and nested runs (default 64) */
  int32_t max_numbers;       /* numeric variables (default 65,536) */
  int32_t max_strings;       /* string variables (default 4,096) */
  int32_t max_string_length; /* bytes of each string buffer (default 65,536) */
  int64_t max_string_bytes;  /* bytes of all string buffers together (default 16 MiB) */
  int64_t max_script_bytes;  /* bytes of the tokens of one block read (default 16 MiB) */
} INTERP_LIMITS;

/* ---- The interpreter ------------------------------------------------------ */

/* Creates an interpreter reading from `fp` (may be null when only parsed
 * lists are run) with `count` commands of `table` and the host's data. Null
 * when memory runs out or the table is null with a count above 0. */
KLV_API INTERP* interp_attach(SFPARSE* fp, const INTERP_CMD* table, int32_t count, void* host);
/* Frees the variables and the interpreter (not the reader). 0. */
KLV_API int32_t interp_free(INTERP* ip);
/* The host data given to interp_attach. */
KLV_API void* interp_host(const INTERP* ip);
KLV_API int32_t interp_set_limits(INTERP* ip, const INTERP_LIMITS* limits);
KLV_API int32_t interp_get_limits(const INTERP* ip, INTERP_LIMITS* limits);
/* Steps taken so far. */
KLV_API int64_t interp_steps(const INTERP* ip);
/* The fault that stopped the script ("line 3: ..."), or "" when none. The
 * text stays valid until the interpreter is freed. */
KLV_API const char* interp_error(const INTERP* ip);
/* The line of the fault, 0 when none. */
KLV_API int32_t interp_error_line(const INTERP* ip);

/* ---- Running -------------------------------------------------------------- */

/* Runs a parsed list. Returns 1, or in condition mode (cond non-zero) 0 as
 * soon as a command fails or a token names no command; 0 after a fault. */
KLV_API int32_t interp_list(INTERP* ip, const INTERP_LIST* list, int32_t cond);
/* Runs the block that comes next in the interpreter's reader: when the next
 * token is "{", that list; otherwise the rest of the block the reader stands
 * in, up to and including its closing brace. Returns 1; 0 when the block
 * does not close properly, on a fault, or in condition mode when a command
 * fails. */
KLV_API int32_t interp_file(INTERP* ip, int32_t cond);
/* Runs `then_list` when `condition` holds, else `else_list`; returns what
 * the chosen list returns, 0 when it is null. */
KLV_API int32_t interp_try(INTERP* ip, const INTERP_LIST* condition, const INTERP_LIST* then_list,
                           const INTERP_LIST* else_list);
/* Runs case list {S} {B1} {B2} ...: the first command named in S gives k and
 * branch k runs when it exists and is a list. Returns k, or the element
 * count of S when S names no command, or 0 when the first element is not a
 * list. */
KLV_API int32_t interp_case(INTERP* ip, const INTERP_LIST* list);

/* ---- Parsed lists ------------------------------------------------------------ */

/* Reads the list that comes next ("{" ... "}") from the interpreter's reader
 * into a new list; null (and a fault) when it is malformed or passes a limit,
 * null without a fault when the next token is not "{". */
KLV_API INTERP_LIST* interp_read_list(INTERP* ip);
KLV_API void interp_free_list(INTERP_LIST* list);
/* The tokens of a list, nested lists flattened in order, into out (at most
 * max pointers into the list). Returns how many there are (which may be more
 * than max). */
KLV_API int32_t interp_flatten(const INTERP_LIST* list, const char** out, int32_t max);

/* ---- Built-in commands ---------------------------------------------------------- */

/* DimVal {n}: numeric variables grow to n (new ones 0); never shrink. */
KLV_API int32_t interp_dimval_func(const INTERP_LIST* args, int32_t arg, INTERP* ip);
/* DimStr {count length}: buffer length becomes the larger of length and the
 * current; string variables grow to count; every buffer is enlarged. */
KLV_API int32_t interp_dimstr_func(const INTERP_LIST* args, int32_t arg, INTERP* ip);
/* Store {dest src}: s<n> gets the text src (cut to the buffer length less
 * one), or with src "\v<m>" the decimal text of numeric variable m; v<n> or
 * n gets the value of src. 0 with fewer than two arguments or an index out
 * of range. */
KLV_API int32_t interp_store_func(const INTERP_LIST* args, int32_t arg, INTERP* ip);
/* Fetch {x}: the value of s<n> (its leading decimal integer) or v<n>; -1
 * when the index is out of range or no argument is given. */
KLV_API int32_t interp_fetch_func(const INTERP_LIST* args, int32_t arg, INTERP* ip);
/* Or {{C1} {C2} ...}: holds when any list argument holds (tried in order). */
KLV_API int32_t interp_or_func(const INTERP_LIST* args, int32_t arg, INTERP* ip);
/* Not {C}: holds when C does not. */
KLV_API int32_t interp_not_func(const INTERP_LIST* args, int32_t arg, INTERP* ip);

/* ---- Values for command functions ------------------------------------------------- */

/* The number after an optional v or V; -1 for a null token or one that is
 * not such a number. */
KLV_API int32_t interp_getindex(const char* token);
/* s<n>: the decimal integer at the start of string variable n; v<n>: numeric
 * variable n; anything else read as a decimal integer. 0 for an index
 * outside the dimensioned range. */
KLV_API int32_t interp_sget_num(const INTERP* ip, const char* token);
/* The address of the numeric variable a token names (v<n> or n), null when
 * out of range. */
KLV_API int32_t* interp_sget_val_ptr(INTERP* ip, const char* token);
/* The same for a list element; 0 or null for a list. */
KLV_API int32_t interp_eget_num(const INTERP* ip, const INTERP_ELEM* elem);
KLV_API int32_t* interp_eget_val_ptr(INTERP* ip, const INTERP_ELEM* elem);
/* String variables: the count, the buffer length, and the text of variable n
 * (null when out of range). interp_set_str stores text (cut to the buffer
 * length less one, never inside a multi-byte character): 1, or 0 when out
 * of range. */
KLV_API int32_t interp_str_count(const INTERP* ip);
KLV_API int32_t interp_str_length(const INTERP* ip);
KLV_API const char* interp_get_str(const INTERP* ip, int32_t n);
KLV_API int32_t interp_set_str(INTERP* ip, int32_t n, const char* text);
/* Numeric variables: the count. */
KLV_API int32_t interp_val_count(const INTERP* ip);
/* The string variable a token names (s<n>), or -1. */
KLV_API int32_t interp_str_index(const char* token);

KLV_END_C

#endif
