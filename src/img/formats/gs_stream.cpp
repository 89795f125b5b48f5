// SPDX-License-Identifier: MIT
// PDF, PostScript and EPS documents as image streams rendered page by page by
// an interpreter child process: opening (kind, description, size), the page
// render and its readiness, line reading with the page fitted to the stream's
// size, seeking, and closing.
#include "klv/gsimg.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "img/formats/gs_child.h"
#include "img/formats/gs_describe.h"
#include "img/formats/gs_psd.h"
#include "klv/image_limits.h"
#include "klv/imgmux.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

namespace klv::img {
namespace {

constexpr double kDefaultResolution = 72.0;
constexpr double kMaxResolution = 100000.0;
constexpr int32_t kBuiltInTimeLimitMs = 120000;
constexpr size_t kHeadBytes = size_t{64} << 10;  // structuring comments looked at
constexpr size_t kTailBytes = size_t{16} << 10;  // trailer comments ("(atend)")
constexpr size_t kPipeBuffer = size_t{256} << 10;

std::atomic<int32_t> g_default_time_limit{kBuiltInTimeLimitMs};

// The page report of a PDF: one "KlvPage:" line per page with the media box
// and the rotation (the renderer turns the page by it). Run alone it ends the
// run; before a page's render it ends with a "KlvEnd" line, and the page
// follows on the same output.
#define KLV_PAGE_REPORT                                                              \
  "/klvpage { pdfgetpage dup /MediaBox pget not { [0 0 612 792] } if "               \
  "exch /Rotate pget not { 0 } if exch (KlvPage:) print { ( ) print =only } forall " \
  "( ) print = } bind def "                                                          \
  "KlvIn (r) file runpdfbegin 1 1 pdfpagecount { klvpage } for "
constexpr const char* kPageInfoProgram = KLV_PAGE_REPORT "quit";
constexpr const char* kReportBeforePage = KLV_PAGE_REPORT "runpdfend (KlvEnd) = flush";
constexpr std::string_view kReportEnd = "KlvEnd";
#undef KLV_PAGE_REPORT

enum class PageState { kRunning, kReady, kFailed };

struct GsStream {
  std::string name;        // the caller's path, for messages
  std::string file;        // the absolute host path the interpreter reads
  std::string own_folder;  // a copy of the document made for the interpreter, if any
  GsDescription doc;
  int32_t color = GSIMG_RGB;
  double xres = kDefaultResolution, yres = kDefaultResolution;
  std::chrono::milliseconds time_limit{kBuiltInTimeLimitMs};
  image_info info{};

  int32_t page = 0;  // page being delivered
  int32_t line = 0;  // next line delivered
  GsChild child;
  PageState state = PageState::kFailed;
  bool have_header = false;
  uint32_t src_width = 0, src_height = 0, src_channels = 0;
  uint32_t src_row = 0;         // rows of the page consumed from the pipe
  std::vector<uint8_t> buffer;  // bytes read from the pipe: [buffer_pos, buffer_len) unused
  size_t buffer_pos = 0, buffer_len = 0;
  std::vector<uint8_t> row;  // one page row as the interpreter wrote it
  // CMYK with spot separations: the page is a planar file in the child's
  // folder, mapped once the child has finished it.
  bool separated = false;
  const uint8_t* map = nullptr;
  size_t map_len = 0;
  GsPsd psd;

