// SPDX-License-Identifier: MIT
// CRC-32C (the Castagnoli polynomial) in three implementations: folding with
// 512-bit carry-less multiplication (VPCLMULQDQ), the processor's CRC32
// instruction (SSE4.2), and a table-driven one for processors with neither.
// All give the same values; Ocrc32c (kernel_util.h) picks one at start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace klv::kernel {

// Both continue `crc`, a value returned earlier (0 to start), over `length`
// bytes, like zlib's crc32: crc32c(crc32c(0, a), b) is the CRC of a then b.
uint32_t crc32c_table(uint32_t crc, const void* data, size_t length);
// Only to be called when crc32c_hardware_available() is true.
uint32_t crc32c_hardware(uint32_t crc, const void* data, size_t length);
bool crc32c_hardware_available();
// Folding with 512-bit carry-less multiplication for the bulk, the CRC32
// instruction for the rest; only when crc32c_folding_available() is true.
uint32_t crc32c_folding(uint32_t crc, const void* data, size_t length);
bool crc32c_folding_available();

}  // namespace klv::kernel
