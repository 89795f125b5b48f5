// SPDX-License-Identifier: MIT
// The volume object behind an SOVolume handle: one SQLite database that holds
// member files in fixed-size chunks.
//
// Tables:
//   volume_info(key TEXT PRIMARY KEY, value)   -- "chunk_size", "checksums"
//   members(id INTEGER PRIMARY KEY, name TEXT UNIQUE COLLATE NOCASE,
//           is_dir, size, mtime, row_crc)
//   chunks(member, idx, crc, data BLOB, PRIMARY KEY(member, idx))
// A chunk holds bytes [idx * chunk_size, idx * chunk_size + length(data)) of
// its member; the part of a chunk past its data reads as zeros.
//
// Checks: `crc` is the CRC-32C of the member id, the index and the volume's
// chunk size (little-endian 64-bit words) followed by the data, so a chunk
// found under another member or index, or read with a changed chunk size,
// fails too. `row_crc` is the CRC-32C of id, is_dir, size and mtime
// (little-endian 64-bit words) followed by the name, so a changed size, id or
// name is noticed before any byte is read. A volume made with checks records
// "checksums" = "all": every chunk below a member's size is present (a gap
// left by writing past the end is stored as empty chunks) and carries a crc,
// so a missing chunk or a missing crc is damage. Volumes made before checks
// had neither column nor key; opened for reading they are read unchecked, and
// the first open for writing adds both columns, gives every member row its
// row_crc and records "checksums" = "partial": chunks written from then on
// carry a crc, older ones are read unchecked and may be missing (zeros).
//
// Locking: a volume opened for writing holds the writer's flock on its file
// from open to close (volume_file.h) and runs one SQLite transaction over the
// same span (BEGIN IMMEDIATE at open, COMMIT + BEGIN IMMEDIATE at VFlush,
// COMMIT at close). Another writer's open fails at once on the flock; the
// RESERVED lock of the transaction also keeps out programs that only know
// SQLite's locking. The flock covers the moment between COMMIT and the next
// BEGIN IMMEDIATE, so no writer can slip in there.
//
// Nested volumes: a member opened as a volume is copied into a private
// temporary host file, opened there, and (when writable) copied back into the
// member at VFlush and VClose. The parent keeps the member marked open so that
// nothing else writes it meanwhile.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/stream.h"
#include "kernel/volume_file.h"
#include "klv/kernel_volume.h"

namespace klv::kernel {

class MemberStream;

// Member names are stored without a leading ".\" or "./" and with '/' as the
// separator; lookups ignore ASCII letter case.
std::string member_name(const char* path);

// Bytes of a chunk when a volume is created. Older volumes keep the size they
// were made with (stored in volume_info).
constexpr int64_t kDefaultChunkSize = 1 << 20;
// Chunk sizes accepted from a volume file.
constexpr int64_t kMinChunkSize = 4096;
constexpr int64_t kMaxChunkSize = 16 << 20;
// A truncated member of at least this many chunks is deleted in a
// transaction of its own (SOVolume::truncate_member).
constexpr int64_t kSeparateDeleteChunks = 8;
// A member larger than this is treated as damaged.
constexpr int64_t kMaxMemberSize = int64_t{1} << 50;

// How far a volume carries checks (see the top of this file).
enum class ChecksumMode {
  kNone,     // made before checks: no columns, nothing verified
  kPartial,  // made before checks, written since: chunks without a crc pass
  kAll       // every chunk and row must carry its check
};

// The checks stored beside chunks and member rows.
uint32_t chunk_crc(int64_t member, int64_t index, int64_t chunk_size, const uint8_t* data,
                   int64_t length);
uint32_t row_crc(int64_t id, const unsigned char* name, int name_bytes, int64_t is_dir,
                 int64_t size, int64_t mtime);

// What reading one chunk found.
enum class ChunkStatus {
  kOk,         // read and, where the volume keeps checks, verified
  kUnchecked,  // read; written before checks
  kAbsent,     // no row: zeros, as allowed in volumes made before checks
  kMissing,    // no row where the volume must have one
  kNoCrc,      // a row without the check the volume must keep
  kBadCrc,     // the data does not match its check
  kTooLong,    // longer than a chunk
  kError       // SQLite could not read it
};
// The words of a log line or report for a status other than kOk, kUnchecked
// and kAbsent, as in "chunk 3 does not match its checksum".
const char* chunk_problem(ChunkStatus status);

// One member row.
struct MemberInfo {
  int64_t id = 0;
  std::string name;
  bool is_dir = false;
  int64_t size = 0;
  int64_t mtime = 0;
};

}  // namespace klv::kernel

struct SOVolume {
  SOVolume() = default;
  SOVolume(const SOVolume&) = delete;
  SOVolume& operator=(const SOVolume&) = delete;
  ~SOVolume();

  // Opens a host file (parent null) or a member of parent. Null on failure,
  // with a log line.
  static SOVolume* open(SOVolume* parent, const char* path, int mode);

  // Commits (writable volumes), writes a nested volume back, detaches open
  // member streams. False when data could not be saved.
  bool close();
  // Commits what was written so far and takes the write lock again.
  bool flush();