  void unmap() {
    if (map) ::munmap(const_cast<uint8_t*>(map), map_len);
    map = nullptr;
    map_len = 0;
  }
  ~GsStream() {
    unmap();
    child.stop();
    if (!own_folder.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(own_folder, ec);
    }
  }
};

// --- Opening -------------------------------------------------------------

// Up to `n` bytes of the file from `offset` (a negative offset counts from the end).
std::string read_bytes(const std::string& path, SOVolume* volume, int64_t offset, size_t n,
                       int64_t* length) {
  std::string out;
  SFilemux* s = Ovfopen(volume, path.c_str(), "rb");
  if (!s) return out;
  *length = Ofileleni64(s);
  if (offset < 0) offset = std::max<int64_t>(0, *length + offset);
  out.resize(n);
  size_t got = 0;
  if (Oseeki64(s, offset, 0) == 0 || offset == 0) got = Oread(s, out.data(), n);
  out.resize(got);
  Oclose(s);
  return out;
}

// Copies `length` bytes from `offset` of the file into a private folder and
// makes that copy the file the interpreter reads (documents inside volumes,
// the PostScript section of a DOS EPS file).
bool extract(GsStream* s, SOVolume* volume, const std::string& path, uint64_t offset,
             uint64_t length) {
  const char* base = std::getenv("TMPDIR");
  std::string folder = std::string(base && *base ? base : "/tmp") + "/klvgsdoc-XXXXXX";
  if (!::mkdtemp(folder.data())) return false;
  s->own_folder = folder;
  s->file = folder + "/document";
  SFilemux* in = Ovfopen(volume, path.c_str(), "rb");
  FILE* out = std::fopen(s->file.c_str(), "wb");
  bool ok = in && out && (offset == 0 || Oseeki64(in, int64_t(offset), 0) == 0);
  std::vector<char> chunk(size_t{1} << 16);
  while (ok && length > 0) {
    const size_t want = size_t(std::min<uint64_t>(length, chunk.size()));
    const size_t got = Oread(in, chunk.data(), want);
    ok = got > 0 && std::fwrite(chunk.data(), 1, got, out) == got;
    length -= got;
    if (got < want) break;
  }
  if (in) Oclose(in);
  if (out) ok = std::fclose(out) == 0 && ok;
  return ok;
}

bool locate_file(GsStream* s, SOVolume* volume, const std::string& path, GsKind kind,
                 const std::string& head, int64_t length) {
  if (kind == GsKind::kEps && head.size() >= 4 && uint8_t(head[0]) == 0xC5) {
    GsDosEps dos;
    if (!gs_parse_dos_eps(reinterpret_cast<const uint8_t*>(head.data()), head.size(),
                          uint64_t(length), &dos)) {
      KLV_LOG(KLV_LOG_ERROR, "open \"%s\": the DOS EPS header is damaged", path.c_str());
      return false;
    }
    return extract(s, volume, path, dos.ps_offset, dos.ps_length);
  }
  const bool host = !volume || volume == reinterpret_cast<SOVolume*>(~uintptr_t(0));
  if (!host) return extract(s, volume, path, 0, uint64_t(length));
  std::error_code ec;
  s->file = std::filesystem::absolute(path, ec).string();
  return !ec;
}

// The pages of a PDF document from the page-information run.
bool describe_pdf(GsStream* s) {
  const std::vector<std::string> args{"-q",
                                      "-dNODISPLAY",
                                      "-dSAFER",
                                      "-dBATCH",
                                      "-dNOPAUSE",
                                      "--permit-file-read=" + s->file,
                                      "-sKlvIn=" + s->file,
                                      "-c",
                                      kPageInfoProgram};
  std::string error;
  if (!s->child.start(args, s->time_limit, &error)) {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": %s", s->name.c_str(), error.c_str());
    return false;
  }
  std::string report;
  uint8_t chunk[4096];
  ptrdiff_t got = 0;
  while ((got = s->child.read(chunk, sizeof chunk)) > 0 && report.size() < (size_t{32} << 20))
    report.append(reinterpret_cast<const char*>(chunk), size_t(got));
  const bool timed_out = got < 0 && s->child.timed_out();
  const std::string messages = s->child.messages_tail();
  const int status = got < 0 ? -1 : s->child.finish();
  s->child.stop();
  const char* why = "";
  if (timed_out) {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": reading the page information took longer than %lld ms",
            s->name.c_str(), static_cast<long long>(s->time_limit.count()));
    return false;
  }
  if (status != 0 || !gs_parse_page_report(report, &s->doc, &why)) {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": the PDF cannot be read (%s%s%s)", s->name.c_str(),
            status != 0 ? "the interpreter failed" : why, messages.empty() ? "" : ": ",
            messages.c_str());
    return false;
  }
  return true;
}

