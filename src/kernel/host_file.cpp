// SPDX-License-Identifier: MIT
// A host file behind an SFilemux, on stdio with 64-bit offsets. stdio's own
// buffer serves Ogetc and small reads; the switch between reading and writing
// goes through a seek as C requires.
#include "kernel/host_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "klv/log.h"

namespace klv::kernel {
namespace {

class HostFile final : public SFilemux {
 public:
  explicit HostFile(FILE* file) : file_(file) {}
  ~HostFile() override {
    if (file_) std::fclose(file_);
  }

  size_t read(void* buffer, size_t count) override {
    switch_to(Op::kRead);
    return std::fread(buffer, 1, count, file_);
  }
  size_t write(const void* buffer, size_t count) override {
    switch_to(Op::kWrite);
    return std::fwrite(buffer, 1, count, file_);
  }
  bool seek(int64_t offset, int origin) override {
    last_ = Op::kNone;
    if (origin == SEEK_SET && offset < 0) return false;
    return fseeko(file_, offset, origin) == 0;
  }
  int64_t tell() override { return ftello(file_); }
  int64_t length() override {
    if (last_ == Op::kWrite) std::fflush(file_);
    struct stat st;
    if (fstat(fileno(file_), &st) != 0) return -1;
    return st.st_size;
  }
  bool flush() override { return std::fflush(file_) == 0; }
  bool finish() override {
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    return ok;
  }
  int getc() override {
    switch_to(Op::kRead);
    return std::getc(file_);
  }

 private:
  enum class Op { kNone, kRead, kWrite };
  // C streams need a positioning call between a read and a write.
  void switch_to(Op op) {
    if (last_ != Op::kNone && last_ != op) fseeko(file_, 0, SEEK_CUR);
    last_ = op;
  }
  FILE* file_;
  Op last_ = Op::kNone;
};

}  // namespace

SFilemux* open_host_file(const char* path, const OpenMode& mode) {
  std::string host = host_path(path);
  const char* cmode = nullptr;
  if (mode.append)
    cmode = mode.read ? "a+b" : "ab";
  else if (mode.truncate)
    cmode = mode.read ? "w+b" : "wb";
  else
    cmode = mode.write ? "r+b" : "rb";
  FILE* f = std::fopen(host.c_str(), cmode);
  if (!f) {
    // A missing file opened for reading is an ordinary answer, not worth a warning.
    if (!(errno == ENOENT && !mode.write))
      KLV_LOG(KLV_LOG_WARNING, "cannot open \"%s\" (%s): %s", host.c_str(), cmode,
              std::strerror(errno));
    return nullptr;
  }
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    KLV_LOG(KLV_LOG_WARNING, "cannot open \"%s\": it is a folder", host.c_str());
    return nullptr;
  }
  return new (std::nothrow) HostFile(f);
}

}  // namespace klv::kernel
