// SPDX-License-Identifier: MIT
// The volume object: opening, the transaction that holds the write lock,
// member rows and chunk storage. See volume.h for the layout.
#include "kernel/volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "kernel/volume_file.h"
#include "kernel/volume_member.h"
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/kernel_util.h"

using klv::kernel::MemberInfo;
using klv::kernel::MemberStream;

namespace klv::kernel {
namespace {

constexpr char kSqliteHeader[16] = "SQLite format 3";  // with its terminating zero

// Tuning chosen by bench/bench_volume.cpp: 64 KiB pages keep a 1 MiB chunk in
// 17 overflow pages; the rollback journal writes a new chunk once (WAL would
// write it twice); a small page cache keeps memory flat because SQLite spills
// new pages straight into the file, and those need no journal entry.
// secure_delete is switched off because the system library may be built with
// it on: it would overwrite (and journal) every page a deleted chunk frees.
constexpr const char* kPragmas =
    "PRAGMA page_size=65536;"
    "PRAGMA journal_mode=DELETE;"
    "PRAGMA synchronous=NORMAL;"
    "PRAGMA cache_size=-4096;"
    "PRAGMA secure_delete=OFF;"
    "PRAGMA temp_store=MEMORY;"
    "PRAGMA trusted_schema=OFF;"
    "PRAGMA cell_size_check=ON;";

// The chunk's crc comes before its data, so that reading it needs only the
// row's first page and not the whole chain of overflow pages.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS volume_info(key TEXT PRIMARY KEY, value);"
    "CREATE TABLE IF NOT EXISTS members(id INTEGER PRIMARY KEY,"
    " name TEXT NOT NULL UNIQUE COLLATE NOCASE, is_dir INTEGER NOT NULL DEFAULT 0,"
    " size INTEGER NOT NULL DEFAULT 0, mtime INTEGER NOT NULL DEFAULT 0, row_crc INTEGER);"
    "CREATE TABLE IF NOT EXISTS chunks(member INTEGER NOT NULL, idx INTEGER NOT NULL,"
    " crc INTEGER, data BLOB NOT NULL, PRIMARY KEY(member, idx));";

// Adds the checks to a volume made before them (see volume.h).
constexpr const char* kAddChecks =
    "ALTER TABLE chunks ADD COLUMN crc INTEGER;"
    "ALTER TABLE members ADD COLUMN row_crc INTEGER;"
    "UPDATE members SET row_crc=klv_row_check(id, name, is_dir, size, mtime);"
    "INSERT INTO volume_info(key, value) VALUES('checksums', 'partial');";

// How long a writer waits for a reader's statement to finish before a spill
// or commit fails, and how long a reader waits for a writer's commit.
constexpr int kWriterBusyMs = 10000;
constexpr int kReaderBusyMs = 2000;

// What the first bytes of a file say about it.
enum class FileKind { kMissing, kEmpty, kVolume, kOther, kUnreadable };

FileKind classify(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return FileKind::kUnreadable;
  if (st.st_size == 0) return FileKind::kEmpty;
  char head[16];
  if (pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
      std::memcmp(head, kSqliteHeader, sizeof head) == 0)
    return FileKind::kVolume;
  return FileKind::kOther;
}

int64_t now_seconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

void put_le64(uint8_t* p, int64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
}

// klv_row_check(id, name, is_dir, size, mtime): row_crc() for SQL statements,
// so that an UPDATE seals a row from the values it stores.
void row_check_function(sqlite3_context* context, int, sqlite3_value** args) {
  const unsigned char* name = sqlite3_value_text(args[1]);
  const int bytes = sqlite3_value_bytes(args[1]);
  sqlite3_result_int64(
      context, row_crc(sqlite3_value_int64(args[0]), name, bytes, sqlite3_value_int64(args[2]),
                       sqlite3_value_int64(args[3]), sqlite3_value_int64(args[4])));
}

// Copies a member's bytes into a host file descriptor.
bool copy_member_to_fd(SOVolume* volume, const MemberInfo& info, int fd) {
  const int64_t cs = volume->chunk_size();
  std::vector<uint8_t> buf(static_cast<size_t>(cs));
  for (int64_t start = 0, index = 0; start < info.size; start += cs, ++index) {
    if (!volume->load_chunk(info.id, index, buf.data())) return false;
    size_t n = static_cast<size_t>(std::min(cs, info.size - start));
    for (size_t done = 0; done < n;) {
      ssize_t w = ::write(fd, buf.data() + done, n - done);
      if (w <= 0) return false;
      done += static_cast<size_t>(w);
    }
  }
  return true;
}

}  // namespace

const char* chunk_problem(ChunkStatus status) {
  switch (status) {
    case ChunkStatus::kMissing:
      return "is missing";
    case ChunkStatus::kNoCrc:
      return "carries no checksum";
    case ChunkStatus::kBadCrc:
      return "does not match its checksum";
    case ChunkStatus::kTooLong:
      return "is longer than a chunk";
    default:
      return "cannot be read";
  }
}

uint32_t chunk_crc(int64_t member, int64_t index, int64_t chunk_size, const uint8_t* data,
                   int64_t length) {
  uint8_t head[24];
  put_le64(head, member);
  put_le64(head + 8, index);
  put_le64(head + 16, chunk_size);
  const uint32_t crc = Ocrc32c(0, head, sizeof head);
  return length > 0 ? Ocrc32c(crc, data, static_cast<size_t>(length)) : crc;
}

uint32_t row_crc(int64_t id, const unsigned char* name, int name_bytes, int64_t is_dir,
                 int64_t size, int64_t mtime) {
  uint8_t head[32];
  put_le64(head, id);
  put_le64(head + 8, is_dir);
  put_le64(head + 16, size);
  put_le64(head + 24, mtime);
  const uint32_t crc = Ocrc32c(0, head, sizeof head);
  return name && name_bytes > 0 ? Ocrc32c(crc, name, static_cast<size_t>(name_bytes)) : crc;
}

std::string member_name(const char* path) {
  const std::string name = host_path(path);
  size_t begin = 0, end = name.size();
  for (;;) {
    if (end - begin >= 2 && name[begin] == '.' && name[begin + 1] == '/')
      begin += 2;
    else if (begin < end && name[begin] == '/')
      ++begin;
    else
      break;
  }
  while (end > begin && name[end - 1] == '/') --end;
  return name.substr(begin, end - begin);
}

}  // namespace klv::kernel