bool describe(GsStream* s, SOVolume* volume, const std::string& path, GsKind kind,
              const std::string& head, int64_t length) {
  if (kind == GsKind::kPdf) return describe_pdf(s);
  std::string text = head;
  std::string tail;
  if (!s->own_folder.empty() || length > int64_t(head.size())) {
    // The PostScript proper: the extracted copy (DOS EPS) or the file itself.
    int64_t n = 0;
    const std::string& source = s->own_folder.empty() ? path : s->file;
    SOVolume* from = s->own_folder.empty() ? volume : nullptr;
    text = read_bytes(source, from, 0, kHeadBytes, &n);
    if (n > int64_t(kHeadBytes))
      tail = read_bytes(source, from, -int64_t(kTailBytes), kTailBytes, &n);
  }
  const char* why = "";
  if (!gs_parse_dsc(text, tail, kind, &s->doc, &why)) {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": %s", s->name.c_str(), why);
    return false;
  }
  return true;
}

int32_t pixels(double points, double resolution) {
  return int32_t(points * resolution / 72.0 + 0.5);
}

// Resolution and colour form from the options and the requested description.
void choose_form(GsStream* s, const image_info* want, const gsimg_options& o) {
  const bool spots = want && want->spot_samples > 0 && want->samples == 4 + want->spot_samples;
  s->color = o.color ? o.color
             : spots ? GSIMG_CMYK_SPOTS
                     : (want && want->samples == 1   ? GSIMG_GRAY
                        : want && want->samples == 4 ? GSIMG_CMYK
                                                     : GSIMG_RGB);
  if (s->color != GSIMG_GRAY && s->color != GSIMG_CMYK && s->color != GSIMG_CMYK_SPOTS)
    s->color = GSIMG_RGB;
  s->separated = s->color == GSIMG_CMYK_SPOTS;
  double xres = o.xres, yres = o.yres;
  if (xres <= 0 && want) xres = want->xres, yres = want->yres;
  if (xres <= 0 && want && (want->width > 0 || want->height > 0) && !s->doc.pages.empty()) {
    const GsPage& first = s->doc.pages[0];
    const double fx = want->width > 0 ? want->width * 72.0 / first.width_pt : 1e300;
    const double fy = want->height > 0 ? want->height * 72.0 / first.height_pt : 1e300;
    xres = std::min(fx, fy);
  }
  if (!(xres > 0) || xres > kMaxResolution) xres = kDefaultResolution;
  if (!(yres > 0) || yres > kMaxResolution) yres = xres;
  s->xres = xres;
  s->yres = yres;
}

bool fill_info(GsStream* s) {
  int64_t width = 0, height = 0;
  for (const GsPage& p : s->doc.pages) {
    width = std::max<int64_t>(width, pixels(p.width_pt, s->xres));
    height = std::max<int64_t>(height, pixels(p.height_pt, s->yres));
  }
  if (width < 1 || height < 1 || width > INT32_MAX / 4 || height > INT32_MAX) {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": the page is empty or too large at %g x %g ppi",
            s->name.c_str(), s->xres, s->yres);
    return false;
  }
  if (!klv_image_limits_check("PDF/PostScript", s->name.c_str(), uint64_t(width), uint64_t(height),
                              0))
    return false;
  image_info& i = s->info;
  init_image_info(&i);
  i.width = int32_t(width);
  i.height = int32_t(height);
  i.xres = s->xres;
  i.yres = s->yres;
  i.width_inches = double(width) / s->xres;
  i.height_inches = double(height) / s->yres;
  i.pages = uint32_t(s->doc.pages.size());
  i.planar = KLV_PLANAR_PIXEL;
  i.bits_per_sample = 8;
  i.samples = s->separated ? 4 : uint32_t(s->color);
  i.photometric = i.samples == 4 ? KLV_PHOTO_MINWHITE : KLV_PHOTO_MINBLACK;
  i.bytes_per_line = image_info_line_bytes(&i);
  return true;
}

// --- Rendering -----------------------------------------------------------

const char* device(int32_t color) {
  return color == GSIMG_GRAY         ? "pgmraw"
         : color == GSIMG_CMYK       ? "pamcmyk32"
         : color == GSIMG_CMYK_SPOTS ? "psdcmyk"
                                     : "ppmraw";
}

constexpr const char* kSeparatedPage = "page.psd";

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

