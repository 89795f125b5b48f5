// SPDX-License-Identifier: MIT
// File helpers shared by the job settings, `Default_Config` and preset
// files.
#pragma once

#include <cstdint>
#include <string>

#include "klv/job_settings.h"

namespace klv::job {

// Opens a settings file or member for reading; when it begins with "ESET"
// the rest is deciphered. Null when it cannot be opened (not logged).
SFilemux* open_settings_stream(SOVolume* volume, const char* path);
// Reads a `Settings` record from the stream and closes it; `name` is for
// log lines.
int32_t read_settings_stream(SFilemux* stream, const char* name, settings* record);
// The bytes of a stored record: the text, or "ESET" and the enciphered text
// when UnmodifiableFlag is set. Throws std::bad_alloc.
std::string settings_bytes(const settings& s);
// Writes a whole file or member through a temporary name; 1 on success.
int32_t save_bytes(SOVolume* volume, const char* path, const std::string& bytes);
bool is_folder(const char* path);

}  // namespace klv::job
