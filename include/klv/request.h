/* SPDX-License-Identifier: MIT */
/* Server requests: client programs ask a server (`klvrip serve FOLDER`) to do
 * work by dropping request volumes into the server's folder and waiting for
 * an answer volume. There is no socket: the protocol is files in a shared
 * folder.
 *
 * Names, for client name C and a lower-case hexadecimal id N:
 *   <folder>Info\Server.Info   present while a server runs on the folder
 *   <folder>CN.RQX             the request volume, published whole
 *   <folder>Info\CN.ANS        the answer volume, published whole
 * Request volume members: ".\\NeedAnswer" (empty, present when an answer is
 * wanted) and ".\\Request", a settings text block "Request { ... }" that for
 * profile operations holds " ProfOp { ... }". Answer volume member
 * ".\\Answers": "Answers { value ... }".
 *
 * Publishing: the request is written under a working name ("CN.RQW") and
 * linked to its ".RQX" name only when it is complete, never over another
 * request; the server answers the same way. A server takes a request by
 * renaming it (".RQX" to a name of its own), so one request is run by one
 * server even when several watch the folder.
 *
 * Status codes: SRV_OK ... SRV_NO_ANSWER below. */
#ifndef KLV_REQUEST_H
#define KLV_REQUEST_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_types.h"
#include "klv/script.h"

KLV_BEGIN_C

#define SRV_PATH_MAX 260 /* bytes of each path of a request, terminator included */

enum {
  SRV_OK = 0,
  SRV_NOTHING = 1,     /* nothing to wait for (no record, or no request path) */
  SRV_NO_MEMORY = 2,   /* no memory for the request record */
  SRV_NO_FOLDER = 3,   /* no server folder, or its paths are too long */
  SRV_TIMEOUT = 4,     /* timed out */
  SRV_NOT_RUNNING = 5, /* Server.Info missing, or it vanished while waiting */
  SRV_NO_ANSWER = 6    /* the answer volume did not open */
};

/* begin_srv_request flags. */
enum {
  SRV_NO_ANSWER_WANTED = 1, /* the server need not answer */
  SRV_NO_SERVER_CHECK = 2   /* do not check for a running server */
};

/* end_srv_request flags. */
enum { SRV_DELETE_REQUEST = 1, SRV_DELETE_ANSWER = 2 };

/* wait_srv_request's timeout meaning no limit. */
#define SRV_WAIT_FOREVER 0xFFFFFFFFu

/* One request, owned by the caller from begin_srv_request_ex until
 * end_srv_request. */
typedef struct SRV_REQUEST {
  /* The request volume while it is written; after a successful wait the
   * answer volume (read only); else null. */
  SOVolume* volume;
  char info_path[SRV_PATH_MAX];    /* "" when the server is not checked */
  char request_path[SRV_PATH_MAX]; /* <folder><client><id>.RQX */
  char answer_path[SRV_PATH_MAX];  /* <folder>Info\<client><id>.ANS; "" when none wanted */
  char work_path[SRV_PATH_MAX];    /* the working name until published */
} SRV_REQUEST;

/* The request for a printer: its server folder is the printer's folder
 * (get_printer_path). Status 3 and null when the printer has none. */
KLV_API SRV_REQUEST* begin_srv_request(const char* printer, const char* client, uint32_t flags,
                                       int32_t* status);
/* Creates a request in `folder` for client `client` (null or "": the
 * computer's name). Flags SRV_NO_ANSWER_WANTED, SRV_NO_SERVER_CHECK. The
 * caller then writes ".\\Request" into record->volume. Null on failure, with
 * the reason in *status (may be null). */
KLV_API SRV_REQUEST* begin_srv_request_ex(const char* folder, const char* client, uint32_t flags,
                                          int32_t* status);
/* Publishes the request and waits for it to be taken and answered: timeout
 * in milliseconds, SRV_WAIT_FOREVER for no limit. Polls every 500 ms. Status:
 * 0 the answer volume is open in record->volume (or, with no answer wanted,
 * the server took the request); 1, 4, 5 or 6. */
KLV_API int32_t wait_srv_request(SRV_REQUEST* record, uint32_t timeout);
/* Closes the open volume, removes the request (SRV_DELETE_REQUEST) and the
 * answer (SRV_DELETE_ANSWER), frees the record. Returns null. */
KLV_API SRV_REQUEST* end_srv_request(SRV_REQUEST* record, uint32_t flags);

/* ---- Answers -------------------------------------------------------------- */

/* The values of the answer volume's ".\\Answers" member as a list of strings
 * ending with a null pointer (free with free_char_list); `count` (optional)
 * receives how many. Null when the member or its "Answers" token (letter
 * case counts) is missing. */
KLV_API char** srv_read_answers(SOVolume* answer, int32_t* count);
/* Writes ".\\Answers" into an answer volume: "Answers {", one line per value
 * (quoted when it needs it), "}". 1, or 0 when it could not be written. */
KLV_API int32_t srv_write_answers(SOVolume* answer, const char* const* values, int32_t count);

/* ---- Request scripts --------------------------------------------------------- */

/* The host data of the interpreter that runs a request's ProfOp script: the
 * answer volume being written (null when no answer is wanted) and the data
 * of whoever built the command table. */
typedef struct SRV_SCRIPT_HOST {
  SOVolume* answer;
  void* data;
} SRV_SCRIPT_HOST;

/* The Answer command, Answer {from to}: writes ".\\Answers" with string
 * variables from..to-1 (" \"\"" for an index beyond the dimensioned strings).
 * 0 with fewer than two arguments, without an answer volume, for a range of
 * more than 65,536 values, or when the answer cannot be written. The
 * interpreter's host data must be an SRV_SCRIPT_HOST. */
KLV_API int32_t srv_answer_func(const INTERP_LIST* args, int32_t arg, INTERP* ip);

/* Runs the script block that comes next in `fp` (a request's ProfOp block)
 * in statement mode with `count` commands of `table`, the host data
 * {answer, data} and `limits` (null: the interpreter's defaults). 1 when it
 * ran to its end; 0 on a fault, whose text (with its line) goes to `error`
 * (error_size bytes, may be null). */
KLV_API int32_t srv_run_script(SFPARSE* fp, SOVolume* answer, const INTERP_CMD* table,
                               int32_t count, void* data, const INTERP_LIMITS* limits, char* error,
                               int32_t error_size);

KLV_END_C

#endif