void fail(GsStream* s, const char* what) {
  if (s->state == PageState::kFailed) return;
  const std::string messages = s->child.messages_tail();
  KLV_LOG(KLV_LOG_ERROR, "render page %d of \"%s\": %s%s%s", s->page + 1, s->name.c_str(), what,
          messages.empty() ? "" : ": ", messages.c_str());
  s->state = PageState::kFailed;
  s->unmap();
  s->child.stop();
}

// Starts the page's render; `report` puts the PDF page report before it.
bool start_page(GsStream* s, int32_t page, bool report = false) {
  s->unmap();
  s->child.stop();
  s->page = page;
  s->line = 0;
  s->src_row = 0;
  s->have_header = false;
  s->buffer_pos = s->buffer_len = 0;
  std::vector<std::string> args{"-q",
                                "-dSAFER",
                                "-dBATCH",
                                "-dNOPAUSE",
                                std::string("-sDEVICE=") + device(s->color),
                                "-r" + number(s->xres) + "x" + number(s->yres),
                                "-dFirstPage=" + std::to_string(page + 1),
                                "-dLastPage=" + std::to_string(page + 1)};
  if (s->doc.kind == GsKind::kEps) args.push_back("-dEPSCrop");
  if (s->doc.kind == GsKind::kPostScript) {
    // The stated page size in place of the host's default paper; a document
    // that sets its own size still does.
    const GsPage& p = s->doc.pages[size_t(page)];
    args.push_back("-dDEVICEWIDTHPOINTS=" + number(p.width_pt));
    args.push_back("-dDEVICEHEIGHTPOINTS=" + number(p.height_pt));
  }
  // Text a PostScript document writes goes to the messages, not into the
  // page. A PDF writes none, so its report can share the page's output.
  if (!report) args.push_back("-sstdout=%stderr");
  std::string error;
  s->state = PageState::kRunning;
  const bool prepared = s->child.prepare(&error);
  const std::string output = s->separated ? s->child.folder() + "/" + kSeparatedPage : "-";
  args.push_back("-sOutputFile=" + output);
  if (report)
    args.insert(args.end(),
                {"--permit-file-read=" + s->file, "-sKlvIn=" + s->file, "-c", kReportBeforePage});
  args.insert(args.end(), {"-f", s->file});
  if (!prepared || !s->child.start(args, s->time_limit, &error)) {
    KLV_LOG(KLV_LOG_ERROR, "render page %d of \"%s\": %s", page + 1, s->name.c_str(),
            error.c_str());
    s->state = PageState::kFailed;
    return false;
  }
  return true;
}

// Makes at least one unused byte available; false at the end of the output,
// on a read failure or when the time limit passed.
bool fill_buffer(GsStream* s) {
  if (s->buffer_pos < s->buffer_len) return true;
  if (s->buffer.size() != kPipeBuffer) s->buffer.resize(kPipeBuffer);
  s->buffer_pos = s->buffer_len = 0;
  const ptrdiff_t got = s->child.read(s->buffer.data(), s->buffer.size());
  if (got <= 0) return false;
  s->buffer_len = size_t(got);
  // Once the page is rendered the limit bounds each wait for the next rows,
  // not the caller's pace in reading them.
  if (s->have_header) s->child.restart_clock();
  return true;
}

int next_byte(GsStream* s) {
  if (!fill_buffer(s)) return -1;
  return s->buffer[s->buffer_pos++];
}

// A decimal number of the header after white space and comments.
bool header_number(GsStream* s, uint32_t* out) {
  int c = next_byte(s);
  while (c == '#' || (c >= 0 && std::strchr(" \t\r\n", c))) {
    if (c == '#')
      while (c >= 0 && c != '\n') c = next_byte(s);
    c = next_byte(s);
  }
  uint64_t v = 0;
  int digits = 0;
  for (; c >= '0' && c <= '9' && digits < 10; c = next_byte(s), ++digits) v = v * 10 + (c - '0');
  *out = uint32_t(std::min<uint64_t>(v, UINT32_MAX));
  return digits > 0 && c >= 0 && std::strchr(" \t\r\n", c);  // one white space ends the header
}

