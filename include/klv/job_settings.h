/* SPDX-License-Identifier: MIT */
/* Job settings: the `settings` record every job carries (its image and
 * colour files, printer, media, mode and resolution, size, copies, nesting
 * and placement, cut and label options, processing switches, queue state and
 * dates, free-text metadata, its cropping and tiling and its print options),
 * the `Default_Config` block new jobs start from, and the per-printer presets
 * of a `Printer_Sets` file.
 *
 * The record is stored as a `Settings` block of settings text: the file
 * "Settings" in a job folder, or the member ".\\Settings" of a job volume.
 * Each key is written on its own line as " Key { value }"; keys are read
 * without regard to letter case and keys the record does not know are
 * skipped. A record whose UnmodifiableFlag is set is stored enciphered: the
 * four bytes "ESET" followed by the text through the kernel's enciphering
 * layer (obfuscation, not security).
 *
 * Numbers are checked when read: a byte field above 255, a negative value
 * for an unsigned field, a number beyond its field's range or a real that is
 * not finite makes the read fail with a log line naming the key. Texts
 * longer than their field are cut (logged) without splitting a UTF-8
 * character.
 *
 * Results: 1 on success, 0 on failure (logged). Records and preset lists
 * handed out belong to the caller and are released with settings_free and
 * free_psets. */
#ifndef KLV_JOB_SETTINGS_H
#define KLV_JOB_SETTINGS_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_types.h"
#include "klv/printmode.h"

KLV_BEGIN_C

/* Capacities of the text fields, terminator included. */
#define KLV_SET_PATH 512   /* paths */
#define KLV_SET_NAME 128   /* names: printer, media, mode, job, user... */
#define KLV_SET_TEXT 512   /* comments, labels and metadata */
#define KLV_SET_OPTION 31  /* a print option's name or value: 30 characters */
#define KLV_SET_OPTIONS 10 /* print option slots */

/* The name of the settings file in a job folder and of the member in a job
 * volume. */
#define KLV_SETTINGS_FILE "Settings"
#define KLV_SETTINGS_MEMBER ".\\Settings"

/* The cropping and tiling of a job: block `Cropping`. */
typedef struct settings_crop {
  double Width, Height;
  double Box[4];
  int32_t NoTiles, IndividualTiles;
  double TileWidth, TileHeight, Overlap, OverlapWhiteSpace;
  double LastBleedTileLeft, LastBleedTileRight, LastBleedTileTop, LastBleedTileBottom;
  uint16_t TileXCount, TileYCount, ExNamesCount;
  double* TileX;  /* TileXCount positions (malloc'd, owned) */
  double* TileY;  /* TileYCount positions */
  char** ExNames; /* ExNamesCount names, each malloc'd */
  double BorderWidth;
  uint32_t Border[4];
  /* Bleed: on when BleedOn is set; `Bleed` holds BleedMode, eight sizes,
   * eight switches, two more sizes and three options, in file order. */
  uint8_t BleedOn;
  int32_t BleedMode;
  double BleedSizes[8];
  int32_t BleedSwitches[8];
  double BleedExtra[2];
  int32_t BleedOptions[3];
  /* One value per channel; stored when bleed is on and BleedMode is 0. */
  uint32_t BleedPixel[12];
} settings_crop;

/* The batch a job is printed in: block `PrintBatch`. */
typedef struct settings_batch {
  char BatchCopies[6];
  char BatchId[11];
  char BatchName[257];
  char JobsInBatch[6];
  char SeqNum[6];
  uint8_t BatchMarks;
} settings_batch;

/* One print option slot; used when its name is not empty. */
typedef struct settings_option {
  char name[KLV_SET_OPTION];
  char value[KLV_SET_OPTION];
} settings_option;

