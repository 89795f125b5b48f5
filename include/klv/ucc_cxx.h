// SPDX-License-Identifier: MIT
// The transform objects of colour chain nodes. A transform binds to its
// node's data once (building its working tables) and then converts runs of
// pixels in place: one virtual call per node and run, never per pixel.
#ifndef KLV_UCC_CXX_H
#define KLV_UCC_CXX_H

#include "klv/ucc.h"

// A run of pixels as a chain carries them: 16-bit values, `stride` values a
// pixel (UCC_MAX_CHANNELS), the first `channels` of them in use. The format
// word packs bits 0-7 total channels, bits 8-11 the model (0x100 ink held
// inverted, 0 additive, 0x400 Lab), bits 12-14 the sub-mode, bits 16-23 the
// spot count.
struct pixdef {
  uint32_t model;     // 0, 1 or 3
  uint32_t sub_mode;  // 0..7
  uint32_t channels;  // total
  uint32_t process;   // channels - spots
  uint16_t* values;   // count pixels of stride values
  uint32_t count;
  uint32_t stride;
  uint32_t stop;  // set by a transform: the chain ends after this node

  uint32_t format() const;
  void set_format(uint32_t format);
  uint16_t* pixel(uint32_t i) const { return values + static_cast<size_t>(i) * stride; }
};

// What a transform is told besides its pixels.
struct ucc_apply_context {
  ucc_info* info;
  uint32_t flags;            // request flags
  uint32_t entry_process;    // process channels of the colour entering the chain
  uint32_t expected;         // channels the caller wants out (0 any)
  uint32_t special_channel;  // counted from 1, 0 none
};

class KLV_API IUccXform {
 public:
  virtual ~IUccXform();
  // Keeps what it needs of the node's data; false when there is nothing usable.
  virtual bool bind(t_ucc_node* node) = 0;
  // Converts the run in place (and may change its format).
  virtual void apply(pixdef* pixels, const ucc_apply_context* context) = 0;
};

// The transform of a node type (null for types without one).
KLV_API IUccXform* ucc_make_xform(int32_t type);

#endif