// The header of a P7 (PAM) image: its lines up to "ENDHDR".
bool pam_header(GsStream* s) {
  std::string line;
  uint32_t depth = 0, maxval = 0;
  for (int lines = 0; lines < 64;) {
    const int c = next_byte(s);
    if (c < 0) return false;
    if (c != '\n') {
      if (line.size() < 256) line.push_back(char(c));
      continue;
    }
    ++lines;
    unsigned v = 0;
    if (std::sscanf(line.c_str(), "WIDTH %u", &v) == 1) s->src_width = v;
    if (std::sscanf(line.c_str(), "HEIGHT %u", &v) == 1) s->src_height = v;
    if (std::sscanf(line.c_str(), "DEPTH %u", &v) == 1) depth = v;
    if (std::sscanf(line.c_str(), "MAXVAL %u", &v) == 1) maxval = v;
    if (line == "ENDHDR") return depth == 4 && maxval == 255;
    line.clear();
  }
  return false;
}

// Reads the image header the interpreter writes before the page's rows.
bool read_header(GsStream* s) {
  const int p = next_byte(s), form = next_byte(s);
  bool ok = false;
  if (p == 'P' && form == '7' && s->color == GSIMG_CMYK) {
    s->src_channels = 4;
    ok = pam_header(s);
  } else if (p == 'P' &&
             ((form == '5' && s->color == GSIMG_GRAY) || (form == '6' && s->color == GSIMG_RGB))) {
    s->src_channels = form == '5' ? 1 : 3;
    uint32_t maxval = 0;
    ok = header_number(s, &s->src_width) && header_number(s, &s->src_height) &&
         header_number(s, &maxval) && maxval == 255;
  }
  if (!ok || s->src_width == 0 || s->src_height == 0 || s->src_width > (1u << 28)) {
    fail(s, s->child.timed_out() ? "the interpreter ran past the time limit"
            : p < 0              ? "the interpreter produced no page"
                                 : "the interpreter's output is not the expected image");
    return false;
  }
  s->row.assign(size_t(s->src_width) * s->src_channels, 0);
  s->have_header = true;
  s->state = PageState::kReady;
  return true;
}

// Maps the separated page the child has written.
bool map_separated(GsStream* s) {
  const std::string path = s->child.folder() + "/" + kSeparatedPage;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > 0;
  if (ok) {
    void* m = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ok = m != MAP_FAILED;
    if (ok) s->map = static_cast<const uint8_t*>(m), s->map_len = size_t(st.st_size);
  }
  if (fd >= 0) ::close(fd);
  const char* why = "the interpreter produced no page";
  if (!ok || !gs_parse_psd(s->map, s->map_len, &s->psd, &why)) {
    fail(s, why);
    return false;
  }
  s->src_width = s->psd.width;
  s->src_height = s->psd.height;
  s->have_header = true;
  s->state = PageState::kReady;
  return true;
}

// The separated page is ready when its child has ended and left the file.
PageState poll_separated(GsStream* s, bool wait) {
  if (s->state != PageState::kRunning) return s->state;
  const int status = wait ? s->child.finish() : s->child.poll_exit();
  if (status == GsChild::kRunning) return s->state;
  if (status != 0)
    fail(s, s->child.timed_out() ? "the interpreter ran past the time limit"
                                 : "the interpreter stopped without a page");
  else
    map_separated(s);
  return s->state;
}

// Waits for the page's header when `wait`, else looks without waiting.
PageState poll_page(GsStream* s, bool wait) {
  if (s->separated) return poll_separated(s, wait);
  if (s->state == PageState::kRunning && !s->have_header &&
      (wait || s->buffer_pos < s->buffer_len || s->child.readable()))
    read_header(s);
  return s->state;
}

bool read_exact(GsStream* s, uint8_t* out, size_t n) {
  while (n > 0) {
    if (!fill_buffer(s)) return false;
    const size_t take = std::min(n, s->buffer_len - s->buffer_pos);
    std::memcpy(out, s->buffer.data() + s->buffer_pos, take);
    s->buffer_pos += take;
    out += take;
    n -= take;
  }
  return true;
}

// The next page row from the pipe into s->row.
bool next_source_row(GsStream* s) {
  if (!read_exact(s, s->row.data(), s->row.size())) {
    fail(s, s->child.timed_out() ? "the interpreter ran past the time limit"
                                 : "the interpreter's output ended early");
    return false;
  }
  ++s->src_row;
  return true;
}

