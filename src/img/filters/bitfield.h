// SPDX-License-Identifier: MIT
// Row re-layout between pixel-interleaved and line-interleaved rows. The
// exported PxvToLnv / LnvToPxv pick a mover once per call from the sample
// width and plane count (whole bytes, 16-bit words, four 1-bit planes by
// table, bit fields otherwise); the plain movers beside them handle every
// shape sample by sample and are what the tests hold the fast ones to.
#pragma once

#include <cstdint>

namespace klv::img {

using RelayFn = void (*)(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                         uint32_t width, uint32_t bits);

RelayFn pick_pxv_to_lnv(uint32_t planes, uint32_t bits);
RelayFn pick_lnv_to_pxv(uint32_t planes, uint32_t bits);
// True when the picked movers write every byte of their destination rows
// (whole bytes and words), so that the destination need not be cleared.
bool relay_fills(uint32_t planes, uint32_t bits);
// Names of the picked movers, for tests ("bytes4", "bits1x4", "fields", ...).
const char* pxv_to_lnv_name(uint32_t planes, uint32_t bits);
const char* lnv_to_pxv_name(uint32_t planes, uint32_t bits);

void pxv_to_lnv_plain(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t width, uint32_t bits);
void lnv_to_pxv_plain(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t width, uint32_t bits);

}  // namespace klv::img