using namespace klv::kernel;

SOVolume::~SOVolume() {
  for (MemberStream* s : streams_) s->orphan();
  streams_.clear();
  for (sqlite3_stmt* s : {select_chunk_, store_chunk_, set_size_, find_member_, seal_row_})
    sqlite3_finalize(s);
  if (db_) sqlite3_close_v2(db_);  // an open transaction rolls back
  if (parent_) {
    std::lock_guard<std::recursive_mutex> lock(parent_->mutex_);
    parent_->release(parent_member_id_, parent_claim_write_);
    auto& kids = parent_->children_;
    kids.erase(std::remove(kids.begin(), kids.end(), this), kids.end());
  }
  for (SOVolume* child : children_) child->parent_ = nullptr;
  if (!temp_file_.empty()) ::unlink(temp_file_.c_str());
}

void SOVolume::log_db_error(const char* what) {
  KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": %s: %s", display_name_.c_str(), what,
          db_ ? sqlite3_errmsg(db_) : "not open");
}

bool SOVolume::exec(const char* sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": %s", display_name_.c_str(),
            message ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    return false;
  }
  return true;
}

sqlite3_stmt* SOVolume::prepare(sqlite3_stmt** slot, const char* sql) {
  if (!*slot &&
      sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, slot, nullptr) != SQLITE_OK) {
    log_db_error("cannot prepare a statement");
    *slot = nullptr;
    return nullptr;
  }
  sqlite3_reset(*slot);
  sqlite3_clear_bindings(*slot);
  return *slot;
}

