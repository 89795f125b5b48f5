// SPDX-License-Identifier: MIT
// Names of the server request protocol, shared by the client and the server:
// the folder with its separator, the request, answer and working names, and
// the owner tag that names a running server process.
#pragma once

#include <cstdint>
#include <string>

namespace klv::request {

// The folder with a trailing separator ('\' or '/' as the text already uses;
// '/' when it has none).
std::string with_separator(const std::string& folder);
// "<folder>Info" and "<folder>Info\Server.Info".
std::string info_folder(const std::string& folder);
std::string server_info_path(const std::string& folder);
// The base name of a request: the client name (separators and blanks made
// '_') and the id in lower-case hexadecimal.
std::string request_base(const std::string& client, uint32_t id);
// "<folder><base>.RQX", "<folder>Info\<base>.ANS", "<folder><base>.RQW".
std::string request_path(const std::string& folder, const std::string& base);
std::string answer_path(const std::string& folder, const std::string& base);
std::string work_path(const std::string& folder, const std::string& base);
// This process as "<pid>-<stamp in hexadecimal>".
std::string owner_tag();
// True when `tag` names a process that is still running.
bool owner_alive(const std::string& tag);
// "<folder><base>.<owner>.RUN": a request being run by a server.
std::string taken_path(const std::string& folder, const std::string& base,
                       const std::string& owner);
// The request's base from a taken name's file part ("" when it is not one),
// and the owner tag in `owner`.
std::string split_taken(const std::string& name, std::string* owner);
// True when a live server is running the request `base` now.
bool being_run(const std::string& folder, const std::string& base);
// Renames without replacing an existing file; false (errno set) on failure.
bool rename_no_replace(const std::string& from, const std::string& to);

}  // namespace klv::request
