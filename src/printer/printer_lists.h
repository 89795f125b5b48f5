// SPDX-License-Identifier: MIT
// Internal helpers of the printer client list, types list and links.
#pragma once

#include <string>

namespace klv::printer {

// The folder that holds the Printer_Client.info found on the search path
// ("" when there is none).
std::string data_folder();
// A relative folder taken relative to data_folder(); absolute folders, and
// every folder when there is no data folder, are returned as written.
std::string resolve_data_relative(const std::string& folder);
// The folder of a printer instance from the client list ("" when unknown).
std::string printer_folder(const std::string& name, std::string* user);
// The name up to its first "(".
std::string base_printer_name(const char* name);
// Appends a separator when the folder does not end in one.
std::string with_separator(std::string folder);

}  // namespace klv::printer