SOVolume* SOVolume::open(SOVolume* parent, const char* path, int mode) {
  using namespace klv::kernel;
  if (!path || !*path) return nullptr;
  if (mode < KLV_VOL_READ || mode > KLV_VOL_CREATE) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": bad open mode %d", path, mode);
    return nullptr;
  }
  const bool write = mode != KLV_VOL_READ;
  std::unique_ptr<SOVolume> vol(new SOVolume);
  std::string file;

  if (KLV_IS_HOST_VOLUME(parent)) {
    file = host_path(path);
    vol->display_name_ = file;
  } else {
    std::lock_guard<std::recursive_mutex> lock(parent->mutex_);
    std::string name = member_name(path);
    vol->display_name_ = parent->display_name_ + "|" + name;
    if (write && !parent->writable_) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": its parent is open for reading only",
              vol->display_name_.c_str());
      return nullptr;
    }
    MemberInfo info;
    if (!parent->find(name, &info)) {
      if (mode != KLV_VOL_CREATE) {
        KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": no such member", vol->display_name_.c_str());
        return nullptr;
      }
      info.id = parent->create_member(name);
      if (!info.id) return nullptr;
    } else if (info.is_dir) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": the member is a folder", vol->display_name_.c_str());
      return nullptr;
    }
    const char* tmpdir = std::getenv("TMPDIR");
    std::string pattern = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/klvvol-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": cannot make a temporary file: %s",
              vol->display_name_.c_str(), std::strerror(errno));
      return nullptr;
    }
    vol->temp_file_ = pattern;
    bool copied = copy_member_to_fd(parent, info, fd);
    ::close(fd);
    if (!copied) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": cannot copy the member out",
              vol->display_name_.c_str());
      return nullptr;
    }
    if (!parent->claim(info.id, write, name)) return nullptr;
    vol->parent_ = parent;
    vol->parent_member_ = name;
    vol->parent_member_id_ = info.id;
    vol->parent_claim_write_ = write;
    parent->children_.push_back(vol.get());
    file = vol->temp_file_;
  }

  vol->file_ = VolumeFile::open(file, mode == KLV_VOL_CREATE);
  FileKind kind = FileKind::kUnreadable;
  if (vol->file_)
    kind = classify(vol->file_->fd());
  else if (errno == ENOENT && mode != KLV_VOL_CREATE)
    kind = FileKind::kMissing;
  bool create = false;
  switch (kind) {
    case FileKind::kVolume:
      break;
    case FileKind::kMissing:
    case FileKind::kEmpty:
      if (mode != KLV_VOL_CREATE) {
        KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": %s", vol->display_name_.c_str(),
                kind == FileKind::kMissing ? "no such file" : "the file is empty");
        return nullptr;
      }
      create = true;
      break;
    case FileKind::kOther:
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": not a volume (no SQLite header)",
              vol->display_name_.c_str());
      return nullptr;
    case FileKind::kUnreadable:
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": cannot read the file: %s", vol->display_name_.c_str(),
              std::strerror(errno));
      return nullptr;
  }
  if (!vol->open_database(file, create, write)) return nullptr;
  return vol.release();
}

bool SOVolume::open_database(const std::string& file, bool create, bool write) {
  // A reader opens the file read-write when it may, so that it can roll back
  // the journal a crashed writer left behind; query_only keeps it a reader.
  // A second writer stops here, before it touches SQLite's locks at all.
  if (write && !file_->lock_writer()) {
    KLV_LOG(KLV_LOG_NOTICE, "volume \"%s\": open for writing elsewhere; try again later",
            display_name_.c_str());
    return false;
  }
  int flags = SQLITE_OPEN_PRIVATECACHE;
  if (write || ::access(file.c_str(), W_OK) == 0)
    flags |= SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  else
    flags |= SQLITE_OPEN_READONLY;
  if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    log_db_error("cannot open");
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  if (sqlite3_create_function_v2(db_, "klv_row_check", 5,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY, nullptr,
                                 row_check_function, nullptr, nullptr, nullptr) != SQLITE_OK) {
    log_db_error("cannot register the row check");
    return false;
  }
  sqlite3_busy_timeout(db_, write ? 0 : kReaderBusyMs);
  if (!exec(kPragmas)) return false;

  if (write) {
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
        KLV_LOG(KLV_LOG_NOTICE, "volume \"%s\": open for writing elsewhere; try again later",
                display_name_.c_str());
      else
        log_db_error("cannot take the write lock");
      return false;
    }
    in_transaction_ = true;
    writable_ = true;
    sqlite3_busy_timeout(db_, kWriterBusyMs);
  } else {
    exec("PRAGMA query_only=ON");
  }

  // A crafted file could hide views or triggers under our table names; only
  // plain tables are accepted.
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT count(*) FROM sqlite_schema WHERE type IN ('view','trigger') OR "
                         "(name IN ('volume_info','members','chunks') AND type<>'table')",
                         -1, &st, nullptr) != SQLITE_OK ||
      sqlite3_step(st) != SQLITE_ROW) {
    log_db_error("cannot read the schema");
    sqlite3_finalize(st);
    return false;
  }
  int64_t odd = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  if (odd != 0) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": unexpected views or triggers", display_name_.c_str());
    return false;
  }
  if (write && !exec(kSchema)) return false;

  st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT value FROM volume_info WHERE key='chunk_size'", -1, &st,
                         nullptr) != SQLITE_OK) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": not a volume (no volume_info table)",
            display_name_.c_str());
    return false;
  }
  int rc = sqlite3_step(st);
  bool created = false;
  if (rc == SQLITE_ROW) {
    chunk_size_ = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    if (chunk_size_ < klv::kernel::kMinChunkSize || chunk_size_ > klv::kernel::kMaxChunkSize) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": bad chunk size %lld", display_name_.c_str(),
              static_cast<long long>(chunk_size_));
      return false;
    }
  } else {
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {
      log_db_error("cannot read the chunk size");
      return false;
    }
    if (!write) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": no chunk size recorded", display_name_.c_str());
      return false;
    }
    chunk_size_ = klv::kernel::kDefaultChunkSize;
    std::string sql = "INSERT INTO volume_info(key, value) VALUES('chunk_size', " +
                      std::to_string(chunk_size_) + ")";
    if (!exec(sql.c_str())) return false;
    created = true;
  }
  if (!setup_checksums(created)) return false;
  // The member and chunk statements must compile against the file's tables.
  std::string find_sql = std::string("SELECT ") + row_columns() + " FROM members WHERE name=?1";
  if (!prepare(&find_member_, find_sql.c_str()) || !prepare(&select_chunk_, select_chunk_sql())) {
    return false;
  }
  return true;
}