/* The job settings record, its keyed fields in the order they are written. */
typedef struct settings {
  char Setpath[KLV_SET_PATH];
  char Imagepath[KLV_SET_PATH];
  char Originalpath[KLV_SET_PATH];
  char JobName[KLV_SET_NAME];
  uint32_t ImageRefId;
  char Colorpath[KLV_SET_PATH];
  char ColorpathExt[KLV_SET_PATH];
  char ColorpathExtLabel[KLV_SET_NAME];
  char ColorWaysPath[KLV_SET_PATH];
  char StitchMarkPath[KLV_SET_PATH];
  char Printpath[KLV_SET_PATH];
  uint8_t UnitMode, Precision, ColorMode, ToolsMode, RulerOrigin, ZoomMode, DspMode, PreviewRes;
  char ImageDev[KLV_SET_NAME];
  uint8_t PSContinuous, ProcessRotation, ColorCorrect;
  char PrintDev[KLV_SET_NAME];
  char PrintMedia[KLV_SET_NAME];
  uint32_t MediaId, MediaSourceId;
  uint8_t PrintMediaFlag;
  char PrintMode[KLV_SET_NAME];
  char PrintRes[KLV_SET_NAME];
  uint8_t PrintResScaleFlag, PrintCCT, PrintScaleDen;
  double PrintMaxX, PrintMaxY, PrintMarginX, PrintMarginY, CopyGap, CopyGapY;
  uint8_t HorizontalCopy, VerticalCopy, PlaceOverride, Placement, PrintCache, TileFlip,
      PrintNesting, PrintNestingType, BestFit, TriggerFlags, TriggerArea;
  uint32_t TriggerTime;
  uint8_t PrintJustify;
  double TopOffset, LeftOffset, RightOffset;
  uint8_t PrintLabelFlag;
  char PrintLabel[KLV_SET_TEXT];
  uint8_t PrintLabelSize;
  double PrintLabelSpace;
  char UserComment[KLV_SET_TEXT];
  uint8_t RegLines, OverlapDrawThrough, OverlapMask, CropOutline, PrintType, NumColor, NumSpotColor,
      Inverse, Interpolate, Reflect, PatternDif;
  char PatternOpt[KLV_SET_NAME];
  uint8_t RipAtPrint, Process16Bit, Rotation, PrintState, ProcessPrintOptions;
  uint8_t GenBlack4, GenMask, UseFileMask;
  uint16_t NumCopies;
  uint8_t NotRippedYet;
  uint32_t Template;
  double TemplateMag, TemplateAspect;
  char UserName[KLV_SET_NAME];
  uint8_t SplitPDFFlag;
  char SubmiterId[KLV_SET_NAME];
  char RequestDir[KLV_SET_PATH];
  uint8_t HoldFlags;
  uint32_t CreateDate, CreateTime, HoldDate, HoldTime;
  uint8_t ImageCleanup, UnmodifiableFlag, ArchiveFlag;
  uint8_t LastProofState, LastServerState, PreviewErr, PreviewFlag, Nesting, CutColors;
  double CutMargins[4];
  uint8_t CutMarkImageWidth;
  uint8_t CutMarkSet[4];
  uint8_t Cuts;
  double CutSize;
  uint8_t CutTileOutline;
  double CutTileChoke;
  uint8_t UseCutPaths, Gutters;
  double GutterSize;
  uint8_t JobType;
  uint32_t JobExpireDate;
  uint8_t Proof, InkCounting, LogJob;
  char JDFName[KLV_SET_NAME];
  char JDFPath[KLV_SET_PATH];
  char JDFOutputPath[KLV_SET_PATH];
  char WallArtQueueId[KLV_SET_NAME];
  uint8_t WallArtFinished;
  char WallArtJDFPath[KLV_SET_PATH];
  char MetadataJobNum[KLV_SET_TEXT];
  char MetadataCompanyName[KLV_SET_TEXT];
  char MetadataCustomerName[KLV_SET_TEXT];
  char MetadataNotes[KLV_SET_TEXT];
  char MetadataCustom01[KLV_SET_TEXT];
  char MetadataCustom02[KLV_SET_TEXT];
  uint8_t NestAdditionalColumns, NestAdditionalRows, NestTotalCopies;
  int32_t NestXOffset, NestYOffset;
  double NestXGap, NestYGap, NestBorder;
  settings_option PrintOptions[KLV_SET_OPTIONS];
  /* Owned by the record, never stored under a key of their own. */
  settings_crop* Cropping;    /* null: no cropping block */
  settings_batch* PrintBatch; /* null: no batch block */
  SSTRAL* LoadedMedia;        /* the loaded media of a printer preset */
} settings;

/* ---- Records ------------------------------------------------------------- */

/* A zeroed record (calloc); null when memory is short. */
KLV_API settings* settings_new(void);
/* Frees the record's sub-records and the record. Null is ignored. */
KLV_API void settings_free(settings* record);
/* Frees the sub-records and zeroes the whole record. */
KLV_API void settings_clear(settings* record);
/* Makes `to` a deep copy of `from` (freeing what `to` held); 1, or 0 when
 * memory is short (then `to` is cleared). */
KLV_API int32_t settings_copy(settings* to, const settings* from);
/* New cropping and batch sub-records (zeroed), or null. Free a cropping
 * sub-record that no record owns with settings_crop_free. */
