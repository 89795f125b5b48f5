// SPDX-License-Identifier: MIT
// Helpers shared by the usage account files: media names, numbers in the
// account's text form and the account file beside a printer's repository.
#pragma once

#include <stdint.h>

#include <string>

namespace klv::usage {

// The media a name stands for: "*tag*Glossy" is "Glossy", "*Glossy" (no
// second '*') is "Glossy", other names are themselves. A name left
// beginning with '*' is stripped again ("**X", "***X" give "X").
std::string media_name(const char* name);

// A name as written between double quotes: a '"' cannot be written and
// becomes an apostrophe (logged).
std::string quotable(const std::string& name);

// A real number in the account's fixed form, 15 digits after the point
// ("%.15f" in the C locale).
std::string fixed15(double value);

// Strict readers for the account's numbers: the whole text must be the
// number. Amounts must be finite.
bool read_amount(const char* text, double* value);
bool read_count(const char* text, uint64_t* value);
bool read_number(const char* text, int32_t* value);

}  // namespace klv::usage
