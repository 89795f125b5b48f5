// SPDX-License-Identifier: MIT
// Files for the suites: scratch folders removed at the end of the test,
// whole-file reading and writing, fixture paths and a small PNM reader for
// the samples a fixture was made from.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace klv::test {

// A fresh folder under the temporary folder (TMPDIR), removed with everything
// in it when the object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& tag = "scratch");
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder();

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // The path of `name` inside the folder.
  std::string path(const std::string& name) const { return (path_ / name).string(); }
  // Writes `text` to `name` inside the folder and gives its path.
  std::string write(const std::string& name, const std::string& text) const;
  // Entries directly inside the folder.
  size_t entries() const;

 private:
  std::filesystem::path path_;
};

// A file under tests/data/<folder>.
std::string fixture(const std::string& folder, const std::string& name);

// The whole file; empty when it cannot be read.
std::vector<uint8_t> read_file(const std::string& path);
std::string read_text(const std::string& path);
// Replaces the file (making its folder first); false when it cannot be written.
bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);
bool write_text(const std::string& path, const std::string& text);

// A binary PPM/PGM (P6 or P5, maxval below 256); empty on failure.
struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> pixels;
};
Pnm read_pnm(const std::string& path);

// A PDF made from PostScript `ps_text` by the interpreter's own PDF writer
// ("gs" with -sDEVICE=pdfwrite), as `name`.pdf in `dir`; empty when it
// cannot be made (the PostScript is kept as `name`.ps).
std::string make_pdf(const ScratchFolder& dir, const std::string& ps_text, const std::string& name);

}  // namespace klv::test
