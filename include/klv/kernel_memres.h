/* SPDX-License-Identifier: MIT */
/* The shared block cache: blocks (ICC profiles and the like) loaded once and
 * shared by every user in the process, named by a text key.
 *
 * A user checks a block out and checks it in when done:
 *
 *   void* slot;
 *   void* block = Memres_Checkout(key, release, &slot);
 *   if (!block && slot) {                  // not cached: this caller loads it
 *     block = load(...);
 *     if (block) Memres_SetCheckout(&slot, block);   // cached with one use
 *     else Memres_UndoCheckout(&slot);
 *   }
 *   ...
 *   Memres_Checkin(block);
 *
 * While one thread is loading a key, other threads that check out the same
 * key wait until it is filed (they then share it) or undone (one of them then
 * gets the slot and loads). A thread that checks out a key it is loading
 * itself does not wait: it gets null and no slot. A loader should not check
 * out other keys while it holds a reservation: two loaders that each wait for
 * the other's key would wait for ever.
 *
 * Blocks nobody uses are kept for later checkouts, the least recently used
 * first to go, while the cache holds more than its budget of bytes (sizes as
 * given to Memres_SetCheckoutSized; Memres_SetCheckout counts 0 bytes) or
 * more than 256 unused blocks. A block leaves the cache through its release
 * function, called without any cache lock held. All functions are
 * thread-safe. */
#ifndef KLV_KERNEL_MEMRES_H
#define KLV_KERNEL_MEMRES_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"

KLV_BEGIN_C

/* Releases a block that leaves the cache (free_image_profile has this form
 * once its argument is taken as void*). The result is ignored. */
typedef int32_t (*Memres_Release)(void* block);

/* The default budget of the cache in bytes (64 MiB). */
#define MEMRES_DEFAULT_BUDGET ((size_t)64 << 20)

/* A cached block of `key`: returned with its use count raised; *slot = null.
 * Not cached: returns null and reserves the key in *slot for the caller, who
 * must end the reservation with Memres_SetCheckout or Memres_UndoCheckout.
 * Null with *slot null: the key, release function or slot is null, or the
 * calling thread is itself loading the key. `release` is remembered with the
 * block filed under the reservation. */
KLV_API void* Memres_Checkout(const char* key, Memres_Release release, void** slot);
/* Files `block` under the reservation in *slot with one use and returns it;
 * *slot becomes null. Null (and the reservation ended) when the slot is not a
 * reservation or the block is already in the cache under another key; the
 * block then stays the caller's. */
KLV_API void* Memres_SetCheckout(void** slot, void* block);
/* The same with the block's size in bytes, which counts against the budget. */
KLV_API void* Memres_SetCheckoutSized(void** slot, void* block, size_t size);
/* Ends a reservation without a block; *slot becomes null. */
KLV_API void Memres_UndoCheckout(void** slot);
/* Gives one use back. 0, or -1 when the block is not in the cache (logged). */
KLV_API int32_t Memres_Checkin(void* block);
/* Releases every block that nobody uses. */
KLV_API void Memres_Flush(void);
/* Sets the budget in bytes (0 keeps no unused block) and trims the cache to
 * it; returns the previous budget. */
KLV_API size_t Memres_SetBudget(size_t bytes);
/* Blocks in the cache, used or not (for diagnostics and tests). */
KLV_API int32_t Memres_Count(void);

KLV_END_C

#endif