KLV_API settings_crop* settings_crop_new(void);
KLV_API void settings_crop_free(settings_crop* crop);
KLV_API settings_batch* settings_batch_new(void);

/* ---- Reading ------------------------------------------------------------- */

/* Reads `<folder>/Settings`, or `folder` itself as the file when that cannot
 * be opened. The record is cleared first; a partly read record is left as
 * read. */
KLV_API int32_t get_settings(const char* folder, settings* record);
/* Opens the job volume at `path` (mode as VOpen, normally KLV_VOL_READ),
 * reads its member ".\\Settings" and closes it. */
KLV_API int32_t get_vol_settings(const char* path, settings* record, int32_t mode);
/* The same on a volume that is already open. */
KLV_API int32_t get_settings_from_vol(SOVolume* volume, settings* record);
/* Reads a `Settings` block from an attached reader: the next token must be
 * `Settings` and the one after it "{". No deciphering at this level. */
KLV_API int32_t off_get_settings(SFPARSE* fp, settings* record);

/* A job's record: `job` is a job volume, a job folder or a settings file.
 * Null on failure (logged). Free with settings_free. */
KLV_API settings* job_settings_load(const char* job);

/* ---- Writing ------------------------------------------------------------- */

/* Writes the file at `path`, replacing it only once it is whole. */
KLV_API int32_t put_settings(const char* path, const settings* record);
/* Writes `<folder>/Settings`. */
KLV_API int32_t put_job_settings(const char* folder, const settings* record);
/* Writes the member ".\\Settings" of an open volume. */
KLV_API int32_t put_vol_settings(SOVolume* volume, const settings* record);
/* Writes the record to `stream` (enciphered when UnmodifiableFlag is set)
 * and closes the stream; 1 when everything was written and the close
 * succeeded. */
KLV_API int32_t off_put_settings(SFilemux* stream, const settings* record);
/* Writes a job's record: into ".\\Settings" when `job` is a job volume, else
 * into `<job>/Settings` when `job` is a folder, else the file `job`. */
KLV_API int32_t job_settings_save(const char* job, const settings* record);

/* The record's settings text as it is written, never enciphered, in a
 * malloc'd string; null when memory is short. Free with settings_text_free. */
KLV_API char* settings_text(const settings* record);
KLV_API void settings_text_free(char* text);

/* ---- Defaults ------------------------------------------------------------ */

/* Reads the block `Default_Config` of the file at `path` into the record
 * (cleared first), and writes a file holding that block. */
KLV_API int32_t get_setconfig(const char* path, settings* record);
KLV_API int32_t put_setconfig(const char* path, const settings* record);

/* ---- Printer presets ----------------------------------------------------- */

/* A printer preset: the preset fields of a settings record (those the
 * `Settings` blocks of a `Printer_Sets` file carry) and the link to the next
 * preset. */
typedef struct pset {
  struct pset* next;
  settings set;
} pset;

/* Reads `Printer_Sets { Settings { ... } ... }` (a host file when volume is
 * null) into a list in file order; null when the file cannot be read or
 * holds no preset. A preset without `CopyGapY` takes its `CopyGap`. */
KLV_API pset* load_psets(SOVolume* volume, const char* path);
/* Writes the list as a `Printer_Sets` file; 1 on success. */
KLV_API int32_t save_psets(SOVolume* volume, const char* path, const pset* list);
/* One preset as a lone `Settings` block. load gives a new preset or null. */
KLV_API pset* load_printer_settings(SOVolume* volume, const char* path);
KLV_API int32_t save_printer_settings(SOVolume* volume, const char* path, const pset* preset);
/* The preset whose Placement equals `placement`, or null. */
KLV_API pset* find_pset(pset* list, int32_t placement);
/* Copies `preset` over the list's preset with the same Placement (keeping
 * its link) or, when there is none, puts a copy in front. Gives the list's
 * head (null when memory is short: the list is then unchanged). */
KLV_API pset* add_pset(pset* list, const pset* preset);
KLV_API pset* copy_psets(const pset* list);
KLV_API void free_psets(pset* list);
/* Copy the preset fields between a preset and a job record. */
KLV_API void pset_to_set(const pset* preset, settings* record);
KLV_API void set_to_pset(const settings* record, pset* preset);
/* Copies a print mode's name, resolution, pattern and pattern option into
 * PrintMode, PrintRes, PatternDif and PatternOpt. */
KLV_API void printmode_to_set(settings* record, const CPrintMode* mode);

KLV_END_C

#endif