// One line of a separated page: planes interleaved, inverted to ink amounts;
// separations the page lacks are 0, those beyond the stream's are left out.
void deliver_separated(GsStream* s, uint8_t* out) {
  const size_t samples = s->info.samples, width = uint32_t(s->info.width);
  std::memset(out, 0, s->info.bytes_per_line);
  if (uint32_t(s->line) >= s->psd.height) return;
  const size_t plane = size_t(s->psd.width) * s->psd.height;
  const size_t w = std::min<size_t>(width, s->psd.width);
  const size_t channels = std::min<size_t>(samples, s->psd.channels);
  for (size_t c = 0; c < channels; ++c) {
    const uint8_t* in = s->map + s->psd.data_offset + c * plane + size_t(s->line) * s->psd.width;
    for (size_t x = 0; x < w; ++x) out[x * samples + c] = uint8_t(255 - in[x]);
  }
}

// One line of the stream: the page row fitted to the stream's width, white
// beyond the page.
bool deliver_line(GsStream* s, uint8_t* out) {
  if (s->separated) {
    deliver_separated(s, out);
    return true;
  }
  const uint8_t white = s->color == GSIMG_CMYK ? 0 : 255;
  const size_t bytes = s->info.bytes_per_line;
  if (uint32_t(s->line) >= s->src_height) {
    std::memset(out, white, bytes);
    return true;
  }
  while (s->src_row <= uint32_t(s->line))
    if (!next_source_row(s)) return false;
  const size_t take = std::min(bytes, s->row.size());
  std::memcpy(out, s->row.data(), take);
  std::memset(out + take, white, bytes - take);
  return true;
}

// --- Operations ----------------------------------------------------------

int32_t gs_read_line(void* handle, uint8_t* buffer, int32_t count) {
  auto* s = static_cast<GsStream*>(handle);
  if (!s || !buffer || count < 1) return 0;
  if (poll_page(s, true) != PageState::kReady) return 0;
  int32_t done = 0;
  for (; done < count && s->line < s->info.height; ++done, ++s->line)
    if (!deliver_line(s, buffer + size_t(done) * s->info.bytes_per_line)) break;
  return done;
}

int32_t gs_seek_line(void* handle, int32_t line, int32_t plane, int32_t page, int32_t whence) {
  auto* s = static_cast<GsStream*>(handle);
  if (!s) return -1;
  const int64_t height = s->info.height;
  if (page < 0 || uint32_t(page) >= s->info.pages) return -1;
  const int32_t target_page = whence == 1 ? s->page : page;
  int64_t pos = int64_t(line) + height * plane;
  if (whence == 1) pos += s->line;
  if (whence == 2) pos += height - 1;
  if (pos < 0 || pos > height) return -1;  // one past the end is the end
  // Rows already taken from the pipe cannot be read again: start the page over.
  const bool restart =
      target_page != s->page || s->state == PageState::kFailed ||
      (s->have_header && pos < int64_t(s->src_row) && pos < int64_t(s->src_height));
  if (restart && !start_page(s, target_page)) return -1;
  s->line = int32_t(pos);
  return int32_t(pos % height);
}

int32_t gs_close(void* handle) {
  delete static_cast<GsStream*>(handle);
  return 0;
}

int32_t gs_status(IMG_file* img, int32_t what) {
  auto* s = static_cast<GsStream*>(img ? img->handle : nullptr);
  if (!s) return -1;
  switch (poll_page(s, what != 0)) {
    case PageState::kReady:
      return 1;
    case PageState::kRunning:
      return 0;
    default:
      return -1;
  }
}

// Reads the page report that comes before the page on the render's output.
bool read_report(GsStream* s) {
  std::string report, line;
  while (true) {
    const int c = next_byte(s);
    if (c < 0 || report.size() > (size_t{32} << 20)) break;
    if (c != '\n') {
      line.push_back(char(c));
      continue;
    }
    if (line == kReportEnd) {
      const char* why = "";
      if (gs_parse_page_report(report, &s->doc, &why)) return true;
      fail(s, why);
      return false;
    }
    report += line + "\n";
    line.clear();
  }
  fail(s, s->child.timed_out() ? "reading the page information ran past the time limit"
                               : "the PDF cannot be read");
  return false;
}

