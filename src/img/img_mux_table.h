// SPDX-License-Identifier: MIT
// The table of image types behind img_mux_open: one row per type code with
// the probe that recognises the type's files by their first bytes and the
// operations of its reader or writer. A type whose reader is not built keeps
// its row with no opener and refuses every file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "klv/img.h"
#include "klv/kernel_types.h"

namespace klv::img {

// Bytes read from the head of a file for the probes.
inline constexpr size_t kProbeBytes = 16;

using OpenFn = void* (*)(const char* path, SOVolume* volume, const char* mode, image_info* info);
// An opener that builds and fills its own IMG_file.
using OpenImgFn = IMG_file* (*)(const char* path, SOVolume* volume, const char* mode,
                                image_info* info);
// True when the first bytes of a file (n of them, fewer for short files) can
// belong to the type.
using ProbeFn = bool (*)(const uint8_t* head, size_t n);
// Lends the next lines of a stream in place (see img_lend_lines): the lines
// lent, 0 when it cannot lend here, -1 on failure.
using LendFn = int32_t (*)(void* handle, const uint8_t** lines, int32_t count);

struct MuxType {
  int32_t code = 0;
  const char* name = "";
  ProbeFn probe = nullptr;       // null: no quick test, the opener decides
  OpenFn open = nullptr;         // null together with open_img: not built, refuses
  OpenImgFn open_img = nullptr;  // returns its own handle
  img_close_fn close = nullptr;
  img_read_fn read_line = nullptr;
  img_write_fn write_line = nullptr;
  img_seek_fn seek_line = nullptr;
  img_cmap_fn get_cmap = nullptr;
  img_profile_fn get_profile = nullptr;
  img_read_fn read_tile = nullptr;  // for descriptions with the tiled layout
  img_write_fn write_tile = nullptr;
  img_seek_fn seek_tile = nullptr;
  LendFn lend_lines = nullptr;  // null: the reader always copies
};

// The row of a type code, or null for codes the library does not know.
const MuxType* find_mux_type(int32_t code);
// Every row, in code order.
std::span<const MuxType> mux_types();
// The codes that type 0, 1 and 5 try, in order.
std::span<const int32_t> recognition_order(int32_t type);
// How an open stream lends lines: the lend operation of its type's row when
// the stream is that row's reader, the line filter's for a line filter (which
// carries the type of the stream below it); null for every other stream.
LendFn lend_operation(const IMG_file* img);

}  // namespace klv::img

namespace klv::img {
// Bytes of one tile of a tiled description: the stream's own count when it
// gives one, else tile width x height at the layout's pixel size; 0 when the
// description has no tile grid.
size_t tile_bytes(const image_info& info);
}  // namespace klv::img
