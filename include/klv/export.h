/* SPDX-License-Identifier: MIT */
/* Export marker for the public interface of libklv. Everything else in the
 * library is hidden (built with -fvisibility=hidden). */
#ifndef KLV_EXPORT_H
#define KLV_EXPORT_H

#define KLV_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define KLV_BEGIN_C extern "C" {
#define KLV_END_C }
#else
#define KLV_BEGIN_C
#define KLV_END_C
#endif

#endif
