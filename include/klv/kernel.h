/* SPDX-License-Identifier: MIT */
/* The kernel services: file streams, volumes, host file helpers, settings
 * text, string lists, the shared block cache, compression and enciphering
 * layers, memory streams, numbers and checksums. */
#ifndef KLV_KERNEL_H
#define KLV_KERNEL_H

#include "klv/kernel_types.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_settings.h"
#include "klv/registry.h"
#include "klv/kernel_path.h"
#include "klv/kernel_memres.h"
#include "klv/kernel_layers.h"
#include "klv/kernel_util.h"

#endif