bool SOVolume::has_column(const char* table, const char* column) {
  const std::string sql = std::string("SELECT ") + column + " FROM " + table + " LIMIT 0";
  sqlite3_stmt* st = nullptr;
  const bool yes = sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK;
  sqlite3_finalize(st);
  return yes;
}

bool SOVolume::setup_checksums(bool created) {
  const bool chunk_column = has_column("chunks", "crc");
  const bool row_column = has_column("members", "row_crc");
  std::string recorded;
  bool has_record = false;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT value FROM volume_info WHERE key='checksums'", -1, &st,
                         nullptr) != SQLITE_OK) {
    log_db_error("cannot read the volume's settings");
    return false;
  }
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    has_record = true;
    const unsigned char* text = sqlite3_column_text(st, 0);
    recorded = text ? reinterpret_cast<const char*>(text) : "";
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    log_db_error("cannot read the volume's settings");
    return false;
  }

  if (created) {
    checksums_ = ChecksumMode::kAll;
    if (!chunk_column || !row_column) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": its tables lack the check columns",
              display_name_.c_str());
      return false;
    }
    return exec("INSERT INTO volume_info(key, value) VALUES('checksums', 'all')");
  }
  if (chunk_column && row_column && has_record) {
    if (recorded == "all") {
      checksums_ = ChecksumMode::kAll;
      return true;
    }
    if (recorded == "partial") {
      checksums_ = ChecksumMode::kPartial;
      return true;
    }
  }
  if (!chunk_column && !row_column && !has_record) {
    // Made before checks.
    checksums_ = ChecksumMode::kNone;
    if (!writable_) return true;
    if (!exec(kAddChecks)) return false;
    checksums_ = ChecksumMode::kPartial;
    KLV_LOG(KLV_LOG_NOTICE,
            "volume \"%s\": made before chunk checksums; chunks written from now on carry one",
            display_name_.c_str());
    return true;
  }
  KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": damaged: its check columns and setting disagree",
          display_name_.c_str());
  return false;
}

const char* SOVolume::row_columns() const {
  return checksums_ == ChecksumMode::kNone ? "id, name, is_dir, size, mtime, NULL"
                                           : "id, name, is_dir, size, mtime, row_crc";
}

const char* SOVolume::select_chunk_sql() const {
  return checksums_ == ChecksumMode::kNone
             ? "SELECT rowid, NULL, length(data) FROM chunks WHERE member=?1 AND idx=?2"
             : "SELECT rowid, crc, length(data) FROM chunks WHERE member=?1 AND idx=?2";
}

