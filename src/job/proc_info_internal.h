// SPDX-License-Identifier: MIT
// The processing record's text form, shared by its reader and writer.
#pragma once

#include <string>

#include "klv/proc_info.h"

namespace klv::job {

// The whole `Proc_Info { ... }` block of a record.
std::string proc_info_block(const proc_info& r);

}  // namespace klv::job