  bool writable() const { return writable_; }
  int64_t chunk_size() const { return chunk_size_; }
  klv::kernel::ChecksumMode checksum_mode() const { return checksums_; }
  const std::string& display_name() const { return display_name_; }
  std::recursive_mutex& mutex() { return mutex_; }

  // Member rows. find() gives false when the name is not there.
  bool find(const std::string& name, klv::kernel::MemberInfo* info);
  // Creates a member (file) and returns its id, or 0.
  int64_t create_member(const std::string& name);
  bool make_dir(const std::string& name);
  bool remove(const std::string& name);
  bool rename(const std::string& from, const std::string& to);
  // Every row, ordered by name.
  bool list(std::vector<klv::kernel::MemberInfo>* out);

  // Chunk access for member streams. load_chunk fills `chunk_size()` bytes of
  // `dst` (zeros past the stored data) and gives false, with a log line
  // naming the member, when the chunk cannot be read or fails its check (dst
  // then holds nothing of use). read_chunk does the same without logging.
  bool load_chunk(int64_t member, int64_t index, uint8_t* dst);
  klv::kernel::ChunkStatus read_chunk(int64_t member, int64_t index, uint8_t* dst);
  // A chunk of `length` bytes (0 for an empty chunk; src may then be null).
  bool store_chunk(int64_t member, int64_t index, const uint8_t* src, int64_t length);
  bool delete_chunks(int64_t member, int64_t from_index);
  // Empties a member for a rewrite. When it held at least
  // kSeparateDeleteChunks chunks, the deletion is committed at once (with
  // everything else written so far, as VFlush would) so that the rewrite
  // reuses the freed pages without journalling them.
  bool truncate_member(int64_t member, int64_t old_size);
  bool set_size(int64_t member, int64_t size);

  // Open member streams and nested volumes: a member open for writing is open
  // once; members open for reading may be open many times.
  bool claim(int64_t member, bool write, const std::string& name);
  void release(int64_t member, bool write);
  void attach(klv::kernel::MemberStream* stream);
  void detach(klv::kernel::MemberStream* stream);

  // Verifies the whole volume (volume_check.cpp): SQLite's integrity check,
  // every member row, and every chunk below each member's size. Gives the
  // number of faults reported.
  int check(VCheckReport report, void* context);

 private:
  friend class VolumeChecker;  // the stages of check(), in volume_check.cpp
  bool open_database(const std::string& file, bool create, bool write);
  // Finds which checks the file keeps, adding them to a volume made before
  // checks when it is open for writing.
  bool setup_checksums(bool created);
  bool has_column(const char* table, const char* column);
  // Gives member row `id` its row_crc from the values stored in it.
  bool seal_row(int64_t id);
  // Verifies a member row selected with row_columns(): what is wrong with it,
  // or null. requested_name, when given, must match the stored name.
  const char* row_problem(sqlite3_stmt* st, const char* requested_name);
  // row_problem with a log line; false when damaged.
  bool row_sound(sqlite3_stmt* st, const char* requested_name);
  // The member's name for a log line, or "#id" when it cannot be read.
  std::string name_of(int64_t member);
  // The column list of member rows: id, name, is_dir, size, mtime, row_crc.
  const char* row_columns() const;
  // The chunk lookup: rowid, crc, length(data).
  const char* select_chunk_sql() const;
  bool exec(const char* sql);
  sqlite3_stmt* prepare(sqlite3_stmt** slot, const char* sql);
  void log_db_error(const char* what);
  bool write_back();
  // Stores what open member streams hold, commits, and begins the next write
  // transaction.
  bool commit_and_continue();

  // Members are destroyed after the destructor's body, which closes db_, so
  // the shared descriptor outlives the connection.
  std::unique_ptr<klv::kernel::VolumeFile> file_;
  sqlite3* db_ = nullptr;
  bool writable_ = false;
  bool in_transaction_ = false;
  int64_t chunk_size_ = klv::kernel::kDefaultChunkSize;
  klv::kernel::ChecksumMode checksums_ = klv::kernel::ChecksumMode::kAll;
  std::string display_name_;
  // Nested volumes.
  SOVolume* parent_ = nullptr;
  std::string parent_member_;
  int64_t parent_member_id_ = 0;
  bool parent_claim_write_ = false;
  std::string temp_file_;
  std::vector<SOVolume*> children_;

  std::recursive_mutex mutex_;
  std::vector<klv::kernel::MemberStream*> streams_;
  struct Claim {
    int64_t member;
    int readers;
    bool writer;
  };
  std::vector<Claim> claims_;

  sqlite3_stmt* select_chunk_ = nullptr;
  sqlite3_stmt* store_chunk_ = nullptr;
  sqlite3_stmt* set_size_ = nullptr;
  sqlite3_stmt* find_member_ = nullptr;
  sqlite3_stmt* seal_row_ = nullptr;
  int chunk_rc_ = SQLITE_OK;  // SQLite's code when read_chunk gave kError
};