// A separated stream's channels are those of its first page, rendered now so
// that the description is whole before anything is read.
bool learn_separations(GsStream* s) {
  if (!s->separated) return true;
  if (poll_page(s, true) != PageState::kReady) return false;
  s->info.samples = s->psd.channels;
  s->info.spot_samples = s->psd.channels - 4;
  s->info.bytes_per_line = image_info_line_bytes(&s->info);
  return true;
}

bool page_exists(GsStream* s, int32_t page) {
  if (page >= 0 && size_t(page) < s->doc.pages.size()) return true;
  KLV_LOG(KLV_LOG_ERROR, "open \"%s\": there is no page %d", s->name.c_str(), page + 1);
  return false;
}

GsStream* open_stream(const char* path, SOVolume* volume, const image_info* want,
                      const gsimg_options& o) {
  int64_t length = 0;
  const std::string head = read_bytes(path, volume, 0, kHeadBytes, &length);
  const GsKind kind = gs_kind(reinterpret_cast<const uint8_t*>(head.data()), head.size());
  if (kind == GsKind::kNone) return nullptr;
  auto* s = new (std::nothrow) GsStream;
  if (!s) return nullptr;
  s->name = path;
  const int32_t limit = o.time_limit_ms > 0 ? o.time_limit_ms : g_default_time_limit.load();
  s->time_limit = std::chrono::milliseconds(limit);
  if (o.page < 0 || !locate_file(s, volume, path, kind, head, length)) {
    delete s;
    return nullptr;
  }
  // A PDF whose resolution does not hang on its page size is described by
  // the run that renders its page (one interpreter start, not two).
  const bool fit = want && want->xres <= 0 && o.xres <= 0 && (want->width > 0 || want->height > 0);
  if (kind == GsKind::kPdf && !fit) {
    s->doc.kind = kind;
    choose_form(s, want, o);
    if (start_page(s, o.page, true) && read_report(s) && page_exists(s, o.page) && fill_info(s) &&
        learn_separations(s))
      return s;
  } else if (describe(s, volume, path, kind, head, length) && page_exists(s, o.page)) {
    choose_form(s, want, o);
    if (fill_info(s) && start_page(s, o.page) && learn_separations(s)) return s;
  }
  delete s;
  return nullptr;
}

}  // namespace
}  // namespace klv::img

using namespace klv::img;

extern "C" {

KLV_API IMG_file* gsimg_open_ex(const char* path, SOVolume* volume, image_info* info,
                                const gsimg_options* options, int32_t type) {
  if (!path) return nullptr;
  try {
    const gsimg_options none{};
    GsStream* s = open_stream(path, volume, info, options ? *options : none);
    if (!s) return nullptr;
    auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
    if (!img) {
      delete s;
      return nullptr;
    }
    img->handle = s;
    img->type = type;
    img->mode = 'r';
    img->info = s->info;
    img->close = gs_close;
    img->status = gs_status;
    img->read_line = gs_read_line;
    img->seek_line = gs_seek_line;
    if (info) *info = img->info;
    return img;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": out of memory", path);
    return nullptr;
  }
}

KLV_API IMG_file* gsimg_open(const char* path, SOVolume* volume, const char* mode,
                             image_info* info) {
  if (!mode || mode[0] != 'r') {
    KLV_LOG(KLV_LOG_ERROR, "open \"%s\": PDF and PostScript files are read only", path ? path : "");
    return nullptr;
  }
  return gsimg_open_ex(path, volume, info, nullptr, KLV_TYPE_POSTSCRIPT);
}

KLV_API int32_t gsimg_set_default_time_limit(int32_t ms) {
  return g_default_time_limit.exchange(ms > 0 ? ms : kBuiltInTimeLimitMs);
}

KLV_API int32_t gsimg_child_pid(IMG_file* img) {
  if (!img || img->close != gs_close || !img->handle) return 0;
  return int32_t(static_cast<GsStream*>(img->handle)->child.pid());
}

KLV_API int32_t gsimg_probe(const uint8_t* head, size_t n) {
  return gs_kind(head, n) != GsKind::kNone ? 1 : 0;
}

}  // extern "C"