const char* SOVolume::row_problem(sqlite3_stmt* st, const char* requested_name) {
  if (checksums_ == ChecksumMode::kNone) return nullptr;
  const unsigned char* name = sqlite3_column_text(st, 1);
  const int bytes = sqlite3_column_bytes(st, 1);
  if (sqlite3_column_type(st, 5) == SQLITE_NULL) return "has no check";
  if (sqlite3_column_int64(st, 5) !=
      static_cast<int64_t>(row_crc(sqlite3_column_int64(st, 0), name, bytes,
                                   sqlite3_column_int64(st, 2), sqlite3_column_int64(st, 3),
                                   sqlite3_column_int64(st, 4))))
    return "does not match its check";
  if (requested_name &&
      Ostricmp(name ? reinterpret_cast<const char*>(name) : "", requested_name) != 0)
    return "was found under another name";
  return nullptr;
}

bool SOVolume::row_sound(sqlite3_stmt* st, const char* requested_name) {
  const char* problem = row_problem(st, requested_name);
  if (!problem) return true;
  const unsigned char* name = sqlite3_column_text(st, 1);
  KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": member \"%s\": its row (name, size, time) %s; damaged",
          display_name_.c_str(),
          requested_name ? requested_name
          : name         ? reinterpret_cast<const char*>(name)
                         : "",
          problem);
  return false;
}

bool SOVolume::seal_row(int64_t id) {
  sqlite3_stmt* st = prepare(
      &seal_row_,
      "UPDATE members SET row_crc=klv_row_check(id, name, is_dir, size, mtime) WHERE id=?1");
  if (!st) return false;
  sqlite3_bind_int64(st, 1, id);
  const bool ok = sqlite3_step(st) == SQLITE_DONE;
  if (!ok) log_db_error("cannot record a member's check");
  sqlite3_reset(st);
  return ok;
}

std::string SOVolume::name_of(int64_t member) {
  std::string name(1, '#');
  name += std::to_string(member);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT name FROM members WHERE id=?1", -1, &st, nullptr) ==
      SQLITE_OK) {
    sqlite3_bind_int64(st, 1, member);
    if (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(st, 0);
      if (text) name = reinterpret_cast<const char*>(text);
    }
  }
  sqlite3_finalize(st);
  return name;
}

bool SOVolume::write_back() {
  if (!parent_) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": its parent volume was closed first",
            display_name_.c_str());
    return false;
  }
  int fd = ::open(temp_file_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": cannot reopen its temporary file",
            display_name_.c_str());
    return false;
  }
  std::lock_guard<std::recursive_mutex> lock(parent_->mutex_);
  const int64_t cs = parent_->chunk_size();
  std::vector<uint8_t> buf(static_cast<size_t>(cs));
  bool ok = parent_->delete_chunks(parent_member_id_, 0);
  int64_t size = 0;
  for (int64_t index = 0; ok; ++index) {
    int64_t got = 0;
    while (got < cs) {
      ssize_t r = ::read(fd, buf.data() + got, static_cast<size_t>(cs - got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) ok = false;
      if (r <= 0) break;
      got += r;
    }
    if (!ok || got == 0) break;
    ok = parent_->store_chunk(parent_member_id_, index, buf.data(), got);
    size += got;
    if (got < cs) break;
  }
  ::close(fd);
  ok = ok && parent_->set_size(parent_member_id_, size);
  if (!ok)
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": cannot write it back into its parent",
            display_name_.c_str());
  return ok;
}

bool SOVolume::commit_and_continue() {
  bool ok = true;
  for (MemberStream* s : streams_) ok = s->flush() && ok;
  if (in_transaction_) {
    if (!exec("COMMIT")) return false;
    in_transaction_ = false;
  }
  // The writer's flock is held throughout, so no other writer can take
  // SQLite's lock between the two statements.
  if (!exec("BEGIN IMMEDIATE")) {
    log_db_error("cannot take the write lock again");
    return false;
  }
  in_transaction_ = true;
  return ok;
}

bool SOVolume::flush() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!db_) return false;
  if (!writable_) return true;
  bool ok = commit_and_continue();
  if (parent_) ok = write_back() && ok;
  return ok;
}

bool SOVolume::truncate_member(int64_t member, int64_t old_size) {
  if (!delete_chunks(member, 0) || !set_size(member, 0)) return false;
  if (old_size < kSeparateDeleteChunks * chunk_size_) return true;
  // The freed pages count as free only once this is committed; new chunks
  // then reuse them without first copying them into the journal, so that a
  // rewrite costs about what a first write does.
  return commit_and_continue();
}

