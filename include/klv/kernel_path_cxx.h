// SPDX-License-Identifier: MIT
// The C++ side of the path helpers: host paths and the folders of a search
// path. The C functions are in klv/kernel_path.h.
#ifndef KLV_KERNEL_PATH_CXX_H
#define KLV_KERNEL_PATH_CXX_H

#include <string>
#include <vector>

#include "klv/export.h"
#include "klv/kernel_path.h"

namespace klv::kernel {

// Maps a host path to the file system: '\' becomes '/'. An empty or null path
// gives an empty string.
KLV_API std::string host_path(const char* path);

// The folders of a search path in the order they are tried: `which` as for
// _findinpath_ex. Empty folders are left out.
KLV_API std::vector<std::string> search_folders(const char* which);

}  // namespace klv::kernel

#endif
