/* SPDX-License-Identifier: MIT */
/* Profile requests: the ProfOp scripts that clients send to a server to
 * change a profile library (klv/request.h), run against the profile request
 * command table.
 *
 * The table has 54 commands: the interpreter's built-ins (DimStr, DimVal,
 * Fetch, Not, Or, Store), Answer, and profile-library operations. Each
 * operation command succeeds (true in a condition) when the operation gave
 * PL_OK; texts are tokens (quote those with blanks, "" for an empty field);
 * types and flags are hexadecimal; a type field of "" in a lookup means any.
 *
 *   AddProfileEntryEx {media setting pattern type name owner flags table readings}
 *   UpdateProfileEntryEx {the same}
 *   GetProfileEntryEx {s<n> media setting pattern type name}
 *       s<n>.. get media, setting, pattern, type, name, owner, flags, table, readings
 *   ExistProfileEntryEx, CanAddProfile, RemoveProfileEntryEx,
 *   RemoveTable, RemoveSwatch {media setting pattern type name}
 *   AddProfileShareEx {media setting pattern type name share_media share_setting share_pattern}
 *   GetProfileCount {v<n> media setting pattern type [s<m>]}
 *       v<n> gets the number of matching profiles; with s<m>, their keys
 *       ("media~setting~pattern~type~name") go to s<m>, s<m+1>, ...
 *   AddDefaultEntryEx {media setting pattern type name [type name ...]}
 *   UpdateDefaultEntryEx {media setting pattern type name [type name ...]}
 *       (sets those types' defaults in the existing entry)
 *   AddModelEntryEx, UpdateModelEntryEx {media setting third type name owner flags table readings}
 *   GetModelEntryEx {s<n> media setting third type name}
 *   ExistModelEntryEx, RemoveModelEntryEx, RemoveModelTable,
 *   RemoveModelSwatch {media setting third type name}
 *   CopyTable, CopySwatch {media setting pattern type name to_media to_setting to_pattern}
 *   CopyFile {from to}, RemoveFile {member}: members of the library volume
 *   CopyMediaProfiles {from to}, RemoveMediaProfiles {media}, Defragment
 *   LockProfile, UnlockProfile {media setting pattern type name}: exclusive;
 *   LockProfileEx, UnlockProfileEx {... kind}: 0 exclusive, 1 shared;
 *   LockModel(Ex), UnlockModel(Ex) alike; LockDefault, UnlockDefault
 *   {media setting pattern [kind]}; UnlockAllProfiles, UnlockAllModels,
 *   UnlockAllDefaults
 *   IndexLoad, IndexSave, IndexFree: keep the index loaded across commands
 *   (changes are written at IndexSave); without IndexLoad each command
 *   loads the index and writes it back when it changed it
 *   FreeProfileEntry, FreeModelEntry, FreeDefaultEntry: succeed (entries
 *   read by the Get commands live in string variables; nothing is held)
 *   SetProfileCount, CopyVVMediaProfiles: refused (logged); this library
 *   keeps no profile count and no variable-dot media profiles. */
#ifndef KLV_PROFLIB_REQUEST_H
#define KLV_PROFLIB_REQUEST_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_types.h"
#include "klv/script.h"

KLV_BEGIN_C

/* The profile request command table, in name order; `count` receives 54. */
KLV_API const INTERP_CMD* PL_request_table(int32_t* count);
/* Runs the script block that comes next in `request` (a request's ProfOp
 * block) against `library` (an open profile library volume), writing the
 * reply into `answer` (may be null). Returns 1. */
KLV_API int32_t PL_handle_request(SFPARSE* request, SOVolume* answer, SOVolume* library);
/* The same with the interpreter's limits (null: defaults); 1 when the script
 * ran to its end, 0 on a fault with its text in `error` (may be null). */
KLV_API int32_t PL_handle_request_ex(SFPARSE* request, SOVolume* answer, SOVolume* library,
                                     const INTERP_LIMITS* limits, char* error, int32_t error_size);

KLV_END_C

#endif