bool SOVolume::close() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  bool ok = true;
  for (MemberStream* s : streams_) ok = s->orphan() && ok;
  streams_.clear();
  for (SOVolume* child : children_) {
    // A nested volume still open is saved into its member now; it stays usable
    // on its temporary file but can no longer be written back.
    if (child->writable_) ok = child->flush() && ok;
    child->parent_ = nullptr;
  }
  children_.clear();
  if (writable_ && in_transaction_) {
    if (ok) {
      if (exec("COMMIT"))
        in_transaction_ = false;
      else
        ok = false;
    }
    if (in_transaction_) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      in_transaction_ = false;
      ok = false;
    }
  }
  if (ok && writable_ && parent_) ok = write_back();
  return ok;
}

bool SOVolume::find(const std::string& name, MemberInfo* info) {
  const std::string sql = std::string("SELECT ") + row_columns() + " FROM members WHERE name=?1";
  sqlite3_stmt* st = prepare(&find_member_, sql.c_str());
  if (!st) return false;
  sqlite3_bind_text(st, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  bool found = false;
  int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW && !row_sound(st, name.c_str())) {
    sqlite3_reset(st);
    return false;
  }
  if (rc == SQLITE_ROW) {
    info->id = sqlite3_column_int64(st, 0);
    const unsigned char* text = sqlite3_column_text(st, 1);
    info->name = text ? reinterpret_cast<const char*>(text) : "";
    info->is_dir = sqlite3_column_int64(st, 2) != 0;
    info->size = sqlite3_column_int64(st, 3);
    info->mtime = sqlite3_column_int64(st, 4);
    found = true;
    if (info->size < 0 || info->size > klv::kernel::kMaxMemberSize) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": member \"%s\" has a bad size %lld",
              display_name_.c_str(), info->name.c_str(), static_cast<long long>(info->size));
      found = false;
    }
  } else if (rc != SQLITE_DONE) {
    log_db_error("cannot look up a member");
  }
  sqlite3_reset(st);
  return found;
}

int64_t SOVolume::create_member(const std::string& name) {
  if (!writable_) return 0;
  if (name.empty() || name.size() > 4096) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": bad member name \"%s\"", display_name_.c_str(),
            name.c_str());
    return 0;
  }
  // Folders on the way are made too, so that a find walking down from the top
  // reaches every member.
  for (size_t slash = name.find('/'); slash != std::string::npos;
       slash = name.find('/', slash + 1)) {
    MemberInfo folder;
    if (!find(name.substr(0, slash), &folder) && !make_dir(name.substr(0, slash))) return 0;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "INSERT INTO members(name, is_dir, size, mtime) VALUES(?1, 0, 0, ?2)",
                         -1, &st, nullptr) != SQLITE_OK) {
    log_db_error("cannot add a member");
    return 0;
  }
  sqlite3_bind_text(st, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(st, 2, klv::kernel::now_seconds());
  int64_t id = 0;
  if (sqlite3_step(st) == SQLITE_DONE)
    id = sqlite3_last_insert_rowid(db_);
  else
    log_db_error("cannot add a member");
  sqlite3_finalize(st);
  if (id && !seal_row(id)) return 0;
  return id;
}

bool SOVolume::make_dir(const std::string& name) {
  if (!writable_) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": open for reading only", display_name_.c_str());
    return false;
  }
  MemberInfo info;
  if (find(name, &info)) {
    if (info.is_dir) return true;
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": \"%s\" is a file", display_name_.c_str(), name.c_str());
    return false;
  }
  int64_t id = create_member(name);
  if (!id) return false;
  std::string sql = "UPDATE members SET is_dir=1 WHERE id=" + std::to_string(id);
  return exec(sql.c_str()) && seal_row(id);
}

bool SOVolume::remove(const std::string& name) {
  if (!writable_) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": open for reading only", display_name_.c_str());
    return false;
  }
  MemberInfo info;
  if (!find(name, &info)) return false;
  for (const Claim& c : claims_) {
    if (c.member == info.id) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": cannot remove \"%s\" while it is open",
              display_name_.c_str(), name.c_str());
      return false;
    }
  }
  if (info.is_dir) {
    std::vector<MemberInfo> all;
    if (!list(&all)) return false;
    std::string prefix = info.name + "/";
    for (const MemberInfo& m : all) {
      if (m.name.size() > prefix.size() &&
          Ostrnicmp(m.name.c_str(), prefix.c_str(), prefix.size()) == 0) {
        KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": folder \"%s\" is not empty", display_name_.c_str(),
                name.c_str());
        return false;
      }
    }
  }
  std::string sql = "DELETE FROM members WHERE id=" + std::to_string(info.id);
  return delete_chunks(info.id, 0) && exec(sql.c_str());
}

