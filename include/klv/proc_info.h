/* SPDX-License-Identifier: MIT */
/* The processing record: what a job's processing step used and made (its
 * image and colour files, options, level tables and separations, times,
 * the crop applied and the dot count per ink), kept as a `Proc_Info` block
 * of settings text beside the job's output. Records are appended, so one
 * file may hold several blocks; get_prtinfo reads the first.
 *
 * Reading checks every value: a level count or byte above 255, a level
 * value above FFFF, more than 256 level values, more than 12 tables or a
 * real that is not finite makes the read fail with a log line. Texts longer
 * than their field are cut (logged); names beyond the 12 separations and
 * entries beyond the 30 dot counts are ignored (logged). */
#ifndef KLV_PROC_INFO_H
#define KLV_PROC_INFO_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

#define KLV_PROC_PATH 512
#define KLV_PROC_TEXT 256
#define KLV_PROC_TABLES 12    /* level tables and separations */
#define KLV_PROC_SEP_NAME 32  /* a separation name: 31 characters */
#define KLV_PROC_DOTCOUNTS 30 /* dot count entries */
/* ProcessOpts bits that leave the level tables out: bit 14 set, bit 28 clear. */
#define KLV_PROC_OPT_NO_LEVELS 0x4000u
#define KLV_PROC_OPT_LEVELS_ANYWAY 0x10000000u

/* The name the job driver gives the record's file in a job folder. */
#define KLV_PROC_INFO_FILE "Proc_Info"

/* A level table; in use when `levels` is 2 or more. */
typedef struct proc_level_table {
  uint8_t levels;
  uint16_t values[256];
} proc_level_table;

/* A dot count entry; used when its name is not empty. */
typedef struct proc_dot_count {
  char name[KLV_PROC_SEP_NAME];
  uint64_t count;  /* the first count */
  double value;    /* the real between the counts */
  uint64_t count2; /* the second count */
} proc_dot_count;

typedef struct proc_info {
  uint8_t BitsPerSample; /* 1 when the file has none */
  char ImageFile[KLV_PROC_PATH];
  char UccFile[KLV_PROC_PATH];
  char ProcessProfiles[KLV_PROC_TEXT * 4];
  uint32_t ProcessOpts;
  char JobID[KLV_PROC_TEXT];
  char InkConfig[KLV_PROC_TEXT];
  uint8_t PrintXMod, PrintYMod;
  proc_level_table ProcLevelInfo[KLV_PROC_TABLES];
  char ProcessStartDate[12];
  char ProcessStartTime[9];
  char ProcessTotalTime[9];
  char PrinterCCT[8];
  char ScannerCCT[16];
  char Separations[KLV_PROC_TABLES][KLV_PROC_SEP_NAME];
  char PrintPattern[KLV_PROC_TEXT];
  uint8_t ProcCropSet; /* ProcCrop holds the crop applied */
  double ProcCrop[4];
  int32_t DotCountNorm;
  proc_dot_count DotCount[KLV_PROC_DOTCOUNTS];
  uint8_t Process16Bit;
} proc_info;

/* Appends the record as a `Proc_Info` block to the file (a host file when
 * volume is null, else a member), creating it when missing. 1, or 0 when
 * the file cannot be opened or written. */
KLV_API int32_t put_prtinfo(SOVolume* volume, const char* path, const proc_info* record);
/* Reads the first `Proc_Info` block of the file: the record is cleared,
 * BitsPerSample set to 1 and the block's values filled in. 1, or 0 when the
 * file or block is missing or a value is refused. */
KLV_API int32_t get_prtinfo(SOVolume* volume, const char* path, proc_info* record);
/* The same for the block numbered `index` (0 the first); 0 also when the
 * file holds fewer blocks. */
KLV_API int32_t get_prtinfo_at(SOVolume* volume, const char* path, int32_t index,
                               proc_info* record);
/* The number of `Proc_Info` blocks in the file (-1 when it cannot be read). */
KLV_API int32_t count_prtinfo(SOVolume* volume, const char* path);

/* Records on the heap, for callers that keep them: a cleared record with
 * BitsPerSample 1, the record read by get_prtinfo_at, or null. */
KLV_API proc_info* proc_info_new(void);
KLV_API proc_info* proc_info_load(SOVolume* volume, const char* path, int32_t index);
KLV_API void proc_info_free(proc_info* record);
/* The block as it is written, in a malloc'd string freed with
 * proc_info_text_free; null when memory is short. */
KLV_API char* proc_info_text(const proc_info* record);
KLV_API void proc_info_text_free(char* text);

KLV_END_C

#endif
