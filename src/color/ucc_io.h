// SPDX-License-Identifier: MIT
// Chunk bodies of the saved chain forms (ucc_records_io.cpp).
#pragma once

#include "ucc_bytes.h"
#include "ucc_internal.h"

namespace klv::ucc {

void write_record(ByteWriter& w, const TypeInfo& t, const void* data);
// Fills a record made by make_record from a chunk body; false when the body
// is damaged (the caller frees the record).
bool read_record(ByteReader& in, const TypeInfo& t, void* data);

}  // namespace klv::ucc
