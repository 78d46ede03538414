// The fields of an order item ready for dispatch, in packet order: the
// launch packet the host hands to the screen, the item table of the server
// and the packet the server takes back for the distribution all share them.
#pragma once

#include <vector>

#include "data/packet.h"

namespace dg::data {

struct ItemFieldSpec {
  const char* name;
  FieldType type;
  int size;  // characters, for strings
  bool fixed;
  bool calculated;  // computed on the client, never in a packet
  bool visible;     // shown by the item grid
  const char* label;
  const char* display_format;
  const char* edit_format;
  const char* edit_mask;
};

// Every item field, calculated ones included, in packet order.
const std::vector<ItemFieldSpec>& ItemFields();

// The stored item fields (no calculated ones), in packet order.
std::vector<FieldDef> ItemPacketFields();

}  // namespace dg::data