bool SOVolume::rename(const std::string& from, const std::string& to) {
  if (!writable_) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": open for reading only", display_name_.c_str());
    return false;
  }
  if (to.empty() || to.size() > 4096) return false;
  MemberInfo src, dst;
  if (!find(from, &src)) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": no member \"%s\" to rename", display_name_.c_str(),
            from.c_str());
    return false;
  }
  if (find(to, &dst) && dst.id != src.id) {
    // Like a host rename, an existing file in the way is replaced.
    if (dst.is_dir || src.is_dir) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": \"%s\" already exists", display_name_.c_str(),
              to.c_str());
      return false;
    }
    if (!remove(dst.name)) return false;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "UPDATE members SET name=?1 WHERE id=?2", -1, &st, nullptr) !=
      SQLITE_OK) {
    log_db_error("cannot rename");
    return false;
  }
  sqlite3_bind_text(st, 1, to.c_str(), static_cast<int>(to.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(st, 2, src.id);
  bool ok = sqlite3_step(st) == SQLITE_DONE;
  if (!ok) log_db_error("cannot rename");
  sqlite3_finalize(st);
  return ok && seal_row(src.id);
}

bool SOVolume::list(std::vector<MemberInfo>* out) {
  sqlite3_stmt* st = nullptr;
  const std::string sql = std::string("SELECT ") + row_columns() + " FROM members ORDER BY name";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    log_db_error("cannot list members");
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    if (!row_sound(st, nullptr)) continue;  // logged; the member is left out
    MemberInfo m;
    m.id = sqlite3_column_int64(st, 0);
    const unsigned char* text = sqlite3_column_text(st, 1);
    m.name = text ? reinterpret_cast<const char*>(text) : "";
    m.is_dir = sqlite3_column_int64(st, 2) != 0;
    m.size = std::clamp<int64_t>(sqlite3_column_int64(st, 3), 0, klv::kernel::kMaxMemberSize);
    m.mtime = sqlite3_column_int64(st, 4);
    out->push_back(std::move(m));
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    log_db_error("cannot list members");
    return false;
  }
  return true;
}

bool SOVolume::load_chunk(int64_t member, int64_t index, uint8_t* dst) {
  const ChunkStatus status = read_chunk(member, index, dst);
  switch (status) {
    case ChunkStatus::kOk:
    case ChunkStatus::kUnchecked:
    case ChunkStatus::kAbsent:
      return true;
    case ChunkStatus::kError:
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": member \"%s\": cannot read chunk %lld: %s",
              display_name_.c_str(), name_of(member).c_str(), static_cast<long long>(index),
              sqlite3_errstr(chunk_rc_));
      return false;
    default:
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": member \"%s\": chunk %lld %s; the member is damaged",
              display_name_.c_str(), name_of(member).c_str(), static_cast<long long>(index),
              chunk_problem(status));
      return false;
  }
}

ChunkStatus SOVolume::read_chunk(int64_t member, int64_t index, uint8_t* dst) {
  // The chunk's row is looked up first and its data then read with SQLite's
  // incremental blob I/O straight into dst: for a whole chunk SQLite reads the
  // overflow pages directly into the destination instead of through its page
  // cache and a result buffer. The blob handle is closed at once so that a
  // reader never holds the read lock between calls.
  sqlite3_stmt* st = prepare(&select_chunk_, select_chunk_sql());
  if (!st) {
    chunk_rc_ = sqlite3_errcode(db_);
    return ChunkStatus::kError;
  }
  sqlite3_bind_int64(st, 1, member);
  sqlite3_bind_int64(st, 2, index);
  int rc = sqlite3_step(st);
  int64_t rowid = 0, len = 0, stored_crc = 0;
  bool has_crc = false;
  const bool found = rc == SQLITE_ROW;
  if (found) {
    rowid = sqlite3_column_int64(st, 0);
    has_crc = sqlite3_column_type(st, 1) != SQLITE_NULL;
    stored_crc = sqlite3_column_int64(st, 1);
    len = sqlite3_column_int64(st, 2);
  }
  sqlite3_reset(st);
  if (!found) {
    if (rc != SQLITE_DONE) {
      chunk_rc_ = rc;
      return ChunkStatus::kError;
    }
    if (checksums_ == ChecksumMode::kAll) return ChunkStatus::kMissing;
    std::memset(dst, 0, static_cast<size_t>(chunk_size_));
    return ChunkStatus::kAbsent;
  }
  if (len < 0 || len > chunk_size_) return ChunkStatus::kTooLong;
  if (!has_crc && checksums_ == ChecksumMode::kAll) return ChunkStatus::kNoCrc;
  if (len > 0) {
    sqlite3_blob* blob = nullptr;
    rc = sqlite3_blob_open(db_, "main", "chunks", "data", rowid, 0, &blob);
    if (rc == SQLITE_OK) {
      if (sqlite3_blob_bytes(blob) != len) rc = SQLITE_CORRUPT;
      if (rc == SQLITE_OK) rc = sqlite3_blob_read(blob, dst, static_cast<int>(len), 0);
    }
    sqlite3_blob_close(blob);
    if (rc != SQLITE_OK) {
      chunk_rc_ = rc;
      return ChunkStatus::kError;
    }
  }
  if (has_crc &&
      stored_crc != static_cast<int64_t>(chunk_crc(member, index, chunk_size_, dst, len)))
    return ChunkStatus::kBadCrc;
  std::memset(dst + len, 0, static_cast<size_t>(chunk_size_ - len));
  return has_crc ? ChunkStatus::kOk : ChunkStatus::kUnchecked;
}

bool SOVolume::store_chunk(int64_t member, int64_t index, const uint8_t* src, int64_t length) {
  if (!writable_) return false;
  static const uint8_t kNothing = 0;  // a non-null pointer binds an empty blob, not NULL
  sqlite3_stmt* st =
      prepare(&store_chunk_,
              "INSERT OR REPLACE INTO chunks(member, idx, crc, data) VALUES(?1, ?2, ?3, ?4)");
  if (!st) return false;
  sqlite3_bind_int64(st, 1, member);
  sqlite3_bind_int64(st, 2, index);
  sqlite3_bind_int64(st, 3, chunk_crc(member, index, chunk_size_, src, length));
  sqlite3_bind_blob(st, 4, length > 0 ? src : &kNothing, static_cast<int>(length), SQLITE_STATIC);
  bool ok = sqlite3_step(st) == SQLITE_DONE;
  if (!ok) log_db_error("cannot store a chunk");
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  return ok;
}

bool SOVolume::delete_chunks(int64_t member, int64_t from_index) {
  if (!writable_) return false;
  std::string sql = "DELETE FROM chunks WHERE member=" + std::to_string(member) +
                    " AND idx>=" + std::to_string(from_index);
  return exec(sql.c_str());
}

bool SOVolume::set_size(int64_t member, int64_t size) {
  if (!writable_) return false;
  sqlite3_stmt* st = prepare(&set_size_, "UPDATE members SET size=?1, mtime=?2 WHERE id=?3");
  if (!st) return false;
  sqlite3_bind_int64(st, 1, size);
  sqlite3_bind_int64(st, 2, klv::kernel::now_seconds());
  sqlite3_bind_int64(st, 3, member);
  bool ok = sqlite3_step(st) == SQLITE_DONE;
  if (!ok) log_db_error("cannot record a member size");
  sqlite3_reset(st);
  return ok && seal_row(member);
}

bool SOVolume::claim(int64_t member, bool write, const std::string& name) {
  for (Claim& c : claims_) {
    if (c.member != member) continue;
    if (write || c.writer) {
      KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": member \"%s\" is already open%s",
              display_name_.c_str(), name.c_str(), c.writer ? " for writing" : "");
      return false;
    }
    ++c.readers;
    return true;
  }
  claims_.push_back({member, write ? 0 : 1, write});
  return true;
}

void SOVolume::release(int64_t member, bool write) {
  for (auto it = claims_.begin(); it != claims_.end(); ++it) {
    if (it->member != member) continue;
    if (write)
      it->writer = false;
    else if (it->readers > 0)
      --it->readers;
    if (!it->writer && it->readers == 0) claims_.erase(it);
    return;
  }
}

void SOVolume::attach(MemberStream* stream) {
  streams_.push_back(stream);
}

void SOVolume::detach(MemberStream* stream) {
  streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}
